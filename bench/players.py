# The players the benchmark drives (our app, the mpv command line), the process statistics it reads,
# and the small helpers every part of it shares.
import glob
import json
import os
import socket
import statistics
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "fixtures"))
import procutil  # noqa: E402
from procutil import proc_rss, thread_switches, wakeups_between  # noqa: E402,F401  (the readings the tests take too)

import dbus  # noqa: E402

from trayhost import _node, find_child  # noqa: E402

CHANNELS = ["velmora", "tarvesi", "nimo"]
NAMES = {"velmora": "Kovra Velmora", "tarvesi": "Kovra Tarvesi", "nimo": "Kovra Nimo"}
MPRIS_NAME = "org.mpris.MediaPlayer2.kovra_radio"
MENU_IFACE = "com.canonical.dbusmenu"
# The network options our media engine sets (platform/linux/playback/MpvMediaEngine.cpp), for an mpv that shows
# what they alone are worth: ours minus this is the app's own overhead.
ENGINE_OPTIONS = ["--stream-lavf-o=tcp_nodelay=1", "--demuxer-lavf-o=http_multiple=0",
                  "--demuxer-termination-timeout=0", "--network-timeout=5", "--cache=yes",
                  "--demuxer-seekable-cache=yes", "--force-seekable=yes", "--demuxer-max-back-bytes=8MiB",
                  "--demuxer-max-bytes=8MiB", "--hr-seek=yes"]


def log(*a):
    print(f"[{time.strftime('%H:%M:%S')}]", *a, flush=True)


def med(xs):
    xs = [x for x in xs if x is not None]
    return statistics.median(xs) if xs else None


def ms(x):
    return "—" if x is None else f"{x * 1000:.0f} ms"


def ratio(a, b):
    return None if a is None or b is None or b <= 0 else a / b


def fmt_ratio(r):
    return "—" if r is None else f"{r:.2f}×"


# -- processes -------------------------------------------------------------------------------------

def proc_cpu(pid):
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def proc_rss_split(pid):
    out = {}
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            if line.startswith(("RssAnon:", "RssFile:", "RssShmem:")):
                out[line.split(":")[0]] = int(line.split()[1]) * 1024
    return out


def thread_ctxt(pid):
    """{thread name: context switches so far}"""
    out = {}
    for task in glob.glob(f"/proc/{pid}/task/*"):
        try:
            with open(f"{task}/comm") as f:
                name = f.read().strip()
            n = 0
            with open(f"{task}/status") as f:
                for line in f:
                    if line.startswith(("voluntary_ctxt_switches", "nonvoluntary_ctxt_switches")):
                        n += int(line.split()[1])
            out[f"{name}#{os.path.basename(task)}"] = n
        except OSError:
            pass
    return out


def proc_threads(pid):
    return len(glob.glob(f"/proc/{pid}/task/*"))


class Mpv:
    """The reference: the mpv command line kept idle, driven over its IPC socket."""

    def __init__(self, session, extra=(), name="mpv"):
        self.sock_path = os.path.join(session.dir, f"{name}.sock")
        args = ["mpv", "--idle", "--no-video", f"--input-ipc-server={self.sock_path}", "--no-config",
                "--tls-verify=yes", f"--tls-ca-file={session.broadcaster.ca_file}", "--no-terminal", *extra]
        self.proc = procutil.spawn(args, env=session.app_env(), stdin=subprocess.DEVNULL,
                                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        procutil.wait_until(lambda: os.path.exists(self.sock_path), 10, message="mpv's IPC socket")
        self.sock = socket.socket(socket.AF_UNIX)
        procutil.wait_until(lambda: self.sock.connect_ex(self.sock_path) == 0, 10, message="mpv IPC")
        self.sock.setblocking(False)

    @property
    def pid(self):
        return self.proc.pid

    def send(self, *command):
        data = (json.dumps({"command": list(command)}) + "\n").encode()
        t = time.monotonic()
        self.sock.sendall(data)
        try:  # drop replies and events; nobody reads them
            while self.sock.recv(65536):
                pass
        except BlockingIOError:
            pass
        return t

    def close(self):
        try:
            self.sock.close()
        except OSError:
            pass
        procutil.stop(self.proc, timeout=3)


class Ours:
    """The app, driven like a user does: tray menu clicks (dbusmenu Event) and shortcut presses."""

    def __init__(self, session, app, item):
        self.s = session
        self.app = app
        self.item = item
        self.bus = session.bus()
        service = item[:item.index("/")]
        menu_path = session.tray.properties(item).get("Menu") or "/MenuBar"
        self.menu = dbus.Interface(self.bus.get_object(service, menu_path, introspect=False), MENU_IFACE)
        # One long-lived xdotool reading commands from stdin runs each line as it arrives: the press
        # is then timed by our write, not by a process start.
        self.xdotool = procutil.spawn(["xdotool", "-"], env=session.base_env(), stdin=subprocess.PIPE,
                                      stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        time.sleep(0.3)

    def close(self):
        try:
            self.xdotool.stdin.close()
        except OSError:
            pass
        procutil.stop(self.xdotool, timeout=2)

    @property
    def pid(self):
        return self.app.pid

    def click(self, name, aim=0.15):
        """Opens the menu as a panel does, then clicks `name` `aim` seconds later (a person needs at least
        0.15 s to aim at the entry); returns when the click was sent."""
        self.menu.AboutToShow(0, timeout=5)
        _, layout = self.menu.GetLayout(0, -1, dbus.Array([], signature="s"), timeout=5)
        node = find_child(_node(layout), name)
        time.sleep(aim)
        t = time.monotonic()
        self.menu.Event(node["id"], "clicked", dbus.Int32(0, variant_level=1), dbus.UInt32(int(time.time())),
                        timeout=5)
        return t

    def key(self, slot):
        """Presses Alt+slot; returns when the press was handed to xdotool."""
        t = time.monotonic()
        self.xdotool.stdin.write(f"key --delay 0 alt+{slot}\n".encode())
        self.xdotool.stdin.flush()
        return t


# -- the session -----------------------------------------------------------------------------------
