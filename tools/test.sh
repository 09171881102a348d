#!/usr/bin/env bash
# Sets up, builds and runs every test: the Windows cross-build (tested under Wine by the
# native build's tests), the native build and its tests, a short fixed-seed run of every
# fuzz target, and the sanitizer build (ASan and UBSan, with the threaded engine tests
# again under TSan) and its tests.
#
# The Wine and QEMU suites mostly wait for an emulated system, leaving the CPU idle: the
# sanitizer build, then its tests and the fuzz runs, go on beside them (and beside the
# native tests) at the lowest CPU priority, so that they take only what the tests
# leave. Their output follows when they are done.
#
# At the end it prints the time of each phase, and the tests that needed a second run.
set -euo pipefail
cd "$(dirname "$0")/.."

logs=build/test-logs
mkdir -p "$logs"
phase_file=$logs/phases
: >"$phase_file"
retried=()
background_pid=""

# The CPU seconds used so far by the finished children (and theirs) of the shell whose
# process id is given: what a phase costs whatever else the machine runs, where its wall
# time depends on the load.
children_cpu() {
  local -a stat
  read -r -a stat <"/proc/$1/stat"
  # Fields 16 and 17 (after the name in parentheses, which has no blank here): cutime, cstime.
  echo $(((stat[15] + stat[16]) / $(getconf CLK_TCK)))
}

# Runs a command as one timed phase: `timed NAME COMMAND...`. Its wall time and CPU time go
# to the phase file (also from the background), and a phase that fails is named there.
timed() {
  local name=$1
  shift
  echo "== $name"
  local start=$SECONDS shell=$BASHPID cpu_start
  cpu_start=$(children_cpu "$shell")
  local status=0
  "$@" || status=$?
  printf '  %-44s %5d s %6d s%s\n' "$name" $((SECONDS - start)) $(($(children_cpu "$shell") - cpu_start)) \
    "$([[ $status -eq 0 ]] || echo '  FAILED')" >>"$phase_file"
  return $status
}

# At the end, also after a failure: no background work left running, the times of the
# phases, and the tests that passed only when run again.
report() {
  local status=$?
  if [[ -n "$background_pid" ]] && kill -0 "$background_pid" 2>/dev/null; then
    kill -- "-$background_pid" 2>/dev/null || true
    wait "$background_pid" 2>/dev/null || true
  fi
  echo
  echo "== time of each phase (the ones marked * ran beside the ones before them)"
  printf '  %-44s %7s %8s\n' "phase" "wall" "CPU"
  cat "$phase_file"
  printf '  %-44s %5d s %6d s\n' "all" "$SECONDS" "$(children_cpu $$)"
  [[ $status -eq 0 ]] || echo "test.sh: FAILED (status $status)"
  if [[ ${#retried[@]} -eq 0 ]]; then
    echo "== tests that needed a second run: none"
  else
    echo "== tests that needed a second run (each failed once; its first failure is in the log above):"
    printf '  %s\n' "${retried[@]}"
  fi
}
trap report EXIT

# The suites that drive Wine or a QEMU guest run a whole emulated system, whose timing no
# test controls: one that fails is run once more, alone, and its first failure stays in the
# log. Each test that passes the second time is named at the end, so a flaky test is seen.
emulated_suites() {
  if ctest --preset linux -L 'wine|kernel'; then
    return 0
  fi
  local -a failed=()
  mapfile -t failed < <(cut -d: -f2- build/linux/Testing/Temporary/LastTestsFailed.log)
  local -a failed_twice=()
  local test_name pattern
  for test_name in "${failed[@]}"; do
    echo "== once more: $test_name"
    # ctest -R takes a regular expression: the name is matched literally.
    pattern=$(printf '%s' "$test_name" | sed 's|[][\.*^$+?(){}\|]|\\&|g')
    if ctest --preset linux -R "^$pattern\$"; then
      retried+=("$test_name")
    else
      failed_twice+=("$test_name")
    fi
  done
  if [[ ${#failed_twice[@]} -gt 0 ]]; then
    echo "test.sh: failed twice: ${failed_twice[*]}" >&2
    return 1
  fi
}

sanitizer_build() {
  cmake --preset linux-sanitize && cmake --build --preset linux-sanitize
}

# The sanitizer build, then its tests with the fuzz runs beside them, at the lowest CPU
# priority, into logs of their own. The build comes first and alone: it is the longest
# path of the whole run, and anything beside it only makes it longer. Its tests mostly wait
# for their threads and children, which leaves room for the fuzz runs.
background_work() {
  # No job control in here: the fuzz runs stay in this process group, stopped with it.
  set +m
  renice -n 19 -p "$BASHPID" >/dev/null
  local status=0
  timed "* linux-sanitize: build" sanitizer_build || return
  timed "* fuzz: build and short runs" bash tools/fuzz.sh >"$logs/fuzz.log" 2>&1 &
  local fuzz_pid=$!
  # In a subshell of its own, whose children the fuzz runs are not: its CPU time is its own.
  (timed "* linux-sanitize: tests" ctest --preset linux-sanitize) || status=$?
  wait "$fuzz_pid" || status=1
  echo "== fuzz runs (log: $logs/fuzz.log)"
  cat "$logs/fuzz.log"
  return $status
}

timed "setup" bash tools/setup.sh test

timed "windows: build" bash -c 'cmake --preset windows && cmake --build --preset windows'

timed "linux: build" bash -c 'cmake --preset linux && cmake --build --preset linux'

# Job control: the background work gets a process group of its own, to be stopped whole.
set -m
(trap - EXIT; background_work </dev/null >"$logs/background.log" 2>&1) &
background_pid=$!
set +m
echo "== in the background: the sanitizer build and its tests, and the fuzz runs (log: $logs/background.log)"

timed "linux: tests" ctest --preset linux -LE 'wine|kernel'

timed "linux: Wine and QEMU tests" emulated_suites

echo "== waiting for the sanitizer build and its tests, and the fuzz runs"
# Nothing left to give way to: back to the normal priority, where this is allowed (root), so
# that on a machine shared with other work the background is not left with its crumbs.
renice -n 0 -g "$background_pid" >/dev/null 2>&1 || true
background_status=0
wait "$background_pid" || background_status=$?
background_pid=""
cat "$logs/background.log"
[[ $background_status -eq 0 ]]
