#!/usr/bin/env bash
# Checks the habits of the code: every C++ source laid out as .clang-format says, and the
# naming rule of .clang-tidy (data members of classes F and PascalCase, locals camelCase).
# Usage: scripts/style_check.sh [build folder with compile_commands.json, default build/asan]
# The layout check needs no build; the naming check reads the build's compile commands.
# To lay a file out: clang-format-14 -i <file>.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD=${1:-build/asan}
for tool in clang-format-14 clang-tidy-14; do
  command -v "$tool" >/dev/null || { echo "$tool is missing: bash scripts/deps.sh" >&2; exit 1; }
done
mapfile -t SOURCES < <(git ls-files '*.cpp' '*.h')

echo "Layout: ${#SOURCES[@]} files"
clang-format-14 --dry-run --Werror "${SOURCES[@]}"

if [ ! -f "$BUILD/compile_commands.json" ]; then
  echo "Naming: $BUILD/compile_commands.json is missing; build first (./test.sh)" >&2
  exit 1
fi
# Every source the build compiles, the fuzz targets aside (they build with another compiler).
mapfile -t UNITS < <(git ls-files '*.cpp' | grep -v '^fuzz/')
ROOT=$(pwd)
echo "Naming: ${#UNITS[@]} files"
report=$(mktemp)
trap 'rm -f "$report"' EXIT
# clang-tidy exits non-zero only when it cannot read a file (a compile error): that fails the
# check too, so a broken unit is never passed over in silence.
if ! printf '%s\n' "${UNITS[@]}" |
  xargs -P"$(nproc)" -n4 clang-tidy-14 -p "$BUILD" --quiet -extra-arg=-Wno-unknown-warning-option -extra-arg=-Wno-error \
    -header-filter="^$ROOT/(library|program|platform|tools|tests)/.*\.h$" >"$report" 2>/dev/null; then
  grep -E 'error:' "$report" | sort -u >&2 || true
  echo "Naming: clang-tidy could not read every file" >&2
  exit 1
fi
out=$(grep -E 'warning: .*\[readability-identifier-naming\]' "$report" | sort -u || true)
if [ -n "$out" ]; then
  echo "$out"
  echo "Naming: $(echo "$out" | wc -l) names break the rule" >&2
  exit 1
fi
echo "Style check passed"
