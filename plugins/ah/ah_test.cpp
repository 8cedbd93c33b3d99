// SPDX-License-Identifier: GPL-2.0-or-later
#include "rule_checks.h"

namespace {

using ztest::accepted_rule;
using ztest::rejected_rule;

const std::vector<std::string> ah6 = {"-6", "-m", "ah"};

std::vector<std::string> ah(std::vector<std::string> options)
{
	return ztest::concat(ah6, options);
}

TEST(Ah, AcceptedClauses)
{
	const accepted_rule rules[] = {
		{ah({"--ahspi", "500"}), "f4010000f40100000000000000000000", " ah spi:500", " --ahspi 500"},
		{ah({"--ahspi", "7"}), "07000000070000000000000000000000", " ah spi:7", " --ahspi 7"},
		{ah({"!", "--ahspi", "100:200", "--ahlen", "24", "--ahres"}),
		 "64000000c80000001800000001010000", " ah spis:!100:200 length:24 reserved",
		 " ! --ahspi 100:200 --ahlen 24 --ahres"},
		{ah({"--ahspi", "0:4294967295", "!", "--ahlen", "0"}), "00000000ffffffff0000000000020000",
		 " ah length:!0", " ! --ahlen 0"},
		{ah({"!", "--ahspi", "0:4294967295"}), "00000000ffffffff0000000000010000",
		 " ah spis:!0:4294967295", " ! --ahspi 0:4294967295"},
		{ah({"--ahspi", "0x10:0X20"}), "10000000200000000000000000000000", " ah spis:16:32",
		 " --ahspi 16:32"},
		// Without --ahspi the clause puts no limit on the SPI.
		{ah({"--ahlen", "24"}), "00000000ffffffff1800000000000000", " ah length:24", " --ahlen 24"},
		{ah({}), "00000000ffffffff0000000000000000", " ah ", ""},
		{ah({"--ahres"}), "00000000ffffffff0000000001000000", " ah  reserved", " --ahres"},
		// An explicit SPI 0 stays a restriction to SPI 0.
		{ah({"--ahspi", "0"}), "00000000000000000000000000000000", " ah spi:0", " --ahspi 0"},
	};
	EXPECT_TRUE(ztest::accepts_all({std::begin(rules), std::end(rules)}));
}

TEST(Ah, HostRejectsBadValues)
{
	const rejected_rule rules[] = {
		{ah({"--ahspi", "abc"}),
		 "ah: option \"--ahspi\": \"abc\" is not a number or a range "
		 "\"first:last\" of numbers from 0 to 4294967295"},
		{ah({"--ahspi", "4294967296"}),
		 "ah: option \"--ahspi\": \"4294967296\" is not a number or "
		 "a range \"first:last\" of numbers from 0 to 4294967295"},
		{ah({"--ahspi", "1:"}),
		 "ah: option \"--ahspi\": \"1:\" is not a number or a range "
		 "\"first:last\" of numbers from 0 to 4294967295"},
		{ah({"--ahspi", "-1"}),
		 "ah: option \"--ahspi\": \"-1\" is not a number or a range "
		 "\"first:last\" of numbers from 0 to 4294967295"},
		{ah({"--ahlen", ""}), "ah: option \"--ahlen\": \"\" is not a number from 0 to 4294967295"},
		{ah({"--ahlen", " 5"}),
		 "ah: option \"--ahlen\": \" 5\" is not a number from 0 to 4294967295"},
		{ah({"!", "--ahres"}), "ah: option \"--ahres\" cannot be negated"},
		{ah({"--ahspi", "1", "--ahspi", "2"}), "ah: option \"--ahspi\" may be given only once"},
		{ah({"--ahlen"}), "ah: option \"--ahlen\" requires an argument"},
		{ah({"--bogus"}), "ah: unknown option \"--bogus\""},
		{ah({"!"}), "ah: \"!\" must be followed by an option"},
		{{"-4", "-m", "ah", "--ahspi", "1"},
		 "no match \"ah\" exists for IPv4 (looked in " + std::string(ZUNDER_PLUGIN_DIR) +
			 "/libzu_ah.so)"},
	};
	for (const auto &rule : rules)
		EXPECT_TRUE(ztest::rejects(rule));
}

TEST(Ah, SavedOptionsParseBackIntoTheSameBlock)
{
	const std::vector<std::string> clauses[] = {
		{"--ahspi", "500"},
		{"!", "--ahspi", "100:200", "--ahlen", "24", "--ahres"},
		{"--ahspi", "0:4294967295", "!", "--ahlen", "0"},
		{"!", "--ahspi", "0:4294967295"},
		{"--ahspi", "200:100"},
		{"--ahspi", "0"},
		{"--ahlen", "4294967295"},
		{},
	};
	for (const auto &options : clauses)
		EXPECT_TRUE(ztest::round_trips(ah6, options));
}

TEST(Ah, BlocksReadBack)
{
	// full range, length 0, check_reserved 1: two blanks before "reserved"
	EXPECT_TRUE(
		ztest::prints_block(ah6, "00000000ffffffff0000000001000000", " ah  reserved", " --ahres"));
	EXPECT_TRUE(ztest::prints_block(ah6, "00000000ffffffff0000000000040000", " ah  Unknown invflags: 0x4",
					""));
	EXPECT_TRUE(ztest::prints_block(ah6, "05000000050000001800000000070000",
					" ah spi:!5 length:!24 Unknown invflags: 0x4",
					" ! --ahspi 5 ! --ahlen 24"));
	// the zero fill of another host: SPI 0 only
	EXPECT_TRUE(ztest::prints_block(ah6, "00000000000000000000000000000000", " ah spi:0", " --ahspi 0"));

	const auto short_block = ztest::zunder(ztest::concat(ah6, {"--block", "00"}));
	EXPECT_EQ(short_block.status, 2);
	EXPECT_EQ(short_block.out, "");
	EXPECT_EQ(short_block.err,
		  "zunder: --block for match \"ah\" needs exactly 16 bytes as 32 "
		  "hexadecimal digits\n");
}

TEST(Ah, Help)
{
	const auto r = ztest::zunder(ztest::concat(ah6, {"-h"}));
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(r.out,
		  "ah match options:\n"
		  "[!] --ahspi spi[:spi]          match spi (range)\n"
		  "[!] --ahlen length             total length of this header\n"
		  " --ahres                       check the reserved field too\n");
}

} // namespace
