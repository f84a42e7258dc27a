#!/usr/bin/env python3
"""Recordings as people have them, through vocrel-clean and the LADSPA plugin.

Each shape is a noise recording with one event: digital silence inside it,
digital silence at its start, the noise stepping up 15 dB (a fan starts) or
down 15 dB, a burst clipped at full scale, a block stuck at full scale, and
(plugin only: the host hands it floats) a block of NaN and infinities. The
noise removed after the event must be within 1 dB of what is removed from the
same recording without the event: the front ends' threshold and silence
handling must not cost the engine its grip on the noise. The C example
(examples/clean_pcm.c, at the engine's rates) is held to the same.

usage: frontend_shapes.py CLEAN_EXE PROBE_EXE PLUGIN_SO [EXAMPLE_EXE]
(an empty CLEAN_EXE or PROBE_EXE leaves that front end out)
"""
import os
import subprocess
import sys
import tempfile

try:
    import numpy as np
    from scipy.signal import lfilter
except ImportError:
    print("frontend_shapes: numpy or scipy is missing (python3-numpy, python3-scipy)")
    sys.exit(77)

RATES = (16000, 44100, 48000)
SECONDS = 8.0
EVENT = 3.0       # s: when the event happens
TOLERANCE = 1.0   # dB


def noise(rate: int, dbfs: float, seconds: float = SECONDS) -> np.ndarray:
    """Seeded pink-ish noise (white through the pole y[i] = 0.9 y[i-1] + w[i])
    at dbfs RMS, as floats."""
    w = np.random.default_rng(rate).standard_normal(int(seconds * rate))
    y = lfilter([1.0], [1.0, -0.9], w)
    return y / np.sqrt(np.mean(y**2)) * 10 ** (dbfs / 20)


def pcm(x: np.ndarray) -> np.ndarray:
    return np.clip(np.round(x * 32768), -32768, 32767).astype("<i2")


def level_db(x: np.ndarray) -> float:
    return 10 * np.log10(np.mean(x.astype(float) ** 2) + 1e-9)


def shapes(rate: int):
    """(name, with event, without event, window in the first, window in the
    second, non-finite input frames (first, count) or None)."""
    base = noise(rate, -35)
    s = int(EVENT * rate)
    # The zeros start and end inside engine frames, as they do in life.
    off = rate // 300
    hole = base.copy()
    hole[s + off:s + off + int(0.3 * rate)] = 0
    after = (EVENT + 0.3 + 0.5, EVENT + 0.3 + 3.0)
    yield "silence inside", hole, base, after, after, None
    blip = base.copy()
    blip[s + off:s + off + int(0.05 * rate)] = 0
    yield "50 ms of silence", blip, base, after, after, None
    lead = np.concatenate([np.zeros(int(0.2 * rate)), base])
    yield "silence at the start", lead, base, (0.7, 3.2), (0.5, 3.0), None
    quiet, loud = noise(rate, -45), noise(rate, -30)
    up = np.concatenate([quiet[:s], loud[s:]])
    down = np.concatenate([loud[:s], quiet[s:]])
    later = (EVENT + 2.0, EVENT + 4.5)
    yield "noise up 15 dB", up, loud, later, later, None
    yield "noise down 15 dB", down, quiet, later, later, None
    burst = base.copy()
    burst[s:s + int(0.1 * rate)] = np.where(np.arange(int(0.1 * rate)) % 64 < 32, 1.0, -1.0)
    yield "clipped burst", burst, base, after, after, None
    stuck = base.copy()
    stuck[s + off:s + off + int(0.3 * rate)] = 1.0  # values beyond full scale, clipped
    yield "stuck at full scale", stuck, base, after, after, None
    yield "NaN and infinities", hole, base, after, after, (s, int(0.3 * rate))


def run_clean(exe, rate, x, work, extra=()):
    src, dst = os.path.join(work, "in.raw"), os.path.join(work, "out.raw")
    pcm(x).tofile(src)
    if os.path.exists(dst):
        os.remove(dst)  # a new output each time, whatever the tool's clobber rule
    subprocess.run([exe, "-q", "--rate", str(rate), *extra, src, dst], check=True)
    return np.fromfile(dst, "<i2")


def run_example(exe, rate, x):
    """The C example: raw PCM through stdin and stdout, one frame late."""
    out = subprocess.run([exe, str(rate)], input=pcm(x).tobytes(), check=True,
                         capture_output=True).stdout
    frame = rate // 100
    y = np.frombuffer(out, "<i2")[frame:]
    return np.concatenate([y, np.zeros(len(x) - len(y), y.dtype)])[:len(x)]


def run_plugin(probe, plugin, rate, x, work, nonfinite=None, extra=()):
    src, dst = os.path.join(work, "in.raw"), os.path.join(work, "out.raw")
    pcm(x).tofile(src)
    extra = [*extra, *(["--nonfinite", f"{nonfinite[0]}:{nonfinite[1]}"] if nonfinite else [])]
    log = subprocess.run([probe, "run", plugin, "vocrel_rnr_mono", str(rate), src, dst,
                          "--blocks", "256,1000,4096", *extra], check=True,
                         capture_output=True, text=True).stdout
    lat = int(next(l.split()[1] for l in log.splitlines() if l.startswith("latency")))
    y = np.fromfile(dst, "<i2")
    return np.concatenate([y[lat:], np.zeros(lat, y.dtype)])


def reduction(x, y, rate, window):
    a, b = (int(t * rate) for t in window)
    return level_db(pcm(x)[a:b]) - level_db(y[a:b])


def main(argv):
    clean_exe, probe, plugin, example = (argv + ["", "", "", ""])[1:5]
    runners = []  # (name, takes floats, rates, run)
    if clean_exe:
        runners.append(("vocrel-clean", False, RATES,
                        lambda r, x, w, nf=None: run_clean(clean_exe, r, x, w)))
    if probe and plugin:
        runners.append(("plugin", True, RATES,
                        lambda r, x, w, nf=None: run_plugin(probe, plugin, r, x, w, nf)))
    if example:
        runners.append(("C example", False, (16000, 48000),
                        lambda r, x, w, nf=None: run_example(example, r, x)))
    if not runners:
        print("frontend_shapes: no front end to try")
        return 77
    failures = 0
    with tempfile.TemporaryDirectory() as work:
        for rate in RATES:
            for name, event, plain, win_e, win_p, nonfinite in shapes(rate):
                for front, takes_floats, rates, run in runners:
                    if (nonfinite and not takes_floats) or rate not in rates:
                        continue
                    with_event = reduction(event, run(rate, event, work, nonfinite), rate,
                                           win_e)
                    without = reduction(plain, run(rate, plain, work), rate, win_p)
                    ok = with_event >= without - TOLERANCE
                    failures += not ok
                    print(f"{'ok  ' if ok else 'FAIL'} {front:12} {rate:5} Hz {name:22} "
                          f"{with_event:5.1f} dB removed, {without:5.1f} dB without the event")
        # The switches that let digital silence into the learnt noise do so.
        rate = 48000
        name, hole, base, after, _, _ = next(shapes(rate))
        switches = []
        if clean_exe:
            switches.append(("vocrel-clean --no-silence-hold",
                             run_clean(clean_exe, rate, hole, work, ["--no-silence-hold"])))
        if probe and plugin:
            switches.append(("plugin learn=1",
                             run_plugin(probe, plugin, rate, hole, work, extra=["learn=1"])))
        kept = reduction(base, runners[0][3](rate, base, work), rate, after)
        for front, y in switches:
            lost = reduction(hole, y, rate, after)
            ok = lost < kept - TOLERANCE
            failures += not ok
            print(f"{'ok  ' if ok else 'FAIL'} {front}: {lost:.1f} dB removed after {name}")
    print(f"{failures} failed" if failures else "all shapes within "
          f"{TOLERANCE} dB of the recording without the event")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
