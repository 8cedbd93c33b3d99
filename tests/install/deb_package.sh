#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Builds the Debian packages with cpack (the project's configuration and the
# stand-ins' one) and checks each: its name and version, control fields and
# control files, the libraries' symbols files against the libraries, its
# file list, and lintian's verdict at every level (for a /usr build, where
# lintian is installed).  Then, all unpacked into one scratch root: every
# ELF file is stripped as Debian strips, passes hardening-check (for a
# hardened build), no plug-in needs a symbol version of the host library,
# their zunder (through the emulator when the packages are for another
# machine) loads the packaged plug-ins and writes the expected lines, and
# the example out-of-tree plug-in builds against zunder-dev alone and loads.
#
# Environment: ZT_BUILD, ZT_PREFIX, ZT_LIBDIR, ZT_SYSCONFDIR, ZT_PLUGINS,
# ZT_CPACK, ZT_ARCH (Debian architecture), ZT_ELF_MACHINE (readelf's Machine
# text), ZT_EMULATOR (may be empty), ZT_VERSION, ZT_STANDIN_VERSION,
# ZT_HARDENING (ON for a hardened build), ZT_SYMBOLS (the folder of the
# symbols lists), ZT_SOURCE (this folder), and for the example ZT_CMAKE,
# ZT_CC, ZT_CXX, ZT_EXAMPLE, ZT_TOOLCHAIN.
set -euo pipefail
source "$ZT_SOURCE/tree_checks.sh"

work=$(mktemp -d "$ZT_BUILD/package-test.XXXXXX")
trap 'rm -rf "$work"' EXIT
root=$work/root

for config in CPackConfig.cmake CPackStandinsConfig.cmake; do
	(cd "$work" && "$ZT_CPACK" --config "$ZT_BUILD/$config" -B "$work/out" >>"$work/cpack.log" 2>&1) ||
		{ cat "$work/cpack.log" >&2; fail "cpack --config $config failed"; }
done

# The stand-ins' version sorts below any release, so a platform package of
# the same name always wins over them.
dpkg --compare-versions "$ZT_STANDIN_VERSION" lt 0 ||
	fail "stand-in version $ZT_STANDIN_VERSION does not sort below every release"

# Per package: section, names its Depends must hold, names it must not.
declare -A section_of=(
	[plugins]=net [rdconnect]=x11 [dev]=libdevel
	[standin_host]=libs [standin_labelmap]=libs [standin_command]=net
)
declare -A depends_of=(
	[plugins]="libc6 libzunder10 libpavane-conntrack1 netbase"
	[rdconnect]="libc6 libx11-6"
	[dev]="libzunder10 libpavane-conntrack1"
	[standin_host]="libc6 libstdc++6"
	[standin_labelmap]="libc6 libstdc++6"
	[standin_command]="libc6 libstdc++6 libzunder10"
)
# Relations that must appear exactly so: the stand-in command calls the
# stand-in host library's private interface, so it needs that very build.
declare -A exact_depends_of=(
	[standin_command]="libzunder10 (= $ZT_STANDIN_VERSION)"
)
declare -A not_depends_of=(
	# Plug-ins carry no C++ runtime.
	[plugins]="libstdc++6 zunder-dev zunder"
	[rdconnect]="libzunder10 libpavane-conntrack1"
	[dev]="zunder"
	[standin_host]="libzunder10 libpavane-conntrack1"
	[standin_labelmap]="libzunder10 libpavane-conntrack1"
	[standin_command]="libpavane-conntrack1"
)
# Control files beyond control and md5sums, with their contents.  No
# package has maintainer scripts: libraries refresh the loader cache by
# trigger.
declare -A control_extra_of=(
	[standin_host]="shlibs symbols triggers" [standin_labelmap]="shlibs symbols triggers"
	[standin_command]="conffiles"
)
declare -A shlibs_of=(
	[standin_host]="libzunder 10 libzunder10"
	[standin_labelmap]="libpavane_conntrack 1 libpavane-conntrack1"
)

# The library's exports match the list in the tree exactly (no symbol
# missing, none new), and the package ships that list, expanded.  Checked as
# the next version would be: dpkg-gensymbols forgives a symbol missing in the
# version that lists it.
check_symbols() {
	local deb=$1 package=$2 unpacked=$work/symbols/$2 library
	mkdir -p "$unpacked/debian"
	dpkg-deb -x "$deb" "$unpacked"
	library=$(find "$unpacked" -name 'lib*.so.*.*' -type f)
	(cd "$unpacked" && touch debian/control &&
		dpkg-gensymbols -c4 -p"$package" -v"$ZT_STANDIN_VERSION+next" -a"$ZT_ARCH" -e"$library" \
			-I"$ZT_SYMBOLS/$package.symbols" -O"$unpacked/expected.symbols" </dev/null \
			>"$unpacked/gensymbols.log" 2>&1) ||
		{ cat "$unpacked/gensymbols.log" >&2; fail "$package: the exports of ${library##*/} differ from $ZT_SYMBOLS/$package.symbols (+ new, - missing)"; }
	diff <(cat "$unpacked/expected.symbols") <(control_file symbols) >&2 ||
		fail "$package: the shipped symbols file differs from the list (< list, > shipped)"
}

debs=()
for component in "${components[@]}"; do
	package=${package_of[$component]}
	version=$ZT_VERSION
	[[ $component == standin_* ]] && version=$ZT_STANDIN_VERSION
	deb=$work/out/${package}_${version}_$ZT_ARCH.deb
	[[ -f "$deb" ]] || fail "no package $(basename "$deb"); made: $(cd "$work/out" && echo *.deb)"
	debs+=("$deb")

	field() { dpkg-deb -f "$deb" "$1"; }
	[[ "$(field Package)" == "$package" ]] || fail "$package: Package: $(field Package)"
	[[ "$(field Version)" == "$version" ]] || fail "$package: Version: $(field Version)"
	[[ "$(field Architecture)" == "$ZT_ARCH" ]] || fail "$package: Architecture: $(field Architecture)"
	[[ "$(field Section)" == "${section_of[$component]}" ]] || fail "$package: Section: $(field Section)"
	[[ -n "$(field Maintainer)" && -n "$(field Description)" ]] ||
		fail "$package: Maintainer or Description missing"
	depends=$(field Depends)
	names=" $(echo "$depends" | sed -e 's/([^)]*)//g' -e 's/[ ,]\+/ /g') "
	for name in ${depends_of[$component]}; do
		[[ "$names" == *" $name "* ]] || fail "$package: Depends lacks $name: $depends"
	done
	for name in ${not_depends_of[$component]}; do
		[[ "$names" != *" $name "* ]] || fail "$package: Depends names $name: $depends"
	done
	for relation in ${exact_depends_of[$component]:+"${exact_depends_of[$component]}"}; do
		[[ ", $depends," == *", $relation,"* ]] || fail "$package: Depends lacks $relation: $depends"
	done
	[[ "$depends" != *libc6* || "$depends" == *'libc6 (>= '* ]] ||
		fail "$package: libc6 without a version: $depends"

	control_files=$(dpkg-deb --ctrl-tarfile "$deb" | tar -tf - | sed 's|^\./||' | grep . | LC_ALL=C sort)
	expected=$(printf '%s\n' control md5sums ${control_extra_of[$component]:-} | LC_ALL=C sort)
	[[ "$control_files" == "$expected" ]] ||
		fail "$package: control files" $control_files", expected" $expected
	control_file() { dpkg-deb --ctrl-tarfile "$deb" | tar -xOf - "./$1"; }
	if [[ -n "${shlibs_of[$component]:-}" ]]; then
		[[ "$(control_file shlibs)" == "${shlibs_of[$component]}" ]] ||
			fail "$package: shlibs: $(control_file shlibs)"
		[[ "$(control_file triggers)" == "activate-noawait ldconfig" ]] ||
			fail "$package: triggers: $(control_file triggers)"
		check_symbols "$deb" "$package"
	fi
	if [[ $component == standin_command ]]; then
		[[ "$(control_file conffiles)" == "$ZT_SYSCONFDIR/connlabel.conf" ]] ||
			fail "$package: conffiles: $(control_file conffiles)"
	fi

	dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { print $6 }' |
		check_file_list "package $package" "$(component_files "$component")"
	dpkg -x "$deb" "$root"
done
[[ $(find "$work/out" -maxdepth 1 -name '*.deb' | wc -l) -eq ${#debs[@]} ]] ||
	fail "cpack made other packages too: $(cd "$work/out" && echo *.deb)"

# lintian judges system packages only (a /usr/local tree is wrong for it).
# Every tag counts, down to the pedantic ones: none may be reported.
if [[ "$ZT_PREFIX" == /usr ]] && command -v lintian >/dev/null; then
	lintian --pedantic -I "${debs[@]}" >"$work/lintian.log" 2>&1 ||
		{ cat "$work/lintian.log" >&2; fail "lintian failed"; }
	if grep -q '^[EWIPX]: ' "$work/lintian.log"; then
		cat "$work/lintian.log" >&2
		fail "lintian --pedantic -I reports tags"
	fi
	lintian_note="lintian --pedantic -I clean"
else
	lintian_note="lintian not run"
fi

# --- unpacked ----------------------------------------------------------------
machine=$(readelf -h "$root$ZT_PREFIX/bin/zunder" | sed -n 's/^ *Machine: *//p')
[[ "$machine" == "$ZT_ELF_MACHINE" ]] || fail "zunder is built for $machine, not $ZT_ELF_MACHINE"
elf_files=()
while IFS= read -r file; do
	[[ "$(head -c 4 "$file" | od -An -c | tr -d ' ')" == '177ELF' ]] && elf_files+=("$file")
done < <(find "$root" -type f)
# Stripped as Debian strips: no symbol table, no debugging information, no
# record of the tools (.comment, .note).
for file in "${elf_files[@]}"; do
	sections=$(readelf -SW "$file" | sed -n 's/^ *\[ *[0-9]*\] \([^ ]*\).*/\1/p')
	for section in .symtab .debug_info .comment .note; do
		! grep -qxF -- "$section" <<<"$sections" || fail "${file#"$root"} keeps its $section section"
	done
done

# The hardening Debian builds with, on every ELF file.  Control-flow
# protection is an x86 feature.  hardening-check infers two checks from the
# libc functions a file calls, and a file can be built with the flags and
# still call none: the stack protector (__stack_chk_fail) guards only
# functions with local arrays or addresses taken, and fortified calls
# (__*_chk) replace only calls whose buffer size the compiler knows.  Those
# files are listed here, each with its reason; every other check must pass.
declare -A unguarded_because=(
	[libqeb_ah.so]="no function has a local array or a local whose address is taken"
	[libzu_connlabel.so]="no function has a local array or a local whose address is taken"
	[rdconnect]="no function has a local array or a local whose address is taken"
)
declare -A unfortified_because=(
	[libpavane_conntrack.so.1.0.0]="its memcpy and memmove are the C++ library's string copies, of sizes known only at run time"
)
hardening_note="hardening-check not run (not a hardened build)"
if [[ "${ZT_HARDENING:-}" == ON ]]; then
	command -v hardening-check >/dev/null || fail "hardening-check is missing (scripts/deps.sh --test installs devscripts)"
	hardened=0
	for file in "${elf_files[@]}"; do
		name=${file##*/}
		report=$(hardening-check --nocfprotection "$file" 2>/dev/null) && { hardened=$((hardened + 1)); continue; }
		waived=(--nocfprotection)
		[[ -n "${unguarded_because[$name]:-}" ]] && waived+=(--nostackprotector)
		[[ -n "${unfortified_because[$name]:-}" ]] && waived+=(--nofortify)
		hardening-check "${waived[@]}" "$file" >/dev/null 2>&1 ||
			fail "hardening-check ${file#"$root"}:"$'\n'"$report"
		hardened=$((hardened + 1))
	done
	hardening_note="hardening-check passed on $hardened ELF files"
fi
check_runpaths
check_label_default
check_installed_programs
check_no_host_version_need "$root$ZT_PREFIX/$ZT_LIBDIR"/zunder/*.so

# The example out-of-tree plug-in, built against zunder-dev alone unpacked
# as a sysroot, installed under DESTDIR into the plug-in folder, and loaded
# by the packages' zunder ahead of the packaged plug-ins.
dpkg -x "$work/out/zunder-dev_${ZT_VERSION}_$ZT_ARCH.deb" "$work/sysroot"
build_example "$work/sysroot" "$work/hello" "$work/hello-dest"
extra_env=("ZUNDER_PLUGIN_DIR=$work/hello-dest$ZT_PREFIX/$ZT_LIBDIR/zunder:$root$ZT_PREFIX/$ZT_LIBDIR/zunder")
expect_zunder $'block 0700000000000000\nlist hello greeting:7\nsave --greeting 7' -m hello --greeting 7
expect_zunder $'block f4010000f40100000000000000000000\nlist ah spi:500\nsave --ahspi 500' -6 -m ah --ahspi 500
extra_env=()
echo "packages $(cd "$work/out" && echo *.deb): all checks passed, $lintian_note, $hardening_note"
