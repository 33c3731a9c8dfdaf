#!/usr/bin/python3
# The computer is kept from suspending by itself exactly while a channel is heard: through the real
# xdg-desktop-portal frontend and an Inhibit backend of ours (tests/fixtures/portalbackend.py), the
# inhibition's life is set against the tone's at the sink: taken at first sound, given back on pause,
# on a host failure once silent and on quit, and never taken while a failed stream retries. (That it
# ends with the app's connection is the portal frontend's own doing.)
import sys
import time

import kovratest  # noqa: E402
import procutil  # noqa: E402
from audio import RATE, SILENCE_RMS, rms  # noqa: E402
from portalbackend import Portal  # noqa: E402

SUSPEND = 4
# The inhibition follows the sound within this long (a correctness bound, not a speed goal).
SLACK = 3.0


class Inhibition(kovratest.SharedSessionTest):

    def setUp(self):
        super().setUp()
        self.portal = Portal(self.session)
        self.addCleanup(self.portal.stop)
        self.addCleanup(self.session.broadcaster.clear_faults)

    def inhibitions(self):
        # [taken, released or None, flags, reason] for each inhibition, in the order taken.
        taken = {c[1]: [c[4], None, c[2], c[3]] for c in self.portal.calls("Inhibit")}
        for _, handle, at in self.portal.calls("Close"):
            taken[handle][1] = at
        return sorted(taken.values())

    def edge(self, since, sounding):
        # When the sink began to sound (or fell silent) after `since`: the first 50 ms that do.
        step = RATE // 20

        def found():
            x = self.session.audio.since(since)
            hits = [i for i in range(0, len(x) - step, step) if (rms(x[i:i + step]) >= SILENCE_RMS) == sounding]
            return hits and hits[0] + 1  # (0 would read as not found)
        return since + (procutil.wait_until(found, 30, message="the tone to " + ("start" if sounding else "stop"))
                        - 1) / RATE

    def check(self, what, event_at, count, held, event="the sound's edge at the sink"):
        # Waits for the count-th inhibition to be held (or to have ended), which must happen within the
        # slack of the event at event_at; returns it.
        def reached():
            found = self.inhibitions()
            return len(found) == count and (found[-1][1] is None) == held and found[-1]
        state = "held" if held else "released"
        inhibition = procutil.wait_until(reached, 15, message=f"inhibition {count} {state}")
        at = inhibition[0 if held else 1]
        print(f"[measured] inhibition {what}: {at - event_at:+.2f} s after {event}", file=sys.stderr)
        self.assertGreaterEqual(at, event_at - 0.25, what)
        self.assertLessEqual(at, event_at + SLACK, what)
        return inhibition

    def test_held_from_first_sound_to_pause_failure_and_quit_and_never_while_retrying(self):
        s = self.session
        app, item = self.start_app_with_menu()
        clicked = s.audio.now()
        s.tray.click(["Kovra Velmora"], item=item)
        _, _, flags, reason = self.check("taken", self.edge(clicked, True), 1, held=True)
        self.assertEqual((flags, reason), (SUSPEND, "Playing Kovra Velmora"))

        paused = s.audio.now()
        s.tray.click(["Kovra Velmora"], item=item)
        self.check("released on pause", self.edge(paused, False), 1, held=False)
        resumed = s.audio.now()
        s.tray.click(["Kovra Velmora"], item=item)
        self.check("taken on resume", self.edge(resumed, True), 2, held=True)

        # The host fails: the buffer plays out, then silence, then retries that do not sound.
        failed = s.audio.now()
        s.broadcaster.set_fault("velmora", "404")
        self.check("released on a host failure", self.edge(failed, False), 2, held=False)
        s.audio.assert_silent(6)
        self.assertEqual(len(self.inhibitions()), 2, "an inhibition while the stream retries")
        back = s.audio.now()
        s.broadcaster.clear_faults()
        self.check("taken when the host is back", self.edge(back, True), 3, held=True)

        quit_at = time.monotonic()
        self.assertEqual(app.terminate(), 0, app.log())
        self.check("released on quit", quit_at, 3, held=False, event="the request")


if __name__ == "__main__":
    kovratest.main()
