#!/usr/bin/python3
# The real binary against what should never silence it for good: a stream host that hangs for long
# (also from the middle of a channel switch), another local process crowding the relay's loopback
# port with idle and trickling connections while the app has a desktop's usual 1,024 open files, and
# a desktop portal that answers everything with values of the wrong types.
import os
import resource
import socket
import subprocess
import sys
import time

import kovratest  # noqa: E402
import procutil  # noqa: E402
from procutil import proc_rss  # noqa: E402
from test_faults import FaultSteps, measured  # noqa: E402

HANG_SECONDS = 45
# The relay holds at most this many connections at once; the media core's own come on top.
RELAY_CONNECTIONS = 128


def open_files(pid):
    return len(os.listdir(f"/proc/{pid}/fd"))


def resident(pid):
    # Resident bytes a few seconds on, the median of a reading every half second.
    readings = []
    for _ in range(7):
        time.sleep(0.5)
        readings.append(proc_rss(pid))
    return sorted(readings)[3]


class Hold(FaultSteps, kovratest.SharedSessionTest):

    def test_a_host_hung_for_45_seconds_is_heard_again_within_seconds_of_its_return(self):
        s = self.session
        app, item = self.start_app_with_menu()
        for switching in (False, True):
            with self.subTest(hang="from a switch" if switching else "while playing"):
                self.play(item, "velmora" if switching else "tarvesi")
                hung_at = s.audio.now()
                s.broadcaster.set_fault("tarvesi", "stall")
                if switching:
                    self.click_channel(item, "tarvesi")
                self.wait_for_stalled_request("tarvesi", hung_at)
                procutil.wait_until(lambda: s.audio.now() - hung_at >= HANG_SECONDS, HANG_SECONDS + 5, interval=0.5,
                                    message="the hang to last")
                s.audio.assert_silent(0.5)
                what = f"{HANG_SECONDS} s hang {'from a switch' * switching}"
                self.assert_back_by_itself(item, "tarvesi", what)

    def test_a_crowd_of_idle_and_trickling_connections_silences_nothing_and_costs_nothing_after(self):
        s = self.session
        app, item = self.start_app_with_menu()
        # A desktop session's usual limit; the crowd alone would be more than it.
        s.run(["prlimit", f"--pid={app.pid}", "--nofile=1024:1024"], check=True)
        self.play(item, "velmora")
        port = int(self.listening(app)[0].rsplit(":", 1)[1])
        files_before, rss_before = open_files(app.pid), resident(app.pid)
        crowd = procutil.spawn([sys.executable, os.path.abspath(__file__), "--crowd", str(port)],
                               stdout=subprocess.PIPE)
        self.addCleanup(procutil.stop, crowd)
        self.assertEqual(crowd.stdout.readline().strip(), b"crowding")
        started, files, rss = s.audio.now(), [], []
        while s.audio.now() - started < 12:
            files.append(open_files(app.pid)), rss.append(proc_rss(app.pid))
            time.sleep(0.2)
        gap = s.audio.longest_gap(s.audio.since(started))
        procutil.stop(crowd)
        rss_after = resident(app.pid)
        files_after = open_files(app.pid)
        mib = 2 ** 20
        measured(f"crowd: open files before {files_before}, at most {max(files)} during, after",
                 files_after, "")
        measured(f"crowd: resident MiB before {rss_before / mib:.1f}, at most {max(rss) / mib:.1f} "
                 "during, after", rss_after / mib, "MiB")
        measured("crowd: longest gap in the sound", gap)
        self.assertLess(gap, 0.15, "the tone broke off while the crowd came")
        self.assertLessEqual(max(files), files_before + RELAY_CONNECTIONS + 32)
        self.assertLess(rss_after - rss_before, 5 * mib)
        self.assert_alive(app)

    def test_a_portal_answering_with_wrong_types_is_taken_for_none(self):
        s = self.session
        app = None
        for mode in ("everything", "requests"):
            with self.subTest(wrong=mode):
                portal = procutil.spawn([sys.executable, os.path.abspath(__file__), "--wrong-portal", mode],
                                        env=s.base_env(), stdout=subprocess.PIPE)
                self.addCleanup(procutil.stop, portal)
                self.assertEqual(portal.stdout.readline().strip(), b"ready")
                env = {"XDG_SESSION_TYPE": "wayland"}
                app, item = self.restart_app(app, env=env) if app else self.start_app_with_menu(env=env)
                if mode == "everything":
                    # No version it can read: as with no portal, the X11 grabs take the keys.
                    procutil.wait_until(lambda: "slot-5" in portal_log(s), 10, message="the probe")
                    self.press("alt+2")
                else:
                    # Every request answered with the wrong types, over and over: the app keeps asking,
                    # and `--slot N` still plays.
                    procutil.wait_until(lambda: portal_log(s).count("CreateSession") >= 3, 20,
                                        message="three sessions asked for")
                    slot = s.start_app(args=["--slot", "2"], env=env)
                    self.assertEqual(slot.wait(15), 0, slot.log())
                self.wait_until_playing("tarvesi", item)
                procutil.stop(portal)


def portal_log(session):
    # What the wrong portal was asked, a line a call.
    with open(os.path.join(session.dir, "wrong-portal.log")) as f:
        return f.read()


def crowd(port):
    # Another local process: 1,000 connections that say nothing and 200 that trickle a request head,
    # each opened again when the app closes it (at most 500 a second).
    resource.setrlimit(resource.RLIMIT_NOFILE, (4096, resource.getrlimit(resource.RLIMIT_NOFILE)[1]))
    idle, trickling = [], []
    print("crowding", flush=True)
    while True:
        for group, want in ((idle, 1000), (trickling, 200)):
            group[:] = [c for c in group if c.fileno() >= 0]
            for _ in range(min(50, want - len(group))):
                try:
                    group.append(socket.create_connection(("127.0.0.1", port), timeout=1))
                except OSError:
                    break
        for c in trickling:
            try:
                c.send(b"GET /crowd")
            except OSError:
                c.close()
        for c in idle[:50]:
            try:  # a connection the app closed reads as the end
                c.setblocking(False)
                if c.recv(1) == b"":
                    c.close()
            except BlockingIOError:
                pass
            except OSError:
                c.close()
        idle.append(idle.pop(0)) if idle else None
        time.sleep(0.1)


def wrong_portal(mode):
    # Owns the portal's name and answers every call, Response, Activated and ShortcutsChanged with
    # other types than the interface's ("requests": all but the version, so that sessions are asked for).
    import dbus
    import dbus.service
    from dbus.mainloop.glib import DBusGMainLoop
    from gi.repository import GLib
    DBusGMainLoop(set_as_default=True)
    bus, path = dbus.SessionBus(), "/org/freedesktop/portal/desktop"
    shortcuts = "org.freedesktop.portal.GlobalShortcuts"
    log = open(os.path.join(os.environ["HOME"], "..", "wrong-portal.log"), "a", buffering=1)
    responses = [("ua{ss}", [0, {"session_handle": path}]), ("ua{is}", [0, {1: "x"}]), ("u(ii)", [0, (1, 2)]),
                 ("sa{sv}", ["0", {"session_handle": dbus.ObjectPath(path)}]),
                 ("ua{sv}", [0, {"session_handle": dbus.Int32(5), "shortcuts": dbus.Array([(1, 2)], "(ii)")}])]
    signals = [("Activated", "ii", [1, 2]), ("Activated", "sa{ss}", [path, {"slot-1": "x"}]),
               ("ShortcutsChanged", "oa{ss}", [path, {"a": "b"}]), ("ShortcutsChanged", "o(ii)", [path, (1, 2)])]

    def send(where, interface, member, signature, args):
        message = dbus.lowlevel.SignalMessage(where, interface, member)
        message.append(*args, signature=signature)
        bus.send_message(message)

    def answer(method, sender, options):
        log.write(f"{method}\n")
        token = str(options.get("handle_token", ""))
        request = f"{path}/request/{sender[1:].replace('.', '_')}/{token}"
        send(request, "org.freedesktop.portal.Request", "Response", *responses[answer.count % len(responses)])
        send(path, shortcuts, *signals[answer.count % len(signals)])
        answer.count += 1
        return dbus.Int32(7)
    answer.count = 0

    class Portal(dbus.service.Object):
        @dbus.service.method("org.freedesktop.DBus.Properties", in_signature="ss", out_signature="v")
        def Get(self, interface, name):
            log.write("version slot-5\n")
            return dbus.String("one") if mode == "everything" else dbus.UInt32(1, variant_level=1)

        @dbus.service.method("org.freedesktop.host.portal.Registry", in_signature="sa{sv}", out_signature="i")
        def Register(self, app_id, options):
            return dbus.Int32(0)

        @dbus.service.method(shortcuts, in_signature="a{sv}", out_signature="i", sender_keyword="sender")
        def CreateSession(self, options, sender):
            return answer("CreateSession", sender, options)

        @dbus.service.method(shortcuts, in_signature="oa{sv}", out_signature="i", sender_keyword="sender")
        def ListShortcuts(self, session, options, sender):
            return answer("ListShortcuts", sender, options)

        @dbus.service.method(shortcuts, in_signature="oa(sa{sv})sa{sv}", out_signature="i", sender_keyword="sender")
        def BindShortcuts(self, session, items, parent, options, sender):
            return answer("BindShortcuts", sender, options)

    portal = Portal(bus, path)  # noqa: F841 (kept exported)
    name = dbus.service.BusName("org.freedesktop.portal.Desktop", bus)  # noqa: F841
    print("ready", flush=True)
    GLib.MainLoop().run()


if __name__ == "__main__":
    if sys.argv[1:2] == ["--crowd"]:
        crowd(int(sys.argv[2]))
    elif sys.argv[1:2] == ["--wrong-portal"]:
        wrong_portal(sys.argv[2])
    else:
        kovratest.main()
