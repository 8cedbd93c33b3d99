#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Builds the benchmarks (preset "bench", in build-bench/) and prints the
# report: each result in ns per operation beside its baseline and the ratio.
# Every run is also written as JSON to build-bench/bench/results.json, the
# progress to build-bench/bench/progress.log.  Extra arguments go to the
# benchmark program (e.g. --benchmark_filter=parse/).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

cmake --preset bench >/dev/null
cmake --build --preset bench --target zunder_bench >/dev/null

out=build-bench/bench
echo "machine: $(nproc) cores, $(lscpu | sed -n 's/^Model name: *//p'), load $(cut -d' ' -f1-3 /proc/loadavg)"
echo "date: $(date -u +%Y-%m-%dT%H:%MZ)"
# Short runs, repeated and shuffled so that a result and its baseline meet
# the same neighbours on a shared machine; the report takes the fastest
# repetition (the batches: 3, wall clock).
build-bench/bin/zunder_bench \
  --benchmark_min_time=0.02 \
  --benchmark_repetitions=10 \
  --benchmark_enable_random_interleaving=true \
  --json="$out/results.json" \
  "$@" 2>"$out/progress.log" | tee "$out/report.txt"
