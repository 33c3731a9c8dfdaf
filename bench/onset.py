# Millisecond-precise "first audible sample" timing: a low-latency capture of the test sink's monitor
# whose samples are mapped onto the monotonic clock, and onset detection of a given test tone.
import os
import subprocess
import sys
import threading
import time

import numpy as np

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "fixtures"))
import procutil  # noqa: E402
from audio import pcm_blocks  # noqa: E402

RATE = 48000
LATENCY_MS = 5
LOUD = 1000.0            # rms of a sounding frame; the test tones play near 9800 peak
QUIET = 64               # |sample| of digital silence (the null sink's monitor gives exact zeros)
QUIET_RUN = RATE // 500  # 2 ms of quiet samples make a gap: a sine at these frequencies never holds that long
FRAME = RATE // 100      # 10 ms analysis frames
HOP = RATE // 1000       # every 1 ms


class Capture:
    """parecord of a monitor source; every sample index can be turned into a monotonic time."""

    def __init__(self, env, device):
        self.env = env
        self.device = device
        self._lock = threading.Lock()
        self._blocks = []          # numpy arrays, in order
        self._total = 0
        self._offsets = []         # (arrival time, arrival - end_index / RATE)
        self._proc = None
        self._thread = None

    def start(self):
        self._proc = procutil.spawn(
            ["parecord", "--raw", f"--device={self.device}", "--format=s16le", f"--rate={RATE}", "--channels=1",
             f"--latency-msec={LATENCY_MS}", "--client-name=kovra-bench-onset"],
            env=self.env, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        self._thread = threading.Thread(target=self._read, name="onset-capture", daemon=True)
        self._thread.start()
        procutil.wait_until(lambda: self._total > RATE // 10 or self._proc.poll() is not None, 10,
                            message="parecord")
        return self

    def stop(self):
        procutil.stop(self._proc, timeout=3)
        if self._thread:
            self._thread.join(timeout=3)

    def _read(self):
        for now, block in pcm_blocks(self._proc.stdout.fileno(), 65536):
            samples = block.astype(np.int32)
            with self._lock:
                self._blocks.append(samples)
                self._total += len(samples)
                # The arrival of a chunk's last sample, on the monotonic clock: the smallest such
                # offset seen lately is the capture path without scheduling jitter.
                self._offsets.append((now, now - self._total / RATE))
                if len(self._offsets) > 20000:
                    del self._offsets[:10000]
                if len(self._blocks) > 4000:
                    merged = np.concatenate(self._blocks)
                    self._blocks = [merged]
                    # Keep about five minutes.
                    keep = RATE * 300
                    if len(merged) > keep:
                        self._blocks = [merged[-keep:]]
                        self._dropped = getattr(self, "_dropped", 0) + len(merged) - keep

    # -- sample index <-> monotonic time ---------------------------------------------------------

    def offset(self, around=None):
        """Monotonic time of sample 0 (as seen on arrival, jitter removed), from chunks near `around`."""
        with self._lock:
            offs = list(self._offsets)
        if around is not None:
            near = [o for t, o in offs if abs(t - around) < 3.0]
            if near:
                return min(near)
        return min(o for _, o in offs[-2000:])

    def time_of(self, index, around=None):
        return self.offset(around) + index / RATE

    def index_of(self, t, around=None):
        return int(round((t - self.offset(around)) * RATE))

    def samples(self, start_index):
        """Samples from start_index on (as far as captured)."""
        with self._lock:
            data = np.concatenate(self._blocks) if len(self._blocks) > 1 else (
                self._blocks[0] if self._blocks else np.zeros(0, np.int32))
            self._blocks = [data]
            dropped = getattr(self, "_dropped", 0)
        i = max(0, start_index - dropped)
        return data[i:], i + dropped

    @property
    def total(self):
        return self._total

    # -- analysis --------------------------------------------------------------------------------

    def wait_silent(self, hold=0.25, timeout=5):
        """Waits until the last `hold` seconds are digital silence."""
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            x, _ = self.samples(self._total - int(hold * RATE))
            if len(x) >= int(hold * RATE * 0.9) and np.max(np.abs(x)) < QUIET:
                return True
            time.sleep(0.03)
        return False

    def wait_onset(self, t0, freq, others, timeout=6.0):
        """The monotonic time the tone at `freq` began to sound after t0 (or None on timeout).

        Looks for the first 10 ms frame the tone dominates; the onset is then the end of the
        silent gap just before it (a switch or a start passes through silence), or the start of
        that frame when the tone rises straight out of another one."""
        start = self.index_of(t0, around=t0) - HOP
        deadline = time.monotonic() + timeout
        while True:
            x, first = self.samples(start)
            hit = _first_dominant(x, freq, others)
            if hit is not None and hit + FRAME + 10 * HOP <= len(x):
                onset = _gap_end_before(x, hit)
                return self.time_of(first + onset, around=t0)
            if time.monotonic() > deadline:
                return None
            time.sleep(0.01)

    def wait_tone_steady(self, freq, others, hold=0.3, timeout=8.0):
        """Waits until `freq` has dominated the last `hold` seconds."""
        deadline = time.monotonic() + timeout
        n = int(hold * RATE)
        while time.monotonic() < deadline:
            x, _ = self.samples(self._total - n)
            if len(x) >= n * 0.9:
                shares = _shares(x, [freq] + list(others), frame=FRAME * 5, hop=FRAME * 5)
                if shares is not None and np.all(shares[:, 0] > 0.5):
                    return True
            time.sleep(0.05)
        return False


def _shares(x, freqs, frame=FRAME, hop=HOP):
    """Per frame: each frequency's share of the frame's energy (rows: frames; 0 for quiet frames)."""
    if len(x) < frame:
        return None
    frames = np.lib.stride_tricks.sliding_window_view(x.astype(np.float64), frame)[::hop]
    n = np.arange(frame) / RATE
    basis = np.concatenate([np.stack([np.cos(2 * np.pi * f * n), np.sin(2 * np.pi * f * n)], axis=1) for f in freqs],
                           axis=1)
    proj = frames @ basis
    power = proj[:, 0::2] ** 2 + proj[:, 1::2] ** 2
    energy = np.sum(frames ** 2, axis=1)
    share = power / np.maximum(energy[:, None] * frame / 2, 1e-9)
    loud = np.sqrt(energy / frame) >= LOUD
    share[~loud] = 0
    return share


def _first_dominant(x, freq, others):
    shares = _shares(x, [freq] + list(others))
    if shares is None:
        return None
    hits = np.nonzero(shares[:, 0] > 0.5)[0]
    return int(hits[0]) * HOP if len(hits) else None


def _gap_end_before(x, hit):
    # The last run of QUIET_RUN quiet samples ending inside [hit - FRAME, hit + FRAME].
    lo = max(0, hit - FRAME - QUIET_RUN)
    seg = np.abs(x[lo:hit + FRAME]) < QUIET
    run = 0
    last_end = None
    for i, q in enumerate(seg):
        if q:
            run += 1
        else:
            if run >= QUIET_RUN:
                last_end = lo + i
            run = 0
    if last_end is not None and last_end <= hit + FRAME:
        # The first loud sample after the gap.
        return last_end
    return hit


def calibrate(capture, env, device, runs=7):
    """The capture path's own delay: a click written into an open, idle playback stream at a known
    time, minus the time it was written. Returns the list of delays (s)."""
    click = (np.sin(2 * np.pi * 1000 * np.arange(RATE // 20) / RATE) * 12000).astype("<i2").tobytes()
    pad = bytes(RATE // 5 * 2)
    proc = procutil.spawn(["pacat", "--playback", "--raw", "--format=s16le", f"--rate={RATE}", "--channels=1",
                           f"--device={device}", f"--latency-msec={LATENCY_MS}", "--client-name=kovra-bench-click"],
                          env=env, stdin=subprocess.PIPE, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    delays = []
    try:
        time.sleep(0.5)
        for _ in range(runs):
            capture.wait_silent(hold=0.2)
            t0 = time.monotonic()
            proc.stdin.write(click + pad)
            proc.stdin.flush()
            t = capture.wait_onset(t0, 1000.0, [440.0], timeout=3)
            if t is not None:
                delays.append(t - t0)
            time.sleep(0.4)
    finally:
        try:
            proc.stdin.close()
        except OSError:
            pass
        procutil.stop(proc, timeout=2)
    return delays
