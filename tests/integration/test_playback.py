#!/usr/bin/python3
# What a listener hears from the real binary on real libmpv: the chosen channel's tone, silence on
# pause, the same stream going on after resume, clean switches, 15 s steps back in the live stream,
# recovery from a failing server, and no sound at all from a server whose certificate we cannot trust.
import collections
import os
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "fixtures"))
import kovratest  # noqa: E402
import procutil  # noqa: E402
from kovratest import CHANNEL_IDS, CHANNEL_NAMES, checked_channels  # noqa: E402

# The machine running the tests is often busy: waits are generous, never open-ended.
SOUND_TIMEOUT = 25
PLAYER = "kovra_radio"


def name_of(channel_id):
    return CHANNEL_NAMES[CHANNEL_IDS.index(channel_id)]


class Playback(kovratest.SharedSessionTest):

    # -- helpers ---------------------------------------------------------------------------------------

    def playerctl(self, *args, check=True):
        result = self.session.run(["playerctl", "-p", PLAYER, *args], timeout=20)
        if check:
            self.assertEqual(result.returncode, 0, f"playerctl {' '.join(args)}: {result.stderr}")
        return result

    def status(self):
        return self.playerctl("status", check=False).stdout.strip()

    def position(self):
        """The stream position MPRIS reports, in seconds."""
        return float(self.playerctl("position").stdout.strip())

    def wait_for_position(self, predicate, message, timeout=15):
        last = {}

        def check():
            last["p"] = self.position()
            return predicate(last["p"])
        try:
            procutil.wait_until(check, timeout, interval=0.2, message=message)
        except AssertionError as e:
            raise AssertionError(f"{e}; last position {last.get('p')}") from None
        return last["p"]

    def refetched_segments(self, channel_id, since):
        """Segments of the channel fetched more than once since `since`: a stream opened afresh
        starts again a few segments behind the live edge, which the open stream already had."""
        paths = [r["path"] for r in self.session.broadcaster.requests(channel_id, "segment", since)
                 if r["status"] == 200]
        return sorted(p for p, n in collections.Counter(paths).items() if n > 1)

    def play_from_menu(self, item, channel_id):
        self.session.tray.click([name_of(channel_id)], item=item)
        return self.wait_until_playing(channel_id, item)

    def wait_until_playing(self, channel_id, item=""):
        s = self.session
        want = [] if channel_id is None else [name_of(channel_id)]
        s.tray.wait_for_layout(lambda r: checked_channels(r) == want, item=item, timeout=15,
                               message=f"the menu to check {want or 'no channel'}")
        if channel_id is None:
            s.audio.wait_for_silence(timeout=SOUND_TIMEOUT)
        else:
            s.audio.wait_for_channel(channel_id, timeout=SOUND_TIMEOUT)

    # -- scenarios -------------------------------------------------------------------------------------

    def test_pause_silences_resume_goes_on_with_the_same_stream_and_switches_never_overlap(self):
        s = self.session
        _, item = self.start_app_with_menu()
        started = time.monotonic()

        self.play_from_menu(item, "velmora")
        self.assertEqual(self.status(), "Playing")
        s.audio.record(2)  # the stream runs for a while before the listener pauses
        self.assertEqual(s.audio.which_channels_sound(s.audio.window(2)), {"velmora"})

        s.tray.click([name_of("velmora")], item=item)
        self.wait_until_playing(None, item)
        self.assertEqual(self.status(), "Paused")
        paused_at = self.position()
        s.audio.assert_silent(4)  # long enough that a stream opened afresh would be seconds further on
        self.assertAlmostEqual(self.position(), paused_at, delta=0.1, msg="the position stands still while paused")

        s.tray.click([name_of("velmora")], item=item)
        self.wait_until_playing("velmora", item)
        self.assertEqual(self.status(), "Playing")
        # Resumed, not reopened: the position goes on from where it stood (a new stream would start
        # near the live edge or at zero), and no segment the player already had was fetched again.
        resumed_at = self.position()
        self.assertGreaterEqual(resumed_at, paused_at - 0.1)
        self.assertLess(resumed_at, paused_at + 2.5, f"paused at {paused_at:.2f}s, went on at {resumed_at:.2f}s")
        self.assertEqual(self.refetched_segments("velmora", started), [])

        # Switching: Tarvesi takes over from Velmora, then Nimo from Tarvesi; never two at once.
        before = s.audio.now() - 0.3
        self.play_from_menu(item, "tarvesi")
        s.audio.record(1)
        self.play_from_menu(item, "nimo")
        s.audio.record(1)
        heard = s.audio.since(before)
        s.audio.assert_never_together(heard)
        self.assertEqual(s.audio.which_channels_sound(heard[:4000]), {"velmora"})
        self.assertEqual(s.audio.which_channels_sound(s.audio.window(0.5)), {"nimo"})
        self.assertEqual(self.status(), "Playing")
        self.assertEqual(self.playerctl("metadata", "title").stdout.strip(), name_of("nimo"))

    def test_a_step_back_after_half_a_minute_lands_15_seconds_back_and_keeps_playing(self):
        s = self.session
        _, item = self.start_app_with_menu()
        started = time.monotonic()
        self.playerctl("play", check=False)  # nothing played yet: refused, and nothing starts
        s.audio.assert_silent(1)

        self.play_from_menu(item, "tarvesi")
        # Half a minute of listening fills the player's memory of the stream well past 15 s.
        s.audio.wait_for_channel("tarvesi", timeout=SOUND_TIMEOUT, hold=1)
        self.wait_for_position(lambda p: p >= 30, "30 s of listening", timeout=60)

        before, asked = self.position(), time.monotonic()
        self.playerctl("previous")
        # Position keeps running with the clock; a step back of 15 s shows as that much less.
        self.wait_for_position(lambda p: abs(p - (before + time.monotonic() - asked - 15)) < 2.0,
                               "the position to move back 15 s")
        s.audio.wait_for_channel("tarvesi", timeout=SOUND_TIMEOUT, hold=1)
        self.assertEqual(self.status(), "Playing")
        self.assertEqual(checked_channels(s.tray.layout(item)), [name_of("tarvesi")])

        before, asked = self.position(), time.monotonic()
        self.playerctl("next")
        self.wait_for_position(lambda p: abs(p - (before + time.monotonic() - asked + 15)) < 2.0,
                               "the position to move forward 15 s")
        s.audio.wait_for_channel("tarvesi", timeout=SOUND_TIMEOUT, hold=1)
        # Both steps stayed inside what the player kept: it did not fall back to opening the stream again.
        self.assertEqual(self.refetched_segments("tarvesi", started), [])
        self.assertEqual(self.playerctl("metadata", "title").stdout.strip(), name_of("tarvesi"))

    def test_a_channel_whose_server_fails_for_10_seconds_sounds_again_by_itself(self):
        s = self.session
        b = s.broadcaster
        app, item = self.start_app_with_menu()
        self.play_from_menu(item, "nimo")
        for mode in ("404", "drop"):
            with self.subTest(fault=mode):
                try:
                    b.set_fault("nimo", mode)
                    failed_at = time.monotonic()
                    # The buffered audio plays out, then the channel falls silent.
                    s.audio.wait_for_silence(timeout=30)
                    procutil.wait_until(lambda: time.monotonic() - failed_at >= 10, 15, message="10 s of failure")
                    self.assertTrue(app.alive(), app.log())
                    # The app keeps the channel: it is what the listener chose, and it comes back.
                    self.assertEqual(self.status(), "Playing")
                    self.assertEqual(checked_channels(s.tray.layout(item)), [name_of("nimo")])
                finally:
                    b.clear_faults()
                s.audio.wait_for_channel("nimo", timeout=60, hold=1)
                self.assertEqual(self.status(), "Playing")
        self.assertTrue(app.alive(), app.log())

    def test_a_server_certificate_from_an_unknown_authority_is_refused(self):
        s = self.session
        app, item = self.start_app_with_menu(env={"KOVRA_STREAM_HOST": s.broadcaster.wrongca_host})
        asked = time.monotonic()
        s.tray.click([name_of("velmora")], item=item)
        s.tray.wait_for_layout(lambda r: checked_channels(r) == [name_of("velmora")], item=item,
                               message="the menu to check Kovra Velmora")
        # Long enough for a first try and a retry or two.
        s.audio.assert_silent(6)
        self.assertTrue(app.alive(), app.log())
        # The handshake failed before any request: the server never saw one.
        self.assertEqual(s.broadcaster.requests("velmora", since=asked), [])
        # Failures stay silent: the app still says what the listener asked for.
        self.assertEqual(self.status(), "Playing")
        self.assertEqual(self.playerctl("metadata", "title").stdout.strip(), name_of("velmora"))


if __name__ == "__main__":
    kovratest.main()
