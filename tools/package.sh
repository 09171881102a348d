#!/usr/bin/env bash
# Builds the packages of this version into build/packages/, then tests them:
#   lintrel_<version>_<arch>.deb   the Debian package: lintrel-cli, its man page, the README and guides
#   lintrel-<version>-setup.exe    the Windows installer: lintrel.exe and lintrel-cli.exe
#   lintrel-<version>-win64.zip    the same two programs with the README, guides and licence, portable
# each with a .sha256 file beside it. The version is project(VERSION) in CMakeLists.txt.
# The package tests (ctest label "package": the man page, the .deb's fields, dependencies and
# files, the zip's files, the installer installed and uninstalled under Wine) are also part of
# tools/test.sh.
set -euo pipefail
cd "$(dirname "$0")/.."

bash tools/setup.sh

echo "== windows: cross-build"
cmake --preset windows >/dev/null
cmake --build --preset windows

echo "== linux: build"
cmake --preset linux >/dev/null
cmake --build --preset linux

echo "== packages"
rm -rf build/packages
cpack --preset linux
cpack --preset windows
rm -rf build/packages/_CPack_Packages

echo "== package tests"
ctest --preset linux -L package

echo "== built:"
ls -l build/packages
