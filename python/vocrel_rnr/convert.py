"""Cleaning at any sample rate, the way vocrel-clean does it: the engine runs at
the nearest rate it supports (mode 1 at 8 or 16 kHz only) and the audio is
converted there and back, aligned and as long as the input.

The tool converts with libsoxr; here SciPy's polyphase filter does it, so at
converted rates the samples are close to the tool's but not the same.
"""

from __future__ import annotations

from math import gcd

import numpy as np

from .engine import RATES, clean, parse_mode


def engine_rate_for(rate: int, mode: int | str = 0) -> int:
    """The rate itself when the mode runs it, else the nearest (the higher on a tie)."""
    allowed = RATES if parse_mode(mode) != 1 else RATES[:2]
    return min(allowed, key=lambda r: (abs(r - rate), -r))


def _resample(x: np.ndarray, rate_in: int, rate_out: int, frames: int) -> np.ndarray:
    from scipy.signal import resample_poly

    g = gcd(rate_in, rate_out)
    y = resample_poly(np.asarray(x, np.float64), rate_out // g, rate_in // g, axis=0)
    y = y[:frames] if len(y) >= frames else np.pad(y, [(0, frames - len(y))] + [(0, 0)] * (y.ndim - 1))
    return np.clip(np.rint(y), -32768, 32767).astype(np.int16)


def clean_any_rate(audio: np.ndarray, rate: int, mode: int | str = "floor",
                   threshold_changes: list | None = None, **tunables) -> tuple[np.ndarray, int]:
    """Cleans int16 audio at any rate; returns (cleaned, the rate the engine ran at)."""
    engine_rate = engine_rate_for(rate, mode)
    if engine_rate == rate:
        return clean(audio, rate, mode, threshold_changes=threshold_changes, **tunables), rate
    n = len(audio)
    at_engine = _resample(audio, rate, engine_rate, round(n * engine_rate / rate))
    cleaned = clean(at_engine, engine_rate, mode, threshold_changes=threshold_changes, **tunables)
    return _resample(cleaned, engine_rate, rate, n), engine_rate
