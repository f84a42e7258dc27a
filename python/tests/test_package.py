"""The package as pip builds it: the libraries built with CMake and carried
inside it, offline (Debian's setuptools, no index) in a fresh virtual
environment; the wheel; and where an installed package looks for the library."""

import os
import shutil
import subprocess
import sys
import zipfile

import numpy as np
import pytest

from conftest import PYTHON_DIR, REPO
from signals import noisy_speech
from vocrel_rnr import clean

DEBIAN_PYTHON = "/usr/bin/python3"
# What the build needs of a checkout besides python/.
C_SOURCES = ("CMakeLists.txt", "cmake", "include", "src")
LIBRARIES = ("libvocrel_rnr.so", "libvocrel_stream.so")
PIP_OFFLINE = ["--no-build-isolation", "--no-deps", "--no-index"]


def pip_env():
    """No library named from outside: the package must carry its own."""
    env = {k: v for k, v in os.environ.items()
           if k not in ("VOCREL_RNR_LIB", "VOCREL_STREAM_LIB", "VOCREL_SOURCE_DIR")}
    env.setdefault("CMAKE_BUILD_PARALLEL_LEVEL", "2")
    env["PYTHONDONTWRITEBYTECODE"] = "1"
    return env


def copy_package(dest):
    shutil.copytree(PYTHON_DIR, dest, ignore=shutil.ignore_patterns(
        "tests", "build", "*.egg-info", "__pycache__", "*.pyc", "*.so*"))


@pytest.fixture(scope="module")
def checkout(tmp_path_factory):
    """A checkout of its own: the C sources linked in, python/ copied (pip
    builds in the tree and leaves its build folder there)."""
    root = tmp_path_factory.mktemp("checkout")
    for part in C_SOURCES:
        (root / part).symlink_to(REPO / part)
    copy_package(root / "python")
    return root


@pytest.fixture(scope="module")
def venv(tmp_path_factory):
    """A fresh virtual environment of Debian's Python, NumPy and setuptools from Debian."""
    if not os.access(DEBIAN_PYTHON, os.X_OK):
        pytest.skip(f"{DEBIAN_PYTHON} is not installed")
    d = tmp_path_factory.mktemp("venv")
    r = subprocess.run([DEBIAN_PYTHON, "-m", "venv", "--system-site-packages", str(d)],
                       capture_output=True, text=True, timeout=120)
    if r.returncode:
        pytest.skip(f"cannot make a virtual environment (Debian: python3-venv): {r.stderr}")
    python = d / "bin" / "python"
    if subprocess.run([python, "-c", "import numpy, setuptools, pip"]).returncode:
        pytest.skip("Debian's python3-numpy, python3-setuptools and python3-pip are needed")
    return python


def pip(python, *args, cwd=None):
    return subprocess.run([str(python), "-m", "pip", *args, *PIP_OFFLINE], env=pip_env(),
                          cwd=cwd, capture_output=True, text=True, timeout=600)


@pytest.fixture(scope="module")
def wheel(venv, checkout, tmp_path_factory):
    """The wheel pip builds offline from the checkout (one CMake build for every test)."""
    dist = tmp_path_factory.mktemp("dist")
    r = pip(venv, "wheel", "-w", str(dist), str(checkout / "python"))
    assert r.returncode == 0, r.stdout + r.stderr
    (found,) = dist.glob("vocrel_rnr-*.whl")
    return found


def test_the_offline_wheel_installs_self_contained_and_cleans_anywhere(venv, wheel, tmp_path):
    names = zipfile.ZipFile(wheel).namelist()
    for lib in LIBRARIES:
        assert f"vocrel_rnr/{lib}" in names, names
    assert not wheel.name.endswith("-none-any.whl"), wheel.name  # tagged for the platform
    r = pip(venv, "install", str(wheel))
    assert r.returncode == 0, r.stdout + r.stderr
    x = noisy_speech(44100, 1.0, seed=23, channels=2)[0]  # through the rate converter
    np.save(tmp_path / "in.npy", x)
    script = ("import numpy as np, vocrel_rnr\n"
              "from vocrel_rnr import _capi\n"
              "print(vocrel_rnr.lib_path()); print(_capi.stream_lib()._name)\n"
              "np.save('out.npy', vocrel_rnr.clean(np.load('in.npy'), 44100))\n")
    r = subprocess.run([str(venv), "-c", script], cwd=tmp_path, env=pip_env(),
                       capture_output=True, text=True, timeout=60)
    assert r.returncode == 0, r.stderr
    site = venv.parents[1] / "lib"  # the venv's site-packages, wherever it runs
    for path, name in zip(r.stdout.split(), LIBRARIES):
        assert path.startswith(str(site)) and path.endswith(f"/vocrel_rnr/{name}"), r.stdout
    # the library pip built gives the samples of the one under test
    np.testing.assert_array_equal(np.load(tmp_path / "out.npy"), clean(x, 44100))


def test_a_package_without_the_c_sources_says_where_they_belong(venv, tmp_path):
    copy_package(tmp_path / "python")
    r = pip(venv, "wheel", "-w", str(tmp_path / "dist"), str(tmp_path / "python"))
    assert r.returncode != 0
    assert f"the C sources of the library are not at {tmp_path}" in r.stdout + r.stderr, r.stdout


@pytest.fixture
def installed(wheel, tmp_path):
    """The wheel installed into a folder of its own (what pip install --target does)."""
    site = tmp_path / "site"
    zipfile.ZipFile(wheel).extractall(site)
    return site


def probe(site, cwd, env_lib=None):
    env = {k: v for k, v in os.environ.items() if k != "VOCREL_RNR_LIB"}
    env["PYTHONPATH"] = str(site)
    if env_lib:
        env["VOCREL_RNR_LIB"] = env_lib
    return subprocess.run([sys.executable, "-m", "vocrel_rnr"], cwd=cwd, env=env,
                          capture_output=True, text=True, timeout=60)


def test_installed_package_finds_the_library_or_says_where_it_looked(installed, library,
                                                                     tmp_path):
    carried = installed / "vocrel_rnr" / "libvocrel_rnr.so"
    r = probe(installed, tmp_path)
    assert r.returncode == 0 and f"library   {carried}" in r.stdout, r.stderr
    r = probe(installed, tmp_path, library)
    assert r.returncode == 0 and f"library   {library}" in r.stdout, r.stderr
    # without the copies it carries, nowhere to be found: every place tried
    # is named, with what to do
    for lib in LIBRARIES:
        (installed / "vocrel_rnr" / lib).unlink()
    r = probe(installed, tmp_path)
    if r.returncode == 0:
        pytest.skip(f"a library is installed on this system: {r.stdout.splitlines()[0]}")
    for place in (carried, "/usr/local/lib/libvocrel_rnr.so", "VOCREL_RNR_LIB", "tools/demo.sh"):
        assert str(place) in r.stderr
    # a build folder under the current directory is nobody's in particular:
    # never looked at
    (tmp_path / "build" / "demo").mkdir(parents=True)
    shutil.copy(library, tmp_path / "build" / "demo" / "libvocrel_rnr.so")
    r = probe(installed, tmp_path)
    assert r.returncode != 0 and str(tmp_path / "build") not in r.stdout + r.stderr, r.stdout
    # a copy beside the package is found
    shutil.copy(library, installed / "vocrel_rnr" / "libvocrel_rnr.so")
    r = probe(installed, tmp_path)
    assert f"library   {installed / 'vocrel_rnr' / 'libvocrel_rnr.so'}" in r.stdout, r.stderr


def test_a_checkout_finds_its_own_build(library, tmp_path):
    """The package in a checkout's python/ folder takes the checkout's build,
    wherever it is run from."""
    checkout = tmp_path / "checkout"
    shutil.copytree(PYTHON_DIR / "vocrel_rnr", checkout / "python" / "vocrel_rnr",
                    ignore=shutil.ignore_patterns("__pycache__", "*.pyc", "*.so"))
    (checkout / "include").mkdir()
    (checkout / "include" / "vocrel_rnr.h").touch()
    (checkout / "build" / "host").mkdir(parents=True)
    shutil.copy(library, checkout / "build" / "host" / "libvocrel_rnr.so")
    (tmp_path / "elsewhere").mkdir()
    r = probe(checkout / "python", tmp_path / "elsewhere")
    assert f"library   {checkout / 'build' / 'host' / 'libvocrel_rnr.so'}" in r.stdout, r.stderr
