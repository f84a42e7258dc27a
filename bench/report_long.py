#!/usr/bin/env python3
"""The HTML report on a long recording: time, peak memory and page size.

    bench/report_long.py [--minutes 10] [--rate 44100] [--channels 2] [--keep DIR]

Makes a noisy speech-like file (tone bursts with harmonics, syllable rhythm,
pauses, pink-ish noise at about -40 dBFS), runs `python3 -m vocrel_rnr.report`
on it under /usr/bin/time -v and prints the wall time, the peak memory (maximum
resident set) and the page's size; then the same for the cleaning alone (the
engine through the stream layer, at the file's rate), so that the share of the
time the report itself takes is plain. Targets for 10 minutes of stereo at
44.1 kHz: at most 20 s, 500 MB and a 15 MB page.

Needs the built library (VOCREL_RNR_LIB, or the package's usual search).
"""

import argparse
import os
import re
import subprocess
import sys
import tempfile
import wave
from pathlib import Path

import numpy as np

ROOT = Path(__file__).resolve().parent.parent
PYTHON = ROOT / "python"
BLOCK_S = 10  # the file is written in blocks of this many seconds


def speech_like_block(rng, rate: int, channels: int, seconds: int, t0: float) -> np.ndarray:
    """int16 (n, channels): voiced bursts of 150-300 ms with harmonics of a
    gliding pitch, gaps between them, over steady noise."""
    n = rate * seconds
    t = t0 + np.arange(n) / rate
    syll = 0.5 * (1 + np.sin(2 * np.pi * 3.0 * t + 1.3 * np.sin(2 * np.pi * 0.21 * t)))
    gate = (syll > 0.35) & (np.sin(2 * np.pi * 0.13 * t) > -0.4)  # phrases and pauses
    f0 = 140 + 30 * np.sin(2 * np.pi * 0.7 * t)
    phase = 2 * np.pi * np.cumsum(f0) / rate
    voiced = sum(np.sin(k * phase) / k for k in range(1, 12))
    speech = 3000 * voiced * syll * gate
    out = np.empty((n, channels))
    for c in range(channels):
        white = rng.standard_normal(n)
        noise = np.cumsum(white) * 0.02 + white  # some low-frequency weight
        noise -= np.convolve(noise, np.ones(64) / 64, mode="same")
        out[:, c] = speech * (1.0 - 0.3 * c) + 330 * noise
    return np.clip(np.rint(out), -32768, 32767).astype("<i2")


def make_file(path: Path, minutes: float, rate: int, channels: int) -> None:
    rng = np.random.default_rng(23)
    blocks = int(round(minutes * 60 / BLOCK_S))
    with wave.open(str(path), "wb") as w:
        w.setnchannels(channels)
        w.setsampwidth(2)
        w.setframerate(rate)
        for b in range(blocks):
            w.writeframes(speech_like_block(rng, rate, channels, BLOCK_S, b * BLOCK_S).tobytes())


def timed(cmd, env) -> dict:
    """Runs cmd under /usr/bin/time -v; wall and CPU (user + system) seconds,
    peak memory in MB. On a shared machine the CPU time is the steadier figure."""
    r = subprocess.run(["/usr/bin/time", "-v", *cmd], capture_output=True, text=True, env=env)
    if r.returncode != 0:
        sys.exit(f"failed: {' '.join(map(str, cmd))}\n{r.stdout[-2000:]}{r.stderr[-3000:]}")
    wall = re.search(r"Elapsed \(wall clock\) time.*: (?:(\d+):)?(\d+):([\d.]+)", r.stderr)
    h, m, s = wall.groups()
    peak_kb = int(re.search(r"Maximum resident set size \(kbytes\): (\d+)", r.stderr).group(1))
    cpu = sum(float(re.search(rf"{k} time \(seconds\): ([\d.]+)", r.stderr).group(1))
              for k in ("User", "System"))
    return {"seconds": int(h or 0) * 3600 + int(m) * 60 + float(s), "cpu": cpu,
            "peak_mb": peak_kb / 1024}


CLEAN_ONLY = """
import sys, numpy as np, soundfile as sf
from vocrel_rnr.audio import to_int16
from vocrel_rnr.engine import Cleaner
info = sf.info(sys.argv[1])
eng = Cleaner(info.samplerate, info.channels)
for block in sf.blocks(sys.argv[1], blocksize=1 << 16, dtype="float32", always_2d=True):
    eng.process(to_int16(block)[0])
eng.flush()
"""


def main() -> None:
    p = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    p.add_argument("--minutes", type=float, default=10.0)
    p.add_argument("--rate", type=int, default=44100)
    p.add_argument("--channels", type=int, default=2)
    p.add_argument("--keep", metavar="DIR", help="keep the file and the page in DIR")
    p.add_argument("report_args", nargs="*", help="further options for the report")
    args = p.parse_args()
    env = {**os.environ, "PYTHONPATH": os.pathsep.join(
        filter(None, [str(PYTHON), os.environ.get("PYTHONPATH")]))}
    with tempfile.TemporaryDirectory() as tmp:
        d = Path(args.keep or tmp)
        d.mkdir(parents=True, exist_ok=True)
        wav, page = d / "long.wav", d / "long_report.html"
        make_file(wav, args.minutes, args.rate, args.channels)
        print(f"input: {args.minutes:g} min, {args.channels} channel(s) at {args.rate} Hz, "
              f"{wav.stat().st_size / 1e6:.0f} MB")
        rep = timed([sys.executable, "-m", "vocrel_rnr.report", str(wav), "-o", str(page),
                     *args.report_args], env)
        print(f"report:        {rep['seconds']:6.1f} s  (CPU {rep['cpu']:6.1f} s)  "
              f"{rep['peak_mb']:6.0f} MB peak  page {page.stat().st_size / 1e6:.1f} MB")
        cln = timed([sys.executable, "-c", CLEAN_ONLY, str(wav)], env)
        print(f"cleaning only: {cln['seconds']:6.1f} s  (CPU {cln['cpu']:6.1f} s)  "
              f"{cln['peak_mb']:6.0f} MB peak  "
              f"({cln['cpu'] / rep['cpu']:.0%} of the report's CPU time)")


if __name__ == "__main__":
    main()
