#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# zunder_add_plugin_folders adds the listed folders in order, and a listed
# folder that is missing or builds no plug-in stops the configuration with a
# message naming it.  Each case configures a small project with no compiler.
#   plugin_list_test.sh <cmake> <source tree>
set -euo pipefail
cmake=$1 source=$2
work=$(mktemp -d "${TMPDIR:-/tmp}/plugin-list.XXXXXX")
trap 'rm -rf "$work"' EXIT
failed=0

# check NAME FOLDERS SUCCEEDS(yes|no) TEXT-THE-OUTPUT-HOLDS
check() {
  local project=$work/$1 status=0 output
  mkdir -p "$project"/plugins/{first,second,builds-nothing}
  for p in first second; do
    echo "set_property(GLOBAL APPEND PROPERTY ZUNDER_PLUGINS $p)" >"$project/plugins/$p/CMakeLists.txt"
  done
  : >"$project/plugins/builds-nothing/CMakeLists.txt"
  cat >"$project/CMakeLists.txt" <<CMAKE
cmake_minimum_required(VERSION 3.25)
project(plugin_list NONE)
include($source/cmake/ZunderPlugin.cmake)
zunder_add_plugin_folders($2)
get_property(plugins GLOBAL PROPERTY ZUNDER_PLUGINS)
message(STATUS "plug-ins: \${plugins}")
CMAKE
  output=$("$cmake" -S "$project" -B "$project/build" 2>&1) || status=$?
  if [[ $3 == yes && $status != 0 || $3 == no && $status == 0 ]]; then
    echo "FAIL $1: configure exit status $status"; echo "$output"; failed=1
  elif [[ $output != *"$4"* ]]; then
    echo "FAIL $1: output lacks \"$4\""; echo "$output"; failed=1
  else
    echo "ok   $1"
  fi
}

check in-order 'second first' yes 'plug-ins: second;first'
check missing 'first absent second' no 'plug-in folder plugins/absent is listed but has no CMakeLists.txt'
check builds-nothing 'first builds-nothing' no 'plugins/builds-nothing/CMakeLists.txt builds no plug-in'
exit $failed
