"""Before/after report of a noise-reduction run, as one self-contained HTML page.

    python3 -m vocrel_rnr.report NOISY.wav [--clean REFERENCE.wav]
        [--processed CLEANED.wav] [--mode floor|environment] [tunables]
        [--freq-scale auto|linear|log] [--excerpt START:SECONDS] -o report.html

NOISY.wav (any file libsndfile reads, at any rate vocrel-clean takes) is
cleaned with the engine unless --processed gives an already cleaned file
(aligned with NOISY.wav). --clean names the clean reference speech, when there
is one: pauses are then taken from it and the segmental SNR is measured;
without it the pauses are the quietest frames of the input.

The page holds an A/B player that switches between the input and the output
at the same position (the whole file when it is short, else an excerpt that
--excerpt START:SECONDS chooses, compressed as Ogg Vorbis), spectrograms and
waveforms of every channel, the level reduction per frame and the noise
spectrum in the pauses before and after, per band.

Long recordings stay light: the audio is read and cleaned in blocks, the
measures are taken block by block, and the pictures are computed at the
width they are drawn (a spectrogram column averages a few FFT frames of its
stretch of time instead of every frame being drawn), so that time and memory
beyond the two int16 signals do not grow with the length.

All levels are in dB relative to a full-scale 16-bit amplitude (dBFS), measured
on 10 ms frames, with the power of both channels summed for stereo files; the
segmental SNR (seg_snr) on 20 ms segments.
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
from .audio import write_audio
from .engine import MODE_NAMES, TUNABLES, default_tunables, parse_mode, version

FULL_SCALE_POWER = 32768.0**2
FRAME_S = 0.010  # analysis frame: the engine's 10 ms frame
SETTLE_S = 0.5  # start-up time left out of the figures while the noise estimate settles
REF_ACTIVE_DB = 40.0  # reference frames this far below its loud frames count as pauses
PAUSE_GUARD_FRAMES = 2  # frames next to speech that are not counted as pauses
QUIET_FRACTION = 0.15  # without a reference: the quietest share of frames are pauses
LOUD_FRACTION = 0.20  # without a reference: the loudest share of frames are speech
SEG_S = 0.020  # segmental SNR: segment length, two engine frames
SEG_SPEECH_DB = 40.0  # segmental SNR: segments this far below the loudest are left out
SEG_SNR_RANGE = (-10.0, 35.0)  # segmental SNR: clamp of each segment's SNR, dB
SPEC_RANGE_DB = 90.0  # colour range of the spectrograms below their common peak
LOG_FREQ_MIN_HZ = 50.0  # lowest frequency on a logarithmic axis
PAGE_WIDTH_IN = 8.0  # width of the pictures, inches
SPEC_FRAMES_PER_COLUMN = 4  # FFT frames averaged into a spectrogram column, at most
PAUSE_WINDOWS_MAX = 2000  # pause windows averaged into the pause spectrum, at most
WAVE_FLOOR_DB = -80.0  # bottom of the waveforms' dBFS axis
EXCERPT_S = 60.0  # longer files get an excerpt of this length in the players
BLOCK_SAMPLES = 1 << 16  # samples per block when reading, cleaning and measuring
VORBIS_BLOCK = 1 << 14  # samples per write to the Vorbis encoder
# Bands of the pause-noise table, Hz: octaves up to the top of the widest rate.
NOISE_BANDS = [(0, 125), (125, 250), (250, 500), (500, 1000), (1000, 2000), (2000, 4000),
               (4000, 8000), (8000, 16000), (16000, 24000)]


# ---- analysis ------------------------------------------------------------------
def _frame_blocks(n_frames: int, frame: int):
    """(first, end) frame ranges of about BLOCK_SAMPLES samples each."""
    step = max(1, BLOCK_SAMPLES // frame)
    for i in range(0, n_frames, step):
        yield i, min(n_frames, i + step)


def _as_2d(x) -> np.ndarray:
    x = np.asarray(x)
    return x[:, None] if x.ndim == 1 else x


def frame_power(x: np.ndarray, frame: int, minus: np.ndarray | None = None) -> np.ndarray:
    """Mean power per frame (power of channels summed), trailing partial frame
    dropped; of x - minus when minus is given. Block by block, so that no
    float copy of a long signal is made."""
    x = _as_2d(x)
    m = None if minus is None else _as_2d(minus)
    n = len(x) // frame
    out = np.empty(n)
    for i, j in _frame_blocks(n, frame):
        b = x[i * frame: j * frame].astype(np.float64)
        if m is not None:
            b -= m[i * frame: j * frame]
        # a frame's samples of all channels lie next to each other: one sum each
        out[i:j] = np.einsum("ij,ij->i", *(b.reshape(j - i, -1),) * 2) / frame
    return out


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
        start = int(round(settle_s * rate))  # the span the other figures count
        fig.seg_snr_before_db = seg_snr(reference[start:], noisy[start:], rate)
        fig.seg_snr_after_db = seg_snr(reference[start:], cleaned[start:], rate)
        fig.seg_snr_gain_db = fig.seg_snr_after_db - fig.seg_snr_before_db
    return fig


def seg_snr(reference: np.ndarray, test: np.ndarray, rate: int) -> float:
    """Segmental SNR of test against the aligned reference, dB: the signals are cut
    into 20 ms segments (SEG_S), those whose reference power is within 40 dB of
    the loudest (SEG_SPEECH_DB) carry speech, and the mean of their SNRs, each
    clamped to -10..35 dB (SEG_SNR_RANGE), is the figure. Channels' powers are
    summed. The one definition of the report and of bench/quality."""
    seg = int(round(rate * SEG_S))
    n = min(len(reference), len(test))
    p_ref = frame_power(reference[:n], seg)
    p_err = frame_power(test[:n], seg, minus=reference[:n])
    speech = p_ref > p_ref.max() * 10.0 ** (-SEG_SPEECH_DB / 10.0)
    snr = 10.0 * np.log10((p_ref[speech] + 1e-9) / (p_err[speech] + 1e-9))
    return float(np.clip(snr, *SEG_SNR_RANGE).mean())


# ---- plots -------------------------------------------------------------------------
def _nfft(rate: int) -> int:
    """About 32 ms, a power of two."""
    return 1 << int(round(np.log2(rate * 0.032)))


def _spectrogram(x: np.ndarray, rate: int, columns: int | None = None) -> np.ndarray:
    """Power spectrogram in dBFS, frequency by time: Hann window of about 32 ms,
    half overlap. With `columns` (the pixels it is drawn on) a longer signal
    gets that many columns, each the mean power of up to SPEC_FRAMES_PER_COLUMN
    frames spread over its stretch of time; a shorter one a column per frame."""
    nfft = _nfft(rate)
    hop = nfft // 2
    x = np.asarray(x)
    if len(x) < nfft:
        x = np.pad(x, (0, nfft - len(x)))
    n = 1 + (len(x) - nfft) // hop
    cols = n if columns is None else max(1, min(n, columns))
    per = min(SPEC_FRAMES_PER_COLUMN, n // cols)
    lo = np.arange(cols) * n // cols
    width = np.arange(1, cols + 1) * n // cols - lo
    frames = lo[:, None] + np.arange(per)[None, :] * width[:, None] // per  # cols x per
    win = np.hanning(nfft)
    scale = win.sum() ** 2 / 4
    out = np.empty((nfft // 2 + 1, cols))
    step = max(1, BLOCK_SAMPLES * 8 // (nfft * per))
    for c in range(0, cols, step):
        starts = frames[c: c + step] * hop
        seg = x[starts[:, :, None] + np.arange(nfft)].astype(np.float64) * win
        out[:, c: c + step] = (np.abs(np.fft.rfft(seg, axis=2)) ** 2).mean(axis=1).T / scale
    return db(out, 1e-12)


def _pause_starts(pause_mask: np.ndarray, span: int, n_frames_fit: int) -> np.ndarray:
    """Frames that start `span` pause frames in a row (at most PAUSE_WINDOWS_MAX
    of them, spread evenly), of the first n_frames_fit frames."""
    if len(pause_mask) < span:
        return np.zeros(0, int)
    whole = np.lib.stride_tricks.sliding_window_view(pause_mask, span).all(axis=1)
    starts = np.flatnonzero(whole[: max(0, n_frames_fit)])
    if len(starts) > PAUSE_WINDOWS_MAX:
        starts = starts[np.linspace(0, len(starts) - 1, PAUSE_WINDOWS_MAX).round().astype(int)]
    return starts


def pause_spectra(noisy, cleaned, rate: int, pause_mask: np.ndarray):
    """Mean power spectra (dBFS per bin, channels summed) of input and output
    over the pause frames, and the per-band table [(lo, hi, before, after)]."""
    nfft = _nfft(rate)
    frame = int(round(rate * FRAME_S))
    win = np.hanning(nfft)
    freqs = np.fft.rfftfreq(nfft, 1.0 / rate)

    span = -(-nfft // frame)  # frames a window covers: all of them must be pauses
    n = len(noisy)
    starts = _pause_starts(np.asarray(pause_mask, bool), span, (n - nfft) // frame + 1)

    def mean_power(a):
        a = _as_2d(a)
        acc = np.zeros(len(freqs))
        step = max(1, BLOCK_SAMPLES * 4 // (nfft * a.shape[1]))
        for i in range(0, len(starts), step):
            idx = starts[i: i + step, None] * frame + np.arange(nfft)
            seg = a[idx].astype(np.float64) * win[None, :, None]  # windows x nfft x channels
            acc += (np.abs(np.fft.rfft(seg, axis=1)) ** 2).sum(axis=(0, 2))
        # Parseval, one-sided: the bins of a band add up to its mean power
        return acc / max(len(starts), 1) * 2 / (nfft * (win ** 2).sum())

    p_in, p_out = mean_power(noisy), mean_power(cleaned)
    bands = []
    for lo, hi in NOISE_BANDS:
        sel = (freqs >= lo) & (freqs < min(hi, rate / 2))
        if lo < rate / 2 and sel.any():
            bands.append((lo, min(hi, rate // 2), float(db(p_in[sel].sum())),
                          float(db(p_out[sel].sum()))))
    return freqs, db(p_in, 1e-12), db(p_out, 1e-12), bands


def _bucket_levels(x: np.ndarray, bucket: int) -> tuple[np.ndarray, np.ndarray]:
    """Peak and RMS level in dBFS of each run of `bucket` samples."""
    n = len(x) // bucket
    peak, rms = np.empty(n), np.empty(n)
    step = max(1, BLOCK_SAMPLES // bucket)
    for i in range(0, n, step):
        j = min(n, i + step)
        b = x[i * bucket: j * bucket].astype(np.float64).reshape(j - i, bucket)
        peak[i:j] = np.abs(b).max(axis=1) ** 2
        rms[i:j] = (b * b).mean(axis=1)
    return db(peak), db(rms)


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


def _level_reduction(figures: Figures, group: int):
    """Output level over input level (dB) and the pause mask, in runs of
    `group` frames."""
    n = len(figures.frame_level_in) // group * group
    if group == 1 or n == 0:
        return figures.frame_level_out - figures.frame_level_in, figures.pause_mask
    p_in = (10.0 ** (figures.frame_level_in[:n] / 10)).reshape(-1, group).sum(axis=1)
    p_out = (10.0 ** (figures.frame_level_out[:n] / 10)).reshape(-1, group).sum(axis=1)
    mask = None
    if figures.pause_mask is not None:
        mask = figures.pause_mask[:n].reshape(-1, group).mean(axis=1) >= 0.5
    return 10.0 * np.log10(p_out / p_in), mask


def plot_all(noisy, cleaned, rate, figures: Figures, max_nr: int | None, dpi: int = 90,
             freq_scale: str = "auto", spectra=None) -> dict:
    """The report's pictures as PNG bytes: spectrograms and waveforms of every
    channel, the level reduction per frame and the noise spectrum in pauses
    (spectra: what pause_spectra() returned, when it was already computed)."""
    import matplotlib

    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    ins, outs = _channels(noisy), _channels(cleaned)
    names = [""] if len(ins) == 1 else [f", channel {c + 1}" for c in range(len(ins))]
    log_freq = freq_scale == "log" or (freq_scale == "auto" and rate > 16000)
    seconds = len(ins[0]) / rate
    pngs = {}

    # spectrograms: input over output for every channel, on one colour scale
    columns = int(PAGE_WIDTH_IN * dpi * 0.79)  # the panels' width in pixels
    specs = [(_spectrogram(x, rate, columns), _spectrogram(y, rate, columns))
             for x, y in zip(ins, outs)]
    vmax = float(max(max(a.max(), b.max()) for a, b in specs))
    vmin = vmax - SPEC_RANGE_DB
    rows = 2 * len(specs)
    inches = 2.5 * rows + 0.4
    fig = plt.figure(figsize=(PAGE_WIDTH_IN, inches), dpi=dpi)
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
    # peak and RMS level in dBFS per pixel column, so that long files stay light
    height = 1.6 * 2 * len(ins) + 0.8  # inches
    fig, axes = plt.subplots(2 * len(ins), 1, figsize=(PAGE_WIDTH_IN, height), dpi=dpi,
                             sharex=True, sharey=True, squeeze=False)
    fig.subplots_adjust(left=0.09, right=0.98, bottom=0.55 / height, top=1 - 0.3 / height,
                        hspace=0.35)
    bucket = max(1, len(ins[0]) // (2 * int(PAGE_WIDTH_IN * dpi)))
    tt = (np.arange(len(ins[0]) // bucket) + 0.5) * bucket / rate
    for c, (x, y) in enumerate(zip(ins, outs)):
        for k, (sig, colour, label) in enumerate(((x, "0.45", "Input"), (y, "tab:blue", "Output"))):
            ax = axes[2 * c + k, 0]
            peak, rms = _bucket_levels(sig, bucket)
            ax.fill_between(tt, WAVE_FLOOR_DB, peak, color=colour, alpha=0.45, lw=0)
            ax.fill_between(tt, WAVE_FLOOR_DB, rms, color=colour, lw=0)
            ax.set_title(f"{label}{names[c]}", fontsize=9, loc="left")
            ax.set_ylabel("dBFS", fontsize=8)
    axes[0, 0].set_xlim(0, seconds)
    axes[0, 0].set_ylim(WAVE_FLOOR_DB, 0)
    axes[-1, 0].set_xlabel("time (s)")
    pngs["waveforms"] = _png(fig)
    plt.close(fig)

    # per-frame level reduction
    # per-frame level reduction, frames merged into as many points as the
    # picture has pixels (power over power, a point a pause when most of its
    # frames are)
    group = max(1, -(-len(figures.frame_level_in) // int(2 * PAGE_WIDTH_IN * dpi)))
    red, pause_mask = _level_reduction(figures, group)
    tf = (np.arange(len(red)) + 0.5) * FRAME_S * group
    fig, ax = plt.subplots(figsize=(PAGE_WIDTH_IN, 2.6), dpi=dpi)
    fig.subplots_adjust(left=0.09, right=0.98, bottom=0.19, top=0.89)
    if pause_mask is not None and pause_mask.any():
        ax.fill_between(tf, 0, 1, where=pause_mask, transform=ax.get_xaxis_transform(),
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
    ax.set_title("Level reduction per 10 ms frame" if group == 1 else
                 f"Level reduction per {group * FRAME_S * 1000:g} ms", fontsize=10, loc="left")
    pngs["reduction"] = _png(fig)
    plt.close(fig)

    # noise spectrum in the pauses, before and after
    if figures.pause_mask is not None and figures.pause_mask.any():
        f, before, after, _ = spectra or pause_spectra(noisy, cleaned, rate, figures.pause_mask)
        fig, ax = plt.subplots(figsize=(PAGE_WIDTH_IN, 2.8), dpi=dpi)
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


def player_audio(samples: np.ndarray, rate: int) -> tuple[str, bytes]:
    """(MIME type, bytes) of the audio for a player: Ogg Vorbis when libsndfile
    writes it (a tenth of the size of PCM), else WAV."""
    try:
        import soundfile as sf

        if "VORBIS" in sf.available_subtypes("OGG"):
            buf = io.BytesIO()
            a = np.asarray(samples)
            with sf.SoundFile(buf, "w", int(rate), 1 if a.ndim == 1 else a.shape[1],
                              format="OGG", subtype="VORBIS") as f:
                # in blocks: libsndfile's Vorbis encoder crashes on one
                # write of a minute of audio
                for i in range(0, len(a), VORBIS_BLOCK):
                    f.write(a[i: i + VORBIS_BLOCK])
            return "audio/ogg", buf.getvalue()
    except (ImportError, RuntimeError, TypeError):
        pass  # PCM below: larger, but every browser plays it
    return "audio/wav", wav_bytes(samples, rate)


def parse_excerpt(text: str | None, seconds: float) -> tuple[float, float]:
    """(start, length) in seconds of the audio the players hold: "START:SECONDS",
    "all", or None: the whole file up to EXCERPT_S, else its first EXCERPT_S."""
    if text is None:
        return 0.0, min(seconds, EXCERPT_S)
    if text == "all":
        return 0.0, seconds
    try:
        start, length = (float(v) for v in text.split(":"))
    except ValueError:
        raise ValueError(f"--excerpt {text}: expected START:SECONDS or all") from None
    if not (0 <= start < seconds and length > 0):
        raise ValueError(f"--excerpt {text}: the file is {seconds:.1f} s long")
    return start, min(length, seconds - start)


def _clock(t: float) -> str:
    return f"{int(t // 60)}:{t % 60:04.1f}"


# ---- page ----------------------------------------------------------------------
# Two players kept in step: one is shown at a time; switching hands the
# position (and whether it plays) to the other, so input and output are
# compared at the same moment.
AB_SCRIPT = """<script>
(() => {
  const players = [document.getElementById("ab-input"), document.getElementById("ab-output")];
  const names = ["input", "output"];
  const button = document.getElementById("ab-switch");
  const now = document.getElementById("ab-now");
  let active = 0;
  const show = () => {
    players.forEach((p, k) => { p.hidden = k !== active; });
    now.textContent = "Listening to the " + names[active];
    button.textContent = "Switch to the " + names[1 - active];
  };
  const toggle = () => {
    const from = players[active], to = players[1 - active];
    const playing = !from.paused;
    to.currentTime = from.currentTime;
    to.volume = from.volume;
    to.muted = from.muted;
    from.pause();
    active = 1 - active;
    show();
    if (playing) to.play().catch(() => {});
  };
  button.addEventListener("click", toggle);
  document.addEventListener("keydown", e => {
    if ((e.key === "a" || e.key === "A") && !e.ctrlKey && !e.metaKey && !e.altKey) toggle();
  });
  show();
})();
</script>"""


def _fmt(v, unit=" dB"):
    """Differences in dB carry a sign; levels and counts do not."""
    if v is None or (isinstance(v, float) and np.isnan(v)):
        return "n/a"
    if isinstance(v, float):
        return f"{v:+.1f}{unit}" if unit == " dB" else f"{v:.1f}{unit}"
    return f"{v}{unit}"


def render_html(title: str, settings: dict, figures: Figures, pngs: dict,
                audio: dict | None = None, bands=None, excerpt: str = "") -> str:
    """The page. audio: {"Input": (MIME type, bytes), "Output": ...} for the A/B
    player; bands: the pause-noise table of pause_spectra(); excerpt: what
    part of the file the player holds, in words."""
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
        "waveforms": "Waveforms in dBFS: peak (light) and RMS (dark) level, input (grey) "
                     "and output (blue)",
        "reduction": "Output level over input level, per frame; pause frames shaded",
        "pause_noise": "Noise spectrum averaged over the pause frames, before and after",
    }
    players = "\n".join(
        f'<audio id="ab-{k.lower()}" aria-label="{html.escape(k)}" controls preload="metadata"'
        f'{" hidden" if i else ""} src="data:{mime};base64,'
        f'{base64.b64encode(b).decode("ascii")}"></audio>'
        for i, (k, (mime, b)) in enumerate((audio or {}).items()))
    if players:
        players = (f'<div class="ab">\n{players}\n<button id="ab-switch" type="button">'
                   f'Switch to the output</button> <span id="ab-now">Listening to the input'
                   f'</span>\n<p class="note">{html.escape(excerpt)} The button (or the A key) '
                   f'switches between input and output at the same position.</p>\n'
                   f'</div>\n{AB_SCRIPT}')
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
.ab {{ margin: 0.5em 0; }}
.ab audio {{ width: 30em; vertical-align: middle; }}
.note {{ color: #555; font-size: 90%; }}
</style></head>
<body data-figures="{data}">
<h1>{html.escape(title)}</h1>
{players}
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
    p.add_argument("--excerpt", metavar="START:SECONDS",
                   help=f"the part of the file the players hold, in seconds, or 'all' "
                        f"(default: the whole file up to {EXCERPT_S:g} s, else its first "
                        f"{EXCERPT_S:g} s)")
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


def read_in_blocks(path) -> tuple[np.ndarray, int]:
    """read_audio()'s samples, read a block at a time so that no float copy of
    the whole file is made."""
    import soundfile as sf

    from .audio import to_int16

    with sf.SoundFile(str(path)) as f:
        rate, channels = int(f.samplerate), f.channels
        out = np.empty((max(f.frames, 0), channels), np.int16)
        pos, extra = 0, []
        # 16-bit PCM is read as it is; other formats are rounded as the tool rounds them
        as_is = f.subtype == "PCM_16"
        for block in f.blocks(BLOCK_SAMPLES, dtype="int16" if as_is else "float32",
                              always_2d=True):
            pcm = block if as_is else to_int16(block)[0]
            take = min(len(pcm), len(out) - pos)
            out[pos: pos + take] = pcm[:take]
            pos += take
            if take < len(pcm):  # more than the header said
                extra.append(pcm[take:])
    out = np.concatenate([out[:pos], *extra]) if extra or pos < len(out) else out
    return (out[:, 0] if channels == 1 else out), rate


def clean_in_blocks(noisy: np.ndarray, rate: int, mode, threshold_changes: list,
                    **tunables) -> tuple[np.ndarray, int]:
    """clean_any_rate()'s output, fed to the engine a block at a time into one
    array instead of a list of copies."""
    from .engine import Cleaner

    x = _as_2d(noisy)
    eng = Cleaner(rate, x.shape[1], mode, **tunables)
    out = np.empty_like(x)
    pos = 0
    for i in range(0, len(x) + BLOCK_SAMPLES, BLOCK_SAMPLES):
        part = _as_2d(eng.process(x[i: i + BLOCK_SAMPLES]) if i < len(x) else eng.flush())
        out[pos: pos + len(part)] = part
        pos += len(part)
    if pos != len(x):
        raise RuntimeError(f"the engine returned {pos} samples for {len(x)}")
    threshold_changes.extend(eng.threshold_changes)
    return (out[:, 0] if noisy.ndim == 1 else out), eng.engine_rate


def main(argv=None) -> Figures:
    args = build_parser().parse_args(argv)
    _refuse_overwriting_inputs(args)
    noisy, rate = read_in_blocks(args.noisy)
    start, length = parse_excerpt(args.excerpt, len(noisy) / rate)
    tunables = {k: getattr(args, k) for k in TUNABLES if getattr(args, k) is not None}
    mode = parse_mode(args.mode)
    settings = {"input": args.noisy}
    if args.processed:
        cleaned, rate2 = read_in_blocks(args.processed)
        if rate2 != rate:
            raise SystemExit(f"report: {args.processed} is at {rate2} Hz, the input at {rate} Hz")
        noisy, cleaned = _match(noisy, cleaned, args.processed)
        settings["cleaned output"] = args.processed
        max_nr = tunables.get("max_nr")
    else:
        changes = []  # automatic threshold: (frame, dB)
        cleaned, engine_rate = clean_in_blocks(noisy, rate, mode, changes, **tunables)
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
        reference, rate3 = read_in_blocks(args.clean)
        if rate3 != rate:
            raise SystemExit(f"report: {args.clean} is at {rate3} Hz, the input at {rate} Hz")
        noisy, reference = _match(noisy, reference, args.clean)
        cleaned = cleaned[: len(noisy)]
        settings["reference"] = args.clean
    settings["sample rate"] = f"{rate} Hz"
    settings["channels"] = 1 if noisy.ndim == 1 else noisy.shape[1]

    figures = analyse(noisy, cleaned, rate, reference)
    spectra = (pause_spectra(noisy, cleaned, rate, figures.pause_mask)
               if figures.pause_mask.any() else None)
    pngs = plot_all(noisy, cleaned, rate, figures, max_nr, dpi=args.dpi,
                    freq_scale=args.freq_scale, spectra=spectra)
    audio, excerpt = None, ""
    if not args.no_audio:
        a, b = int(round(start * rate)), int(round((start + length) * rate))
        # the encoder runs outside the interpreter's lock: both at once
        from concurrent.futures import ThreadPoolExecutor

        with ThreadPoolExecutor(2) as pool:
            jobs = {k: pool.submit(player_audio, x[a:b], rate)
                    for k, x in (("Input", noisy), ("Output", cleaned))}
            audio = {k: job.result() for k, job in jobs.items()}
        whole = a == 0 and b >= len(noisy)
        excerpt = ("The player holds the whole file." if whole else
                   f"The player holds {_clock(a / rate)} to {_clock(b / rate)} of "
                   f"{_clock(len(noisy) / rate)} (choose another part with "
                   f"--excerpt START:SECONDS, or 'all').")
    title = f"Noise reduction report: {Path(args.noisy).name}"
    write_text(args.output, render_html(title, settings, figures, pngs, audio,
                                        spectra[3] if spectra else [], excerpt))
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
