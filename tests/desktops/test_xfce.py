#!/usr/bin/python3
# The app in Xfce 4.18's panel, through each of the panel's two trays: as a StatusNotifier item
# (the panel is watcher and host and shows the menu we export) and as an XEmbed icon (no watcher
# on the bus). What a person sees in the panel is read from the screen; what they hear, from the
# sink.
import kovratest  # noqa: E402
import numpy as np  # noqa: E402
import procutil  # noqa: E402
from desktop import Box, XfcePanel, drawn_box, screenshot, windows_of  # noqa: E402

WATCHER = "org.kde.StatusNotifierWatcher"


class XfceTray(kovratest.DesktopTest):

    def start_panel_and_app(self, path, app_env=None, **session_options):
        s, panel = self.start_desktop(XfcePanel, session_options=session_options)
        app, _ = self.start_app_in(panel, panel.icon_box, f"the Xfce panel ({path})", env=app_env)
        self.assertNotIn("No Icon set", app.log(), "the icon is shown only once it has an image")
        return s, panel, app

    def assert_icon_fills_its_slot(self, panel):
        # The icon the panel draws is as high as its slot nearly, and mostly the flag's blue; returns its box.
        box = panel.wait_for_icon()
        pixels = screenshot(panel.s, box)
        self.assert_fills_slot(box, panel.icon_size, "Xfce")
        r, g, b = (pixels[:, :, i].astype(int) for i in range(3))
        blue = np.count_nonzero((b > 90) & (b > r + 50) & (b > g + 30))
        self.assertGreater(blue, 0.4 * panel.icon_size ** 2, f"the flag's blue fills too little of {box}")
        return box

    def choose(self, s, downs):
        s.run(["xdotool", "key", "--delay", "80", *["Down"] * downs, "Return"], check=True)

    def use_our_menu_and_the_icons_buttons(self, s, panel, app, icon, channel):
        # A left click opens our own menu with its corner at the icon, not somewhere mid-screen, and the
        # channel is chosen from it; a middle click pauses and resumes; two notches of the wheel down take
        # the stream to 90 %.
        panel.click(*icon.center)
        menus = procutil.wait_until(lambda: [w for w in windows_of(s, app.pid) if w.height > 2 * icon.height], 10,
                                    message="our menu")
        self.assertEqual(len(menus), 1, menus)
        corner = np.array([menus[0].x, menus[0].y])
        self.assertLessEqual(np.abs(corner - icon.center).max(), 24, f"menu {menus[0]}, icon {icon}")
        self.choose(s, kovratest.CHANNEL_IDS.index(channel) + 1)
        s.audio.wait_for_channel(channel)
        for button, heard in ((2, None), (2, channel), (5, channel), (5, channel)):
            panel.click(*icon.center, button)
            s.audio.wait_for_channel(heard) if heard else s.audio.wait_for_silence()
        kovratest.wait_for_stream_volume(s, 90)
        self.assertEqual(app.terminate(), 0, app.log())

    def test_status_notifier_item_in_the_panel(self):
        # As under XWayland (an X11 client in a Wayland session, where the X pointer does not follow
        # clicks on the panel), only the host's word says where the icon was clicked.
        s, panel, app = self.start_panel_and_app("StatusNotifierItem",
                                                 app_env={"WAYLAND_DISPLAY": "wayland-kovra-absent"})
        items = panel.bus.get_object(WATCHER, "/StatusNotifierWatcher").Get(
            WATCHER, "RegisteredStatusNotifierItems", dbus_interface="org.freedesktop.DBus.Properties")
        self.assertEqual(len(items), 1, "the panel hosts our item")
        for size in (16, 22, 24):
            with self.subTest(size=size):
                panel.set_icon_size(size)
                icon = self.assert_icon_fills_its_slot(panel)

        # The panel's own menu, built from the one we export, drawn on the (black) screen below the panel:
        # the second channel.
        panel.click(*icon.center, 3)
        procutil.wait_until(lambda: drawn_box(screenshot(s, Box(0, panel.box.height, 1280, 500)), (0, 0, 0)), 10,
                            message="the panel's menu")
        self.choose(s, 2)
        s.audio.wait_for_channel("tarvesi")

        self.use_our_menu_and_the_icons_buttons(s, panel, app, icon, "velmora")

    def test_xembed_icon_in_the_panel_when_no_watcher_is_on_the_bus(self):
        s, panel, app = self.start_panel_and_app("XEmbed", unowned_names=(WATCHER,))
        self.assertNotIn(WATCHER, panel.bus.list_names())
        icon = self.assert_icon_fills_its_slot(panel)

        self.use_our_menu_and_the_icons_buttons(s, panel, app, icon, "nimo")


if __name__ == "__main__":
    kovratest.main()
