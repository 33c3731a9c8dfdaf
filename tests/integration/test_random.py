#!/usr/bin/python3
# A listener doing two hundred things in a random order: menu clicks, Alt+1..5, media commands from
# the desktop. After each one the menu, the desktop's now-playing and the speakers must agree with
# what the person did, never two channels sound at once, and the app lives on.
# KOVRA_RANDOM_SEED replays a run; KOVRA_RANDOM_STEPS changes its length.
import os
import random
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "fixtures"))
import kovratest  # noqa: E402
from kovratest import CHANNEL_IDS, CHANNEL_NAMES  # noqa: E402
from trayhost import find_child, outline  # noqa: E402

DEFAULT_SEED = 20240611
MPRIS_NAME = "org.mpris.MediaPlayer2.kovra_radio"
MPRIS_PATH = "/org/mpris/MediaPlayer2"
SETTLE_TIMEOUT = 8.0   # how long the app may take to show a step's outcome
QUIET = 0.25           # a step's outcome is read no sooner, so late effects show in its own window


class Model:
    """What the person expects, from what they did: the select-or-toggle rule, the slots, the login item."""

    def __init__(self):
        self.current = None          # channel index
        self.playing = False
        self.status = "Stopped"
        self.slots = ["velmora", "tarvesi", "nimo", "", ""]
        self.login = False

    def play(self, i):
        self.current, self.playing, self.status = i, True, "Playing"

    def set_playing(self, playing):
        self.playing = playing and self.current is not None
        self.status = "Playing" if playing else "Paused"

    def select_or_toggle(self, i):
        if i is None:
            return
        if i != self.current:
            self.play(i)
        else:
            self.set_playing(not self.playing)

    def slot_channel(self, slot):
        cid = self.slots[slot]
        return CHANNEL_IDS.index(cid) if cid in CHANNEL_IDS else None


def visible(node):
    return [c for c in node["children"] if c["visible"] and c["type"] != "separator"]


class RandomUse(kovratest.SessionTest):

    def test_two_hundred_random_steps_keep_menu_now_playing_and_sound_in_step(self):
        seed = int(os.environ.get("KOVRA_RANDOM_SEED") or DEFAULT_SEED)
        steps = int(os.environ.get("KOVRA_RANDOM_STEPS") or 200)
        print(f"random steps: seed {seed} (KOVRA_RANDOM_SEED), {steps} steps", file=sys.stderr, flush=True)
        rng = random.Random(seed)
        s = self.start_session()
        app, _ = self.start_app_with_item(s)
        bus = s.bus()
        self.addCleanup(bus.close)
        model = Model()
        journal = []
        none_label = [None]
        tone_checks = {"play": 0, "silence": 0}

        def layout():
            return s.tray.layout()

        def shortcuts_node(root):
            return next(c for c in visible(root) if c["children_display"] == "submenu")

        def mpris():
            player = bus.get_object(MPRIS_NAME, MPRIS_PATH, introspect=False)
            props = player.GetAll("org.mpris.MediaPlayer2.Player", dbus_interface="org.freedesktop.DBus.Properties",
                                  timeout=5)
            title = props["Metadata"].get("xesam:title")
            return str(props["PlaybackStatus"]), (str(title) if title is not None else None)

        def fail(step, why, root=None):
            detail = outline(root) if root else "(no menu read)"
            self.fail(f"seed {seed}, step {step}: {why}\nreplay: KOVRA_RANDOM_SEED={seed} KOVRA_RANDOM_STEPS={step + 1}"
                      f"\nsteps:\n  " + "\n  ".join(journal) + f"\nmenu:\n{detail}\napp log:\n{app.log()[-3000:]}")

        def mismatches(root, status, title):
            """How the app's menu and now-playing differ from the model, and from each other."""
            out = []
            entries = visible(root)
            checked = [e["label"] for e in entries[:3] if e["toggle_state"] == 1]
            # The menu and the desktop's now-playing must tell the same story on their own...
            if (status == "Playing") != bool(checked) or (checked and checked != [title]):
                out.append(f"menu checks {checked} while now playing says {status} {title!r}")
            # ...and it must be the one the person asked for.
            want_checked = [CHANNEL_NAMES[model.current]] if model.playing else []
            if checked != want_checked:
                out.append(f"checked {checked}, expected {want_checked}")
            if status != model.status:
                out.append(f"status {status}, expected {model.status}")
            want_title = CHANNEL_NAMES[model.current] if model.current is not None else None
            if title != want_title:
                out.append(f"title {title!r}, expected {want_title!r}")
            for i, entry in enumerate(entries[:3]):
                lowest = next((n for n, cid in enumerate(model.slots) if cid == CHANNEL_IDS[i]), None)
                want = [["Alt", str(lowest + 1)]] if lowest is not None else []
                if entry["shortcut"] != want:
                    out.append(f"{entry['label']} shows shortcut {entry['shortcut']}, expected {want}")
            slots = visible(shortcuts_node(root))
            none_label[0] = visible(slots[0])[0]["label"]
            for n, slot in enumerate(slots):
                i = model.slot_channel(n)
                want = f"⌥{n + 1}: {CHANNEL_NAMES[i] if i is not None else none_label[0]}"
                marks = [c["label"] for c in visible(slot) if c["toggle_state"] == 1]
                want_marks = [CHANNEL_NAMES[i] if i is not None else none_label[0]]
                if slot["label"] != want or marks != want_marks:
                    out.append(f"slot shows {slot['label']!r} {marks}, expected {want!r} {want_marks}")
            launch = next(e for e in entries if e["label"].startswith("Launch at Login"))
            if (launch["toggle_state"] == 1) != model.login:
                out.append(f"launch at login checked={launch['toggle_state'] == 1}, expected {model.login}")
            return out

        def click_channel():
            i = rng.randrange(3)
            s.tray.click([CHANNEL_NAMES[i]])
            model.select_or_toggle(i)
            return f"click {CHANNEL_NAMES[i]}"

        def assign_slot():
            root = layout()
            shortcuts = shortcuts_node(root)
            n = rng.randrange(5)
            slot = visible(shortcuts)[n]
            choice = rng.randrange(4)
            entry = visible(slot)[choice]
            s.tray.click([shortcuts["label"], slot["label"], entry["label"]])
            model.slots[n] = CHANNEL_IDS[choice - 1] if choice else ""
            return f"assign {slot['label'][:2]} <- {entry['label']}"

        def toggle_login():
            s.tray.click(["Launch at Login"])
            model.login = not model.login
            return "click Launch at Login"

        def check_updates():
            s.tray.click(["Check for Updates"])
            return "click Check for Updates"

        def hotkey():
            n = rng.randrange(1, 6)
            s.run(["xdotool", "key", f"alt+{n}"], check=True)
            model.select_or_toggle(model.slot_channel(n - 1))
            return f"Alt+{n}"

        def media_command():
            command = rng.choice(["play", "pause", "play-pause", "next", "previous"])
            s.run(["playerctl", "-p", "kovra_radio", command])  # play before any channel fails by design
            if command == "play" and model.current is not None:
                model.play(model.current)
            elif command == "pause" or (command == "play-pause" and model.playing):
                model.set_playing(False)
            elif command == "play-pause" and model.current is not None:
                model.set_playing(True)
            return f"playerctl {command}"

        doors = [(click_channel, 30), (assign_slot, 10), (toggle_login, 3), (check_updates, 2),
                 (hotkey, 25), (media_command, 30)]
        actions, weights = zip(*doors)

        for step in range(steps):
            before = (model.current, model.playing)
            t0 = s.audio.now()
            action = rng.choices(actions, weights)[0]
            try:
                journal.append(f"{step}: " + action())
            except Exception as e:  # a hung or vanished app, a click that found no entry
                journal.append(f"{step}: {action.__name__} failed")
                fail(step, repr(e))
            time.sleep(QUIET)
            deadline = time.monotonic() + SETTLE_TIMEOUT
            while True:
                if not app.alive():
                    fail(step, f"the app ended with status {app.proc.returncode}")
                root = layout()
                status, title = mpris()
                try:
                    problems = mismatches(root, status, title)
                except (StopIteration, IndexError) as e:  # read while the app refilled it
                    problems = [f"the menu is incomplete ({e!r})"]
                if not problems:
                    break
                if time.monotonic() > deadline:
                    fail(step, "; ".join(problems), root)
                time.sleep(0.05)
            try:
                # Where the sound should change, the right tone (or silence) must follow.
                if model.playing and before != (model.current, True):
                    tone_checks["play"] += 1
                    s.audio.wait_for_channel(CHANNEL_IDS[model.current], timeout=10, hold=0.4)
                elif not model.playing and before[1]:
                    tone_checks["silence"] += 1
                    s.audio.wait_for_silence(timeout=10, hold=0.4)
                # Everything heard since the step began, the wait for the tone included.
                s.audio.assert_never_together(s.audio.between(t0, s.audio.now()))
            except AssertionError as e:
                fail(step, str(e), root)

        print(f"random steps: {steps} steps, seed {seed}, tone checks {tone_checks}", file=sys.stderr)
        self.assertEqual(app.terminate(), 0, app.log())


if __name__ == "__main__":
    kovratest.main()
