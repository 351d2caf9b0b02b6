#!/usr/bin/env bash
# Installs what the build needs, builds a release build and starts the driver against the
# printer model: a fake printer on a pty named COM7, a demo receipt folder and a sample
# receipt, so that a receipt is printed without any hardware.
#
# With a desktop (DISPLAY or WAYLAND_DISPLAY set) the program stays in the tray until you
# exit it from its menu; without one it runs on an Xvfb server of its own, prints the sample
# and stops. Either way the script ends with nothing it started left running: the program,
# Xvfb and the printer model are stopped on every way out (also Ctrl+C or a failure).
#
# The demo runs a copy of the program in a program folder of its own (the demo folder's
# prog/, with its settings file and its logs), so the settings and logs beside the built
# program (a real printer set up there) stay as they are.
#
# Environment:
#   FP_BUILD_DIR  use the programs already built in this build folder (its bin/), without
#                 installing or building anything (default: build/release, built here)
#   FP_DEMO_DIR   the demo folder: program folder, receipt folder, registry, printer model
#                 output (default: build/demo)
# Exit status 0 when the sample receipt was printed by the program this run started.
set -euo pipefail
cd "$(dirname "$0")"
ROOT=$PWD

if [ -n "${FP_BUILD_DIR:-}" ]; then
  BUILD=$(realpath -m "$FP_BUILD_DIR")
  SKIP_BUILD=1
else
  BUILD=$ROOT/build/release
  SKIP_BUILD=0
fi
BIN=$BUILD/bin
DEMO=$(realpath -m "${FP_DEMO_DIR:-$ROOT/build/demo}")
APP=$DEMO/prog
PROG=$APP/DriverFiscalPrinterX4
BON=$DEMO/bon

# The program runs once per program file: a second start from the same file only raises
# the running one and ends, and the running one would print the sample. Any process whose
# executable is this file (also one replaced by a rebuild since it started) counts.
running_instance() {
  local real exe p
  real=$(realpath -m "$PROG")
  for p in /proc/[0-9]*; do
    exe=$(readlink "$p/exe" 2>/dev/null) || continue
    if [ "$exe" = "$real" ] || [ "$exe" = "$real (deleted)" ]; then
      echo "${p#/proc/}"
      return 0
    fi
  done
  return 1
}
refuse_if_running() {
  local pid
  if pid=$(running_instance); then
    echo "DriverFiscalPrinterX4 already runs from $PROG (process $pid)." >&2
    echo "It would take the sample receipt instead of this run. Exit it from its tray menu" >&2
    echo "(or: kill $pid) and start ./run.sh again." >&2
    exit 1
  fi
}

refuse_if_running
if [ "$SKIP_BUILD" = 0 ]; then
  bash scripts/deps.sh
  cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release -DFP_BUILD_TESTS=OFF > /dev/null
  cmake --build "$BUILD" -j"$(nproc)"
fi
for f in "$BIN/DriverFiscalPrinterX4" "$BIN/printer_model" "$BIN/MiravokFPAxX4_BG.so"; do
  if [ ! -f "$f" ]; then
    echo "Missing $f: build the project in $BUILD first." >&2
    exit 1
  fi
done
refuse_if_running

# The demo's own program folder: the program and its library beside it.
mkdir -p "$APP"
cp -f "$BIN/DriverFiscalPrinterX4" "$BIN/MiravokFPAxX4_BG.so" "$APP/"

mkdir -p "$BON"
rm -f "$BON"/*
# A registry of the demo's own: the program registers the library into it, and the
# printer model maps its pty there as COM7.
export FP_REGISTRY_FILE=$DEMO/registry.txt

# Each process the demo starts is the leader of a session of its own (setsid, which does
# not fork here since a background job of a script leads no group): stopping it stops
# whatever it started, and Ctrl+C in the terminal reaches the script, which stops them.
PIDS=()
start() {
  setsid "$@" &
  PIDS+=("$!")
}
stop_all() {
  local pid i
  for ((i = ${#PIDS[@]} - 1; i >= 0; i--)); do
    pid=${PIDS[i]}
    kill -TERM -- "-$pid" 2>/dev/null || kill -TERM "$pid" 2>/dev/null || true
  done
  for _ in $(seq 1 50); do
    local alive=0
    for pid in "${PIDS[@]}"; do kill -0 "$pid" 2>/dev/null && alive=1; done
    [ "$alive" = 0 ] && break
    sleep 0.1
  done
  for pid in "${PIDS[@]}"; do
    kill -KILL -- "-$pid" 2>/dev/null || kill -KILL "$pid" 2>/dev/null || true
  done
  wait 2>/dev/null || true
  PIDS=()
}
trap stop_all EXIT
trap 'exit 130' INT
trap 'exit 143' TERM HUP

start "$BIN/printer_model" --com 7 > "$DEMO/printer.txt" 2>&1
MODEL_PID=${PIDS[-1]}
for _ in $(seq 1 100); do
  grep -q 'Printer model on COM7' "$DEMO/printer.txt" 2>/dev/null && break
  kill -0 "$MODEL_PID" 2>/dev/null || break
  sleep 0.1
done
if ! grep -q 'Printer model on COM7' "$DEMO/printer.txt" 2>/dev/null; then
  echo "The printer model did not start:" >&2
  cat "$DEMO/printer.txt" >&2
  exit 1
fi
echo "Printer model: process $MODEL_PID"

# The settings file is in the program's code page (1251), like every file it reads: a demo
# folder whose path has Cyrillic letters is written so.
if ! printf '[PARAMETERS]\r\nSearchPath=%s\r\nComPort=7\r\nBaudRate=115200\r\nCheckPrnIntevalSec=0\r\nRepFilePrint=1\r\nRepDetailPrint=1\r\n' \
  "$BON" | iconv -f UTF-8 -t CP1251 > "$APP/DriverFiscalPrinterX4.ini"; then
  echo "The demo folder $BON cannot be written in code page 1251; choose another FP_DEMO_DIR." >&2
  exit 1
fi

if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  INTERACTIVE=1
else
  INTERACTIVE=0
  # An Xvfb server on a free display: it picks the number itself and writes it once it
  # accepts clients.
  rm -f "$DEMO/display"
  start Xvfb -displayfd 3 -nolisten tcp -screen 0 1024x768x24 3> "$DEMO/display" 2> "$DEMO/xvfb.txt"
  XVFB_PID=${PIDS[-1]}
  for _ in $(seq 1 100); do
    [ -s "$DEMO/display" ] && break
    kill -0 "$XVFB_PID" 2>/dev/null || break
    sleep 0.1
  done
  if [ ! -s "$DEMO/display" ]; then
    echo "Xvfb did not start:" >&2
    cat "$DEMO/xvfb.txt" >&2
    exit 1
  fi
  export DISPLAY=:$(tr -dc '0-9' < "$DEMO/display")
  echo "Xvfb: display $DISPLAY, process $XVFB_PID"
fi

# Only what the program writes from now on counts: the log keeps earlier runs.
LOG=$APP/Log/DriverFiscalPrinterX4_Log.txt
LOG_START=$(( $(stat -c %s "$LOG" 2>/dev/null || echo 0) + 1 ))
new_log() { tail -c "+$LOG_START" "$LOG" 2>/dev/null; }

start "$PROG"
PROG_PID=${PIDS[-1]}
echo "DriverFiscalPrinterX4: process $PROG_PID"

# Wait until the program has checked the printer, then drop the sample receipt the way a
# point-of-sale program should: written under another name, then renamed.
for _ in $(seq 1 300); do
  new_log | grep -q 'Checking connectivity' && break
  kill -0 "$PROG_PID" 2>/dev/null || break
  sleep 0.1
done
if ! kill -0 "$PROG_PID" 2>/dev/null; then
  echo "DriverFiscalPrinterX4 ended at once; see $APP/Log/" >&2
  exit 1
fi
printf '%s\r\n' '@010001Ivan' '%1^BREAD^150^2000^1' '%2^MILK^230^1000^2' ':Thank you' '#E1^10.00' \
  > "$BON/0001.tmp"
mv "$BON/0001.tmp" "$BON/0001.bon"
echo "Sample receipt dropped into $BON"

# The file is done when it is neither waiting nor held as "0001.$$$" any more; a failed one
# leaves a report file too, beside "0001.err" or "0001.unk".
for _ in $(seq 1 600); do
  [ ! -e "$BON/0001.bon" ] && [ ! -e "$BON/0001.\$\$\$" ] && break
  kill -0 "$PROG_PID" 2>/dev/null || break
  sleep 0.1
done
PRINTED=0
if [ -f "$BON/0001.rep" ] && [ ! -e "$BON/0001.err" ] && [ ! -e "$BON/0001.unk" ] && [ ! -e "$BON/0001.bon" ] &&
  kill -0 "$PROG_PID" 2>/dev/null; then
  PRINTED=1
  echo "Printed by process $PROG_PID. Report file $BON/0001.rep:"
  iconv -f CP1251 -t UTF-8 "$BON/0001.rep" | tr -d '\r'
else
  echo "The sample receipt was not printed; see $APP/Log/ and $BON/" >&2
  if [ -f "$BON/0001.rep" ]; then
    echo "Report file $BON/0001.rep:" >&2
    iconv -f CP1251 -t UTF-8 "$BON/0001.rep" | tr -d '\r' >&2
  fi
fi
echo "What the printer model received:"
cat "$DEMO/printer.txt"

if [ "$INTERACTIVE" = 1 ] && kill -0 "$PROG_PID" 2>/dev/null; then
  echo "The driver runs in the tray; drop more receipt files into $BON. Exit it from its menu."
  wait "$PROG_PID" || true
fi
[ "$PRINTED" = 1 ]
