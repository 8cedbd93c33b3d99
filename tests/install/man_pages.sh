#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Each man page formats without a warning and has the sections a reader looks
# for first.  Exit 77 (skipped) without groff or man.
set -uo pipefail
status=0
for page in "$@"; do
	if command -v groff >/dev/null; then
		warnings=$(groff -t -man -Tutf8 -ww -z "$page" 2>&1)
	elif command -v man >/dev/null; then
		warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null)
	else
		echo "neither groff nor man is installed"
		exit 77
	fi
	[[ -z "$warnings" ]] || { echo "$page:"$'\n'"$warnings" >&2; status=1; }
	for section in NAME SYNOPSIS DESCRIPTION "SEE ALSO"; do
		[[ "$section" == SYNOPSIS && "$page" == *.7 ]] && continue
		grep -q "^\.SH \"\?$section\"\?\$" "$page" || { echo "$page: no $section section" >&2; status=1; }
	done
done
exit $status
