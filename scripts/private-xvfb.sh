#!/bin/sh
# SPDX-License-Identifier: GPL-2.0-or-later
# Starts a private X server (Xvfb) on a display number it picks itself and
# writes ":N PID" (the display and the server's process) on one line once it
# answers.  With OWNER, a process id, the server is stopped once that process
# is gone, even if the owner is killed outright; the caller may also stop it
# with `kill PID`.  -noreset keeps a root-window property after its last
# client leaves.  Used by the demo and by rdconnect's tests.
# Usage: scripts/private-xvfb.sh [OWNER]
set -u
owner=${1:-}
numberfile=$(mktemp) || exit 1
Xvfb -displayfd 3 -nolisten tcp -noreset -screen 0 320x240x24 3>"$numberfile" </dev/null >/dev/null 2>&1 &
xvfb=$!
for _ in $(seq 200); do
  grep -q . "$numberfile" && break
  kill -0 "$xvfb" 2>/dev/null || break
  sleep 0.1
done
number=$(tr -dc 0-9 <"$numberfile")
rm -f "$numberfile"
if [ -z "$number" ]; then
  kill "$xvfb" 2>/dev/null
  echo "private-xvfb: Xvfb did not start" >&2
  exit 1
fi
if [ -n "$owner" ]; then
  (
    while kill -0 "$owner" 2>/dev/null && kill -0 "$xvfb" 2>/dev/null; do sleep 1; done
    kill "$xvfb" 2>/dev/null
  ) </dev/null >/dev/null 2>&1 &
fi
echo ":$number $xvfb"
