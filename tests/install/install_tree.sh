#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Installs the build into a scratch DESTDIR and checks the tree: its file
# list, RUNPATHs, the label file's place, no plug-in asking the host library
# for a symbol version, the installed zunder finding its plug-ins, the
# example out-of-tree plug-in built against the development files alone
# (CMake package, staged as a sysroot, and pkg-config) and loaded by the
# installed zunder, alone and through a list of plug-in folders, and an
# install under another prefix running connlabel.
#
# Environment: ZT_BUILD, ZT_PREFIX, ZT_LIBDIR, ZT_SYSCONFDIR, ZT_PLUGINS,
# ZT_CC, ZT_CXX, ZT_CMAKE, ZT_EXAMPLE (the example's folder), ZT_SOURCE (this
# folder); for a cross build also ZT_TOOLCHAIN (the toolchain file) and
# ZT_EMULATOR (runs the target's programs).
set -euo pipefail
source "$ZT_SOURCE/tree_checks.sh"
ZT_EMULATOR=${ZT_EMULATOR:-}

work=$(mktemp -d "$ZT_BUILD/install-test.XXXXXX")
trap 'rm -rf "$work"' EXIT
root=$work/root
p=$root$ZT_PREFIX
l=$p/$ZT_LIBDIR

DESTDIR=$root "$ZT_CMAKE" --install "$ZT_BUILD" >"$work/install.log" ||
	{ cat "$work/install.log" >&2; fail "cmake --install failed"; }

(cd "$root" && find . -type f -o -type l) | check_file_list "installed tree" "$(expected_files)"
[[ "$(readlink "$l/libzunder.so")" == libzunder.so.10 ]] ||
	fail "$ZT_LIBDIR/libzunder.so does not point to libzunder.so.10"
# Man pages are installed compressed and read back whole.
for page in "$p"/share/man/man*/*.gz; do
	gzip -t "$page" || fail "${page#"$root"} is not a whole gzip file"
done
check_runpaths
check_label_default
check_installed_programs

check_no_host_version_need "$l"/zunder/*.so

# Nothing installed may point back into the source or build tree.
if grep -rlF -e "$ZT_BUILD" -e "$(dirname "$(dirname "$ZT_SOURCE")")/" \
	"$l/cmake" "$l/pkgconfig"; then
	fail "installed development files name the build or source tree"
fi

# --- The example out-of-tree plug-in --------------------------------------
# Built with the development files alone (the dev component, staged as a
# sysroot), installed by its own project into the plug-in folder under the
# prefix, then loaded from there by the installed zunder.
DESTDIR=$work/sysroot "$ZT_CMAKE" --install "$ZT_BUILD" --component dev >>"$work/install.log"
build_example "$work/sysroot" "$work/hello" "$work/hello-dest"
cp "$work/hello-dest$ZT_PREFIX/$ZT_LIBDIR/zunder/libzu_hello.so" "$l/zunder/"
hello_out=$'block 0700000000000000\nlist hello greeting:7\nsave --greeting 7'
extra_env=()
expect_zunder "$hello_out" -m hello --greeting 7
# A list of plug-in folders: one's own first, the system's after it.
rm "$l/zunder/libzu_hello.so"
extra_env=("ZUNDER_PLUGIN_DIR=$work/hello:$l/zunder")
expect_zunder "$hello_out" -6 -m hello --greeting 7
expect_zunder $'block f4010000f40100000000000000000000\nlist ah spi:500\nsave --ahspi 500' \
	-6 -m ah --ahspi 500

# Through pkg-config: the flags name the installed tree, the plug-in folder
# is the installed one, and they build the example's source.
export PKG_CONFIG_LIBDIR=$l/pkgconfig PKG_CONFIG_PATH=
flags=$(PKG_CONFIG_SYSROOT_DIR=$root pkg-config --cflags --libs zunder) ||
	fail "pkg-config does not resolve zunder"
[[ "$(echo $flags)" == "-I$p/include -L$l -lzunder" ]] || fail "pkg-config gives: $flags"
[[ "$(pkg-config --variable=plugindir zunder)" == "$ZT_PREFIX/$ZT_LIBDIR/zunder" ]] ||
	fail "pkg-config plugindir is $(pkg-config --variable=plugindir zunder)"
[[ "$(pkg-config --modversion zunder)" == 1.* ]] || fail "pkg-config version"
mkdir -p "$work/pc"
# shellcheck disable=SC2086
"$ZT_CXX" -std=c++20 -fPIC -shared -fno-exceptions -fno-rtti -o "$work/pc/libzu_hello.so" \
	"$ZT_EXAMPLE/hello.cpp" $flags || fail "the example does not build with pkg-config's flags"
extra_env=("ZUNDER_PLUGIN_DIR=$work/pc")
expect_zunder "$hello_out" -m hello --greeting 7

# Installed under another prefix than the build was configured with, the
# tree reads its own label file: connlabel registers with nothing named.
# (For /usr the label file is /etc, outside any prefix: not tried here.)
if labels_under_prefix && [[ ":$ZT_PLUGINS:" == *:libzu_connlabel.so:* ]]; then
	moved=$work/moved
	DESTDIR= "$ZT_CMAKE" --install "$ZT_BUILD" --prefix "$moved" >"$work/moved.log" ||
		{ cat "$work/moved.log" >&2; fail "cmake --install --prefix failed"; }
	[[ -f "$moved/${ZT_SYSCONFDIR#"$ZT_PREFIX"/}/connlabel.conf" ]] || fail "no label file under $moved"
	actual=$(env -u ZUNDER_PLUGIN_DIR -u LD_LIBRARY_PATH -u PAVANE_CONNLABEL_CONF \
		$ZT_EMULATOR "$moved/bin/zunder" -m connlabel --label bulk-traffic 2>&1) ||
		fail "zunder installed with --prefix $moved: $actual"
	[[ "$actual" == $'block 0400000000000000\nlist connlabel \'bulk-traffic\'\nsave --label "bulk-traffic"' ]] ||
		fail "zunder installed with --prefix $moved: $actual"
fi
echo "install tree: all checks passed"
