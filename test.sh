#!/usr/bin/env bash
# Builds everything with AddressSanitizer and UndefinedBehaviorSanitizer and runs the whole
# test suite. Usage: ./test.sh [extra ctest arguments]
set -euo pipefail
cd "$(dirname "$0")"
bash scripts/deps.sh
BUILD=build/asan
cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DFP_SANITIZE=ON -DFP_BUILD_TESTS=ON
cmake --build "$BUILD" -j"$(nproc)"
export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
ctest --test-dir "$BUILD" -j"$(nproc)" --output-on-failure "$@"
