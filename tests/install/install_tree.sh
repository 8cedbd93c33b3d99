#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Installs the build into a scratch DESTDIR and checks the tree: its file
# list, RUNPATHs, the label file's place, the installed zunder finding its
# plug-ins, and a plug-in built out of tree against the installed
# development files (CMake package and pkg-config) that the installed zunder
# loads.
#
# Environment: ZT_BUILD, ZT_PREFIX, ZT_LIBDIR, ZT_SYSCONFDIR, ZT_PLUGINS, ZT_CXX,
# ZT_CMAKE, ZT_SOURCE (this folder); for a cross build also ZT_TOOLCHAIN
# (the toolchain file) and ZT_EMULATOR (runs the target's programs).
set -euo pipefail
source "$ZT_SOURCE/tree_checks.sh"
ZT_EMULATOR=${ZT_EMULATOR:-}
toolchain=()
[[ -n "${ZT_TOOLCHAIN:-}" ]] && toolchain=("-DCMAKE_TOOLCHAIN_FILE=$ZT_TOOLCHAIN")

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

# Nothing installed may point back into the source or build tree.
if grep -rlF -e "$ZT_BUILD" -e "$(dirname "$(dirname "$ZT_SOURCE")")/" \
	"$l/cmake" "$l/pkgconfig"; then
	fail "installed development files name the build or source tree"
fi

# --- A one-file plug-in, built out of tree --------------------------------
mkdir -p "$work/probe"
cat >"$work/probe/probe.cpp" <<'CPP'
// A minimal match: one mandatory number, stored by the host.
#include <zunder/plugin.h>

#include <cstdint>
#include <cstdio>

namespace {

struct probe_block {
	uint32_t value;
	uint32_t unused;
};

constexpr zu_option_entry probe_options[] = {
	{.name = "probe-value", .type = ZU_TYPE_UINT32, .id = 0,
	 .flags = ZU_FLAG_MANDATORY | ZU_FLAG_STORE, .store_offset = 0, .store_size = 4},
	{},
};

void probe_help() { std::puts("probe match options:\n  --probe-value n"); }
void probe_parse(zu_option_call *call) { zunder_option_parse(call); }
void probe_print(const void *, const zu_clause_entry *entry, int)
{
	std::printf(" probe value:%u", info_block<probe_block>(entry).value);
}
void probe_save(const void *, const zu_clause_entry *entry)
{
	std::printf(" --probe-value %u", info_block<probe_block>(entry).value);
}

constinit zunder_match probe_record = {
	.version = ZUNDER_VERSION,
	.name = "probe",
	.revision = 0,
	.family = ZU_FAMILY_ANY,
	.size = sizeof(probe_block),
	.userspace_size = sizeof(probe_block),
	.help = probe_help,
	.print = probe_print,
	.save = probe_save,
	.parse = probe_parse,
	.final_check = nullptr,
	.options = probe_options,
	.udata_size = 0,
};

} // namespace

ZU_PLUGIN_CONSTRUCTOR(libzu_probe)
{
	zunder_register_match(&probe_record);
}
CPP
cat >"$work/probe/CMakeLists.txt" <<'CMAKE'
cmake_minimum_required(VERSION 3.25)
project(probe LANGUAGES CXX)
set(CMAKE_CXX_STANDARD 20)
find_package(zunder 1 REQUIRED CONFIG)
add_library(libzu_probe MODULE probe.cpp)
set_target_properties(libzu_probe PROPERTIES PREFIX "")
target_compile_options(libzu_probe PRIVATE -fno-exceptions -fno-rtti -Wall -Wextra -Werror
                       -Wno-missing-field-initializers)
target_link_libraries(libzu_probe PRIVATE zunder::zunder)
file(WRITE ${CMAKE_BINARY_DIR}/plugindir.txt "${zunder_PLUGIN_DIR}")
CMAKE

# Through the CMake package.
"$ZT_CMAKE" -S "$work/probe" -B "$work/probe/build" -DCMAKE_CXX_COMPILER="$ZT_CXX" \
	"${toolchain[@]}" -DCMAKE_PREFIX_PATH="$p" -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF >"$work/probe.log" 2>&1 &&
	"$ZT_CMAKE" --build "$work/probe/build" >>"$work/probe.log" 2>&1 ||
	{ cat "$work/probe.log" >&2; fail "the out-of-tree plug-in does not build with find_package(zunder)"; }
[[ "$(cat "$work/probe/build/plugindir.txt")" == "$l/zunder" ]] ||
	fail "zunder_PLUGIN_DIR is $(cat "$work/probe/build/plugindir.txt"), not $l/zunder"

# Through pkg-config: the flags name the installed tree, the plug-in folder
# is the installed one.
export PKG_CONFIG_LIBDIR=$l/pkgconfig PKG_CONFIG_PATH=
flags=$(PKG_CONFIG_SYSROOT_DIR=$root pkg-config --cflags --libs zunder) ||
	fail "pkg-config does not resolve zunder"
[[ "$(echo $flags)" == "-I$p/include -L$l -lzunder" ]] || fail "pkg-config gives: $flags"
[[ "$(pkg-config --variable=plugindir zunder)" == "$ZT_PREFIX/$ZT_LIBDIR/zunder" ]] ||
	fail "pkg-config plugindir is $(pkg-config --variable=plugindir zunder)"
[[ "$(pkg-config --modversion zunder)" == 1.* ]] || fail "pkg-config version"
mkdir -p "$work/probe/pc"
# shellcheck disable=SC2086
"$ZT_CXX" -std=c++20 -fPIC -shared -fno-exceptions -fno-rtti -o "$work/probe/pc/libzu_probe.so" \
	"$work/probe/probe.cpp" $flags || fail "the plug-in does not build with pkg-config's flags"

probe_out=$'block 0700000000000000\nlist probe value:7\nsave --probe-value 7'
# Each copy loads from a folder named by ZUNDER_PLUGIN_DIR ...
for dir in "$work/probe/build" "$work/probe/pc"; do
	extra_env=("ZUNDER_PLUGIN_DIR=$dir")
	expect_zunder "$probe_out" -m probe --probe-value 7
done
# ... and from the installed plug-in folder without it.
cp "$work/probe/build/libzu_probe.so" "$l/zunder/"
extra_env=()
expect_zunder "$probe_out" -6 -m probe --probe-value 7
echo "install tree: all checks passed"
