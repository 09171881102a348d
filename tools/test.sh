#!/usr/bin/env bash
# Sets up, builds and runs every test: the native build, the sanitizer build (ASan and
# UBSan, with the threaded engine tests again under TSan), and the Windows cross-build.
set -euo pipefail
cd "$(dirname "$0")/.."

bash tools/setup.sh

echo "== windows: cross-build"
cmake --preset windows
cmake --build --preset windows

echo "== linux: build and test"
cmake --preset linux
cmake --build --preset linux
ctest --preset linux

echo "== linux-sanitize: build and test"
cmake --preset linux-sanitize
cmake --build --preset linux-sanitize
ctest --preset linux-sanitize

