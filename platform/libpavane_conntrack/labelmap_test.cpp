// SPDX-License-Identifier: GPL-2.0-or-later
// The label-file reader: which lines define labels, which are skipped, and
// how names and numbers are looked up.
#include "pavane_conntrack.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

namespace {

struct map_deleter {
	void operator()(mokt_labelmap *map) const { mokt_labelmap_free(map); }
};
using map_ptr = std::unique_ptr<mokt_labelmap, map_deleter>;

class LabelFile : public ::testing::Test {
protected:
	void SetUp() override
	{
		char pattern[] = "/tmp/labelmap_test.XXXXXX";
		ASSERT_NE(mkdtemp(pattern), nullptr);
		dir_ = pattern;
	}
	void TearDown() override { std::filesystem::remove_all(dir_); }

	std::string write(const std::string &text)
	{
		const std::string path = dir_ + "/labels";
		std::ofstream(path, std::ios::binary) << text;
		return path;
	}
	map_ptr load(const std::string &text)
	{
		map_ptr map(mokt_labelmap_new(write(text).c_str()));
		EXPECT_NE(map, nullptr) << std::strerror(errno);
		return map;
	}

	std::string dir_;
};

const char *name_of(const map_ptr &map, unsigned bit)
{
	const char *name = mokt_labelmap_get_name(map.get(), bit);
	return name ? name : "(none)";
}

TEST_F(LabelFile, LinesThatFit)
{
	const struct {
		const char *line;
		unsigned bit;
		const char *name;
	} cases[] = {
		{"5 blocked", 5, "blocked"},
		{"0\tzero", 0, "zero"},
		{"127 last", 127, "last"},
		{"   3 indented", 3, "indented"},
		{"4 trailing-blanks \t ", 4, "trailing-blanks"},
		{"6 crlf\r", 6, "crlf"},
		{"007 padded", 7, "padded"},
		{"8 \xc3\xa9t\xc3\xa9", 8, "\xc3\xa9t\xc3\xa9"},
		{"9 it's-ok#not-a-comment", 9, "it's-ok#not-a-comment"},
		{"10 128", 10, "128"}, // not a bit number, so no bit is hidden
		{"11 05", 11, "05"},
		{"12 \xf0\x9f\x98\x80\xe2\x82\xac\xf4\x8f\xbf\xbf\xc2\x80", 12,
		 "\xf0\x9f\x98\x80\xe2\x82\xac\xf4\x8f\xbf\xbf\xc2\x80"},
	};
	for (const auto &c : cases) {
		// The case is the file's only line, with no newline at its end.
		const auto map = load(std::string(c.line));
		EXPECT_STREQ(name_of(map, c.bit), c.name) << c.line;
		EXPECT_EQ(mokt_labelmap_get_bit(map.get(), c.name), static_cast<int>(c.bit)) << c.line;
		for (unsigned other = 0; other < MOKT_LABEL_BITS; ++other) {
			if (other == c.bit)
				continue;
			EXPECT_EQ(mokt_labelmap_get_name(map.get(), other), nullptr) << c.line;
		}
	}
}

TEST_F(LabelFile, LinesThatDoNotFitAreSkipped)
{
	const std::string long_name(MOKT_LABEL_NAME_MAX + 1, 'n');
	const std::string cases[] = {
		"128 too-big",
		"4294967301 wraps-to-5",
		"99999999999999999999999999999999 huge",
		"-1 negative",
		"+5 signed",
		"0x5 hex",
		"5",
		"5 ",
		"5blocked",
		"5x blocked",
		"x5 blocked",
		"5 two words",
		"5 blocked trailing-junk",
		"5 a\"b",
		"5 a\\b",
		"5 $HOME",
		"5 a`b`",
		"5 bell\a",
		"5 del\x7f",
		"5 a!!b", // history expansion in an interactive bash, even inside double quotes
		"5 !",
		"5 a\xc3z", // not UTF-8: a line editor changes it as it is typed
		"5 caf\xc3",
		"5 \xff",
		"5 \xa9",
		"5 \xc0\xaf",
		"5 \xe0\x9f\xbf",
		"5 \xed\xa0\x80",
		"5 \xf0\x8f\xbf\xbf",
		"5 \xf4\x90\x80\x80",
		std::string("5 nul\0byte", 10),
		"5 " + long_name,
		"5 7", // a name that reads as another bit's number
		"5 127",
		"5 0",
		"# 5 commented",
		"   # 5 indented comment",
	};
	for (const std::string &line : cases) {
		const auto map = load(line + "\n");
		for (unsigned bit = 0; bit < MOKT_LABEL_BITS; ++bit)
			EXPECT_EQ(mokt_labelmap_get_name(map.get(), bit), nullptr) << line;
	}
}

TEST_F(LabelFile, SkippedLinesDoNotDisturbTheOthers)
{
	const std::string very_long(100000, 'x');
	const auto map =
		load("# header\n"
		     "\n"
		     "  \t \n"
		     "1 one\n"
		     "# " +
		     very_long +
		     " 2 hidden-in-comment\n"
		     "3 " +
		     very_long +
		     "\n"
		     "4 " +
		     very_long +
		     " 5 tail\n"
		     "6 after-long-lines\n"
		     "1 second-name-for-one\n"
		     "7 one\n"
		     "200 out-of-range\n"
		     "8 " +
		     std::string(MOKT_LABEL_NAME_MAX, 'm') + "\n");
	EXPECT_STREQ(name_of(map, 1), "one");
	EXPECT_STREQ(name_of(map, 6), "after-long-lines");
	EXPECT_STREQ(name_of(map, 8), std::string(MOKT_LABEL_NAME_MAX, 'm').c_str());
	for (unsigned bit : {2u, 3u, 4u, 5u, 7u})
		EXPECT_STREQ(name_of(map, bit), "(none)") << bit;
	// The first line for a bit or a name wins.
	EXPECT_EQ(mokt_labelmap_get_bit(map.get(), "one"), 1);
	EXPECT_EQ(mokt_labelmap_get_bit(map.get(), "second-name-for-one"), -1);
	EXPECT_EQ(mokt_labelmap_get_bit(map.get(), "tail"), -1);
}

TEST_F(LabelFile, LookUps)
{
	const auto map = load("5 blocked\n9 Mixed\n");
	const struct {
		const char *name;
		int bit;
	} cases[] = {
		{"blocked", 5},
		{"Mixed", 9},
		{"Blocked", -1},
		{"mixed", -1},
		{" blocked", -1},
		{"blocked ", -1},
		{"", -1},
		// Plain bit numbers stand for their bits, named or not.
		{"0", 0},
		{"5", 5},
		{"7", 7},
		{"127", 127},
		{"128", -1},
		{"07", -1},
		{"+7", -1},
		{"7 ", -1},
		{"0x7", -1},
		{"4294967303", -1},
	};
	for (const auto &c : cases)
		EXPECT_EQ(mokt_labelmap_get_bit(map.get(), c.name), c.bit) << "'" << c.name << "'";
	EXPECT_EQ(mokt_labelmap_get_bit(map.get(), nullptr), -1);
	EXPECT_EQ(mokt_labelmap_get_bit(nullptr, "blocked"), -1);
	EXPECT_EQ(mokt_labelmap_get_name(map.get(), MOKT_LABEL_BITS), nullptr);
	EXPECT_EQ(mokt_labelmap_get_name(map.get(), 65541), nullptr);
	EXPECT_EQ(mokt_labelmap_get_name(nullptr, 5), nullptr);
}

TEST_F(LabelFile, EmptyFileGivesAnEmptyMap)
{
	const auto map = load("");
	EXPECT_EQ(mokt_labelmap_get_name(map.get(), 0), nullptr);
	EXPECT_EQ(mokt_labelmap_get_bit(map.get(), "12"), 12);
}

TEST_F(LabelFile, UnreadableFilesFailWithErrno)
{
	errno = 0;
	EXPECT_EQ(mokt_labelmap_new((dir_ + "/missing").c_str()), nullptr);
	EXPECT_EQ(errno, ENOENT);
	errno = 0;
	EXPECT_EQ(mokt_labelmap_new(dir_.c_str()), nullptr);
	EXPECT_EQ(errno, EISDIR);
	errno = 0;
	EXPECT_EQ(mokt_labelmap_new((write("5 x\n") + "/below-a-file").c_str()), nullptr);
	EXPECT_EQ(errno, ENOTDIR);
	// a FIFO is refused at once instead of waiting for a writer
	const std::string fifo = dir_ + "/fifo";
	ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
	errno = 0;
	EXPECT_EQ(mokt_labelmap_new(fifo.c_str()), nullptr);
	EXPECT_EQ(errno, EINVAL);
	errno = 0;
	EXPECT_EQ(mokt_labelmap_new("/dev/null"), nullptr);
	EXPECT_EQ(errno, EINVAL);
	if (geteuid() != 0) {
		const std::string path = write("5 x\n");
		ASSERT_EQ(chmod(path.c_str(), 0), 0);
		errno = 0;
		EXPECT_EQ(mokt_labelmap_new(path.c_str()), nullptr);
		EXPECT_EQ(errno, EACCES);
	}
}

TEST_F(LabelFile, DefaultFileComesFromTheEnvironmentElseBesideTheLibrary)
{
	const char *before = std::getenv("PAVANE_CONNLABEL_CONF");
	const std::string saved = before ? before : "";

	setenv("PAVANE_CONNLABEL_CONF", write("5 from-environment\n").c_str(), 1);
	{
		const map_ptr map(mokt_labelmap_new(nullptr));
		ASSERT_NE(map, nullptr);
		EXPECT_STREQ(name_of(map, 5), "from-environment");
	}
	setenv("PAVANE_CONNLABEL_CONF", (dir_ + "/missing").c_str(), 1);
	errno = 0;
	EXPECT_EQ(mokt_labelmap_new(nullptr), nullptr);
	EXPECT_EQ(errno, ENOENT);

	// Without the variable, or with it empty, the build tree's library
	// reads the sample file copied beside it.
	for (const bool empty : {false, true}) {
		if (empty)
			setenv("PAVANE_CONNLABEL_CONF", "", 1);
		else
			unsetenv("PAVANE_CONNLABEL_CONF");
		const map_ptr map(mokt_labelmap_new(nullptr));
		ASSERT_NE(map, nullptr) << "empty: " << empty;
		const map_ptr sample(mokt_labelmap_new(PAVANE_SAMPLE_LABELS));
		ASSERT_NE(sample, nullptr);
		for (unsigned bit = 0; bit < MOKT_LABEL_BITS; ++bit)
			EXPECT_STREQ(name_of(map, bit), name_of(sample, bit)) << bit;
	}
	unsetenv("PAVANE_CONNLABEL_CONF");

	if (before)
		setenv("PAVANE_CONNLABEL_CONF", saved.c_str(), 1);
}

// The sample file the library ships reads without a skipped line.
TEST(SampleFile, EveryLineFits)
{
	const std::string path = std::string(PAVANE_SAMPLE_LABELS);
	const map_ptr map(mokt_labelmap_new(path.c_str()));
	ASSERT_NE(map, nullptr);
	std::ifstream in(path);
	unsigned defined = 0;
	for (std::string line; std::getline(in, line);)
		if (!line.empty() && line[0] != '#')
			++defined;
	unsigned named = 0;
	for (unsigned bit = 0; bit < MOKT_LABEL_BITS; ++bit)
		named += mokt_labelmap_get_name(map.get(), bit) != nullptr;
	EXPECT_EQ(named, defined);
	EXPECT_GT(named, 0u);
}

} // namespace
