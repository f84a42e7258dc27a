#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, AddressSanitizer + UndefinedBehaviorSanitizer)
# and runs each one for the given number of seconds, starting from the committed
# seed corpus in fuzz/corpus/<target>. New inputs accumulate in
# build/fuzz/corpus/<target>; a failing input is saved in build/fuzz/artifacts/<target>/.
#
# Usage: tools/fuzz.sh [seconds per target, default 60] [api|state|host|feed ...]
#   tools/fuzz.sh 14400            # four hours per target
#   tools/fuzz.sh 600 state        # ten minutes of the overwritten-instance target
# Reproduce a failure: build/fuzz/fuzz/fuzz_<target> build/fuzz/artifacts/<target>/crash-...
set -euo pipefail
cd "$(dirname "$0")/.."

secs=${1:-60}
[ $# -gt 0 ] && shift
targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=(api state host feed)
build=${VOCREL_FUZZ_BUILD:-build/fuzz}

CC=clang CXX=clang++ cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DVOCREL_FUZZ=ON -DVOCREL_SANITIZE=ON -DVOCREL_TESTS=OFF -DVOCREL_BENCH=OFF \
  -DVOCREL_TOOLS=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" --target "${targets[@]/#/fuzz_}" >/dev/null

status=0
summary=()
for t in "${targets[@]}"; do
  work="$build/corpus/$t"
  art="$build/artifacts/$t"
  mkdir -p "$work" "$art"
  extra=()
  [ -d "fuzz/corpus/$t" ] && extra+=("fuzz/corpus/$t")
  # The wrapper prints a line for every refused configuration; keep the log
  # readable (sanitizer reports still go to the fuzzer's own output).
  [ "$t" = host ] && extra+=(-close_fd_mask=2)
  log="$build/fuzz_$t.log"
  echo "=== fuzz_$t: ${secs}s ==="
  # Long inputs from the start: a call sequence needs a few kilobytes to
  # reach many frames.
  if "$build/fuzz/fuzz_$t" "$work" -max_total_time="$secs" -print_final_stats=1 \
      -max_len=4096 -len_control=0 -artifact_prefix="$art/" "${extra[@]}" >"$log" 2>&1; then
    result=ok
  else
    result=FAILED
    status=1
    grep -E 'ERROR|runtime error|fuzz check failed|SUMMARY|deadly signal|Test unit written' "$log" | head -20 >&2
  fi
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  cov=$(grep -oE 'cov: [0-9]+ ft: [0-9]+' "$log" | tail -1)
  total=$(sed -n 's/.*(\([0-9]*\) inline 8-bit counters).*/\1/p' "$log" | head -1)
  summary+=("fuzz_$t: $result, ${runs:-0} executions, ${cov:-cov: ?} (of ${total:-?} instrumented edges)")
done
printf '%s\n' "${summary[@]}"
exit $status
