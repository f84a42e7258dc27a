#!/usr/bin/env bash
# Runs every test: the host build, the ASan+UBSan build and the armhf build
# under qemu-arm, each through CTest; the transform and golden-digest tests
# again in host and armhf builds without the SIMD kernels (host-c, armhf-c),
# which must give the same digests; the armhf library without mode 1, as
# devices that run only the floor-noise path build it (armhf-mode0: its
# mode-0 digests, its exported names, mode 1 refused); the thread test under
# ThreadSanitizer; each libFuzzer target for a minute (clang).
# Usage: tools/test.sh [host|sanitize|armhf|host-c|armhf-c|armhf-mode0|tsan|fuzz ...]
set -euo pipefail
cd "$(dirname "$0")/.."
tools/install-deps.sh all

jobs=$(nproc)
configs=("$@")
[ ${#configs[@]} -eq 0 ] && configs=(host sanitize armhf host-c armhf-c armhf-mode0 tsan fuzz)

run_config() {
  local name=$1; shift
  echo "=== $name ==="
  cmake -S . -B "build/$name" -DCMAKE_BUILD_TYPE=Release "$@" >/dev/null
  cmake --build "build/$name" -j"$jobs"
  ctest --test-dir "build/$name" --output-on-failure -j"$jobs"
}

# The portable twins alone: the transforms and every golden digest.
portable_tests=(t_fft_engine t_fft_kernels t_math_scalar t_math_kernels t_fnr_pipeline t_rnr_pipeline)
run_portable() {
  local name=$1; shift
  echo "=== $name ==="
  cmake -S . -B "build/$name" -DCMAKE_BUILD_TYPE=Release -DVOCREL_SIMD=OFF -DVOCREL_TOOLS=OFF \
    -DVOCREL_BENCH=OFF "$@" >/dev/null
  cmake --build "build/$name" -j"$jobs" --target "${portable_tests[@]}"
  ctest --test-dir "build/$name" --output-on-failure -j"$jobs" \
    -R '^(fft_engine|fft_kernels|math_scalar|math_kernels|fnr_pipeline|rnr_pipeline)$'
}

for c in "${configs[@]}"; do
  case $c in
    host) run_config host ;;
    sanitize) run_config sanitize -DCMAKE_BUILD_TYPE=Debug -DVOCREL_SANITIZE=ON -DVOCREL_BENCH=OFF ;;
    armhf) run_config armhf -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-armhf.cmake ;;
    host-c) run_portable host-c ;;
    armhf-c) run_portable armhf-c -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-armhf.cmake ;;
    armhf-mode0)
      run_config armhf-mode0 -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-armhf.cmake -DVOCREL_MODE1=OFF \
        -DVOCREL_TOOLS=OFF -DVOCREL_BENCH=OFF ;;
    tsan)
      echo "=== tsan ==="
      cmake -S . -B build/tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVOCREL_TSAN=ON \
        -DVOCREL_BENCH=OFF -DVOCREL_TOOLS=OFF >/dev/null
      cmake --build build/tsan -j"$jobs" --target t_robust_threads
      ctest --test-dir build/tsan --output-on-failure -R '^robust_threads$' ;;
    fuzz) echo "=== fuzz ==="; tools/fuzz.sh "${VOCREL_FUZZ_SECONDS:-60}" ;;
    *) echo "unknown configuration: $c" >&2; exit 2 ;;
  esac
done
echo "all tests passed: ${configs[*]}"
