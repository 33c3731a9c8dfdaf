#!/usr/bin/python3
# The global shortcuts of a Wayland session: the real xdg-desktop-portal frontend with a desktop
# backend of our own (tests/fixtures/portalbackend.py); and `kovra-radio --slot N`.

import kovratest  # noqa: E402
from kovratest import channel_entries, slot_labels  # noqa: E402
from portalbackend import Portal  # noqa: E402

WAYLAND = {"XDG_SESSION_TYPE": "wayland"}
IDS = [f"slot-{n}" for n in range(1, 6)]


def shortcuts(root):
    return {c["label"]: c["shortcut"] for c in channel_entries(root)}


class PortalShortcuts(kovratest.SharedSessionTest):

    def setUp(self):
        super().setUp()
        self.portal = Portal(self.session)
        self.addCleanup(self.portal.stop)

    def start(self, mode, held=None):
        self.portal.configure(mode, held)
        return self.start_app_with_menu(env=WAYLAND)

    def test_the_five_slots_are_bound_and_only_our_sessions_presses_count(self):
        # The user gave slot 1 other keys, which the desktop describes in a sentence, as GNOME does.
        _, item = self.start("accept", {"slot-1": "Press <Control><Alt>k"})
        asked = kovratest.procutil.wait_until(lambda: self.portal.calls("BindShortcuts"), 10, message="a bind")
        self.assertEqual(asked[0][1], [[i, f"ALT+{n}", f"Kovra Radio: play the channel of slot {n}"]
                                       for n, i in enumerate(IDS, 1)])
        app_id = "org.kovra.Radio" if self.portal.has_registry else ""
        self.assertEqual(self.portal.calls()[:2], [["CreateSession", app_id], ["ListShortcuts"]])
        root = self.session.tray.wait_for_layout(
            lambda r: shortcuts(r) == {"Kovra Velmora": [["Control", "Alt", "K"]], "Kovra Tarvesi": [["Alt", "2"]],
                                       "Kovra Nimo": [["Alt", "3"]]}, item=item, message="the bound shortcuts")
        self.assertEqual(slot_labels(root)[:2], ["Ctrl+Alt+K: Kovra Velmora", "Alt+2: Kovra Tarvesi"])

        self.portal.press("slot-2", self.portal.open_other_session())
        self.assert_nothing_happens(item)
        self.portal.press("slot-2")
        self.wait_until_playing("tarvesi", item)

    def test_a_desktop_holding_our_bindings_is_not_asked_again_even_after_a_portal_restart(self):
        app, item = self.start("accept", {i: f"Alt+{n}" for n, i in enumerate(IDS, 1)})
        self.session.tray.wait_for_layout(lambda r: shortcuts(r)["Kovra Nimo"] == [["Alt", "3"]], item=item)
        # Gone for long enough that the app's retry finds no portal at all.
        self.portal.restart(gap=2.5)
        kovratest.procutil.wait_until(lambda: len(self.portal.calls("ListShortcuts")) == 2, 15,
                                      message="a new session after the restart")
        self.assertEqual(self.portal.calls("BindShortcuts"), [])
        self.assertEqual(len(self.portal.calls("CreateSession")), 2, self.portal.calls())
        self.assertNotIn("kovra-radio:", app.log(), "a portal away for a while is no refusal to warn of")
        self.portal.press("slot-1")
        self.wait_until_playing("velmora", item)

    def test_what_a_cancelled_or_partial_bind_leaves_out_stays_unbound(self):
        app = None
        for n, (mode, bound, warning) in enumerate((
                ("partial", {"Kovra Velmora": [["Alt", "1"]], "Kovra Tarvesi": [["Alt", "2"]]},
                 "the desktop bound no key for slot 3, 4, 5"),
                ("cancel", {}, "the request for the global shortcuts was cancelled")), 1):
            with self.subTest(mode=mode):
                self.portal.configure(mode)
                app, item = self.restart_app(app, env=WAYLAND) if app else self.start_app_with_menu(env=WAYLAND)
                kovratest.procutil.wait_until(lambda: len(self.portal.calls("BindShortcuts")) == n, 10,
                                              message="a bind")
                want = {"Kovra Velmora": [], "Kovra Tarvesi": [], "Kovra Nimo": []} | bound
                root = self.session.tray.wait_for_layout(lambda r: shortcuts(r) == want, item=item,
                                                         message=str(want))
                self.assertEqual(slot_labels(root)[1:3], [("Alt+2" if bound else "Slot 2") + ": Kovra Tarvesi",
                                                          "Slot 3: Kovra Nimo"])
                # Said once, with what to do about it.
                self.assertEqual(app.log().count(f"kovra-radio: {warning}, so the global shortcuts"), 1, app.log())
                self.assertIn("kovra-radio --slot N", app.log())
                # A desktop that sends presses of what it did not bind is not obeyed.
                self.portal.press("slot-3")
                self.assert_nothing_happens(item)

    def test_a_portal_that_never_answers_freezes_nothing_and_slot_n_still_plays(self):
        s = self.session
        _, item = self.start("never")
        kovratest.procutil.wait_until(lambda: self.portal.calls("BindShortcuts"), 10, message="a bind")
        s.tray.click(["Kovra Nimo"], item=item)
        self.wait_until_playing("nimo", item)
        status = s.run(["playerctl", "--player=kovra_radio", "status"], check=True)
        self.assertEqual(status.stdout.strip(), "Playing")

        second = s.start_app(args=["--slot", "2"], env=WAYLAND)
        self.assertEqual(second.wait(15), 0, second.log())
        self.wait_until_playing("tarvesi", item)
        bad = s.start_app(args=["--slot", "6"], env=WAYLAND)
        self.assertEqual(bad.wait(15), 2, bad.log())


if __name__ == "__main__":
    kovratest.main()
