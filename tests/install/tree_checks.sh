# SPDX-License-Identifier: GPL-2.0-or-later
# Checks shared by install_tree.sh and deb_package.sh; sourced.  Needs the
# ZT_* settings of tests/install/CMakeLists.txt, `work` (a scratch folder)
# and `root`, the folder the tree was installed or unpacked into.

fail() {
	echo "FAIL: $*" >&2
	exit 1
}
same() {
	[[ "$2" == "$3" ]] || fail "$1 is '$2', not '$3'"
}
# logged LOG MESSAGE COMMAND...: runs COMMAND, showing its output only if it fails.
logged() {
	"${@:3}" >"$work/$1.log" 2>&1 || { cat "$work/$1.log" >&2; fail "$2"; }
}

components=(plugins rdconnect dev standin_host standin_labelmap standin_command)
declare -A package_of=([plugins]=zunder-plugins [rdconnect]=rdconnect [dev]=zunder-dev
	[standin_host]=libzunder10 [standin_labelmap]=libpavane-conntrack1 [standin_command]=zunder)
hello=$'block 0700000000000000\nlist hello greeting:7\nsave --greeting 7'
ah=$'block f4010000f40100000000000000000000\nlist ah spi:500\nsave --ahspi 500'
# zunder runs with none of these unless `zenv` sets them again.
clean_env=(env -u ZUNDER_PLUGIN_DIR -u LD_LIBRARY_PATH -u PAVANE_CONNLABEL_CONF)
zenv=()

# The files and links a component installs, relative to /, sorted.
component_files() {
	local p=${ZT_PREFIX#/} l=${ZT_PREFIX#/}/$ZT_LIBDIR f=()
	case $1 in
	plugins)
		f=(${ZT_PLUGINS//:/ })
		f=("${f[@]/#/$l/zunder/}" $p/share/man/man7/zunder-clauses.7.gz)
		;;
	rdconnect) f=($p/bin/rdconnect $p/share/man/man1/rdconnect.1.gz) ;;
	dev) f=($p/include/{pavane_conntrack.h,zunder.h,zunder/plugin.h} $l/lib{pavane_conntrack,zunder}.so
		$l/pkgconfig/zunder.pc
		$l/cmake/zunder/{ZunderPluginSettings.cmake,zunderConfig{,Version}.cmake,zunder_link_stub.c}) ;;
	standin_host) f=($l/libzunder.so.10{,.0.0}) ;;
	standin_labelmap) f=($l/libpavane_conntrack.so.1{,.0.0}) ;;
	standin_command) f=($p/bin/zunder "${ZT_SYSCONFDIR#/}/connlabel.conf" $p/share/man/man8/zunder.8.gz) ;;
	esac
	printf '%s\n' "$p/share/doc/${package_of[$1]}/"{changelog.gz,copyright} "${f[@]}" | LC_ALL=C sort
}

# check_file_list WHAT EXPECTED: the paths on stdin (any order) are EXPECTED.
check_file_list() {
	local actual
	actual=$(sed 's|^\./||' | LC_ALL=C sort)
	[[ "$actual" == "$2" ]] || {
		diff <(echo "$2") <(echo "$actual") >&2
		fail "$1: file list differs from the expected one (< expected, > found)"
	}
}

elf_files() {
	local file
	while IFS= read -r file; do
		[[ "$(od -An -N4 -c "$file" | tr -d ' ')" == 177ELF ]] || continue
		echo "$file"
	done < <(find "$@" -type f)
}

# Whether the label file lies under the prefix (not so for /usr: /etc).
labels_under_prefix() {
	[[ "$ZT_SYSCONFDIR" == "$ZT_PREFIX"/* ]]
}

# No plug-in may ask libzunder.so.10 for a symbol version (the platform's
# library may have none, or its own), yet each needs the library.
check_no_host_version_need() {
	local file
	for file in "$@"; do
		readelf -dW "$file" | grep -q 'NEEDED.*\[libzunder\.so\.10\]' || fail "$file does not need libzunder.so.10"
		! readelf -VW "$file" | grep -q 'File: libzunder\.so\.10' ||
			fail "$file needs a symbol version of libzunder.so.10:"$'\n'"$(readelf -VW "$file")"
	done
}

# expect_zunder EXPECTED ARGS...: the tree's zunder prints EXPECTED.
expect_zunder() {
	local actual
	actual=$("${clean_env[@]}" "${zenv[@]}" $ZT_EMULATOR "$root$ZT_PREFIX/bin/zunder" "${@:2}") ||
		fail "zunder ${*:2} failed"
	same "zunder ${*:2}'s output" "$actual" "$1"
}

# The checks both trees pass: relocatable RUNPATHs, the label file's place,
# the installed programs finding their plug-ins and libraries unaided.
check_tree() {
	local l=$root$ZT_PREFIX/$ZT_LIBDIR file runpath entry needed found default
	# RUNPATHs are relative to $ORIGIN and reach every project library needed.
	while IFS= read -r file; do
		runpath=$(readelf -d "$file" | sed -n 's/.*(\(RUNPATH\|RPATH\)).*\[\(.*\)\]/\2/p')
		for entry in ${runpath//:/ }; do
			[[ "$entry" == '$ORIGIN'* ]] || fail "$file: RUNPATH entry $entry is not relative to \$ORIGIN"
		done
		for needed in $(readelf -d "$file" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p'); do
			[[ -e "$l/$needed" ]] || continue # a system library
			found=no
			for entry in ${runpath//:/ }; do
				[[ -e "${entry/\$ORIGIN/$(dirname "$file")}/$needed" ]] && found=yes
			done
			[[ $found == yes ]] || fail "$file: needs $needed, which its RUNPATH '$runpath' does not reach"
		done
	done < <(elf_files "$root$ZT_PREFIX/bin" "$root$ZT_PREFIX/lib")

	# The label map defaults to the installed label file: relative to its
	# own folder under the prefix, so the tree moves; else absolute.
	[[ -f "$root$ZT_SYSCONFDIR/connlabel.conf" ]] || fail "no $ZT_SYSCONFDIR/connlabel.conf"
	default=$ZT_SYSCONFDIR/connlabel.conf
	labels_under_prefix && default=$(realpath -m --relative-to="$ZT_PREFIX/$ZT_LIBDIR" "$default")
	grep -qaF "$default" "$l/libpavane_conntrack.so.1" || fail "libpavane_conntrack does not default to $default"

	zenv=()
	expect_zunder "$ah" -6 -m ah --ahspi 500
	if [[ ":$ZT_PLUGINS:" == *:libzu_connlabel.so:* ]]; then
		# Found one folder up from the plug-in; /etc is named as the tree is not at /.
		labels_under_prefix || zenv=("PAVANE_CONNLABEL_CONF=$root$ZT_SYSCONFDIR/connlabel.conf")
		expect_zunder $'block 0400010000000000\nlist connlabel ! \'bulk-traffic\'\nsave ! --label "bulk-traffic"' \
			-m connlabel ! --label bulk-traffic
		zenv=()
	fi
	check_no_host_version_need "$l"/zunder/*.so
}

# build_example SYSROOT: builds the example plug-in in $work/hello against the
# development files under SYSROOT alone (a cross build's toolchain file
# included) and installs it under $work/hello-dest: only into the plug-in folder.
build_example() {
	local b=$work/hello
	mkdir -p "$b"
	printf '%s\n' ${ZT_TOOLCHAIN:+"include(\"$ZT_TOOLCHAIN\")"} "set(CMAKE_FIND_ROOT_PATH \"$1\")" \
		"set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)" >"$b/sysroot.cmake"
	logged hello "the example plug-in does not build against $1" "$ZT_CMAKE" -S "$ZT_EXAMPLE" -B "$b" \
		-DCMAKE_TOOLCHAIN_FILE="$b/sysroot.cmake" -DCMAKE_C_COMPILER="$ZT_CC" -DCMAKE_CXX_COMPILER="$ZT_CXX" \
		-DCMAKE_INSTALL_PREFIX="$ZT_PREFIX" -DCMAKE_PREFIX_PATH="$ZT_PREFIX" -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF \
		-DCMAKE_COMPILE_WARNING_AS_ERROR=ON
	logged hello "the example plug-in does not build against $1" "$ZT_CMAKE" --build "$b"
	logged hello "the example plug-in does not install" env DESTDIR="$b-dest" "$ZT_CMAKE" --install "$b"
	same "the example's install" "$(cd "$b-dest" && find . -type f -o -type l)" \
		"./${ZT_PREFIX#/}/$ZT_LIBDIR/zunder/libzu_hello.so"
	check_no_host_version_need "$b/libzu_hello.so"
}
