#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Builds the benchmarks (preset "bench", in build-bench/) and runs them:
# Google Benchmark's console report of each run, then bench/ratios.py's table
# of each measurement beside its baseline.  The JSON of the three runs (the
# loads, which need a process of their own; the rest; parse, print and save
# again with the protocol look-ups answered from the tests' fixed table) is
# kept in build-bench/bench/.  Extra arguments go to every run (for example
# --benchmark_repetitions=3).
set -euo pipefail
cd "$(dirname "$0")/.."

cmake --preset bench >/dev/null
cmake --build --preset bench --target zunder_bench >/dev/null

out=build-bench/bench
echo "machine: $(nproc) cores, $(lscpu | sed -n 's/^Model name: *//p'), load $(cut -d' ' -f1-3 /proc/loadavg)"
echo "date: $(date -u +%Y-%m-%dT%H:%MZ)"
# Short runs, repeated and shuffled so that a result and its baseline meet
# the same neighbours on a shared machine; the table takes the medians.
run() {
  build-bench/bin/zunder_bench --benchmark_min_time=0.02 --benchmark_repetitions=10 \
    --benchmark_enable_random_interleaving=true --benchmark_report_aggregates_only=true \
    --benchmark_out_format=json "$@"
}
run --benchmark_filter='^load/' --benchmark_out="$out/load.json" "$@"
run --benchmark_filter='-^load/' --benchmark_out="$out/main.json" "$@"
LD_PRELOAD=$PWD/$out/bench_fixed_protocols.so \
  run --benchmark_filter='^(parse|print|save)/' --benchmark_out="$out/fixed-db.json" "$@"
python3 bench/ratios.py "$out/load.json" "$out/main.json" "$out/fixed-db.json=fixed db"
