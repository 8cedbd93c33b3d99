# Checks shared by the install and package tests; sourced, not run.
#
# Needs: ZT_PREFIX (install prefix), ZT_SYSCONFDIR (the label file's folder,
# absolute), ZT_PLUGINS (plug-in file names, ":"-separated), and `root`, the
# folder the tree was installed or unpacked into.

fail() {
	echo "FAIL: $*" >&2
	exit 1
}

# The files (and symbolic links) a complete install holds, relative to the
# file system root, sorted.  The exported targets' per-configuration file is
# written as zunderTargets-CONFIG.cmake.
expected_files() {
	local p=${ZT_PREFIX#/} plugin
	{
		echo "$p/bin/rdconnect"
		echo "$p/bin/zunder"
		echo "${ZT_SYSCONFDIR#/}/connlabel.conf"
		echo "$p/include/pavane_conntrack.h"
		echo "$p/include/zunder.h"
		echo "$p/include/zunder/plugin.h"
		echo "$p/lib/cmake/zunder/zunderConfig.cmake"
		echo "$p/lib/cmake/zunder/zunderConfigVersion.cmake"
		echo "$p/lib/cmake/zunder/zunderTargets-CONFIG.cmake"
		echo "$p/lib/cmake/zunder/zunderTargets.cmake"
		echo "$p/lib/libpavane_conntrack.so"
		echo "$p/lib/libpavane_conntrack.so.1"
		echo "$p/lib/libpavane_conntrack.so.1.0.0"
		echo "$p/lib/libzunder.so"
		echo "$p/lib/libzunder.so.10"
		echo "$p/lib/libzunder.so.10.0.0"
		echo "$p/lib/pkgconfig/zunder.pc"
		for plugin in ${ZT_PLUGINS//:/ }; do
			echo "$p/lib/zunder/$plugin"
		done
		echo "$p/share/man/man1/rdconnect.1"
		echo "$p/share/man/man7/zunder-clauses.7"
		echo "$p/share/man/man8/zunder.8"
	} | LC_ALL=C sort
}

# Compares a list of paths (stdin, relative, any order) with expected_files.
check_file_list() {
	local what=$1 actual
	actual=$(sed -e 's|^\./||' -e 's|zunderTargets-[a-z]*\.cmake$|zunderTargets-CONFIG.cmake|' |
	         LC_ALL=C sort)
	if [[ "$actual" != "$(expected_files)" ]]; then
		diff <(expected_files) <(echo "$actual") >&2 || true
		fail "$what: file list differs from the expected one (< expected, > found)"
	fi
}

# Every ELF file's RUNPATH entries are relative to the file ($ORIGIN), so the
# tree works wherever it is put, and every library of this package that the
# file needs is found through them.
check_runpaths() {
	local file dir needed runpath entry found
	while IFS= read -r file; do
		[[ "$(head -c 4 "$file" | od -An -c | tr -d ' ')" == '177ELF' ]] || continue
		dir=$(dirname "$file")
		runpath=$(readelf -d "$file" | sed -n 's/.*(\(RUNPATH\|RPATH\)).*\[\(.*\)\]/\2/p')
		for entry in ${runpath//:/ }; do
			[[ "$entry" == '$ORIGIN'* ]] ||
				fail "${file#"$root"}: RUNPATH entry $entry is not relative to \$ORIGIN"
		done
		for needed in $(readelf -d "$file" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p'); do
			[[ -e "$root$ZT_PREFIX/lib/$needed" ]] || continue   # a system library
			found=no
			for entry in ${runpath//:/ }; do
				[[ -e "${entry/\$ORIGIN/$dir}/$needed" ]] && found=yes
			done
			[[ $found == yes ]] ||
				fail "${file#"$root"}: needs $needed, which its RUNPATH '$runpath' does not reach"
		done
	done < <(find "$root$ZT_PREFIX/bin" "$root$ZT_PREFIX/lib" -type f)
}

# The label-map library's built-in default is the installed label file.
check_label_default() {
	local library=$root$ZT_PREFIX/lib/libpavane_conntrack.so.1
	[[ -f "$root$ZT_SYSCONFDIR/connlabel.conf" ]] || fail "no $ZT_SYSCONFDIR/connlabel.conf"
	grep -qaF "$ZT_SYSCONFDIR/connlabel.conf" "$library" ||
		fail "libpavane_conntrack does not default to $ZT_SYSCONFDIR/connlabel.conf"
}

# Runs the installed zunder (through the emulator, if any) and compares its
# standard output with the expected lines.  No plug-in folder is named unless
# the caller sets ZUNDER_PLUGIN_DIR in `extra_env`.
expect_zunder() {
	local expected=$1 actual
	shift
	actual=$(env -u ZUNDER_PLUGIN_DIR -u LD_LIBRARY_PATH "${extra_env[@]}" \
	         $ZT_EMULATOR "$root$ZT_PREFIX/bin/zunder" "$@") ||
		fail "zunder $* failed"
	[[ "$actual" == "$expected" ]] ||
		fail "zunder $*: expected"$'\n'"$expected"$'\n'"got"$'\n'"$actual"
}

# The installed programs find the installed plug-ins and libraries by
# themselves.
check_installed_programs() {
	extra_env=()
	expect_zunder $'block f4010000f40100000000000000000000\nlist ah spi:500\nsave --ahspi 500' \
		-6 -m ah --ahspi 500
	if [[ ":$ZT_PLUGINS:" == *:libzu_connlabel.so:* ]]; then
		# The label plug-in reaches libpavane_conntrack one folder up.
		extra_env=("PAVANE_CONNLABEL_CONF=$root$ZT_SYSCONFDIR/connlabel.conf")
		expect_zunder $'block 0400010000000000\nlist connlabel ! \'bulk-traffic\'\nsave ! --label "bulk-traffic"' \
			-m connlabel ! --label bulk-traffic
	fi
	extra_env=()
}
