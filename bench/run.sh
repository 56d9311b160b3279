#!/usr/bin/env bash
# Builds the benchmarks in Release and runs them: conversion speed against a
# plain copy and each BMP form against 24 bits (medians of 5 repetitions),
# then the host's peak memory, the TIFF forms against libtiff, and the host
# against the peers installed.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --workflow --preset bench >/dev/null
build/bench/bench/kestovatiff_bench --benchmark_repetitions=5 --benchmark_report_aggregates_only=true \
  --benchmark_counters_tabular=true "$@" 2>&1 | grep -E '^(Benchmark|-|.*_median)'
bench/peak_memory.sh build/bench/tools/kestovatiff
bench/tiff_forms.sh build/bench/tools/kestovatiff build/bench/bench/libtiff_decode
bench/orientation.sh build/bench/tools/kestovatiff
bench/peers.sh build/bench/tools/kestovatiff build/bench/bench/data
