#!/usr/bin/python3
# Watches the session bus from outside the app, stamping what it sees with the monotonic clock:
#   busprobe.py watch             one JSON line per tray/menu signal: {"t", "member", "sender", "args"}
#   busprobe.py ping NAME PATH    Properties.Get on NAME every 2 ms, one line per answer: "t_sent latency"
# QtDBus answers a property read of an object living on the main thread from the main thread, so the
# ping's latency shows how long that thread was busy.
import json
import os
import signal
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "fixtures"))

import dbus  # noqa: E402


def watch():
    import dbus.mainloop.glib
    from gi.repository import GLib
    dbus.mainloop.glib.DBusGMainLoop(set_as_default=True)
    bus = dbus.bus.BusConnection(os.environ["DBUS_SESSION_BUS_ADDRESS"])
    out = sys.stdout

    def seen(*args, **kw):
        t = time.monotonic()
        out.write(json.dumps({"t": t, "member": str(kw.get("member")), "sender": str(kw.get("sender")),
                              "args": [str(a) for a in args[:1]]}) + "\n")
        out.flush()

    for iface in ("org.kde.StatusNotifierWatcher", "com.canonical.dbusmenu", "org.kde.StatusNotifierItem"):
        bus.add_signal_receiver(seen, dbus_interface=iface, member_keyword="member", sender_keyword="sender")
    loop = GLib.MainLoop()
    for sig in (signal.SIGTERM, signal.SIGINT):
        GLib.unix_signal_add(GLib.PRIORITY_HIGH, sig, lambda *_: (loop.quit(), False)[1])
    print(json.dumps({"ready": True}), flush=True)
    loop.run()


def ping(name, path, interface, prop):
    bus = dbus.bus.BusConnection(os.environ["DBUS_SESSION_BUS_ADDRESS"])
    obj = bus.get_object(name, path, introspect=False)
    get = obj.get_dbus_method("Get", "org.freedesktop.DBus.Properties")
    stop = []
    signal.signal(signal.SIGTERM, lambda *_: stop.append(1))
    print("ready", flush=True)
    lines = []
    while not stop:
        t = time.monotonic()
        try:
            get(interface, prop, timeout=5)
            lines.append(f"{t:.6f} {time.monotonic() - t:.6f}")
        except dbus.DBusException:
            lines.append(f"{t:.6f} -1")
        if len(lines) >= 200:
            sys.stdout.write("\n".join(lines) + "\n")
            sys.stdout.flush()
            lines.clear()
        rest = 0.002 - (time.monotonic() - t)
        if rest > 0:
            time.sleep(rest)
    sys.stdout.write("\n".join(lines) + ("\n" if lines else ""))
    sys.stdout.flush()


if __name__ == "__main__":
    if sys.argv[1] == "watch":
        watch()
    else:
        ping(*sys.argv[2:6])
