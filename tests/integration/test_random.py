#!/usr/bin/python3
# A listener doing two hundred things in a random order: menu clicks, Alt+1..5, media commands from
# the desktop. After each one the menu, the desktop's now-playing and the speakers must agree with
# what the person did, never two channels sound at once, and the app lives on.
# KOVRA_RANDOM_SEED replays a run; KOVRA_RANDOM_STEPS changes its length.
import os
import random
import sys
import time

import kovratest  # noqa: E402
from kovratest import CHANNEL_IDS, CHANNEL_NAMES, checked_channels, slot_labels  # noqa: E402
from trayhost import outline  # noqa: E402

SETTLE_TIMEOUT = 8.0   # how long the app may take to show a step's outcome
QUIET = 0.25           # a step's outcome is read no sooner, so late effects show in its own window


class RandomUse(kovratest.SessionTest):

    def test_two_hundred_random_steps_keep_menu_now_playing_and_sound_in_step(self):
        seed = int(os.environ.get("KOVRA_RANDOM_SEED") or 20240611)
        steps = int(os.environ.get("KOVRA_RANDOM_STEPS") or 200)
        print(f"random steps: seed {seed} (KOVRA_RANDOM_SEED), {steps} steps", file=sys.stderr, flush=True)
        rng = random.Random(seed)
        s = self.start_session()
        app, _ = self.start_app_with_item(s)
        bus = s.bus()
        self.addCleanup(bus.close)
        # What the person expects from what they did: the channel (index), whether it plays, the slots.
        model = {"current": None, "playing": False, "status": "Stopped", "slots": ["velmora", "tarvesi", "nimo", "", ""]}
        journal = []

        def select_or_toggle(i):
            if i is not None:
                playing = i != model["current"] or not model["playing"]
                model.update(current=i, playing=playing, status="Playing" if playing else "Paused")

        def mismatches(root):
            status, title = kovratest.mpris_state(bus)
            checked = checked_channels(root)
            want = [CHANNEL_NAMES[model["current"]]] if model["playing"] else []
            want_title = CHANNEL_NAMES[model["current"]] if model["current"] is not None else ""
            slots = [f"Alt+{n}: {CHANNEL_NAMES[CHANNEL_IDS.index(c)] if c else 'None'}"
                     for n, c in enumerate(model["slots"], 1)]
            return [f"{what} {got!r}, expected {exp!r}" for what, got, exp in (
                ("checked", checked, want), ("status", status, model["status"]), ("title", title, want_title),
                ("slots", slot_labels(root), slots)) if got != exp]

        def click_channel():
            i = rng.randrange(3)
            s.tray.click([CHANNEL_NAMES[i]])
            select_or_toggle(i)
            return f"click {CHANNEL_NAMES[i]}"

        def assign_slot():
            n, choice = rng.randrange(5), rng.randrange(4)
            label = CHANNEL_NAMES[choice - 1] if choice else "None"
            s.tray.click(["Keyboard Shortcuts", f"Alt+{n + 1}", label])
            model["slots"][n] = CHANNEL_IDS[choice - 1] if choice else ""
            return f"assign Alt+{n + 1} <- {label}"

        def hotkey():
            n = rng.randrange(5)
            s.run(["xdotool", "key", f"alt+{n + 1}"], check=True)
            slot = model["slots"][n]
            select_or_toggle(CHANNEL_IDS.index(slot) if slot else None)
            return f"Alt+{n + 1}"

        def media_command():
            command = rng.choice(["play", "pause", "play-pause", "next", "previous"])
            s.run(["playerctl", "-p", "kovra_radio", command])  # play before any channel fails by design
            if command == "play" and model["current"] is not None:
                model.update(playing=True, status="Playing")
            elif command == "pause" or (command == "play-pause" and model["playing"]):
                model.update(playing=False, status="Paused")
            elif command == "play-pause":
                select_or_toggle(model["current"])
            return f"playerctl {command}"

        actions, weights = zip((click_channel, 30), (assign_slot, 10), (hotkey, 25), (media_command, 30))
        for step in range(steps):
            before = (model["current"], model["playing"])
            t0 = s.audio.now()
            root = None
            try:
                journal.append(f"{step}: " + rng.choices(actions, weights)[0]())
                time.sleep(QUIET)
                deadline = time.monotonic() + SETTLE_TIMEOUT
                while True:
                    self.assertTrue(app.alive(), f"the app ended with status {app.proc.returncode}")
                    root = s.tray.layout()
                    problems = mismatches(root)
                    if not problems:
                        break
                    self.assertLess(time.monotonic(), deadline, "; ".join(problems))
                    time.sleep(0.05)
                # Where the sound should change, the right tone (or silence) must follow.
                if model["playing"] and before != (model["current"], True):
                    s.audio.wait_for_channel(CHANNEL_IDS[model["current"]], timeout=10, hold=0.4)
                elif not model["playing"] and before[1]:
                    s.audio.wait_for_silence(timeout=10, hold=0.4)
                s.audio.assert_never_together(s.audio.since(t0))
            except Exception as e:  # a hung or vanished app, a click that found no entry, a wrong outcome
                self.fail(f"seed {seed}, step {step}: {e}\nreplay: KOVRA_RANDOM_SEED={seed} "
                          f"KOVRA_RANDOM_STEPS={step + 1}\nsteps:\n  " + "\n  ".join(journal)
                          + f"\nmenu:\n{outline(root) if root else '(none)'}\napp log:\n{app.log()[-3000:]}")
        self.assertEqual(app.terminate(), 0, app.log())


if __name__ == "__main__":
    kovratest.main()
