"""Vocrel RNR speech noise reduction from Python, over the C API with ctypes.

    from vocrel_rnr import clean, read_wav, write_wav
    audio, rate = read_wav("noisy.wav")
    write_wav("cleaned.wav", clean(audio, rate, max_nr=12), rate)

The shared library is found through $VOCREL_RNR_LIB, then beside the package,
then an installed prefix, then the build folders of a source checkout (build/host,
build/demo, ...), then the system loader; the error lists every place tried.
"""

from ._capi import LibraryNotFoundError, lib_path
from .engine import (
    MODE_NAMES,
    RATES,
    TUNABLES,
    Cleaner,
    Version,
    clean,
    default_tunables,
    version,
)
from .errors import STATUS, VocrelError, describe
from .audio import read_audio, read_wav, write_audio, write_wav

__all__ = [
    "Cleaner",
    "LibraryNotFoundError",
    "MODE_NAMES",
    "RATES",
    "STATUS",
    "TUNABLES",
    "Version",
    "VocrelError",
    "clean",
    "default_tunables",
    "describe",
    "lib_path",
    "read_audio",
    "read_wav",
    "version",
    "write_audio",
    "write_wav",
]
