#!/usr/bin/env bash
# Builds the Debian package with cpack and checks it: its control fields
# (architecture, dependencies), the label file kept as a configuration file,
# its file list, and, unpacked into a scratch root, that its zunder (through
# the emulator when the package is for another machine) loads the packaged
# plug-ins and writes the expected lines.
#
# Environment: ZT_BUILD, ZT_PREFIX, ZT_SYSCONFDIR, ZT_PLUGINS, ZT_CPACK,
# ZT_ARCH (Debian architecture), ZT_ELF_MACHINE (readelf's Machine text),
# ZT_EMULATOR (may be empty), ZT_SOURCE (this folder).
set -euo pipefail
source "$ZT_SOURCE/tree_checks.sh"

work=$(mktemp -d "$ZT_BUILD/package-test.XXXXXX")
trap 'rm -rf "$work"' EXIT
root=$work/root

(cd "$work" && "$ZT_CPACK" -G DEB --config "$ZT_BUILD/CPackConfig.cmake" -B "$work/out" \
	>"$work/cpack.log" 2>&1) || { cat "$work/cpack.log" >&2; fail "cpack -G DEB failed"; }
debs=("$work"/out/*.deb)
[[ ${#debs[@]} -eq 1 && -f "${debs[0]}" ]] || fail "cpack made ${#debs[@]} packages: ${debs[*]}"
deb=${debs[0]}
[[ "$(basename "$deb")" == zunder_*_"$ZT_ARCH".deb ]] || fail "package file name $(basename "$deb")"

# --- control fields --------------------------------------------------------
field() { dpkg-deb -f "$deb" "$1"; }
[[ "$(field Package)" == zunder ]] || fail "Package: $(field Package)"
[[ "$(field Architecture)" == "$ZT_ARCH" ]] || fail "Architecture: $(field Architecture)"
[[ -n "$(field Maintainer)" && -n "$(field Version)" && -n "$(field Description)" ]] ||
	fail "Maintainer, Version or Description missing"
depends=$(field Depends)
for needed in 'libc6 (>= ' 'libx11-6' 'libstdc++6 (>= ' 'netbase'; do
	[[ "$depends" == *"$needed"* ]] || fail "Depends lacks $needed: $depends"
done
# Only the target architecture's libraries: nothing of the package's own.
[[ "$depends" != *zunder* && "$depends" != *pavane* ]] || fail "Depends names itself: $depends"

conffiles=$(dpkg-deb --ctrl-tarfile "$deb" | tar -xOf - ./conffiles)
[[ "$conffiles" == "$ZT_SYSCONFDIR/connlabel.conf" ]] || fail "conffiles: $conffiles"
triggers=$(dpkg-deb --ctrl-tarfile "$deb" | tar -xOf - ./triggers)
[[ "$triggers" == "activate-noawait ldconfig" ]] || fail "triggers: $triggers"

# --- file list ---------------------------------------------------------------
dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { print $6 }' | check_file_list "package"

# --- unpacked ----------------------------------------------------------------
dpkg -x "$deb" "$root"
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
echo "package $(basename "$deb"): all checks passed"
