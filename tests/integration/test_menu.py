#!/usr/bin/python3
# The tray menu of the real binary, used as a person would: launch at login and the update check.
# (Switches that never overlap: test_random; a pause and resume of the same stream: test_playback.)
import os

import kovratest  # noqa: E402
import procutil  # noqa: E402
from trayhost import find_child  # noqa: E402

APPCAST = """<?xml version="1.0" encoding="utf-8"?>
<rss version="2.0" xmlns:ac="http://www.andymatuschak.org/xml-namespaces/sparkle"><channel><item>
<ac:version>{version}</ac:version><enclosure url="{url}" length="1234" type="application/gzip"/>
</item></channel></rss>
"""


class Menu(kovratest.SharedSessionTest):

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
