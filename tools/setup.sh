#!/usr/bin/env bash
# Installs the Debian 12 packages Lintrel needs to build, run and test, when missing: the
# compilers (g++, MinGW-w64 for Windows, clang for the fuzz targets), GoogleTest, the X11
# libraries, Xvfb for the keyboard tests, openbox (a window manager that keeps
# _NET_ACTIVE_WINDOW) for the tests of delivery to a target, Wine for the Windows build's
# tests and ImageMagick for the screenshots they take; help2man for the man page, and what the package tests use:
# dpkg-dev and file (dependencies of the Debian package), lintian (its checks), NSIS (the
# Windows installer) and man-db (to show the man page); wixl (the MSI), osslsigncode
# (signing the Windows files) and xmllint (the policy templates); libudev for device arrivals,
# libevdev and libxkbcommon for the uinput keyboard (xkb-data holds the layouts, also copied
# into its test's guest), and QEMU with busybox to test both against a real kernel (the
# kernel image itself is fetched by that test). RE2 is the record stage's pattern
# engine; the Windows cross-build builds it from Debian's source of the same version, which
# it fetches once (tools/fetch_re2_source.sh) and whose Unicode tables it makes from
# unicode-data with Python (six).
set -euo pipefail

packages=(
  g++ cmake make
  libgtest-dev libgmock-dev
  libx11-dev libxtst-dev libudev-dev libevdev-dev libxkbcommon-dev pkg-config
  libre2-dev unicode-data python3 python3-six perl
  xvfb x11-xkb-utils xkb-data xdotool openbox
  g++-mingw-w64-x86-64
  wine wine64
  clang libclang-rt-14-dev
  imagemagick
  help2man dpkg-dev file nsis man-db
  wixl msitools osslsigncode libxml2-utils
  qemu-system-x86 busybox-static
  lintian
)

missing=()
for package in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$package")
done
if [[ ${#missing[@]} -gt 0 ]]; then
  echo "setup: installing ${missing[*]}"
  sudo=()
  [[ $(id -u) -eq 0 ]] || sudo=(sudo)
  "${sudo[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

bash "$(dirname "$0")/fetch_re2_source.sh" "$(dirname "$0")/../build/third_party"
