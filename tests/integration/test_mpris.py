#!/usr/bin/python3
# The desktop's media controls, driven by playerctl as a real MPRIS client: what the app reports
# before and while it plays, and what play, pause, play-pause and seeks do.
import re

import kovratest  # noqa: E402
import procutil  # noqa: E402
from kovratest import CHANNEL_NAMES  # noqa: E402

PLAYER = "kovra_radio"
NO_TRACK = "/org/mpris/MediaPlayer2/TrackList/NoTrack"


class Mpris(kovratest.SharedSessionTest):

    def playerctl(self, *args, ok=True):
        result = self.session.run(["playerctl", "-p", PLAYER, *args], timeout=20)
        if ok:
            self.assertEqual(result.returncode, 0, f"playerctl {' '.join(args)}: {result.stderr}")
        return result.stdout.strip()

    def wait_for_status(self, status):
        procutil.wait_until(lambda: self.playerctl("status", ok=False) == status, 15, message=f"status {status}")

    def test_before_anything_played_play_fails_and_then_the_controls_while_a_channel_plays(self):
        s = self.session
        app, item = self.start_app_with_menu()
        procutil.wait_until(lambda: PLAYER in s.run(["playerctl", "-l"]).stdout, 15, message="the MPRIS player")
        self.assertEqual(self.playerctl("status"), "Stopped")
        self.assertEqual(self.playerctl("metadata", "mpris:trackid").strip("'"), NO_TRACK)
        self.assertNotEqual(s.run(["playerctl", "-p", PLAYER, "play"]).returncode, 0, "play with nothing to play")
        for command in ("next", "previous", "play-pause"):  # accepted, and they do nothing
            self.playerctl(command)
        s.audio.assert_silent(1.5)
        self.assertEqual(self.playerctl("status"), "Stopped")

        signals = kovratest.monitor_bus(self, s, "type='signal',path='/org/mpris/MediaPlayer2'")

        s.tray.click([CHANNEL_NAMES[0]], item=item)
        self.wait_until_playing("velmora", item)
        self.assertEqual(self.playerctl("metadata", "title"), "Kovra Velmora")
        self.assertEqual(self.playerctl("metadata", "artist"), "Kovra")
        self.assertRegex(self.playerctl("metadata", "mpris:trackid").strip("'"), r"^(/[A-Za-z0-9_]+)+$")
        self.assertNotIn(NO_TRACK, self.playerctl("metadata"))
        self.assertRegex(self.playerctl("metadata"), rf"(?m)^{PLAYER}\s+kovra:isLiveStream\s+true$")

        self.playerctl("play-pause")
        self.wait_for_status("Paused")
        self.wait_until_playing(None, item)
        procutil.wait_until(lambda: re.search(r'"PlaybackStatus"\s+variant\s+string "Paused"', signals()), 10,
                            message="PropertiesChanged with PlaybackStatus Paused")
        self.playerctl("play-pause")
        self.wait_for_status("Playing")
        self.wait_until_playing("velmora", item)

        s.audio.record(3)  # a few seconds of stream behind us, so a step back has somewhere to go
        self.playerctl("position", "2-")
        procutil.wait_until(lambda: "member=Seeked" in signals(), 10, message="a Seeked signal")
        s.audio.wait_for_channel("velmora", timeout=25)
        self.playerctl("stop")  # a stop key silences the live stream as a pause does
        self.wait_for_status("Paused")
        self.wait_until_playing(None, item)
        self.assertTrue(app.alive(), app.log())


if __name__ == "__main__":
    kovratest.main()
