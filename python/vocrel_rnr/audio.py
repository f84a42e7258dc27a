"""Audio files as int16 arrays, read the way vocrel-clean reads them.

Through the `soundfile` package (Debian: python3-soundfile) on libsndfile, the
library the command-line tool uses: any container and sample format it knows
(WAV, FLAC, Ogg, AIFF ...; 16- or 24-bit PCM, float). Samples are rounded to
16 bits as the tool does: float full scale 1.0 is 32768, rounded to nearest,
values beyond full scale clipped.
"""

from __future__ import annotations

import numpy as np

from ._files import replacing


def _soundfile():
    try:
        import soundfile
    except ImportError:
        raise ImportError("reading and writing audio files needs the soundfile package "
                          "(Debian: apt install python3-soundfile)") from None
    return soundfile


def to_int16(x: np.ndarray) -> tuple[np.ndarray, int]:
    """Float samples (full scale 1.0) as int16, and how many were clipped."""
    y = np.rint(np.asarray(x, np.float32) * np.float32(32768.0))
    clipped = int(np.count_nonzero((y > 32767) | (y < -32768)))
    return np.clip(y, -32768, 32767).astype(np.int16), clipped


def read_audio(path) -> tuple[np.ndarray, int]:
    """Returns (samples, rate): int16 of shape (n,) for mono, (n, channels) otherwise."""
    data, rate = _soundfile().read(str(path), dtype="float32", always_2d=True)
    pcm, _ = to_int16(data)
    return (pcm[:, 0] if pcm.shape[1] == 1 else pcm), int(rate)


# Sample formats an output keeps from its input, as vocrel-clean keeps them;
# any other input is written as 16-bit PCM.
KEPT_SUBTYPES = ("PCM_24", "PCM_32", "FLOAT", "DOUBLE")


def _subtype_for(sf, path: str, fmt: str | None, like, subtype: str | None) -> str:
    if subtype is not None:
        return subtype
    if like is not None:
        kept = sf.info(str(like)).subtype
        major = fmt or str(path).rsplit(".", 1)[-1].upper()
        if kept in KEPT_SUBTYPES and sf.check_format(major, kept):
            return kept
    return "PCM_16"


def write_audio(path, samples: np.ndarray, rate: int, *, like=None,
                subtype: str | None = None) -> None:
    """Writes int16 samples, (n,) or (n, channels), in the container the
    extension names (WAV without one). The sample format is `subtype` (a
    soundfile name such as "PCM_24"), else that of the file `like` when it is
    24- or 32-bit PCM or float and the container holds it (as vocrel-clean
    keeps its input's), else 16-bit PCM. The file appears whole or not at all
    (an existing one is kept on failure); errors name it."""
    if samples.dtype != np.int16:
        raise TypeError(f"samples are {samples.dtype}; expected int16")
    sf = _soundfile()
    fmt = None if "." in str(path).rsplit("/", 1)[-1] else "WAV"
    with replacing(path) as tmp:
        try:
            sub = _subtype_for(sf, str(path), fmt, like, subtype)
            # Float files take floats: libsndfile would store 16-bit samples unscaled.
            data = samples / np.float32(32768) if sub in ("FLOAT", "DOUBLE") else samples
            sf.write(tmp, data, int(rate), subtype=sub, format=fmt)
        except (RuntimeError, ValueError, TypeError) as exc:
            # The temporary's name is no use to the reader; libsndfile's API words neither.
            reason = str(exc).replace(repr(tmp), "").replace(tmp, "").strip(" :")
            if "SF_INFO" in reason:
                reason = "the container cannot hold this sample rate, channel count or format"
            kind = next(k for k in (ValueError, TypeError, RuntimeError) if isinstance(exc, k))
            raise kind(f"cannot write {path}: {reason}") from None


# The names the package has always had.
read_wav = read_audio
write_wav = write_audio
