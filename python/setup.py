"""Builds the engine (libvocrel_rnr.so) and the stream layer (libvocrel_stream.so)
with CMake while the package is built, and puts both inside the package, where
vocrel_rnr/_capi.py looks first: `pip install ./python` and `pip wheel ./python`
give a package that runs in any directory without a separate build.

The C sources are those of the checkout this folder belongs to (the folder
above this file), or $VOCREL_SOURCE_DIR. The CMake build folder sits in
setuptools' temporary build folder, so a second build from the same tree is
incremental. Needs cmake, a C++20 compiler, pkg-config and libsoxr (Debian:
cmake g++ pkg-config libsoxr-dev).
"""

import os
import shutil
import subprocess
from pathlib import Path

from setuptools import setup
from setuptools.command.build_py import build_py
from setuptools.dist import Distribution

HERE = Path(__file__).resolve().parent
SOURCE_ENV = "VOCREL_SOURCE_DIR"
# CMake target -> the file name the package loads it by.
LIBRARIES = {"vocrel_rnr": "libvocrel_rnr.so", "vocrel_stream": "libvocrel_stream.so"}
CMAKE_OPTIONS = [
    "-DCMAKE_BUILD_TYPE=Release",
    "-DVOCREL_TESTS=OFF",
    "-DVOCREL_BENCH=OFF",
    "-DVOCREL_TOOLS=OFF",
    # The stream library finds the engine beside itself wherever the package lands.
    "-DCMAKE_BUILD_WITH_INSTALL_RPATH=ON",
    "-DCMAKE_INSTALL_RPATH=$ORIGIN",
]


class BuildError(SystemExit):
    """Stops the build with a message for the person running pip."""

    def __init__(self, message):
        super().__init__(f"error: vocrel-rnr: {message}")


def source_root() -> Path:
    env = os.environ.get(SOURCE_ENV)
    root = Path(env).resolve() if env else HERE.parent
    needed = [root / "CMakeLists.txt", root / "include" / "vocrel_rnr.h", root / "src" / "stream"]
    missing = [str(p) for p in needed if not p.exists()]
    if missing:
        raise BuildError(
            f"the C sources of the library are not at {root} (missing: {', '.join(missing)}). "
            "Build the package from the python/ folder of a Vocrel RNR checkout, "
            f"or set {SOURCE_ENV} to the checkout's root.")
    return root


def run(cmd, what):
    try:
        subprocess.run(cmd, check=True)
    except FileNotFoundError:
        raise BuildError(f"{cmd[0]} is not installed (Debian: apt-get install cmake g++ "
                         "pkg-config libsoxr-dev)") from None
    except subprocess.CalledProcessError as exc:
        raise BuildError(f"{what} failed (exit {exc.returncode}); see the output above") from None


def build_libraries(build_dir: Path) -> list[Path]:
    """Configures and builds the two libraries; returns their real files."""
    root = source_root()
    run(["cmake", "-S", str(root), "-B", str(build_dir), *CMAKE_OPTIONS], "configuring with CMake")
    cache = (build_dir / "CMakeCache.txt").read_text(errors="replace")
    if "SOXR_FOUND:INTERNAL=1" not in cache:
        raise BuildError("libsoxr was not found; the stream library needs it "
                         "(Debian: apt-get install libsoxr-dev pkg-config)")
    jobs = [] if os.environ.get("CMAKE_BUILD_PARALLEL_LEVEL") else ["-j", str(os.cpu_count() or 1)]
    run(["cmake", "--build", str(build_dir), *jobs, "--target", *LIBRARIES],
        "building the libraries")
    files = [(build_dir / name).resolve() for name in LIBRARIES.values()]
    for f in files:
        if not f.is_file():
            raise BuildError(f"the build did not leave {f}")
    return files


class BuildWithLibraries(build_py):
    """build_py, then the libraries copied into the built package."""

    def run(self):
        super().run()
        build_dir = Path(self.get_finalized_command("build").build_temp).resolve() / "cmake"
        package = Path(self.build_lib) / "vocrel_rnr"
        for built, name in zip(build_libraries(build_dir), LIBRARIES.values()):
            shutil.copyfile(built, package / name)


class BinaryDistribution(Distribution):
    """Carries native libraries: the wheel is tagged for this platform."""

    def has_ext_modules(self):
        return True


setup(cmdclass={"build_py": BuildWithLibraries}, distclass=BinaryDistribution)
