#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Installs the armhf Debian packages for real and checks the installed
# zunder.  Meant for a fresh Debian 12 root (as root) after scripts/test.sh
# has built build-armhf: it adds the armhf architecture where the machine is
# another, builds the packages with cpack, installs them all with
# `apt-get install ./...deb` (the plug-ins, rdconnect, the development files
# and the stand-ins), runs the installed /usr/bin/zunder under qemu-arm on
# one rule of each clause, and compares its lines with those of the
# build-tree zunder; then checks that no installed plug-in needs a symbol
# version of the host library, and builds the example out-of-tree plug-in
# against the installed zunder-dev and loads it.  Ends with one summary
# line; exit 0 when all agree.
#
# It changes the machine it runs on: use it in a throwaway root.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-armhf}

fail() {
  echo "install-check: FAIL: $*" >&2
  exit 1
}
[[ $(id -u) -eq 0 ]] || fail "run as root (it installs packages)"
[[ -f "$build/CPackConfig.cmake" && -x "$build/bin/zunder" ]] ||
  fail "no built $build (run scripts/test.sh first)"

if [[ "$(dpkg --print-architecture)" != armhf ]] &&
   ! dpkg --print-foreign-architectures | grep -qx armhf; then
  dpkg --add-architecture armhf
  apt-get update -qq
fi

# apt reads local packages as its own unprivileged user: a readable folder.
out=$(mktemp -d /tmp/zunder-debs.XXXXXX)
trap 'rm -rf "$out"' EXIT
chmod 755 "$out"
for config in CPackConfig.cmake CPackStandinsConfig.cmake; do
  cpack --config "$build/$config" -B "$out" >"$out/cpack.log" 2>&1 ||
    { cat "$out/cpack.log" >&2; fail "cpack --config $config"; }
done
debs=("$out"/*.deb)
[[ ${#debs[@]} -eq 6 ]] || fail "cpack made ${#debs[@]} packages, not 6: ${debs[*]##*/}"
chmod 644 "${debs[@]}"
# --reinstall: a second run in the same root installs (and triggers) again.
DEBIAN_FRONTEND=noninteractive apt-get install --reinstall -y -qq "${debs[@]}" >"$out/apt.log" 2>&1 ||
  { cat "$out/apt.log" >&2; fail "apt-get install"; }
for package in zunder-plugins rdconnect zunder-dev libzunder10 libpavane-conntrack1 zunder; do
  dpkg-query -W -f='${Status}' "$package:armhf" 2>/dev/null | grep -q "install ok installed" ||
    fail "$package:armhf is not installed"
done
# The libraries refresh the loader cache through libc-bin's trigger.  (Only
# an armhf machine's cache lists armhf libraries.)
grep -q "Processing triggers for libc-bin" "$out/apt.log" || fail "the ldconfig trigger did not run"
if [[ "$(dpkg --print-architecture)" == armhf ]]; then
  ldconfig -p | grep -q 'libzunder\.so\.10 .*=> /usr/lib/arm-linux-gnueabihf/libzunder\.so\.10$' ||
    fail "libzunder.so.10 is not in the loader cache"
fi

rules=(
  "-m policy --dir in --pol ipsec --proto esp"
  "-j RATEEST --rateest-name est1 --rateest-interval 1s --rateest-ewmalog 4s"
  "-6 -m ipv6header ! --header hop,dst --soft"
  "-m connlabel ! --label interactive --set"
  "-6 -m ah ! --ahspi 100:200 --ahlen 24 --ahres"
)
# Nothing in the environment may point either zunder elsewhere.
clean=(env -u ZUNDER_PLUGIN_DIR -u PAVANE_CONNLABEL_CONF -u LD_LIBRARY_PATH)
for rule in "${rules[@]}"; do
  # shellcheck disable=SC2086
  expected=$("${clean[@]}" qemu-arm "$build/bin/zunder" $rule 2>&1) ||
    fail "build-tree zunder $rule: $expected"
  # shellcheck disable=SC2086
  actual=$("${clean[@]}" qemu-arm /usr/bin/zunder $rule 2>&1) ||
    fail "installed zunder $rule: $actual"
  [[ "$actual" == "$expected" ]] ||
    fail "zunder $rule: the build tree writes"$'\n'"$expected"$'\n'"the installed one"$'\n'"$actual"
done

# The installed plug-ins ask the host library for no symbol version, and the
# example out-of-tree plug-in builds for armhf against the installed
# zunder-dev and loads, before the installed plug-ins, into the installed
# zunder.
plugindir=/usr/lib/arm-linux-gnueabihf/zunder
for plugin in "$plugindir"/*.so; do
  ! readelf -VW "$plugin" | grep -q 'File: libzunder\.so\.10' ||
    fail "$plugin needs a symbol version of libzunder.so.10"
done
{ cmake -S examples/hello-clause -B "$out/hello" -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/armhf-toolchain.cmake" \
    -DCMAKE_INSTALL_PREFIX=/usr && cmake --build "$out/hello"; } >"$out/hello.log" 2>&1 ||
  { cat "$out/hello.log" >&2; fail "the example plug-in does not build against the installed zunder-dev"; }
! readelf -VW "$out/hello/libzu_hello.so" | grep -q 'File: libzunder\.so\.10' ||
  fail "the example plug-in needs a symbol version of libzunder.so.10"
listed=("${clean[@]}" ZUNDER_PLUGIN_DIR="$out/hello:$plugindir" qemu-arm /usr/bin/zunder)
actual=$("${listed[@]}" -m hello --greeting 7 2>&1) || fail "installed zunder -m hello: $actual"
[[ "$actual" == $'block 0700000000000000\nlist hello greeting:7\nsave --greeting 7' ]] ||
  fail "installed zunder -m hello: $actual"
actual=$("${listed[@]}" -6 -m ah --ahspi 500 2>&1) || fail "installed zunder -6 -m ah: $actual"
[[ "$actual" == *$'\nlist ah spi:500\n'* ]] || fail "installed zunder -6 -m ah: $actual"

echo "install-check: ${#debs[@]} packages installed with apt; the installed zunder agrees with" \
  "the build tree on ${#rules[@]} clauses and loads the example plug-in built against them"
