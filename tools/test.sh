#!/usr/bin/env bash
# Sets up, builds and runs every test: the Windows cross-build (tested under Wine by the
# native build's tests), the native build, a short fixed-seed run of every fuzz target, and
# the sanitizer build (ASan and UBSan, with the threaded engine tests again under TSan).
set -euo pipefail
cd "$(dirname "$0")/.."

bash tools/setup.sh

echo "== windows: cross-build"
cmake --preset windows
cmake --build --preset windows

echo "== linux: build and test"
cmake --preset linux
cmake --build --preset linux
# The suites that drive Wine or a QEMU guest run a whole emulated system, whose timing no
# test controls: one that fails is run once more, and its first failure stays in the log.
ctest --preset linux -LE 'wine|kernel'
ctest --preset linux -L 'wine|kernel' --repeat until-pass:2

echo "== fuzz: short fixed-seed runs"
bash tools/fuzz.sh

echo "== linux-sanitize: build and test"
cmake --preset linux-sanitize
cmake --build --preset linux-sanitize
ctest --preset linux-sanitize

