#!/usr/bin/env bash
# Builds the fuzz targets with clang and libFuzzer and runs each for a bounded time, all at
# once; fails when any target reports a crash, a leak, a time-out, too much memory or a
# sanitizer finding. Crash inputs land in build/fuzz/artifacts, each target's output in
# build/fuzz/logs, the corpus grown on top of the seeds in build/fuzz/corpus.
#
# Usage: fuzz/run.sh [target...]   (default: every target; FUZZ_SECONDS sets the time, 60 s)
# A crash input is replayed with: build/fuzz/<target> build/fuzz/artifacts/<file>
set -euo pipefail
cd "$(dirname "$0")/.."

BUILD=build/fuzz
SECONDS_EACH=${FUZZ_SECONDS:-60}
TARGETS=("$@")
if [ ${#TARGETS[@]} -eq 0 ]; then TARGETS=(fuzz_serial_answer fuzz_tcp_answer fuzz_receipt_file); fi
CXX_BIN=$(command -v clang++-14 || command -v clang++)
CC_BIN=$(command -v clang-14 || command -v clang)

cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DFP_FUZZ=ON -DFP_BUILD_TESTS=OFF \
  -DCMAKE_CXX_COMPILER="$CXX_BIN" -DCMAKE_C_COMPILER="$CC_BIN"
cmake --build "$BUILD" -j"$(nproc)" --target "${TARGETS[@]}"

mkdir -p "$BUILD/artifacts" "$BUILD/logs"
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

declare -A PIDS
for t in "${TARGETS[@]}"; do
  mkdir -p "$BUILD/corpus/$t"
  "$BUILD/$t" -max_total_time="$SECONDS_EACH" -rss_limit_mb=2048 -timeout=10 -print_final_stats=1 \
    -artifact_prefix="$BUILD/artifacts/$t-" "$BUILD/corpus/$t" "fuzz/corpus/$t" >"$BUILD/logs/$t.log" 2>&1 &
  PIDS[$t]=$!
done

failed=()
for t in "${TARGETS[@]}"; do
  if wait "${PIDS[$t]}"; then
    echo "$t: clean ($(grep -Eo 'stat::number_of_executed_units: *[0-9]+' "$BUILD/logs/$t.log" | grep -Eo '[0-9]+$') runs)"
  else
    echo "$t: FAILED, see $BUILD/logs/$t.log"
    tail -n 60 "$BUILD/logs/$t.log"
    failed+=("$t")
  fi
done
if [ ${#failed[@]} -ne 0 ]; then
  echo "Fuzz targets with findings: ${failed[*]} (inputs in $BUILD/artifacts)"
  exit 1
fi
