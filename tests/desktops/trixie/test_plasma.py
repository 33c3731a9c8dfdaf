#!/usr/bin/python3
# Plasma 6.3 on Wayland as Debian 13 users meet it, with the app installed: the item in the panel's system
# tray, drawn filling its slot; a real Alt+3 plays slot 3's channel; slot 1 rebound to Meta+Alt+1 (as in
# System Settings) shows so in its channel's entry and its slot's, and that key plays it; the panel opens
# the item's menu on a right click and on a left click.
import waylandshells  # noqa: E402

waylandshells.run_as_desktop_user()

import kovratest  # noqa: E402
import procutil  # noqa: E402
from kovratest import slot_labels  # noqa: E402
from plasma import ALT, META, TRAY_ICON, Plasma  # noqa: E402
from trayhost import TrayHostClient  # noqa: E402


class Plasma6(kovratest.DesktopTest):  # plasmashell is the notification server

    def test_the_tray_item_its_keys_a_rebind_and_its_menu_on_either_click(self):
        s, desk = self.start_desktop(Plasma, installed=True)
        app, _ = self.start_app_in(desk, desk.tray_icon, "Plasma's system tray")
        # A host tells the item each time it opens the item's menu (dbusmenu's Event "opened").
        events = kovratest.monitor_bus(self, s, "type='method_call',interface='com.canonical.dbusmenu',member='Event'")
        self.assert_fills_slot(desk.tray_icon(desk.steady_screenshot()), TRAY_ICON, "Plasma")

        # Plasma binds the shortcuts without asking; the menu shows them once bound.
        tray = TrayHostClient(s.bus_address)
        self.addCleanup(tray.close)
        tray.wait_for_layout(lambda r: r["children"][2]["shortcut"] == [["Alt", "3"]], 15, message="Alt+3 bound")
        desk.press("alt+3")
        s.audio.wait_for_channel("nimo", timeout=20)

        desk.rebind("slot-1", [META | ALT | ord("1")])
        # The channel's key hint and its slot's label may be told in two layout updates: wait for both.
        menu = tray.wait_for_layout(lambda r: r["children"][0]["shortcut"] == [["Super", "Alt", "1"]]
                                    and slot_labels(r)[0] == "Meta+Alt+1: Kovra Velmora", 15,
                                    message="the rebound key beside the first channel and in its slot")
        self.assertEqual([menu["children"][0]["label"], slot_labels(menu)[0]],
                         ["Kovra Velmora", "Meta+Alt+1: Kovra Velmora"])
        desk.press("super+alt+1")
        s.audio.wait_for_channel("velmora", timeout=20)

        # The panel opens our exported menu on a right click, and on a left click too.
        icon = desk.tray_icon()  # (the media player's entry came beside it as the radio played)
        for opened, button in ((1, 3), (2, 1)):
            if opened == 2:
                desk.press("Escape")
            desk.click(*icon.center, button=button)
            procutil.wait_until(lambda: events().count('string "opened"') == opened, 10,
                                message=f"the menu on a click of button {button}")
        self.assertEqual(app.terminate(), 0, app.log())


if __name__ == "__main__":
    kovratest.main()
