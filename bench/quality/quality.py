#!/usr/bin/env python3
"""Noise-reduction quality beside the peer suppressors, on a seeded test set.

Builds clean speech (espeak-ng voices, the words of /usr/share/sounds/alsa when
present), mixes it with white, pink, brown, babble, mains hum and fan noise at
-5..20 dB SNR at 8, 16 and 48 kHz, runs this engine (mode 0 with the library's
default threshold, mode 0 with the automatic threshold and a few maxNr values,
mode 1 at 8/16 kHz, and a sweep of fixed thresholds) and the peers (SpeexDSP's
preprocessor, WebRTC's noise suppressor, RNNoise's WebAssembly build under Node
when bench/quality/node_modules holds it, spectral gating when its Python
package is importable), scores every output against the clean speech and
writes results.csv, results.md and plots to the output folder. A second set
(events.py) puts digital silence and noise steps into files and scores the
seconds after each event; its rows go to events.csv.

usage: quality.py --lib build/host/libvocrel_rnr.so [--quick] [--out out/quality] [--jobs 2]
Normally run through bench/quality/run.sh, which builds what it needs.
"""

from __future__ import annotations

import argparse
import csv
import os
import shutil
import subprocess
import sys
import tempfile
import time
from concurrent.futures import ProcessPoolExecutor
from pathlib import Path

try:
    import numpy as np
    from scipy.io import wavfile
    from scipy.signal import butter, resample_poly, sosfilt
except ImportError as exc:  # 77: skipped under CTest
    print(f"quality: {exc}; install python3-numpy and python3-scipy", file=sys.stderr)
    sys.exit(77)

HERE = Path(__file__).resolve().parent
REPO = HERE.parents[1]
sys.path[:0] = [str(HERE), str(REPO / "python")]
import events  # noqa: E402
import metrics  # noqa: E402
from vocrel_rnr.report import seg_snr  # noqa: E402  the one definition, the report's too
SEED = 20261206
RATES = (8000, 16000, 48000)
NOISES = ("white", "pink", "brown", "babble", "hum", "fan")
SNRS = (-5, 0, 5, 10, 20)
SPEECH_DBFS = -23.0  # RMS of the whole clean track: 0 dB SNR puts the noise at -23 dBFS
SWEEP = (-80, -60, -50, -45, -40, -35, -30, -20)  # fixed thresholds tried per file
TEXTS = [
    "The birch canoe slid on the smooth planks.",
    "Glue the sheet to the dark blue background.",
    "It is easy to tell the depth of a well.",
    "These days a chicken leg is a rare dish.",
    "Rice is often served in round bowls.",
    "The juice of lemons makes fine punch.",
    "The box was thrown beside the parked truck.",
    "Four hours of steady work faced us.",
]
VOICES = ["en-us", "en-gb", "en-us+f3", "en-gb-scotland", "en-us+m7", "en+f4"]

try:
    import noisereduce  # type: ignore

    NR_MISSING = ""
except ImportError:
    noisereduce = None
    NR_MISSING = "the noisereduce package is not installed (PyPI is unreachable here)"


# ---- test set --------------------------------------------------------------------
def espeak(text: str, voice: str, speed: int) -> np.ndarray:
    with tempfile.NamedTemporaryFile(suffix=".wav") as f:
        subprocess.run(["espeak-ng", "-v", voice, "-s", str(speed), "-w", f.name, text],
                       check=True, capture_output=True)
        r, x = wavfile.read(f.name)
    x = x.astype(np.float64) / 32768.0
    return resample_poly(x, 48000, r)


def alsa_words() -> list[np.ndarray]:
    out = []
    for p in sorted(Path("/usr/share/sounds/alsa").glob("*.wav")):
        if "Noise" in p.name:
            continue
        r, x = wavfile.read(p)
        x = x.astype(np.float64)
        x = (x.mean(axis=1) if x.ndim == 2 else x) / 32768.0
        out.append(resample_poly(x, 48000, r) if r != 48000 else x)
    return out


def clean_track(seconds: float, rng: np.random.Generator) -> np.ndarray:
    """48 kHz speech with pauses, starting after one second of silence."""
    utter = [espeak(t, VOICES[i % len(VOICES)], 150 + 10 * (i % 3)) for i, t in enumerate(TEXTS)]
    utter += alsa_words()
    n = int(seconds * 48000)
    y = np.zeros(n)
    pos, i = 48000, 0
    order = rng.permutation(len(utter))
    while True:
        u = utter[order[i % len(order)]]
        u = u / (np.sqrt(np.mean(u**2)) + 1e-12)
        if pos + len(u) > n - 24000:
            break
        y[pos: pos + len(u)] = u
        pos += len(u) + int(rng.uniform(0.4, 1.2) * 48000)
        i += 1
    return y * 10 ** (SPEECH_DBFS / 20) / np.sqrt(np.mean(y**2))


def coloured(n: int, rng, slope: float, rate: int) -> np.ndarray:
    """Gaussian noise with power falling as f^-slope (0 white, 1 pink, 2 brown)."""
    shaped = np.fft.rfft(rng.standard_normal(n))
    f = np.fft.rfftfreq(n, 1 / rate)
    f[0] = f[1]
    shaped *= np.maximum(f, 20.0) ** (-slope / 2)
    return np.fft.irfft(shaped, n)


def noise(kind: str, n: int, rate: int, rng, babble_src: list[np.ndarray]) -> np.ndarray:
    if kind == "white":
        x = rng.standard_normal(n)
    elif kind == "pink":
        x = coloured(n, rng, 1.0, rate)
    elif kind == "brown":
        x = coloured(n, rng, 2.0, rate)
    elif kind == "babble":  # six talkers, each looping with its own offset
        x = np.zeros(n)
        for s in babble_src:
            s = resample_poly(s, rate, 48000)
            s = np.tile(s, n // len(s) + 2)
            off = int(rng.integers(0, len(s) - n))
            x += s[off: off + n] / (np.sqrt(np.mean(s**2)) + 1e-12)
    elif kind == "hum":  # 50 Hz mains with odd and even harmonics
        t = np.arange(n) / rate
        x = sum(a * np.sin(2 * np.pi * 50 * h * t + h) for h, a in
                [(1, 1.0), (2, 0.5), (3, 0.6), (4, 0.2), (5, 0.3), (7, 0.15)])
    elif kind == "fan":  # band-limited noise with a blade tone and slow swell
        sos = butter(4, [80, min(1800, rate * 0.45)], btype="band", fs=rate, output="sos")
        t = np.arange(n) / rate
        x = sosfilt(sos, rng.standard_normal(n)) * (1 + 0.1 * np.sin(2 * np.pi * 0.3 * t))
        x = x / np.sqrt(np.mean(x**2)) + 0.3 * np.sin(2 * np.pi * 120 * t)
    else:
        raise ValueError(kind)
    return x / np.sqrt(np.mean(x**2))


def make_set(folder: Path, seconds: float, noises, snrs, rates,
             clean48: np.ndarray | None = None) -> list[dict]:
    """Writes clean_RATE.raw and the noisy files; clean48 is the clean track
    of that length when the caller has it already."""
    if clean48 is None:
        clean48 = clean_track(seconds, np.random.default_rng(SEED))
    babble_src = [espeak(" ".join(TEXTS[i:] + TEXTS[:i]), VOICES[i % len(VOICES)], 170)
                  for i in range(6)]
    items = []
    for rate in rates:
        clean = resample_poly(clean48, rate, 48000)[: int(seconds * rate)]
        c16 = np.round(clean * 32768).clip(-32768, 32767).astype(np.int16)
        (folder / f"clean_{rate}.raw").write_bytes(c16.tobytes())
        rms = np.sqrt(np.mean(clean**2))
        for kind in noises:
            base = noise(kind, len(clean), rate, np.random.default_rng([SEED, rate, len(kind)]),
                         babble_src)
            for snr in snrs:
                x = clean + base * rms * 10 ** (-snr / 20)
                x16 = np.round(x * 32768).clip(-32768, 32767).astype(np.int16)
                name = f"{kind}_{snr:+d}dB_{rate // 1000}k"
                (folder / f"{name}.raw").write_bytes(x16.tobytes())
                items.append({"name": name, "rate": rate, "noise": kind, "snr": snr})
    return items


# ---- suppressors -----------------------------------------------------------------
RNNOISE_PACKAGE = "@shiguredo/rnnoise-wasm"  # pinned in package.json and package-lock.json


def rnnoise_command(folder: Path) -> tuple[list[str] | None, str]:
    """The command that runs RNNoise's driver, after one trial run on 0.1 s of
    zeros (in a scratch folder under folder), or None and the reason it
    cannot run."""
    node = shutil.which("node") or shutil.which("nodejs")
    if node is None:
        return None, "Node is not installed (tools/install-deps.sh installs Debian's nodejs)"
    if not (HERE / "node_modules" / RNNOISE_PACKAGE / "package.json").is_file():
        return None, (f"bench/quality/node_modules has no {RNNOISE_PACKAGE} "
                      "(bench/quality/run.sh installs it with npm ci)")
    cmd = [node, str(HERE / "drivers" / "rnnoise_driver.mjs")]
    with tempfile.TemporaryDirectory(dir=folder) as tmp:
        src, dst = Path(tmp) / "zeros.raw", Path(tmp) / "out.raw"
        src.write_bytes(bytes(2 * 4800))
        r = subprocess.run(cmd + ["48000", str(src), str(dst)], capture_output=True, text=True)
        ok = r.returncode == 0 and dst.is_file() and dst.stat().st_size == 2 * 4800
    if not ok:
        why = (r.stderr.strip().splitlines() or [f"exit status {r.returncode}"])[-1]
        return None, f"its driver does not run under Node: {why}"
    return cmd, ""


def build_drivers(lib: Path, folder: Path) -> dict[str, list[str]]:
    """Compiles the small C drivers and finds RNNoise's; peers whose library
    is missing are left out. Each driver is the command that starts it."""
    d = HERE / "drivers"
    cc, cxx = shutil.which("cc") or "gcc", shutil.which("c++") or "g++"
    libdir = lib.resolve().parent
    jobs = {
        "engine": [cc, "-O2", f"-I{REPO / 'include'}", str(d / "engine_driver.c"),
                   f"-L{libdir}", "-lvocrel_rnr", f"-Wl,-rpath,{libdir}"],
        "speex": [cc, "-O2", str(d / "speex_driver.c"), "$speexdsp"],
        "webrtc": [cxx, "-O2", str(d / "webrtc_driver.cpp"), "$webrtc-audio-processing"],
    }
    out = {}
    for name, cmd in jobs.items():
        args = []
        for a in cmd:
            if a.startswith("$"):
                pc = subprocess.run(["pkg-config", "--cflags", "--libs", a[1:]],
                                    capture_output=True, text=True)
                if pc.returncode != 0:
                    args = None
                    break
                args += pc.stdout.split()
            else:
                args.append(a)
        if args is None:
            print(f"{name}: pkg-config finds no {cmd[-1][1:]}; left out", file=sys.stderr)
            continue
        exe = folder / f"{name}_driver"
        r = subprocess.run(args + ["-o", str(exe)], capture_output=True, text=True)
        if r.returncode != 0:
            print(f"{name}: driver does not build:\n{r.stderr}", file=sys.stderr)
            continue
        out[name] = [str(exe)]
    cmd, why = rnnoise_command(folder)
    if cmd is None:
        print(f"RNNoise: not available: {why}", file=sys.stderr)
    else:
        out["rnnoise"] = cmd
    return out


def systems(rate: int, drivers: dict) -> list[tuple[str, str, list[str]]]:
    """(column name, driver, options) for one rate."""
    s = [("engine (default thr)", "engine", ["mode=0"]),
         ("engine (auto thr)", "engine", ["mode=0", "thr=auto"]),
         ("engine (auto, maxNr 10)", "engine", ["mode=0", "thr=auto", "maxnr=10"]),
         ("engine (auto, maxNr 20)", "engine", ["mode=0", "thr=auto", "maxnr=20"])]
    if rate != 48000:
        s.append(("engine mode 1", "engine", ["mode=1"]))
    s += [("SpeexDSP", "speex", []), ("WebRTC NS", "webrtc", []), ("RNNoise", "rnnoise", [])]
    return [x for x in s if x[1] in drivers]


SWEEP_PREFIX = "engine (thr "
EVENTS_NO_HOLD = "engine (auto thr, no silence hold)"  # on the events set only
NATIVE_48K = ("rnnoise",)  # drivers that take 48 kHz only: the bench converts around them


def run_driver(cmd: list[str], rate: int, src: Path, dst: Path,
               opts: list[str]) -> tuple[float, list]:
    r = subprocess.run(cmd + [str(rate), str(src), str(dst)] + opts,
                       capture_output=True, text=True, check=True)
    ns, thr = float("nan"), []
    for line in r.stdout.splitlines():
        if line.startswith("frames="):
            ns = float(line.split("ns_per_frame=")[1])
        elif line.startswith("thr "):
            _, k, db = line.split()
            thr.append((int(k), int(db)))
    return ns, thr


def run_system(drivers: dict, drv: str, rate: int, src: Path, tmp: Path,
               opts: list[str]) -> tuple[np.ndarray, float, list]:
    """One driver on one file: its output at the file's rate, the wall time
    per 10 ms frame and the thresholds chosen. A 48 kHz-only driver gets the
    file converted to 48 kHz and its output converted back (polyphase
    resampling, as the test set's own); its time excludes the conversions."""
    dst = tmp / "out.raw"
    if drv not in NATIVE_48K or rate == 48000:
        ns, thr = run_driver(drivers[drv], rate, src, dst, opts)
        return np.frombuffer(dst.read_bytes(), np.int16).copy(), ns, thr
    x = np.frombuffer(src.read_bytes(), np.int16).astype(np.float64)
    up = tmp / "in48.raw"
    up.write_bytes(np.round(resample_poly(x, 48000, rate)).clip(-32768, 32767)
                   .astype(np.int16).tobytes())
    ns, thr = run_driver(drivers[drv], 48000, up, dst, opts)
    y = resample_poly(np.frombuffer(dst.read_bytes(), np.int16).astype(np.float64), rate, 48000)
    y = np.concatenate([y, np.zeros(max(0, len(x) - len(y)))])[: len(x)]
    return np.round(y).clip(-32768, 32767).astype(np.int16), ns, thr


def score(item: dict, folder: Path, out: np.ndarray, ns: float, system: str, thr,
          full: bool = True) -> dict:
    rate = item["rate"]
    clean = np.frombuffer((folder / f"clean_{rate}.raw").read_bytes(), np.int16)
    noisy = np.frombuffer((folder / f"{item['name']}.raw").read_bytes(), np.int16)
    out = metrics.align(noisy, out, rate // 25)
    speech, pause = metrics.speech_masks(clean, rate)
    nan = float("nan")  # the threshold sweep needs only the attenuations
    row = {**{k: item[k] for k in ("name", "rate", "noise", "snr")}, "system": system,
           "stoi": metrics.stoi(clean, out, rate) if full else nan,
           "segsnr_gain": seg_snr(clean, out, rate) - seg_snr(clean, noisy, rate)
           if full else nan,
           "pause_att": metrics.attenuation(noisy, out, pause, rate),
           "speech_att": metrics.attenuation(noisy, out, speech, rate),
           "ns_per_frame": ns,
           "thr": " ".join(f"{db}@{k / 100:.1f}s" for k, db in thr) if thr else ""}
    return row


def run_item(args) -> list[dict]:
    """Every system on one file of the main set or of the events set."""
    item, folder, drivers, sweep = args
    rate, src = item["rate"], folder / f"{item['name']}.raw"
    rows = []
    noisy = np.frombuffer(src.read_bytes(), np.int16)
    jobs = systems(rate, drivers)
    if sweep:
        jobs += [(f"{SWEEP_PREFIX}{t})", "engine", ["mode=0", f"thr={t}"]) for t in SWEEP]
    if "shape" in item:  # the seconds after an event: attenuation only
        jobs.insert(2, (EVENTS_NO_HOLD, "engine", ["mode=0", "thr=auto", "hold=0"]))
        rows.append(events.score(item, folder, noisy.copy(), "unprocessed"))
        with tempfile.TemporaryDirectory() as tmp:
            for name, drv, opts in jobs:
                out, _, _ = run_system(drivers, drv, rate, src, Path(tmp), opts)
                rows.append(events.score(item, folder, out, name))
        return rows
    rows.append(score(item, folder, noisy.copy(), float("nan"), "unprocessed", []))
    with tempfile.TemporaryDirectory() as tmp:
        for name, drv, opts in jobs:
            out, ns, thr = run_system(drivers, drv, rate, src, Path(tmp), opts)
            rows.append(score(item, folder, out, ns, name, thr,
                              not name.startswith(SWEEP_PREFIX)))
    if noisereduce is not None:
        t0 = time.perf_counter()
        y = noisereduce.reduce_noise(y=noisy.astype(np.float32), sr=rate)
        ns = (time.perf_counter() - t0) * 1e9 / (len(noisy) // (rate // 100))
        rows.append(score(item, folder, np.round(y).clip(-32768, 32767).astype(np.int16), ns,
                          "noisereduce", []))
    return rows


# Functions whose instructions count as processing, per driver (valgrind's
# callgrind collects only inside them). Each driver calls one of them per
# frame, never one inside another: callgrind's toggles would cancel.
TOGGLES = {"engine": ["Vocrel_RNR_Apply"],
           "engine feed": ["Vocrel_RNR_FeedFrame"],  # thr=auto: the feed calls Apply itself
           "speex": ["speex_preprocess_run"],
           "webrtc": ["webrtc::AudioProcessingImpl::ProcessStream(webrtc::AudioFrame*)"]}


def instructions(folder: Path, drivers: dict, rates) -> list[str]:
    """Instructions per 10 ms frame under valgrind (callgrind), on the first
    2 s of the white-noise file at 10 dB SNR per rate; [] without valgrind."""
    if shutil.which("valgrind") is None:
        return ["Instructions per frame: not measured (valgrind is not installed)."]
    counted = {k: v for k, v in drivers.items() if k in TOGGLES}
    lines = ["## Instructions per 10 ms frame (valgrind, 2 s of white noise at 10 dB SNR)", "",
             "| system | " + " | ".join(f"{r // 1000} kHz" for r in rates) + " |",
             "|---|" + "---:|" * len(rates)]
    table: dict[str, dict[int, str]] = {}
    with tempfile.TemporaryDirectory() as tmp:
        for rate in rates:
            src = folder / f"white_+10dB_{rate // 1000}k.raw"
            if not src.is_file():
                continue
            clip = Path(tmp) / "clip.raw"
            clip.write_bytes(src.read_bytes()[: 4 * rate])
            for name, drv, opts in systems(rate, counted):
                cg = Path(tmp) / "cg.out"
                r = subprocess.run(["valgrind", "--tool=callgrind", f"--callgrind-out-file={cg}"]
                                   + [f"--toggle-collect={t}" for t in
                                      TOGGLES["engine feed" if "thr=auto" in opts else drv]]
                                   + drivers[drv] + [str(rate), str(clip),
                                      str(Path(tmp) / "o.raw")] + opts,
                                   capture_output=True, text=True)
                frames = [int(w.split("=")[1]) for w in r.stdout.split() if w.startswith("frames=")]
                total = [int(x.split()[1]) for x in cg.read_text().splitlines()
                         if x.startswith("summary:")] if cg.is_file() else []
                table.setdefault(name, {})[rate] = (f"{total[0] / frames[0]:,.0f}"
                                                    if r.returncode == 0 and frames and total
                                                    else "n/a")
    for name, per in table.items():
        lines.append(f"| {name} | " + " | ".join(per.get(r, "n/a") for r in rates) + " |")
    if "rnnoise" in drivers:
        lines += ["", "RNNoise is not counted: valgrind would count Node's WebAssembly compiler "
                  "and runtime, not RNNoise's work."]
    return lines


# ---- reports ---------------------------------------------------------------------
MEASURES = [("pause_att", "noise attenuation in pauses (dB)"),
            ("speech_att", "attenuation in speech frames (dB)"),
            ("segsnr_gain", "segmental SNR gain (dB)"), ("stoi", "STOI")]


def fmt(v, nd=1) -> str:
    return "n/a" if v is None or (isinstance(v, float) and np.isnan(v)) else f"{v:.{nd}f}"


def best_fixed(rows) -> dict:
    """Per file: the best pause attenuation over the swept fixed thresholds."""
    best = {}
    for r in rows:
        if r["system"].startswith(SWEEP_PREFIX):
            best[r["name"]] = max(best.get(r["name"], -99.0), r["pause_att"])
    return best


def headline(rows, rates) -> list[str]:
    """Noise attenuation in pauses, white and pink at 0 and 10 dB SNR per rate,
    beside the peers' means over every noise and SNR."""
    conds = [(n, snr) for n in ("white", "pink") for snr in (0, 10)]
    best = best_fixed(rows)
    rows = [r for r in rows if not r["system"].startswith(SWEEP_PREFIX)]
    peers = [s for s in ("SpeexDSP", "WebRTC NS", "RNNoise") if any(r["system"] == s for r in rows)]
    out = ["## Headline: noise attenuation in speech pauses (dB)", "",
           "| rate | mode 0 | " + " | ".join(f"{n} {snr} dB" for n, snr in conds) + " | "
           + " | ".join(f"{p} (mean)" for p in peers) + " |",
           "|---|---|" + "---:|" * (len(conds) + len(peers))]
    for rate in rates:
        for label, system in (("default threshold", "engine (default thr)"),
                              ("automatic threshold", "engine (auto thr)")):
            cells = []
            for n, snr in conds:
                v = [r for r in rows if r["system"] == system and r["rate"] == rate
                     and r["noise"] == n and r["snr"] == snr]
                cell = fmt(v[0]["pause_att"]) if v else "n/a"
                if v and system == "engine (auto thr)" and v[0]["name"] in best:
                    cell += f" ({fmt(best[v[0]['name']])})"
                cells.append(cell)
            means = [fmt(float(np.mean([r["pause_att"] for r in rows
                                        if r["system"] == p and r["rate"] == rate])))
                     for p in peers]
            out.append(f"| {rate // 1000} kHz | {label} | " + " | ".join(cells) + " | "
                       + " | ".join(means) + " |")
    out += ["", "In brackets: the best any fixed threshold gives on that file. Where the two "
            "agree below the peers, the limit is the engine's own (at most maxNr, 15 dB by "
            "default, on stationary noise), not the threshold's."]
    return out


def engine_systems(rows) -> list[str]:
    return list(dict.fromkeys(r["system"] for r in rows if r["system"].startswith("engine (")
                              and not r["system"].startswith(SWEEP_PREFIX)))


def targets(rows: list[dict], ev_rows: list[dict], baseline: Path | None) -> list[str]:
    """The figures the automatic threshold is held to, each with its bound."""
    auto = "engine (auto thr)"
    out = ["## Targets", ""]

    def line(what: str, value: float, bound: float, where: str) -> None:
        verdict = "met" if value <= bound else "NOT met"
        shown = f"{value:.{3 if bound < 0.1 else 1}f}".lstrip("-").rstrip()  # no "-0.0"
        shown = f"-{shown}" if value < 0 and shown.strip("0.") else shown
        out.append(f"- {what}: {shown} (at most {bound:g}; {verdict}){where}")

    fs = [f for f in events.findings(ev_rows, SWEEP_PREFIX) if f["system"] == auto]
    silence = [f for f in fs if events.SHAPES[f["shape"]][2] is not None]
    if silence:
        w = max(silence, key=lambda f: f["ref"] - f["after"])
        line("after digital silence, the automatic threshold's attenuation below the same file "
             "without it (dB, worst file)", w["ref"] - w["after"], 1.0,
             f": {w['name']}, {w['after']:.1f} against {w['ref']:.1f}")
    ups = [f for f in fs if "best_late" in f and f["shape"] == events.STEP_UP]
    if ups:
        w = max(ups, key=lambda f: f["best_late"] - f["late"])
        line("after a +15 dB step, the automatic threshold below the best fixed "
             f"one from {events.LATE[0]:g} s after the step (dB, worst file)",
             w["best_late"] - w["late"], 2.0,
             f": {w['name']}, {w['late']:.1f} against {w['best_late']:.1f}")
    if baseline is not None and baseline.is_file():
        base = {(r["name"], r["system"]): r for r in csv.DictReader(open(baseline))}
        falls = [(float(base[k]["pause_att"]) - r["pause_att"], r["name"], r["system"])
                 for r in rows if r["system"] in engine_systems(rows)
                 and (k := (r["name"], r["system"])) in base]
        if falls:
            w = max(falls)
            line(f"the 90-file set's pause attenuation below {baseline.name} of the repository "
                 "(dB, worst file and engine system)", w[0], 0.3,
                 f": {w[1]}, {w[2]}; {len(falls)} rows compared")
    by = {(r["name"], r["system"]): r for r in rows}
    drops = [(by[(r["name"], "unprocessed")]["stoi"] - r["stoi"], r["name"])
             for r in rows if r["system"] == auto and not np.isnan(r["stoi"])]
    if drops:
        w = max(drops)
        line("STOI of the automatic threshold below the unprocessed input (worst file)", w[0],
             0.03, f": {w[1]}")
    return out


def write_reports(rows: list[dict], ev_rows: list[dict], out: Path, quick: bool, elapsed: float,
                  rnnoise_why: str, baseline: Path | None) -> None:
    """results.csv, events.csv and results.md; rnnoise_why says why RNNoise
    did not run ("" when it did)."""
    with open(out / "results.csv", "w", newline="") as f:
        w = csv.DictWriter(f, fieldnames=list(rows[0].keys()))
        w.writeheader()
        w.writerows(rows)
    if ev_rows:
        flat = events.rows_for_csv(ev_rows)
        with open(out / "events.csv", "w", newline="") as f:
            w = csv.DictWriter(f, fieldnames=list(flat[0].keys()))
            w.writeheader()
            w.writerows(flat)
    main_rows = [r for r in rows if not r["system"].startswith(SWEEP_PREFIX)]
    names = list(dict.fromkeys(r["system"] for r in main_rows))
    rates = sorted({r["rate"] for r in rows})
    lines = [f"# Quality results{' (quick size)' if quick else ''}", "",
             f"{len({r['name'] for r in rows})} noisy files"
             + (f" and {len({r['name'] for r in ev_rows})} files with events" if ev_rows else "")
             + (f", {elapsed:.0f} s. " if elapsed == elapsed else ". ") +
             "Means over all noises and SNRs per rate; per-condition rows in results.csv"
             + (" and events.csv." if ev_rows else "."), ""]
    if quick and not rnnoise_why:
        lines.append("- RNNoise: checked on one 3 s clip at this size (it runs, its output lines "
                     "up with the input and has noise taken out); bench/quality/run.sh runs it "
                     "on every file.")
    elif rnnoise_why:
        lines.append(f"- RNNoise: not available: {rnnoise_why}.")
    else:
        lines.append(f"- RNNoise: {RNNOISE_PACKAGE} (WebAssembly, under Node {node_version()}). "
                     "It works at 48 kHz only: at 8 and 16 kHz it runs on the bench's own "
                     "conversion to 48 kHz and back (polyphase resampling), and its cost per "
                     "frame is that of a 10 ms frame at 48 kHz, without the conversions.")
    if NR_MISSING:
        lines.append(f"- noisereduce: not available: {NR_MISSING}.")
    lines.append("")
    lines += headline(rows, rates) + [""]
    for key, label in MEASURES + [("ns_per_frame", "cost per 10 ms frame (ns)")]:
        lines += [f"## {label}", "", "| system | " + " | ".join(f"{r // 1000} kHz" for r in rates)
                  + " |", "|---|" + "---:|" * len(rates)]
        for s in names:
            cells = []
            for rate in rates:
                v = [r[key] for r in main_rows if r["system"] == s and r["rate"] == rate]
                v = [x for x in v if not np.isnan(x)]
                cells.append(fmt(float(np.mean(v)), 0 if key == "ns_per_frame" else
                                 (2 if key == "stoi" else 1)) if v else "n/a")
            lines.append(f"| {s} | " + " | ".join(cells) + " |")
        lines.append("")
    # Pause attenuation per condition for the engine: default, auto, best fixed.
    best = best_fixed(rows)
    if best:
        lines += ["## Automatic threshold against the best fixed threshold (pause attenuation, dB)",
                  "", "| file | default thr | auto thr | best fixed | auto - best | thresholds chosen |",
                  "|---|---:|---:|---:|---:|---|"]
        by = {(r["name"], r["system"]): r for r in rows}
        worst = 0.0
        for name in dict.fromkeys(r["name"] for r in rows):
            d, a = by[(name, "engine (default thr)")], by[(name, "engine (auto thr)")]
            gap = a["pause_att"] - best[name]
            worst = min(worst, gap)
            lines.append(f"| {name} | {fmt(d['pause_att'])} | {fmt(a['pause_att'])} | "
                         f"{fmt(best[name])} | {fmt(gap)} | {a['thr'][:60]} |")
        lines += ["", f"Largest shortfall of the automatic threshold: {fmt(-worst)} dB.", ""]
    # STOI drop against the unprocessed input.
    by = {(r["name"], r["system"]): r for r in rows}
    lines += ["## Largest STOI drop below the unprocessed input", "",
              "| system | STOI |", "|---|---:|"]
    for s in names[1:]:
        ds = [by[(name, "unprocessed")]["stoi"] - by[(name, s)]["stoi"]
              for name in dict.fromkeys(r["name"] for r in rows) if (name, s) in by]
        ds = [x for x in ds if not np.isnan(x)]
        lines.append(f"| {s} | {fmt(max(ds), 3) if ds else 'n/a'} |")
    lines.append("")
    lines += events.report(ev_rows, list(dict.fromkeys(r["system"] for r in ev_rows)),
                           SWEEP_PREFIX) + [""]
    lines += targets(rows, ev_rows, baseline)
    (out / "results.md").write_text("\n".join(lines) + "\n")


def node_version() -> str:
    node = shutil.which("node") or shutil.which("nodejs")
    r = subprocess.run([node, "--version"], capture_output=True, text=True) if node else None
    return r.stdout.strip() if r and r.returncode == 0 else "?"


def plots(rows: list[dict], out: Path) -> None:
    try:
        import matplotlib

        matplotlib.use("Agg")
        import matplotlib.pyplot as plt
    except ImportError:
        print("matplotlib missing: no plots", file=sys.stderr)
        return
    main = [r for r in rows if not r["system"].startswith(SWEEP_PREFIX)]
    names = list(dict.fromkeys(r["system"] for r in main))
    noises = list(dict.fromkeys(r["noise"] for r in main))
    rates = sorted({r["rate"] for r in main})
    for key, label in MEASURES:
        if all(np.isnan(r[key]) for r in main):
            continue
        fig, axes = plt.subplots(len(rates), len(noises), figsize=(3 * len(noises), 2.6 * len(rates)),
                                 squeeze=False, sharex=True)
        for i, rate in enumerate(rates):
            for j, nz in enumerate(noises):
                ax = axes[i][j]
                for s in names:
                    pts = sorted((r["snr"], r[key]) for r in main
                                 if r["system"] == s and r["rate"] == rate and r["noise"] == nz)
                    if pts and not all(np.isnan(p[1]) for p in pts):
                        ax.plot(*zip(*pts), marker="o", ms=3, label=s,
                                color=f"C{names.index(s) % 10}")  # one colour per system
                ax.set_title(f"{nz}, {rate // 1000} kHz", fontsize=9)
                ax.grid(alpha=0.3)
                if i == len(rates) - 1:
                    ax.set_xlabel("input SNR (dB)")
        axes[0][0].set_ylabel(label)
        axes[0][-1].legend(fontsize=6)
        fig.suptitle(label)
        fig.tight_layout()
        fig.savefig(out / f"{key}.png", dpi=80)
        plt.close(fig)
    # cost against quality: mean STOI gain and mean pause attenuation per system and rate
    fig, ax = plt.subplots(1, 2, figsize=(10, 4))
    for s in names[1:]:
        for rate in rates:
            sel = [r for r in main if r["system"] == s and r["rate"] == rate]
            if not sel:
                continue
            ns = np.nanmean([r["ns_per_frame"] for r in sel])
            style = dict(color=f"C{names.index(s) % 10}", marker="o^s"[rates.index(rate) % 3])
            ax[0].scatter(ns, np.mean([r["pause_att"] for r in sel]), label=f"{s} {rate // 1000}k",
                          **style)
            ax[1].scatter(ns, np.mean([r["segsnr_gain"] for r in sel]), **style)
    for a, yl in zip(ax, ["pause attenuation (dB)", "segmental SNR gain (dB)"]):
        a.set_xscale("log")
        a.set_xlabel("cost per 10 ms frame (ns)")
        a.set_ylabel(yl)
        a.grid(alpha=0.3)
    ax[0].legend(fontsize=6)
    fig.tight_layout()
    fig.savefig(out / "cost_quality.png", dpi=80)
    plt.close(fig)


def known_answers(rate: int = 16000) -> list[str]:
    """Each measure on inputs whose answer is known: the clean speech itself
    scores (near) perfect, silence the worst. Returns what went wrong."""
    rng = np.random.default_rng(SEED)
    clean = resample_poly(clean_track(6.0, rng), rate, 48000)
    c16 = np.round(clean * 32768).astype(np.int16)
    noisy = (c16 + rng.normal(0, 1000, len(c16))).clip(-32768, 32767).astype(np.int16)
    silence = np.zeros_like(c16)
    hiss = np.round(rng.normal(0, 1, len(c16))).astype(np.int16)
    speech, pause = metrics.speech_masks(c16, rate)
    bad = []
    checks = [
        ("STOI of the clean speech itself is above 0.99", metrics.stoi(c16, c16, rate) > 0.99),
        # STOI's clipping step leaves an unrelated signal near 0.4, not 0
        ("STOI: clean > noisy > hiss alone",
         0.99 > metrics.stoi(c16, noisy, rate) > metrics.stoi(c16, hiss, rate) + 0.2),
        ("segmental SNR of the clean speech is the top of its range",
         seg_snr(c16, c16, rate) > 34.9),
        ("segmental SNR of silence is 0 dB", abs(seg_snr(c16, silence, rate)) < 0.1),
        ("silence out attenuates the pauses by 40 dB or more",
         metrics.attenuation(noisy, silence, pause, rate) > 40),
        ("unchanged output attenuates nothing",
         abs(metrics.attenuation(noisy, noisy, speech, rate)) < 1e-6),
        ("a 5 ms delay is found and undone",
         np.array_equal(metrics.align(noisy, np.concatenate([np.zeros(80, np.int16), noisy]),
                                      400)[: len(noisy)], noisy)),
    ]
    for what, ok in checks:
        if not ok:
            bad.append(what)
    return bad


def rnnoise_answers(drivers: dict, folder: Path, name: str, rate: int) -> list[str]:
    """RNNoise through the bench's conversion on the first 3 s of one file
    with steady noise: the output has the input's length, lines up with it
    (no lag left to find) and takes noise out of the pauses."""
    noisy = np.frombuffer((folder / f"{name}.raw").read_bytes(), np.int16)[: 3 * rate]
    clean = np.frombuffer((folder / f"clean_events_{rate}.raw").read_bytes(),
                          np.int16)[: 3 * rate]
    with tempfile.TemporaryDirectory() as tmp:
        src = Path(tmp) / "clip.raw"
        src.write_bytes(noisy.tobytes())
        out, ns, _ = run_system(drivers, "rnnoise", rate, src, Path(tmp), [])
    if len(out) != len(noisy):
        return [f"RNNoise: {len(out)} samples out for {len(noisy)} in"]
    bad = []
    from scipy.signal import correlate

    c = correlate(out.astype(np.float64), noisy.astype(np.float64), mode="full", method="fft")
    lag = int(np.argmax(c[len(noisy) - 1 - 400: len(noisy) + 400])) - 400
    if lag != 0:
        bad.append(f"RNNoise: output lags the input by {lag} samples")
    _, pause = metrics.speech_masks(clean, rate)
    if not metrics.attenuation(noisy, out, pause, rate) > 3 or not ns > 0:
        bad.append(f"RNNoise: pause attenuation {metrics.attenuation(noisy, out, pause, rate):.1f} "
                   f"dB, cost {ns} ns")
    return bad


def read_rows(out: Path) -> tuple[list[dict], list[dict]]:
    """The rows of results.csv and events.csv (when present) of a past run."""
    rows = list(csv.DictReader(open(out / "results.csv")))
    for r in rows:
        for k in ("rate", "snr"):
            r[k] = int(r[k])
        for k in ("stoi", "segsnr_gain", "pause_att", "speech_att", "ns_per_frame"):
            r[k] = float(r[k]) if r[k] else float("nan")
    ev = out / "events.csv"
    return rows, events.rows_from_csv(list(csv.DictReader(open(ev)))) if ev.is_file() else []


def main() -> int:
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--lib", type=Path, default=REPO / "build" / "host" / "libvocrel_rnr.so")
    ap.add_argument("--out", type=Path, default=REPO / "out" / "quality")
    ap.add_argument("--quick", action="store_true", help="a small set for the tests")
    ap.add_argument("--jobs", type=int, default=os.cpu_count() or 1)
    ap.add_argument("--no-instructions", action="store_true",
                    help="skip the instruction counts under valgrind (full size only)")
    ap.add_argument("--report-only", action="store_true",
                    help="rewrite results.md and the plots from OUT/results.csv and events.csv")
    ap.add_argument("--baseline", type=Path, default=REPO / "docs" / "quality" / "results.csv",
                    help="results.csv whose engine figures the targets compare against "
                         "(default: the one in docs/quality)")
    a = ap.parse_args()
    if a.report_only:
        rows, ev_rows = read_rows(a.out)
        has_rnnoise = any(r["system"] == "RNNoise" for r in rows)
        why = "" if has_rnnoise else rnnoise_command(a.out)[1] or "not run"
        write_reports(rows, ev_rows, a.out, a.quick, float("nan"), why,
                      None if a.quick else a.baseline)
        plots(rows, a.out)
        if not a.no_instructions and not a.quick:
            drivers = build_drivers(a.lib, a.out / "set")
            with open(a.out / "results.md", "a") as f:
                f.write("\n" + "\n".join(instructions(a.out / "set", drivers, RATES)) + "\n")
        return 0
    if shutil.which("espeak-ng") is None:
        print("espeak-ng is needed (tools/install-deps.sh)", file=sys.stderr)
        return 2
    t0 = time.time()
    a.out.mkdir(parents=True, exist_ok=True)
    work = a.out / "set"
    work.mkdir(exist_ok=True)
    track = clean_track(20.0, np.random.default_rng(SEED))

    def unit_noise(kind: str, n: int, rate: int) -> np.ndarray:
        return noise(kind, n, rate, np.random.default_rng([SEED, rate, len(kind)]), [])

    if a.quick:
        items = make_set(work, 8.0, ("white", "pink", "babble"), (0, 10), (16000, 48000))
        ev_items = events.make_set(work, track, (16000,), ("white",), events.QUICK_SHAPES,
                                   unit_noise)
    else:
        items = make_set(work, 20.0, NOISES, SNRS, RATES, track)
        ev_items = events.make_set(work, track, RATES, events.NOISES, events.SHAPES, unit_noise)
    drivers = build_drivers(a.lib, work)
    if "engine" not in drivers:
        print("the engine driver does not build", file=sys.stderr)
        return 1
    rnnoise_why = "" if "rnnoise" in drivers else rnnoise_command(work)[1]
    # The quick size checks RNNoise's driver on one clip instead of running it everywhere.
    run_with = {k: v for k, v in drivers.items() if not (a.quick and k == "rnnoise")}
    # The fixed-threshold sweep runs on every file of the main set and on the
    # steps of the events set, where the best fixed threshold is the yardstick.
    jobs = [(it, work, run_with, "shape" not in it or events.is_step(it["shape"]))
            for it in items + ev_items]
    rows, ev_rows = [], []
    with ProcessPoolExecutor(max_workers=max(1, a.jobs)) as ex:
        for r in ex.map(run_item, jobs):
            (ev_rows if r and "shape" in r[0] else rows).extend(r)
    write_reports(rows, ev_rows, a.out, a.quick, time.time() - t0, rnnoise_why,
                  None if a.quick else a.baseline)  # the quick files are not the baseline's
    plots(rows, a.out)
    if not a.quick and not a.no_instructions:
        with open(a.out / "results.md", "a") as f:
            f.write("\n" + "\n".join(instructions(work, drivers, RATES)) + "\n")
    if a.quick:  # the shape of the table and the measures' known answers
        bad = known_answers()
        systems_per_file = {}
        for r in rows:
            systems_per_file.setdefault(r["name"], set()).add(r["system"])
        for name, s in systems_per_file.items():
            rate = int(name.rsplit("_", 1)[1][:-1]) * 1000
            if len(s) != 1 + len(SWEEP) + len(systems(rate, run_with)) + (noisereduce is not None):
                bad.append(f"{name}: {len(s)} systems")
        for r in ev_rows:  # every window holds pauses; the input removes nothing from itself
            for key, n in r["frames"].items():
                if n < 20:
                    bad.append(f"{r['name']} window {key}: {n} pause frames")
            if r["system"] == "unprocessed" and any(abs(v) > 1e-9 for v in r["att"].values()):
                bad.append(f"{r['name']}: the unprocessed input attenuates {r['att']}")
        if "rnnoise" in drivers:
            bad += rnnoise_answers(drivers, work, events.file_name("white", "steady-30", 16000),
                                   16000)
        for r in rows:
            if not r["system"].startswith(SWEEP_PREFIX) and r["system"] != "unprocessed":
                if not (0 <= r["stoi"] <= 1 and r["ns_per_frame"] > 0):
                    bad.append(f"{r['name']} {r['system']}: stoi {r['stoi']}, cost {r['ns_per_frame']}")
        for f in ("results.md", "results.csv", "events.csv", "pause_att.png", "stoi.png",
                  "cost_quality.png"):
            if not (a.out / f).is_file():
                bad.append(f"{f} not written")
        for b in bad:
            print(f"FAILED: {b}", file=sys.stderr)
        if bad:
            return 1
    print(f"wrote {a.out}/results.md, results.csv and plots in {time.time() - t0:.0f} s")
    return 0


if __name__ == "__main__":
    sys.exit(main())
