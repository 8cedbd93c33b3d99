#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Installs the build under a scratch DESTDIR and checks the tree, then the
# example out-of-tree plug-in built from the development files alone (CMake
# package and pkg-config) and loaded by the installed zunder, then an install
# under another prefix.  Settings: tests/install/CMakeLists.txt.
set -euo pipefail
source "$ZT_SOURCE/tree_checks.sh"

work=$(mktemp -d "$ZT_BUILD/install-test.XXXXXX")
trap 'rm -rf "$work"' EXIT
root=$work/root p=$work/root$ZT_PREFIX
l=$p/$ZT_LIBDIR

logged install "cmake --install failed" env DESTDIR="$root" "$ZT_CMAKE" --install "$ZT_BUILD"
(cd "$root" && find . -type f -o -type l) | check_file_list "installed tree" \
	"$(for c in "${components[@]}"; do component_files "$c"; done | LC_ALL=C sort)"
same "libzunder.so's target" "$(readlink "$l/libzunder.so")" libzunder.so.10
gzip -t "$p"/share/man/man*/*.gz || fail "a man page is not a whole gzip file"
check_tree
if grep -rlF -e "$ZT_BUILD" -e "$(dirname "$(dirname "$ZT_SOURCE")")/" "$l/cmake" "$l/pkgconfig"; then
	fail "installed development files name the build or source tree"
fi

# The example, built against the dev component staged as a sysroot: found in
# the prefix's plug-in folder, then through a list of folders, its own first.
logged install "cmake --install --component dev failed" \
	env DESTDIR="$work/sysroot" "$ZT_CMAKE" --install "$ZT_BUILD" --component dev
build_example "$work/sysroot"
cp "$work/hello-dest$ZT_PREFIX/$ZT_LIBDIR/zunder/libzu_hello.so" "$l/zunder/"
expect_zunder "$hello" -m hello --greeting 7
rm "$l/zunder/libzu_hello.so"
zenv=("ZUNDER_PLUGIN_DIR=$work/hello:$l/zunder")
expect_zunder "$hello" -6 -m hello --greeting 7
expect_zunder "$ah" -6 -m ah --ahspi 500

# pkg-config's flags name the installed tree and build the example.
export PKG_CONFIG_LIBDIR=$l/pkgconfig PKG_CONFIG_PATH=
flags=$(PKG_CONFIG_SYSROOT_DIR=$root pkg-config --cflags --libs zunder) || fail "pkg-config does not resolve zunder"
same "pkg-config's flags" "$(echo $flags)" "-I$p/include -L$l -lzunder"
same "pkg-config's plugindir" "$(pkg-config --variable=plugindir zunder)" "$ZT_PREFIX/$ZT_LIBDIR/zunder"
[[ "$(pkg-config --modversion zunder)" == 1.* ]] || fail "pkg-config version"
mkdir -p "$work/pc"
# shellcheck disable=SC2086
"$ZT_CXX" -std=c++20 -fPIC -shared -fno-exceptions -fno-rtti -o "$work/pc/libzu_hello.so" \
	"$ZT_EXAMPLE/hello.cpp" $flags || fail "the example does not build with pkg-config's flags"
zenv=("ZUNDER_PLUGIN_DIR=$work/pc")
expect_zunder "$hello" -m hello --greeting 7

# Under another prefix the tree still finds its own label file (for /usr
# that file is /etc, outside the prefix: not tried).
if labels_under_prefix && [[ ":$ZT_PLUGINS:" == *:libzu_connlabel.so:* ]]; then
	moved=$work/moved
	logged moved "cmake --install --prefix failed" env DESTDIR= "$ZT_CMAKE" --install "$ZT_BUILD" --prefix "$moved"
	[[ -f "$moved/${ZT_SYSCONFDIR#"$ZT_PREFIX"/}/connlabel.conf" ]] || fail "no label file under $moved"
	actual=$("${clean_env[@]}" $ZT_EMULATOR "$moved/bin/zunder" -m connlabel --label bulk-traffic 2>&1) &&
		[[ "$actual" == $'block 0400000000000000\nlist connlabel \'bulk-traffic\'\nsave --label "bulk-traffic"' ]] ||
		fail "zunder installed with --prefix $moved: $actual"
fi
echo "install tree: all checks passed"
