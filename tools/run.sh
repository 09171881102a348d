#!/usr/bin/env bash
# Sets up, builds and runs lintrel-cli. Without arguments it runs the built-in demo:
# simulated scanners on virtual serial ports, captured and typed.
# Installs only what building and running lintrel-cli needs (tools/setup.sh run), so it
# configures the linux preset without the tests; tools/test.sh turns them on again.
set -euo pipefail
cd "$(dirname "$0")/.."

bash tools/setup.sh run
log=$(mktemp)
trap 'rm -f "$log"' EXIT
if ! cmake --preset linux -DLINTREL_BUILD_TESTS=OFF >"$log" 2>&1 ||
   ! cmake --build --preset linux --target lintrel-cli >>"$log" 2>&1; then
  cat "$log" >&2
  exit 1
fi
rm -f "$log"
trap - EXIT

if [[ $# -eq 0 ]]; then
  set -- --demo
fi
exec build/linux/app/cli/lintrel-cli "$@"
