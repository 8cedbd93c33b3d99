// SPDX-License-Identifier: GPL-2.0-or-later
// Inputs the ipv6header clause must refuse, beyond those in
// ipv6header_test.cpp: each row is an option vector and the exact message.
#include "rule_checks.h"

namespace {

using ztest::expect_rejected;

const std::vector<std::string> ipv6header6 = {"-6", "-m", "ipv6header"};

TEST(Ipv6headerBadInput, WordsThatAreNoOption)
{
	expect_rejected(ipv6header6,
			{
				{{"--headers", "hop"}, "ipv6header: unknown option \"--headers\""},
				{{"--header", "hop", "dst"}, "ipv6header: unknown option \"dst\""},
				{{"--soft", "--header", "hop", "--soft=1"},
				 "ipv6header: unknown option \"--soft=1\""},
				{{"!", "!", "--header", "hop"}, "ipv6header: unknown option \"!\""},
				{{"--header", "hop", "!"}, "ipv6header: \"!\" must be followed by an option"},
				{{"--\xe2\x80\x94header", "hop"},
				 "ipv6header: unknown option \"--\xe2\x80\x94header\""},
			});
}

TEST(Ipv6headerBadInput, RepeatsAndArguments)
{
	expect_rejected(ipv6header6,
			{
				// Repeated even when both lists are the same, or the second negated.
				{{"--header", "hop", "--header", "hop"},
				 "ipv6header: option \"--header\" may be given only once"},
				{{"--header", "hop", "!", "--header", "dst"},
				 "ipv6header: option \"--header\" may be given only once"},
				{{"!", "--header"}, "ipv6header: option \"--header\" requires an argument"},
				// --soft takes no argument, so it cannot stand in for the header list.
				{{"--soft", "--header"},
				 "ipv6header: option \"--header\" requires an argument"},
			});
}

} // namespace
