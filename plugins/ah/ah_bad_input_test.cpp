// SPDX-License-Identifier: GPL-2.0-or-later
// Inputs the ah clause must refuse, beyond those in ah_test.cpp: each row is
// an option vector and the exact message (exit status 2 is checked too).
#include "rule_checks.h"

namespace {

using ztest::expect_rejected;

const std::vector<std::string> ah6 = {"-6", "-m", "ah"};

std::string range_message(const std::string &arg)
{
	return "ah: option \"--ahspi\": \"" + arg +
	       "\" is not a number or a range \"first:last\" of numbers from 0 to 4294967295";
}

std::string length_message(const std::string &arg)
{
	return "ah: option \"--ahlen\": \"" + arg + "\" is not a number from 0 to 4294967295";
}

TEST(AhBadInput, NumbersOutOfRangeOrMalformed)
{
	const std::string long_digits(5000, '9');
	expect_rejected(ah6,
			{
				{{"--ahlen", "4294967296"}, length_message("4294967296")},
				{{"--ahlen", "0x100000000"}, length_message("0x100000000")},
				{{"--ahlen", "0x"}, length_message("0x")},
				{{"--ahlen", "1.5"}, length_message("1.5")},
				{{"--ahlen", "+1"}, length_message("+1")},
				{{"--ahlen", "5 "}, length_message("5 ")},
				{{"--ahlen", long_digits}, length_message(long_digits)},
				{{"--ahlen", "\xd9\xa5"}, length_message("\xd9\xa5")}, // a non-ASCII digit
				{{"--ahspi", ""}, range_message("")},
				{{"--ahspi", ":5"}, range_message(":5")},
				{{"--ahspi", "1:2:3"}, range_message("1:2:3")},
				{{"--ahspi", "1:4294967296"}, range_message("1:4294967296")},
				{{"--ahspi", "0x:1"}, range_message("0x:1")},
				{{"--ahspi", "1-2"}, range_message("1-2")},
				{{"--ahspi", "\xff"}, range_message("\xff")},
			});
}

TEST(AhBadInput, WordsThatAreNoOption)
{
	expect_rejected(ah6, {
				     {{"ahspi", "1"}, "ah: unknown option \"ahspi\""},
				     {{"-ahspi", "1"}, "ah: unknown option \"-ahspi\""},
				     {{"--"}, "ah: unknown option \"--\""},
				     {{"--AHSPI", "1"}, "ah: unknown option \"--AHSPI\""},
				     {{"--ahspi=1"}, "ah: unknown option \"--ahspi=1\""},
				     {{"--ah\xc3\xa9"}, "ah: unknown option \"--ah\xc3\xa9\""},
				     {{""}, "ah: unknown option \"\""},
				     // A type-0 option takes no argument: the next word is read as an option.
				     {{"--ahres", "1"}, "ah: unknown option \"1\""},
				     {{"!", "!", "--ahspi", "1"}, "ah: unknown option \"!\""},
				     {{"!", "--bogus"}, "ah: unknown option \"--bogus\""},
				     {{"--ahspi", "1", "!"}, "ah: \"!\" must be followed by an option"},
			     });
}

TEST(AhBadInput, RepeatsAndMissingArguments)
{
	expect_rejected(ah6,
			{
				{{"--ahlen", "1", "--ahlen", "1"},
				 "ah: option \"--ahlen\" may be given only once"},
				{{"--ahres", "--ahres"}, "ah: option \"--ahres\" may be given only once"},
				// A negated repeat is still a repeat.
				{{"--ahspi", "1", "!", "--ahspi", "1"},
				 "ah: option \"--ahspi\" may be given only once"},
				{{"--ahspi"}, "ah: option \"--ahspi\" requires an argument"},
				{{"!", "--ahspi"}, "ah: option \"--ahspi\" requires an argument"},
			});
}

} // namespace
