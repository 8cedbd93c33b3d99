#!/usr/bin/env bash
# Builds and runs every suite: native, sanitizers, and armhf under emulation.
# A failure in any suite fails the whole run.
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
