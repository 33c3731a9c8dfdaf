#!/usr/bin/python3
# The app's life on a desktop: its tray item, icon and menu appear (also when the panel comes late
# or restarts), and a second launch leaves the first alone. Quitting is in tests/faults.
import signal
import time

import kovratest  # noqa: E402
from kovratest import CHANNEL_NAMES, visible_entries  # noqa: E402


class TrayLifecycle(kovratest.SessionTest):

    def test_first_run_menu_and_icon_and_a_second_launch_leaves_them_alone(self):
        # The layout itself is MenuManagerTest's; here, that it reaches a host over dbusmenu whole.
        s = self.start_session()
        first, item = self.start_app_with_item(s)
        root = s.tray.wait_for_layout(lambda r: len(visible_entries(r)) >= 9, message="the first menu")
        self.assertEqual(s.tray.entries(item=item), CHANNEL_NAMES + [
            "---", "Launch at Login", "Keyboard Shortcuts", "Check for Updates…", "---", "Quit Kovra Radio"], s.tray.outline())
        self.assertEqual([e["shortcut"] for e in visible_entries(root)], [[["Alt", str(n)]] for n in (1, 2, 3)]
                         + [[]] * 5 + [[["Control", "Q"]]])
        pixmaps = s.tray.properties(item)["IconPixmap"]
        self.assertGreaterEqual(len(pixmaps), 3, [p[:2] for p in pixmaps])
        for w, h, argb in pixmaps:
            self.assertGreater(sum(1 for a in argb[0::4] if a), w, "the icon is not blank")

        # A second launch exits 0; the first keeps its item until SIGINT ends it.
        second = s.start_app()
        self.assertEqual(second.wait(timeout=15), 0, second.log())
        self.assertEqual(s.tray.items(), [item])
        self.assertEqual(s.tray.item_pid(item), first.pid)
        first.signal(signal.SIGINT)
        self.assertEqual(first.wait(timeout=15), 0, first.log())
        s.tray.wait_for_no_item(timeout=10)

    def test_item_appears_when_the_panel_starts_after_the_app_and_again_after_it_restarts(self):
        s = self.start_session(tray=False)
        app = s.start_app()
        time.sleep(2)  # the app comes up first, as at login before the panel
        self.assertTrue(app.alive(), "the app must wait for a panel, not give up")
        for _ in ("late", "restarted"):
            s.start_tray()
            item = s.tray.wait_for_item(timeout=20)
            self.assertEqual(s.tray.item_pid(item), app.pid)
            self.assertEqual(s.tray.entries(item=item)[:3], CHANNEL_NAMES)


if __name__ == "__main__":
    kovratest.main()
