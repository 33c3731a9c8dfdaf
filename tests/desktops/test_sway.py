#!/usr/bin/python3
# The tray in sway: waybar, a native Wayland tray host, shows the item in 16, 22 and 24 px slots, a channel
# picked from waybar's menu sounds, and a left click on the icon opens that menu too, no window of ours.
import time

import waylandshells  # noqa: E402

waylandshells.run_as_desktop_user()

import numpy as np  # noqa: E402

import kovratest  # noqa: E402
import procutil  # noqa: E402
from waylandshells import SLOT_SIZES, Sway  # noqa: E402

FILL = 0.8  # of the slot's height, at least: a readable icon


def menu_rows(pixels):
    # The stock menu on screen: (its left/right columns, the centre row of each entry's text), or None.
    white = (pixels >= 245).all(axis=2)
    rows, cols = np.nonzero(white.sum(axis=1) >= 60)[0], np.nonzero(white.sum(axis=0) >= 60)[0]
    if not len(rows) or not len(cols):
        return None
    top, bottom, left, right = rows.min(), rows.max() + 1, cols.min(), cols.max() + 1
    text = (pixels[top:bottom, left:right].astype(int).sum(axis=2) < 3 * 128).any(axis=1)
    runs, start = [], None
    for y, dark in enumerate(list(text) + [False]):
        if dark and start is None:
            start = y
        elif not dark and start is not None:
            runs.append(top + (start + y) // 2)
            start = None
    return (left, right), runs


class SwayTray(kovratest.SessionTest):
    session_options = {"tray": False}

    def test_waybar_shows_the_item_plays_a_channel_from_its_menu_and_a_left_click_opens_it_too(self):
        s = self.start_session()
        desk = Sway(s)
        self.addCleanup(desk.stop)
        desk.start()
        self.assertEqual(desk.tray_icons(), {}, "the bars are empty before the app starts")

        started = time.monotonic()
        app = s.start_app(env=desk.app_env())
        procutil.wait_until(lambda: len(desk.tray_icons()) == len(SLOT_SIZES), 30, message="the item in waybar")
        print(f"start to tray item in waybar: {time.monotonic() - started:.2f} s", flush=True)
        # The picture settles once the host has the item's final pixmap.
        shot = desk.steady_screenshot()
        desk.save(shot, "tray.png")
        icons = desk.tray_icons(shot)
        for size in SLOT_SIZES:
            with self.subTest(slot=size):
                box = icons[size]
                print(f"waybar {size} px slot: drawing {box.width}x{box.height} px, "
                      f"fills {box.height / size:.2f} of the slot's height", flush=True)
                self.assertGreaterEqual(box.height / size, FILL, "the icon fills its slot's height")

        # A channel from waybar's own menu (right click), by the position of its second entry.
        desk.pointer.click(*icons[24].center, button="right")
        menu = procutil.wait_until(lambda: menu_rows(desk.screenshot()), 10, message="waybar's menu")
        desk.save(desk.screenshot(), "menu.png")
        (left, right), entries = menu
        self.assertEqual(len(entries), 7, "three channels, three commands and Quit, one line each")
        desk.pointer.click((left + right) // 2, entries[1])
        s.audio.wait_for_channel("tarvesi", timeout=20)
        self.assertEqual(desk.views(), [], "the menu is waybar's, not a window")

        # The item says it is a menu: a left click opens waybar's menu as well, and no window of ours.
        procutil.wait_until(lambda: menu_rows(desk.screenshot()) is None, 10, message="the first menu to close")
        desk.pointer.click(*icons[24].center)
        procutil.wait_until(lambda: menu_rows(desk.screenshot()), 10, message="waybar's menu on a left click")
        self.assertEqual([(v.get("app_id"), v.get("name"), v["rect"]) for v in desk.views()], [],
                         "a left click on the icon opened a window")
        self.assertEqual(app.terminate(), 0, app.log())


if __name__ == "__main__":
    kovratest.main()
