#!/usr/bin/python3
# Plasma 6.3 on Wayland as Debian 13 users meet it, with the app installed: the item in the panel's system
# tray, drawn filling its slot; a real Alt+3 plays slot 3's channel; slot 1 rebound to Meta+Alt+1 (as in
# System Settings) shows so in its channel's entry and its slot's, and that key plays it; the panel opens
# the item's menu on a right click and on a left click.
import time

import waylandshells  # noqa: E402

waylandshells.run_as_desktop_user()

import kovratest  # noqa: E402
import procutil  # noqa: E402
from desktop import exported_menu  # noqa: E402
from kovratest import CHANNEL_NAMES  # noqa: E402
from plasma import ALT, META, TRAY_ICON, Plasma  # noqa: E402

FILL = 0.8  # of the slot's height, at least: a readable icon


class Plasma6(kovratest.SessionTest):
    session_options = {"tray": False, "notifications": False}  # plasmashell is the notification server

    def start_with_app(self):
        # Plasma, and the app in its tray; returns the session, the desktop, the app and the icon's box.
        s = self.start_session()
        desk = Plasma(s)
        self.addCleanup(desk.stop)
        desk.start()
        desk.install_app()
        started = time.monotonic()
        app = s.start_app(env=desk.app_env())
        procutil.wait_until(desk.tray_icon, 30, message="the item in Plasma's system tray")
        print(f"start to tray item in Plasma 6: {time.monotonic() - started:.2f} s", flush=True)
        desk.watch_menu_openings()
        return s, desk, app, desk.tray_icon(desk.steady_screenshot())

    def test_the_tray_item_its_keys_a_rebind_and_its_menu(self):
        s, desk, app, icon = self.start_with_app()
        desk.save(desk.screenshot(), "tray.png")
        print(f"Plasma {TRAY_ICON} px slot: drawing {icon.width}x{icon.height} px, "
              f"fills {icon.height / TRAY_ICON:.2f} of the slot's height", flush=True)
        self.assertGreaterEqual(icon.height / TRAY_ICON, FILL, "the icon fills its slot's height")

        # Plasma binds the shortcuts without asking; the menu shows them once bound.
        procutil.wait_until(lambda: exported_menu(s.bus())[2][1] == [["Alt", "3"]], 15, message="Alt+3 bound")
        desk.press("alt+3")
        s.audio.wait_for_channel("nimo", timeout=20)

        desk.rebind("slot-1", [META | ALT | ord("1")])
        menu = procutil.wait_until(lambda: (lambda m: m[0][1] == [["Super", "Alt", "1"]] and m)(
            exported_menu(s.bus())), 15, message="the rebound key beside the first channel")
        shortcuts = next(entries for label, _, entries in menu if label == "Keyboard Shortcuts")
        self.assertEqual([menu[0][0], shortcuts[0][0]], ["Kovra Velmora", "Meta+Alt+1: Kovra Velmora"])
        desk.press("super+alt+1")
        s.audio.wait_for_channel("velmora", timeout=20)

        # A right click: the panel opens our exported menu.
        icon = desk.tray_icon()  # (the media player's entry came beside it as the radio played)
        desk.click(*icon.center, button=3)
        procutil.wait_until(lambda: desk.menu_openings() == 1, 10, message="the menu on a right click")
        desk.save(desk.steady_screenshot(), "menu.png")
        self.assertEqual(app.terminate(), 0, app.log())

    def test_a_left_click_opens_the_menu(self):
        s, desk, app, icon = self.start_with_app()
        desk.click(*icon.center)
        procutil.wait_until(lambda: desk.menu_openings() == 1, 10, message="the menu on a left click")
        desk.save(desk.steady_screenshot(), "left-click.png")
        self.assertEqual(app.terminate(), 0, app.log())


if __name__ == "__main__":
    kovratest.main()
