#!/usr/bin/env bash
# Runs every fuzz target of build/fuzz for SECONDS each (default 60), starting from the seed
# corpus in fuzz/corpus/<target>; new inputs collect in build/fuzz/corpus/<target>, crashes in
# build/fuzz/crashes/. Prints each target's executions and coverage. Fails on the first crash.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-60}"
build=build/fuzz
mkdir -p "$build/crashes"
printf '%-24s %12s %10s %10s\n' target executions coverage features
for seeds in fuzz/corpus/*/; do
  target=$(basename "$seeds")
  work="$build/corpus/$target"
  log="$build/$target.log"
  mkdir -p "$work"
  if ! "$build/fuzz/$target" -max_total_time="$seconds" -print_final_stats=1 \
      -artifact_prefix="$build/crashes/$target-" "$work" "$seeds" >"$log" 2>&1; then
    tail -n 40 "$log"
    echo "fuzz: $target failed; the input is in $build/crashes/" >&2
    exit 1
  fi
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  cov=$(grep -o 'cov: [0-9]*' "$log" | tail -n 1 | cut -d' ' -f2)
  ft=$(grep -o 'ft: [0-9]*' "$log" | tail -n 1 | cut -d' ' -f2)
  printf '%-24s %12s %10s %10s\n' "$target" "$runs" "${cov:-?}" "${ft:-?}"
done
