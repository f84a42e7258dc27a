"""Before/after report of a noise-reduction run, as one self-contained HTML page.

    python3 -m vocrel_rnr.report NOISY.wav [--clean REFERENCE.wav]
        [--processed CLEANED.wav] [--mode floor|environment] [tunables] -o report.html

NOISY.wav is cleaned with the engine unless --processed gives an already
cleaned file (aligned with NOISY.wav). --clean names the clean reference
speech, when there is one: pauses are then taken from it and the segmental SNR
is measured; without it the pauses are the quietest frames of the input.

All levels are in dB relative to a full-scale 16-bit amplitude (dBFS), measured
on 10 ms frames, with the power of both channels summed for stereo files.
"""

from __future__ import annotations

import argparse
import base64
import html
import io
import json
import sys
from dataclasses import asdict, dataclass, field
from pathlib import Path

import numpy as np

from .engine import MODE_NAMES, TUNABLES, Cleaner, parse_mode, version
from .wavio import read_wav, write_wav

FULL_SCALE_POWER = 32768.0**2
FRAME_S = 0.010  # analysis frame: the engine's 10 ms frame
SETTLE_S = 0.5  # start-up time left out of the figures while the noise estimate settles
REF_ACTIVE_DB = 40.0  # reference frames this far below its loud frames count as pauses
PAUSE_GUARD_FRAMES = 2  # frames next to speech that are not counted as pauses
QUIET_FRACTION = 0.15  # without a reference: the quietest share of frames are pauses
LOUD_FRACTION = 0.20  # without a reference: the loudest share of frames are speech
SEG_SNR_RANGE = (-10.0, 35.0)  # per-frame SNR clamp of the segmental SNR
SPEC_RANGE_DB = 90.0  # colour range of the spectrograms below their common peak


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
def _spectrogram(x: np.ndarray, rate: int) -> np.ndarray:
    """Power spectrogram in dBFS, frequency by time: Hann window of about 32 ms,
    half overlap."""
    nfft = {8000: 256, 16000: 512}.get(rate, 1536)
    hop = nfft // 2
    x = np.asarray(x, np.float64)
    if len(x) < nfft:
        x = np.pad(x, (0, nfft - len(x)))
    n = 1 + (len(x) - nfft) // hop
    win = np.hanning(nfft)
    frames = np.lib.stride_tricks.sliding_window_view(x, nfft)[::hop][:n] * win
    spec = np.abs(np.fft.rfft(frames, axis=1)) ** 2 / (win.sum() ** 2 / 4)
    return db(spec.T, 1e-12)


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


def plot_all(noisy, cleaned, rate, figures: Figures, max_nr: int | None, dpi: int = 90) -> dict:
    """The report's pictures as PNG bytes: spectrograms, waveforms, reduction."""
    import matplotlib

    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    ch0 = lambda a: np.asarray(a).reshape(len(a), -1)[:, 0]  # noqa: E731
    x, y = ch0(noisy), ch0(cleaned)
    stereo = np.asarray(noisy).ndim == 2 and np.asarray(noisy).shape[1] > 1
    note = " (channel 1)" if stereo else ""
    pngs = {}

    # spectrograms on one colour scale
    s_in, s_out = _spectrogram(x, rate), _spectrogram(y, rate)
    vmax = float(max(s_in.max(), s_out.max()))
    vmin = vmax - SPEC_RANGE_DB
    fig = plt.figure(figsize=(8, 5), dpi=dpi)
    axes = [fig.add_axes([0.08, 0.56, 0.80, 0.38]), fig.add_axes([0.08, 0.10, 0.80, 0.38])]
    extent = (0, len(x) / rate, 0, rate / 2000)
    for ax, s, title in ((axes[0], s_in, "Input"), (axes[1], s_out, "Output")):
        im = ax.imshow(s, origin="lower", aspect="auto", extent=extent, vmin=vmin, vmax=vmax,
                       cmap="magma", interpolation="nearest")
        ax.set_ylabel("kHz")
        ax.set_title(f"{title}{note}", fontsize=10, loc="left")
    axes[0].tick_params(labelbottom=False)
    axes[1].set_xlabel("time (s)")
    fig.colorbar(im, cax=fig.add_axes([0.90, 0.10, 0.02, 0.84]), label="dBFS")
    pngs["spectrograms"] = _png(fig)
    plt.close(fig)

    # waveforms overlaid, as min/max envelopes so long files stay light
    fig, ax = plt.subplots(figsize=(8, 2.6), dpi=dpi)
    fig.subplots_adjust(left=0.09, right=0.98, bottom=0.19, top=0.89)
    buckets = max(1, len(x) // 2000)
    n = len(x) // buckets * buckets
    tt = (np.arange(n // buckets) * buckets + buckets / 2) / rate
    for sig, colour, label in ((x, "0.65", "input"), (y, "tab:blue", "output")):
        b = sig[:n].reshape(-1, buckets)
        ax.fill_between(tt, b.min(axis=1), b.max(axis=1), color=colour, lw=0, label=label,
                        alpha=0.9 if label == "input" else 0.8)
    ax.set_xlim(0, len(x) / rate)
    peak = max(1, int(np.abs(x.astype(np.int32)).max(initial=0)))
    ax.set_ylim(-1.05 * peak, 1.05 * peak)
    ax.set_xlabel("time (s)")
    ax.set_ylabel("sample")
    ax.legend(loc="upper right", fontsize=8)
    ax.set_title(f"Waveforms{note}", fontsize=10, loc="left")
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
    ax.set_xlim(0, len(x) / rate)
    lo = np.nanpercentile(red, 1) if len(red) else -30
    ax.set_ylim(min(-5.0, float(lo) - 3), 6)
    ax.set_xlabel("time (s)")
    ax.set_ylabel("dB")
    ax.legend(loc="upper right", ncol=3, fontsize=7, frameon=False)
    ax.set_title("Level reduction per 10 ms frame", fontsize=10, loc="left")
    pngs["reduction"] = _png(fig)
    plt.close(fig)
    return pngs


# ---- page ----------------------------------------------------------------------
def _fmt(v, unit=" dB"):
    """Differences in dB carry a sign; levels and counts do not."""
    if v is None or (isinstance(v, float) and np.isnan(v)):
        return "n/a"
    if isinstance(v, float):
        return f"{v:+.1f}{unit}" if unit == " dB" else f"{v:.1f}{unit}"
    return f"{v}{unit}"


def render_html(title: str, settings: dict, figures: Figures, pngs: dict) -> str:
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
        "waveforms": "Waveforms: input (grey) and output (blue) overlaid",
        "reduction": "Output level over input level, per frame; pause frames shaded",
    }
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
</style></head>
<body data-figures="{data}">
<h1>{html.escape(title)}</h1>
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
        description="Clean a 16-bit WAV file and write a before/after report as one HTML page.")
    p.add_argument("noisy", help="noisy input, 16-bit PCM WAV at 8, 16 or 48 kHz")
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
    return p


def main(argv=None) -> Figures:
    args = build_parser().parse_args(argv)
    noisy, rate = read_wav(args.noisy)
    tunables = {k: getattr(args, k) for k in TUNABLES if getattr(args, k) is not None}
    mode = parse_mode(args.mode)
    settings = {"input": args.noisy}
    if args.processed:
        cleaned, rate2 = read_wav(args.processed)
        if rate2 != rate:
            raise SystemExit(f"report: {args.processed} is at {rate2} Hz, the input at {rate} Hz")
        noisy, cleaned = _match(noisy, cleaned, args.processed)
        settings["cleaned output"] = args.processed
        max_nr = tunables.get("max_nr")
    else:
        eng = Cleaner(rate, 1 if noisy.ndim == 1 else noisy.shape[1], mode, **tunables)
        cleaned = np.concatenate([eng.process(noisy), eng.flush()])
        v = version()
        settings["mode"] = f"{mode} ({MODE_NAMES.get(mode, '?')})"
        from .engine import default_tunables

        used = {**default_tunables(mode), **tunables}
        settings.update({k: used[k] for k in TUNABLES})
        if eng.threshold_changes:  # automatic threshold: dB from time
            settings["level_thr"] = "auto: " + ", ".join(
                f"{db} dB from {frame * eng.frame_length / rate:.2f} s"
                for frame, db in eng.threshold_changes[:6]) + (
                f" ({len(eng.threshold_changes)} changes)" if len(eng.threshold_changes) > 6 else "")
        settings["engine"] = f"{v.ver_text} ({v.build_time})"
        max_nr = used["max_nr"]
    reference = None
    if args.clean:
        reference, rate3 = read_wav(args.clean)
        if rate3 != rate:
            raise SystemExit(f"report: {args.clean} is at {rate3} Hz, the input at {rate} Hz")
        noisy, reference = _match(noisy, reference, args.clean)
        cleaned = cleaned[: len(noisy)]
        settings["reference"] = args.clean
    settings["sample rate"] = f"{rate} Hz"
    settings["channels"] = 1 if noisy.ndim == 1 else noisy.shape[1]

    figures = analyse(noisy, cleaned, rate, reference)
    pngs = plot_all(noisy, cleaned, rate, figures, max_nr, dpi=args.dpi)
    title = f"Noise reduction report: {Path(args.noisy).name}"
    Path(args.output).write_text(render_html(title, settings, figures, pngs), encoding="utf-8")
    if args.write_cleaned and not args.processed:
        write_wav(args.write_cleaned, cleaned, rate)
    if args.save_figures:
        d = Path(args.save_figures)
        d.mkdir(parents=True, exist_ok=True)
        for k, png in pngs.items():
            (d / f"{k}.png").write_bytes(png)
    if args.json:
        Path(args.json).write_text(json.dumps(figures.table(), indent=1) + "\n")
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
