#!/usr/bin/python3
# The tray menu of the real binary, used as a person would: a channel that starts, pauses and
# resumes the same stream, launch at login and the update check. (Switches that never overlap: test_random.)
import os
import time

import kovratest  # noqa: E402
import procutil  # noqa: E402
from trayhost import find_child  # noqa: E402

APPCAST = """<?xml version="1.0" encoding="utf-8"?>
<rss version="2.0" xmlns:ac="http://www.andymatuschak.org/xml-namespaces/sparkle"><channel><item>
<ac:version>{version}</ac:version><enclosure url="{url}" length="1234" type="application/gzip"/>
</item></channel></rss>
"""


class Menu(kovratest.SharedSessionTest):

    def position(self):
        # The stream position the desktop's media controls show, in seconds.
        return float(self.session.run(["playerctl", "-p", "kovra_radio", "position"], check=True).stdout)

    def test_a_click_pauses_and_resumes_the_same_stream(self):
        s = self.session
        _, item = self.start_app_with_menu()
        started = time.monotonic()
        s.tray.click(["Kovra Velmora"], item=item)
        self.wait_until_playing("velmora", item)
        s.audio.record(2)  # the stream runs for a while before the listener pauses
        s.tray.click(["Kovra Velmora"], item=item)
        self.wait_until_playing(None, item)
        paused_at = self.position()
        s.audio.assert_silent(4)  # long enough that a stream opened afresh would be seconds further on
        s.tray.click(["Kovra Velmora"], item=item)
        s.tray.wait_for_layout(lambda r: kovratest.checked_channels(r) == ["Kovra Velmora"], item=item)
        # Resumed, not reopened: the position goes on from where it stood, and no segment the
        # player already had was fetched again.
        resumed_at = self.position()
        s.audio.wait_for_channel("velmora")
        self.assertTrue(paused_at - 0.1 <= resumed_at < paused_at + 2.5, f"paused at {paused_at}, on at {resumed_at}")
        self.assertEqual(kovratest.refetched_segments(s, "velmora", started), [])

    def test_launch_at_login_adds_and_removes_the_autostart_entry(self):
        s = self.session
        _, item = self.start_app_with_menu()
        desktop = os.path.join(s.config_home, "autostart", "org.kovra.Radio.desktop")
        for state in (1, 0):
            s.tray.click(["Launch at Login"], item=item)
            s.tray.wait_for_layout(lambda r: find_child(r, "Launch at Login")["toggle_state"] == state, item=item,
                                   message=f"launch at login to show {state}")
            self.assertEqual(os.path.isfile(desktop), bool(state))

    def test_check_for_updates_tells_in_the_users_language_of_a_newer_version_or_why_not(self):
        s = self.session
        version = s.run([s.binary, "--version"], check=True).stdout.split()[-1]
        newer = f"{int(version.split('.')[0]) + 1}.0.0"
        url = f"https://downloads.kovra.example/kovra-radio-{newer}.tar.gz"
        _, item = self.start_app_with_menu(env={"LANG": "de_DE.UTF-8", "LANGUAGE": None})
        for feed, summary, body in (
                (APPCAST.format(version=newer, url=url), f"Kovra Radio {newer} ist verfügbar",
                 f"Sie haben Version {version}. Laden Sie die neue Version von {url} herunter"),
                (APPCAST.format(version=version, url=url), "Kovra Radio ist auf dem neuesten Stand",
                 f"Version {version} ist die neueste Version."),
                ("<rss", "Suche nach Updates fehlgeschlagen",
                 "Die Update-Informationen konnten nicht geladen werden. Versuchen Sie es später erneut.")):
            s.broadcaster.set_file("/appcast.xml", feed, "application/rss+xml")
            seen = len(s.notifications())
            s.tray.click(["Nach Updates suchen"], item=item)
            note = procutil.wait_until(lambda: s.notifications()[seen:], 15, message="a notification")[0]
            self.assertEqual(note["summary"], summary)
            self.assertIn(body, note["body"])

if __name__ == "__main__":
    kovratest.main()
