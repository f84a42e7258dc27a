#!/usr/bin/env bash
# Runs every test: the host build, the ASan+UBSan build and the armhf build
# under qemu-arm, each through CTest. Usage: tools/test.sh [host|sanitize|armhf ...]
set -euo pipefail
cd "$(dirname "$0")/.."
tools/install-deps.sh

jobs=$(nproc)
configs=("$@")
[ ${#configs[@]} -eq 0 ] && configs=(host sanitize armhf)

run_config() {
  local name=$1; shift
  echo "=== $name ==="
  cmake -S . -B "build/$name" -DCMAKE_BUILD_TYPE=Release "$@" >/dev/null
  cmake --build "build/$name" -j"$jobs"
  ctest --test-dir "build/$name" --output-on-failure -j"$jobs"
}

for c in "${configs[@]}"; do
  case $c in
    host) run_config host ;;
    sanitize) run_config sanitize -DCMAKE_BUILD_TYPE=Debug -DVOCREL_SANITIZE=ON -DVOCREL_BENCH=OFF ;;
    armhf) run_config armhf -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-armhf.cmake -DVOCREL_TOOLS=OFF ;;
    *) echo "unknown configuration: $c" >&2; exit 2 ;;
  esac
done
echo "all tests passed: ${configs[*]}"
