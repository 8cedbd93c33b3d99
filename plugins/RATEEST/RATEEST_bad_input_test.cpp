// SPDX-License-Identifier: GPL-2.0-or-later
// Inputs the RATEEST target must refuse, beyond those in RATEEST_test.cpp:
// each row is an option vector and the exact message (exit status 2 too).
#include "rule_checks.h"

namespace {

using ztest::expect_rejected;

const std::vector<std::string> rateest = {"-j", "RATEEST"};

std::vector<std::string> with(const std::string &interval, const std::string &ewma,
			      const std::string &name = "est1")
{
	return {"--rateest-name", name, "--rateest-interval", interval, "--rateest-ewmalog", ewma};
}

std::vector<std::string> plus(std::vector<std::string> a, const std::vector<std::string> &b)
{
	return ztest::concat(std::move(a), b);
}

TEST(RateestBadInput, TimesThatDoNotParse)
{
	const std::string long_unit = "1" + std::string(5000, 's');
	expect_rejected(rateest,
			{
				{with("1\xc2\xb5s", "4s"),
				 "RATEEST: bad interval value \"1\xc2\xb5s\""}, // micro sign
				{with("\xef\xbc\x91s", "4s"),
				 "RATEEST: bad interval value \"\xef\xbc\x91s\""},
				{with(long_unit, "4s"), "RATEEST: bad interval value \"" + long_unit + "\""},
				{with("1s", long_unit), "RATEEST: bad ewmalog value \"" + long_unit + "\""},
				{with("1s", "4 s"), "RATEEST: bad ewmalog value \"4 s\""},
				{with("1s", "4sec\n"), "RATEEST: bad ewmalog value \"4sec\\x0a\""},
				{with("1s", "4hz"), "RATEEST: bad ewmalog value \"4hz\""},
			});
}

TEST(RateestBadInput, TimesOutOfRange)
{
	const std::string range = "RATEEST: ewmalog value is out of range";
	const std::string too_large = "RATEEST: interval value is too large";
	expect_rejected(rateest, {
					 {with("inf", "4s"), too_large},
					 {with("1e10", "4s"), too_large},
					 {with("8.5s", "64s"), too_large},
					 {with("1s", "0"), range},
					 {with("1s", "-inf"), range},
				 });
}

TEST(RateestBadInput, NamesAndTheHostChecks)
{
	const std::string too_long =
		"RATEEST: option \"--rateest-name\": the text must be at most 15 "
		"characters long";
	expect_rejected(
		rateest,
		{
			{with("1s", "4s", std::string(5000, 'n')), too_long},
			// The limit counts bytes: eight two-byte characters are sixteen.
			{with("1s", "4s", "\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9"),
			 too_long},
			{plus(with("1s", "4s"), {"--rateest-name", "other"}),
			 "RATEEST: option \"--rateest-name\" may be given only once"},
			{plus(with("1s", "4s"), {"--rateest-ewmalog", "4s"}),
			 "RATEEST: option \"--rateest-ewmalog\" may be given only once"},
			{{"--rateest-name", "e", "!", "--rateest-interval", "1s", "--rateest-ewmalog", "4s"},
			 "RATEEST: option \"--rateest-interval\" cannot be negated"},
			{{"--rateest-name", "e", "--rateest-interval", "1s", "!", "--rateest-ewmalog", "4s"},
			 "RATEEST: option \"--rateest-ewmalog\" cannot be negated"},
			{{"--rateest-name", "e", "--rateest-interval"},
			 "RATEEST: option \"--rateest-interval\" requires an argument"},
			{{"--rateest-name", "e", "--rateest-interval", "1s", "--rateest-ewmalog"},
			 "RATEEST: option \"--rateest-ewmalog\" requires an argument"},
			{{}, "RATEEST: option \"--rateest-name\" must be given"},
			{plus(with("1s", "4s"), {"--rateest-burst", "1"}),
			 "RATEEST: unknown option \"--rateest-burst\""},
			{{"--name", "e"}, "RATEEST: unknown option \"--name\""},
			{plus(with("1s", "4s"), {"extra"}), "RATEEST: unknown option \"extra\""},
			{plus(with("1s", "4s"), {"!"}), "RATEEST: \"!\" must be followed by an option"},
		});
}

} // namespace
