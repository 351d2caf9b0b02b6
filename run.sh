#!/usr/bin/env bash
# Installs what the build needs, builds a release build and starts the driver against the
# printer model: a fake printer on a pty named COM7, a demo receipt folder and a sample
# receipt, so that a receipt is printed without any hardware.
#
# With a desktop (DISPLAY or WAYLAND_DISPLAY set) the program stays in the tray until you
# exit it from its menu; without one it runs under Xvfb, prints the sample and stops.
set -euo pipefail
cd "$(dirname "$0")"
ROOT=$PWD
bash scripts/deps.sh
BUILD=$ROOT/build/release
cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release -DFP_BUILD_TESTS=OFF > /dev/null
cmake --build "$BUILD" -j8

BIN=$BUILD/bin
DEMO=$ROOT/build/demo
BON=$DEMO/bon
mkdir -p "$BON"
rm -f "$BON"/*
# A registry of the demo's own: the program registers the library into it, and the
# printer model maps its pty there as COM7.
export FP_REGISTRY_FILE=$DEMO/registry.txt

MODEL_PID=""
PROG_PID=""
cleanup() {
  [ -n "$PROG_PID" ] && kill "$PROG_PID" 2>/dev/null || true
  [ -n "$MODEL_PID" ] && kill "$MODEL_PID" 2>/dev/null || true
  wait 2>/dev/null || true
}
trap cleanup EXIT

"$BIN/printer_model" --com 7 > "$DEMO/printer.txt" 2>&1 &
MODEL_PID=$!
for _ in $(seq 1 100); do
  grep -q 'COM7' "$FP_REGISTRY_FILE" 2>/dev/null && break
  sleep 0.1
done

cat > "$BIN/DriverFiscalPrinterX4.ini" <<INI
[PARAMETERS]
SearchPath=$BON
ComPort=7
BaudRate=115200
CheckPrnIntevalSec=0
RepFilePrint=1
RepDetailPrint=1
INI

if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  "$BIN/DriverFiscalPrinterX4" &
  PROG_PID=$!
  INTERACTIVE=1
else
  xvfb-run -a "$BIN/DriverFiscalPrinterX4" &
  PROG_PID=$!
  INTERACTIVE=0
fi

# Wait until the program has checked the printer, then drop the sample receipt the way a
# point-of-sale program should: written under another name, then renamed.
LOG=$BIN/Log/DriverFiscalPrinterX4_Log.txt
for _ in $(seq 1 300); do
  grep -q 'Checking connectivity' "$LOG" 2>/dev/null && break
  sleep 0.1
done
printf '%s\r\n' '@010001Ivan' '%1^BREAD^150^2000^1' '%2^MILK^230^1000^2' ':Thank you' '#E1^10.00' \
  > "$BON/0001.tmp"
mv "$BON/0001.tmp" "$BON/0001.bon"
echo "Sample receipt dropped into $BON"

for _ in $(seq 1 600); do
  [ -f "$BON/0001.rep" ] || [ -f "$BON/0001.err" ] && break
  sleep 0.1
done
if [ -f "$BON/0001.rep" ]; then
  echo "Printed. Report file $BON/0001.rep:"
  iconv -f CP1251 -t UTF-8 "$BON/0001.rep" | tr -d '\r'
else
  echo "The sample receipt was not printed; see $BIN/Log/ and $BON/" >&2
fi
echo "What the printer model received:"
cat "$DEMO/printer.txt"

if [ "$INTERACTIVE" = 1 ]; then
  echo "The driver runs in the tray; drop more receipt files into $BON. Exit it from its menu."
  wait "$PROG_PID" || true
  PROG_PID=""
fi
