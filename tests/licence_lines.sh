#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Every tracked source, script and build file carries the licence line at its
# very top (the line after "#!..." in a script).  Which files count follows
# from git's list and the names alone: the extensions below (a template's
# trailing .in set aside: zunder.pc.in counts as .pc), CMakeLists.txt, and
# every file tracked as executable.  A new file of such a kind needs only
# the line, in its own comment syntax:
#   // SPDX-License-Identifier: GPL-2.0-or-later      (C, C++)
#   # SPDX-License-Identifier: GPL-2.0-or-later       (shell, Python, CMake, ...)
#   /* SPDX-License-Identifier: GPL-2.0-or-later */  (linker version scripts)
#   .\" SPDX-License-Identifier: GPL-2.0-or-later     (man pages)
# Exit 77 (skipped) outside a git work tree, where nothing lists the files.
set -uo pipefail
cd "$1" || exit 1
git rev-parse --is-inside-work-tree >/dev/null 2>&1 ||
	{ echo "$1 is not a git work tree: no list of tracked files"; exit 77; }

counted_extensions=" c cpp h sh py cmake map pc conf rules cases symbols 1 7 8 "
line="SPDX-License-Identifier: GPL-2.0-or-later"
checked=0
missing=0
while IFS=$'\t' read -r meta file; do
	name=${file##*/}
	base=${name%.in}
	extension=
	[[ "$base" == *.* ]] && extension=${base##*.}
	if [[ "$counted_extensions" != *" $extension "* && "$name" != CMakeLists.txt &&
		"${meta%% *}" != 100755 ]]; then
		continue
	fi
	top=$(head -n 1 -- "$file")
	[[ "$top" == '#!'* ]] && top=$(sed -n 2p -- "$file")
	checked=$((checked + 1))
	if [[ "$top" != *"$line"* ]]; then
		echo "$file: its first line (after any #! line) lacks \"$line\"" >&2
		missing=$((missing + 1))
	fi
done < <(git ls-files -s)
echo "licence lines: $checked files checked, $missing without the line"
[[ $checked -gt 0 && $missing -eq 0 ]]
