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
from gnome import GnomeShell  # noqa: E402
from waylandshells import SLOT_SIZES  # noqa: E402

def pictured(desk, size):
    # A steady screenshot and the indicator, once the icon at this size has stopped moving: laid out
    # anew, its actor is as wide as its slot (the slot is centred in the panel's height).
    def attempt():
        before = desk.indicator(lambda i: i["drawn"] and i["icon"][2] == size)
        if not before:
            return None
        shot, after = desk.steady_screenshot(), desk.indicator()
        return after["icon"][:3:2] == before["icon"][:3:2] and (shot, after)
    return procutil.wait_until(attempt, 20, message=f"the icon at {size} px, still")


class GnomeShellTray(kovratest.DesktopTest):
    session_options = {"tray": False}

    def test_appindicator_shows_the_item_plays_a_channel_from_its_menu_and_activation_opens_no_window(self):
        s, desk = self.start_desktop(GnomeShell)
        app, _ = self.start_app_in(desk, lambda: desk.indicator(lambda i: i["drawn"]), "GNOME Shell's panel")
        for size in SLOT_SIZES:
            desk.eval("new imports.gi.Gio.Settings({schema_id: 'org.gnome.shell.extensions.appindicator'})"
                      f".set_int('icon-size', {size})")
            shot, indicator = pictured(desk, size)
            # The slot with a little of the button's padding around it: the panel's own colour.
            x, w = indicator["icon"][:3:2]
            around = shot[:indicator["panel"], x - 4:x + w + 4]
            with self.subTest(slot=size):
                self.assert_fills_slot(drawn_box(around, around[0, 0]), size, "GNOME Shell")

        # A channel from the extension's own menu, clicked where the shell draws it.
        icon = indicator["icon"]
        indicator = desk.open_menu()
        desk.steady_screenshot()  # the menu has come to rest where its entries are clicked
        self.assertEqual(indicator["labels"][:3], kovratest.CHANNEL_NAMES, indicator["entries"])
        desk.click(indicator["entries"][1][1])
        s.audio.wait_for_channel("tarvesi", timeout=20)
        # The channel's name beside the icon; a middle click pauses and resumes it.
        desk.wait_for_indicator(lambda i: i["label"] == "Kovra Tarvesi", "the label")
        for heard in (None, "tarvesi"):
            desk.click(icon, button="middle")
            s.audio.wait_for_channel(heard, timeout=20) if heard else s.audio.wait_for_silence()
        self.assertEqual(desk.windows(), [], "the extension shows the menu itself, no window of ours")

        # A double click asks the app to activate; nothing of ours may become a window.
        desk.click(icon, times=2)
        time.sleep(1.5)
        self.assertEqual(desk.windows(), [], "activating the icon opened a window")
        self.assertEqual(app.terminate(), 0, app.log())


if __name__ == "__main__":
    kovratest.main()
