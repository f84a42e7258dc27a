"""Before/after report of a noise-reduction run, as one self-contained HTML page.

    python3 -m vocrel_rnr.report NOISY.wav [--clean REFERENCE.wav]
        [--processed CLEANED.wav] [--mode floor|environment] [tunables]
        [--freq-scale auto|linear|log] -o report.html

NOISY.wav (any file libsndfile reads, at any rate vocrel-clean takes) is
cleaned with the engine unless --processed gives an already cleaned file
(aligned with NOISY.wav). --clean names the clean reference speech, when there
is one: pauses are then taken from it and the segmental SNR is measured;
without it the pauses are the quietest frames of the input.

The page holds players for the input and the output, spectrograms and
waveforms of every channel, the level reduction per frame and the noise
spectrum in the pauses before and after, per band.

All levels are in dB relative to a full-scale 16-bit amplitude (dBFS), measured
on 10 ms frames, with the power of both channels summed for stereo files.
"""

from __future__ import annotations

import argparse
import base64
import html
import io
import json
import os
import sys
from dataclasses import asdict, dataclass, field
from pathlib import Path

import numpy as np

from ._files import refuse_inputs, write_bytes, write_text
from .audio import read_audio, write_audio
from .convert import clean_any_rate
from .engine import MODE_NAMES, TUNABLES, default_tunables, parse_mode, version

FULL_SCALE_POWER = 32768.0**2
FRAME_S = 0.010  # analysis frame: the engine's 10 ms frame
SETTLE_S = 0.5  # start-up time left out of the figures while the noise estimate settles
REF_ACTIVE_DB = 40.0  # reference frames this far below its loud frames count as pauses
PAUSE_GUARD_FRAMES = 2  # frames next to speech that are not counted as pauses
QUIET_FRACTION = 0.15  # without a reference: the quietest share of frames are pauses
LOUD_FRACTION = 0.20  # without a reference: the loudest share of frames are speech
SEG_SNR_RANGE = (-10.0, 35.0)  # per-frame SNR clamp of the segmental SNR
SPEC_RANGE_DB = 90.0  # colour range of the spectrograms below their common peak
LOG_FREQ_MIN_HZ = 50.0  # lowest frequency on a logarithmic axis
# Bands of the pause-noise table, Hz: octaves up to the top of the widest rate.
NOISE_BANDS = [(0, 125), (125, 250), (250, 500), (500, 1000), (1000, 2000), (2000, 4000),
               (4000, 8000), (8000, 16000), (16000, 24000)]


# ---- analysis ------------------------------------------------------------------
def frame_power(x: np.ndarray, frame: int) -> np.ndarray:
    """Mean power per frame (power of channels summed), trailing partial frame dropped."""
    x = np.asarray(x, np.float64)
    x = x[:, None] if x.ndim == 1 else x
    n = len(x) // frame
    return (x[: n * frame] ** 2).reshape(n, frame, -1).mean(axis=1).sum(axis=1)


def db(power, floor: float = 1e-10) -> np.ndarray:
    return 10.0 * np.log10(np.maximum(np.asarray(power, np.float64) / FULL_SCALE_POWER, floor))


def _ratio_db(num: float, den: float) -> float:
    return float(10.0 * np.log10(num / den)) if num > 0 and den > 0 else float("nan")


def _erode(mask: np.ndarray, k: int) -> np.ndarray:
    """Keeps only frames whose k neighbours on both sides are in the mask too."""
    out = mask.copy()
    for s in range(1, k + 1):
        out[s:] &= mask[:-s]
        out[:-s] &= mask[s:]
    return out


@dataclass
class Figures:
    rate: int
    seconds: float
    pause_source: str  # "reference" or "quietest frames"
    pause_frames: int
    speech_frames: int
    noise_before_db: float  # dBFS in the pauses, input
    noise_after_db: float  # dBFS in the pauses, output
    noise_reduction_db: float  # before - after (positive: quieter)
    speech_level_change_db: float  # output over input in speech frames
    seg_snr_before_db: float | None = None
    seg_snr_after_db: float | None = None
    seg_snr_gain_db: float | None = None
    # per-frame curves, for the plots
    frame_level_in: np.ndarray = field(default=None, repr=False)
    frame_level_out: np.ndarray = field(default=None, repr=False)
    pause_mask: np.ndarray = field(default=None, repr=False)

    def table(self) -> dict:
        d = asdict(self)
        for k in ("frame_level_in", "frame_level_out", "pause_mask"):
            d.pop(k)
        return d


def analyse(noisy: np.ndarray, cleaned: np.ndarray, rate: int,
            reference: np.ndarray | None = None, settle_s: float = SETTLE_S) -> Figures:
    """The report's figures. All arrays aligned, same length and channel count."""
    frame = int(round(rate * FRAME_S))
    p_in, p_out = frame_power(noisy, frame), frame_power(cleaned, frame)
    counted = np.arange(len(p_in)) >= int(round(settle_s / FRAME_S))

    if reference is not None:
        p_ref = frame_power(reference, frame)
        lvl = db(p_ref)
        active = lvl > np.percentile(lvl, 95) - REF_ACTIVE_DB
        pauses = _erode(~active, PAUSE_GUARD_FRAMES)
        speech = active
        source = "reference"
    else:
        lvl = db(p_in)
        lvl_counted = lvl[counted] if counted.any() else lvl
        pauses = lvl <= np.quantile(lvl_counted, QUIET_FRACTION)
        speech = lvl >= np.quantile(lvl_counted, 1.0 - LOUD_FRACTION)
        source = "quietest frames"
    pauses &= counted
    speech &= counted

    before = float(db(p_in[pauses].mean())) if pauses.any() else float("nan")
    after = float(db(p_out[pauses].mean())) if pauses.any() else float("nan")
    fig = Figures(
        rate=rate,
        seconds=len(noisy) / rate,
        pause_source=source,
        pause_frames=int(pauses.sum()),
        speech_frames=int(speech.sum()),
        noise_before_db=before,
        noise_after_db=after,
        noise_reduction_db=before - after,
        speech_level_change_db=_ratio_db(p_out[speech].sum(), p_in[speech].sum()),
        frame_level_in=db(p_in),
        frame_level_out=db(p_out),
        pause_mask=pauses,
    )
    if reference is not None and speech.any():
        ref = np.asarray(reference, np.float64)
        fig.seg_snr_before_db = seg_snr(ref, noisy, frame, speech)
        fig.seg_snr_after_db = seg_snr(ref, cleaned, frame, speech)
        fig.seg_snr_gain_db = fig.seg_snr_after_db - fig.seg_snr_before_db
    return fig


def seg_snr(reference: np.ndarray, test: np.ndarray, frame: int, frames: np.ndarray) -> float:
    """Mean over the chosen frames of the per-frame SNR of test against reference, clamped."""
    ref = np.asarray(reference, np.float64)
    err = np.asarray(test, np.float64) - ref
    p_ref, p_err = frame_power(ref, frame), frame_power(err, frame)
    snr = 10.0 * np.log10(np.maximum(p_ref, 1e-10) / np.maximum(p_err, 1e-10))
    return float(np.clip(snr[frames], *SEG_SNR_RANGE).mean())


# ---- plots -------------------------------------------------------------------------
def _nfft(rate: int) -> int:
    """About 32 ms, a power of two."""
    return 1 << int(round(np.log2(rate * 0.032)))


def _spectrogram(x: np.ndarray, rate: int) -> np.ndarray:
    """Power spectrogram in dBFS, frequency by time: Hann window of about 32 ms,
    half overlap."""
    nfft = _nfft(rate)
    hop = nfft // 2
    x = np.asarray(x, np.float64)
    if len(x) < nfft:
        x = np.pad(x, (0, nfft - len(x)))
    n = 1 + (len(x) - nfft) // hop
    win = np.hanning(nfft)
    frames = np.lib.stride_tricks.sliding_window_view(x, nfft)[::hop][:n] * win
    spec = np.abs(np.fft.rfft(frames, axis=1)) ** 2 / (win.sum() ** 2 / 4)
    return db(spec.T, 1e-12)


def pause_spectra(noisy, cleaned, rate: int, pause_mask: np.ndarray):
    """Mean power spectra (dBFS per bin, channels summed) of input and output
    over the pause frames, and the per-band table [(lo, hi, before, after)]."""
    nfft = _nfft(rate)
    frame = int(round(rate * FRAME_S))
    win = np.hanning(nfft)
    freqs = np.fft.rfftfreq(nfft, 1.0 / rate)

    span = -(-nfft // frame)  # frames a window covers: all of them must be pauses
    starts = [k for k in np.flatnonzero(pause_mask) if pause_mask[k:k + span].all()
              and len(pause_mask[k:k + span]) == span]

    def mean_power(a):
        a = np.asarray(a, np.float64).reshape(len(a), -1)
        acc, count = np.zeros(len(freqs)), 0
        for k in starts:
            seg = a[k * frame: k * frame + nfft]
            if len(seg) < nfft:
                continue
            acc += (np.abs(np.fft.rfft(seg * win[:, None], axis=0)) ** 2).sum(axis=1)
            count += 1
        # Parseval, one-sided: the bins of a band add up to its mean power
        return acc / max(count, 1) * 2 / (nfft * (win ** 2).sum())

    p_in, p_out = mean_power(noisy), mean_power(cleaned)
    bands = []
    for lo, hi in NOISE_BANDS:
        sel = (freqs >= lo) & (freqs < min(hi, rate / 2))
        if lo < rate / 2 and sel.any():
            bands.append((lo, min(hi, rate // 2), float(db(p_in[sel].sum())),
                          float(db(p_out[sel].sum()))))
    return freqs, db(p_in, 1e-12), db(p_out, 1e-12), bands


def _png(fig) -> bytes:
    """PNG bytes; reduced to a 128-colour palette when Pillow is there (a third
    of the size for the noisy texture of spectrograms)."""
    buf = io.BytesIO()
    fig.savefig(buf, format="png", dpi=fig.dpi)
    try:
        from PIL import Image
    except ImportError:
        return buf.getvalue()
    buf.seek(0)
    out = io.BytesIO()
    Image.open(buf).convert("RGB").quantize(colors=128).save(out, "PNG", optimize=True)
    return out.getvalue()


def _channels(a) -> list[np.ndarray]:
    a = np.asarray(a)
    return [a] if a.ndim == 1 else [a[:, c] for c in range(a.shape[1])]


def plot_all(noisy, cleaned, rate, figures: Figures, max_nr: int | None, dpi: int = 90,
             freq_scale: str = "auto") -> dict:
    """The report's pictures as PNG bytes: spectrograms and waveforms of every
    channel, the level reduction per frame and the noise spectrum in pauses."""
    import matplotlib

    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    ins, outs = _channels(noisy), _channels(cleaned)
    names = [""] if len(ins) == 1 else [f", channel {c + 1}" for c in range(len(ins))]
    log_freq = freq_scale == "log" or (freq_scale == "auto" and rate > 16000)
    seconds = len(ins[0]) / rate
    pngs = {}

    # spectrograms: input over output for every channel, on one colour scale
    specs = [(_spectrogram(x, rate), _spectrogram(y, rate)) for x, y in zip(ins, outs)]
    vmax = float(max(max(a.max(), b.max()) for a, b in specs))
    vmin = vmax - SPEC_RANGE_DB
    rows = 2 * len(specs)
    inches = 2.5 * rows + 0.4
    fig = plt.figure(figsize=(8, inches), dpi=dpi)
    freqs = np.fft.rfftfreq(_nfft(rate), 1.0 / rate)
    times = np.linspace(0, seconds, specs[0][0].shape[1] + 1)
    edges = np.concatenate([[freqs[0]], (freqs[1:] + freqs[:-1]) / 2, [freqs[-1]]])
    bottom, top, gap = 0.55 / inches, 1 - 0.3 / inches, 0.35 / inches  # margins, in figure units
    height = (top - bottom) / rows
    for r in range(rows):
        s_ = specs[r // 2][r % 2]
        ax = fig.add_axes([0.09, top - (r + 1) * height + gap / 2, 0.79, height - gap])
        im = ax.pcolormesh(times, np.maximum(edges, 1.0), s_, vmin=vmin, vmax=vmax,
                           cmap="magma", shading="flat", rasterized=True)
        if log_freq:
            ax.set_yscale("log")
            ax.set_ylim(LOG_FREQ_MIN_HZ, rate / 2)
        else:
            ax.set_ylim(0, rate / 2)
        ax.yaxis.set_major_formatter(matplotlib.ticker.FuncFormatter(
            lambda v, _: f"{v / 1000:g}k" if v >= 1000 else f"{v:g}"))
        ax.set_ylabel("Hz")
        ax.set_title(f"{'Input' if r % 2 == 0 else 'Output'}{names[r // 2]}", fontsize=10,
                     loc="left")
        if r < rows - 1:
            ax.tick_params(labelbottom=False)
        else:
            ax.set_xlabel("time (s)")
    fig.colorbar(im, cax=fig.add_axes([0.90, bottom + gap / 2, 0.02, top - bottom - gap]),
                 label="dBFS")
    pngs["spectrograms"] = _png(fig)
    plt.close(fig)

    # waveforms: input and output of every channel in panels of their own, as
    # min/max envelopes so that long files stay light
    height = 1.6 * 2 * len(ins) + 0.8  # inches
    fig, axes = plt.subplots(2 * len(ins), 1, figsize=(8, height), dpi=dpi, sharex=True,
                             sharey=True, squeeze=False)
    fig.subplots_adjust(left=0.09, right=0.98, bottom=0.55 / height, top=1 - 0.3 / height,
                        hspace=0.35)
    buckets = max(1, len(ins[0]) // 2000)
    n = len(ins[0]) // buckets * buckets
    tt = (np.arange(n // buckets) * buckets + buckets / 2) / rate
    peak = max(1, max(int(np.abs(x.astype(np.int32)).max(initial=0)) for x in ins))
    for c, (x, y) in enumerate(zip(ins, outs)):
        for k, (sig, colour, label) in enumerate(((x, "0.45", "Input"), (y, "tab:blue", "Output"))):
            ax = axes[2 * c + k, 0]
            b = sig[:n].reshape(-1, buckets)
            ax.fill_between(tt, b.min(axis=1), b.max(axis=1), color=colour, lw=0)
            ax.set_title(f"{label}{names[c]}", fontsize=9, loc="left")
            ax.set_ylabel("sample", fontsize=8)
    axes[0, 0].set_xlim(0, seconds)
    axes[0, 0].set_ylim(-1.05 * peak, 1.05 * peak)
    axes[-1, 0].set_xlabel("time (s)")
    pngs["waveforms"] = _png(fig)
    plt.close(fig)

    # per-frame level reduction
    red = figures.frame_level_out - figures.frame_level_in
    tf = (np.arange(len(red)) + 0.5) * FRAME_S
    fig, ax = plt.subplots(figsize=(8, 2.6), dpi=dpi)
    fig.subplots_adjust(left=0.09, right=0.98, bottom=0.19, top=0.89)
    if figures.pause_mask is not None and figures.pause_mask.any():
        ax.fill_between(tf, 0, 1, where=figures.pause_mask, transform=ax.get_xaxis_transform(),
                        color="tab:green", alpha=0.15, lw=0, step="mid", label="pause frames")
    ax.plot(tf, red, color="tab:red", lw=0.8, label="output level − input level")
    if max_nr is not None:
        ax.axhline(-max_nr, color="0.4", ls="--", lw=0.8, label=f"−max_nr ({max_nr} dB)")
    ax.axhline(0, color="0.2", lw=0.5)
    ax.set_xlim(0, seconds)
    lo = np.nanpercentile(red, 1) if len(red) else -30
    ax.set_ylim(min(-5.0, float(lo) - 3), 6)
    ax.set_xlabel("time (s)")
    ax.set_ylabel("dB")
    ax.legend(loc="upper right", ncol=3, fontsize=7, frameon=False)
    ax.set_title("Level reduction per 10 ms frame", fontsize=10, loc="left")
    pngs["reduction"] = _png(fig)
    plt.close(fig)

    # noise spectrum in the pauses, before and after
    if figures.pause_mask is not None and figures.pause_mask.any():
        f, before, after, _ = pause_spectra(noisy, cleaned, rate, figures.pause_mask)
        fig, ax = plt.subplots(figsize=(8, 2.8), dpi=dpi)
        fig.subplots_adjust(left=0.09, right=0.98, bottom=0.18, top=0.89)
        ax.plot(f[1:], before[1:], color="0.45", lw=0.9, label="input")
        ax.plot(f[1:], after[1:], color="tab:blue", lw=0.9, label="output")
        if log_freq:
            ax.set_xscale("log")
            ax.set_xlim(LOG_FREQ_MIN_HZ, rate / 2)
        else:
            ax.set_xlim(0, rate / 2)
        ax.set_xlabel("Hz")
        ax.set_ylabel("dBFS per bin")
        ax.legend(loc="upper right", fontsize=8, frameon=False)
        ax.set_title("Noise spectrum in the pauses", fontsize=10, loc="left")
        pngs["pause_noise"] = _png(fig)
        plt.close(fig)
    return pngs


def wav_bytes(samples: np.ndarray, rate: int) -> bytes:
    """16-bit PCM WAV in memory, for the page's players."""
    import wave

    buf = io.BytesIO()
    a = np.asarray(samples)
    with wave.open(buf, "wb") as w:
        w.setnchannels(1 if a.ndim == 1 else a.shape[1])
        w.setsampwidth(2)
        w.setframerate(int(rate))
        w.writeframes(np.ascontiguousarray(a, "<i2").tobytes())
    return buf.getvalue()


# ---- page ----------------------------------------------------------------------
def _fmt(v, unit=" dB"):
    """Differences in dB carry a sign; levels and counts do not."""
    if v is None or (isinstance(v, float) and np.isnan(v)):
        return "n/a"
    if isinstance(v, float):
        return f"{v:+.1f}{unit}" if unit == " dB" else f"{v:.1f}{unit}"
    return f"{v}{unit}"


def render_html(title: str, settings: dict, figures: Figures, pngs: dict,
                audio: dict | None = None, bands=None) -> str:
    """The page. audio: label -> WAV bytes for the players; bands: the
    pause-noise table of pause_spectra()."""
    rows = [
        ("Pauses found from", figures.pause_source, "source"),
        ("Pause frames counted", f"{figures.pause_frames} × 10 ms", "pause_frames"),
        ("Speech frames counted",
         f"{figures.speech_frames} × 10 ms ("
         + ("active in the reference" if figures.pause_source == "reference"
            else f"the loudest {LOUD_FRACTION:.0%} of the input") + ")", "speech_frames"),
        ("Noise level in pauses, before", _fmt(figures.noise_before_db, " dBFS"),
         "noise_before_db"),
        ("Noise level in pauses, after", _fmt(figures.noise_after_db, " dBFS"), "noise_after_db"),
        ("Noise reduction in pauses", _fmt(figures.noise_reduction_db), "noise_reduction_db"),
        ("Speech level change (output over input)", _fmt(figures.speech_level_change_db),
         "speech_level_change_db"),
    ]
    if figures.seg_snr_gain_db is not None:
        rows += [
            ("Segmental SNR, before", _fmt(figures.seg_snr_before_db), "seg_snr_before_db"),
            ("Segmental SNR, after", _fmt(figures.seg_snr_after_db), "seg_snr_after_db"),
            ("Segmental SNR improvement", _fmt(figures.seg_snr_gain_db), "seg_snr_gain_db"),
        ]
    fig_rows = "\n".join(
        f'<tr><th>{html.escape(k)}</th><td id="{i}">{html.escape(v)}</td></tr>'
        for k, v, i in rows)
    set_rows = "\n".join(
        f"<tr><th>{html.escape(str(k))}</th><td>{html.escape(str(v))}</td></tr>"
        for k, v in settings.items())
    captions = {
        "spectrograms": "Spectrograms before and after, on the same colour scale",
        "waveforms": "Waveforms: input (grey) and output (blue), on the same scale",
        "reduction": "Output level over input level, per frame; pause frames shaded",
        "pause_noise": "Noise spectrum averaged over the pause frames, before and after",
    }
    players = "\n".join(
        f'<figure class="player"><figcaption>{html.escape(k)}</figcaption>'
        f'<audio controls preload="metadata" src="data:audio/wav;base64,'
        f'{base64.b64encode(b).decode("ascii")}"></audio></figure>'
        for k, b in (audio or {}).items())
    band_rows = "\n".join(
        f"<tr><td>{lo:g}–{hi:g} Hz</td><td>{_fmt(b, ' dBFS')}</td><td>{_fmt(a, ' dBFS')}</td>"
        f"<td>{_fmt(b - a)}</td></tr>" for lo, hi, b, a in (bands or []))
    band_table = ("<h2>Noise in the pauses, per band</h2>\n<table id=\"bands\">\n"
                  "<tr><th>band</th><th>before</th><th>after</th><th>reduction</th></tr>\n"
                  f"{band_rows}\n</table>") if band_rows else ""
    imgs = "\n".join(
        f'<figure><img alt="{k}" src="data:image/png;base64,'
        f'{base64.b64encode(png).decode("ascii")}"><figcaption>{captions[k]}</figcaption></figure>'
        for k, png in pngs.items())
    data = html.escape(json.dumps(figures.table()), quote=True)
    return f"""<!DOCTYPE html>
<html lang="en"><head><meta charset="utf-8"><title>{html.escape(title)}</title>
<style>
body {{ font-family: sans-serif; max-width: 60em; margin: 1em auto; color: #222; }}
table {{ border-collapse: collapse; margin: 0.5em 0 1.5em; }}
th, td {{ border: 1px solid #ccc; padding: 0.25em 0.7em; text-align: left; }}
th {{ background: #f4f4f4; font-weight: normal; }}
td {{ font-variant-numeric: tabular-nums; }}
img {{ max-width: 100%; }}
figcaption {{ color: #555; font-size: 90%; }}
.players {{ display: flex; gap: 2em; flex-wrap: wrap; }}
.player {{ margin: 0; }}
audio {{ width: 22em; }}
</style></head>
<body data-figures="{data}">
<h1>{html.escape(title)}</h1>
<div class="players">
{players}
</div>
<h2>Figures</h2>
<table>
{fig_rows}
</table>
<p>Levels in dB relative to full-scale 16-bit, on 10 ms frames; the first
{SETTLE_S:g} s are left out while the noise estimate settles.</p>
<h2>Settings</h2>
<table>
{set_rows}
</table>
{band_table}
{imgs}
</body></html>
"""


# ---- command line ------------------------------------------------------------------
def _match(a: np.ndarray, b: np.ndarray, what: str) -> tuple[np.ndarray, np.ndarray]:
    ca = 1 if a.ndim == 1 else a.shape[1]
    cb = 1 if b.ndim == 1 else b.shape[1]
    if ca != cb:
        raise SystemExit(f"report: {what} has {cb} channel(s), the input {ca}")
    n = min(len(a), len(b))
    return a[:n], b[:n]


def _thr_arg(text: str):
    """--level-thr: a number fixes the threshold, "auto" (the default) follows the noise."""
    return text if text == "auto" else int(text)


def build_parser() -> argparse.ArgumentParser:
    p = argparse.ArgumentParser(
        prog="python3 -m vocrel_rnr.report",
        description="Clean an audio file and write a before/after report as one HTML page.")
    p.add_argument("noisy", help="noisy input: WAV, FLAC ... (what vocrel-clean reads), any rate")
    p.add_argument("-o", "--output", required=True, help="HTML page to write")
    p.add_argument("--clean", metavar="REFERENCE.wav",
                   help="clean reference speech aligned with the input")
    p.add_argument("--processed", metavar="CLEANED.wav",
                   help="already cleaned output to report on instead of running the engine")
    p.add_argument("--mode", default="floor",
                   help="floor (0, default) or environment (1)")
    for name in TUNABLES:
        p.add_argument("--" + name.replace("_", "-"), dest=name, default=None, metavar="N",
                       type=_thr_arg if name == "level_thr" else int)
    p.add_argument("--write-cleaned", metavar="OUT.wav", help="also write the cleaned audio")
    p.add_argument("--save-figures", metavar="DIR", help="also write the pictures as PNG files")
    p.add_argument("--json", metavar="FILE", help="also write the figures as JSON")
    p.add_argument("--dpi", type=int, default=90, help="picture resolution (default 90)")
    p.add_argument("--freq-scale", choices=("auto", "linear", "log"), default="auto",
                   help="frequency axis of the spectra: log, linear, or auto (log above 16 kHz)")
    p.add_argument("--no-audio", action="store_true",
                   help="leave the players out (a smaller page)")
    return p


def _refuse_overwriting_inputs(args) -> None:
    """No output may be one of the inputs (a swapped -o would replace the recording)."""
    inputs = (args.noisy, args.clean, args.processed)
    for option, out in (("-o", args.output), ("--json", args.json),
                        ("--write-cleaned", args.write_cleaned)):
        if out is not None:
            refuse_inputs(out, inputs, f"output of {option}")
    outs = [o for o in (args.output, args.json, args.write_cleaned) if o is not None]
    if len({os.path.realpath(o) for o in outs}) != len(outs):
        raise ValueError("-o, --json and --write-cleaned name the same file")


def main(argv=None) -> Figures:
    args = build_parser().parse_args(argv)
    _refuse_overwriting_inputs(args)
    noisy, rate = read_audio(args.noisy)
    tunables = {k: getattr(args, k) for k in TUNABLES if getattr(args, k) is not None}
    mode = parse_mode(args.mode)
    settings = {"input": args.noisy}
    if args.processed:
        cleaned, rate2 = read_audio(args.processed)
        if rate2 != rate:
            raise SystemExit(f"report: {args.processed} is at {rate2} Hz, the input at {rate} Hz")
        noisy, cleaned = _match(noisy, cleaned, args.processed)
        settings["cleaned output"] = args.processed
        max_nr = tunables.get("max_nr")
    else:
        changes = []  # automatic threshold: (frame, dB)
        cleaned, engine_rate = clean_any_rate(noisy, rate, mode, threshold_changes=changes,
                                              **tunables)
        v = version()
        settings["mode"] = f"{mode} ({MODE_NAMES.get(mode, '?')})"
        if engine_rate != rate:
            settings["engine rate"] = f"{engine_rate} Hz (converted there and back)"
        used = {**default_tunables(mode), **tunables}
        settings.update({k: used[k] for k in TUNABLES})
        if changes:
            settings["level_thr"] = "auto: " + ", ".join(
                f"{db} dB from {frame / 100:.2f} s" for frame, db in changes[:6]) + (
                f" ({len(changes)} changes)" if len(changes) > 6 else "")
        settings["engine"] = f"{v.ver_text} ({v.build_time})"
        max_nr = used["max_nr"]
    reference = None
    if args.clean:
        reference, rate3 = read_audio(args.clean)
        if rate3 != rate:
            raise SystemExit(f"report: {args.clean} is at {rate3} Hz, the input at {rate} Hz")
        noisy, reference = _match(noisy, reference, args.clean)
        cleaned = cleaned[: len(noisy)]
        settings["reference"] = args.clean
    settings["sample rate"] = f"{rate} Hz"
    settings["channels"] = 1 if noisy.ndim == 1 else noisy.shape[1]

    figures = analyse(noisy, cleaned, rate, reference)
    pngs = plot_all(noisy, cleaned, rate, figures, max_nr, dpi=args.dpi,
                    freq_scale=args.freq_scale)
    bands = (pause_spectra(noisy, cleaned, rate, figures.pause_mask)[3]
             if figures.pause_mask.any() else [])
    audio = None if args.no_audio else {"Input": wav_bytes(noisy, rate),
                                         "Output": wav_bytes(cleaned, rate)}
    title = f"Noise reduction report: {Path(args.noisy).name}"
    write_text(args.output, render_html(title, settings, figures, pngs, audio, bands))
    if args.write_cleaned and not args.processed:
        write_audio(args.write_cleaned, cleaned, rate, like=args.noisy)
    if args.save_figures:
        d = Path(args.save_figures)
        d.mkdir(parents=True, exist_ok=True)
        for k, png in pngs.items():
            write_bytes(d / f"{k}.png", png)
    if args.json:
        write_text(args.json, json.dumps(figures.table(), indent=1) + "\n")
    for k, v in figures.table().items():
        print(f"{k:24} {v:.2f}" if isinstance(v, float) else f"{k:24} {v}")
    print(f"wrote {args.output}")
    return figures


if __name__ == "__main__":
    try:
        main()
    except (OSError, ValueError, TypeError, RuntimeError) as exc:
        print(f"report: {exc}", file=sys.stderr)
        sys.exit(1)
