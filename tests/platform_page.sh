#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# docs/platform.md's table of clauses matches scripts/armhf-kernel.sh's
# (clause, module, kind, families), names every plug-in of the build and the
# filter tables' modules.  With --kernel: each clause's module dependencies
# as the page names them match the armhf kernel the check caches (modinfo,
# plus the check's own additions); exit 77 (skipped) without that cache.
#   platform_page.sh [--kernel] <source tree> [<plug-in files, ":"-separated>]
set -euo pipefail
kernel=no
[[ $1 != --kernel ]] || { kernel=yes && shift; }
source=$1 plugins=${2:-}
page=$source/docs/platform.md
script=$source/scripts/armhf-kernel.sh

fail() {
	echo "FAIL: $*" >&2
	exit 1
}
quoted() {
	grep -o '`[^`]*`' <<<"$1" | tr -d '`'
}

# Page rows: "| `clause` | kind, families | option | `module` | dependencies | ... |".
declare -A page_row=() page_deps=()
while IFS='|' read -r _ clause kind option module deps _; do
	clause=$(quoted "$clause")
	[[ -n $clause ]] || continue
	page_row[$clause]="$(quoted "$module") $(echo $kind)"
	page_deps[$clause]=$(quoted "$deps" | LC_ALL=C sort -u | tr '\n' ' ')
done < <(sed -n '/^## The kernel, per clause/,/^## /p' "$page" | grep '^| `')
[[ ${#page_row[@]} -gt 0 ]] || fail "docs/platform.md has no table of clauses under \"The kernel, per clause\""

# Script rows: "clause module matches|targets families...".
rows=$(sed -n '/^clauses=(/,/^)/p' "$script" | grep '^[[:space:]]*"' | tr -d '"')
[[ -n $rows ]] || fail "no table of clauses in scripts/armhf-kernel.sh"
declare -A script_module=()
while read -r clause module kind families; do
	script_module[$clause]=$module
	words=$([[ $families == "4 6" ]] && echo "IPv4 and IPv6" || echo "IPv${families}")
	case $kind in matches) kind=match ;; targets) kind=target ;; esac
	expected="$module $kind, $words"
	[[ ${page_row[$clause]:-} == "$expected" ]] ||
		fail "docs/platform.md: clause $clause reads \"${page_row[$clause]:-no row}\", the armhf kernel check \"$expected\""
done <<<"$rows"
[[ ${#page_row[@]} -eq ${#script_module[@]} ]] ||
	fail "docs/platform.md names clauses ${!page_row[*]}, the armhf kernel check ${!script_module[*]}"

if [[ $kernel == no ]]; then
	for plugin in ${plugins//:/ }; do
		clause=${plugin#lib*_}
		[[ -n ${page_row[${clause%.so}]:-} ]] || fail "docs/platform.md has no kernel row for the plug-in $plugin"
	done
	for module in $(sed -n 's/^table_modules=(\(.*\))$/\1/p' "$script"); do
		grep -qF "\`$module\`" "$page" || fail "docs/platform.md does not name the table module $module"
	done
	echo "platform page: ${#page_row[@]} clauses, each with the module the armhf kernel check loads"
	exit 0
fi

cache=${ZUNDER_ARMHF_KERNEL_CACHE:-/var/cache/zunder-armhf-kernel}
tree=""
[[ ! -d $cache ]] ||
	tree=$(find "$cache" -maxdepth 4 -path '*.unpacked/lib/modules/*' -type d -name '*-armmp' | sort | tail -n 1)
[[ -n $tree ]] || { echo "no armhf kernel in $cache (scripts/armhf-kernel.sh fetches it)"; exit 77; }
command -v modinfo >/dev/null || { echo "no modinfo (package kmod)"; exit 77; }
eval "$(grep '^declare -A loaded_before=' "$script")"
# Every module $1 needs loaded first, one a line.
depends_of() {
	local file dep
	file=$(find "$tree" -name "${1//_/[-_]}.ko*" -print -quit)
	[[ -n $file ]] || fail "no module $1 in $tree"
	for dep in $(modinfo -F depends "$file" | tr ',' ' ') ${loaded_before[$1]:-}; do
		echo "$dep"
		depends_of "$dep"
	done
}
for clause in "${!script_module[@]}"; do
	deps=$(depends_of "${script_module[$clause]}" | LC_ALL=C sort -u | tr '\n' ' ')
	[[ ${page_deps[$clause]} == "$deps" ]] ||
		fail "docs/platform.md: $clause's module depends on \"${page_deps[$clause]}\"; in ${tree##*/modules/}: \"$deps\""
done
echo "platform page: each clause's module dependencies as in ${tree##*/modules/}"
