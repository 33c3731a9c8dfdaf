#!/usr/bin/python3
# The global shortcuts Alt+1 to Alt+5 on the real binary: what a person presses, what they hear and
# what the tray menu then shows; the slot list in settings.json across restarts and hand edits.

import kovratest  # noqa: E402
from kovratest import CHANNEL_NAMES, read_settings, slot_labels  # noqa: E402

DEFAULT_SLOTS = ["velmora", "tarvesi", "nimo", "", ""]


class Hotkeys(kovratest.SharedSessionTest):

    def test_alt_1_and_alt_5_play_their_slots_and_other_digit_keys_do_nothing(self):
        # A sixth stored entry is kept but has no shortcut: Alt+6 must not reach it.
        _, item = self.start_app_with_menu(settings={"hotkeyChannels": ["velmora", "tarvesi", "nimo", "", "nimo",
                                                                         "tarvesi"]})

        # Keys that are no shortcut of ours: the digit 6 with Alt, the digit 1 with Ctrl or alone.
        self.press("alt+6", "ctrl+1", "1")
        self.assert_nothing_happens(item)

        self.press("alt+1")
        self.wait_until_playing("velmora", item)
        self.press("alt+5")
        self.wait_until_playing("nimo", item)

    def test_slot_n_on_the_command_line_starts_the_app_and_presses_that_slot(self):
        _, item = self.start_app_with_menu(args=["--slot", "3"])
        self.wait_until_playing("nimo", item)

    def test_slot_changes_made_in_the_menu_survive_a_restart(self):
        s = self.session
        app, item = self.start_app_with_menu()
        s.tray.click(["Keyboard Shortcuts", "Alt+5", "Kovra Tarvesi"], item=item)
        s.tray.click(["Keyboard Shortcuts", "Alt+2", "None"], item=item)
        want = [f"Alt+1: {CHANNEL_NAMES[0]}", "Alt+2: None", f"Alt+3: {CHANNEL_NAMES[2]}", "Alt+4: None",
                f"Alt+5: {CHANNEL_NAMES[1]}"]
        s.tray.wait_for_layout(lambda r: slot_labels(r) == want, item=item, message=f"slots {want}")

        app, item = self.restart_app(app)
        self.assertEqual(read_settings(s)["hotkeyChannels"], ["velmora", "", "nimo", "", "tarvesi"])
        self.assertEqual(slot_labels(s.tray.layout(item)), want, s.tray.outline(item))
        self.press("alt+2")
        self.assert_nothing_happens(item)
        self.press("alt+5")
        self.wait_until_playing("tarvesi", item)

    def test_a_hand_corrupted_settings_file_gives_way_to_the_defaults(self):
        s = self.session
        defaults = [f"Alt+{n}: {name}" for n, name in enumerate(CHANNEL_NAMES + ["None", "None"], 1)]
        corruptions = {
            "garbage bytes": b"\x00\xff{\"hotkeyChannels\": [\"nimo\"\x9c\x01",
            "a number among the ids": {"hotkeyChannels": ["nimo", 7, "velmora", "", ""]},
        }
        app, _ = self.start_app_with_menu()  # each file is then written as by hand while the app is away
        for name, content in corruptions.items():
            with self.subTest(settings=name):
                app, item = self.restart_app(app, settings=content)
                self.assertEqual(slot_labels(s.tray.layout(item)), defaults, s.tray.outline(item))
                self.assertEqual(read_settings(s)["hotkeyChannels"], DEFAULT_SLOTS)
                self.assertTrue(app.alive())
        # What could not be parsed is kept beside the new file, and the log says so once.
        with open(s.settings_path() + ".unreadable", "rb") as f:
            self.assertEqual(f.read(), corruptions["garbage bytes"])
        self.assertEqual(sum(a.log().count("settings.json.unreadable") for a in s.apps), 1)


if __name__ == "__main__":
    kovratest.main()
