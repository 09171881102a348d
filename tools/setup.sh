#!/usr/bin/env bash
# Installs the Debian 12 packages of the set asked for, when missing:
#
#   tools/setup.sh run    what building and running lintrel-cli needs (tools/run.sh): the
#                         compiler, CMake, and the development packages of the X libraries
#                         (XTest; X-Resource, which tells whose request a paste answers), libudev (device arrivals), libevdev and libxkbcommon (the
#                         uinput keyboard; xkb-data holds the layouts it types for), RE2
#                         (the record stage's pattern engine) and standalone Asio (the
#                         sockets of network ports)
#   tools/setup.sh test   that and everything the tests need (tools/test.sh, tools/package.sh);
#                         the default
#
# The test set adds GoogleTest; Xvfb, setxkbmap and xdotool for the keyboard tests; MinGW-w64
# for the Windows build and Wine to test it, with ImageMagick for the screenshots its tests
# take; what the Windows build needs to build RE2 from Debian's source of the same version,
# which it fetches once (tools/fetch_re2_source.sh) and whose Unicode tables it makes from
# unicode-data with Python (six) and Perl; openbox (a window manager that keeps
# _NET_ACTIVE_WINDOW) for the tests of delivery to a target; clang for the fuzz targets; help2man for the man
# page, and what the package tests use: dpkg-dev and file (dependencies of the Debian
# package), lintian (its checks), NSIS (the Windows installer), wixl and msitools (the MSI),
# osslsigncode (signing the Windows files), xmllint (the policy templates) and man-db (to
# show the man page); QEMU with busybox to test the uinput keyboard and the USB-serial ports against a
# real kernel (the kernel image itself is fetched by that test); ser2net and socat play the
# device servers and network peers of the network-port tests.
set -euo pipefail

run_packages=(
  g++ cmake make pkg-config
  libx11-dev libxtst-dev libxres-dev libudev-dev libevdev-dev libxkbcommon-dev xkb-data libre2-dev libasio-dev
)

test_packages=(
  libgtest-dev libgmock-dev
  xvfb x11-xkb-utils xdotool openbox
  unicode-data python3 python3-six perl
  g++-mingw-w64-x86-64
  wine wine64
  clang libclang-rt-14-dev
  imagemagick
  help2man dpkg-dev file nsis man-db
  wixl msitools osslsigncode libxml2-utils
  qemu-system-x86 busybox-static
  lintian
  ser2net socat
)

set=${1:-test}
case "$set" in
  run) packages=("${run_packages[@]}") ;;
  test) packages=("${run_packages[@]}" "${test_packages[@]}") ;;
  *) echo "setup.sh: unknown set '$1': run or test" >&2; exit 2 ;;
esac

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

# The source of RE2 for the Windows cross-build.
if [[ "$set" == "test" ]]; then
  bash "$(dirname "$0")/fetch_re2_source.sh" "$(dirname "$0")/../build/third_party"
fi
