// SPDX-License-Identifier: GPL-2.0-or-later
// The zunder command itself: its command line, plug-in lookup, batch mode
// and the guards around plug-in calls, through the real binary, one call a
// line (see tests/support/rule_table.h).
#include "rule_table.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

namespace {

using namespace ztest;
using namespace std::string_literals;

const std::string usage =
	"usage: zunder [-4|-6] [-n] (-m|-j) NAME [OPTION...]   parse, check, list, save\n       zunder [-4|-6] [-n] (-m|-j) NAME --block HEX   list and save a block\n       zunder (-m|-j) NAME ... -h|--help              the plug-in's help\n       zunder --batch FILE|-                          one such call a line\n       zunder --check FILE|-                          which saved rules read back\n       zunder --kernel ...                            any of these through the kernel\n       zunder -h|--help                               this text\n       zunder --version                               the version\n";

// clang-format off
const std::vector<row> calls = {
	// Usage errors say what is wrong in one line; help goes to standard output.
	gives(words{}, "", 2, "", "zunder: missing -m NAME or -j NAME\n"),
	gives(words{"-6"}, "", 2, "", "zunder: missing -m NAME or -j NAME\n"),
	gives(words{"-6", "-6"}, "", 2, "", "zunder: missing -m NAME or -j NAME\n"),
	gives(words{"-m"}, "", 2, "", "zunder: -m needs a NAME\n"),
	gives(words{"-6", "-j"}, "", 2, "", "zunder: -j needs a NAME\n"),
	gives(words{"-x"}, "", 2, "", "zunder: expected -4, -6, -n, -m or -j, not \"-x\"\n"),
	gives(words{"-x", "ah"}, "", 2, "", "zunder: expected -4, -6, -n, -m or -j, not \"-x\"\n"),
	gives(words{"-n", "-6", "ah"}, "", 2, "", "zunder: expected -4, -6, -n, -m or -j, not \"ah\"\n"),
	gives(words{"--batch"}, "", 2, "", "zunder: --batch takes one argument, FILE or -\n"),
	gives(words{"--batch", "a", "b"}, "", 2, "", "zunder: --batch takes one argument, FILE or -\n"),
	gives(words{"--check"}, "", 2, "", "zunder: --check takes one argument, FILE or -\n"),
	gives(words{"--help", "x"}, "", 2, "", "zunder: --help takes no argument\n"),
	gives(words{"-h", "-m", "ah"}, "", 2, "", "zunder: -h takes no argument\n"),
	gives(words{"-h"}, "", 0, usage, ""),
	gives(words{"--help"}, "", 0, usage, ""),
	// Plug-in lookup; the ah file registers a match, not a target.
	gives(words{"-m", "nosuch"}, "", 2, "", "zunder: no match \"nosuch\" exists for IPv4 (looked in " ZUNDER_PLUGIN_DIR "/libzu_nosuch.so)\n"),
	gives(words{"-6", "-j", "nosuch"}, "", 2, "", "zunder: no target \"nosuch\" exists for IPv6 (looked in " ZUNDER_PLUGIN_DIR "/libzu_nosuch.so, " ZUNDER_PLUGIN_DIR "/libqeb_nosuch.so)\n"),
	gives(words{"--version"}, "", 0, "zunder 1.0.0\n", ""),
	gives(words{"--version", "-h"}, "", 2, "", "zunder: --version takes no argument\n"),
	// A clause of the other kind, or of the other family only, is named as such.
	gives(words{"-6", "-j", "ah"}, "", 2, "", "zunder: \"ah\" is a match, not a target: use -6 -m ah\n"),
	gives(words{"-j", "ah", "-h"}, "", 2, "", "zunder: \"ah\" is a match, not a target: use -6 -m ah\n"),
	gives(words{"-j", "policy", "--dir", "in"}, "", 2, "", "zunder: \"policy\" is a match, not a target: use -m policy\n"),
	gives(words{"-6", "-m", "RATEEST", "--rateest-name", "x"}, "", 2, "", "zunder: \"RATEEST\" is a target, not a match: use -6 -j RATEEST\n"),
	gives(words{"-m", "ipv6header", "-6", "--header", "esp"}, "", 2, "", "zunder: match \"ipv6header\" serves IPv6 only: give -6 before -m (-6 -m ipv6header)\n"),
	gives(words{"-m", "../lib/x"}, "", 2, "", "zunder: invalid match name \"../lib/x\"\n"),
	gives(words{"-m", ""}, "", 2, "", "zunder: invalid match name \"\"\n"),
	gives(words{"-m", std::string(40, 'a')}, "", 2, "", "zunder: invalid match name \"" + std::string(40, 'a') + "\"\n"),
	// The block argument.
	gives(words{"-6", "-m", "ah", "--block", ""}, "", 2, "", "zunder: --block for match \"ah\" needs exactly 16 bytes as 32 hexadecimal digits\n"),
	gives(words{"-6", "-m", "ah", "--block", "0000000000000000000000000000000"}, "", 2, "", "zunder: --block for match \"ah\" needs exactly 16 bytes as 32 hexadecimal digits\n"),
	gives(words{"-6", "-m", "ah", "--block", "0000000000000000000000000000000000"}, "", 2, "", "zunder: --block for match \"ah\" needs exactly 16 bytes as 32 hexadecimal digits\n"),
	gives(words{"-6", "-m", "ah", "--block", "0000000000000000000000000000000g"}, "", 2, "", "zunder: --block for match \"ah\" needs exactly 16 bytes as 32 hexadecimal digits\n"),
	gives(words{"-6", "-m", "ah", "--block", "000000000000000000000000000000 0"}, "", 2, "", "zunder: --block for match \"ah\" needs exactly 16 bytes as 32 hexadecimal digits\n"),
	gives(words{"-6", "-m", "ah", "--block"}, "", 2, "", "zunder: --block takes one argument and no other option\n"),
	gives(words{"-6", "-m", "ah", "--block", "00000000000000000000000000000000", "--ahres"}, "", 2, "", "zunder: --block takes one argument and no other option\n"),
	gives(words{"-6", "-m", "ah", "--block", "05000000050000000000000000AcCd00"}, "", 0, "list ah spi:5 Unknown invflags: 0xAC\nsave --ahspi 5\n", ""),
	// A batch writes what single calls would, in order; quoting as a shell does for simple cases; an error
	// stops the batch after the earlier lines.
	gives(words{"--batch", "FILE"}, "# a comment\n\n   \t\n-6 -m ah --ahspi 500\n  -6   -m ah \"!\" --ahspi \"1:2\"\x0d\n   # indented comment\n-6 -m ah --block 00000000ffffffff0000000001000000\n-6 -m ah --ahlen 1\n", 0, "block f4010000f40100000000000000000000\nlist ah spi:500\nsave --ahspi 500\nblock 01000000020000000000000000010000\nlist ah spis:!1:2\nsave ! --ahspi 1:2\nlist ah  reserved\nsave --ahres\nblock 00000000ffffffff0100000000000000\nlist ah length:1\nsave --ahlen 1\n", ""),
	gives(words{"-6", "-m", "ah", "--ahlen", "1"}, "", 0, "block 00000000ffffffff0100000000000000\nlist ah length:1\nsave --ahlen 1\n", ""),
	gives(words{"-6", "-m", "ah", "!", "--ahspi", "1:2"}, "", 0, "block 01000000020000000000000000010000\nlist ah spis:!1:2\nsave ! --ahspi 1:2\n", ""),
	gives(words{"-6", "-m", "ah", "--ahspi", "500"}, "", 0, "block f4010000f40100000000000000000000\nlist ah spi:500\nsave --ahspi 500\n", ""),
	gives(words{"--batch", "FILE"}, "-6 -m ah --ahlen \"a b\"\n", 2, "", "zunder: line 1: ah: option \"--ahlen\": \"a b\" is not a number from 0 to 4294967295\n"),
	gives(words{"--batch", "FILE"}, "-6 -m ah --ahlen \"a\\\"b\"\n", 2, "", "zunder: line 1: ah: option \"--ahlen\": \"a\"b\" is not a number from 0 to 4294967295\n"),
	gives(words{"--batch", "FILE"}, "-6 -m ah --ahlen \"a\\\\b\"\n", 2, "", "zunder: line 1: ah: option \"--ahlen\": \"a\\b\" is not a number from 0 to 4294967295\n"),
	gives(words{"--batch", "FILE"}, "-6 -m ah --ahlen 'a\"b'\n", 2, "", "zunder: line 1: ah: option \"--ahlen\": \"a\"b\" is not a number from 0 to 4294967295\n"),
	gives(words{"--batch", "FILE"}, "-6 -m ah --ahlen a\\ b\n", 2, "", "zunder: line 1: ah: option \"--ahlen\": \"a b\" is not a number from 0 to 4294967295\n"),
	gives(words{"--batch", "FILE"}, "-6 -m ah --ahlen x\"y z\"w\n", 2, "", "zunder: line 1: ah: option \"--ahlen\": \"xy zw\" is not a number from 0 to 4294967295\n"),
	gives(words{"--batch", "FILE"}, "-6 -m ah --ahlen \"\"\n", 2, "", "zunder: line 1: ah: option \"--ahlen\": \"\" is not a number from 0 to 4294967295\n"),
	gives(words{"--batch", "FILE"}, "-6 -m ah --ahspi 1\n\n-6 -m ah --ahspi 2 --ahspi 3\n-6 -m ah --ahspi 4\n", 2, "block 01000000010000000000000000000000\nlist ah spi:1\nsave --ahspi 1\n", "zunder: line 3: ah: option \"--ahspi\" may be given only once\n"),
	ok("-6 -m ah --ahspi 1", "01000000010000000000000000000000", " ah spi:1", " --ahspi 1"),
	gives(words{"--batch", "/nonexistent/rules"}, "", 2, "", "zunder: cannot read /nonexistent/rules: No such file or directory\n"),
	gives(words{"--batch", "FILE"}, "-6 -m ah --ahlen \"1\n", 2, "", "zunder: line 1: unterminated double quote\n"),
	gives(words{"--batch", "FILE"}, "-6 ah\n", 2, "", "zunder: line 1: expected -4, -6, -n, -m or -j, not \"ah\"\n"),
};

const std::vector<row> other_plugin_folders = {
	gives(words{"-6", "-m", "ah"}, "", 2, "", "zunder: no match \"ah\" exists for IPv6 (looked in /nonexistent/libzu_ah.so, /nonexistent/libqeb_ah.so)\n"),
};

const std::vector<row> build_plugin_folder = {
	ok("-6 -m ah --ahspi 1", "01000000010000000000000000000000", " ah spi:1", " --ahspi 1"),
};

// A faulty plug-in's writes outside its blocks are caught; the record's origin is the host's own copy of
// the path, not the caller's.
const std::vector<row> guards = {
	gives(words{"-m", "broken", "--past-end"}, "", 2, "", "zunder: match broken: plug-in " ZUNDER_TEST_PLUGIN_DIR "/libzu_broken.so wrote outside its block in parse\n"),
	gives(words{"-m", "broken", "--before-start"}, "", 2, "", "zunder: match broken: plug-in " ZUNDER_TEST_PLUGIN_DIR "/libzu_broken.so wrote outside its block in parse\n"),
	gives(words{"-m", "broken", "--scratch-past-end"}, "", 2, "", "zunder: match broken: plug-in " ZUNDER_TEST_PLUGIN_DIR "/libzu_broken.so wrote outside its block in parse\n"),
	gives(words{"-m", "broken", "--spoil-listing"}, "", 2, "", "zunder: match broken: plug-in " ZUNDER_TEST_PLUGIN_DIR "/libzu_broken.so wrote outside its block in print\n"),
	gives(words{"-m", "broken"}, "", 0, "block 0000000000000000\nlist\nsave from " ZUNDER_TEST_PLUGIN_DIR "/libzu_broken.so\n", ""),
	gives(words{"-m", "broken", "--block", "ee00000000000000"}, "", 2, "", "zunder: match broken: plug-in " ZUNDER_TEST_PLUGIN_DIR "/libzu_broken.so wrote outside its block in print\n"),
	// A check takes saved text that cannot be split as not reading back; a fault during the read-back ends it.
	gives(words{"--check", "FILE"}, "-m broken --block 2700000000000000\n", 1, "line 1: block 2700000000000000, read back refused (unterminated single quote), save 'unterminated\nrules checked: 1, not parsing: 0, not reading back: 1\n", ""),
	gives(words{"--check", "FILE"}, "-m broken --block 2700000000000000\n-m broken --block fa00000000000000\n-m broken\n", 2, "line 1: block 2700000000000000, read back refused (unterminated single quote), save 'unterminated\n", "zunder: line 2: match broken: plug-in " ZUNDER_TEST_PLUGIN_DIR "/libzu_broken.so wrote outside its block in parse\n"),
};

// A file that registers loosely is refused in one line; what it registers
// is chosen by ZUNDER_TEST_LOOSE.
const std::string loose_file = ZUNDER_TEST_PLUGIN_DIR "/libzu_loose.so";
const struct {
	std::string what;
	std::vector<row> rows;
} loose_registrations[] = {
	{"", {gives(words{"-m", "loose"}, "", 0, "block 0000000000000000\nlist\nsave\n", ""),
	      gives(words{"-j", "loose"}, "", 2, "", "zunder: \"loose\" is a match, not a target: use -m loose\n")}},
	{"twice", {gives(words{"-m", "loose"}, "", 2, "", "zunder: cannot load " + loose_file + ": match \"loose\" not registered: it is registered twice for any family\n")}},
	{"shadow", {gives(words{"-m", "loose"}, "", 2, "", "zunder: cannot load " + loose_file + ": match \"policy\" not registered: its file is named for \"loose\"\n")}},
	{"huge", {gives(words{"-6", "-m", "loose"}, "", 2, "", "zunder: cannot load " + loose_file + ": match \"loose\" not registered: its block size is larger than 65496 bytes\n")}},
};
// clang-format on

TEST(Command, Calls)
{
	check_table(calls);
}

TEST(Command, PluginFolders)
{
	check_table(other_plugin_folders, {"ZUNDER_PLUGIN_DIR=/nonexistent"});
	check_table(build_plugin_folder, {"ZUNDER_PLUGIN_DIR=" ZUNDER_PLUGIN_DIR});
	// A call row, not an accepted one: accepted rows are replayed on the armhf
	// kernel, whose copy of the build maps single folders only.
	check_table({gives(words{"-6", "-m", "ah", "--ahspi", "1"}, "", 0,
			   "block 01000000010000000000000000000000\nlist ah spi:1\nsave --ahspi 1\n", "")},
		    {"ZUNDER_PLUGIN_DIR=/nonexistent::" ZUNDER_PLUGIN_DIR ":"});
	check_table(
		{gives(words{"-6", "-m", "ah"}, "", 2, "",
		       "zunder: no match \"ah\" exists for IPv6 (looked in /a/libzu_ah.so, /a/libqeb_ah.so, "
		       "/b/libzu_ah.so, /b/libqeb_ah.so)\n")},
		{"ZUNDER_PLUGIN_DIR=/a:/b"});
}

// ZUNDER_PLUGIN_DIR is a list searched in order: of two folders holding the
// same clause, the first serves it (libzu_broken saves the file it came from).
TEST(Command, PluginFolderListInOrder)
{
	const std::string copy = testing::TempDir() + "/" + std::to_string(getpid()) + "-first-plugins";
	std::filesystem::create_directories(copy);
	std::filesystem::copy_file(ZUNDER_TEST_PLUGIN_DIR "/libzu_broken.so", copy + "/libzu_broken.so",
				   std::filesystem::copy_options::overwrite_existing);
	for (const std::string &first : {copy, std::string(ZUNDER_TEST_PLUGIN_DIR)}) {
		const std::string second = first == copy ? ZUNDER_TEST_PLUGIN_DIR : copy;
		check_table({gives(words{"-m", "broken"}, "", 0,
				   "block 0000000000000000\nlist\nsave from " + first + "/libzu_broken.so\n",
				   "")},
			    {"ZUNDER_PLUGIN_DIR=" + first + ":" + second});
	}
	std::filesystem::remove_all(copy);
}

// A file offering records the host refuses fails to load, in one line that
// says which records and why.
TEST(Command, RefusedRecordsFailTheLoadInOneLine)
{
	const std::string why =
		"zunder: cannot load " ZUNDER_TEST_PLUGIN_DIR
		"/libzu_other_host.so: match \"other_host\" not registered: it was built for another host version; target \"other_host\" not registered: it lacks a print or save operation\n";
	check_table({gives(words{"-m", "other_host"}, "", 2, "", why),
		     gives(words{"-6", "-j", "other_host", "-h"}, "", 2, "", why)},
		    {"ZUNDER_PLUGIN_DIR=" ZUNDER_TEST_PLUGIN_DIR});
}

// Without /proc (a bare chroot or container) the program's own folder is
// unknown: the plug-in folder is then ZUNDER_PLUGIN_DIR or an error, never
// the current folder, here one holding a plug-in file that would load.
TEST(Command, NoPluginFolderFromTheCurrentFolder)
{
	if (ztest::emulated())
		GTEST_SKIP() << "the emulator answers /proc/self/exe itself";
#if defined(ZUNDER_SANITIZED)
	GTEST_SKIP() << "the sanitizer runtime does not start without /proc";
#endif
	if (geteuid() != 0 || ztest::run_shell("unshare -m true").status != 0)
		GTEST_SKIP() << "hiding /proc needs root and a mount namespace of its own";
	const std::string dir = testing::TempDir() + "/" + std::to_string(getpid()) + "-cwd-plugins";
	std::filesystem::create_directories(dir);
	std::filesystem::copy_file(ZUNDER_TEST_PLUGIN_DIR "/libzu_broken.so", dir + "/libzu_broken.so",
				   std::filesystem::copy_options::overwrite_existing);
	const std::string no_folder =
		"zunder: cannot find the plug-in folder: /proc/self/exe: No such file or "
		"directory; set ZUNDER_PLUGIN_DIR\n";
	const struct {
		std::string plugin_dir; // "-" for unset
		std::string out, err;
	} cases[] = {
		{"-", "", no_folder},
		{"", "", no_folder},
		{dir, "block 0000000000000000\nlist\nsave from " + dir + "/libzu_broken.so\n", ""},
	};
	for (const auto &c : cases) {
		// Without /proc the loader cannot find the libraries beside the program either.
		const std::string script =
			"cd \"$DIR\" && unshare -m sh -c 'mount -t tmpfs none /proc && "
			"LD_LIBRARY_PATH=" ZUNDER_PLUGIN_DIR " exec $ZUNDER -m broken'";
		const auto r =
			ztest::run_shell(script, {"DIR=" + dir,
						  c.plugin_dir == "-" ? "ZUNDER_PLUGIN_DIR"
								      : "ZUNDER_PLUGIN_DIR=" + c.plugin_dir});
		EXPECT_EQ(r.status, c.err.empty() ? 0 : 2) << c.plugin_dir;
		EXPECT_EQ(r.out, c.out) << c.plugin_dir;
		EXPECT_EQ(r.err, c.err) << c.plugin_dir;
	}
	std::filesystem::remove_all(dir);
}

TEST(Command, Guards)
{
	check_table(guards, {"ZUNDER_PLUGIN_DIR=" ZUNDER_TEST_PLUGIN_DIR});
}

TEST(Command, LooseRegistrations)
{
	for (const auto &loose : loose_registrations)
		check_table(loose.rows,
			    {"ZUNDER_PLUGIN_DIR=" ZUNDER_TEST_PLUGIN_DIR, "ZUNDER_TEST_LOOSE=" + loose.what});
}

} // namespace
