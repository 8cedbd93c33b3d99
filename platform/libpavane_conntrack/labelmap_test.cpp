// SPDX-License-Identifier: GPL-2.0-or-later
// The label-file reader: which lines define labels, which are skipped, and
// how names and numbers are looked up.
#include "pavane_conntrack.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <new>
#include <sstream>

// An allocation of this many bytes fails as it would when memory runs out;
// 0 lets every allocation through.  new (also nothrow) and delete come from
// here, on malloc and free, so that they pair under the sanitizers too.
static size_t failing_size = 0;

void *operator new(size_t size)
{
	if (size != 0 && size == failing_size)
		throw std::bad_alloc();
	if (void *p = std::malloc(size != 0 ? size : 1))
		return p;
	throw std::bad_alloc();
}
void *operator new(size_t size, const std::nothrow_t &) noexcept
{
	return size != 0 && size == failing_size ? nullptr : std::malloc(size != 0 ? size : 1);
}
// GCC does not see that the operator new above uses malloc.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void operator delete(void *p) noexcept
{
	std::free(p);
}
void operator delete(void *p, size_t) noexcept
{
	std::free(p);
}
#pragma GCC diagnostic pop

namespace {

using namespace std::string_literals;
using names = std::map<unsigned, std::string>;
struct map_deleter {
	void operator()(mokt_labelmap *map) const { mokt_labelmap_free(map); }
};
using map_ptr = std::unique_ptr<mokt_labelmap, map_deleter>;

// Every named bit of the map, with its name.
names names_of(const map_ptr &map)
{
	names all;
	for (unsigned bit = 0; bit < MOKT_LABEL_BITS; ++bit)
		if (const char *name = mokt_labelmap_get_name(map.get(), bit))
			all[bit] = name;
	return all;
}

// The errno of a label file that does not load (the default file for an
// empty path), 0 for one that does.
int error_of(const std::string &path)
{
	errno = 0;
	const map_ptr map(mokt_labelmap_new(path.empty() ? nullptr : path.c_str()));
	return map ? 0 : errno;
}

class LabelFile : public ::testing::Test {
protected:
	const std::string dir = testing::TempDir() + "labelmap-" + std::to_string(getpid());
	void SetUp() override { std::filesystem::create_directories(dir); }
	void TearDown() override { std::filesystem::remove_all(dir); }

	std::string write(const std::string &text)
	{
		std::ofstream(dir + "/labels", std::ios::binary) << text;
		return dir + "/labels";
	}
	map_ptr load(const std::string &text)
	{
		map_ptr map(mokt_labelmap_new(write(text).c_str()));
		EXPECT_NE(map, nullptr) << text;
		return map;
	}
};

TEST_F(LabelFile, LinesThatFit)
{
	const std::string emoji = "\xf0\x9f\x98\x80\xe2\x82\xac\xf4\x8f\xbf\xbf\xc2\x80";
	// "128" is no bit number, so it hides no bit.
	const std::tuple<std::string, unsigned, std::string> cases[] =
		{{"5 blocked", 5, "blocked"},
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
		 {"12 " + emoji, 12, emoji}};
	// Each case is the file's only line, with no newline at its end.
	for (const auto &[line, bit, name] : cases) {
		const auto map = load(line);
		EXPECT_EQ(names_of(map), (names{{bit, name}})) << line;
		EXPECT_EQ(mokt_labelmap_get_bit(map.get(), name.c_str()), static_cast<int>(bit)) << line;
	}
}

// Each line a file of its own.  "!" and bytes that are not UTF-8 would be
// changed by bash's history expansion or a line editor; names that read as
// a bit number would hide that bit.
TEST_F(LabelFile, LinesThatDoNotFitAreSkipped)
{
	std::istringstream lines(
		"128 too-big\n4294967301 wraps-to-5\n99999999999999999999999999999999 huge\n"
		"-1 negative\n+5 signed\n0x5 hex\n5\n5 \n5blocked\n5x blocked\nx5 blocked\n"
		"5 two words\n5 blocked trailing-junk\n5 a\"b\n5 a\\b\n5 $HOME\n5 a`b`\n5 bell\a\n"
		"5 del\x7f\n5 a!!b\n5 !\n5 a\xc3z\n5 caf\xc3\n5 \xff\n5 \xa9\n5 \xc0\xaf\n"
		"5 \xe0\x9f\xbf\n5 \xed\xa0\x80\n5 \xf0\x8f\xbf\xbf\n5 \xf4\x90\x80\x80\n"
		"5 nul\0byte\n5 "s +
		std::string(MOKT_LABEL_NAME_MAX + 1, 'n') +
		"\n5 7\n5 127\n5 0\n# 5 commented\n   # 5 indented comment\n");
	int count = 0;
	for (std::string line; std::getline(lines, line); ++count)
		EXPECT_EQ(names_of(load(line + "\n")), names{}) << line;
	EXPECT_EQ(count, 37);
}

TEST_F(LabelFile, SkippedLinesDoNotDisturbTheOthers)
{
	const std::string very_long(100000, 'x'), longest(MOKT_LABEL_NAME_MAX, 'm');
	const auto map =
		load("# header\n\n  \t \n1 one\n# " + very_long + " 2 hidden-in-comment\n3 " + very_long +
		     "\n4 " + very_long + " 5 tail\n6 after-long-lines\n1 second-name-for-one\n7 one\n" +
		     "200 out-of-range\n8 " + longest + "\n");
	EXPECT_EQ(names_of(map), (names{{1, "one"}, {6, "after-long-lines"}, {8, longest}}));
	// The first line for a bit or a name wins.
	for (const auto &[name, bit] : {std::pair{"one", 1}, {"second-name-for-one", -1}, {"tail", -1}})
		EXPECT_EQ(mokt_labelmap_get_bit(map.get(), name), bit) << name;
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

// Running out of memory while reading gives no map, never a partial one.
TEST_F(LabelFile, OutOfMemoryGivesNoMap)
{
	const std::string path = write("1 " + std::string(200, 'n') + "\n");
	failing_size = 201; // the map's copy of the name
	errno = 0;
	mokt_labelmap *map = mokt_labelmap_new(path.c_str());
	const int error = errno;
	failing_size = 0;
	EXPECT_EQ(map, nullptr);
	EXPECT_EQ(error, ENOMEM);
	mokt_labelmap_free(map);
}

TEST_F(LabelFile, EmptyFileGivesAnEmptyMap)
{
	const auto map = load("");
	EXPECT_EQ(names_of(map), names{});
	EXPECT_EQ(mokt_labelmap_get_bit(map.get(), "12"), 12);
}

// A FIFO is refused at once instead of waiting for a writer.
TEST_F(LabelFile, UnreadableFilesFailWithErrno)
{
	ASSERT_EQ(mkfifo((dir + "/fifo").c_str(), 0600), 0);
	EXPECT_EQ(error_of(dir + "/missing"), ENOENT);
	EXPECT_EQ(error_of(dir), EISDIR);
	EXPECT_EQ(error_of(write("5 x\n") + "/below-a-file"), ENOTDIR);
	EXPECT_EQ(error_of(dir + "/fifo"), EINVAL);
	EXPECT_EQ(error_of("/dev/null"), EINVAL);
	if (geteuid() != 0) {
		ASSERT_EQ(chmod(write("5 x\n").c_str(), 0), 0);
		EXPECT_EQ(error_of(dir + "/labels"), EACCES);
	}
}

// Without the variable, or with it empty, the build tree's library reads the
// sample file copied beside it.
TEST_F(LabelFile, DefaultFileComesFromTheEnvironmentElseBesideTheLibrary)
{
	const char *before = std::getenv("PAVANE_CONNLABEL_CONF");
	const std::string saved = before ? before : "";
	setenv("PAVANE_CONNLABEL_CONF", write("5 from-environment\n").c_str(), 1);
	EXPECT_EQ(names_of(map_ptr(mokt_labelmap_new(nullptr))), (names{{5, "from-environment"}}));
	setenv("PAVANE_CONNLABEL_CONF", (dir + "/missing").c_str(), 1);
	EXPECT_EQ(error_of(""), ENOENT);
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
	std::ifstream in(PAVANE_SAMPLE_LABELS);
	size_t defined = 0;
	for (std::string line; std::getline(in, line);)
		defined += !line.empty() && line[0] != '#';
	EXPECT_EQ(names_of(map).size(), defined);
	EXPECT_GT(defined, 0u);
}

} // namespace
