#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need; does nothing when all are there.
set -euo pipefail
PACKAGES=(
  build-essential cmake ninja-build pkg-config git
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  libasio-dev libudev-dev udev
  qt6-base-dev libgl1-mesa-dev qt6-translations-l10n
  xvfb xauth
  clang libclang-rt-14-dev clang-format-14 clang-tidy-14
  locales libc-l10n
)
# The Bulgarian UTF-8 locale of the shops' desktops: the tests of the system error texts
# run under it (they skip where it is missing).
LOCALES=(bg_BG.UTF-8)
missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
if [ ${#missing[@]} -ne 0 ]; then
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
for l in "${LOCALES[@]}"; do
  # "bg_BG.UTF-8" is listed by locale -a as "bg_BG.utf8".
  listed="${l/%UTF-8/utf8}"
  if ! locale -a 2>/dev/null | grep -qx "$listed"; then
    echo "Generating locale: $l"
    $SUDO localedef -i "${l%%.*}" -f "${l#*.}" "$l" || echo "Could not generate $l: its tests skip"
  fi
done
