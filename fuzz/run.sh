#!/usr/bin/env bash
# Builds the fuzz targets and runs each for a bounded time from a fresh seed
# corpus. Fails on any crash, leak, sanitizer report or failed check.
# Usage: fuzz/run.sh [seconds per target, default 120]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-120}
cmake --workflow --preset fuzz >/dev/null
build=build/fuzz/fuzz
rm -rf "$build/corpus"
mkdir -p "$build/corpus/bmp" "$build/corpus/tiff" "$build/artifacts"
"$build/make_seeds" "$build/corpus/bmp" "$build/corpus/tiff"
for direction in bmp2tiff tiff2bmp; do
  corpus=$build/corpus/${direction%%2*}
  echo "== fuzz_$direction for ${seconds}s"
  log=$build/$direction.log
  status=0
  "$build/fuzz_$direction" -max_total_time="$seconds" -max_len=4096 -timeout=10 -rss_limit_mb=2048 \
    -print_final_stats=1 -artifact_prefix="$build/artifacts/$direction-" "$corpus" >"$log" 2>&1 || status=$?
  grep -E '^(#[0-9]+[[:space:]]+(INITED|DONE)|stat::number_of_executed_units|stat::peak_rss_mb|==[0-9]+==|check failed|SUMMARY)' \
    "$log" || true
  if ((status != 0)); then
    tail -n 40 "$log" >&2
    echo "fuzz_$direction failed (exit $status); the input is in $build/artifacts/" >&2
    exit 1
  fi
done
