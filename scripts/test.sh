#!/usr/bin/env bash
# Builds and runs every suite: native, sanitizers, armhf under emulation,
# then every fuzz target for a bounded time.  A failure in any fails the run.
set -euo pipefail
cd "$(dirname "$0")/.."

suites=(default asan)
[[ -f cmake/armhf-toolchain.cmake ]] && suites+=(armhf)
for suite in "${suites[@]}"; do
  echo "=== $suite suite"
  cmake --preset "$suite" >/dev/null
  cmake --build --preset "$suite"
  ctest --preset "$suite"
done

scripts/fuzz.sh "${ZUNDER_FUZZ_SECONDS:-30}"
