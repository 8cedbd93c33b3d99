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
#include <map>
#include <memory>
#include <string>

namespace {

struct map_deleter {
	void operator()(mokt_labelmap *map) const { mokt_labelmap_free(map); }
};
using map_ptr = std::unique_ptr<mokt_labelmap, map_deleter>;
using names = std::map<unsigned, std::string>;

// Every named bit of the map, with its name.
names names_of(const map_ptr &map)
{
	names all;
	for (unsigned bit = 0; bit < MOKT_LABEL_BITS; ++bit)
		if (const char *name = mokt_labelmap_get_name(map.get(), bit))
			all[bit] = name;
	return all;
}

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

TEST_F(LabelFile, LinesThatFit)
{
	const std::string emoji = "\xf0\x9f\x98\x80\xe2\x82\xac\xf4\x8f\xbf\xbf\xc2\x80";
	// "128" is not a bit number, so it hides no bit.
	const std::tuple<std::string, unsigned, std::string> cases[] = {
		{"5 blocked", 5, "blocked"},
		{"0\tzero", 0, "zero"},
		{"127 last", 127, "last"},
		{"   3 indented", 3, "indented"},
		{"4 trailing-blanks \t ", 4, "trailing-blanks"},
		{"6 crlf\r", 6, "crlf"},
		{"007 padded", 7, "padded"},
		{"8 \xc3\xa9t\xc3\xa9", 8, "\xc3\xa9t\xc3\xa9"},
		{"9 it's-ok#not-a-comment", 9, "it's-ok#not-a-comment"},
		{"10 128", 10, "128"},
		{"11 05", 11, "05"},
		{"12 " + emoji, 12, emoji},
	};
	// Each case is the file's only line, with no newline at its end.
	for (const auto &[line, bit, name] : cases) {
		const auto map = load(line);
		EXPECT_EQ(names_of(map), (names{{bit, name}})) << line;
		EXPECT_EQ(mokt_labelmap_get_bit(map.get(), name.c_str()), static_cast<int>(bit)) << line;
	}
}

TEST_F(LabelFile, LinesThatDoNotFitAreSkipped)
{
	// Names that bash's history expansion ("!") or a line editor (bytes that
	// are not UTF-8) would change, and names that read as a bit's number.
	const std::string cases[] = {"128 too-big",
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
				     "5 a!!b",
				     "5 !",
				     "5 a\xc3z",
				     "5 caf\xc3",
				     "5 \xff",
				     "5 \xa9",
				     "5 \xc0\xaf",
				     "5 \xe0\x9f\xbf",
				     "5 \xed\xa0\x80",
				     "5 \xf0\x8f\xbf\xbf",
				     "5 \xf4\x90\x80\x80",
				     std::string("5 nul\0byte", 10),
				     "5 " + std::string(MOKT_LABEL_NAME_MAX + 1, 'n'),
				     "5 7",
				     "5 127",
				     "5 0",
				     "# 5 commented",
				     "   # 5 indented comment"};
	for (const std::string &line : cases)
		EXPECT_EQ(names_of(load(line + "\n")), names{}) << line;
}

TEST_F(LabelFile, SkippedLinesDoNotDisturbTheOthers)
{
	const std::string very_long(100000, 'x'), longest(MOKT_LABEL_NAME_MAX, 'm');
	const auto map =
		load("# header\n\n  \t \n1 one\n# " + very_long + " 2 hidden-in-comment\n3 " + very_long +
		     "\n4 " + very_long +
		     " 5 tail\n6 after-long-lines\n1 second-name-for-one\n7 one\n200 out-of-range\n8 " +
		     longest + "\n");
	EXPECT_EQ(names_of(map), (names{{1, "one"}, {6, "after-long-lines"}, {8, longest}}));
	// The first line for a bit or a name wins.
	EXPECT_EQ(mokt_labelmap_get_bit(map.get(), "one"), 1);
	EXPECT_EQ(mokt_labelmap_get_bit(map.get(), "second-name-for-one"), -1);
	EXPECT_EQ(mokt_labelmap_get_bit(map.get(), "tail"), -1);
}

TEST_F(LabelFile, LookUps)
{
	const auto map = load("5 blocked\n9 Mixed\n");
	// Plain bit numbers stand for their bits, named or not.
	const std::pair<const char *, int> cases[] = {{"blocked", 5}, {"Mixed", 9},       {"Blocked", -1},
						      {"mixed", -1},  {" blocked", -1},   {"blocked ", -1},
						      {"", -1},       {"0", 0},           {"5", 5},
						      {"7", 7},       {"127", 127},       {"128", -1},
						      {"07", -1},     {"+7", -1},         {"7 ", -1},
						      {"0x7", -1},    {"4294967303", -1}, {nullptr, -1}};
	for (const auto &[name, bit] : cases)
		EXPECT_EQ(mokt_labelmap_get_bit(map.get(), name), bit)
			<< "'" << (name ? name : "(null)") << "'";
	EXPECT_EQ(mokt_labelmap_get_bit(nullptr, "blocked"), -1);
	EXPECT_EQ(mokt_labelmap_get_name(map.get(), MOKT_LABEL_BITS), nullptr);
	EXPECT_EQ(mokt_labelmap_get_name(map.get(), 65541), nullptr);
	EXPECT_EQ(mokt_labelmap_get_name(nullptr, 5), nullptr);
}

TEST_F(LabelFile, EmptyFileGivesAnEmptyMap)
{
	const auto map = load("");
	EXPECT_EQ(names_of(map), names{});
	EXPECT_EQ(mokt_labelmap_get_bit(map.get(), "12"), 12);
}

TEST_F(LabelFile, UnreadableFilesFailWithErrno)
{
	// A FIFO is refused at once instead of waiting for a writer.
	const std::string fifo = dir_ + "/fifo";
	ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
	std::vector<std::pair<std::string, int>> cases = {{dir_ + "/missing", ENOENT},
							  {dir_, EISDIR},
							  {write("5 x\n") + "/below-a-file", ENOTDIR},
							  {fifo, EINVAL},
							  {"/dev/null", EINVAL}};
	if (geteuid() != 0) {
		ASSERT_EQ(chmod(write("5 x\n").c_str(), 0), 0);
		cases.emplace_back(dir_ + "/labels", EACCES);
	}
	for (const auto &[path, error] : cases) {
		errno = 0;
		EXPECT_EQ(mokt_labelmap_new(path.c_str()), nullptr) << path;
		EXPECT_EQ(errno, error) << path;
	}
}

TEST_F(LabelFile, DefaultFileComesFromTheEnvironmentElseBesideTheLibrary)
{
	const char *before = std::getenv("PAVANE_CONNLABEL_CONF");
	const std::string saved = before ? before : "";
	setenv("PAVANE_CONNLABEL_CONF", write("5 from-environment\n").c_str(), 1);
	EXPECT_EQ(names_of(map_ptr(mokt_labelmap_new(nullptr))), (names{{5, "from-environment"}}));
	setenv("PAVANE_CONNLABEL_CONF", (dir_ + "/missing").c_str(), 1);
	errno = 0;
	EXPECT_EQ(mokt_labelmap_new(nullptr), nullptr);
	EXPECT_EQ(errno, ENOENT);
	// Without the variable, or with it empty, the build tree's library reads
	// the sample file copied beside it.
	const map_ptr sample(mokt_labelmap_new(PAVANE_SAMPLE_LABELS));
	ASSERT_NE(sample, nullptr);
	for (const bool empty : {false, true}) {
		empty ? setenv("PAVANE_CONNLABEL_CONF", "", 1) : unsetenv("PAVANE_CONNLABEL_CONF");
		const map_ptr map(mokt_labelmap_new(nullptr));
		ASSERT_NE(map, nullptr) << "empty: " << empty;
		EXPECT_EQ(names_of(map), names_of(sample)) << "empty: " << empty;
	}
	before ? setenv("PAVANE_CONNLABEL_CONF", saved.c_str(), 1) : unsetenv("PAVANE_CONNLABEL_CONF");
}

// The sample file the library ships reads without a skipped line.
TEST(SampleFile, EveryLineFits)
{
	const map_ptr map(mokt_labelmap_new(PAVANE_SAMPLE_LABELS));
	ASSERT_NE(map, nullptr);
	std::ifstream in(PAVANE_SAMPLE_LABELS);
	size_t defined = 0;
	for (std::string line; std::getline(in, line);)
		defined += !line.empty() && line[0] != '#';
	EXPECT_EQ(names_of(map).size(), defined);
	EXPECT_GT(defined, 0u);
}

} // namespace
