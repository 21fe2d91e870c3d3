#!/usr/bin/env bash
# Builds the libFuzzer targets under AddressSanitizer and UndefinedBehaviorSanitizer, writes their seed
# corpora and runs each target for a fixed time.
#
# Usage: scripts/fuzz.sh BUILD_DIR SECONDS
# Configures BUILD_DIR with clang++-14, builds only the fuzz targets and the libraries they need,
# regenerates BUILD_DIR/fuzz-seeds, and runs every target for SECONDS over its growing corpus in
# BUILD_DIR/fuzz-corpus/<target>. Prints the number of executions of each. Fails when a target
# crashes, leaks, times out on an input or breaks one of its checks; the input that did it is kept in
# BUILD_DIR/fuzz-artifacts and the target's log in BUILD_DIR/fuzz-logs.
set -euo pipefail

if [[ $# -ne 2 || ! "$2" =~ ^[0-9]+$ ]]; then
  echo "usage: scripts/fuzz.sh BUILD_DIR SECONDS" >&2
  exit 2
fi
cd "$(dirname "$0")/.."
build=$1
seconds=$2
compiler=${KAVRIMO_FUZZ_CXX:-clang++-14}
targets=(parse_integer parse_real grid_header ascii_grid image_attach conversion geotiff_reader)

cmake -S . -B "$build" -G Ninja -DCMAKE_CXX_COMPILER="$compiler" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DKAVRIMO_SANITIZE=ON -DKAVRIMO_FUZZ=ON -DKAVRIMO_WINDOW=OFF -DKAVRIMO_BENCH=OFF >/dev/null
cmake --build "$build" -j "$(nproc)" --target fuzz_targets

rm -rf "$build/fuzz-seeds" "$build/fuzz-artifacts" "$build/fuzz-logs"
mkdir -p "$build/fuzz-artifacts" "$build/fuzz-logs"
"$build/bin/make_seeds" "$build/fuzz-seeds"

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=0}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

failed=()
for target in "${targets[@]}"; do
  corpus=$build/fuzz-corpus/$target
  log=$build/fuzz-logs/$target.log
  mkdir -p "$corpus"
  max_len=4096
  [[ $target == conversion ]] && max_len=20000
  [[ $target == geotiff_reader ]] && max_len=8192
  status=0
  "$build/bin/fuzz_$target" "$corpus" "$build/fuzz-seeds/$target" \
    -dict="$build/fuzz-seeds/$target.dict" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
    -max_len="$max_len" -print_final_stats=1 -artifact_prefix="$build/fuzz-artifacts/$target-" \
    >"$log" 2>&1 || status=$?
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  if [[ $status -ne 0 ]]; then
    echo "fuzz_$target: FAILED (exit $status) after ${runs:-?} executions; log $log"
    grep -E "FINDING|ERROR|SUMMARY|runtime error|Test unit written" "$log" | head -n 20 || true
    failed+=("$target")
  else
    echo "fuzz_$target: ${runs:-?} executions in ${seconds} s, no findings"
  fi
done

if ((${#failed[@]})); then
  echo "fuzz: ${#failed[@]} of ${#targets[@]} targets failed: ${failed[*]}"
  exit 1
fi
echo "fuzz: all ${#targets[@]} targets ran without findings"
