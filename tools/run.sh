#!/usr/bin/env bash
# Sets up, builds and runs lintrel-cli. Without arguments it runs the built-in demo:
# simulated scanners on virtual serial ports, captured and typed.
set -euo pipefail
cd "$(dirname "$0")/.."

bash tools/setup.sh
cmake --preset linux >/dev/null
cmake --build --preset linux --target lintrel-cli >/dev/null

if [[ $# -eq 0 ]]; then
  set -- --demo
fi
exec build/linux/app/cli/lintrel-cli "$@"
