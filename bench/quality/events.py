"""Recordings with the events real files contain: digital silence inside a
file and at its start (a mute button, a network dropout, an edit, a recorder
that starts on zeros) and steps of the noise level (a fan starts or stops).

Every shape is one 14 s file of the bench's clean speech over one noise, with
the event at 8 s, once the automatic threshold's 5.12 s window has settled.
Its reference is the same file without the event: the same speech and noise
samples, with the noise at the level the event leaves behind, so that the
frames after the event are identical in both. What is scored is the noise
attenuation in the speech pauses of the 0.5..3 s after the event ends, and
for the steps also in the 2..4.5 s after it, where a fixed threshold chosen
for the new level is the yardstick.
"""

from __future__ import annotations

import numpy as np

import metrics

SECONDS = 14.0
EVENT_AT = 8.0  # s
QUIET, LOUD = -45.0, -30.0  # dBFS, RMS of the noise either side of a 15 dB step
AFTER = (0.5, 3.0)  # s after the event's end: the window every shape is scored in
LATE = (2.0, 4.5)  # s after a step: the window of the best fixed threshold

# name: (noise dBFS before the event, after it, zero samples from, to (s), event end (s),
#        reference). A reference has no event; it is scored in the windows of
#        the shapes that point to it.
SHAPES = {
    "steady-45": (QUIET, QUIET, None, None, None, None),
    "steady-30": (LOUD, LOUD, None, None, None, None),
    "zeros-0.05s": (QUIET, QUIET, EVENT_AT, EVENT_AT + 0.05, EVENT_AT + 0.05, "steady-45"),
    "zeros-0.3s": (QUIET, QUIET, EVENT_AT, EVENT_AT + 0.3, EVENT_AT + 0.3, "steady-45"),
    "zeros-2s": (QUIET, QUIET, EVENT_AT, EVENT_AT + 2.0, EVENT_AT + 2.0, "steady-45"),
    "start-zeros-0.2s": (QUIET, QUIET, 0.0, 0.2, 0.2, "steady-45"),
    "step+15dB": (QUIET, LOUD, None, None, EVENT_AT, "steady-30"),
    "step-15dB": (LOUD, QUIET, None, None, EVENT_AT, "steady-45"),
}
STEP_UP = "step+15dB"
NOISES = ("white", "brown")
QUICK_SHAPES = ("steady-45", "steady-30", "zeros-0.3s", STEP_UP)


def is_step(shape: str) -> bool:
    before, after = SHAPES[shape][:2]
    return before != after


def file_name(noise: str, shape: str, rate: int) -> str:
    return f"{noise}_{shape}_{rate // 1000}k"


def make_set(folder, clean48: np.ndarray, rates, noises, shapes, noise_fn) -> list[dict]:
    """Writes clean_events_RATE.raw and one file per noise, shape and rate;
    noise_fn(kind, n, rate) gives unit-RMS noise. Returns the items."""
    from scipy.signal import resample_poly

    items = []
    for rate in rates:
        n = int(SECONDS * rate)
        clean = resample_poly(clean48, rate, 48000)[:n]
        c16 = np.round(clean * 32768).clip(-32768, 32767).astype(np.int16)
        (folder / f"clean_events_{rate}.raw").write_bytes(c16.tobytes())
        t = np.arange(n) / rate
        for kind in noises:
            base = noise_fn(kind, n, rate)
            for shape in shapes:
                before, after, z0, z1, end, ref = SHAPES[shape]
                gain = np.where(t < EVENT_AT, 10 ** (before / 20), 10 ** (after / 20))
                x = clean + base * gain
                if z0 is not None:
                    x[(t >= z0) & (t < z1)] = 0.0
                x16 = np.round(x * 32768).clip(-32768, 32767).astype(np.int16)
                name = file_name(kind, shape, rate)
                (folder / f"{name}.raw").write_bytes(x16.tobytes())
                items.append({"name": name, "rate": rate, "noise": kind, "shape": shape})
    return items


def windows(shape: str) -> dict[str, tuple[float, float]]:
    """Scoring windows (s) of a shape: 'after' and, for steps, 'late'; a
    reference is scored in the windows of every shape that points to it."""
    before, after, z0, _, end, ref = SHAPES[shape]
    if ref is None:
        out = {}
        for s, v in SHAPES.items():
            if v[5] == shape:
                out.update({f"{k}:{s}": w for k, w in windows(s).items()})
        return out
    out = {"after": (end + AFTER[0], end + AFTER[1])}
    if z0 is None:
        out["late"] = (end + LATE[0], end + LATE[1])
    return out


def score(item: dict, folder, out: np.ndarray, system: str) -> dict:
    """Noise attenuation in the speech pauses of each window of the item's shape."""
    rate = item["rate"]
    clean = np.frombuffer((folder / f"clean_events_{rate}.raw").read_bytes(), np.int16)
    noisy = np.frombuffer((folder / f"{item['name']}.raw").read_bytes(), np.int16)
    out = metrics.align(noisy, out, rate // 25)
    _, pause = metrics.speech_masks(clean, rate)
    frame = np.arange(len(pause)) * metrics.FRAME_S
    att, frames = {}, {}
    for key, (a, b) in windows(item["shape"]).items():
        m = pause & (frame >= a) & (frame < b)
        att[key] = metrics.attenuation(noisy, out, m, rate)
        frames[key] = int(m.sum())
    return {**{k: item[k] for k in ("name", "rate", "noise", "shape")}, "system": system,
            "att": att, "frames": frames}


def rows_for_csv(rows: list[dict]) -> list[dict]:
    """One row per file, system and window."""
    out = []
    for r in rows:
        for key, v in r["att"].items():
            out.append({**{k: r[k] for k in ("name", "rate", "noise", "shape", "system")},
                        "window": key, "pause_frames": r["frames"][key], "att": v})
    return out


def rows_from_csv(flat: list[dict]) -> list[dict]:
    by: dict[tuple, dict] = {}
    for f in flat:
        r = by.setdefault((f["name"], f["system"]), {
            **{k: f[k] for k in ("name", "noise", "shape", "system")}, "rate": int(f["rate"]),
            "att": {}, "frames": {}})
        r["att"][f["window"]] = float(f["att"])
        r["frames"][f["window"]] = int(f["pause_frames"])
    return list(by.values())


SHOWN_MAX = 60.0  # dB; more means an output of exact zeros in those pauses


def _fmt(v) -> str:
    if v is None or np.isnan(v):
        return "n/a"
    return f">{SHOWN_MAX:g}" if v > SHOWN_MAX else f"{v:.1f}".replace("-0.0", "0.0")


def findings(rows: list[dict], sweep_prefix: str) -> list[dict]:
    """Per event file and system: the attenuation after the event, the
    reference's in the same window, and for a rising step the late window's
    attenuation beside the best fixed threshold's there."""
    by = {(r["name"], r["system"]): r for r in rows}
    out = []
    for r in rows:
        ref = SHAPES[r["shape"]][5]
        if ref is None or r["system"].startswith(sweep_prefix):
            continue
        rname = file_name(r["noise"], ref, r["rate"])
        ref_row = by.get((rname, r["system"]))
        f = {**{k: r[k] for k in ("name", "rate", "noise", "shape", "system")},
             "after": r["att"]["after"], "frames": r["frames"]["after"],
             "ref": ref_row["att"][f"after:{r['shape']}"] if ref_row else float("nan")}
        if "late" in r["att"]:
            f["late"] = r["att"]["late"]
            fixed = [(x["att"]["late"], x["system"]) for x in rows
                     if x["name"] == r["name"] and x["system"].startswith(sweep_prefix)]
            if fixed:
                f["best_late"], f["best_system"] = max(fixed)
        out.append(f)
    return out


def report(rows: list[dict], systems: list[str], sweep_prefix: str) -> list[str]:
    """The events section of results.md."""
    if not rows:
        return []
    fs = findings(rows, sweep_prefix)
    cell = {(f["name"], f["system"]): f for f in fs}
    names = list(dict.fromkeys(f["name"] for f in fs))
    systems = [s for s in systems if s != "unprocessed" and any(f["system"] == s for f in fs)]
    lines = ["## Events: digital silence and noise steps", "",
             f"Noise attenuation (dB) in the speech pauses of the {AFTER[0]:g}..{AFTER[1]:g} s "
             "after each event ends, as 'with the event / same file without it'. Speech "
             f"at {-23} dBFS RMS; noise at {QUIET:g} dBFS, steps between {QUIET:g} and "
             f"{LOUD:g} dBFS; events at {EVENT_AT:g} s of {SECONDS:g} s files (the zeros at the "
             "start from 0 s). The same file without the event has the same speech and noise "
             "samples with the noise steady at the level the event leaves behind (the "
             "steady-45 and steady-30 files), so the scored frames are identical in both. "
             "Pause frames: 10 ms frames at least 50 ms from speech in the window. "
             f"'>{SHOWN_MAX:g}': the output is all but exact zeros there.", "",
             "| file | pause frames | " + " | ".join(systems) + " |",
             "|---|---:|" + "---:|" * len(systems)]
    for name in names:
        some = next(f for f in fs if f["name"] == name)
        cells = [f"{_fmt(c['after'])} / {_fmt(c['ref'])}" if (c := cell.get((name, s))) else "n/a"
                 for s in systems]
        lines.append(f"| {name} | {some['frames']} | " + " | ".join(cells) + " |")
    ups = [f for f in fs if f["shape"] == STEP_UP and "best_late" in f]
    if ups:
        lines += ["", f"After the rising step, in the pauses of the {LATE[0]:g}..{LATE[1]:g} s "
                  "after it, beside the best of the swept fixed thresholds there (dB):", "",
                  "| file | system | attenuation | best fixed threshold | its attenuation | "
                  "difference |", "|---|---|---:|---|---:|---:|"]
        for f in ups:
            # the sweep runs at the default maxNr: the others are not comparable
            if f["system"].startswith("engine") and "mode 1" not in f["system"] \
                    and "maxNr" not in f["system"]:
                thr = f["best_system"][len(sweep_prefix):-1]
                lines.append(f"| {f['name']} | {f['system']} | {_fmt(f['late'])} | {thr} dB | "
                             f"{_fmt(f['best_late'])} | {_fmt(f['late'] - f['best_late'])} |")
    return lines
