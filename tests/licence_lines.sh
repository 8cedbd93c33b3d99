#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Every tracked file of a kind below carries the licence line first (after
# any "#!" line), in its own comment syntax ("//", "#", "/* */" in linker
# scripts, ".\"" in man pages).  Kinds: the extensions listed (a template's
# .in set aside), CMakeLists.txt, and every file tracked as executable.
# Exit 77 (skipped) outside a git work tree.
set -uo pipefail
cd "$1" || exit 1
git rev-parse --is-inside-work-tree >/dev/null 2>&1 || { echo "$1 is not a git work tree"; exit 77; }

extensions=" c cpp h sh py cmake map pc conf rules cases symbols 1 7 8 "
line="SPDX-License-Identifier: GPL-2.0-or-later"
checked=0 missing=0
while IFS=$'\t' read -r meta file; do
	name=${file##*/} extension=
	base=${name%.in}
	[[ "$base" == *.* ]] && extension=${base##*.}
	[[ "$extensions" == *" $extension "* || "$name" == CMakeLists.txt || "${meta%% *}" == 100755 ]] || continue
	top=$(head -n 1 -- "$file")
	[[ "$top" == '#!'* ]] && top=$(sed -n 2p -- "$file")
	checked=$((checked + 1))
	[[ "$top" == *"$line"* ]] ||
		{ echo "$file: its first line (after any #! line) lacks \"$line\"" >&2; missing=$((missing + 1)); }
done < <(git ls-files -s)
echo "licence lines: $checked files checked, $missing without the line"
[[ $checked -gt 0 && $missing -eq 0 ]]
