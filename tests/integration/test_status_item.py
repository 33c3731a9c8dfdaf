#!/usr/bin/python3
# The status item beyond its menu, through the tray protocol as panels speak it: a middle click pauses
# and resumes, the wheel steps the volume, the channel names itself beside the icon and in the tooltip;
# and the one volume that the wheel, MPRIS (playerctl) and the sound server's mixer (pactl) all show
# and set, heard at the sink and kept by the sound server from one run to the next.
import math
import re
import statistics
import sys
import time

import kovratest  # noqa: E402
import procutil  # noqa: E402
from audio import rms  # noqa: E402
from kovratest import mpris_state, wait_for_stream_volume  # noqa: E402

PLAYER = ["playerctl", "-p", "kovra_radio"]
# PulseAudio's software volume is cubic: a stream at v (0 to 1) of its volume sounds at v³ of its
# amplitude, 60·log10(v) dB. Measured on the sink's monitor against the tone at 100 %.
TOLERANCE_DB = 0.5


class StatusItem(kovratest.SharedSessionTest):

    def level(self):
        # The sink's level in dB once a change has reached it: the median of 0.1 s frames, which a
        # moment of the level before cannot move.
        time.sleep(0.3)
        frames = self.session.audio.frames(self.session.audio.record(0.8), 0.1)
        return statistics.median(20 * math.log10(max(rms(f), 1e-9)) for f in frames)

    def assert_heard_at(self, volume, db, when):
        want = 60 * math.log10(volume)
        print(f"[measured] sink level at {volume:.0%} {when}: {db:.2f} dB (the scale's {want:.2f})",
              file=sys.stderr)
        self.assertAlmostEqual(db, want, delta=TOLERANCE_DB, msg=when)

    def mpris_volume(self):
        return float(self.session.run(PLAYER + ["volume"], check=True).stdout)

    def set_volume(self, value):
        # Properties.Set of the Volume as any client may send it (dbus-send's "type:value"); the error, if any.
        result = self.session.run(["dbus-send", "--print-reply", "--dest=org.mpris.MediaPlayer2.kovra_radio",
                                   "/org/mpris/MediaPlayer2", "org.freedesktop.DBus.Properties.Set",
                                   "string:org.mpris.MediaPlayer2.Player", "string:Volume", f"variant:{value}"])
        return result.returncode and result.stderr

    def play_velmora_at_full_volume(self, item):
        # Asked for before the stream opens, it is the stream's volume from its start.
        self.session.run(PLAYER + ["volume", "1"], check=True)
        self.session.tray.click(["Kovra Velmora"], item=item)
        self.wait_until_playing("velmora", item)
        wait_for_stream_volume(self.session, 100)
        return self.level()

    def test_a_middle_click_pauses_and_resumes_and_every_door_steps_the_streams_own_volume(self):
        s = self.session
        app, item = self.start_app_with_menu()
        tip = lambda p: (p["ToolTip"]["title"], p["XAyatanaLabel"])  # noqa: E731
        props = s.tray.properties(item)
        # On X11 a click asks the app, which opens its menu at the icon.
        self.assertEqual((props["ItemIsMenu"], tip(props)), (False, ("Kovra Radio", "")))
        s.tray.call("SecondaryActivate", 0, 0, item=item)
        self.assert_nothing_happens(item)

        full = self.play_velmora_at_full_volume(item)
        self.assertEqual(tip(s.tray.properties(item)), ("Kovra Velmora", "Kovra Velmora"))
        bus = s.bus()
        self.addCleanup(bus.close)
        for channel, status in ((None, "Paused"), ("velmora", "Playing")):
            s.tray.call("SecondaryActivate", 0, 0, item=item)
            self.wait_until_playing(channel, item)
            self.assertEqual(mpris_state(bus), (status, "Kovra Velmora"))

        # Ten notches down, as GTK panels count them: 5 % of the server's scale each.
        for notch in range(1, 11):
            s.tray.call("Scroll", 1, "vertical", item=item)
            wait_for_stream_volume(s, 100 - 5 * notch)
        self.assert_heard_at(0.5, self.level() - full, "ten notches down")
        self.assertAlmostEqual(self.mpris_volume(), 0.5)
        # Plasma counts in eighths of a degree, upward; a host's values beyond any screen or wheel harm
        # nothing, and one event moves four notches at most.
        s.tray.call("Scroll", 240, "Vertical", item=item)
        wait_for_stream_volume(s, 60)
        s.tray.call("Activate", 2 ** 31 - 1, 2 ** 31 - 1, item=item)
        s.tray.call("Scroll", -2 ** 31, "vertical", item=item)
        wait_for_stream_volume(s, 40)
        self.assertTrue(app.alive(), app.log())
        # With no desktop portal the app cannot keep the computer awake, and says so once.
        self.assertEqual(app.log().count("no desktop portal keeps the computer from suspending"), 1, app.log())

        # The same volume is the stream's own for MPRIS and the mixer, and survives a restart.
        signals = kovratest.monitor_bus(self, s, "type='signal',path='/org/mpris/MediaPlayer2'")
        s.run(PLAYER + ["volume", "0.3"], check=True)
        wait_for_stream_volume(s, 30)
        self.assert_heard_at(0.3, self.level() - full, "set over MPRIS")
        # The mixer changes it: MPRIS reads and announces it.
        s.run(["pactl", "set-sink-input-volume", str(kovratest.sink_input(s)[0]), "45%"], check=True)
        procutil.wait_until(lambda: self.mpris_volume() == 0.45, 10, message="MPRIS to read the mixer's 45 %")
        procutil.wait_until(lambda: re.search(r'"Volume"\s+variant\s+double 0\.45', signals()), 10,
                            message="PropertiesChanged with Volume 0.45")
        # Beyond the scale it is clamped; what is no number of MPRIS's type is refused and changes nothing.
        for value, refused, percent in (("double:1.7", False, 100), ("double:-0.5", False, 0), ("string:loud", True, 0),
                                        ("boolean:true", True, 0), ("int32:1", True, 0), ("double:nan", True, 0)):
            self.assertEqual("InvalidArgs" in (self.set_volume(value) or ""), refused, value)
            wait_for_stream_volume(s, percent)
        self.assertEqual(self.mpris_volume(), 0.0)

        s.run(PLAYER + ["volume", "0.3"], check=True)
        wait_for_stream_volume(s, 30)
        app, item = self.restart_app(app)
        s.tray.click(["Kovra Velmora"], item=item)
        self.wait_until_playing("velmora", item)
        wait_for_stream_volume(s, 30)
        self.assert_heard_at(0.3, self.level() - full, "after a restart")
        procutil.wait_until(lambda: self.mpris_volume() == 0.3, 10, message="MPRIS to read the kept 30 %")


if __name__ == "__main__":
    kovratest.main()
