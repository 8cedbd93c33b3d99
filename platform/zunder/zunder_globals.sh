#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# The rule command keeps its state in the run that main hands down: none of
# its object files defines a writable variable, function-local statics
# included, but the output buffer it lends the C library.  Constants, and
# what the compiler and the sanitizers add (names beginning "DW.ref.", "__"
# or "."), are not the command's own.
#   zunder_globals.sh <nm> <object files, separated by ';'>
set -euo pipefail
nm=$1
IFS=';' read -ra objects <<<"$2"
found=$("$nm" -C --defined-only --format=sysv "${objects[@]}" | awk -F'|' '
  { sub(/ +$/, "", $1); sub(/ +$/, "", $7) }
  $7 ~ /^\.(data|bss)/ && $7 !~ /^\.data\.rel\.ro/ && $1 !~ /^(DW\.ref\.|__|\.)/ &&
    $1 != "(anonymous namespace)::output_buffer" { print "  " $1 " (" $7 ")" }' | sort -u)
if [ -n "$found" ]; then
  echo "writable globals in the command:"
  echo "$found"
  exit 1
fi
echo "no writable globals in ${#objects[@]} object files but the output buffer"
