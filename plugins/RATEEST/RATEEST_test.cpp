// SPDX-License-Identifier: GPL-2.0-or-later
#include "rule_checks.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>

#include <unistd.h>

namespace {

using ztest::accepted_rule;
using ztest::rejected_rule;

const std::vector<std::string> rateest_head = {"-j", "RATEEST"};

std::vector<std::string> options(const std::string &interval, const std::string &ewma,
				 const std::string &name = "est1")
{
	return {"--rateest-name", name, "--rateest-interval", interval, "--rateest-ewmalog", ewma};
}

std::vector<std::string> rateest(const std::string &interval, const std::string &ewma,
				 const std::string &name = "est1")
{
	return ztest::concat(rateest_head, options(interval, ewma, name));
}

// The 32-byte block as hex: the name padded to 16 bytes, the two codes, and
// zeros for the reserved and kernel-owned bytes.
std::string block_hex(const std::string &name, int interval, unsigned ewmalog)
{
	std::string hex;
	char byte[3];
	for (size_t i = 0; i < 16; ++i) {
		std::snprintf(byte, sizeof byte, "%02x",
			      i < name.size() ? static_cast<unsigned char>(name[i]) : 0u);
		hex += byte;
	}
	std::snprintf(byte, sizeof byte, "%02x", static_cast<unsigned char>(interval));
	hex += byte;
	std::snprintf(byte, sizeof byte, "%02x", ewmalog & 0xffu);
	hex += byte;
	return hex + std::string(28, '0');
}

// A clause with the name est1 that must give the two codes and list the
// two times.
struct coded_clause {
	std::string interval, ewma;
	int interval_code;
	unsigned ewmalog;
	std::string listed_interval, listed_ewma;
};

accepted_rule expected_rule(const coded_clause &c)
{
	return {rateest(c.interval, c.ewma), block_hex("est1", c.interval_code, c.ewmalog),
		" name est1 interval " + c.listed_interval + " ewmalog " + c.listed_ewma,
		" --rateest-name est1 --rateest-interval " + c.listed_interval + " --rateest-ewmalog " +
			c.listed_ewma};
}

// Whether the listed averaging time, 2^(interval + ewmalog) s, fits the
// 32-bit microseconds that a saved clause is parsed back into.
bool listed_ewma_fits(int interval, unsigned ewmalog)
{
	return std::ldexp(1e6, interval + static_cast<int>(ewmalog)) < 4294967296.0;
}

// Accepted, and parsed back from its saved options into the same block
// unless the saved averaging time saturates (shown in its own test).
void expect_clauses(std::initializer_list<coded_clause> clauses)
{
	for (const auto &c : clauses) {
		EXPECT_TRUE(ztest::accepts(expected_rule(c)));
		if (listed_ewma_fits(c.interval_code, c.ewmalog)) {
			EXPECT_TRUE(ztest::round_trips(rateest_head, options(c.interval, c.ewma)));
		}
	}
}

TEST(Rateest, IntervalRaisedToThePowerOfTwoAtOrAboveIt)
{
	expect_clauses({
		{"1s", "4s", 0, 2, "1.0s", "4.0s"},
		{"1", "64s", -2, 25, "250.0ms", "8388608.0s"}, // a bare number is microseconds
		{"250ms", "64s", -2, 8, "250.0ms", "64.0s"},
		{"250001us", "64s", -1, 8, "500.0ms", "128.0s"},
		{"0.3s", "64s", -1, 7, "500.0ms", "64.0s"},
		{"500000us", "4s", -1, 3, "500.0ms", "4.0s"},
		{"500001us", "4s", 0, 3, "1.0s", "8.0s"},
		{"1000000us", "4s", 0, 2, "1.0s", "4.0s"},
		{"1000001us", "8s", 1, 3, "2.0s", "16.0s"},
		{"2000000us", "8s", 1, 2, "2.0s", "8.0s"},
		{"2000001us", "16s", 2, 3, "4.0s", "32.0s"},
		{"4000000us", "16s", 2, 2, "4.0s", "16.0s"},
		{"4000001us", "64s", 3, 4, "8.0s", "128.0s"},
		{"8s", "64s", 3, 3, "8.0s", "64.0s"},
		{"8000000", "64s", 3, 3, "8.0s", "64.0s"},
	});
}

TEST(Rateest, AveragingCodeIsTheLongestTimeConstantWithinTheAveragingTime)
{
	expect_clauses({
		// interval / ln 2 = 1442695.04us is the shortest averaging time for 1s
		{"1s", "1442696us", 0, 1, "1.0s", "2.0s"},
		{"1s", "1442696.9us", 0, 1, "1.0s", "2.0s"},
		{"1s", "4294967295us", 0, 12, "1.0s", "4096.0s"},
		{"1500ms", "4s", 1, 1, "2.0s", "4.0s"},
		// the search runs on 100ms, the block lists the raised 250ms
		{"100ms", "10s", -2, 6, "250.0ms", "16.0s"},
		{"2MSECS", "4s", -2, 10, "250.0ms", "256.0s"},
		{"5uS", "4s", -2, 19, "250.0ms", "131072.0s"},
		// times saturate at 4294967295us
		{"1s", "4294967296", 0, 12, "1.0s", "4096.0s"},
		{"1s", "1e30s", 0, 12, "1.0s", "4096.0s"},
		{"1s", "inf", 0, 12, "1.0s", "4096.0s"},
	});
}

TEST(Rateest, UnitWordsIgnoreCase)
{
	std::vector<ztest::accepted_rule> rules;
	// 1s as the interval (1 ms or 1000 s would give another code or fail)
	for (const char *interval :
	     {"1S", "1Sec", "1SECS", "1000mS", "1000msec", "1000MSECS", "1000000uS", "1000000usec",
	      "1000000UsEcS", "1000000", " +1s", "1e6us", "0x1p0s", "1.0s"})
		rules.push_back(expected_rule({interval, "4s", 0, 2, "1.0s", "4.0s"}));
	// 4s as the averaging time (4 ms would be out of range)
	for (const char *ewma : {"4S", "4sec", "4Secs", "4000ms", "4000MSEC", "4000mSeCs", "4000000US",
				 "4000000uSec", "4000000usecs", "4000000"})
		rules.push_back(expected_rule({"1s", ewma, 0, 2, "1.0s", "4.0s"}));
	EXPECT_TRUE(ztest::accepts_all(rules));
}

TEST(Rateest, BadTimesAndFailedChecks)
{
	const std::string range = "RATEEST: ewmalog value is out of range";
	const std::string too_large = "RATEEST: interval value is too large";
	std::vector<rejected_rule> rules;
	for (const std::string bad : {"1 s", "1sx", "1m", "abc", "", " ", "s", "1s ", "1.5.s", "1us1"}) {
		rules.push_back({rateest(bad, "4s"), "RATEEST: bad interval value \"" + bad + "\""});
		rules.push_back({rateest("1s", bad), "RATEEST: bad ewmalog value \"" + bad + "\""});
	}
	const rejected_rule checks[] = {
		{rateest("8000001us", "64s"), too_large},
		{rateest("9s", "64s"), too_large},
		{rateest("4294967296", "64s"), too_large},
		// the interval is checked before the averaging time
		{rateest("9s", "1us"), too_large},
		{rateest("1s", "1442695us"), range},
		{rateest("1s", "1442695.9us"), range}, // truncated, not rounded
		{rateest("1s", "1s"), range},
		{rateest("1s", "nan"), range},
		{rateest("1s", "-1s"), range},
		// an interval of 0 gives a time constant of 0 for every code
		{rateest("-1s", "4s"), range},
		{rateest("0", "4294967295"), range},
		{rateest("1e-9s", "4s"), range},
		// 1us cannot reach 4294967295us before the codes run out
		{rateest("1", "4294967295"), range},
		// parse errors come in command-line order
		{ztest::concat(rateest_head,
			       {"--rateest-name", "e", "--rateest-ewmalog", "x", "--rateest-interval", "y"}),
		 "RATEEST: bad ewmalog value \"x\""},
	};
	rules.insert(rules.end(), std::begin(checks), std::end(checks));
	for (const auto &rule : rules)
		EXPECT_TRUE(ztest::rejects(rule));
}

TEST(Rateest, HostChecksTheOptions)
{
	const std::string sixteen = "abcdefghijklmnop";
	const rejected_rule rules[] = {
		{ztest::concat(rateest_head, {"--rateest-interval", "1s", "--rateest-ewmalog", "4s"}),
		 "RATEEST: option \"--rateest-name\" must be given"},
		// a missing option is reported before the interval is checked
		{ztest::concat(rateest_head, {"--rateest-name", "e", "--rateest-interval", "9s"}),
		 "RATEEST: option \"--rateest-ewmalog\" must be given"},
		{ztest::concat(rateest_head, {"--rateest-name", "e", "--rateest-ewmalog", "4s"}),
		 "RATEEST: option \"--rateest-interval\" must be given"},
		{rateest("1s", "4s", sixteen),
		 "RATEEST: option \"--rateest-name\": the text must be at most 15 characters long"},
		{ztest::concat(rateest("1s", "4s"), {"--rateest-interval", "2s"}),
		 "RATEEST: option \"--rateest-interval\" may be given only once"},
		{ztest::concat(rateest_head, {"!", "--rateest-name", "e"}),
		 "RATEEST: option \"--rateest-name\" cannot be negated"},
		{ztest::concat(rateest_head, {"--rateest-name"}),
		 "RATEEST: option \"--rateest-name\" requires an argument"},
	};
	for (const auto &rule : rules)
		EXPECT_TRUE(ztest::rejects(rule));

	const std::string fifteen = sixteen.substr(0, 15);
	EXPECT_TRUE(ztest::accepts(
		{rateest("1s", "4s", fifteen), block_hex(fifteen, 0, 2),
		 " name " + fifteen + " interval 1.0s ewmalog 4.0s",
		 " --rateest-name " + fifteen + " --rateest-interval 1.0s --rateest-ewmalog 4.0s"}));
	EXPECT_TRUE(ztest::accepts({{"-6", "-j", "RATEEST", "--rateest-name", "v6", "--rateest-interval",
				     "1s", "--rateest-ewmalog", "4s"},
				    block_hex("v6", 0, 2),
				    " name v6 interval 1.0s ewmalog 4.0s",
				    " --rateest-name v6 --rateest-interval 1.0s --rateest-ewmalog 4.0s"}));
}

// The block a rule gives, run through /bin/sh as a saved rule pasted into
// a script would be, through bash with history expansion on as in an
// interactive one, and through --batch.
struct read_back {
	std::string shell, history, batch;
};

read_back read_back_blocks(const std::string &saved)
{
	read_back blocks;
	ztest::rule_lines lines;
	// in an empty folder with a file a glob could match, and HOME set
	const auto shell = ztest::run_shell("cd \"$DIR\" && : >a1 && $ZUNDER -j RATEEST" + saved,
					    {"DIR=" + testing::TempDir(), "HOME=/home-expanded"});
	if (shell.status == 0 && shell.err.empty() && ztest::split_rule_output(shell.out, &lines))
		blocks.shell = lines.block;
	const std::string file = testing::TempDir() + "/rateest-batch-" + std::to_string(getpid());
	std::ofstream(file) << "set -o history -H\n$ZUNDER -j RATEEST" + saved + "\n";
	const auto history = ztest::run_shell("bash <\"$FILE\"", {"FILE=" + file});
	if (history.status == 0 && history.err.empty() && ztest::split_rule_output(history.out, &lines))
		blocks.history = lines.block;
	std::ofstream(file) << "-j RATEEST" + saved + "\n";
	const auto batch = ztest::zunder({"--batch", file});
	if (batch.status == 0 && batch.err.empty() && ztest::split_rule_output(batch.out, &lines))
		blocks.batch = lines.block;
	std::remove(file.c_str());
	return blocks;
}

// Every name parse accepts reads back from its saved options into the same
// block through a shell and through --batch: nothing runs, expands or
// splits.  Names that need nothing are saved bare.
TEST(Rateest, SavedNamesReadBackThroughAShellAndTheBatchReader)
{
	const struct {
		std::string name, saved;
	} cases[] = {
		{"est-1_a.b:c+d=e", "est-1_a.b:c+d=e"},
		{"caf\xc3\xa9", "caf\xc3\xa9"},
		{"%@,/", "%@,/"},
		{"", "''"},
		{"a b", "'a b'"},
		{"it's", R"('it'\''s')"},
		{"x;true", "'x;true'"},
		{"a|b", "'a|b'"},
		{"a&b", "'a&b'"},
		{"a<b", "'a<b'"},
		{"a>b", "'a>b'"},
		{"a(b)", "'a(b)'"},
		{"*", "'*'"},
		{"a?", "'a?'"},
		{"a[1]", "'a[1]'"},
		{"#x", "'#x'"},
		{"~", "'~'"},
		{"~root", "'~root'"},
		{"{a,b}", "'{a,b}'"},
		{"!x", "'!x'"},
		{"a!x", "'a!x'"},
		{"it's!x", R"('it'\''s!x')"},
		{"''", R"(''\'''\''')"},
		{"a^b", "'a^b'"},
		{"-h", "-h"},
		{"!", "'!'"},
	};
	for (const auto &c : cases) {
		const std::string saved =
			" --rateest-name " + c.saved + " --rateest-interval 1.0s --rateest-ewmalog 4.0s";
		EXPECT_TRUE(ztest::accepts({rateest("1s", "4s", c.name), block_hex(c.name, 0, 2),
					    " name " + c.name + " interval 1.0s ewmalog 4.0s", saved}));
		const read_back blocks = read_back_blocks(saved);
		EXPECT_EQ(blocks.shell, block_hex(c.name, 0, 2)) << c.name;
		EXPECT_EQ(blocks.history, block_hex(c.name, 0, 2)) << c.name;
		EXPECT_EQ(blocks.batch, block_hex(c.name, 0, 2)) << c.name;
	}
	// In double quotes bash's history expansion would take !x for an event.
	const read_back double_quoted =
		read_back_blocks(" --rateest-name \"!x\" --rateest-interval 1.0s --rateest-ewmalog 4.0s");
	EXPECT_EQ(double_quoted.shell, block_hex("!x", 0, 2));
	EXPECT_EQ(double_quoted.history, "");
	// a 16-byte name without its NUL is quoted within the field alone
	EXPECT_TRUE(ztest::prints_block(rateest_head, block_hex("ABCDEFGHIJKLMNO ", 0, 2),
					" name ABCDEFGHIJKLMNO  interval 1.0s ewmalog 4.0s",
					" --rateest-name 'ABCDEFGHIJKLMNO ' --rateest-interval 1.0s "
					"--rateest-ewmalog 4.0s"));
}

// The bytes that stay live in double quotes, as the label map refuses
// them, and control bytes, which no one-line text carries through both a
// shell and a line reader.
TEST(Rateest, NamesWithBytesNoSavedTextCarriesAreRefused)
{
	const std::string why = "\": a name holds no control characters and none of \" \\ $ `";
	const struct {
		std::string name, shown;
	} cases[] = {
		{"a\"b", "a\"b"},    {"a\\b", "a\\b"},    {"$HOME", "$HOME"}, {"a`id`", "a`id`"},
		{"a\nb", "a\\x0ab"}, {"a\rb", "a\\x0db"}, {"\t", "\\x09"},    {"\x01", "\\x01"},
		{"\x1f", "\\x1f"},   {"a\x7f", "a\\x7f"},
	};
	for (const auto &c : cases)
		EXPECT_TRUE(ztest::rejects(
			{rateest("1s", "4s", c.name), "RATEEST: invalid name \"" + c.shown + why}));
}

// Blocks read back may hold any byte: listing and saving stay one line each,
// and the saved text is refused when read back, never run or misread.
TEST(Rateest, BlocksReadBackWithRefusedBytesListAndSaveOnOneLine)
{
	const std::string rest = " --rateest-interval 1.0s --rateest-ewmalog 4.0s";
	const struct {
		std::string name, listed, saved;
	} cases[] = {
		{"a\nb", "a\\x0ab", R"('a\x0ab')"}, {"\r", "\\x0d", R"('\x0d')"},
		{"x\x7f", "x\\x7f", R"('x\x7f')"},  {"a\"b", "a\"b", R"('a"b')"},
		{"a\\b", "a\\\\b", R"('a\b')"},     {"$HOME", "$HOME", "'$HOME'"},
		{"`id`", "`id`", "'`id`'"},         {"'$", "'$", R"(''\''$')"},
	};
	for (const auto &c : cases) {
		EXPECT_TRUE(ztest::prints_block(rateest_head, block_hex(c.name, 0, 2),
						" name " + c.listed + " interval 1.0s ewmalog 4.0s",
						" --rateest-name " + c.saved + rest));
		const read_back blocks = read_back_blocks(" --rateest-name " + c.saved + rest);
		EXPECT_EQ(blocks.shell, "") << c.listed;
		EXPECT_EQ(blocks.history, "") << c.listed;
		EXPECT_EQ(blocks.batch, "") << c.listed;
	}
}

// Prints a block read back; `list` is the listing without the name item,
// the save is the same items with the option prefix.
::testing::AssertionResult prints(const std::string &hex, const std::string &name,
				  const std::string &interval, const std::string &ewma)
{
	return ztest::prints_block(rateest_head, hex,
				   " name " + name + " interval " + interval + " ewmalog " + ewma,
				   " --rateest-name " + name + " --rateest-interval " + interval +
					   " --rateest-ewmalog " + ewma);
}

TEST(Rateest, TimeItemsSwitchUnitsAtOneMillisecondAndOneSecond)
{
	// Every listed time is 15625 * 2^k us, so 999us, 1000us and 999999us
	// never occur; these are the nearest listed values on each side.
	EXPECT_TRUE(prints(block_hex("t", -10, 0), "t", "976us", "976us")); // 976.5625us
	EXPECT_TRUE(prints(block_hex("t", -10, 1), "t", "976us", "2.0ms")); // 1953.125us
	EXPECT_TRUE(prints(block_hex("t", -16, 0), "t", "15us", "15us"));   // 15.26us
	EXPECT_TRUE(prints(block_hex("t", -1, 0), "t", "500.0ms", "500.0ms"));
	EXPECT_TRUE(prints(block_hex("t", -1, 1), "t", "500.0ms", "1.0s"));
	EXPECT_TRUE(prints(block_hex("t", -2, 2), "t", "250.0ms", "1.0s"));
}

TEST(Rateest, BlocksReadBack)
{
	// the averaging time is not cut to 32 bits: 250000 << 30 would wrap to 0
	EXPECT_TRUE(prints(block_hex("e", -2, 30), "e", "250.0ms", "268435456.0s"));
	EXPECT_TRUE(prints(block_hex("e", -2, 15), "e", "250.0ms", "8192.0s"));
	EXPECT_TRUE(prints(block_hex("e", -2, 14), "e", "250.0ms", "4096.0s"));
	EXPECT_TRUE(prints(block_hex("e", 3, 30), "e", "8.0s", "8589934592.0s"));
	// codes this plug-in never writes list their exact times
	EXPECT_TRUE(prints(block_hex("e", 0, 0), "e", "1.0s", "1.0s"));
	EXPECT_TRUE(prints(block_hex("e", 4, 1), "e", "16.0s", "32.0s"));
	EXPECT_TRUE(prints(block_hex("e", -3, 3), "e", "125.0ms", "1.0s"));
	EXPECT_TRUE(prints(block_hex("e", 0, 64), "e", "1.0s", "18446744073709551616.0s"));
	EXPECT_TRUE(prints(block_hex("e", -128, 128), "e", "0us", "1.0s"));
	EXPECT_TRUE(prints(block_hex("e", 127, 0), "e", "170141183460469231731687303715884105728.0s",
			   "170141183460469231731687303715884105728.0s"));
	// a name filling all 16 bytes ends at the field, not at the codes after it
	EXPECT_TRUE(prints(block_hex("ABCDEFGHIJKLMNOP", 1, 2), "ABCDEFGHIJKLMNOP", "2.0s", "8.0s"));
	// bytes after the name's NUL, reserved and kernel-owned bytes are not shown
	std::string hex = block_hex("est1", 0, 2);
	hex.replace(10, 4, "4142");
	hex.replace(36, 28, "ffffffffffffffffffffffffffff");
	EXPECT_TRUE(prints(hex, "est1", "1.0s", "4.0s"));

	const auto short_block = ztest::zunder(ztest::concat(rateest_head, {"--block", "00"}));
	EXPECT_EQ(short_block.status, 2);
	EXPECT_EQ(short_block.err,
		  "zunder: --block for target \"RATEEST\" needs exactly 32 bytes as "
		  "64 hexadecimal digits\n");
}

// The two codes of an accepted rule's block.
void codes_of(const std::string &block, int *interval, unsigned *ewmalog)
{
	*interval = static_cast<signed char>(std::strtoul(block.substr(32, 2).c_str(), nullptr, 16));
	*ewmalog = static_cast<unsigned>(std::strtoul(block.substr(34, 2).c_str(), nullptr, 16));
}

TEST(Rateest, SavedOptionsParseBackIntoTheSameCodes)
{
	const char *intervals[] = {"1",  "40ms",   "100ms", "250ms", "250001us", "300ms", "700ms",
				   "1s", "1500ms", "3s",    "4s",    "5s",       "8s"};
	const char *averaging[] = {"400ms", "1s",    "1442696us", "3s",          "10s",
				   "100s",  "1000s", "4000s",     "4294967295us"};
	int round_tripped = 0, beyond_32_bits = 0;
	for (const char *interval : intervals)
		for (const char *ewma : averaging) {
			const auto args = rateest(interval, ewma);
			const auto first = ztest::zunder(args);
			ztest::rule_lines a;
			if (first.status == 2) {
				EXPECT_EQ(first.err, "zunder: RATEEST: ewmalog value is out of range\n")
					<< interval << " " << ewma;
				continue;
			}
			ASSERT_EQ(first.status, 0) << first.err;
			ASSERT_TRUE(ztest::split_rule_output(first.out, &a));
			int code;
			unsigned ewmalog;
			codes_of(a.block, &code, &ewmalog);
			if (!listed_ewma_fits(code, ewmalog)) {
				++beyond_32_bits;
				continue;
			}
			const auto second =
				ztest::zunder(ztest::concat(rateest_head, ztest::split_words(a.save)));
			ztest::rule_lines b;
			ASSERT_EQ(second.status, 0) << second.err;
			ASSERT_TRUE(ztest::split_rule_output(second.out, &b));
			EXPECT_EQ(a.block, b.block) << interval << " " << ewma << " saved as" << a.save;
			++round_tripped;
		}
	// both sides of the 2^32us limit were met
	EXPECT_GT(round_tripped, 50);
	EXPECT_GT(beyond_32_bits, 3);
}

TEST(Rateest, SavedAveragingTimeBeyond32BitsSaturatesWhenParsedAgain)
{
	// 4096s is the longest listed averaging time below 2^32us: it parses back
	EXPECT_TRUE(ztest::accepts(expected_rule({"100ms", "2000s", -2, 14, "250.0ms", "4096.0s"})));
	EXPECT_TRUE(ztest::round_trips(rateest_head, options("100ms", "2000s")));
	// 8192s does not fit the 32-bit microseconds field; with the interval
	// raised from 100ms to 250ms the saved clause gives ewmalog 14, not 15
	EXPECT_TRUE(ztest::accepts(expected_rule({"100ms", "4000s", -2, 15, "250.0ms", "8192.0s"})));
	EXPECT_TRUE(ztest::accepts(expected_rule({"250.0ms", "8192.0s", -2, 14, "250.0ms", "4096.0s"})));
	EXPECT_TRUE(ztest::accepts(expected_rule({"3", "4294967295us", -2, 30, "250.0ms", "268435456.0s"})));
	EXPECT_TRUE(ztest::accepts(expected_rule({"250.0ms", "268435456.0s", -2, 14, "250.0ms", "4096.0s"})));
}

TEST(Rateest, Help)
{
	const auto r = ztest::zunder(ztest::concat(rateest_head, {"-h"}));
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(r.out,
		  "RATEEST target options:\n"
		  "  --rateest-name name\t\tRate estimator name\n"
		  "  --rateest-interval sec\tRate measurement interval in seconds\n"
		  "  --rateest-ewmalog value\tRate measurement averaging time constant\n");
}

} // namespace
