// SPDX-License-Identifier: GPL-2.0-or-later
// The connlabel clause, one case a line (see tests/support/rule_table.h),
// against a label file of the tests' own.
#include "rule_table.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

namespace {

using namespace ztest;

// A temporary folder holding the label file the zunder children read.
struct label_folder {
	std::string dir;
	label_folder()
	{
		char pattern[] = "/tmp/connlabel_test.XXXXXX";
		dir = mkdtemp(pattern) ? pattern : "/nonexistent";
		std::ofstream(dir + "/labels")
			<< "# labels for the tests\n5 blocked\n0\tfirst\n127 last\n9 Mixed\n"
			<< "40 quote'd\n8 \xc3\xa9t\xc3\xa9\n10 " << std::string(255, 'm') << "\n"
			<< "41 a!!b\n42 a\xc3z\n43 \xff\n";
	}
	~label_folder() { std::filesystem::remove_all(dir); }
};
const label_folder folder;
const std::vector<std::string> labels = {"PAVANE_CONNLABEL_CONF=" + folder.dir + "/labels"};

std::string not_found(const std::string &name)
{
	return "label '" + name + "' not found";
}

// clang-format off
const std::vector<option_row> options = {
	{"--label", "blocked", true, false, true},
	{"--set", "", false, false, false},
};

const std::vector<row> rows = both_families({
	ok("-4 -m connlabel --label blocked", "0500000000000000", " connlabel 'blocked'", " --label \"blocked\""),
	ok("-4 -m connlabel ! --label blocked", "0500010000000000", " connlabel ! 'blocked'", " ! --label \"blocked\""),
	ok("-4 -m connlabel --label blocked --set", "0500020000000000", " connlabel 'blocked' set", " --label \"blocked\" --set"),
	ok("-4 -m connlabel ! --label blocked --set", "0500030000000000", " connlabel ! 'blocked' set", " ! --label \"blocked\" --set"),
	ok("-4 -m connlabel --label \"quote'd\" --set", "2800020000000000", " connlabel 'quote'd' set", " --label \"quote'd\" --set"),
	ok("-4 -m connlabel --label first", "0000000000000000", " connlabel 'first'", " --label \"first\""),
	ok("-4 -m connlabel --label last --set", "7f00020000000000", " connlabel 'last' set", " --label \"last\" --set"),
	// A bit without a name is written as its number and read back from it; a named bit given by number lists and saves its name.
	ok("-4 -m connlabel --label 7", "0700000000000000", " connlabel 7", " --label \"7\""),
	ok("-4 -m connlabel ! --label 7", "0700010000000000", " connlabel ! 7", " ! --label \"7\""),
	ok("-4 -m connlabel ! --label 126 --set", "7e00030000000000", " connlabel ! 126 set", " ! --label \"126\" --set"),
	ok("-4 -m connlabel --set ! --label 126", "7e00030000000000", " connlabel ! 126 set", " ! --label \"126\" --set"),
	ok("-4 -m connlabel --label 0", "0000000000000000", " connlabel 'first'", " --label \"first\""),
	ok("-4 -m connlabel --label 127 --set", "7f00020000000000", " connlabel 'last' set", " --label \"last\" --set"),
}) + std::vector<row>{
	ok("-4 -m connlabel --set --label blocked", "0500020000000000", " connlabel 'blocked' set", " --label \"blocked\" --set"),
	ok("-4 -m connlabel --set ! --label blocked", "0500030000000000", " connlabel ! 'blocked' set", " ! --label \"blocked\" --set"),
	ok("-4 -m connlabel --label \"quote'd\"", "2800000000000000", " connlabel 'quote'd'", " --label \"quote'd\""),
	ok("-4 -m connlabel --label 5", "0500000000000000", " connlabel 'blocked'", " --label \"blocked\""),
	// -n lists the number; save keeps the name.
	ok("-n -m connlabel ! --label blocked --set", "0500030000000000", " connlabel ! 5 set", " ! --label \"blocked\" --set"),
	// Blocks read back: bits the map does not have as numbers; only flag bits 0 and 1 mean anything, the last four bytes are never read.
	prints("-4 -m connlabel --block 0500030000000000", " connlabel ! 'blocked' set", " ! --label \"blocked\" --set"),
	prints("-4 -m connlabel --block 0700020000000000", " connlabel 7 set", " --label \"7\" --set"),
	prints("-4 -m connlabel --block ffff010000000000", " connlabel ! 65535", " ! --label \"65535\""),
	prints("-4 -m connlabel --block 0500fcffffffffff", " connlabel 'blocked'", " --label \"blocked\""),
	prints("-n -m connlabel --block 7f00000000000000", " connlabel 127", " --label \"last\""),
	// Names reach the map exactly as given: no trimming, bytes compared as they are; only the plain form of a number stands for a bit.
	no("-4 -m connlabel --label x", not_found("x")),
	no("-4 -m connlabel --label Blocked", not_found("Blocked")),
	no("-4 -m connlabel --set --label mixed", not_found("mixed")),
	no("-4 -m connlabel --label 128", not_found("128")),
	no("-4 -m connlabel --label -1", not_found("-1")),
	no("-4 -m connlabel --label 007", not_found("007")),
	no("-4 -m connlabel --label +5", not_found("+5")),
	no("-4 -m connlabel --label \" 5\"", not_found(" 5")),
	no("-4 -m connlabel --label \"5 \"", not_found("5 ")),
	no("-4 -m connlabel --label 0x5", not_found("0x5")),
	no("-4 -m connlabel --label 4294967301", not_found("4294967301")),
	no("-4 -m connlabel --label \"blocked \"", not_found("blocked ")),
	no("-4 -m connlabel --label \"\xc3\x89t\xc3\xa9\"", not_found("\xc3\x89t\xc3\xa9")),
	no("-4 -m connlabel --label \"\xff\"", not_found("\xff")),
	// The file's names with '!' or bytes outside UTF-8 are skipped: bash would change them as they are typed.
	no("-4 -m connlabel --label 'a!!b'", not_found("a!!b")),
	no("-4 -m connlabel --label \"a\xc3z\"", not_found("a\xc3z")),
	prints("-4 -m connlabel --block 2900000000000000", " connlabel 41", " --label \"41\""),
	prints("-4 -m connlabel --block 2b00000000000000", " connlabel 43", " --label \"43\""),
	no("-4 -m connlabel --label " + std::string(256, 'm'), not_found(std::string(256, 'm'))), // one more than the longest name in the file
	no("-4 -m connlabel --label " + std::string(10000, 'z'), not_found(std::string(10000, 'z'))),
	no("-4 -m connlabel --label \"\"", "connlabel: option \"--label\": the text must be at least 1 characters long"),
	// Words that are no option, repeats, negation, an argument missing after "!".
	no("-4 -m connlabel --set", host_says::must_be_given("connlabel", "--label")),
	no("-4 -m connlabel --label blocked ! --set", host_says::not_negatable("connlabel", "--set")),
	no("-4 -m connlabel --label blocked --label last", host_says::once("connlabel", "--label")),
	no("-4 -m connlabel --label blocked --set --set", host_says::once("connlabel", "--set")),
	no("-4 -m connlabel --labels blocked", host_says::unknown("connlabel", "--labels")),
	no("-4 -m connlabel --label blocked set", host_says::unknown("connlabel", "set")),
	no("-4 -m connlabel --set blocked", host_says::unknown("connlabel", "blocked")),
	no("-4 -m connlabel ! ! --label blocked", host_says::unknown("connlabel", "!")),
	no("-4 -m connlabel ! --label", host_says::needs_argument("connlabel", "--label")),
	help("-4 -m connlabel -h", "connlabel match options:\n[!] --label name     Match if label has been set on connection\n    --set            Set label on connection\n"),
};
// clang-format on

TEST(Connlabel, Table)
{
	check_table(rows, labels);
}

TEST(Connlabel, Grammar)
{
	check_table(grammar_rows("-4 -m connlabel", "", options), labels);
}

// Without a readable label file the plug-in says why, once, and offers no clause.
TEST(Connlabel, NotRegisteredWithoutALabelFile)
{
	const std::string plugin = std::string(ZUNDER_PLUGIN_DIR) + "/libzu_connlabel.so (registers none)";
	const struct {
		std::string file, why, family, looked_in;
	} cases[] = {
		{folder.dir + "/missing", "No such file or directory", "-4", "IPv4 (looked in " + plugin},
		// For IPv6 the host also looks for an IPv6-only file.
		{folder.dir + "/missing", "No such file or directory", "-6",
		 "IPv6 (looked in " + plugin + ", " + ZUNDER_PLUGIN_DIR + "/libqeb_connlabel.so"},
		{folder.dir, "Is a directory", "-4", "IPv4 (looked in " + plugin},
		// a FIFO would block the load for ever
		{folder.dir + "/fifo", "not a regular file", "-4", "IPv4 (looked in " + plugin},
	};
	ASSERT_EQ(mkfifo((folder.dir + "/fifo").c_str(), 0600), 0);
	for (const auto &c : cases) {
		const auto r = zunder({c.family, "-m", "connlabel", "--label", "blocked"},
				      {"PAVANE_CONNLABEL_CONF=" + c.file});
		EXPECT_EQ(r.status, 2) << c.file;
		EXPECT_EQ(r.out, "") << c.file;
		EXPECT_EQ(r.err, "cannot open connlabel.conf, not registering 'connlabel' match: " + c.why +
					 "\nzunder: no match \"connlabel\" exists for " + c.looked_in + ")\n")
			<< c.file;
	}
}

} // namespace
