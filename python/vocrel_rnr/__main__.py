"""python3 -m vocrel_rnr: which library the module loads, and its version."""

import sys

from . import LibraryNotFoundError, default_tunables, lib_path, version

try:
    path = lib_path()
except LibraryNotFoundError as exc:
    print(exc, file=sys.stderr)
    sys.exit(1)
v = version()
print(f"library   {path}")
print(f"version   {v.ver_text} ({v.tool_tag}, {v.build_time})")
for mode, name in ((0, "floor"), (1, "environment")):
    print(f"defaults  {name}: " + ", ".join(f"{k}={x}" for k, x in default_tunables(mode).items()))
