// SPDX-License-Identifier: GPL-2.0-or-later
#include "rule_checks.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace {

using ztest::accepted_rule;
using ztest::rejected_rule;

const std::vector<std::string> connlabel4 = {"-4", "-m", "connlabel"};
const std::vector<std::string> connlabel6 = {"-6", "-m", "connlabel"};

std::vector<std::string> connlabel(std::vector<std::string> options)
{
	return ztest::concat(connlabel4, options);
}

// A temporary folder holding the label file the zunder children read.
class Connlabel : public ::testing::Test {
protected:
	static void SetUpTestSuite()
	{
		char pattern[] = "/tmp/connlabel_test.XXXXXX";
		ASSERT_NE(mkdtemp(pattern), nullptr);
		dir_ = new std::string(pattern);
		std::ofstream(*dir_ + "/labels") << "# labels for the tests\n"
						    "5 blocked\n"
						    "0\tfirst\n"
						    "127 last\n"
						    "9 Mixed\n"
						    "40 quote'd\n";
		env_ = new std::vector<std::string>{"PAVANE_CONNLABEL_CONF=" + *dir_ + "/labels"};
	}
	static void TearDownTestSuite()
	{
		std::filesystem::remove_all(*dir_);
		delete dir_;
		delete env_;
	}
	static const std::vector<std::string> &env() { return *env_; }
	static const std::string &dir() { return *dir_; }

private:
	static std::string *dir_;
	static std::vector<std::string> *env_;
};

std::string *Connlabel::dir_ = nullptr;
std::vector<std::string> *Connlabel::env_ = nullptr;

TEST_F(Connlabel, AcceptedClauses)
{
	const accepted_rule rules[] = {
		{connlabel({"--label", "blocked"}), "0500000000000000", " connlabel 'blocked'",
		 " --label \"blocked\""},
		{connlabel({"!", "--label", "blocked", "--set"}), "0500030000000000",
		 " connlabel ! 'blocked' set", " ! --label \"blocked\" --set"},
		{connlabel({"--set", "--label", "blocked"}), "0500020000000000", " connlabel 'blocked' set",
		 " --label \"blocked\" --set"},
		{connlabel({"--set", "!", "--label", "blocked"}), "0500030000000000",
		 " connlabel ! 'blocked' set", " ! --label \"blocked\" --set"},
		{ztest::concat(connlabel6, {"!", "--label", "blocked"}), "0500010000000000",
		 " connlabel ! 'blocked'", " ! --label \"blocked\""},
		// -n lists the number; save keeps the name.
		{{"-n", "-m", "connlabel", "!", "--label", "blocked", "--set"},
		 "0500030000000000",
		 " connlabel ! 5 set",
		 " ! --label \"blocked\" --set"},
		{connlabel({"--label", "first"}), "0000000000000000", " connlabel 'first'",
		 " --label \"first\""},
		{connlabel({"--label", "last", "--set"}), "7f00020000000000", " connlabel 'last' set",
		 " --label \"last\" --set"},
		{connlabel({"--label", "quote'd"}), "2800000000000000", " connlabel 'quote'd'",
		 " --label \"quote'd\""},
		// A bit without a name is written as its number and read back from it.
		{connlabel({"--label", "7"}), "0700000000000000", " connlabel 7", " --label \"7\""},
		{connlabel({"!", "--label", "126", "--set"}), "7e00030000000000", " connlabel ! 126 set",
		 " ! --label \"126\" --set"},
		// A named bit given by number lists and saves its name.
		{connlabel({"--label", "5"}), "0500000000000000", " connlabel 'blocked'",
		 " --label \"blocked\""},
	};
	EXPECT_TRUE(ztest::accepts_all({std::begin(rules), std::end(rules)}, env()));
}

TEST_F(Connlabel, RejectedClauses)
{
	const rejected_rule rules[] = {
		// Names reach the map exactly as given; only plain numbers stand for bits.
		{connlabel({"--label", "x"}), "label 'x' not found"},
		{connlabel({"--label", "Blocked"}), "label 'Blocked' not found"},
		{connlabel({"--set", "--label", "mixed"}), "label 'mixed' not found"},
		{connlabel({"--label", "128"}), "label '128' not found"},
		{connlabel({"--label", "-1"}), "label '-1' not found"},
		{connlabel({"--label", ""}),
		 "connlabel: option \"--label\": the text must be at least 1 characters long"},
		{connlabel({"--set"}), "connlabel: option \"--label\" must be given"},
		{connlabel({"--label", "blocked", "!", "--set"}),
		 "connlabel: option \"--set\" cannot be negated"},
		{connlabel({"--label", "blocked", "--label", "last"}),
		 "connlabel: option \"--label\" may be given only once"},
		{connlabel({"--label", "blocked", "--set", "--set"}),
		 "connlabel: option \"--set\" may be given only once"},
		{connlabel({"--label"}), "connlabel: option \"--label\" requires an argument"},
	};
	for (const auto &rule : rules)
		EXPECT_TRUE(ztest::rejects(rule, env()));
}

TEST_F(Connlabel, SavedOptionsParseBackIntoTheSameBlock)
{
	const std::vector<std::string> clauses[] = {
		{"--label", "blocked"},          {"!", "--label", "blocked"},
		{"--label", "blocked", "--set"}, {"!", "--label", "blocked", "--set"},
		{"--label", "quote'd", "--set"}, {"--label", "7"},
		{"!", "--label", "7"},           {"--label", "0"},
		{"--label", "127", "--set"},     {"--set", "!", "--label", "126"},
	};
	for (const auto &options : clauses) {
		EXPECT_TRUE(ztest::round_trips(connlabel4, options, env()));
		EXPECT_TRUE(ztest::round_trips(connlabel6, options, env()));
	}
}

TEST_F(Connlabel, BlocksReadBack)
{
	EXPECT_TRUE(ztest::prints_block(connlabel4, "0500030000000000", " connlabel ! 'blocked' set",
					" ! --label \"blocked\" --set", env()));
	EXPECT_TRUE(ztest::prints_block(connlabel4, "0700020000000000", " connlabel 7 set",
					" --label \"7\" --set", env()));
	// Bits the label map does not have are still written as numbers.
	EXPECT_TRUE(ztest::prints_block(connlabel4, "ffff010000000000", " connlabel ! 65535",
					" ! --label \"65535\"", env()));
	// Only flag bits 0 and 1 mean anything; the last four bytes are never read.
	EXPECT_TRUE(ztest::prints_block(connlabel4, "0500fcffffffffff", " connlabel 'blocked'",
					" --label \"blocked\"", env()));
	EXPECT_TRUE(ztest::prints_block({"-n", "-m", "connlabel"}, "7f00000000000000", " connlabel 127",
					" --label \"last\"", env()));
}

TEST_F(Connlabel, Help)
{
	const auto r = ztest::zunder(ztest::concat(connlabel4, {"-h"}), env());
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(r.err, "");
	EXPECT_EQ(r.out,
		  "connlabel match options:\n"
		  "[!] --label name     Match if label has been set on connection\n"
		  "    --set            Set label on connection\n");
}

// Without a readable label file the plug-in says why, once, and offers no clause.
TEST_F(Connlabel, NotRegisteredWithoutALabelFile)
{
	const std::string plugin = std::string(ZUNDER_PLUGIN_DIR) + "/libzu_connlabel.so (registers none)";
	const struct {
		std::string file;
		std::string why;
		std::vector<std::string> head;
		std::string looked_in;
	} cases[] = {
		{dir() + "/missing", "No such file or directory", connlabel4, "IPv4 (looked in " + plugin},
		// For IPv6 the host also looks for an IPv6-only file.
		{dir() + "/missing", "No such file or directory", connlabel6,
		 "IPv6 (looked in " + plugin + ", " + ZUNDER_PLUGIN_DIR + "/libqeb_connlabel.so"},
		{dir(), "Is a directory", connlabel4, "IPv4 (looked in " + plugin},
		// a FIFO would block the load for ever
		{dir() + "/fifo", "not a regular file", connlabel4, "IPv4 (looked in " + plugin},
	};
	ASSERT_EQ(mkfifo((dir() + "/fifo").c_str(), 0600), 0);
	for (const auto &c : cases) {
		const auto r = ztest::zunder(ztest::concat(c.head, {"--label", "blocked"}),
					     {"PAVANE_CONNLABEL_CONF=" + c.file});
		EXPECT_EQ(r.status, 2) << c.file;
		EXPECT_EQ(r.out, "") << c.file;
		EXPECT_EQ(r.err, "cannot open connlabel.conf, not registering 'connlabel' match: " + c.why +
					 "\nzunder: no match \"connlabel\" exists for " + c.looked_in + ")\n")
			<< c.file;
	}
}

} // namespace
