#!/usr/bin/env bash
# Installs what the build needs, builds a release build and starts the driver.
set -euo pipefail
cd "$(dirname "$0")"
bash scripts/deps.sh
BUILD=build/release
cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release -DFP_BUILD_TESTS=OFF
cmake --build "$BUILD" -j8
echo "Built into $BUILD/bin"
