#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Formats each man page and fails on any warning.  Exit 77 (skipped) when
# neither groff nor man is present.
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
	if [[ -n "$warnings" ]]; then
		echo "$page:" >&2
		echo "$warnings" >&2
		status=1
	fi
	# Every page has the sections a reader looks for first.
	for section in NAME SYNOPSIS DESCRIPTION "SEE ALSO"; do
		[[ "$section" == SYNOPSIS && "$page" == *.7 ]] && continue
		grep -q "^\.SH \"\?$section\"\?\$" "$page" || { echo "$page: no $section section" >&2; status=1; }
	done
done
exit $status
