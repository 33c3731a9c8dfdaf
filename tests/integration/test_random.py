#!/usr/bin/python3
# A listener doing two hundred things in a random order: the soak's listener (tests/soak) on a server
# that never fails, who also sets the slots. After each step the menu, the desktop's now-playing, the
# slot labels and the speakers must agree with what the person did, never two channels sound at once,
# and the app lives on. KOVRA_RANDOM_SEED replays a run; KOVRA_RANDOM_STEPS changes its length.
import os
import random
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "soak"))
import kovratest  # noqa: E402
from kovratest import CHANNEL_IDS, CHANNEL_NAMES, slot_labels  # noqa: E402
from soak import Soak  # noqa: E402

QUIET = 0.25  # a step's outcome is read no sooner, so late effects show in its own window


def name_of(channel_id):
    return CHANNEL_NAMES[CHANNEL_IDS.index(channel_id)] if channel_id else "None"


class Listener(Soak):
    # What the person expects from what they did: the channel, whether it plays, the status, the slots.
    KINDS = ["click", "click", "key", "toggle", "play", "pause", "next", "previous"]
    settle = 10.0  # a step's outcome, sound included, may take this long on a loaded machine

    def __init__(self, session, rng, log):
        self.channel, self.playing, self.status = None, False, "Stopped"
        self.slots = ["velmora", "tarvesi", "nimo", "", ""]
        super().__init__(session, rng, log)

    def choose(self, channel):
        # A channel chosen from the menu or by its key plays, or pauses and resumes when it is the one chosen.
        if channel:
            self.playing = channel != self.channel or not self.playing
            self.channel, self.status = channel, "Playing" if self.playing else "Paused"

    def act(self):
        # The soak listener's actions, and the slot assignments and keys Alt+4 and Alt+5 it leaves alone.
        draw = self.rng.random()
        if draw < 0.1:
            n, channel = self.rng.randrange(5), self.rng.choice(CHANNEL_IDS + [""])
            self.log(f"listener: Alt+{n + 1} set to {name_of(channel)}")
            self.s.tray.click(["Keyboard Shortcuts", f"Alt+{n + 1}", name_of(channel)], item=self.item)
            self.slots[n] = channel
        elif draw < 0.2:
            n = self.rng.randrange(3, 5)
            self.log(f"listener: key Alt+{n + 1}")
            self.s.run(["xdotool", "key", f"alt+{n + 1}"], check=True)
            self.choose(self.slots[n])
        else:
            kind, n = super().act()
            if kind in ("click", "key"):
                self.choose(CHANNEL_IDS[n] if kind == "click" else self.slots[n])
            elif kind == "play" and self.channel:  # play before any channel fails by design
                self.playing, self.status = True, "Playing"
            elif kind == "pause" or (kind == "toggle" and self.playing):
                self.playing, self.status = False, "Paused"
            elif kind == "toggle":
                self.choose(self.channel)

    def expected(self):
        title = name_of(self.channel) if self.channel else ""
        slots = [f"Alt+{n}: {name_of(channel)}" for n, channel in enumerate(self.slots, 1)]
        return self.status, title, [title] if self.playing else [], slots

    def agree(self):
        told = self.told() + (slot_labels(self.s.tray.layout(self.item)),)
        return told == self.expected() and super().agree()

    def violation(self, what):
        super().violation(f"{what}, expected {self.expected()}")

    def step(self):
        since = time.monotonic()
        self.act()
        time.sleep(QUIET)
        self.check(since)


class RandomUse(kovratest.SessionTest):

    def test_two_hundred_random_steps_keep_menu_now_playing_and_sound_in_step(self):
        seed = int(os.environ.get("KOVRA_RANDOM_SEED") or 20240611)
        steps = int(os.environ.get("KOVRA_RANDOM_STEPS") or 200)
        print(f"random steps: seed {seed} (KOVRA_RANDOM_SEED), {steps} steps", file=sys.stderr, flush=True)
        journal = []
        listener = Listener(self.start_session(), random.Random(seed), journal.append)
        for step in range(steps):
            try:
                listener.step()
            except Exception as e:  # a hung or vanished app, a click that found no entry
                listener.violation(repr(e))
            if listener.violations:
                done = "\n  ".join(journal)
                self.fail(f"seed {seed}, step {step}: {listener.violations[0]}\n"
                          f"replay: KOVRA_RANDOM_SEED={seed} KOVRA_RANDOM_STEPS={step + 1}\n"
                          f"steps:\n  {done}\nmenu:\n{listener.s.tray.outline(listener.item)}\n"
                          f"app log:\n{listener.app.log()[-3000:]}")
        self.assertEqual(listener.app.terminate(), 0, listener.app.log())


if __name__ == "__main__":
    kovratest.main()
