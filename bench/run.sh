#!/usr/bin/env bash
# Builds the benchmarks (preset "bench", in build-bench/) and prints the
# report: each result in ns per operation beside its baseline and the ratio.
# The full results are written as JSON to build-bench/bench/results.json,
# the progress to build-bench/bench/progress.log.  Extra arguments go to the
# benchmark program (e.g. --benchmark_filter=parse/).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

cmake --preset bench >/dev/null
cmake --build --preset bench --target zunder_bench >/dev/null

out=build-bench/bench
echo "machine: $(nproc) cores, $(lscpu | sed -n 's/^Model name: *//p'), load $(cut -d' ' -f1-3 /proc/loadavg)"
echo "date: $(date -u +%Y-%m-%dT%H:%MZ)"
# The fastest of 5 runs (3 for the batches); CPU time for what runs in the process, wall clock for
# the batches (a child process).
build-bench/bin/zunder_bench \
  --benchmark_min_time=0.05 \
  --benchmark_repetitions=5 \
  --benchmark_out="$out/results.json" \
  --benchmark_out_format=json \
  "$@" 2>"$out/progress.log" | tee "$out/report.txt"
