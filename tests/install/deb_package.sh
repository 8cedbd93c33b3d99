#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Builds the Debian packages with cpack and checks each one's control fields
# and files, symbols, file list and (for a /usr build) lintian's verdict;
# then, all unpacked into one root, that every ELF file is stripped and
# hardened as Debian builds, the tree's checks, and the example plug-in built
# against zunder-dev alone.  Settings: tests/install/CMakeLists.txt.
set -euo pipefail
source "$ZT_SOURCE/tree_checks.sh"

work=$(mktemp -d "$ZT_BUILD/package-test.XXXXXX")
trap 'rm -rf "$work"' EXIT
root=$work/root
cd "$work"

for config in CPackConfig.cmake CPackStandinsConfig.cmake; do
	logged cpack "cpack --config $config failed" "$ZT_CPACK" --config "$ZT_BUILD/$config" -B "$work/out"
done
# Any platform package of the same name wins over a stand-in.
dpkg --compare-versions "$ZT_STANDIN_VERSION" lt 0 ||
	fail "stand-in version $ZT_STANDIN_VERSION does not sort below every release"

# Per package: Section | names Depends holds | names it must not (plug-ins
# carry no C++ runtime) | control files beyond control and md5sums (no
# maintainer scripts: ldconfig runs by trigger) | shlibs.
declare -A expected_of=(
	[plugins]="net|libc6 libzunder10 libpavane-conntrack1 netbase|libstdc++6 zunder-dev zunder||"
	[rdconnect]="x11|libc6 libx11-6|libzunder10 libpavane-conntrack1||"
	[dev]="libdevel|libzunder10 libpavane-conntrack1|zunder||"
	[standin_host]="libs|libc6 libstdc++6|libzunder10 libpavane-conntrack1|shlibs symbols triggers|libzunder 10 libzunder10"
	[standin_labelmap]="libs|libc6 libstdc++6|libzunder10 libpavane-conntrack1|shlibs symbols triggers|libpavane_conntrack 1 libpavane-conntrack1"
	[standin_command]="net|libc6 libstdc++6 libzunder10|libpavane-conntrack1|conffiles|"
)

debs=()
for component in "${components[@]}"; do
	IFS='|' read -r section wanted unwanted extra shlibs <<<"${expected_of[$component]}"
	package=${package_of[$component]} version=$ZT_VERSION
	[[ $component == standin_* ]] && version=$ZT_STANDIN_VERSION
	deb=$work/out/${package}_${version}_$ZT_ARCH.deb
	[[ -f "$deb" ]] || fail "no package $(basename "$deb"); made: $(cd "$work/out" && echo *.deb)"
	debs+=("$deb")

	for field in Package="$package" Version="$version" Architecture="$ZT_ARCH" Section="$section"; do
		same "$package's ${field%%=*}" "$(dpkg-deb -f "$deb" "${field%%=*}")" "${field#*=}"
	done
	[[ -n "$(dpkg-deb -f "$deb" Maintainer)" && -n "$(dpkg-deb -f "$deb" Description)" ]] ||
		fail "$package: Maintainer or Description missing"
	depends=$(dpkg-deb -f "$deb" Depends)
	names=" $(echo "$depends" | sed -e 's/([^)]*)//g' -e 's/[ ,]\+/ /g') "
	for name in $wanted; do
		[[ "$names" == *" $name "* ]] || fail "$package: Depends lacks $name: $depends"
	done
	for name in $unwanted; do
		[[ "$names" != *" $name "* ]] || fail "$package: Depends names $name: $depends"
	done
	# The stand-in command calls its host library's private interface.
	[[ $component != standin_command || ", $depends," == *", libzunder10 (= $ZT_STANDIN_VERSION),"* ]] ||
		fail "$package: Depends lacks libzunder10 (= $ZT_STANDIN_VERSION): $depends"
	[[ "$depends" != *libc6* || "$depends" == *'libc6 (>= '* ]] || fail "$package: libc6 without a version: $depends"

	control=$(dpkg-deb --ctrl-tarfile "$deb" | tar -tf - | sed 's|^\./||' | grep . | LC_ALL=C sort)
	same "$package's control files" "$control" "$(printf '%s\n' control md5sums $extra | LC_ALL=C sort)"
	control_file() { dpkg-deb --ctrl-tarfile "$deb" | tar -xOf - "./$1"; }
	[[ $extra != conffiles ]] || same "$package's conffiles" "$(control_file conffiles)" "$ZT_SYSCONFDIR/connlabel.conf"
	if [[ -n $shlibs ]]; then
		same "$package's shlibs" "$(control_file shlibs)" "$shlibs"
		same "$package's triggers" "$(control_file triggers)" "activate-noawait ldconfig"
		# The exports are exactly the tree's list (checked as for the next
		# version, since dpkg-gensymbols forgives a symbol missing in the
		# version that lists it) and the package ships that list, expanded.
		unpacked=$work/symbols/$package
		mkdir -p "$unpacked/debian" && touch "$unpacked/debian/control"
		dpkg-deb -x "$deb" "$unpacked"
		library=$(find "$unpacked" -name 'lib*.so.*.*' -type f)
		logged gensymbols "$package: the exports differ from $ZT_SYMBOLS/$package.symbols (+ new, - missing)" \
			env -C "$unpacked" dpkg-gensymbols -c4 -p"$package" -v"$ZT_STANDIN_VERSION+next" -a"$ZT_ARCH" \
			-e"$library" -I"$ZT_SYMBOLS/$package.symbols" -O"$unpacked/expected.symbols" </dev/null
		diff "$unpacked/expected.symbols" <(control_file symbols) >&2 ||
			fail "$package: the shipped symbols file differs from the list (< list, > shipped)"
	fi

	dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { print $6 }' |
		check_file_list "package $package" "$(component_files "$component")"
	dpkg -x "$deb" "$root"
done
[[ $(find "$work/out" -maxdepth 1 -name '*.deb' | wc -l) -eq ${#debs[@]} ]] ||
	fail "cpack made other packages too: $(cd "$work/out" && echo *.deb)"

# lintian judges system packages only; not even a pedantic tag may show.
lintian_note="lintian not run"
if [[ "$ZT_PREFIX" == /usr ]] && command -v lintian >/dev/null; then
	logged lintian "lintian failed" lintian --pedantic -I "${debs[@]}"
	! grep -q '^[EWIPX]: ' "$work/lintian.log" || { cat "$work/lintian.log" >&2; fail "lintian --pedantic -I reports tags"; }
	lintian_note="lintian --pedantic -I clean"
fi

same "zunder's machine" "$(readelf -h "$root$ZT_PREFIX/bin/zunder" | sed -n 's/^ *Machine: *//p')" "$ZT_ELF_MACHINE"
mapfile -t elf < <(elf_files "$root")
# Stripped as Debian strips: no symbols, no debugging data, no tool records.
for file in "${elf[@]}"; do
	kept=$(readelf -SW "$file" | sed -nE 's/^ *\[ *[0-9]+\] (\.symtab|\.debug_info|\.comment|\.note) .*/\1/p')
	[[ -z $kept ]] || fail "$file keeps its section" $kept
done

# Debian's hardening on every ELF file (control-flow protection is x86's).
# Two checks are inferred from libc calls a hardened file need not make:
# __stack_chk_fail guards only functions with a local array or a local whose
# address is taken (none in `unguarded`), __*_chk only calls of a size known
# when compiling (`unfortified` copies C++ strings, sized at run time).
unguarded=" libqeb_ah.so libzu_connlabel.so rdconnect "
unfortified=" libpavane_conntrack.so.1.0.0 "
hardening_note="hardening-check not run (not a hardened build)"
if [[ "${ZT_HARDENING:-}" == ON ]]; then
	command -v hardening-check >/dev/null || fail "hardening-check is missing (scripts/deps.sh --test installs devscripts)"
	for file in "${elf[@]}"; do
		report=$(hardening-check --nocfprotection "$file" 2>/dev/null) && continue
		waived=(--nocfprotection)
		[[ $unguarded == *" ${file##*/} "* ]] && waived+=(--nostackprotector)
		[[ $unfortified == *" ${file##*/} "* ]] && waived+=(--nofortify)
		hardening-check "${waived[@]}" "$file" >/dev/null 2>&1 || fail "hardening-check $file:"$'\n'"$report"
	done
	hardening_note="hardening-check passed on ${#elf[@]} ELF files"
fi
check_tree

# The example, built against zunder-dev alone, loaded ahead of the packaged plug-ins.
dpkg -x "$work/out/zunder-dev_${ZT_VERSION}_$ZT_ARCH.deb" "$work/sysroot"
build_example "$work/sysroot"
zenv=("ZUNDER_PLUGIN_DIR=$work/hello-dest$ZT_PREFIX/$ZT_LIBDIR/zunder:$root$ZT_PREFIX/$ZT_LIBDIR/zunder")
expect_zunder "$hello" -m hello --greeting 7
expect_zunder "$ah" -6 -m ah --ahspi 500
echo "packages $(cd "$work/out" && echo *.deb): all checks passed, $lintian_note, $hardening_note"
