#!/usr/bin/python3
# Speed, footprint and responsiveness of the app, measured side by side with the mpv command line in
# one private session, runs interleaved; writes bench/results.md.  Usage: run.py --build DIR [--quick]
import argparse
import json
import os
import subprocess
import sys
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
from players import (CHANNELS, ENGINE_OPTIONS, MPRIS_NAME, NAMES, Mpv, Ours, log, med, ms,  # noqa: E402
                     proc_cpu, proc_rss, proc_rss_split, proc_threads, thread_ctxt, thread_switches,
                     wakeups_between)
import procutil  # noqa: E402
import onset  # noqa: E402
from report import machine, report  # noqa: E402
from rttproxy import RttProxy  # noqa: E402
from audio import Recorder  # noqa: E402
from session import SINK, Session  # noqa: E402


# The app drops a stream paused this long (180 s unless told otherwise); the bench waits out a shorter one.
LONG_PAUSE_SECONDS = 30


class Bench:
    def __init__(self, build, quick):
        self.binary = os.path.join(os.path.abspath(build), "kovra-radio")
        self.n = 3 if quick else 7
        self.quick = quick
        self.r = {}
        self.notes = []

    def run(self):
        t_start = time.monotonic()
        self.r["load_start"] = open("/proc/loadavg").read().split()[:3]
        with Session(binary=self.binary) as s:
            self.s = s
            self.freq = s.broadcaster.frequencies
            s.audio.stop()  # the fixtures' 16 kHz recorder is not needed; ours listens at 48 kHz
            s.audio = None
            self.cap = onset.Capture(s.base_env(), f"{SINK}.monitor").start()
            self.watch = procutil.spawn([procutil.DEBIAN_PYTHON, os.path.join(HERE, "busprobe.py"), "watch"],
                                        env=s.base_env(), stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
            self.watch.stdout.readline()
            self.signals = []
            threading.Thread(target=self._read_watch, daemon=True).start()
            try:
                self._all()
            finally:
                procutil.stop(self.watch, timeout=2)
                self.cap.stop()
        self.r["total_seconds"] = time.monotonic() - t_start
        self.r["load_end"] = open("/proc/loadavg").read().split()[:3]
        return self.r

    def _read_watch(self):
        for line in self.watch.stdout:
            try:
                self.signals.append(json.loads(line))
            except ValueError:
                pass

    def signal_after(self, member, t, timeout=5):
        members = (member,) if isinstance(member, str) else tuple(member)
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            for sig in list(self.signals):
                if sig["member"] in members and sig["t"] >= t:
                    return sig["t"]
            time.sleep(0.002)
        return None

    def others(self, channel):
        return [self.freq[c] for c in CHANNELS if c != channel]

    def onset(self, t0, channel):
        return self.cap.wait_onset(t0, self.freq[channel], self.others(channel))

    def sound_after(self, t0, channel):
        # Seconds from t0 to the channel's first sound at the sink, less the capture path; None if it never came.
        t = self.onset(t0, channel)
        return None if t is None else t - t0 - self.lat

    def steady(self, channel):
        return self.cap.wait_tone_steady(self.freq[channel], self.others(channel))

    def _all(self):
        s = self.s
        log("calibrating the capture path")
        cal = onset.calibrate(self.cap, s.base_env(), SINK)
        self.r["capture_delays"] = cal
        # The sink hands the monitor its samples as it renders them, so the loop is about 0; a negative
        # median only says the monitor runs a little ahead of the play-out.
        self.lat = max(0.0, med(cal) or 0.0)
        log("capture path", ms(self.lat))

        self.startup()
        app = s.start_app()
        item = s.tray.wait_for_item()
        self.ours = Ours(s, app, item)
        time.sleep(2)
        self.idle_footprint("idle_fresh")
        self.mpv = Mpv(s)
        time.sleep(0.5)
        self.r["mpv_idle_rss"] = proc_rss(self.mpv.pid)
        self.r["mpv_idle_rss_split"] = proc_rss_split(self.mpv.pid)
        self.mpvt = Mpv(s, ENGINE_OPTIONS, name="mpv-tuned")
        try:
            self.warm()
            self.first_sound("direct")
            self.switches()
            self.gaps()
            self.idle_footprint("idle_paused")
            self.playing_footprint()
            self.pause_wakeups()
            self.far_server()
            self.long_listening()
        finally:
            self.ours.close()
            self.mpv.close()
            self.mpvt.close()

    # -- 5. start-up -------------------------------------------------------------------------------

    def startup(self):
        times = []
        for i in range(self.n if not self.quick else 3):
            t0 = time.monotonic()
            app = self.s.start_app()
            t = self.signal_after("StatusNotifierItemRegistered", t0, timeout=20)
            times.append(None if t is None else t - t0)
            time.sleep(0.3)
            app.terminate()
            self.s.tray.wait_for_no_item()
            time.sleep(0.2)
        self.r["startup"] = times
        log("start-up to tray item", [ms(x) for x in times])

    # -- 4, 6. footprint ---------------------------------------------------------------------------

    def idle_footprint(self, key, seconds=10):
        pid = self.ours.pid
        c0, cpu0, t0, th0 = thread_switches(pid), proc_cpu(pid), time.monotonic(), thread_ctxt(pid)
        time.sleep(seconds if not self.quick else 5)
        c1, cpu1, t1, th1 = thread_switches(pid), proc_cpu(pid), time.monotonic(), thread_ctxt(pid)
        per_thread = {k: round((v - th0.get(k, 0)) / (t1 - t0), 2) for k, v in th1.items() if v != th0.get(k, 0)}
        self.r[key] = {"rss": proc_rss(pid), "wakeups_per_s": wakeups_between(c0, c1) / (t1 - t0),
                       "threads_ended": len(set(c0) - set(c1)),
                       "cpu_percent": 100 * (cpu1 - cpu0) / (t1 - t0), "threads": proc_threads(pid)}
        self.r[key].update({k.lower(): v for k, v in proc_rss_split(pid).items()})
        self.r[key + "_threads"] = per_thread
        log(key, self.r[key])

    def pause_wakeups(self):
        # 10 s into a pause (playing_footprint ends by pausing), per thread, with the requests the
        # paused media core made meanwhile: they are all the relay's threads have to wake for.
        time.sleep(10)
        t0 = time.monotonic()
        self.idle_footprint("pause_10s")
        self.r["pause_10s_requests_per_s"] = len(self.s.broadcaster.requests(since=t0)) / (time.monotonic() - t0)

    def playing_footprint(self):
        seconds = 30 if not self.quick else 10
        out = {}
        for who in ("ours", "mpv"):
            if who == "ours":
                pid = self.ours.pid
                self.ours.click(NAMES["velmora"])
            else:
                pid = self.mpv.pid
                self.mpv.send("loadfile", self.s.broadcaster.url("velmora"))
            self.steady("velmora")
            rss = []
            c0, t0 = proc_cpu(pid), time.monotonic()
            while time.monotonic() - t0 < seconds:
                rss.append(proc_rss(pid))
                time.sleep(1)
            c1, t1 = proc_cpu(pid), time.monotonic()
            out[who] = {"cpu_percent": 100 * (c1 - c0) / (t1 - t0), "rss_median": med(rss), "rss_max": max(rss),
                        "threads": proc_threads(pid)}
            out[who].update({k.lower(): v for k, v in proc_rss_split(pid).items()})
            if who == "ours":
                self.ours.click(NAMES["velmora"])  # pauses
                self.ours_current = "velmora"
            else:
                self.mpv.send("stop")
            self.cap.wait_silent()
        self.r["playing"] = out
        log("playing", out)

    # -- 1, 3. first sound ---------------------------------------------------------------------------

    def warm(self):
        # Prime the sink and give both players their one cold start before anything is timed.
        self.r["ours_cold_first_sound"] = self.sound_after(self.ours.click(NAMES["velmora"]), "velmora")
        self.steady("velmora")
        self.ours.click(NAMES["velmora"])
        self.cap.wait_silent()
        t = self.mpv.send("loadfile", self.s.broadcaster.url("velmora"))
        self.r["mpv_cold_first_sound"] = self.sound_after(t, "velmora")
        self.steady("velmora")
        self.mpv.send("stop")
        self.cap.wait_silent()
        self._mpv_first(self.s.broadcaster.url, self.mpvt)
        log("cold first sound: ours", ms(self.r["ours_cold_first_sound"]), "mpv", ms(self.r["mpv_cold_first_sound"]))
        self.ours_current = "velmora"  # loaded and paused

    def _ours_first(self, how, ours=None, aim=0.15):
        ours = ours or self.ours
        # From a paused other channel, so every play opens a new stream.
        target = "tarvesi" if self.ours_current == "velmora" else "velmora"
        self.cap.wait_silent()
        t0 = ours.click(NAMES[target], aim) if how == "click" else ours.key(CHANNELS.index(target) + 1)
        took = self.sound_after(t0, target)
        self.steady(target)
        ours.click(NAMES[target])  # pause
        self.ours_current = target
        self.cap.wait_silent()
        return took

    def _mpv_first(self, url_of, mpv=None):
        mpv = mpv or self.mpv
        self.cap.wait_silent()
        t0 = mpv.send("loadfile", url_of("nimo"))
        took = self.sound_after(t0, "nimo")
        self.steady("nimo")
        mpv.send("stop")
        self.cap.wait_silent()
        return took

    def first_sound(self, key, ours=None, mpv=None, url_of=None, keys=True):
        url_of = url_of or self.s.broadcaster.url
        res = {"click": [], "key": [], "mpv": [], "mpv_tuned": []}
        for i in range(self.n):
            res["click"].append(self._ours_first("click", ours))
            res["mpv"].append(self._mpv_first(url_of, mpv))
            res["mpv_tuned"].append(self._mpv_first(url_of, self.mpvt))
            if keys:
                res["key"].append(self._ours_first("key", ours))
        self.r[f"first_{key}"] = res
        log(f"first sound ({key})", {k: ms(med(v)) for k, v in res.items()})

    def gaps(self):
        # The longest gap in the half minute after a first sound: a first play, a switch, mpv's loadfile.
        seconds, out = (30 if not self.quick else 10), {}

        def after(key, t0, channel):
            t = self.onset(t0, channel)
            if t is not None:
                time.sleep(max(0.0, t + seconds - time.monotonic()))
                samples = self.cap.samples(self.cap.index_of(t))[0][:seconds * onset.RATE]
                out[key] = Recorder.longest_gap(samples, rate=onset.RATE)
        a = "tarvesi" if self.ours_current == "velmora" else "velmora"
        b = "velmora" if a == "tarvesi" else "tarvesi"
        self.cap.wait_silent()
        after("ours_first", self.ours.click(NAMES[a]), a)
        after("ours_switch", self.ours.click(NAMES[b]), b)
        self.ours.click(NAMES[b])
        self.ours_current = b
        for key, channel in (("mpv_first", "nimo"), ("mpv_switch", "velmora")):
            after(key, self.mpv.send("loadfile", self.s.broadcaster.url(channel)), channel)
        self.mpv.send("stop")
        self.cap.wait_silent()
        self.r["gaps"] = out
        log("longest gaps", {k: ms(v) for k, v in out.items()})

    # -- 2, 7. switching and main-thread stalls --------------------------------------------------------

    def switches(self):
        s = self.s
        pinger = procutil.spawn([procutil.DEBIAN_PYTHON, os.path.join(HERE, "busprobe.py"), "ping", MPRIS_NAME,
                                 "/org/mpris/MediaPlayer2", "org.mpris.MediaPlayer2.Player", "PlaybackStatus"],
                                env=s.base_env(), stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        pings = []
        pinger.stdout.readline()

        def read():
            for line in pinger.stdout:
                a, b = line.split()
                pings.append((float(a), float(b)))
        reader = threading.Thread(target=read, daemon=True)
        reader.start()
        time.sleep(2)
        base_t = time.monotonic()
        res = {"ours": [], "mpv": [], "stall": [], "menu": [], "ping_floor": None}
        windows = []
        for i in range(self.n):
            # ours: play A, then click B
            a, b = ("velmora", "tarvesi") if i % 2 == 0 else ("tarvesi", "velmora")
            self.cap.wait_silent()
            self.ours.click(NAMES[a])
            self.steady(a)
            time.sleep(0.3)
            t0 = self.ours.click(NAMES[b])
            t = self.onset(t0, b)
            # A same-shaped menu is updated in place (ItemsPropertiesUpdated), a new shape laid out anew.
            menu = self.signal_after(("LayoutUpdated", "ItemsPropertiesUpdated"), t0, timeout=3)
            self.steady(b)
            windows.append((t0 - 0.05, time.monotonic()))
            res["ours"].append(None if t is None else t - t0)
            res["menu"].append(None if menu is None else menu - t0)
            self.ours.click(NAMES[b])
            self.ours_current = b
            # mpv: play A, then loadfile B
            self.cap.wait_silent()
            self.mpv.send("loadfile", s.broadcaster.url(a))
            self.steady(a)
            time.sleep(0.3)
            t0 = self.mpv.send("loadfile", s.broadcaster.url(b))
            t = self.onset(t0, b)
            self.steady(b)
            res["mpv"].append(None if t is None else t - t0)
            self.mpv.send("stop")
        procutil.stop(pinger, timeout=3)
        reader.join(timeout=3)
        floor = [lat for t, lat in pings if t < base_t and lat >= 0]
        res["ping_floor"] = med(floor)
        res["ping_count"] = len(pings)
        for lo, hi in windows:
            lat = [x for t, x in pings if lo <= t <= hi and x >= 0]
            res["stall"].append(max(lat) if lat else None)
        self.r["switch"] = res
        log("switch", {k: (ms(med(v)) if isinstance(v, list) else v) for k, v in res.items()})

    # -- 3. a far server -------------------------------------------------------------------------------

    def far_server(self):
        b = self.s.broadcaster
        # (a) the harness's own switch: every answer waits 50 ms.
        b.set_latency(50)
        try:
            self.first_sound("latency50", keys=False)
        finally:
            b.set_latency(0)
        # (b) a real round trip: 50 ms on every exchange, connection set-up included (a relay).
        proxy = RttProxy(b.port, 50)
        try:
            self.ours.close()
            self.ours.app.terminate()
            self.s.tray.wait_for_no_item()
            app = self.s.start_app(env={"KOVRA_STREAM_HOST": proxy.host})
            item = self.s.tray.wait_for_item()
            ours = Ours(self.s, app, item)
            self.ours = ours
            mpv = self.mpv

            def url_of(c):
                return f"https://{proxy.host}/radio_{c}/kovra_{c}.m3u8"
            # warm both through the relay
            t = ours.click(NAMES["velmora"])
            self.onset(t, "velmora")
            self.steady("velmora")
            ours.click(NAMES["velmora"])
            self.ours_current = "velmora"
            self.cap.wait_silent()
            self._mpv_first(url_of)
            self._mpv_first(url_of, self.mpvt)
            c0 = proxy.connections
            self._mpv_first(url_of)
            self.r["mpv_connections_per_start"] = proxy.connections - c0
            c0 = proxy.connections
            self._mpv_first(url_of, self.mpvt)
            self.r["mpv_tuned_connections_per_start"] = proxy.connections - c0
            c0 = proxy.connections
            self._ours_first("click", ours)
            self.r["ours_connections_per_start"] = proxy.connections - c0
            # Alt+N here is a press after a first play, with no menu opened before it.
            self.first_sound("rtt50", ours=ours, mpv=mpv, url_of=url_of, keys=True)
            # The menu opened a second before the click, against the best any fetch on demand can do:
            # one new connection, TLS, the playlist and its newest segment (curl through the same relay).
            self.r["rtt50_preopened"] = [self._ours_first("click", ours, aim=1.0) for _ in range(self.n)]
            self.r["rtt50_floor"] = [self.cold_fetch(proxy.host) for _ in range(self.n)]
            log("rtt50: menu opened 1 s before", ms(med(self.r["rtt50_preopened"])),
                "cold fetch floor", ms(med(self.r["rtt50_floor"])))
            self.r["rtt50_cold"] = [self.cold_click(proxy) for _ in range(self.n)]
            log("rtt50: first click after start", ms(med(self.r["rtt50_cold"])))
        finally:
            self.ours.close()
            proxy.close()

    def cold_fetch(self, host, channel="nimo"):
        url = f"https://{host}/radio_{channel}/kovra_{channel}.m3u8"
        curl = ["curl", "-sS", "--cacert", self.s.broadcaster.ca_file]
        playlist = subprocess.run(curl + [url], capture_output=True, text=True, timeout=20).stdout
        newest = [line for line in playlist.splitlines() if line and not line.startswith("#")][-1]
        # One invocation: both files over one new connection; curl times each transfer itself.
        out = subprocess.run(curl + ["-o", "/dev/null", "-o", "/dev/null", "-w", "%{time_total}\n", url,
                                     url.rsplit("/", 1)[0] + "/" + newest], capture_output=True, text=True, timeout=20)
        times = [float(x) for x in out.stdout.split()]
        return sum(times) if len(times) == 2 and out.returncode == 0 else None

    def cold_click(self, proxy):
        # A fresh app: no media core yet, no connection; the click's own menu opening is the only warning.
        self.ours.close()
        self.ours.app.terminate()
        self.s.tray.wait_for_no_item()
        app = self.s.start_app(env={"KOVRA_STREAM_HOST": proxy.host})
        self.ours = Ours(self.s, app, self.s.tray.wait_for_item())
        time.sleep(1)
        self.cap.wait_silent()
        t0 = self.ours.click(NAMES["nimo"])
        took = self.sound_after(t0, "nimo")
        self.steady("nimo")
        self.ours.click(NAMES["nimo"])
        return took


    # -- 8. hours of listening, and a long pause --------------------------------------------------------

    def long_listening(self):
        # Hours compressed into a minute: the broadcaster's dense channel (10.7 Mbit/s) brings an hour of a
        # 128 kbit/s stream every 43 s. Then a pause past the long-pause limit (shortened for the bench),
        # the wakeups it leaves, and the first sound when the listener resumes.
        s, b = self.s, self.s.broadcaster
        self.ours.app.terminate()
        s.tray.wait_for_no_item()
        app = s.start_app(env={"KOVRA_LONG_PAUSE_SECONDS": str(LONG_PAUSE_SECONDS)})
        self.ours = Ours(s, app, s.tray.wait_for_item())
        b.set_dense("nimo")
        seconds = 60 if not self.quick else 30
        try:
            self.ours.click(NAMES["nimo"])
            self.steady("nimo")
            rss, t0 = [proc_rss(self.ours.pid)], time.monotonic()
            while time.monotonic() - t0 < seconds:
                time.sleep(1)
                rss.append(proc_rss(self.ours.pid))
            self.ours.click(NAMES["velmora"])
            self.steady("velmora")
        finally:
            b.set_dense("nimo", False)
        self.r["long_play"] = {"seconds": seconds, "rss_first": rss[0], "rss_max": max(rss), "rss_last": rss[-1],
                               "growth_last_half": rss[-1] - rss[len(rss) // 2]}
        log("long play", {k: round(v / 2**20, 1) for k, v in self.r["long_play"].items() if k != "seconds"})
        paused_at = self.ours.click(NAMES["velmora"])
        self.cap.wait_silent()
        # Dropped: past the limit, and nothing asked of the server for a while.
        procutil.wait_until(lambda: time.monotonic() - paused_at > LONG_PAUSE_SECONDS
                            and not b.requests("velmora", since=time.monotonic() - 3),
                            LONG_PAUSE_SECONDS + 30, interval=0.5, message="the paused stream to be dropped")
        self.idle_footprint("long_pause")
        t0 = self.ours.click(NAMES["velmora"])
        self.r["long_pause_resume"] = self.sound_after(t0, "velmora")
        self.steady("velmora")
        self.ours.click(NAMES["velmora"])
        self.cap.wait_silent()
        log("resume after a long pause", ms(self.r["long_pause_resume"]))


# -- the report ----------------------------------------------------------------------------------------



def main():
    p = argparse.ArgumentParser(description="Benchmarks against the mpv command line.")
    p.add_argument("--build", default="build")
    p.add_argument("--quick", action="store_true", help="fewer runs, shorter intervals")
    p.add_argument("--out", default=os.path.join(HERE, "results.md"))
    p.add_argument("--notes", help="a file of findings (one per line) to add to the report")
    p.add_argument("--report-only", action="store_true", help="rewrite results.md from the last results.json")
    args = p.parse_args()
    raw = os.path.join(os.path.dirname(args.out), "results.json")
    if args.report_only:
        with open(raw) as f:
            r = json.load(f)
        report(r, r.get("quick", False), args.out)
        log("wrote", args.out)
        return 0
    bench = Bench(args.build, args.quick)
    r = bench.run()
    r["lat_used"] = bench.lat
    r["quick"] = args.quick
    r["machine"] = machine()
    if args.notes and os.path.exists(args.notes):
        with open(args.notes) as f:
            r["notes"] = [line.strip() for line in f if line.strip()]
    with open(raw, "w") as f:
        json.dump(r, f, indent=1)
    report(r, args.quick, args.out)
    log("wrote", args.out)
    return 0


if __name__ == "__main__":
    sys.exit(main())
