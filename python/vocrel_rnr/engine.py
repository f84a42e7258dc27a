"""NumPy front end of the engine: one-shot cleaning and a streaming object.

The engine takes 10 ms frames (80, 160 or 480 samples per channel at 8, 16 or
48 kHz) and returns each frame's output one frame late. `Cleaner` cuts blocks
of any length into frames and, unless asked for the raw stream, drops that
one-frame delay and flushes the tail, so that its output lines up with its
input sample for sample and has the same length.
"""

from __future__ import annotations

import ctypes
import operator
import weakref
from dataclasses import dataclass

import numpy as np

from . import _capi
from ._status import RANGES, STATUS_FIELD
from .errors import check

RATES = (8000, 16000, 48000)  # the engine's own rates; others are converted
MIN_RATE, MAX_RATE = 1000, 768000  # what the stream layer takes
MAX_CHANNELS = 8

# mode names accepted besides the numbers 0 and 1
MODES = {"floor": 0, "flr": 0, "environment": 1, "env": 1}
MODE_NAMES = {0: "floor", 1: "environment"}

# keyword -> field of the tunables record
TUNABLES = {
    "max_nr": "maxNr",  # maximum noise reduction, dB, RANGES["MAX_NR"]
    "hp_filter": "hpFilterOn",  # high-pass pre-filter at 8/16 kHz, 0 or 1
    "level_thr": "levelThrDb",  # mode 0 level threshold, dB, RANGES["LEVEL_THR"]
    "level_adapt_off": "levelAdaptOff",  # mode 0: 1 skips level adaptation
    "vad_band_thr": "vadBandThr",  # mode 0 stationary-band count, RANGES["VAD_BAND_THR"]
    "vad3": "vad3On",  # mode 1: 1 enables the third detector; read at start only
}
# the keyword a status points at: the library names the record field at fault
_FIELD_KEYWORD = {**{f: k for k, f in TUNABLES.items()}, "mode": "mode"}
STATUS_KEYWORD = {c: _FIELD_KEYWORD[f] for c, f in STATUS_FIELD.items() if f in _FIELD_KEYWORD}
# level_thr="auto" (the default in mode 0): the threshold follows the input's noise floor
AUTO = "auto"
# the tunables the engine accepts between frames
RUNTIME_TUNABLES = ("max_nr", "hp_filter", "level_thr", "level_adapt_off", "vad_band_thr")


@dataclass(frozen=True)
class Version:
    tool_tag: str
    ver_text: str
    build_time: str


def version() -> Version:
    """The engine's version record."""
    rec = ctypes.POINTER(_capi.VersionRec)()
    check(_capi.lib().Vocrel_RNR_GetVersion(ctypes.byref(rec)), "Vocrel_RNR_GetVersion")
    v = rec.contents
    return Version(*(f.decode("ascii", "replace") for f in (v.toolTag, v.verText, v.buildTime)))


def parse_mode(mode: int | str) -> int:
    """0 or "floor" (floor-noise path), 1 or "environment" (environment-noise path)."""
    if isinstance(mode, str):
        key = mode.strip().lower()
        if key in MODES:
            return MODES[key]
        if key in ("0", "1"):
            return int(key)
        raise ValueError(f"mode {mode!r}: expected 'floor' (0) or 'environment' (1)")
    try:
        value = operator.index(mode)
    except TypeError:
        raise TypeError(f"mode must be 0, 1, 'floor' or 'environment', not {mode!r}") from None
    # other integers go to the engine, which names the fault (status -22)
    return _int32("mode", value)


def _int32(name: str, value) -> int:
    """An integer that fits the record's signed 32-bit word, unchanged."""
    try:
        v = operator.index(value)
    except TypeError:
        raise TypeError(f"{name} must be an integer, not {value!r}") from None
    if not -(2**31) <= v < 2**31:
        raise ValueError(f"{name}={v} does not fit a signed 32-bit word")
    return v


def _check_tunables(tunables: dict, allowed) -> dict:
    unknown = sorted(set(tunables) - set(allowed))
    if unknown:
        raise TypeError(
            f"unknown tunable(s) {', '.join(unknown)}; expected some of: {', '.join(allowed)}"
        )
    checked = {k: _int32(k, v) for k, v in tunables.items()}
    # The engine reads the third-detector switch as "exactly 1"; anything but
    # 0 or 1 is a mistake, refused as vocrel-clean refuses it.
    if checked.get("vad3", 0) not in (0, 1):
        raise ValueError(f"vad3 must be 0 or 1, not {checked['vad3']}")
    return checked


def default_tunables(mode: int | str = 0) -> dict:
    """The engine's default tunables for a mode (its exported default records)."""
    name = "g_Vocrel_RNR_Params_Env_8k_MONO" if parse_mode(mode) == 1 else (
        "g_Vocrel_RNR_Params_Flr_48k_MONO")
    rec = _capi.Params.in_dll(_capi.lib(), name)
    return {k: getattr(rec, f) for k, f in TUNABLES.items()}


def _make_params(rate: int, channels: int, mode: int, tunables: dict) -> _capi.Params:
    p = _capi.Params()
    for k, v in {**default_tunables(mode if mode in (0, 1) else 0), **tunables}.items():
        setattr(p, TUNABLES[k], v)
    p.sampleRate, p.channels, p.mode = rate, channels, mode
    return p


def _check_params_call(code: int, call: str, rec: _capi.Params) -> None:
    """check() that names the keyword and value behind a refused tunable."""
    key = STATUS_KEYWORD.get(code)
    detail = ""
    if key == "mode":
        detail = f"mode={rec.mode} at {rec.sampleRate} Hz"
    elif key:
        detail = f"{key}={getattr(rec, TUNABLES[key])}"
    check(code, call, detail)


def _check_rate(rate) -> int:
    try:
        r = operator.index(rate)
    except TypeError:
        raise TypeError(f"sample rate must be an integer, not {rate!r}") from None
    if not MIN_RATE <= r <= MAX_RATE:
        raise ValueError(f"sample rate {r} Hz: give {MIN_RATE}..{MAX_RATE} Hz")
    return r


def _as_pcm(audio, what: str = "audio") -> np.ndarray:
    """Checks an array and returns it as native int16 of shape (n, channels),
    rounded as vocrel-clean rounds what it reads: int16 as it is; floats in
    [-1, 1] (and int32, full scale 2^31) scaled by 32768 in single precision,
    rounded to nearest and clipped. NaN and infinities carry no sound: they
    become digital silence, which the frame feed keeps away from the learnt
    noise."""
    if not isinstance(audio, np.ndarray):
        raise TypeError(f"{what} must be a NumPy array, not {type(audio).__name__}")
    if audio.ndim not in (1, 2):
        raise ValueError(f"{what} has shape {audio.shape}: expected (n,) or (n, channels)")
    if audio.ndim == 2:
        n, c = audio.shape
        if c == 0:
            raise ValueError(f"{what} has shape {audio.shape}: no channels")
        if c > MAX_CHANNELS:
            hint = " (channels go in the second axis: pass audio.T)" if n <= MAX_CHANNELS else ""
            raise ValueError(f"{what} has shape {audio.shape}: {c} channels, the engine takes "
                             f"1 to {MAX_CHANNELS}{hint}")
    dt = audio.dtype
    if dt.kind == "i" and dt.itemsize == 2:
        pcm = audio.astype(np.int16, copy=False)  # also turns big-endian into native
    elif dt.kind == "f" or (dt.kind == "i" and dt.itemsize == 4):
        x = audio.astype(np.float32)
        scale = np.float32(1 / 65536) if dt.kind == "i" else np.float32(32768)
        with np.errstate(invalid="ignore", over="ignore"):
            v = np.rint(np.where(np.isfinite(x), x, np.float32(0)) * scale)
        pcm = np.clip(v, -32768, 32767).astype(np.int16)
    else:
        raise TypeError(f"{what} is {dt}: give int16, int32, float32 or float64 samples")
    return pcm.reshape(len(pcm), 1 if pcm.ndim == 1 else pcm.shape[1])


def _restore(out: np.ndarray, like: np.ndarray) -> np.ndarray:
    """Gives the output the input's layout and sample type: 1-D stays 1-D,
    floats come back as floats (full scale 1), int32 as int32."""
    if like.ndim == 1:
        out = out[:, 0]
    if like.dtype.kind == "f":
        return (out / 32768.0).astype(like.dtype)
    if like.dtype.itemsize == 4:
        return out.astype(np.int32) << 16
    return out


def _stream_check(code: int, call: str, rec: _capi.Params | None = None) -> None:
    """check() that knows the stream layer's own codes and names a refused tunable."""
    if code in _capi.STREAM_STATUS:
        name, cause = _capi.STREAM_STATUS[code]
        exc = MemoryError if code == -43 else ValueError
        raise exc(f"{call}: {cause} (status {code}, {name})")
    if rec is not None:
        _check_params_call(code, call, rec)
    check(code, call)


class Cleaner:
    """A streaming noise-reduction instance, at any sample rate.

    `process(block)` takes blocks of any length, (n,) or (n, channels) with 1
    to 8 channels, int16, int32 or float samples, and returns the output that
    is ready, in the block's sample type; `flush()` returns the rest. It runs
    the same stream layer as vocrel-clean (libvocrel_stream): the engine's own
    8, 16 and 48 kHz straight through, other rates converted to the nearest of
    them and back; each stereo pair of channels is one engine instance. In the
    default aligned form the concatenated output equals the input in length and
    timing; with raw=True it is the stream's own output, `latency` samples late
    (at the engine's rates whole frames, the last partial frame padded with
    zeros by `flush()`).
    """

    def __init__(self, rate: int, channels: int = 1, mode: int | str = "floor", *,
                 raw: bool = False, silence_hold: bool = True, **tunables):
        self.rate = _check_rate(rate)
        if not isinstance(channels, int) or not 1 <= channels <= MAX_CHANNELS:
            raise ValueError(f"channels={channels!r}: the engine takes 1 to {MAX_CHANNELS} channels")
        self.channels = int(channels)
        self.mode = parse_mode(mode)
        self.raw = bool(raw)
        auto = tunables.get("level_thr", AUTO) == AUTO and self.mode == 0
        if tunables.get("level_thr") == AUTO:
            del tunables["level_thr"]
        self._tunables = _check_tunables(tunables, TUNABLES)
        self._params = _make_params(self.rate, self.channels, self.mode, self._tunables)
        slib = _capi.stream_lib()
        flags = ((_capi.STREAM_AUTO_THR if auto else 0)
                 | (_capi.STREAM_SILENCE_HOLD if silence_hold else 0)
                 | (_capi.STREAM_RAW if self.raw else 0))
        handle = ctypes.c_void_p()
        _stream_check(slib.Vocrel_StreamCreate(ctypes.byref(handle), self.rate,
                                               ctypes.byref(self._params), flags),
                      "Vocrel_StreamCreate", self._params)
        self._slib = slib
        self._stream = handle
        self._finalizer = weakref.finalize(self, slib.Vocrel_StreamDestroy, handle)
        self._auto = auto
        self.threshold_changes: list[tuple[int, int]] = []  # (frame, dB) chosen automatically
        info = self._info()
        self.engine_rate = int(info.engineRate)
        self.frame_length = self.engine_rate // 100  # engine samples per 10 ms frame
        self._latency = int(info.latency)
        self._fed = 0  # input samples per channel taken so far
        self._returned = 0  # samples per channel handed back so far
        self._flushed = False
        self._buf = np.empty((0, self.channels), np.int16)

    # -- figures ---------------------------------------------------------------
    def _info(self) -> _capi.StreamInfo:
        info = _capi.StreamInfo()
        _stream_check(self._slib.Vocrel_StreamGetInfo(self._stream, ctypes.byref(info)),
                      "Vocrel_StreamGetInfo")
        return info

    @property
    def latency(self) -> int:
        """The stream's delay in samples: one engine frame (10 ms) at the
        engine's rates, more where the rate is converted. The aligned form
        removes it by holding output back; `pending` says how much is held."""
        return self._latency

    @property
    def silent_frames(self) -> int:
        """Engine frames taken as digital silence (at or below -90 dBFS) so far."""
        return int(self._info().silentFrames)

    @property
    def pending(self) -> int:
        """Samples per channel taken in but not yet returned."""
        return self._fed - self._returned

    @property
    def params(self) -> dict:
        """The tunables in force, as the engine reports them."""
        rec = _capi.Params()
        _stream_check(self._slib.Vocrel_StreamGetParams(self._stream, ctypes.byref(rec)),
                      "Vocrel_StreamGetParams")
        out = {k: getattr(rec, TUNABLES[k]) for k in RUNTIME_TUNABLES}
        out["vad3"] = self._params.vad3On  # read at start only; not kept by the engine
        return out

    # -- operations ------------------------------------------------------------
    def set_params(self, **tunables) -> None:
        """Changes tunables between blocks. Nothing is reset; the new values act
        from the next frame. A refused change leaves everything as it was."""
        if "vad3" in tunables:
            raise ValueError("vad3 is read at initialisation only; make a new Cleaner")
        if tunables.get("level_thr") == AUTO:
            raise ValueError('level_thr="auto" is chosen at start only; make a new Cleaner')
        values = _check_tunables(tunables, RUNTIME_TUNABLES)
        rec = _capi.Params()
        ctypes.memmove(ctypes.byref(rec), ctypes.byref(self._params), ctypes.sizeof(rec))
        for k, v in values.items():
            setattr(rec, TUNABLES[k], v)
        fix = "level_thr" in values
        _stream_check(self._slib.Vocrel_StreamSetParams(self._stream, ctypes.byref(rec), int(fix)),
                      "Vocrel_StreamSetParams", rec)
        self._params = rec
        if fix:
            self._auto = False

    def process(self, block: np.ndarray) -> np.ndarray:
        """Takes a block and returns the output that is ready."""
        like = block
        x = self._take(block)
        if len(x):
            x = np.ascontiguousarray(x)
            _stream_check(self._slib.Vocrel_StreamPush(self._stream, x.ctypes.data, len(x)),
                          "Vocrel_StreamPush")
        self._fed += len(x)
        return self._hand_out(like)

    def flush(self) -> np.ndarray:
        """Returns what is left. The stream ends here."""
        if self._flushed:
            raise RuntimeError("the stream was already flushed")
        self._flushed = True
        _stream_check(self._slib.Vocrel_StreamFinish(self._stream), "Vocrel_StreamFinish")
        return self._hand_out(self._last_like)

    # -- internals -------------------------------------------------------------
    def _take(self, block) -> np.ndarray:
        if self._flushed:
            raise RuntimeError("the stream was already flushed")
        x = _as_pcm(block, what="block")
        if x.shape[1] != self.channels:
            raise ValueError(
                f"block has {x.shape[1]} channel(s), this stream has {self.channels}")
        self._last_like = block
        return x

    _last_like = np.zeros(0, np.int16)  # the sample type flush() hands back

    def _hand_out(self, like: np.ndarray) -> np.ndarray:
        """Everything the stream has ready, in the layout and type of `like`."""
        parts = []
        got = ctypes.c_size_t()
        while True:
            buf = np.empty((max(4096, self.pending + self._latency), self.channels), np.int16)
            _stream_check(self._slib.Vocrel_StreamRead(self._stream, buf.ctypes.data, len(buf),
                                                       ctypes.byref(got)), "Vocrel_StreamRead")
            if got.value == 0:
                break
            parts.append(buf[:got.value])
        out = np.concatenate(parts) if parts else np.zeros((0, self.channels), np.int16)
        self._returned += len(out)
        self._collect_threshold_changes()
        return _restore(out, np.zeros((0,) if self.channels == 1 else (0, 1), like.dtype))

    def _collect_threshold_changes(self) -> None:
        if not self._auto:
            return
        count = int(self._info().thrChanges)
        frame, db = ctypes.c_uint64(), ctypes.c_int32()
        for i in range(len(self.threshold_changes), count):
            _stream_check(self._slib.Vocrel_StreamThresholdChange(
                self._stream, i, ctypes.byref(frame), ctypes.byref(db)),
                "Vocrel_StreamThresholdChange")
            self.threshold_changes.append((int(frame.value), int(db.value)))


def clean(audio: np.ndarray, rate: int, mode: int | str = "floor", *, raw: bool = False,
          convert: bool = True, threshold_changes: list | None = None,
          **tunables) -> np.ndarray:
    """Cleans a whole recording, as vocrel-clean would, sample for sample.

    audio: (n,) mono or (n, channels) with 1 to 8 channels; int16, int32 or
    float (full scale 1) samples. rate: any rate from 1000 to 768000 Hz (8, 16
    and 48 kHz run natively, others are converted there and back).
    mode: "floor" (0) or "environment" (1).
    tunables: max_nr, hp_filter, level_thr, level_adapt_off, vad_band_thr, vad3.
    level_thr is "auto" unless given (mode 0: the threshold follows the noise floor);
    silence_hold=False lets digital silence reach the engine's learnt noise (by
    default the engine resumes after a mute or dropout from the noise it knew);
    a list passed as threshold_changes receives its choices as (frame, dB).
    Returns the cleaned audio aligned with the input, same shape and dtype; with
    raw=True the stream's own output (delayed by the Cleaner's latency).
    `convert` is accepted for older callers and has no effect.
    """
    del convert
    pcm = _as_pcm(audio)
    eng = Cleaner(rate, pcm.shape[1], mode, raw=raw, **tunables)
    out = np.concatenate([eng.process(pcm), eng.flush()]).reshape(-1, pcm.shape[1])
    if threshold_changes is not None:
        threshold_changes.extend(eng.threshold_changes)
    return _restore(out, audio)
