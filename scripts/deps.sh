#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Installs what this project needs on Debian 12 and is missing.
#   scripts/deps.sh          build and demo: compiler, CMake, libX11, googletest, Xvfb, xprop,
#                            the protocol database (netbase) that the plug-ins read, and the
#                            kernel's headers (linux-libc-dev) for zunder --kernel
#   scripts/deps.sh --test   also the armhf cross tools, kernel headers and emulator, clang for
#                            fuzzing and clang-format for the house style,
#                            the package and man-page tools (dpkg-dev, lintian, groff-base,
#                            hardening-check from devscripts), the locale sources (locales)
#                            for the test that makes a locale with a decimal comma,
#                            and for scripts/armhf-kernel.sh the system emulator, cpio and
#                            modinfo (qemu-system-arm, cpio, kmod)
#   scripts/deps.sh --bench  also Google Benchmark, for bench/run.sh
set -euo pipefail

packages=(cmake make g++ pkg-config libx11-dev googletest xvfb x11-utils netbase linux-libc-dev)
case "${1:-}" in
  --test) packages+=(crossbuild-essential-armhf linux-libc-dev-armhf-cross qemu-user
                     libx11-dev:armhf libstdc++6:armhf
                     clang clang-format libclang-rt-14-dev dpkg-dev file lintian groff-base
                     devscripts locales qemu-system-arm cpio kmod) ;;
  --bench) packages+=(libbenchmark-dev) ;;
esac

as_root() {
  if [[ $(id -u) -eq 0 ]]; then "$@"; else sudo "$@"; fi
}

if [[ " ${packages[*]} " == *":armhf "* ]] && ! dpkg --print-foreign-architectures | grep -qx armhf; then
  as_root dpkg --add-architecture armhf
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [[ ${#missing[@]} -gt 0 ]]; then
  echo "installing: ${missing[*]}"
  # A mirror in the middle of a sync serves index files that do not match
  # their release file for a while: try again, then go on with the indexes
  # that did arrive; the install below fails plainly if they are not enough.
  for attempt in 1 2 3; do
    as_root apt-get update -qq && break
    if [[ $attempt -eq 3 ]]; then
      echo "apt-get update failed three times; installing from the indexes it has"
    else
      echo "apt-get update failed; trying again in 30 s"
      sleep 30
    fi
  done
  as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
