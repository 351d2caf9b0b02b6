#!/usr/bin/env bash
# Checks the headless demo (./run.sh without a desktop) on programs already built:
#   1. two runs in a row each print their own sample receipt, with the program that run
#      started, and leave no process behind (program, Xvfb, printer model);
#   2. a run stopped part way (SIGTERM once the program runs) leaves no process behind;
#   3. while the program already runs from the same file, run.sh says so and drops no sample;
#   4. the settings file beside the built program is left as it was (the demo runs in a
#      program folder of its own);
#   5. a checkout under a folder with Cyrillic letters runs the demo (its settings file is
#      written in the program's code page).
# The programs are copied into a folder of the test's own, so neither the build folder nor
# a demo of the user is touched.
# Usage: scripts/demo_test.sh [build folder]   (default build/asan)
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
SRC=$(realpath "${1:-build/asan}")/bin
WORK=$(mktemp -d /tmp/fp-demo-test-XXXXXX)
BUILD=$WORK/build
DEMO=$WORK/demo
OTHER_PID=""
cleanup() {
  [ -n "$OTHER_PID" ] && kill -KILL -- "-$OTHER_PID" 2>/dev/null || true
  rm -rf "$WORK"
}
trap cleanup EXIT

mkdir -p "$BUILD/bin"
cp "$SRC/DriverFiscalPrinterX4" "$SRC/MiravokFPAxX4_BG.so" "$SRC/printer_model" "$BUILD/bin/"
# Sanitizer builds: a leak report of a program stopped by the demo is no finding here.
export ASAN_OPTIONS=detect_leaks=0
export FP_BUILD_DIR=$BUILD FP_DEMO_DIR=$DEMO
unset DISPLAY WAYLAND_DISPLAY
LOG=$DEMO/prog/Log/DriverFiscalPrinterX4_Log.txt
# Settings of a real printer beside the built program: the demo must not touch them.
printf '[PARAMETERS]\r\nSearchPath=/srv/shop\r\nComPort=3\r\n' > "$BUILD/bin/DriverFiscalPrinterX4.ini"
BIN_INI=$(sha256sum < "$BUILD/bin/DriverFiscalPrinterX4.ini")

FAILED=0
fail() {
  echo "FAIL: $*" >&2
  FAILED=1
}

# Processes whose executable is one of the test's copies, and the Xvfb servers.
own_processes() {
  local p exe
  for p in /proc/[0-9]*; do
    exe=$(readlink "$p/exe" 2>/dev/null) || continue
    case "$exe" in "$WORK"/*) echo "${p#/proc/} $exe" ;; esac
  done
}
xvfb_pids() {
  local p exe
  for p in /proc/[0-9]*; do
    exe=$(readlink "$p/exe" 2>/dev/null) || continue
    case "$exe" in */Xvfb | */Xvfb" (deleted)") echo "${p#/proc/}" ;; esac
  done | sort
}
# The process numbers run.sh printed for what it started.
started_pids() {
  sed -n -e 's/^Printer model: process \([0-9]*\)$/\1/p' -e 's/^Xvfb: display :[0-9]*, process \([0-9]*\)$/\1/p' \
    -e 's/^DriverFiscalPrinterX4: process \([0-9]*\)$/\1/p' "$1"
}
# Nothing of a run is left: the processes it named, any copy of ours, any new Xvfb.
check_nothing_left() {
  local name=$1 out=$2 xvfb_before=$3 pid left
  for pid in $(started_pids "$out"); do
    # Stopped processes go at once; allow a moment for the kernel to reap them.
    for _ in $(seq 1 20); do [ -e "/proc/$pid" ] || break; sleep 0.1; done
    [ -e "/proc/$pid" ] && fail "$name: process $pid ($(readlink "/proc/$pid/exe" 2>/dev/null)) still runs"
  done
  left=$(own_processes)
  [ -z "$left" ] || fail "$name: left running: $left"
  left=$(comm -13 <(echo "$xvfb_before") <(xvfb_pids))
  [ -z "$left" ] || fail "$name: Xvfb left running: $left"
}

# demo_run NAME [RUN_SH DEMO_DIR]: one headless demo run, by default the checkout's run.sh
# on the test's demo folder.
demo_run() {
  local name=$1 out=$WORK/$1.txt xvfb_before log_start prog_pid
  local run=${2:-$ROOT/run.sh} demo=${3:-$DEMO}
  local LOG=$demo/prog/Log/DriverFiscalPrinterX4_Log.txt
  xvfb_before=$(xvfb_pids)
  log_start=$(( $(stat -c %s "$LOG" 2>/dev/null || echo 0) + 1 ))
  if ! FP_DEMO_DIR=$demo timeout 180 "$run" > "$out" 2>&1; then
    fail "$name: run.sh failed"
    cat "$out" >&2
  fi
  prog_pid=$(sed -n 's/^DriverFiscalPrinterX4: process \([0-9]*\)$/\1/p' "$out")
  [ -n "$prog_pid" ] || fail "$name: no program started"
  # The report came while this run's program ran, and that program really started (a
  # second instance ends before its window and writes no start line).
  grep -q "^Printed by process $prog_pid\. " "$out" || fail "$name: the sample was not printed by process $prog_pid"
  [ -f "$demo/bon/0001.rep" ] || fail "$name: no report file"
  [ "$(tail -c "+$log_start" "$LOG" | grep -c ' started!')" = 1 ] || fail "$name: the program log shows no start of its own"
  check_nothing_left "$name" "$out" "$xvfb_before"
  echo "$name: done"
}

demo_run first
demo_run second
[ "$(sha256sum < "$BUILD/bin/DriverFiscalPrinterX4.ini")" = "$BIN_INI" ] ||
  fail "bin settings: the demo changed $BUILD/bin/DriverFiscalPrinterX4.ini"
[ -e "$BUILD/bin/Log" ] && fail "bin settings: the demo wrote logs into $BUILD/bin"
echo "bin settings: done"

# A checkout under a folder with Cyrillic letters, with its own default demo folder.
CHECKOUT="$WORK/Каса демо"
mkdir -p "$CHECKOUT"
cp "$ROOT/run.sh" "$CHECKOUT/"
demo_run cyrillic "$CHECKOUT/run.sh" "$CHECKOUT/build/demo"
# The settings file names the receipt folder in code page 1251.
LC_ALL=C grep -qF "SearchPath=$(printf '%s' "$CHECKOUT/build/demo/bon" | iconv -f UTF-8 -t CP1251)" \
  "$CHECKOUT/build/demo/prog/DriverFiscalPrinterX4.ini" || fail "cyrillic: the settings file is not in code page 1251"

# Stopped part way: as soon as the program runs.
out=$WORK/stopped.txt
xvfb_before=$(xvfb_pids)
"$ROOT/run.sh" > "$out" 2>&1 &
RUN_PID=$!
for _ in $(seq 1 300); do
  grep -q '^DriverFiscalPrinterX4: process' "$out" && break
  sleep 0.1
done
grep -q '^DriverFiscalPrinterX4: process' "$out" || fail "stopped: the program did not start"
kill -TERM "$RUN_PID"
wait "$RUN_PID" && fail "stopped: run.sh reported success"
check_nothing_left stopped "$out" "$xvfb_before"
echo "stopped: done"

# Another instance of the same program file (with the demo's registry, not the user's).
rm -f "$DEMO/bon/"*
FP_REGISTRY_FILE=$DEMO/registry.txt QT_QPA_PLATFORM=offscreen setsid "$DEMO/prog/DriverFiscalPrinterX4" > /dev/null 2>&1 &
OTHER_PID=$!
for _ in $(seq 1 50); do
  [ "$(readlink "/proc/$OTHER_PID/exe" 2>/dev/null)" = "$DEMO/prog/DriverFiscalPrinterX4" ] && break
  sleep 0.1
done
out=$WORK/refused.txt
if "$ROOT/run.sh" > "$out" 2>&1; then fail "refused: run.sh ran beside another instance"; fi
grep -q "already runs from $DEMO/prog/DriverFiscalPrinterX4 (process $OTHER_PID)" "$out" ||
  fail "refused: no word of the running instance: $(cat "$out")"
[ -z "$(started_pids "$out")" ] || fail "refused: run.sh started something"
[ -e "$DEMO/bon/0001.bon" ] && fail "refused: a sample was dropped"
kill -KILL -- "-$OTHER_PID" 2>/dev/null || true
wait "$OTHER_PID" 2>/dev/null || true
OTHER_PID=""
echo "refused: done"

if [ "$FAILED" != 0 ]; then
  echo "demo test FAILED" >&2
  exit 1
fi
echo "demo test passed"
