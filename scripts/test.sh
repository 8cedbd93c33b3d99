#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Checks the house style, builds and runs every suite: native, sanitizers,
# armhf under emulation, then every fuzz target for a bounded time.  A
# failure in any fails the run.
set -euo pipefail
cd "$(dirname "$0")/.."

echo "=== house style (clang-format)"
git ls-files -z -- '*.cpp' '*.h' '*.c' | xargs -0 clang-format --dry-run -Werror

log=$(mktemp)
trap 'rm -f "$log"' EXIT
passed=0
suites=(default asan armhf)
for suite in "${suites[@]}"; do
  echo "=== $suite suite"
  cmake --preset "$suite" >/dev/null
  cmake --build --preset "$suite"
  ctest --preset "$suite" | tee "$log"
  passed=$(( passed + $(grep -oE 'tests failed out of [0-9]+' "$log" | grep -oE '[0-9]+$') ))
done

scripts/fuzz.sh "${ZUNDER_FUZZ_SECONDS:-30}"
echo "tests: $passed passed, 0 failed"
