#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Builds the fuzz preset and runs every fuzz target for a bounded time
# (default 30 seconds each, two at a time), each from a copy of its seed
# corpus in fuzz/corpus/ so that the repository stays clean.  A crash, a
# sanitizer report or a guard hit fails the run; the reproducer is kept in
# build-fuzz/findings/ and its bytes are printed here.
#
#   scripts/fuzz.sh [seconds]
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-30}
if ! [[ $seconds =~ ^[0-9]+$ ]] || (( seconds == 0 )); then
  echo "usage: $0 [seconds]" >&2
  exit 2
fi

targets=(fuzz_clause_options fuzz_block_print fuzz_host_values fuzz_label_file)

echo "=== fuzz: build"
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz --target fuzz_all

work=$(mktemp -d "${TMPDIR:-/tmp}/zunder-fuzz.XXXXXX")
trap 'rm -rf "$work"' EXIT
findings=build-fuzz/findings
mkdir -p "$findings"

export ASAN_OPTIONS="abort_on_error=1:detect_leaks=1:${ASAN_OPTIONS:-}"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1:${UBSAN_OPTIONS:-}"

# Runs one target in the background; its exit status lands in $work/<target>/status.
start() {
  local target=$1 dir=$work/$1
  mkdir -p "$dir/corpus" "$dir/artifacts"
  cp fuzz/corpus/"$target"/* "$dir/corpus/"
  (
    status=0
    build-fuzz/bin/"$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
      -print_final_stats=1 -artifact_prefix="$dir/artifacts/" "$dir/corpus" \
      >"$dir/log" 2>&1 || status=$?
    echo "$status" >"$dir/status"
  ) &
}

# Prints the outcome of one finished target; false when it found something.
report() {
  local target=$1 dir=$work/$1 status
  status=$(cat "$dir/status")
  local runs
  runs=$(grep -a -o 'stat::number_of_executed_units: *[0-9]*' "$dir/log" | grep -o '[0-9]*$' || true)
  if [[ $status == 0 ]] && ! grep -aqE 'ERROR: (Address|Undefined|Leak)Sanitizer|runtime error:|==fuzz==' "$dir/log"; then
    echo "=== fuzz: $target: clean, ${runs:-?} inputs in ${seconds}s"
    return 0
  fi
  echo "=== fuzz: $target: FAILED (exit status $status)"
  grep -av -E '^#[0-9]+ +(NEW|REDUCE|pulse|INITED)|NEW_FUNC' "$dir/log" | tail -n 80
  local artifact found=0
  for artifact in "$dir"/artifacts/*; do
    [[ -e $artifact ]] || continue
    found=1
    local kept=$findings/$target-$(basename "$artifact")
    cp "$artifact" "$kept"
    echo "--- reproducer: $kept ($(stat -c %s "$kept") bytes)"
    echo "--- run it again: build-fuzz/bin/$target $kept"
    if command -v xxd >/dev/null; then
      head -c 4096 "$kept" | xxd
    else
      head -c 4096 "$kept" | od -A x -t x1z -v
    fi
  done
  (( found )) || echo "--- no reproducer was written (see the log above)"
  return 1
}

failed=0
for (( i = 0; i < ${#targets[@]}; i += 2 )); do
  batch=("${targets[@]:i:2}")
  echo "=== fuzz: running ${batch[*]} for ${seconds}s"
  for target in "${batch[@]}"; do start "$target"; done
  wait
  for target in "${batch[@]}"; do report "$target" || failed=1; done
done

if (( failed )); then
  echo "=== fuzz: FAILED"
  exit 1
fi
echo "=== fuzz: all targets clean"
