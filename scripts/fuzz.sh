#!/usr/bin/env bash
# Runs every fuzz target of build/fuzz for N seconds each (default 60),
# starting from the seed corpus in tests/fuzz/corpus/. New inputs go to a
# working corpus under build/fuzz, crash inputs to build/fuzz/artifacts/.
# Exits non-zero when a target crashes, hangs or cannot be run.
# Usage: scripts/fuzz.sh [SECONDS]     FUZZ_BUILD=dir overrides build/fuzz.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-60}
build=${FUZZ_BUILD:-$root/build/fuzz}
seeds=$root/tests/fuzz/corpus

declare -A corpus=([fuzz_extract_bitstream]=extract [fuzz_measure_duration]=duration)
status=0
for target in fuzz_extract_bitstream fuzz_measure_duration; do
  exe=$build/tests/fuzz/$target
  if [ ! -x "$exe" ]; then
    echo "fuzz.sh: $exe not built (scripts/build.sh fuzz)" >&2
    status=1; continue
  fi
  work=$build/fuzz-corpus/${corpus[$target]}
  artifacts=$build/artifacts/$target/
  mkdir -p "$work" "$artifacts"
  echo "== $target for ${seconds}s"
  # Seeds are read from the tree, never written to.
  if "$exe" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=1024 -max_len=65536 \
        -print_final_stats=1 -artifact_prefix="$artifacts" "$work" "$seeds/${corpus[$target]}" \
        >"$build/$target.log" 2>&1; then
    grep -E '^(#[0-9]+.*DONE|stat::number_of_executed_units)' "$build/$target.log" | tail -2
  else
    echo "fuzz.sh: $target FAILED, see $build/$target.log and $artifacts" >&2
    tail -30 "$build/$target.log" >&2
    status=1
  fi
done
exit $status
