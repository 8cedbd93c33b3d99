#!/usr/bin/env bash
# Builds the Debian packages with cpack (the project's configuration and the
# stand-ins' one) and checks each: its name and version, control fields and
# control files, its file list, and lintian's verdict (for a /usr build,
# where lintian is installed).  Then, all unpacked into one scratch root,
# that their zunder (through the emulator when the packages are for another
# machine) loads the packaged plug-ins and writes the expected lines.
#
# Environment: ZT_BUILD, ZT_PREFIX, ZT_LIBDIR, ZT_SYSCONFDIR, ZT_PLUGINS,
# ZT_CPACK, ZT_ARCH (Debian architecture), ZT_ELF_MACHINE (readelf's Machine
# text), ZT_EMULATOR (may be empty), ZT_VERSION, ZT_STANDIN_VERSION,
# ZT_SOURCE (this folder).
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
	[standin_host]="shlibs triggers" [standin_labelmap]="shlibs triggers"
	[standin_command]="conffiles"
)
declare -A shlibs_of=(
	[standin_host]="libzunder 10 libzunder10"
	[standin_labelmap]="libpavane_conntrack 1 libpavane-conntrack1"
)

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
if [[ "$ZT_PREFIX" == /usr ]] && command -v lintian >/dev/null; then
	lintian --fail-on error,warning "${debs[@]}" >"$work/lintian.log" 2>&1 ||
		{ cat "$work/lintian.log" >&2; fail "lintian finds errors or warnings"; }
	lintian_note="lintian clean"
else
	lintian_note="lintian not run"
fi

# --- unpacked ----------------------------------------------------------------
machine=$(readelf -h "$root$ZT_PREFIX/bin/zunder" | sed -n 's/^ *Machine: *//p')
[[ "$machine" == "$ZT_ELF_MACHINE" ]] || fail "zunder is built for $machine, not $ZT_ELF_MACHINE"
while IFS= read -r file; do
	if readelf -S "$file" | grep -q '\.symtab\|\.debug_info'; then
		fail "${file#"$root"} is not stripped"
	fi
done < <(find "$root$ZT_PREFIX/bin" "$root$ZT_PREFIX/lib" -type f -name '*.so*' -o -type f -path '*/bin/*')
check_runpaths
check_label_default
check_installed_programs
echo "packages $(cd "$work/out" && echo *.deb): all checks passed, $lintian_note"
