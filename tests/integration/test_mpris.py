#!/usr/bin/python3
# The desktop's media controls, driven by playerctl as a real MPRIS client: what the app reports
# before and while it plays, and what play, pause, play-pause, next, previous and seeks do.
import os
import re
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "fixtures"))
import kovratest  # noqa: E402
import procutil  # noqa: E402
from kovratest import CHANNEL_NAMES, checked_channels  # noqa: E402

PLAYER = "kovra_radio"
SOUND_TIMEOUT = 25
OBJECT_PATH = re.compile(r"^/$|^(/[A-Za-z0-9_]+)+$")


class Mpris(kovratest.SharedSessionTest):

    def playerctl(self, *args):
        return self.session.run(["playerctl", "-p", PLAYER, *args], timeout=20)

    def ok(self, *args):
        result = self.playerctl(*args)
        self.assertEqual(result.returncode, 0, f"playerctl {' '.join(args)}: {result.stderr}")
        return result.stdout.strip()

    def trackid(self):
        # playerctl prints an object path in GVariant text form, between quotes.
        return self.ok("metadata", "mpris:trackid").strip("'")

    def wait_for_status(self, status):
        return procutil.wait_until(lambda: self.playerctl("status").stdout.strip() == status, 15,
                                   message=f"status {status}")

    def watch_bus(self):
        """Records the player's signals (dbus-monitor) into a file; returns a reader of that file."""
        s = self.session
        path = os.path.join(s.dir, "mpris-signals.log")
        with open(path, "wb") as out:
            proc = procutil.spawn(["dbus-monitor", "--address", s.bus_address,
                                   "type='signal',path='/org/mpris/MediaPlayer2'"],
                                  env=s.base_env(), stdout=out, stderr=subprocess.DEVNULL)
        self.addCleanup(procutil.stop, proc)

        def read():
            with open(path, errors="replace") as f:
                return f.read()
        # dbus-monitor prints the NameAcquired of its own connection once it listens.
        procutil.wait_until(lambda: "NameAcquired" in read() or "member=" in read(), 10, message="dbus-monitor")
        return read

    def test_before_anything_played_play_fails_and_the_status_is_stopped(self):
        s = self.session
        app, _ = self.start_app_with_menu()
        procutil.wait_until(lambda: PLAYER in self.session.run(["playerctl", "-l"]).stdout, 15,
                            message="the MPRIS player to appear")
        self.assertEqual(self.ok("status"), "Stopped")
        self.assertEqual(self.trackid(), "/org/mpris/MediaPlayer2/TrackList/NoTrack")

        result = self.playerctl("play")
        self.assertNotEqual(result.returncode, 0, "play with nothing to play must fail")
        # Skips and toggling with nothing played are accepted and do nothing.
        for command in ("next", "previous", "play-pause"):
            self.ok(command)
        s.audio.assert_silent(1.5)
        self.assertEqual(self.ok("status"), "Stopped")
        self.assertTrue(app.alive(), app.log())

    def test_controls_while_a_channel_plays(self):
        s = self.session
        app, item = self.start_app_with_menu()
        signals = self.watch_bus()

        s.tray.click([CHANNEL_NAMES[0]], item=item)
        self.wait_for_status("Playing")
        s.audio.wait_for_channel("velmora", timeout=SOUND_TIMEOUT)
        with self.subTest("metadata"):
            self.assertEqual(self.ok("metadata", "title"), "Kovra Velmora")
            self.assertEqual(self.ok("metadata", "artist"), "Kovra")
            trackid = self.trackid()
            self.assertRegex(trackid, OBJECT_PATH)
            self.assertNotEqual(trackid, "/org/mpris/MediaPlayer2/TrackList/NoTrack")
            everything = self.ok("metadata")
            self.assertRegex(everything, rf"(?m)^{PLAYER}\s+kovra:isLiveStream\s+true$", everything)

        with self.subTest("play-pause toggles, the menu follows, and listeners are told"):
            self.ok("play-pause")
            self.wait_for_status("Paused")
            s.tray.wait_for_layout(lambda r: checked_channels(r) == [], item=item, message="no channel checked")
            s.audio.wait_for_silence(timeout=SOUND_TIMEOUT)
            procutil.wait_until(lambda: re.search(r'"PlaybackStatus"\s+variant\s+string "Paused"', signals()), 10,
                                message="PropertiesChanged with PlaybackStatus Paused")
            self.ok("play-pause")
            self.wait_for_status("Playing")
            s.tray.wait_for_layout(lambda r: checked_channels(r) == [CHANNEL_NAMES[0]], item=item,
                                   message="Kovra Velmora checked again")
            s.audio.wait_for_channel("velmora", timeout=SOUND_TIMEOUT)

        # A few seconds of stream behind us, so a step back has somewhere to go.
        s.audio.record(4)
        for command in (["next"], ["previous"], ["position", "15+"], ["position", "15-"]):
            with self.subTest(command=" ".join(command)):
                self.ok(*command)
                s.audio.wait_for_channel("velmora", timeout=SOUND_TIMEOUT)
                self.assertEqual(self.ok("status"), "Playing")
                self.assertEqual(self.ok("metadata", "title"), "Kovra Velmora")
                self.assertEqual(checked_channels(s.tray.layout(item)), [CHANNEL_NAMES[0]])
        with self.subTest("seeks are announced"):
            procutil.wait_until(lambda: "member=Seeked" in signals(), 10, message="a Seeked signal")

        with self.subTest("play opens the current channel afresh"):
            self.ok("pause")
            self.wait_for_status("Paused")
            s.audio.wait_for_silence(timeout=SOUND_TIMEOUT)
            self.ok("play")
            self.wait_for_status("Playing")
            s.audio.wait_for_channel("velmora", timeout=SOUND_TIMEOUT)
        self.assertTrue(app.alive(), app.log())


if __name__ == "__main__":
    kovratest.main()
