#!/usr/bin/env bash
# Builds the fuzz targets (fuzz/, clang with libFuzzer, ASan and UBSan, in build/fuzz) and
# runs each one over its seed corpus fuzz/corpus/<target>/.
#
#   tools/fuzz.sh           a short run of each target: fixed seed and a fixed number of
#                           inputs (some seconds each), for the test suite
#   tools/fuzz.sh --long    ten minutes per target (-max_total_time=600), random seed, for a
#                           search worth leaving alone for a while
#   tools/fuzz.sh TARGET..  only the targets named (with or without --long)
#
# Exits non-zero when a target crashes or fails to build. A crashing input is kept as
# build/fuzz/artifacts/<target>/crash-<hash>; replay it with
#   build/fuzz/<target> build/fuzz/artifacts/<target>/crash-<hash>
# Inputs found along the way go to a scratch folder, never into the committed corpus.
# Needs clang++ (14) and its runtime libraries (Debian: clang-14, libclang-rt-14-dev).
set -euo pipefail
cd "$(dirname "$0")/.."

long=false
targets=()
for arg in "$@"; do
  case "$arg" in
    --long) long=true ;;
    -h|--help) sed -n '2,15p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    -*) echo "fuzz.sh: unknown option $arg (see --help)" >&2; exit 2 ;;
    *) targets+=("$arg") ;;
  esac
done

# Inputs per target in the short run, sized for well under 20 s each on two cores.
declare -A short_runs=(
  [line_buffer_fuzz]=10000
  [bluetooth_port_finder_fuzz]=100000
  [settings_file_fuzz]=60000
  [utf8_text_fuzz]=200000
  [text_escapes_fuzz]=40000
  [line_shaping_fuzz]=20000
  [gs1_element_string_fuzz]=100000
  [record_template_fuzz]=60000
)
default_short_runs=50000
# Longest input tried: a few reads of up to 1024 bytes each.
max_len=8192

build_dir=build/fuzz
cxx=${LINTREL_FUZZ_CXX:-clang++}
cmake -S fuzz -B "$build_dir" -DCMAKE_CXX_COMPILER="$cxx" >/dev/null
cmake --build "$build_dir" -j2

if [[ ${#targets[@]} -eq 0 ]]; then
  for corpus in fuzz/corpus/*/; do
    targets+=("$(basename "$corpus")")
  done
fi

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

failed=()
for target in "${targets[@]}"; do
  binary="$build_dir/$target"
  seeds="fuzz/corpus/$target"
  if [[ ! -x "$binary" || ! -d "$seeds" ]]; then
    echo "fuzz.sh: $target: no such target, or no seed corpus in $seeds" >&2
    failed+=("$target")
    continue
  fi
  artifacts="$build_dir/artifacts/$target"
  mkdir -p "$artifacts" "$scratch/$target"
  if $long; then
    budget=(-max_total_time=600)
  else
    budget=(-seed=1 "-runs=${short_runs[$target]:-$default_short_runs}")
  fi
  echo "== $target ${budget[*]}"
  start=$SECONDS
  # The scratch folder comes first: libFuzzer writes new inputs into the first folder.
  # -timeout: an input that runs over 10 s is a hang, and fails the target.
  if "$binary" "${budget[@]}" -max_len=$max_len -timeout=10 -print_final_stats=0 \
       -artifact_prefix="$artifacts/" "$scratch/$target" "$seeds" >"$scratch/$target.log" 2>&1; then
    echo "   ok, $((SECONDS - start)) s: $(grep -E '^Done' "$scratch/$target.log" | tail -n1)"
  else
    tail -n 40 "$scratch/$target.log" >&2
    echo "fuzz.sh: $target FAILED; the input that failed is in $artifacts/" >&2
    failed+=("$target")
  fi
done

if [[ ${#failed[@]} -gt 0 ]]; then
  echo "fuzz.sh: failed: ${failed[*]}" >&2
  exit 1
fi
echo "fuzz.sh: all ${#targets[@]} targets passed"
