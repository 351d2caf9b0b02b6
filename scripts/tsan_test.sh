#!/usr/bin/env bash
# Builds the tests of objects used from several threads with ThreadSanitizer and runs them:
# one object called from two threads, two objects searching the ports at once. Only that
# test program is built (about two minutes), so it fits beside the sanitizer build of CI.
# Usage: scripts/tsan_test.sh [build folder, default build/tsan]
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD=${1:-build/tsan}
cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DFP_SANITIZE=OFF -DFP_BUILD_TESTS=ON \
  -DCMAKE_CXX_FLAGS="-fsanitize=thread -O1" -DCMAKE_EXE_LINKER_FLAGS=-fsanitize=thread \
  -DCMAKE_SHARED_LINKER_FLAGS=-fsanitize=thread >/dev/null
cmake --build "$BUILD" -j"$(nproc)" --target MiravokFprnThreads_test
TSAN_OPTIONS=${TSAN_OPTIONS:-halt_on_error=1:second_deadlock_stack=1} "$BUILD/tests/MiravokFprnThreads_test"
