#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# The build's list of plug-in folders: a listed folder that is missing, or
# one that builds no plug-in, stops the configuration with a message naming
# it; listed folders are added in the order given.  Each case configures a
# small project (no compiler) that uses the real zunder_add_plugin_folders.
#   plugin_list_test.sh <cmake> <source tree>
set -euo pipefail
cmake=$1 source=$2
work=$(mktemp -d "${TMPDIR:-/tmp}/plugin-list.XXXXXX")
trap 'rm -rf "$work"' EXIT

failed=0
# case name | folders listed | configure must succeed | text the output must hold
while IFS='|' read -r name folders succeeds expected; do
  project=$work/$name
  mkdir -p "$project/plugins/second" "$project/plugins/first" "$project/plugins/builds-nothing"
  echo 'set_property(GLOBAL APPEND PROPERTY ZUNDER_PLUGINS first)' >"$project/plugins/first/CMakeLists.txt"
  echo 'set_property(GLOBAL APPEND PROPERTY ZUNDER_PLUGINS second)' >"$project/plugins/second/CMakeLists.txt"
  : >"$project/plugins/builds-nothing/CMakeLists.txt"
  cat >"$project/CMakeLists.txt" <<CMAKE
cmake_minimum_required(VERSION 3.25)
project(plugin_list NONE)
include($source/cmake/ZunderPlugin.cmake)
zunder_add_plugin_folders($folders)
get_property(plugins GLOBAL PROPERTY ZUNDER_PLUGINS)
message(STATUS "plug-ins: \${plugins}")
CMAKE
  status=0
  output=$("$cmake" -S "$project" -B "$project/build" 2>&1) || status=$?
  if { [[ $succeeds == yes ]] && (( status != 0 )); } || { [[ $succeeds == no ]] && (( status == 0 )); }; then
    echo "FAIL $name: configure exit status $status"; echo "$output"; failed=1
  elif [[ $output != *"$expected"* ]]; then
    echo "FAIL $name: output lacks \"$expected\""; echo "$output"; failed=1
  else
    echo "ok   $name"
  fi
done <<'CASES'
in-order|second first|yes|plug-ins: second;first
missing|first absent second|no|plug-in folder plugins/absent is listed but has no CMakeLists.txt
builds-nothing|first builds-nothing|no|plugins/builds-nothing/CMakeLists.txt builds no plug-in
CASES
exit $failed
