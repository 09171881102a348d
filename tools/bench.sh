#!/usr/bin/env bash
# Builds lintrel-cli and the benchmark (linux preset) and runs the benchmark: lintrel-cli
# against the floor (a minimal XTest typer) and a shell loop around xdotool, over
# pseudo-terminals, typing into a window on a private Xvfb server.
#
#   tools/bench.sh                 the full run (about 5 minutes)
#   tools/bench.sh --quick         a quick run (about a minute)
#   tools/bench.sh --json PATH     where to write every figure
#                                  (default build/linux/bench/results.json)
#
# The table goes to standard output, progress to standard error. See bench/README.md.
set -euo pipefail
cd "$(dirname "$0")/.."

missing=()
for tool in cmake g++ Xvfb xdotool stty; do
  command -v "$tool" >/dev/null || missing+=("$tool")
done
if [[ ${#missing[@]} -gt 0 ]]; then
  echo "bench: missing ${missing[*]}; on Debian 12: apt-get install cmake g++ xvfb xdotool libx11-dev libxtst-dev libxres-dev" >&2
  exit 1
fi

cmake --preset linux >/dev/null
cmake --build --preset linux --target lintrel-cli lintrel_floor_typer lintrel_bench >/dev/null
exec build/linux/bench/lintrel_bench "$@"
