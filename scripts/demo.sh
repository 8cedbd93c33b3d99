#!/usr/bin/env bash
# Runs a handful of sample rules through the built zunder and shows the
# lines it writes for each; then asks a private X server for a connection
# with rdconnect and reads the request back.
set -uo pipefail
build=${1:-build}
zunder="$build/bin/zunder"

rules=(
  "-6 -m ah --ahspi 500"
  "-6 -m ah ! --ahspi 100:200 --ahlen 24 --ahres"
  "-m policy --dir in --pol ipsec --proto esp"
  "-6 -m policy --dir out --strict --reqid 16 --proto esp --next --mode tunnel --tunnel-dst 2001:db8::/32"
  "-j RATEEST --rateest-name est1 --rateest-interval 1s --rateest-ewmalog 4s"
  "-6 -m ipv6header ! --header hop,dst --soft"
  "-m connlabel ! --label interactive --set"
  "-n -m connlabel --label interactive"
  "-6 -m ah --ahspi 1:x"
)
for rule in "${rules[@]}"; do
  echo "\$ zunder $rule"
  # shellcheck disable=SC2086
  "$zunder" $rule 2>&1 | sed 's/^/    /'
done

if command -v Xvfb >/dev/null && [[ -x "$build/bin/rdconnect" ]]; then
  echo "\$ rdconnect -display :N 10.0.0.5:5500   (against a private Xvfb)"
  numberfile=$(mktemp)
  # -noreset: the property must outlive rdconnect, the only client so far.
  Xvfb -displayfd 3 -nolisten tcp -noreset 3>"$numberfile" >/dev/null 2>&1 &
  xvfb=$!
  for _ in $(seq 100); do [[ -s "$numberfile" ]] && break; sleep 0.1; done
  number=$(tr -dc 0-9 <"$numberfile"); rm -f "$numberfile"
  if [[ -n "$number" ]]; then
    "$build/bin/rdconnect" -display ":$number" 10.0.0.5:5500 && echo "    property written"
    command -v xprop >/dev/null && xprop -display ":$number" -root TARVIK_CONNECT | sed 's/^/    /'
  fi
  kill "$xvfb" 2>/dev/null
  wait "$xvfb" 2>/dev/null
fi
exit 0
