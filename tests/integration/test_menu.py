#!/usr/bin/python3
# The tray menu of the real binary, used as a person would: channels that start, pause and resume,
# shortcut assignments, launch at login, the update check, and the tray icon with its tooltip.
import configparser
import os
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "fixtures"))
import kovratest  # noqa: E402
import procutil  # noqa: E402
from kovratest import CHANNEL_NAMES, binary_version, read_settings, slot_labels  # noqa: E402

APPCAST = """<?xml version="1.0" encoding="utf-8"?>
<rss version="2.0" xmlns:ac="http://www.andymatuschak.org/xml-namespaces/sparkle">
  <channel>
    <title>Kovra Radio</title>
    <item>
      <title>Kovra Radio {version}</title>
      <ac:version>{version}</ac:version>
      <enclosure url="{url}" length="1234" type="application/gzip"/>
    </item>
  </channel>
</rss>
"""


def entry(root, label):
    return next(c for c in root["children"] if c["visible"] and c["label"].startswith(label))


class Menu(kovratest.SharedSessionTest):

    def test_clicking_a_channel_plays_pauses_and_resumes_it_and_alt_2_switches_channel(self):
        s = self.session
        _, item = self.start_app_with_menu()

        s.tray.click(["Kovra Velmora"], item=item)
        self.wait_until_playing("velmora", item)
        s.tray.click(["Kovra Velmora"], item=item)
        self.wait_until_playing(None, item)
        s.tray.click(["Kovra Velmora"], item=item)
        self.wait_until_playing("velmora", item)

        before = time.monotonic() - 0.3  # Velmora alone, as just heard
        self.press("alt+2")
        self.wait_until_playing("tarvesi", item)
        s.audio.record(0.5)
        heard = s.audio.since(before)
        s.audio.assert_never_together(heard)
        # The recording holds the hand-over itself: it begins with Velmora alone.
        self.assertEqual(s.audio.which_channels_sound(heard[:4000]), {"velmora"})

    def test_assigning_nimo_to_alt_4_shows_it_keeps_it_over_a_restart_and_alt_4_plays_it(self):
        s = self.session
        app, item = self.start_app_with_menu()
        s.tray.click(["Keyboard Shortcuts", "⌥4", "Kovra Nimo"], item=item)
        s.tray.wait_for_layout(lambda r: slot_labels(r)[3] == "⌥4: Kovra Nimo", item=item,
                               message="⌥4 to hold Kovra Nimo")

        for attempt in ("before", "after"):
            with self.subTest(restart=attempt):
                root = s.tray.layout(item)
                self.assertEqual(slot_labels(root)[2:4], ["⌥3: Kovra Nimo", "⌥4: Kovra Nimo"], s.tray.outline(item))
                # Nimo sits on slots 3 and 4: the entry shows the lower one's shortcut.
                self.assertEqual(entry(root, "Kovra Nimo")["shortcut"], [["Alt", "3"]])
                self.assertEqual(read_settings(s)["hotkeyChannels"], ["velmora", "tarvesi", "nimo", "nimo", ""])
                if attempt == "before":
                    app, item = self.restart_app(app)

        self.press("alt+4")
        self.wait_until_playing("nimo", item)

    def test_launch_at_login_entry_adds_and_removes_the_autostart_entry(self):
        s = self.session
        _, item = self.start_app_with_menu()
        desktop = os.path.join(s.config_home, "autostart", "org.kovra.Radio.desktop")

        s.tray.click(["Launch at Login"], item=item)
        s.tray.wait_for_layout(lambda r: entry(r, "Launch at Login")["toggle_state"] == 1, item=item,
                               message="launch at login to be checked")
        self.assertTrue(os.path.isfile(desktop))
        check = subprocess.run(["desktop-file-validate", desktop], capture_output=True, text=True)
        self.assertEqual(check.returncode, 0, check.stdout + check.stderr)
        parsed = configparser.ConfigParser(interpolation=None)
        parsed.read(desktop, encoding="utf-8")
        exec_line = parsed["Desktop Entry"]["Exec"]
        self.assertEqual(exec_line.strip('"'), s.binary, exec_line)

        s.tray.click(["Launch at Login"], item=item)
        s.tray.wait_for_layout(lambda r: entry(r, "Launch at Login")["toggle_state"] != 1, item=item,
                               message="launch at login to be cleared")
        self.assertFalse(os.path.exists(desktop))

    def test_check_for_updates_tells_of_a_newer_version_then_of_being_up_to_date(self):
        s = self.session
        version = binary_version(s.binary)
        newer = f"{int(version.split('.')[0]) + 1}.0.0"
        url = f"https://downloads.kovra.example/kovra-radio-{newer}.tar.gz"
        s.broadcaster.set_file("/appcast.xml", APPCAST.format(version=newer, url=url), "application/rss+xml")
        _, item = self.start_app_with_menu()
        seen = len(s.notifications())

        s.tray.click(["Check for Updates"], item=item)
        note = procutil.wait_until(lambda: s.notifications()[seen:], 15, message="a notification")[0]
        text = note["summary"] + "\n" + note["body"]
        self.assertIn(newer, text)
        self.assertIn(url, text)
        self.assertIn(version, note["body"])

        s.broadcaster.set_file("/appcast.xml", APPCAST.format(version=version, url=url), "application/rss+xml")
        s.tray.click(["Check for Updates"], item=item)
        note = procutil.wait_until(lambda: s.notifications()[seen + 1:], 15, message="a second notification")[0]
        self.assertNotIn(newer, note["summary"] + note["body"])
        self.assertIn("up to date", note["summary"])

    def test_tray_icon_is_drawn_at_several_sizes_and_its_tooltip_names_the_channel(self):
        s = self.session
        _, item = self.start_app_with_menu()
        props = s.tray.properties(item)
        sizes = sorted(w for w, h in props["IconPixmap"])
        self.assertGreaterEqual(len(sizes), 3, props["IconPixmap"])
        for size in sizes:
            with self.subTest(size=size):
                icon = s.tray.icon_png(os.path.join(s.dir, f"icon-{size}.png"), size=size, item=item)
                self.assertEqual(icon["width"], size)
                self.assertGreater(icon["opaque_pixels"], size, "the icon is not blank")
        for name in CHANNEL_NAMES:
            self.assertNotIn(name, props["ToolTip"]["title"], "nothing has played yet")

        s.tray.click(["Kovra Nimo"], item=item)
        self.wait_until_playing("nimo", item)
        procutil.wait_until(lambda: s.tray.properties(item)["ToolTip"]["title"] == "Kovra Nimo", 10,
                            message="the tooltip to name Kovra Nimo")
        s.tray.click(["Kovra Tarvesi"], item=item)
        procutil.wait_until(lambda: s.tray.properties(item)["ToolTip"]["title"] == "Kovra Tarvesi", 10,
                            message="the tooltip to name Kovra Tarvesi")


if __name__ == "__main__":
    kovratest.main()
