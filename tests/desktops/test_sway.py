#!/usr/bin/python3
# The tray in sway: waybar, a native Wayland tray host, shows the item in 16, 22 and 24 px slots, a channel
# picked from waybar's menu sounds, and a left click on the icon opens that menu too, no window of ours.
import waylandshells  # noqa: E402

waylandshells.run_as_desktop_user()

import numpy as np  # noqa: E402

import kovratest  # noqa: E402
import procutil  # noqa: E402
from waylandshells import SLOT_SIZES, Sway  # noqa: E402


def menu_rows(pixels):
    # The stock menu on screen: (its left/right columns, the centre row of each entry's text), or None.
    white = (pixels >= 245).all(axis=2)
    rows, cols = np.nonzero(white.sum(axis=1) >= 60)[0], np.nonzero(white.sum(axis=0) >= 60)[0]
    if not len(rows) or not len(cols):
        return None
    top, bottom, left, right = rows.min(), rows.max() + 1, cols.min(), cols.max() + 1
    text = (pixels[top:bottom, left:right].astype(int).sum(axis=2) < 3 * 128).any(axis=1)
    # Where runs of rows with text begin and end (one past).
    edges = np.flatnonzero(np.diff(np.concatenate(([0], text.astype(int), [0]))))
    return (left, right), [top + (start + end) // 2 for start, end in zip(edges[::2], edges[1::2])]


class SwayTray(kovratest.DesktopTest):
    session_options = {"tray": False}

    def test_waybar_shows_the_item_plays_a_channel_from_its_menu_and_a_left_click_opens_it_too(self):
        s, desk = self.start_desktop(Sway)
        self.assertEqual(desk.tray_icons(), {}, "the bars are empty before the app starts")
        app, _ = self.start_app_in(desk, lambda: len(desk.tray_icons()) == len(SLOT_SIZES), "waybar")
        # The picture settles once the host has the item's final pixmap.
        shot = desk.steady_screenshot()
        icons = desk.tray_icons(shot)
        for size in SLOT_SIZES:
            with self.subTest(slot=size):
                self.assert_fills_slot(icons[size], size, "waybar")

        # A channel from waybar's own menu (right click), by the position of its second entry.
        desk.click(*icons[24].center, button=3)
        (left, right), entries = procutil.wait_until(lambda: menu_rows(desk.screenshot()), 10, message="waybar's menu")
        self.assertEqual(len(entries), 7, "three channels, three commands and Quit, one line each")
        desk.click((left + right) // 2, entries[1])
        s.audio.wait_for_channel("tarvesi", timeout=20)
        self.assertEqual(desk.views(), [], "the menu is waybar's, not a window")

        # The item says it is a menu: a left click opens waybar's menu as well, and no window of ours.
        procutil.wait_until(lambda: menu_rows(desk.screenshot()) is None, 10, message="the first menu to close")
        desk.click(*icons[24].center)
        procutil.wait_until(lambda: menu_rows(desk.screenshot()), 10, message="waybar's menu on a left click")
        self.assertEqual([(v.get("app_id"), v.get("name"), v["rect"]) for v in desk.views()], [],
                         "a left click on the icon opened a window")
        self.assertEqual(app.terminate(), 0, app.log())


if __name__ == "__main__":
    kovratest.main()
