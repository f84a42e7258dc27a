"""Scores of a cleaned signal against the clean speech it came from.

STOI is computed here from its published definition (short-time objective
intelligibility: correlation of one-third-octave band envelopes over 384 ms
segments, at 10 kHz), since the pystoi package is not installable from
Debian. PESQ is left out: its only implementation at hand is a Python package
from an index these machines cannot reach. The segmental SNR is the report's
(vocrel_rnr.report.seg_snr), so that both mean the same thing.
"""

from __future__ import annotations

import numpy as np
from scipy.signal import resample_poly

FRAME_S = 0.010  # analysis frames of the level-based measures


def _frame_energy(x: np.ndarray, n: int) -> np.ndarray:
    k = len(x) // n
    return np.sum(x[: k * n].astype(np.float64).reshape(k, n) ** 2, axis=1)


def speech_masks(clean: np.ndarray, rate: int) -> tuple[np.ndarray, np.ndarray]:
    """10 ms frames that carry speech and frames of pause (at least 50 ms
    away from any speech), from the clean signal."""
    e = _frame_energy(clean, int(rate * FRAME_S))
    active = e > np.max(e) * 10 ** (-4.0)  # within 40 dB of the loudest frame
    near = np.convolve(active.astype(int), np.ones(11, int), mode="same") > 0
    return active, ~near


def _db(a: float, b: float) -> float:
    return float(10 * np.log10(max(a, 1e-9) / max(b, 1e-9)))


def attenuation(noisy, out, mask, rate) -> float:
    """Energy removed (dB) in the frames of mask."""
    n = int(rate * FRAME_S)
    en, eo = _frame_energy(noisy, n), _frame_energy(out, n)
    k = min(len(en), len(eo), len(mask))
    return _db(en[:k][mask[:k]].sum(), eo[:k][mask[:k]].sum())


# ---- STOI ----------------------------------------------------------------------
_FS, _N_FRAME, _NFFT, _N_BANDS, _MIN_FREQ, _SEG, _BETA, _DYN_RANGE = (
    10000, 256, 512, 15, 150, 30, -15.0, 40.0)


def _third_octave_matrix() -> np.ndarray:
    f = np.linspace(0, _FS, _NFFT + 1)[: _NFFT // 2 + 1]
    k = np.arange(_N_BANDS)
    cf = 2.0 ** (k / 3.0) * _MIN_FREQ
    lo, hi = _MIN_FREQ * 2.0 ** ((2 * k - 1) / 6.0), _MIN_FREQ * 2.0 ** ((2 * k + 1) / 6.0)
    m = np.zeros((_N_BANDS, len(f)))
    for i in range(_N_BANDS):
        a, b = np.argmin((f - lo[i]) ** 2), np.argmin((f - hi[i]) ** 2)
        m[i, a:b] = 1
    del cf
    return m


_OBM = _third_octave_matrix()


def _frames(x: np.ndarray) -> np.ndarray:
    hop = _N_FRAME // 2
    w = np.hanning(_N_FRAME + 2)[1:-1]
    k = (len(x) - _N_FRAME) // hop + 1
    if k <= 0:
        return np.zeros((0, _N_FRAME))
    idx = np.arange(_N_FRAME)[None, :] + hop * np.arange(k)[:, None]
    return x[idx] * w


def _remove_silent(c: np.ndarray, p: np.ndarray) -> tuple[np.ndarray, np.ndarray]:
    fc, fp = _frames(c), _frames(p)
    e = 20 * np.log10(np.linalg.norm(fc, axis=1) + np.finfo(float).eps)
    keep = (np.max(e) - _DYN_RANGE - e) < 0
    fc, fp = fc[keep], fp[keep]
    hop = _N_FRAME // 2

    def ola(f):
        out = np.zeros((len(f) + 1) * hop)
        for i, fr in enumerate(f):
            out[i * hop: i * hop + _N_FRAME] += fr
        return out

    return ola(fc), ola(fp)


def stoi(clean: np.ndarray, x: np.ndarray, rate: int) -> float:
    """Short-time objective intelligibility, 0..1 (1: x carries the speech of clean)."""
    n = min(len(clean), len(x))
    c = resample_poly(clean[:n].astype(np.float64), _FS, rate)
    p = resample_poly(x[:n].astype(np.float64), _FS, rate)
    c, p = _remove_silent(c, p)
    mag = lambda s: np.abs(np.fft.rfft(_frames(s), _NFFT, axis=1)).T  # noqa: E731
    tc = np.sqrt(_OBM @ mag(c) ** 2)
    tp = np.sqrt(_OBM @ mag(p) ** 2)
    if tc.shape[1] < _SEG:
        return float("nan")
    clip = 10 ** (-_BETA / 20)
    d = []
    for m in range(_SEG, tc.shape[1] + 1):
        xs, ys = tc[:, m - _SEG: m], tp[:, m - _SEG: m]
        alpha = np.sqrt(np.sum(xs**2, 1, keepdims=True) / (np.sum(ys**2, 1, keepdims=True) + 1e-12))
        yp = np.minimum(ys * alpha, xs * (1 + clip))
        xs = xs - xs.mean(1, keepdims=True)
        yp = yp - yp.mean(1, keepdims=True)
        num = np.sum(xs * yp, 1)
        den = np.linalg.norm(xs, axis=1) * np.linalg.norm(yp, axis=1) + 1e-12
        d.append(num / den)
    return float(np.mean(d))


def align(ref: np.ndarray, x: np.ndarray, max_lag: int) -> np.ndarray:
    """x shifted earlier by the lag (0..max_lag) that best matches ref."""
    from scipy.signal import correlate

    n = min(len(ref), len(x))
    c = correlate(x[:n].astype(np.float64), ref[:n].astype(np.float64), mode="full", method="fft")
    lags = c[n - 1: n + max_lag]
    lag = int(np.argmax(lags))
    return np.concatenate([x[lag:], np.zeros(lag, x.dtype)])
