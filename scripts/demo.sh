#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Shows what the build does, in three parts:
#  1. sample rules through the built zunder: for each, the info block the
#     kernel would receive, the listing, and the options saved; the last
#     rule is a mistake, to show the one-line error;
#  2. as root, one rule of each clause through the running kernel
#     (zunder --kernel, in a network namespace of its own): the block the
#     kernel hands back, listed and saved;
#  3. rdconnect asking a private X server (Xvfb) for a connection, and the
#     request read back from the root window.
# Exits 1 if anything that should work does not.
set -uo pipefail
build=${1:-build}
zunder="$build/bin/zunder"
status=0

if [[ ! -x "$zunder" ]]; then
  echo "demo: no $zunder; build first (cmake --preset default && cmake --build --preset default)" >&2
  exit 1
fi

echo "== 1. Rules through zunder: block = info block in hex, list = listing, save = saved options"
# Each rule with what it means; the protocol names come from /etc/protocols.
rules=(
  "-6 -m ah --ahspi 500|IPv6 AH header with SPI 500"
  "-6 -m ah ! --ahspi 100:200 --ahlen 24 --ahres|AH with an SPI outside 100-200, length 24, reserved field 0"
  "-m policy --dir in --pol ipsec --proto esp|incoming packets under an IPsec policy using ESP"
  "-6 -m policy --dir out --strict --reqid 16 --proto esp --next --mode tunnel --tunnel-dst 2001:db8::/32|outgoing, exactly two policy elements: ESP with reqid 16, then a tunnel to 2001:db8::/32"
  "-j RATEEST --rateest-name est1 --rateest-interval 1s --rateest-ewmalog 4s|feed packets to rate estimator est1, sampled every second, averaged over 4s"
  "-6 -m ipv6header ! --header hop,dst --soft|IPv6 packets that carry neither hop-by-hop nor destination options"
  "-m connlabel ! --label interactive --set|connections without the label \"interactive\" (from the sample label file), setting it"
  "-n -m connlabel --label interactive|the same label listed by number"
)
for entry in "${rules[@]}"; do
  rule=${entry%%|*}
  echo "# ${entry#*|}"
  echo "\$ zunder $rule"
  # shellcheck disable=SC2086
  if ! "$zunder" $rule 2>&1 | sed 's/^/    /'; then
    echo "demo: this rule should have been accepted" >&2
    status=1
  fi
done
echo "# a mistake: an SPI range with a bad end is refused with one line and exit status 2"
echo "\$ zunder -6 -m ah --ahspi 1:x"
"$zunder" -6 -m ah --ahspi 1:x 2>&1 | sed 's/^/    /'
if [[ ${PIPESTATUS[0]} -ne 2 ]]; then
  echo "demo: the bad rule should have been refused with status 2" >&2
  status=1
fi

echo
echo "== 2. One rule of each clause through the running kernel: kernel = the block it hands back"
if [[ $(id -u) -ne 0 ]]; then
  echo "    (skipped: zunder --kernel needs root, for a network namespace of its own)"
else
  kernel_rules=(
    "-6 -m ah ! --ahspi 100:200 --ahlen 24 --ahres"
    "-m policy --dir in --pol ipsec --proto esp"
    "-j RATEEST --rateest-name est1 --rateest-interval 1s --rateest-ewmalog 4s"
    "-6 -m ipv6header ! --header hop,dst --soft"
    "-m connlabel --label interactive --set"
  )
  for rule in "${kernel_rules[@]}"; do
    echo "\$ zunder --kernel $rule"
    # shellcheck disable=SC2086
    output=$("$zunder" --kernel $rule 2>&1)
    rule_status=$?
    sed 's/^/    /' <<<"$output"
    if [[ $rule_status -ne 0 ]]; then
      # A machine that cannot judge rules is not a fault of the build.
      if [[ $output == *"--kernel needs"* || $output == *"the kernel has no"* ]]; then
        echo "    (this machine cannot put the rule through its kernel)"
      else
        echo "demo: the kernel should have taken this rule" >&2
        status=1
      fi
    fi
  done
fi

echo
echo "== 3. rdconnect: asks the X server's remote-desktop side to connect out to a viewer"
if ! command -v Xvfb >/dev/null || [[ ! -x "$build/bin/rdconnect" ]]; then
  echo "demo: needs Xvfb and $build/bin/rdconnect (scripts/deps.sh installs Xvfb)" >&2
  exit 1
fi
echo "\$ rdconnect -display :N 10.0.0.5:5500   (N: a private Xvfb started for the demo)"
numberfile=$(mktemp)
# -noreset: the property must outlive rdconnect, the only client so far.
Xvfb -displayfd 3 -nolisten tcp -noreset 3>"$numberfile" >/dev/null 2>&1 &
xvfb=$!
trap 'kill "$xvfb" 2>/dev/null; wait "$xvfb" 2>/dev/null; rm -f "$numberfile"' EXIT
for _ in $(seq 100); do [[ -s "$numberfile" ]] && break; sleep 0.1; done
number=$(tr -dc 0-9 <"$numberfile")
if [[ -z "$number" ]]; then
  echo "demo: Xvfb did not start" >&2
  exit 1
fi
if "$build/bin/rdconnect" -display ":$number" 10.0.0.5:5500; then
  echo "    rdconnect exited 0: it wrote the root-window property TARVIK_CONNECT"
else
  echo "demo: rdconnect failed" >&2
  status=1
fi
if command -v xprop >/dev/null; then
  echo "\$ xprop -display :N -root TARVIK_CONNECT   (reads the request back)"
  xprop -display ":$number" -root TARVIK_CONNECT | sed 's/^/    /'
  [[ ${PIPESTATUS[0]} -eq 0 ]] || status=1
fi
exit "$status"
