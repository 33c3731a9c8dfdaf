#!/usr/bin/python3
# Steps of 15 s through the live stream, as the desktop's previous and next buttons take them: they
# land where they should and stay inside what the player kept, without fetching anything again, as
# does a pause and resume from the menu; and the stream sounds without a gap after its first sound
# and after a step, at 2 s and 6 s segments.
import time

import kovratest  # noqa: E402
import procutil  # noqa: E402


class Playback(kovratest.SharedSessionTest):

    def position(self):
        return float(self.session.run(["playerctl", "-p", "kovra_radio", "position"], check=True).stdout)

    def wait_for_position(self, predicate, message, timeout=15):
        return procutil.wait_until(lambda: predicate(self.position()), timeout, interval=0.2, message=message)

    def test_a_step_back_after_half_a_minute_lands_15_seconds_back_and_next_returns(self):
        s = self.session
        _, item = self.start_app_with_menu()
        started = time.monotonic()
        s.tray.click(["Kovra Tarvesi"], item=item)
        self.wait_until_playing("tarvesi", item)
        self.assert_no_gap(5, "the first sound")
        # Half a minute of listening fills the player's memory of the stream well past 15 s.
        self.wait_for_position(lambda p: p >= 30, "30 s of listening", timeout=60)
        for command, step in (("previous", -15), ("next", 15)):
            before, asked = self.position(), time.monotonic()
            s.run(["playerctl", "-p", "kovra_radio", command], check=True)
            # Position keeps running with the clock; a step shows as that much more or less.
            self.wait_for_position(lambda p: abs(p - (before + time.monotonic() - asked + step)) < 2.0,
                                   f"the position to move {step} s")
            s.audio.wait_for_channel("tarvesi", timeout=25, hold=1)
        # Back near the live edge, a step forward goes no nearer than the stream can play without running dry.
        s.run(["playerctl", "-p", "kovra_radio", "next"], check=True)
        self.assert_no_gap(6, "a step forward at the live edge")
        self.assertEqual(kovratest.checked_channels(s.tray.layout(item)), ["Kovra Tarvesi"])

        # A click on the playing channel pauses it, another resumes the same stream: the position
        # goes on from where it stood.
        s.tray.click(["Kovra Tarvesi"], item=item)
        self.wait_until_playing(None, item)
        paused_at = self.position()
        s.audio.assert_silent(4)  # long enough that a stream opened afresh would be seconds further on
        s.tray.click(["Kovra Tarvesi"], item=item)
        s.tray.wait_for_layout(lambda r: kovratest.checked_channels(r) == ["Kovra Tarvesi"], item=item)
        resumed_at = self.position()
        s.audio.wait_for_channel("tarvesi")
        self.assertTrue(paused_at - 0.1 <= resumed_at < paused_at + 2.5,
                        f"paused at {paused_at}, on at {resumed_at}")
        self.assertEqual(kovratest.refetched_segments(s, "tarvesi", started), [])

    def assert_no_gap(self, seconds, what):
        gap = self.session.audio.longest_gap(self.session.audio.record(seconds))
        self.assertLess(gap, 0.1, f"a {gap:.2f} s gap in the {seconds} s after {what}")


class PlaybackAtSixSecondSegments(Playback):
    session_options = {"segment_seconds": 6}


if __name__ == "__main__":
    kovratest.main()
