"""ctypes view of the C API in include/vocrel_rnr.h.

The records are declared field for field; `_check_layout` compares their sizes
with the header so that a drift between the two shows up at import time rather
than as a silently misread record.
"""

from __future__ import annotations

import ctypes
import ctypes.util
import os
import sys
from pathlib import Path

LIB_ENV = "VOCREL_RNR_LIB"
LIB_BASENAME = "libvocrel_rnr.so"
PACKAGE_DIR = Path(__file__).resolve().parent
# Build folders whose library cannot join this interpreter (instrumented or
# cross-built).
FOREIGN_BUILDS = ("sanitize", "tsan", "armhf", "fuzz")


def _checkout_root() -> Path | None:
    """The source checkout this package was loaded from (python/vocrel_rnr in
    it), found from the package's own location; None for an installed copy."""
    root = PACKAGE_DIR.parents[1]
    if PACKAGE_DIR.parent.name == "python" and (root / "include" / "vocrel_rnr.h").is_file():
        return root
    return None


def _build_tree_libs() -> list[Path]:
    """Libraries in the build folders of the checkout this package sits in:
    build/host (tools/test.sh) and build/demo (tools/demo.sh) first, then any
    other. Never the current directory's: a library there is anybody's."""
    root = _checkout_root()
    if root is None:
        return []
    build = root / "build"
    preferred = [build / "host", build / "demo", build]
    others = sorted(p for p in build.glob("*") if p.is_dir() and p not in preferred
                    and p.name not in FOREIGN_BUILDS) if build.is_dir() else []
    return [d / LIB_BASENAME for d in preferred + others]


def _prefix_libs() -> list[Path]:
    """Installed prefixes: this interpreter's and /usr/local."""
    dirs = [Path(sys.prefix) / "lib", Path("/usr/local/lib")]
    return [d / name for d in dict.fromkeys(dirs) for name in (LIB_BASENAME + ".1", LIB_BASENAME)]


class Params(ctypes.Structure):
    """Tunables record: 24 signed 32-bit words."""

    _fields_ = [
        ("maxNr", ctypes.c_int32),
        ("hpFilterOn", ctypes.c_int32),
        ("levelThrDb", ctypes.c_int32),
        ("levelAdaptOff", ctypes.c_int32),
        ("vadBandThr", ctypes.c_int32),
        ("vad3On", ctypes.c_int32),
        ("reserved6", ctypes.c_int32 * 6),
        ("sampleRate", ctypes.c_int32),
        ("channels", ctypes.c_int32),
        ("mode", ctypes.c_int32),
        ("reserved15", ctypes.c_int32 * 9),
    ]


class StreamCfg(ctypes.Structure):
    _fields_ = [
        ("sampleRate", ctypes.c_int32),
        ("channels", ctypes.c_int32),
        ("mode", ctypes.c_int32),
    ]


class MemInfo(ctypes.Structure):
    _fields_ = [
        ("memSize", ctypes.c_uint32),
        ("inFrameLen", ctypes.c_uint32),
        ("outFrameLen", ctypes.c_uint32),
    ]


class FrameIo(ctypes.Structure):
    # The sample pointers are declared as void* so that plain addresses (an
    # array's base plus an offset) can be stored without building a ctypes
    # pointer object per frame; the ABI is the same as int16_t*.
    _fields_ = [
        ("inCh0", ctypes.c_void_p),
        ("inCh1", ctypes.c_void_p),
        ("frameLen", ctypes.c_uint32),
        ("outCh0", ctypes.c_void_p),
        ("outCh1", ctypes.c_void_p),
    ]


class VersionRec(ctypes.Structure):
    _fields_ = [
        ("toolTag", ctypes.c_char * 64),
        ("verText", ctypes.c_char * 64),
        ("buildTime", ctypes.c_char * 64),
    ]


class AutoThr(ctypes.Structure):
    """State of the automatic level threshold (include/vocrel_rnr_autothr.h)."""

    _fields_ = [
        ("magic", ctypes.c_int32),
        ("sampleRate", ctypes.c_int32),
        ("frameLen", ctypes.c_int32),
        ("channels", ctypes.c_int32),
        ("prevEnergy", ctypes.c_int64 * 2),
        ("smoothLevelQ5", ctypes.c_int32),
        ("blockMinQ5", ctypes.c_int32),
        ("blockFrames", ctypes.c_int32),
        ("blocksDone", ctypes.c_int32),
        ("blockIdx", ctypes.c_int32),
        ("blockMin", ctypes.c_int32 * 8),
        ("floorQ5", ctypes.c_int32),
        ("thrDb", ctypes.c_int32),
        ("frames", ctypes.c_uint32),
        ("changes", ctypes.c_uint32),
        ("reserved", ctypes.c_int32),
    ]


class Feed(ctypes.Structure):
    """State of the frame feed: automatic threshold and silence hold
    (include/vocrel_rnr_feed.h)."""

    _fields_ = [
        ("thr", AutoThr),
        ("magic", ctypes.c_int32),
        ("flags", ctypes.c_uint32),
        ("thrDb", ctypes.c_int32),
        ("holding", ctypes.c_int32),
        ("silentRun", ctypes.c_uint32),
        ("silentFrames", ctypes.c_uint32),
        ("holds", ctypes.c_uint32),
        ("soundFrames", ctypes.c_uint32),
        ("stuckRun", ctypes.c_uint32),
    ]


FEED_AUTO_THR = 1  # VOCREL_RNR_FEED_AUTO_THR
FEED_SILENCE_HOLD = 2  # VOCREL_RNR_FEED_SILENCE_HOLD
FEED_SPARE_SIZE = 30176  # VOCREL_RNR_FEED_SPARE_SIZE


def _check_layout() -> None:
    expected = {Params: 96, StreamCfg: 12, MemInfo: 12, VersionRec: 192, AutoThr: 104, Feed: 144}
    for rec, size in expected.items():
        assert ctypes.sizeof(rec) == size, f"{rec.__name__} is {ctypes.sizeof(rec)} bytes"
    assert Params.sampleRate.offset == 48 and Params.mode.offset == 56


_check_layout()


class LibraryNotFoundError(OSError):
    """The shared library could not be loaded from any of the places tried."""


def _declare(lib: ctypes.CDLL) -> ctypes.CDLL:
    i32, vp = ctypes.c_int32, ctypes.c_void_p
    P = ctypes.POINTER
    sigs = {
        "Vocrel_RNR_GetSize": (i32, [P(MemInfo), P(StreamCfg)]),
        "Vocrel_RNR_Init": (i32, [P(vp), vp, ctypes.c_uint32, P(Params)]),
        "Vocrel_RNR_Apply": (i32, [vp, P(FrameIo), vp]),
        "Vocrel_RNR_GetParams": (i32, [vp, P(Params)]),
        "Vocrel_RNR_SetParams": (i32, [vp, P(Params)]),
        "Vocrel_RNR_GetVersion": (i32, [P(P(VersionRec))]),
        "Vocrel_RNR_AutoThrInit": (i32, [P(AutoThr), i32, i32, i32]),
        "Vocrel_RNR_AutoThrUpdate": (i32, [P(AutoThr), vp, P(FrameIo), P(i32)]),
        "Vocrel_RNR_FeedInit": (i32, [P(Feed), vp, ctypes.c_uint32]),
        "Vocrel_RNR_FeedFrame": (i32, [P(Feed), vp, vp, P(FrameIo), P(i32)]),
    }
    for name, (res, args) in sigs.items():
        fn = getattr(lib, name)
        fn.restype, fn.argtypes = res, args
    # Read-only default records, exported as data.
    Params.in_dll(lib, "g_Vocrel_RNR_Params_Flr_48k_MONO")
    Params.in_dll(lib, "g_Vocrel_RNR_Params_Env_8k_MONO")
    return lib


def _try_load(path: str) -> ctypes.CDLL:
    lib = ctypes.CDLL(path)
    try:
        return _declare(lib)
    except (AttributeError, ValueError) as exc:
        raise OSError(f"not the noise-reduction library ({exc})") from None


def load_library() -> tuple[ctypes.CDLL, str]:
    """Loads the library: $VOCREL_RNR_LIB; next to the package; the build
    folders of the checkout the package was loaded from; an installed prefix;
    the system loader. Nothing is looked for relative to the current directory.

    Returns the library and the path (or loader name) it came from. An explicit
    $VOCREL_RNR_LIB that fails to load is an error of its own: falling back to
    another copy would hide which library is under test.
    """
    env = os.environ.get(LIB_ENV)
    if env:
        if not Path(env).is_file():
            raise LibraryNotFoundError(f"{LIB_ENV}={env}: no such file")
        try:
            return _try_load(env), env
        except OSError as exc:
            raise LibraryNotFoundError(f"{LIB_ENV}={env}: cannot load: {exc}") from None

    tried = [f"${LIB_ENV}: not set"]
    missing = []
    for path in [PACKAGE_DIR / LIB_BASENAME, *_build_tree_libs(), *_prefix_libs()]:
        if not path.is_file():
            missing.append(str(path))
            continue
        try:
            return _try_load(str(path)), str(path)
        except OSError as exc:
            tried.append(f"{path}: cannot load: {exc}")
    tried.append("not found: " + ", ".join(missing))

    names = [LIB_BASENAME + ".1", LIB_BASENAME]
    found = ctypes.util.find_library("vocrel_rnr")
    if found and found not in names:
        names.insert(0, found)
    for name in names:
        try:
            return _try_load(name), name
        except OSError as exc:
            tried.append(f"system loader, {name}: {exc}")
    raise LibraryNotFoundError(
        "cannot find the Vocrel RNR shared library; looked in:\n  "
        + "\n  ".join(tried)
        + f"\nBuild it (tools/demo.sh, or cmake --build build/host), install it (cmake --install),"
        f" or set {LIB_ENV} to the libvocrel_rnr.so file."
    )


_lib: ctypes.CDLL | None = None
_lib_path: str | None = None


def lib() -> ctypes.CDLL:
    """The loaded library; loaded on first use so that importing never fails."""
    global _lib, _lib_path
    if _lib is None:
        _lib, _lib_path = load_library()
    return _lib


def lib_path() -> str:
    lib()
    assert _lib_path is not None
    return _lib_path


# ---- the stream layer (include/vocrel_stream.h) ----------------------------------
STREAM_LIB_ENV = "VOCREL_STREAM_LIB"
STREAM_LIB_BASENAME = "libvocrel_stream.so"
STREAM_AUTO_THR = 1  # VOCREL_STREAM_AUTO_THR
STREAM_SILENCE_HOLD = 2  # VOCREL_STREAM_SILENCE_HOLD
STREAM_RAW = 4  # VOCREL_STREAM_RAW
STREAM_MAX_CHANNELS = 8  # VOCREL_STREAM_MAX_CHANNELS
STREAM_STATUS = {  # the stream layer's own codes, as vocrel_stream.h names them
    -40: ("VOCREL_STREAM_E_NULL", "a required pointer is null"),
    -41: ("VOCREL_STREAM_E_RATE", "the sample rate must be 1000..768000 Hz"),
    -42: ("VOCREL_STREAM_E_CONVERT", "the converter cannot take this sample rate"),
    -43: ("VOCREL_STREAM_E_MEMORY", "no memory"),
    -44: ("VOCREL_STREAM_E_FINISHED", "the stream has ended"),
    -45: ("VOCREL_STREAM_E_INDEX", "no threshold choice of that number"),
}


class StreamInfo(ctypes.Structure):
    _fields_ = [
        ("hostRate", ctypes.c_int32),
        ("engineRate", ctypes.c_int32),
        ("channels", ctypes.c_int32),
        ("latency", ctypes.c_int32),
        ("engineFrames", ctypes.c_uint64),
        ("silentFrames", ctypes.c_uint32),
        ("thrChanges", ctypes.c_uint32),
    ]


assert ctypes.sizeof(StreamInfo) == 32


def _declare_stream(slib: ctypes.CDLL) -> ctypes.CDLL:
    i32, vp, sz = ctypes.c_int32, ctypes.c_void_p, ctypes.c_size_t
    P = ctypes.POINTER
    sigs = {
        "Vocrel_StreamCreate": (i32, [P(vp), i32, P(Params), ctypes.c_uint32]),
        "Vocrel_StreamPush": (i32, [vp, vp, sz]),
        "Vocrel_StreamFinish": (i32, [vp]),
        "Vocrel_StreamRead": (i32, [vp, vp, sz, P(sz)]),
        "Vocrel_StreamSetParams": (i32, [vp, P(Params), i32]),
        "Vocrel_StreamGetInfo": (i32, [vp, P(StreamInfo)]),
        "Vocrel_StreamGetParams": (i32, [vp, P(Params)]),
        "Vocrel_StreamThresholdChange": (i32, [vp, ctypes.c_uint32, P(ctypes.c_uint64), P(i32)]),
        "Vocrel_StreamDestroy": (None, [vp]),
    }
    for name, (res, args) in sigs.items():
        fn = getattr(slib, name)
        fn.restype, fn.argtypes = res, args
    return slib


_stream_lib: ctypes.CDLL | None = None


def stream_lib() -> ctypes.CDLL:
    """The stream layer's library: $VOCREL_STREAM_LIB, else beside the engine
    library that was loaded, else the system loader."""
    global _stream_lib
    if _stream_lib is None:
        env = os.environ.get(STREAM_LIB_ENV)
        places = [env] if env else []
        engine = Path(lib_path())
        if engine.is_file():
            places.append(str(engine.parent / STREAM_LIB_BASENAME))
        places += [STREAM_LIB_BASENAME + ".1", STREAM_LIB_BASENAME]
        tried = []
        for place in places:
            try:
                _stream_lib = _declare_stream(ctypes.CDLL(place))
                break
            except (OSError, AttributeError) as exc:
                tried.append(f"{place}: {exc}")
        else:
            raise LibraryNotFoundError(
                "cannot find the Vocrel stream library (libvocrel_stream.so, built with the "
                "engine when libsoxr is present); looked in:\n  " + "\n  ".join(tried)
                + f"\nor set {STREAM_LIB_ENV} to the file.")
    return _stream_lib
