// SPDX-License-Identifier: GPL-2.0-or-later
// Inputs the policy clause must refuse, beyond those in policy_test.cpp:
// each row is an option vector and the exact message (exit status 2 too).
#include "rule_checks.h"

namespace {

using ztest::expect_rejected;

const std::vector<std::string> policy4 = {"-4", "-m", "policy"};
const std::vector<std::string> policy6 = {"-6", "-m", "policy"};

std::string number_message(const std::string &option, const std::string &arg)
{
	return "policy: option \"--" + option + "\": \"" + arg + "\" is not a number from 0 to 4294967295";
}

std::string address_message(const std::string &option, const std::string &arg, const char *family)
{
	return "policy: option \"--" + option + "\": \"" + arg + "\" is not an " + family +
	       " address with an optional /mask";
}

TEST(PolicyBadInput, ValuesOutOfRangeOrMalformed)
{
	const std::string long_word(4000, 'x');
	expect_rejected(policy4,
			{
				{{"--dir", "in", "--spi", "4294967296"}, number_message("spi", "4294967296")},
				{{"--dir", "in", "--spi", "-1"}, number_message("spi", "-1")},
				{{"--dir", "in", "--reqid", ""}, number_message("reqid", "")},
				{{"--dir", "in", "--reqid", "0x1g"}, number_message("reqid", "0x1g")},
				{{"--dir", "in", "--mode", "tunnel", "--tunnel-src", "1.2.3.4/33"},
				 address_message("tunnel-src", "1.2.3.4/33", "IPv4")},
				{{"--dir", "in", "--mode", "tunnel", "--tunnel-src", "1.2.3.4/"},
				 address_message("tunnel-src", "1.2.3.4/", "IPv4")},
				{{"--dir", "in", "--mode", "tunnel", "--tunnel-dst", ""},
				 address_message("tunnel-dst", "", "IPv4")},
				{{"--dir", "in", "--mode", "tunnel", "--tunnel-dst", "::1"},
				 address_message("tunnel-dst", "::1", "IPv4")},
				{{"--dir", "in", "--mode", "tunnel", "--tunnel-dst", long_word},
				 address_message("tunnel-dst", long_word, "IPv4")},
				{{"--dir", "in", "--proto", ""},
				 "policy: option \"--proto\": unknown protocol \"\""},
				{{"--dir", "in", "--proto", "256"},
				 "policy: option \"--proto\": unknown protocol \"256\""},
				// Texts are compared exactly: no case folding, no trimming, bytes as given.
				{{"--dir", "\xc3\xafn"}, "policy_match: invalid dir \"\xc3\xafn\""},
				{{"--dir", "in\n"}, "policy_match: invalid dir \"in\\x0a\""},
				{{"--dir", long_word}, "policy_match: invalid dir \"" + long_word + "\""},
				{{"--dir", "in", "--pol", ""}, "policy match: invalid policy \"\""},
				{{"--dir", "in", "--pol", "\xff"}, "policy match: invalid policy \"\xff\""},
				{{"--dir", "in", "--mode", "tunnel\xc2\xa0"},
				 "policy match: invalid mode \"tunnel\xc2\xa0\""},
				{{"--dir", "in", "--mode", long_word},
				 "policy match: invalid mode \"" + long_word + "\""},
			});
	expect_rejected(policy6,
			{
				{{"--dir", "in", "--mode", "tunnel", "--tunnel-src", "::1/129"},
				 address_message("tunnel-src", "::1/129", "IPv6")},
				{{"--dir", "in", "--mode", "tunnel", "--tunnel-src", "fe80::1%eth0"},
				 address_message("tunnel-src", "fe80::1%eth0", "IPv6")},
				{{"--dir", "in", "--mode", "tunnel", "--tunnel-dst", "::1/255.0.0.0"},
				 address_message("tunnel-dst", "::1/255.0.0.0", "IPv6")},
			});
}

TEST(PolicyBadInput, NegationRepeatsAndArguments)
{
	expect_rejected(policy4,
			{
				{{"--dir", "in", "!", "--pol", "ipsec"},
				 "policy: option \"--pol\" cannot be negated"},
				{{"--dir", "in", "!", "--strict"},
				 "policy: option \"--strict\" cannot be negated"},
				{{"--dir", "in", "--pol", "none", "--pol", "none"},
				 "policy: option \"--pol\" may be given only once"},
				{{"--dir", "in", "--dir", "out"},
				 "policy: option \"--dir\" may be given only once"},
				{{"--dir"}, "policy: option \"--dir\" requires an argument"},
				{{"--dir", "in", "--pol"}, "policy: option \"--pol\" requires an argument"},
				{{"--dir", "in", "--mode"}, "policy: option \"--mode\" requires an argument"},
				{{"--dir", "in", "!", "--tunnel-src"},
				 "policy: option \"--tunnel-src\" requires an argument"},
				{{"--dir", "in", "--strict", "--reqid", "1", "!"},
				 "policy: \"!\" must be followed by an option"},
				// A repeated item within one element, also after another item.
				{{"--dir", "in", "--reqid", "1", "--spi", "2", "!", "--reqid", "1"},
				 "policy match: double --reqid option"},
			});
}

TEST(PolicyBadInput, WordsThatAreNoOption)
{
	expect_rejected(policy4,
			{
				{{"--dir", "in", "--tunnel", "1.2.3.4"},
				 "policy: unknown option \"--tunnel\""},
				{{"--direction", "in"}, "policy: unknown option \"--direction\""},
				{{"dir", "in"}, "policy: unknown option \"dir\""},
				{{"--dir", "in", "--strict", "next"}, "policy: unknown option \"next\""},
				{{"--dir", "in", "--pol", "ipsec", "--reqid", "1", "2"},
				 "policy: unknown option \"2\""},
				{{"--d\xc3\xafr", "in"}, "policy: unknown option \"--d\xc3\xafr\""},
			});
}

} // namespace
