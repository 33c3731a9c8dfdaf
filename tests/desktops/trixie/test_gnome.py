#!/usr/bin/python3
# GNOME 48 on Wayland as Debian 13 users meet it, with the app installed: with the AppIndicator extension,
# the item in the panel and GNOME's question about the shortcuts (cancelled, no key and a warning; added,
# Alt+1 beside the first channel and a real Alt+1 plays it); without the
# extension, no tray at all: one notification says how to get the icon, and the keys work meanwhile.
import waylandshells  # noqa: E402

waylandshells.run_as_desktop_user()

import kovratest  # noqa: E402
import procutil  # noqa: E402
from gnome import KEY_1, KEY_ESC, KEY_LEFTALT, KEY_PLAYPAUSE, GnomeShell  # noqa: E402
from kovratest import CHANNEL_NAMES  # noqa: E402


class Gnome48(kovratest.DesktopTest):  # the shell is the notification server

    def test_the_item_and_the_question_about_the_shortcuts_cancelled_and_then_added(self):
        s, desk = self.start_desktop(GnomeShell, installed=True)
        app, _ = self.start_app_in(desk, lambda: desk.indicator(lambda i: CHANNEL_NAMES[0] in i["labels"][0]),
                                   "GNOME Shell 48's panel")

        desk.answer_shortcuts_dialog("Cancel")
        desk.open_menu()
        menu = desk.wait_for_indicator(lambda i: "Slot 1: Kovra Velmora" in i["labels"], "slots by number")
        self.assertEqual(menu["labels"][:3], CHANNEL_NAMES, "no key beside the channels")
        # (GNOME 48 answers a cancelled question as it answers a failure.)
        self.assertEqual(app.log().count("kovra-radio: the desktop bound none of the global shortcuts"), 1, app.log())
        self.assertEqual(app.terminate(), 0, app.log())

        app = s.start_app(env=desk.app_env())
        desk.answer_shortcuts_dialog("Add")
        desk.open_menu()
        menu = desk.wait_for_indicator(lambda i: "Alt+1: Kovra Velmora" in i["labels"], "slots by their keys")
        self.assertEqual(menu["labels"][:3], [f"{c}\tAlt+{n}" for n, c in enumerate(CHANNEL_NAMES, 1)])
        desk.steady_screenshot()  # the menu has opened fully before Escape closes it
        desk.keys(KEY_ESC)  # the menu closes; the key goes to whatever is in front
        desk.keys(KEY_LEFTALT, KEY_1)
        s.audio.wait_for_channel("velmora", timeout=20)
        self.assertNotIn("kovra-radio:", app.log())
        self.assertEqual(app.terminate(), 0, app.log())

    def test_without_the_extension_one_notification_tells_how_to_get_the_icon_and_the_keys_work(self):
        s, desk = self.start_desktop(GnomeShell, installed=True, appindicator=False)
        app = s.start_app(env=desk.app_env())
        desk.answer_shortcuts_dialog("Add")
        desk.keys(KEY_LEFTALT, KEY_1)
        s.audio.wait_for_channel("velmora", timeout=20)
        desk.keys(KEY_PLAYPAUSE)
        s.audio.wait_for_silence()
        self.assertEqual(kovratest.mpris_state(s.bus())[0], "Paused")

        ours = lambda: [n for n in desk.notifications() if n[0] == "Kovra Radio is running"]  # noqa: E731
        procutil.wait_until(ours, 30, message="the notification")
        self.assertEqual(len(ours()), 1, desk.notifications())
        self.assertIn("AppIndicator", ours()[0][1])
        self.assertEqual(app.log().count("kovra-radio: no system tray"), 1, app.log())
        self.assertEqual(app.terminate(), 0, app.log())


if __name__ == "__main__":
    kovratest.main()
