"""Runs the module's pytest suite; exits 77 (skipped) when a prerequisite is missing."""

import importlib.util
import sys
from pathlib import Path

SKIP = 77
HERE = Path(__file__).resolve().parent

missing = [pkg for mod, pkg in (("numpy", "python3-numpy"), ("pytest", "python3-pytest"))
           if importlib.util.find_spec(mod) is None]
if missing:
    print(f"python module tests skipped: {' and '.join(missing)} not installed for "
          f"{sys.executable} (tools/install-deps.sh installs them)")
    sys.exit(SKIP)

import pytest  # noqa: E402

sys.exit(pytest.main([str(HERE / "tests"), "-p", "no:cacheprovider", "--rootdir", str(HERE)]
                     + sys.argv[1:]))
