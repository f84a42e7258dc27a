"""`pip install ./python` offline, and where the installed package looks for the library."""

import os
import shutil
import subprocess
import sys

import pytest

from conftest import PYTHON_DIR


@pytest.fixture(scope="module")
def installed(tmp_path_factory, library):
    """The package installed by pip into a folder of its own, from a copy of
    the sources (pip would leave build files in the tree)."""
    if subprocess.run([sys.executable, "-m", "pip", "--version"], capture_output=True).returncode:
        pytest.skip("pip is not installed for this interpreter (Debian: python3-pip)")
    d = tmp_path_factory.mktemp("pip")
    src = d / "src"
    shutil.copytree(PYTHON_DIR, src, ignore=shutil.ignore_patterns("tests", "__pycache__", "*.pyc"))
    r = subprocess.run([sys.executable, "-m", "pip", "install", "--no-build-isolation", "--no-deps",
                        "--no-index", "--target", str(d / "site"), str(src)],
                       capture_output=True, text=True, timeout=120)
    assert r.returncode == 0, r.stdout + r.stderr
    return d / "site"


def probe(site, cwd, env_lib=None):
    env = {k: v for k, v in os.environ.items() if k != "VOCREL_RNR_LIB"}
    env["PYTHONPATH"] = str(site)
    if env_lib:
        env["VOCREL_RNR_LIB"] = env_lib
    return subprocess.run([sys.executable, "-m", "vocrel_rnr"], cwd=cwd, env=env,
                          capture_output=True, text=True, timeout=60)


def test_installed_package_finds_the_library_or_says_where_it_looked(installed, library,
                                                                     tmp_path):
    r = probe(installed, tmp_path, library)
    assert r.returncode == 0 and f"library   {library}" in r.stdout, r.stderr
    # nowhere to be found: every place tried is named, with what to do
    r = probe(installed, tmp_path)
    if r.returncode == 0:
        pytest.skip(f"a library is installed on this system: {r.stdout.splitlines()[0]}")
    for place in (installed / "vocrel_rnr" / "libvocrel_rnr.so",
                  "/usr/local/lib/libvocrel_rnr.so", "VOCREL_RNR_LIB", "tools/demo.sh"):
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
