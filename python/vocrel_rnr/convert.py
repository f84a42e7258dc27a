"""Cleaning at any sample rate, the way vocrel-clean does it: the engine runs at
the nearest rate it supports (mode 1 at 8 or 16 kHz only) and the audio is
converted there and back by the same stream layer as the tool's, so the samples
are the tool's.
"""

from __future__ import annotations

import numpy as np

from .engine import Cleaner, clean, parse_mode


def engine_rate_for(rate: int, mode: int | str = 0) -> int:
    """The rate itself when the mode runs it, else the nearest (the higher on a tie)."""
    return Cleaner(rate, 1, parse_mode(mode)).engine_rate


def clean_any_rate(audio: np.ndarray, rate: int, mode: int | str = "floor",
                   threshold_changes: list | None = None, **tunables) -> tuple[np.ndarray, int]:
    """Cleans audio at any rate; returns (cleaned, the rate the engine ran at)."""
    cleaned = clean(audio, rate, mode, threshold_changes=threshold_changes, **tunables)
    return cleaned, engine_rate_for(rate, mode)
