#!/usr/bin/python3
# The app's life on a desktop: its tray item and menu appear (also when the panel comes late or
# restarts), and it ends cleanly from Quit, on SIGTERM/SIGINT, and when it is launched a second time.
import os
import signal
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "fixtures"))
import kovratest  # noqa: E402
from kovratest import CHANNEL_NAMES  # noqa: E402
from trayhost import outline  # noqa: E402


def label_is(node, text):
    return node["label"].casefold().startswith(text.casefold())


def visible(node):
    return [c for c in node["children"] if c["visible"]]


class TrayLifecycle(kovratest.SessionTest):
    session_options = {"audio": False}

    def test_menu_shows_channels_shortcuts_and_quit(self):
        s = self.start_session()
        app, item = self.start_app_with_item(s)
        root = s.tray.wait_for_layout(lambda r: len(visible(r)) >= 9, message="the first menu")
        entries = visible(root)
        dump = outline(root)

        self.assertEqual([e["label"] for e in entries[:3]], CHANNEL_NAMES, dump)
        self.assertEqual(entries[3]["type"], "separator", dump)
        for text, node in zip(["Launch at Login", "Keyboard Shortcuts", "Check for Updates"], entries[4:7]):
            self.assertTrue(label_is(node, text), f"{text!r} expected, menu:\n{dump}")
        self.assertEqual(entries[7]["type"], "separator", dump)
        self.assertTrue(label_is(entries[8], "Quit"), dump)
        self.assertEqual(len(entries), 9, dump)

        # First run: the three channels sit on slots 1-3, nothing plays, every channel can be chosen.
        for n, channel in enumerate(entries[:3], start=1):
            with self.subTest(channel=channel["label"]):
                self.assertTrue(channel["enabled"])
                self.assertNotEqual(channel["toggle_state"], 1, "nothing plays yet")
                self.assertEqual(channel["shortcut"], [["Alt", str(n)]])
        self.assertEqual(entries[8]["shortcut"], [["Control", "Q"]])
        self.assertNotEqual(entries[4]["toggle_state"], 1, "not registered to launch at login on a fresh account")

        shortcuts = entries[5]
        self.assertEqual(shortcuts["children_display"], "submenu")
        slots = visible(shortcuts)
        expected = [f"⌥1: {CHANNEL_NAMES[0]}", f"⌥2: {CHANNEL_NAMES[1]}", f"⌥3: {CHANNEL_NAMES[2]}", "⌥4: ", "⌥5: "]
        self.assertEqual(len(slots), 5, dump)
        for slot_number, (slot, label) in enumerate(zip(slots, expected), start=1):
            with self.subTest(slot=slot_number):
                self.assertTrue(slot["label"].startswith(label), f"{label!r}… expected, got {slot['label']!r}")
                self.assertEqual(slot["children_display"], "submenu")
                choices = visible(slot)
                self.assertEqual(len(choices), 5, dump)
                self.assertEqual(choices[1]["type"], "separator")
                self.assertEqual([c["label"] for c in choices[2:]], CHANNEL_NAMES)
                checked = [c["label"] for c in choices if c["toggle_state"] == 1]
                # Slots 1-3 hold their channel; slots 4 and 5 hold none, and say so on the slot itself.
                want = [CHANNEL_NAMES[slot_number - 1]] if slot_number <= 3 else [choices[0]["label"]]
                self.assertEqual(checked, want)
                if slot_number > 3:
                    self.assertEqual(slot["label"], f"⌥{slot_number}: {choices[0]['label']}")

        props = s.tray.properties(item)
        self.assertEqual(props["Status"], "Active")
        self.assertTrue(props["IconPixmap"], "the tray item shows a drawn icon")
        png = os.path.join(s.dir, "icon.png")
        icon = s.tray.icon_png(png, item=item)
        self.assertGreaterEqual(icon["width"], 22)
        self.assertGreater(icon["opaque_pixels"], 0, "the icon is not blank")
        self.assertTrue(app.alive())

    def test_item_appears_when_the_panel_starts_after_the_app(self):
        s = self.start_session(tray=False)
        app = s.start_app()
        time.sleep(2)  # the app comes up first, as at login before the panel
        self.assertTrue(app.alive(), "the app must wait for a panel, not give up")
        s.start_tray()
        s.tray.wait_for_item(timeout=20)
        self.assertEqual(s.tray.entries()[:3], CHANNEL_NAMES, s.tray.outline())

    def test_item_comes_back_after_the_panel_restarts(self):
        s = self.start_session()
        app, _ = self.start_app_with_item(s)
        s.stop_tray()
        s.start_tray()
        item = s.tray.wait_for_item(timeout=20)
        self.assertEqual(s.tray.item_pid(item), app.pid)
        self.assertEqual(s.tray.entries(item=item)[:3], CHANNEL_NAMES)

    def test_quit_entry_ends_the_app_with_status_0(self):
        s = self.start_session()
        app, item = self.start_app_with_item(s)
        s.tray.click(["Quit"], item=item)
        self.assertEqual(app.wait(timeout=15), 0, app.log())
        s.tray.wait_for_no_item(timeout=10)

    def test_sigterm_and_sigint_end_the_app_with_status_0(self):
        s = self.start_session()
        for sig in (signal.SIGTERM, signal.SIGINT):
            with self.subTest(signal=sig.name):
                app, _ = self.start_app_with_item(s)
                app.signal(sig)
                self.assertEqual(app.wait(timeout=15), 0, app.log())
                s.tray.wait_for_no_item(timeout=10)

    def test_second_launch_exits_0_and_the_first_keeps_its_item(self):
        s = self.start_session()
        first, item = self.start_app_with_item(s)
        second = s.start_app()
        self.assertEqual(second.wait(timeout=15), 0, second.log())
        self.assertTrue(first.alive())
        items = s.tray.items()
        self.assertEqual(len(items), 1, items)
        self.assertEqual(s.tray.item_pid(items[0]), first.pid)
        self.assertEqual(s.tray.entries(item=items[0])[:3], CHANNEL_NAMES)
        self.assertEqual(first.terminate(), 0)


if __name__ == "__main__":
    kovratest.main()
