import os
import sys
from pathlib import Path

import pytest

PYTHON_DIR = Path(__file__).resolve().parents[1]
REPO = PYTHON_DIR.parent
sys.path[:0] = [str(PYTHON_DIR), str(Path(__file__).resolve().parent)]

import vocrel_rnr  # noqa: E402


@pytest.fixture(scope="session", autouse=True)
def library():
    """Every test needs the engine; say plainly which one is under test."""
    try:
        return vocrel_rnr.lib_path()
    except vocrel_rnr.LibraryNotFoundError as exc:
        pytest.exit(str(exc), returncode=1)


@pytest.fixture(scope="session")
def tool():
    """Path of vocrel-clean: $VOCREL_CLEAN (set by CTest when the build has the
    tool); for a hand run without $VOCREL_RNR_LIB, the default build tree's."""
    path = os.environ.get("VOCREL_CLEAN")
    if not path:
        if os.environ.get("VOCREL_RNR_LIB"):
            pytest.skip("vocrel-clean is not part of this build (configure with VOCREL_TOOLS=ON)")
        trees = [REPO / "build" / "host", REPO / "build"]
        path = next((str(t / "tools" / "vocrel-clean") for t in trees
                     if os.access(t / "tools" / "vocrel-clean", os.X_OK)), str(trees[0]))
    if not os.access(path, os.X_OK):
        pytest.skip(f"vocrel-clean is not built ({path})")
    return path
