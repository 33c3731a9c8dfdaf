#!/usr/bin/python3
# The tray in GNOME Shell 43 on Wayland: the AppIndicator extension shows the item in 16, 22 and 24 px
# slots, a channel picked from the extension's menu sounds and is named beside the icon, a middle click
# pauses and resumes it, and activating the icon (its double click) opens no window of ours.
import time

import waylandshells  # noqa: E402

waylandshells.run_as_desktop_user()

import kovratest  # noqa: E402
import procutil  # noqa: E402
from desktop import drawn_box  # noqa: E402
from gnome import INDICATOR, GnomeShell  # noqa: E402
from waylandshells import SLOT_SIZES  # noqa: E402

FILL = 0.8  # of the slot's height, at least: a readable icon


def pictured(desk, size):
    # A steady screenshot and the indicator, once the icon at this size has stopped moving: laid out
    # anew, its actor is as wide as its slot (the slot is centred in the panel's height).
    def attempt():
        before = desk.eval(INDICATOR)
        if not (before["drawn"] and before["icon"][2] == size):
            return None
        shot, after = desk.steady_screenshot(), desk.eval(INDICATOR)
        return after["icon"][:3:2] == before["icon"][:3:2] and (shot, after)
    return procutil.wait_until(attempt, 20, message=f"the icon at {size} px, still")


class GnomeShellTray(kovratest.SessionTest):
    session_options = {"tray": False}

    def test_appindicator_shows_the_item_plays_a_channel_from_its_menu_and_activation_opens_no_window(self):
        s = self.start_session()
        desk = GnomeShell(s)
        self.addCleanup(desk.stop)
        desk.start()

        started = time.monotonic()
        app = s.start_app(env=desk.app_env())
        procutil.wait_until(lambda: (desk.eval(INDICATOR) or {}).get("drawn"), 30,
                            message="the item in GNOME Shell's panel")
        print(f"start to tray item in GNOME Shell: {time.monotonic() - started:.2f} s", flush=True)

        for size in SLOT_SIZES:
            desk.eval("new imports.gi.Gio.Settings({schema_id: 'org.gnome.shell.extensions.appindicator'})"
                      f".set_int('icon-size', {size})")
            shot, indicator = pictured(desk, size)
            desk.save(shot, f"panel-{size}.png")
            # The slot with a little of the button's padding around it: the panel's own colour.
            x, w = indicator["icon"][:3:2]
            around = shot[:indicator["panel"], x - 4:x + w + 4]
            box = drawn_box(around, around[0, 0])
            with self.subTest(slot=size):
                self.assertIsNotNone(box, f"nothing drawn in the {size} px slot")
                print(f"GNOME Shell {size} px slot: drawing {box.width}x{box.height} px, "
                      f"fills {box.height / size:.2f} of the slot's height", flush=True)
                self.assertGreaterEqual(box.height / size, FILL, "the icon fills its slot's height")

        # A channel from the extension's own menu, clicked where the shell draws it.
        icon = indicator["icon"]
        x, y, w, h = icon
        desk.click(x + w // 2, y + h // 2)
        indicator = procutil.wait_until(lambda: (lambda i: i["open"] and i["entries"] and i)(desk.eval(INDICATOR)),
                                        10, message="the extension's menu")
        desk.save(desk.steady_screenshot(), "menu.png")
        self.assertEqual([e for e, _ in indicator["entries"][:3]], kovratest.CHANNEL_NAMES, indicator["entries"])
        x, y, w, h = indicator["entries"][1][1]
        desk.click(x + w // 2, y + h // 2)
        s.audio.wait_for_channel("tarvesi", timeout=20)
        # The channel's name beside the icon; a middle click pauses and resumes it.
        procutil.wait_until(lambda: desk.eval(INDICATOR)["label"] == "Kovra Tarvesi", 10, message="the label")
        x, y, w, h = icon
        for heard in (None, "tarvesi"):
            desk.click(x + w // 2, y + h // 2, button="middle")
            s.audio.wait_for_channel(heard, timeout=20) if heard else s.audio.wait_for_silence()
        windows = "global.get_window_actors().map(a => [a.meta_window.get_wm_class(), a.meta_window.get_title()])"
        self.assertEqual(desk.eval(windows), [], "the extension shows the menu itself, no window of ours")

        # A double click asks the app to activate; nothing of ours may become a window.
        x, y, w, h = icon
        desk.click(x + w // 2, y + h // 2, times=2)
        time.sleep(1.5)
        if desk.eval(windows):
            desk.save(desk.screenshot(), "activated.png")
        self.assertEqual(desk.eval(windows), [], "activating the icon opened a window")
        self.assertEqual(app.terminate(), 0, app.log())


if __name__ == "__main__":
    kovratest.main()
