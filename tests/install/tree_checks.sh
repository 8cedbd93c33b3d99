# SPDX-License-Identifier: GPL-2.0-or-later
# Checks shared by the install and package tests; sourced, not run.
#
# Needs: ZT_PREFIX (install prefix), ZT_LIBDIR (library folder under the
# prefix: lib, or lib/<multiarch>), ZT_SYSCONFDIR (the label file's folder,
# absolute), ZT_PLUGINS (plug-in file names, ":"-separated), and `root`, the
# folder the tree was installed or unpacked into; build_example also ZT_CMAKE,
# ZT_CC, ZT_CXX, ZT_EXAMPLE and for a cross build ZT_TOOLCHAIN.

fail() {
	echo "FAIL: $*" >&2
	exit 1
}

# Install components and the Debian packages made of them.
components=(plugins rdconnect dev standin_host standin_labelmap standin_command)
declare -A package_of=(
	[plugins]=zunder-plugins
	[rdconnect]=rdconnect
	[dev]=zunder-dev
	[standin_host]=libzunder10
	[standin_labelmap]=libpavane-conntrack1
	[standin_command]=zunder
)

# The files (and symbolic links) a component installs, relative to the file
# system root, sorted.
component_files() {
	local p=${ZT_PREFIX#/} l=${ZT_PREFIX#/}/$ZT_LIBDIR plugin
	{
		echo "$p/share/doc/${package_of[$1]}/changelog.gz"
		echo "$p/share/doc/${package_of[$1]}/copyright"
		case $1 in
		plugins)
			for plugin in ${ZT_PLUGINS//:/ }; do
				echo "$l/zunder/$plugin"
			done
			echo "$p/share/man/man7/zunder-clauses.7.gz"
			;;
		rdconnect)
			echo "$p/bin/rdconnect"
			echo "$p/share/man/man1/rdconnect.1.gz"
			;;
		dev)
			echo "$p/include/pavane_conntrack.h"
			echo "$p/include/zunder.h"
			echo "$p/include/zunder/plugin.h"
			echo "$l/cmake/zunder/ZunderPluginSettings.cmake"
			echo "$l/cmake/zunder/zunderConfig.cmake"
			echo "$l/cmake/zunder/zunderConfigVersion.cmake"
			echo "$l/cmake/zunder/zunder_link_stub.c"
			echo "$l/libpavane_conntrack.so"
			echo "$l/libzunder.so"
			echo "$l/pkgconfig/zunder.pc"
			;;
		standin_host)
			echo "$l/libzunder.so.10"
			echo "$l/libzunder.so.10.0.0"
			;;
		standin_labelmap)
			echo "$l/libpavane_conntrack.so.1"
			echo "$l/libpavane_conntrack.so.1.0.0"
			;;
		standin_command)
			echo "$p/bin/zunder"
			echo "${ZT_SYSCONFDIR#/}/connlabel.conf"
			echo "$p/share/man/man8/zunder.8.gz"
			;;
		esac
	} | LC_ALL=C sort
}

# Every component's files: a complete install.
expected_files() {
	local component
	for component in "${components[@]}"; do
		component_files "$component"
	done | LC_ALL=C sort
}

# Compares a list of paths (stdin, relative, any order) with the expected
# one given as the second argument.
check_file_list() {
	local what=$1 expected=$2 actual
	actual=$(sed -e 's|^\./||' |
	         LC_ALL=C sort)
	if [[ "$actual" != "$expected" ]]; then
		diff <(echo "$expected") <(echo "$actual") >&2 || true
		fail "$what: file list differs from the expected one (< expected, > found)"
	fi
}

# Every ELF file's RUNPATH entries are relative to the file ($ORIGIN), so the
# tree works wherever it is put, and every library of this project that the
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
			[[ -e "$root$ZT_PREFIX/$ZT_LIBDIR/$needed" ]] || continue   # a system library
			found=no
			for entry in ${runpath//:/ }; do
				[[ -e "${entry/\$ORIGIN/$dir}/$needed" ]] && found=yes
			done
			[[ $found == yes ]] ||
				fail "${file#"$root"}: needs $needed, which its RUNPATH '$runpath' does not reach"
		done
	done < <(find "$root$ZT_PREFIX/bin" "$root$ZT_PREFIX/lib" -type f)
}

# Whether the label file lies under the install prefix (every prefix but
# /usr, whose label file is /etc/connlabel.conf).
labels_under_prefix() {
	[[ "$ZT_SYSCONFDIR" == "$ZT_PREFIX"/* ]]
}

# The label-map library's built-in default is the installed label file:
# found from the library's own folder when it lies under the prefix, so that
# the tree works under any prefix; by its absolute path otherwise.
check_label_default() {
	local library=$root$ZT_PREFIX/$ZT_LIBDIR/libpavane_conntrack.so.1 default
	[[ -f "$root$ZT_SYSCONFDIR/connlabel.conf" ]] || fail "no $ZT_SYSCONFDIR/connlabel.conf"
	default=$ZT_SYSCONFDIR/connlabel.conf
	labels_under_prefix && default=$(realpath -m --relative-to="$ZT_PREFIX/$ZT_LIBDIR" "$default")
	grep -qaF "$default" "$library" || fail "libpavane_conntrack does not default to $default"
}

# No file asks libzunder.so.10 for a symbol version, and each needs it: the
# contract names no version node, and the platform's library may have none
# or its own.
check_no_host_version_need() {
	local file
	for file in "$@"; do
		readelf -dW "$file" | grep -q 'NEEDED.*\[libzunder\.so\.10\]' ||
			fail "${file#"$root"} does not need libzunder.so.10"
		! readelf -VW "$file" | grep -q 'File: libzunder\.so\.10' ||
			fail "${file#"$root"} needs a symbol version of libzunder.so.10:"$'\n'"$(readelf -VW "$file")"
	done
}

# build_example SYSROOT BUILD DEST: builds the example out-of-tree plug-in
# (ZT_EXAMPLE) in BUILD against the development files under SYSROOT, as a
# build against a device's sysroot does (CMake looks for packages there
# only; the toolchain file of a cross build is included), and installs it
# with DESTDIR=DEST.  It must land in the plug-in folder under the install
# prefix, and nowhere else, and need no symbol version of the host.
build_example() {
	local sysroot=$1 build=$2 dest=$3 installed
	mkdir -p "$build"
	{
		[[ -z "${ZT_TOOLCHAIN:-}" ]] || echo "include(\"$ZT_TOOLCHAIN\")"
		echo "set(CMAKE_FIND_ROOT_PATH \"$sysroot\")"
		echo "set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)"
	} >"$build/sysroot.cmake"
	{ "$ZT_CMAKE" -S "$ZT_EXAMPLE" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$build/sysroot.cmake" \
		-DCMAKE_C_COMPILER="$ZT_CC" -DCMAKE_CXX_COMPILER="$ZT_CXX" -DCMAKE_INSTALL_PREFIX="$ZT_PREFIX" \
		-DCMAKE_PREFIX_PATH="$ZT_PREFIX" -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF \
		-DCMAKE_COMPILE_WARNING_AS_ERROR=ON &&
		"$ZT_CMAKE" --build "$build" &&
		DESTDIR=$dest "$ZT_CMAKE" --install "$build"; } >"$build.log" 2>&1 ||
		{ cat "$build.log" >&2; fail "the example plug-in does not build against $sysroot"; }
	installed=$(cd "$dest" && find . -type f -o -type l)
	[[ "$installed" == "./${ZT_PREFIX#/}/$ZT_LIBDIR/zunder/libzu_hello.so" ]] ||
		fail "the example installs" $installed "under DESTDIR, not .$ZT_PREFIX/$ZT_LIBDIR/zunder/libzu_hello.so"
	check_no_host_version_need "$build/libzu_hello.so"
}

# Runs the installed zunder (through the emulator, if any) and compares its
# standard output with the expected lines.  No plug-in folder is named unless
# the caller sets ZUNDER_PLUGIN_DIR in `extra_env`.
expect_zunder() {
	local expected=$1 actual
	shift
	actual=$(env -u ZUNDER_PLUGIN_DIR -u LD_LIBRARY_PATH -u PAVANE_CONNLABEL_CONF "${extra_env[@]}" \
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
		# The label plug-in reaches libpavane_conntrack one folder up, which
		# finds the tree's label file by itself under the prefix; /etc is
		# named, since the tree is not installed at /.
		extra_env=()
		labels_under_prefix || extra_env=("PAVANE_CONNLABEL_CONF=$root$ZT_SYSCONFDIR/connlabel.conf")
		expect_zunder $'block 0400010000000000\nlist connlabel ! \'bulk-traffic\'\nsave ! --label "bulk-traffic"' \
			-m connlabel ! --label bulk-traffic
	fi
	extra_env=()
}
