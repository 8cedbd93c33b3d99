#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Checks the house style, builds and runs every suite: native (every test,
# also those the inner loop leaves out), sanitizers, armhf under emulation
# and on Debian's armhf kernel; builds the tree with clang without running
# it; then runs every fuzz target for a bounded time.  A failure in any
# fails the run.
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
  # The native suite runs every test: the "all" preset ("default" is the
  # inner loop).
  if [[ $suite == default ]]; then
    ctest --preset all | tee "$log"
  else
    ctest --preset "$suite" | tee "$log"
  fi
  passed=$(( passed + $(grep -oE 'tests failed out of [0-9]+' "$log" | grep -oE '[0-9]+$') ))
done

# The armhf build on Debian 12's armhf kernel, the judge of the armhf tests
# that qemu-arm skips; where the machine cannot boot it, a skip line says why.
echo "=== armhf kernel"
if [[ $(id -u) -ne 0 ]]; then
  echo "armhf kernel check skipped: not root (the native reference runs zunder --kernel)"
else
  status=0
  scripts/armhf-kernel.sh build-armhf build || status=$?
  [[ $status -eq 0 || $status -eq 77 ]] || exit "$status"
fi

# Built with clang as well, so that the tree keeps building with it; its
# tests are the native suite's, not run twice.
echo "=== clang build"
cmake --preset clang >/dev/null
cmake --build --preset clang

scripts/fuzz.sh "${ZUNDER_FUZZ_SECONDS:-30}"
echo "tests: $passed passed, 0 failed"
