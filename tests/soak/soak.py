#!/usr/bin/python3
# A seeded chaos soak of the real binary: random listener actions (menu clicks, Alt+N, media
# commands, skips, quits and restarts) and random server faults of 2 to 50 s (cut connections,
# hangs, 404s, garbage, the whole host gone), with what a listener relies on checked after every
# step: the app lives, never two tones at once, the menu and the media controls say Playing exactly
# while the chosen channel sounds, sound is back within 5 s of a heal, no gap of 100 ms once a
# channel sounds in steady play, and memory stays bounded. Prints its seed; --seed replays a run.
# (tests/integration/test_random.py walks the same listener briefly, on a server that never fails.)
#     soak.py --bin build/kovra-radio [--minutes 30] [--seed N] [--segment 2]
import argparse
import os
import random
import signal
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "fixtures"))
import procutil  # noqa: E402

from kovratest import CHANNEL_IDS, CHANNEL_NAMES, channel_entries, checked_channels, mpris_state  # noqa: E402
from procutil import proc_rss  # noqa: E402
from session import Session  # noqa: E402

# Opening may show Playing this long before sound, and a stream that went quiet this long after
# it; a loaded machine is given a little more.
SETTLE = 5.0
RECOVERY = 5.0
GAP = 0.1
# The stream cache (8 MiB behind, 8 ahead) and the allocator's slack.
MEMORY_MIB = 24
FAULTS = ("drop", "stall", "404", "garbage", "gone")


class Soak:
    # What the listener does (a kind listed twice is drawn twice as often), and how long what the app
    # says and what is heard may take to agree after a step.
    KINDS = ["click", "click", "key", "toggle", "play", "pause", "next", "previous", "quit", "listen"]
    settle = SETTLE

    def __init__(self, session, rng, log):
        self.s, self.rng, self.log = session, rng, log
        self.bus = session.bus()
        self.violations, self.fault, self.steps = [], None, 0
        self.start()

    def start(self):
        self.app = self.s.start_app()
        self.item = self.s.tray.wait_for_item(timeout=30)
        self.s.tray.wait_for_layout(lambda r: len(channel_entries(r)) == len(CHANNEL_NAMES), item=self.item,
                                    message="the first menu")
        self.base_rss = None

    def violation(self, what):
        self.log(f"VIOLATION: {what}")
        self.violations.append(what)

    # -- what the app says, and what is heard ------------------------------------------------------

    def told(self):
        status, title = mpris_state(self.bus)
        return status, title, checked_channels(self.s.tray.layout(self.item))

    def wanted(self):
        # The listener's choice, when it is meant to play (failed or not); None when paused or unchosen.
        status, title, _ = self.told()
        return CHANNEL_IDS[CHANNEL_NAMES.index(title)] if title in CHANNEL_NAMES and status != "Paused" else None

    def agree(self):
        status, title, menu = self.told()
        tones = self.s.audio.which_channels_sound()
        if status != "Playing":
            return not menu and not tones
        return menu == [title] and tones == {CHANNEL_IDS[CHANNEL_NAMES.index(title)]}

    def check(self, since):
        self.steps += 1
        if not self.app.alive():
            self.violation(f"the app ended with status {self.app.proc.returncode}")
            self.log(self.app.log()[-3000:])
            return self.start()
        try:
            procutil.wait_until(self.agree, self.settle, interval=0.1, message="agreement")
        except AssertionError:
            self.violation(f"told {self.told()} while hearing {self.s.audio.which_channels_sound() or 'silence'}")
        try:
            self.s.audio.assert_never_together(self.s.audio.since(since))
        except AssertionError as e:
            self.violation(str(e))
        rss = proc_rss(self.app.pid) / 2**20
        if self.base_rss is None and self.s.audio.which_channels_sound():
            self.base_rss = rss
        elif self.base_rss is not None and rss - self.base_rss > MEMORY_MIB:
            self.violation(f"resident memory {rss:.0f} MiB, {self.base_rss:.0f} at first sound")
            self.base_rss = float("inf")  # said once per instance

    def steady(self, what, seconds, asked=None):
        # Once the chosen channel sounds, it sounds on while the host serves: judged after a command's
        # hand-over (the silence before the sound it asked for, whose first sound the bench times).
        channel = self.wanted()
        if self.fault or not channel:
            return
        try:
            began = self.s.audio.wait_for_channel(channel, timeout=SETTLE, hold=0.25)
        except AssertionError:
            return  # told and heard agreed already, or check() said otherwise
        time.sleep(max(0.0, began + seconds - time.monotonic()))
        heard = self.s.audio.since(began if asked is None else asked)
        gap = self.s.audio.longest_gap(heard, handover=asked is not None)
        if gap >= GAP:
            self.violation(f"a {gap:.2f} s gap in the {seconds:.0f} s after {what}")

    # -- the listener --------------------------------------------------------------------------------

    def act(self):
        # One random action; returns its kind and the channel (or slot) drawn for it.
        kind = self.rng.choice(self.KINDS)
        channel = self.rng.randrange(3)
        self.log(f"listener: {kind}{f' {CHANNEL_IDS[channel]}' if kind in ('click', 'key') else ''}")
        if kind == "click":
            self.s.tray.click([CHANNEL_NAMES[channel]], item=self.item)
        elif kind == "key":
            self.s.run(["xdotool", "key", f"alt+{channel + 1}"], check=True)
        elif kind in ("toggle", "play", "pause", "next", "previous"):
            self.s.run(["playerctl", "-p", "kovra_radio", {"toggle": "play-pause"}.get(kind, kind)])
        elif kind == "quit":
            asked = time.monotonic()
            self.s.tray.click(["Quit"], item=self.item)
            status = self.app.wait(timeout=15)
            if status != 0 or time.monotonic() - asked > 2:
                self.violation(f"quit ended with status {status} after {time.monotonic() - asked:.1f} s")
            self.s.tray.wait_for_no_item(timeout=10)
            self.start()
        return kind, channel

    # -- the server ----------------------------------------------------------------------------------

    def break_server(self):
        b, mode = self.s.broadcaster, self.rng.choice(FAULTS)
        channel = self.wanted() or self.rng.choice(CHANNEL_IDS)
        if self.rng.random() < 0.3:
            channel = self.rng.choice(CHANNEL_IDS)
        scope = self.rng.choice(["all", "segments", "playlist"])
        seconds = self.rng.uniform(2, 50)
        self.fault = f"{mode} {'the host' if mode == 'gone' else f'{channel} {scope}'} for {seconds:.0f} s"
        self.log(f"server: {self.fault}")
        b.set_listening(False) if mode == "gone" else b.set_fault(channel, mode, scope)
        until = time.monotonic() + seconds
        while time.monotonic() < until:
            t0 = time.monotonic()
            if self.rng.random() < 0.4:
                self.act()
            self.check(t0)
            time.sleep(max(0.0, min(until, t0 + 3) - time.monotonic()))
        b.set_listening(True), b.clear_faults()
        self.fault = None
        healed = time.monotonic()
        channel = self.wanted()
        if channel:
            try:
                self.s.audio.wait_for_channel(channel, timeout=RECOVERY + 0.25, hold=0.25)
            except AssertionError:
                self.violation(f"{channel} not back within {RECOVERY:.0f} s of the heal ({self.told()})")
        self.check(healed)
        self.steady("the heal", 5)

    def step(self):
        t0 = time.monotonic()
        if self.rng.random() < 0.15:
            self.break_server()
            return
        kind, _ = self.act()
        self.check(t0)
        if kind == "play":
            time.sleep(1.5)  # the play command opens the stream afresh, playing or not
        if kind not in ("pause", "quit"):
            self.steady(f"a {kind}", self.rng.uniform(3, 10) if kind == "listen" else 4,
                        None if kind == "listen" else t0)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--bin", required=True)
    parser.add_argument("--minutes", type=float, default=30)
    parser.add_argument("--seed", type=int, default=None)
    parser.add_argument("--segment", type=float, default=2)
    args = parser.parse_args()
    seed = args.seed if args.seed is not None else random.SystemRandom().randrange(2**31)
    started = time.monotonic()

    def log(text):
        print(f"[{time.monotonic() - started:7.1f}] {text}", flush=True)
    log(f"soak seed {seed}, {args.minutes:g} minutes, {args.segment:g} s segments (replay: --seed {seed})")
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))
    with Session(binary=os.path.abspath(args.bin), segment_seconds=args.segment) as session:
        soak = Soak(session, random.Random(seed), log)
        while time.monotonic() - started < args.minutes * 60:
            soak.step()
        log(f"soak seed {seed}: {soak.steps} steps, {len(soak.violations)} violations")
        for v in soak.violations:
            print(f"  {v}")
    return 1 if soak.violations else 0


if __name__ == "__main__":
    sys.exit(main())
