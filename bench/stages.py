#!/usr/bin/python3
# Where the time of a channel start goes, stage by stage, from the app's own debug log (Qt stamps each
# line with the monotonic clock the bench uses) and the first audible sample. Usage: stages.py --build DIR
# [--rtt MS] [--aim S]: click -> loadfile sent -> first request at the relay (the old stream torn down)
# -> first segment asked for -> first sound.
import argparse
import os
import re
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
from players import NAMES, Ours, log, med  # noqa: E402
import onset  # noqa: E402
from rttproxy import RttProxy  # noqa: E402
from session import SINK, Session  # noqa: E402

LINE = re.compile(r"^\s*(\d+\.\d+) (\S+) (.*)$")


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--build", default="build")
    p.add_argument("--rtt", type=int, default=0)
    p.add_argument("--aim", type=float, default=0.15)
    p.add_argument("-n", type=int, default=7)
    p.add_argument("--cold", action="store_true", help="a fresh app for every start")
    p.add_argument("--switch", action="store_true", help="from another channel playing, not paused")
    p.add_argument("--dump", action="store_true", help="print the app's log lines of each start")
    a = p.parse_args()
    with Session(binary=os.path.join(os.path.abspath(a.build), "kovra-radio")) as s:
        s.audio.stop()
        s.audio = None
        cap = onset.Capture(s.base_env(), f"{SINK}.monitor").start()
        proxy = RttProxy(s.broadcaster.port, a.rtt) if a.rtt else None
        env = {"QT_LOGGING_RULES": "kovra.media.debug=true;kovra.relay.debug=true",
               "QT_MESSAGE_PATTERN": "%{time boot} %{category} %{message}"}
        if proxy:
            env["KOVRA_STREAM_HOST"] = proxy.host
        app = s.start_app(env=env)
        ours = Ours(s, app, s.tray.wait_for_item())
        freq = s.broadcaster.frequencies
        rows, current = [], "velmora"
        try:
            for i in range(a.n + 1):
                if a.cold and i:
                    ours.close()
                    app.terminate()
                    s.tray.wait_for_no_item()
                    app = s.start_app(env=env)
                    ours = Ours(s, app, s.tray.wait_for_item())
                    time.sleep(1)
                target = "tarvesi" if current == "velmora" else "velmora"
                other = [freq[c] for c in freq if c != target]
                if not a.switch:
                    cap.wait_silent()
                t0 = ours.click(NAMES[target], a.aim)
                t = cap.wait_onset(t0, freq[target], other)
                cap.wait_tone_steady(freq[target], other)
                if not a.switch:
                    ours.click(NAMES[target])
                current = target
                time.sleep(0.3)
                stamps = {}
                for m in map(LINE.match, open(app.log_path, errors="replace")):
                    if not m or float(m.group(1)) < t0 - a.aim - 0.1:
                        continue
                    at, text = float(m.group(1)) - t0, m.group(3)
                    if a.dump and at < 1:
                        print(f"{at * 1000:8.1f} {m.group(2)} {text[:150]}")
                    for key, pattern in (("load", "load \""),
                                         ("playlist", f"request \"/radio_{target}/kovra_{target}.m3u8"),
                                         ("segment", f"request \"/radio_{target}/kovra_{target}_")):
                        if pattern in text and key not in stamps:
                            stamps[key] = at
                if i and t is not None:  # the first start loads libmpv
                    stamps["sound"] = t - t0
                    rows.append(stamps)
        finally:
            ours.close()
            cap.stop()
            if proxy:
                proxy.close()
    keys = ("load", "playlist", "segment", "sound")
    log("per start (ms after the click):", [{k: round(r[k] * 1000) for k in keys if k in r} for r in rows])
    prev = 0.0
    for k, label in zip(keys, ("click handled, loadfile sent", "old stream torn down, first request",
                               "stream opened, first segment asked", "decoded and out of the speaker")):
        m = med([r.get(k) for r in rows])
        log(f"{label}: +{(m - prev) * 1000:.0f} ms (at {m * 1000:.0f} ms)" if m is not None else f"{label}: —")
        prev = m if m is not None else prev


if __name__ == "__main__":
    main()
