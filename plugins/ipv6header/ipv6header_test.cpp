// SPDX-License-Identifier: GPL-2.0-or-later
#include "protocol_table.h"
#include "rule_checks.h"

#include <netdb.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <utility>

namespace {

using ztest::accepted_rule;
using ztest::rejected_rule;

const std::vector<std::string> ipv6header6 = {"-6", "-m", "ipv6header"};
const std::vector<std::string> ipv6header6_numeric = {"-6", "-n", "-m", "ipv6header"};

std::vector<std::string> ipv6header(std::vector<std::string> options)
{
	return ztest::concat(ipv6header6, options);
}

// The headers in listing order, with their mask bits and built-in names.
struct header {
	int number;
	unsigned bit;
	const char *builtin;
};
const header headers[] = {
	{0, 0x80, "hop-by-hop"}, {60, 0x40, "dst"}, {43, 0x20, "route"}, {44, 0x10, "frag"},
	{51, 0x08, "auth"},      {50, 0x04, "esp"}, {59, 0x02, "none"},  {255, 0x01, "protocol"},
};

// The protocol database the plug-in reads: the tests' fixed one, or the
// machine's for the test that checks it.
struct protocol_database {
	const protoent *(*by_name)(const char *);
	const protoent *(*by_number)(int);
};
const protocol_database fixed_database = {[](const char *name) -> const protoent * {
						  return fixed_protocol_by_name(name);
					  },
					  [](int number) -> const protoent * {
						  return fixed_protocol_by_number(number);
					  }};
const protocol_database system_database = {[](const char *name) -> const protoent * {
						   return getprotobyname(name);
					   },
					   [](int number) -> const protoent * {
						   return getprotobynumber(number);
					   }};

// The database's name for a number wins over the built-in one (never for 0).
std::string label(const header &h, const protocol_database &db)
{
	if (h.number != 0)
		if (const protoent *entry = db.by_number(h.number))
			return entry->p_name;
	return h.builtin;
}

std::string names_of(unsigned mask, const protocol_database &db = fixed_database)
{
	std::string text;
	for (const header &h : headers)
		if (mask & h.bit) {
			if (!text.empty())
				text += ',';
			text += label(h, db);
		}
	return text.empty() ? "NONE" : text;
}

std::string hex_block(unsigned mask, bool invert, bool soft)
{
	char hex[40];
	std::snprintf(hex, sizeof(hex), "%02x%02x%02x0000000000", mask, invert ? 0xff : 0, soft ? 0xff : 0);
	return hex;
}

accepted_rule expected(const std::vector<std::string> &options, unsigned mask, bool invert, bool soft)
{
	return {ipv6header(options), hex_block(mask, invert, soft),
		std::string(" ipv6header flags:") + (invert ? "!" : "") + names_of(mask) +
			(soft ? " soft" : ""),
		std::string(invert ? " !" : "") + " --header " + names_of(mask) + (soft ? " --soft" : "")};
}

// The message for a token that names no header, or nothing where the
// database makes the token a header after all.
std::optional<std::string> rejection(const std::string &token, const protocol_database &db = fixed_database)
{
	if (const protoent *entry = db.by_name(token.c_str())) {
		const int number = static_cast<uint16_t>(entry->p_proto);
		for (const header &h : headers)
			if (h.number == number)
				return std::nullopt;
		return "unknown header `" + std::to_string(number) + "' specified";
	}
	return "unknown header `" + ztest::escaped(token) + "' specified";
}

const std::string cannot_parse = "qeb_ipv6header: cannot parse header names";

TEST(Ipv6header, AcceptedClauses)
{
	const accepted_rule rules[] = {
		expected({"--header", "hop,dst"}, 0xc0, false, false),
		expected({"--header", "dst,hop"}, 0xc0, false, false),
		expected({"--header", ",hop,,dst,"}, 0xc0, false, false),
		expected({"--header", "hop,hop-by-hop,0"}, 0x80, false, false),
		expected({"--header", "prot"}, 0x01, false, false),
		expected({"--header", "protocol"}, 0x01, false, false),
		expected({"--header", "255"}, 0x01, false, false),
		expected({"--header", "none,esp,auth,frag,route,dst,hop,prot"}, 0xff, false, false),
		expected({"--header", "0,60,43,44,51,50,59,255"}, 0xff, false, false),
		expected({"!", "--header", "esp"}, 0x04, true, false),
		expected({"--soft", "--header", "none"}, 0x02, false, true),
		expected({"!", "--header", "route,frag", "--soft"}, 0x30, true, true),
	};
	for (const auto &rule : rules) {
		EXPECT_TRUE(ztest::accepts(rule));
		const std::vector<std::string> options(rule.args.begin() + 3, rule.args.end());
		EXPECT_TRUE(ztest::round_trips(ipv6header6, options));
	}
}

TEST(Ipv6header, TokensThatNameNoHeader)
{
	// Numbers only as the built-in table writes them; names case-sensitive;
	// blanks are part of the token; "proto" only where the database has it;
	// database protocols that are no extension header ("tcp") by number.
	const char *tokens[] = {"58",      "tcp",     "proto",     "HOP", " hop", "hop ",
				"060",     "0x3c",    "+60",       "256", "-1",   "Hop-By-Hop",
				"hop;dst", "hop dst", "ipv6-icmp", "udp"};
	for (const char *token : tokens) {
		const auto message = rejection(token);
		if (!message)
			continue; // this machine's database makes it a header
		EXPECT_TRUE(ztest::rejects({ipv6header({"--header", token}), *message}));
		EXPECT_TRUE(ztest::rejects(
			{ipv6header({"--header", std::string("hop,") + token + ",dst"}), *message}));
	}
	// The first bad token is the one reported.
	EXPECT_TRUE(ztest::rejects({ipv6header({"--header", "dst,58,HOP"}), *rejection("58")}));
}

TEST(Ipv6header, Rejections)
{
	const rejected_rule rules[] = {
		{ipv6header({"--header", ""}), cannot_parse},
		{ipv6header({"--header", ","}), cannot_parse},
		{ipv6header({"--header", ",,,"}), cannot_parse},
		{ipv6header({"!", "--header", ",", "--soft"}), cannot_parse},
		{ipv6header({}), "ipv6header: option \"--header\" must be given"},
		{ipv6header({"--soft"}), "ipv6header: option \"--header\" must be given"},
		{ipv6header({"!", "--soft", "--header", "hop"}),
		 "ipv6header: option \"--soft\" cannot be negated"},
		{ipv6header({"--header", "hop", "--header", "dst"}),
		 "ipv6header: option \"--header\" may be given only once"},
		{ipv6header({"--soft", "--soft", "--header", "hop"}),
		 "ipv6header: option \"--soft\" may be given only once"},
		{ipv6header({"--header"}), "ipv6header: option \"--header\" requires an argument"},
		{{"-4", "-m", "ipv6header", "--header", "hop"},
		 "no match \"ipv6header\" exists for IPv4 (looked in " + std::string(ZUNDER_PLUGIN_DIR) +
			 "/libzu_ipv6header.so)"},
	};
	for (const auto &rule : rules)
		EXPECT_TRUE(ztest::rejects(rule));
}

TEST(Ipv6header, OddAndLongHeaderTexts)
{
	const std::string commas(5000, ',');
	const std::string long_token(100000, 'a');
	std::string many_tokens;
	for (int i = 0; i < 1000; ++i)
		many_tokens += "dst,,hop,";

	EXPECT_TRUE(ztest::accepts(expected({"--header", commas + "hop" + commas}, 0x80, false, false)));
	EXPECT_TRUE(ztest::accepts(expected({"--header", many_tokens}, 0xc0, false, false)));
	EXPECT_TRUE(ztest::rejects({ipv6header({"--header", commas}), cannot_parse}));
	EXPECT_TRUE(ztest::rejects({ipv6header({"--header", std::string(131000, ',')}), cannot_parse}));

	// Long tokens are reported whole, whatever their length.
	const std::string bad_tokens[] = {
		long_token, std::string(100000, 'h') + "op",
		"\xff",     "d\xc3\xa9st",
		"hop\x80",  "\x80\x81\xfe\xff",
		" ",        "\t",
		"hop\ndst",
	};
	for (const std::string &token : bad_tokens) {
		const auto message = rejection(token);
		ASSERT_TRUE(message.has_value());
		EXPECT_TRUE(ztest::rejects({ipv6header({"--header", token}), *message}));
		EXPECT_TRUE(ztest::rejects(
			{ipv6header({"--header", commas + "hop," + token + ",58"}), *message}));
	}
	EXPECT_TRUE(ztest::rejects(
		{ipv6header({"--header", many_tokens + long_token + ",dst"}), *rejection(long_token)}));

	// Around every plausible bound on the length of a name.
	for (const size_t length :
	     {1, 63, 127, 128, 129, 250, 254, 255, 256, 257, 258, 511, 512, 513, 1023, 1024, 1025, 4096}) {
		const std::string token(length, 'p');
		EXPECT_TRUE(ztest::rejects({ipv6header({"--header", "esp," + token}), *rejection(token)}));
	}
}

TEST(Ipv6header, BlocksReadBack)
{
	const std::string hop_dst = names_of(0xc0);
	const struct {
		std::string block, list, numeric_list, save;
	} blocks[] = {
		{"c0ffff0000000000", " ipv6header flags:!" + hop_dst + " soft",
		 " ipv6header flags:!0xC0 soft", " ! --header " + hop_dst + " --soft"},
		{"0100000000000000", " ipv6header flags:" + names_of(0x01), " ipv6header flags:0x01",
		 " --header " + names_of(0x01)},
		{"3000000000000000", " ipv6header flags:" + names_of(0x30), " ipv6header flags:0x30",
		 " --header " + names_of(0x30)},
		{"ff00000000000000", " ipv6header flags:" + names_of(0xff), " ipv6header flags:0xFF",
		 " --header " + names_of(0xff)},
		// Mask 0 cannot come from parsing; it is still named.
		{"0000000000000000", " ipv6header", " ipv6header", " --header NONE"},
		{"00ff000000000000", " ipv6header flags:!NONE", " ipv6header flags:!0x00",
		 " ! --header NONE"},
		{"0000ff0000000000", " ipv6header soft", " ipv6header soft", " --header NONE --soft"},
		// Any non-zero flag byte counts; the unused bytes are not read.
		{"c00101ffffffffff", " ipv6header flags:!" + hop_dst + " soft",
		 " ipv6header flags:!0xC0 soft", " ! --header " + hop_dst + " --soft"},
	};
	for (const auto &b : blocks) {
		EXPECT_TRUE(ztest::prints_block(ipv6header6, b.block, b.list, b.save));
		EXPECT_TRUE(ztest::prints_block(ipv6header6_numeric, b.block, b.numeric_list, b.save));
	}
	const auto short_block = ztest::zunder(ztest::concat(ipv6header6, {"--block", "00"}));
	EXPECT_EQ(short_block.status, 2);
	EXPECT_EQ(short_block.err,
		  "zunder: --block for match \"ipv6header\" needs exactly 8 bytes "
		  "as 16 hexadecimal digits\n");
}

// Every mask, plain, negated, soft and both.  The header list is written as
// save writes it, so one run shows the whole round trip: the options give
// the block, and the block saves as the very same options.
TEST(Ipv6header, EveryMaskRoundTrips)
{
	std::vector<accepted_rule> rules;
	for (unsigned mask = 1; mask <= 0xff; ++mask)
		for (unsigned variant = 0; variant < 4; ++variant) {
			const bool invert = variant & 1, soft = variant & 2;
			std::vector<std::string> options;
			if (invert)
				options.push_back("!");
			options.insert(options.end(), {"--header", names_of(mask)});
			if (soft)
				options.push_back("--soft");
			rules.push_back(expected(options, mask, invert, soft));
		}
	EXPECT_TRUE(ztest::accepts_all(rules));
}

// With a protocol database that knows nothing, only the built-in table names
// headers, both ways.
TEST(Ipv6header, BuiltInNamesWithoutDatabase)
{
	const auto &env = ztest::no_protocols;
	const std::string all = "hop-by-hop,dst,route,frag,auth,esp,none,protocol";

	EXPECT_TRUE(ztest::prints_block(ipv6header6, "ff00000000000000", " ipv6header flags:" + all,
					" --header " + all, env));
	EXPECT_TRUE(ztest::prints_block(ipv6header6, "3000000000000000", " ipv6header flags:route,frag",
					" --header route,frag", env));
	EXPECT_TRUE(ztest::accepts({ipv6header({"--header", "esp,auth,60"}), "4c00000000000000",
				    " ipv6header flags:dst,auth,esp", " --header dst,auth,esp"},
				   env));
	EXPECT_TRUE(ztest::round_trips(ipv6header6, {"!", "--header", "0,60,43,44,51,50,59,255"}, env));
	const char *unknown[] = {"tcp", "proto", "ah", "ipv6-opts", "hopopt"};
	for (const char *token : unknown)
		EXPECT_TRUE(ztest::rejects({ipv6header({"--header", token}),
					    std::string("unknown header `") + token + "' specified"},
					   env));
}

// The fixed database's names replace the built-in ones where it has the
// number, and its names for other protocols are refused by number.
TEST(Ipv6header, NamesFromTheDatabase)
{
	EXPECT_TRUE(ztest::prints_block(
		ipv6header6, "ff00000000000000",
		" ipv6header flags:hop-by-hop,ipv6-opts,ipv6-route,ipv6-frag,ah,esp,ipv6-nonxt,protocol",
		" --header hop-by-hop,ipv6-opts,ipv6-route,ipv6-frag,ah,esp,ipv6-nonxt,protocol"));
	EXPECT_TRUE(ztest::accepts({ipv6header({"--header", "IPSEC-AH,IPv6-Opts,hopopt"}), "c800000000000000",
				    " ipv6header flags:hop-by-hop,ipv6-opts,ah",
				    " --header hop-by-hop,ipv6-opts,ah"}));
	EXPECT_TRUE(ztest::rejects({ipv6header({"--header", "hop,TCP"}), "unknown header `6' specified"}));
}

// Once against the machine's own database: the listing writes its names,
// and the names it gives header numbers select those headers.
TEST(Ipv6header, MachineDatabase)
{
	if (getprotobynumber(50) == nullptr)
		GTEST_SKIP() << "this machine has no protocol database (/etc/protocols, Debian package "
				"netbase) or it lacks protocol 50";
	const auto &env = ztest::system_protocols;
	const std::string all = names_of(0xff, system_database);
	EXPECT_TRUE(ztest::prints_block(ipv6header6, "ff00000000000000", " ipv6header flags:" + all,
					" --header " + all, env));
	EXPECT_TRUE(ztest::accepts({ipv6header({"--header", "0,60,43,44,51,50,59,255"}), "ff00000000000000",
				    " ipv6header flags:" + all, " --header " + all},
				   env));
	for (const char *token : {"esp", "ah", "ipv6-opts", "tcp"}) {
		const protoent *entry = getprotobyname(token);
		if (entry == nullptr)
			continue; // not the database's: the built-in table answers
		const header *match = nullptr;
		for (const header &h : headers)
			if (h.number == static_cast<uint16_t>(entry->p_proto))
				match = &h;
		if (match)
			EXPECT_TRUE(
				ztest::accepts({ipv6header({"--header", token}),
						hex_block(match->bit, false, false),
						" ipv6header flags:" + names_of(match->bit, system_database),
						" --header " + names_of(match->bit, system_database)},
					       env));
		else
			EXPECT_TRUE(ztest::rejects({ipv6header({"--header", token}),
						    *rejection(token, system_database)},
						   env));
	}
}

TEST(Ipv6header, Help)
{
	const auto r = ztest::zunder(ztest::concat(ipv6header6, {"-h"}));
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(r.out,
		  "ipv6header match options:\n"
		  "[!] --header headers     Type of header to match, by name\n"
		  "                         names: hop,dst,route,frag,auth,esp,none,proto\n"
		  "                    long names: hop-by-hop,ipv6-opts,ipv6-route,\n"
		  "                                ipv6-frag,ah,esp,ipv6-nonxt,protocol\n"
		  "                       numbers: 0,60,43,44,51,50,59\n"
		  "--soft                    The header CONTAINS the specified extensions\n");
}

} // namespace
