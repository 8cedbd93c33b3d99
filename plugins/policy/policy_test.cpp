// SPDX-License-Identifier: GPL-2.0-or-later
#include "rule_checks.h"
#include "zunder_host.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>

namespace {

using ztest::accepted_rule;
using ztest::rejected_rule;

const std::vector<std::string> policy4 = {"-4", "-m", "policy"};
const std::vector<std::string> policy6 = {"-6", "-m", "policy"};
const std::vector<std::string> families[] = {policy4, policy6};

// The name the machine's protocol database gives a protocol, else its
// number, which is what the listing writes.  Every other test runs zunder
// against the fixed database of the tests (esp 50, ah 51, ipcomp 108).
std::string system_proto_text(int number)
{
	const protoent *entry = getprotobynumber(number);
	return entry ? entry->p_name : std::to_string(number);
}

// The 312-byte info block, built field by field at the offsets the kernel
// expects, so that the plug-in's own layout is checked against them.
class block {
public:
	block &flags(uint16_t v) { return put(304, v); }
	block &count(uint16_t v) { return put(306, v); }
	block &tunnel_src(unsigned el, const std::string &addr, const std::string &mask)
	{
		return address(76 * el + 0, addr).address(76 * el + 16, mask);
	}
	block &tunnel_dst(unsigned el, const std::string &addr, const std::string &mask)
	{
		return address(76 * el + 32, addr).address(76 * el + 48, mask);
	}
	block &spi(unsigned el, uint32_t v) { return put(76 * el + 64, v); }
	block &reqid(unsigned el, uint32_t v) { return put(76 * el + 68, v); }
	block &proto(unsigned el, uint8_t v) { return put(76 * el + 72, v); }
	block &mode(unsigned el, uint8_t v) { return put(76 * el + 73, v); }
	block &match(unsigned el, uint8_t v) { return put(76 * el + 74, v); }
	block &invert(unsigned el, uint8_t v) { return put(76 * el + 75, v); }

	operator std::string() const
	{
		std::string hex;
		char pair[3];
		for (uint8_t b : bytes_) {
			std::snprintf(pair, sizeof(pair), "%02x", b);
			hex += pair;
		}
		return hex;
	}

private:
	template <typename T>
	block &put(size_t offset, T value)
	{
		std::memcpy(bytes_.data() + offset, &value, sizeof(value));
		return *this;
	}
	// IPv4 text fills the first 4 bytes, IPv6 text all 16.
	block &address(size_t offset, const std::string &text)
	{
		const int af = text.find(':') != std::string::npos ? AF_INET6 : AF_INET;
		EXPECT_EQ(inet_pton(af, text.c_str(), bytes_.data() + offset), 1) << text;
		return *this;
	}
	std::array<uint8_t, 312> bytes_{};
};

enum : uint16_t { dir_in = 1, dir_out = 2, pol_none = 4, strict = 8 };
enum : uint8_t { tsrc = 1, tdst = 2, proto = 4, mode = 8, spi = 16, reqid = 32 };

std::vector<std::string> with(const std::vector<std::string> &head, std::vector<std::string> options)
{
	return ztest::concat(head, options);
}

// The worked example: direction out, strict, two elements.
const std::vector<std::string> two_elements_options = {"--dir", "out",     "--strict", "--reqid",
						       "16",    "--proto", "esp",      "--next",
						       "--spi", "512",     "--mode",   "tunnel"};
const block two_elements = block().flags(dir_out | strict)
				   .count(2)
				   .reqid(0, 16)
				   .proto(0, 50)
				   .match(0, reqid | proto)
				   .spi(1, 512)
				   .mode(1, 1)
				   .match(1, spi | mode);
const std::string two_elements_save =
	" --dir out --pol ipsec --strict --reqid 16 --proto esp"
	" --next --spi 0x200 --mode tunnel";
std::string two_elements_list(const std::string &proto)
{
	return " policy match dir out pol ipsec strict [0] reqid 16 proto " + proto +
	       " [1] spi 0x200 mode tunnel";
}

// Clauses that mean the same in both families: options, block, list, save.
struct family_free_rule {
	std::vector<std::string> options;
	std::string block;
	std::string list;
	std::string save;
};

const family_free_rule family_free_rules[] = {
	{{"--dir", "in"},
	 block().flags(dir_in).count(1),
	 " policy match dir in pol ipsec",
	 " --dir in --pol ipsec"},
	{{"--dir", "in", "--pol", "ipsec"},
	 block().flags(dir_in).count(1),
	 " policy match dir in pol ipsec",
	 " --dir in --pol ipsec"},
	{{"--pol", "none", "--dir", "out"},
	 block().flags(dir_out | pol_none),
	 " policy match dir out pol none",
	 " --dir out --pol none"},
	{two_elements_options, two_elements, two_elements_list("esp"), two_elements_save},
	{{"--dir", "in", "!", "--reqid", "5", "!", "--spi", "0x10", "--proto", "51", "!", "--mode",
	  "transport"},
	 block().flags(dir_in)
		 .count(1)
		 .reqid(0, 5)
		 .spi(0, 16)
		 .proto(0, 51)
		 .match(0, reqid | spi | proto | mode)
		 .invert(0, reqid | spi | mode),
	 " policy match dir in pol ipsec ! reqid 5 ! spi 0x10 proto ah ! mode transport",
	 " --dir in --pol ipsec ! --reqid 5 ! --spi 0x10 --proto ah ! --mode transport"},
	{{"--dir", "out", "!", "--proto", "108", "--reqid", "4294967295", "--spi", "0"},
	 block().flags(dir_out)
		 .count(1)
		 .proto(0, 108)
		 .reqid(0, 4294967295u)
		 .match(0, proto | reqid | spi)
		 .invert(0, proto),
	 " policy match dir out pol ipsec reqid 4294967295 spi 0x0 ! proto ipcomp",
	 " --dir out --pol ipsec --reqid 4294967295 --spi 0x0 ! --proto ipcomp"},
	// Each item once per element; negation is per element too.
	{{"--dir", "in", "--strict", "!", "--reqid", "1", "--next", "--reqid", "2", "--next", "--reqid", "3",
	  "--next", "!", "--spi", "4", "--reqid", "4"},
	 block().flags(dir_in | strict)
		 .count(4)
		 .reqid(0, 1)
		 .match(0, reqid)
		 .invert(0, reqid)
		 .reqid(1, 2)
		 .match(1, reqid)
		 .reqid(2, 3)
		 .match(2, reqid)
		 .spi(3, 4)
		 .reqid(3, 4)
		 .match(3, spi | reqid)
		 .invert(3, spi),
	 " policy match dir in pol ipsec strict [0] ! reqid 1 [1] reqid 2 [2] reqid 3"
	 " [3] reqid 4 ! spi 0x4",
	 " --dir in --pol ipsec --strict ! --reqid 1 --next --reqid 2 --next --reqid 3"
	 " --next --reqid 4 ! --spi 0x4"},
};

TEST(PolicyParse, ClausesGiveTheirBlockListingAndOptions)
{
	for (const auto &head : families) {
		std::vector<accepted_rule> rules;
		for (const auto &r : family_free_rules)
			rules.push_back({with(head, r.options), r.block, r.list, r.save});
		EXPECT_TRUE(ztest::accepts_all(rules));
		// Policy none keeps an element's items in the block but shows none of
		// them, so this clause alone does not come back from its saved form.
		EXPECT_TRUE(ztest::accepts({with(head, {"--dir", "in", "--pol", "none", "--reqid", "5"}),
					    block().flags(dir_in | pol_none).reqid(0, 5).match(0, reqid),
					    " policy match dir in pol none", " --dir in --pol none"}));
	}
	EXPECT_TRUE(ztest::accepts({ztest::concat({"-n"}, with(policy4, two_elements_options)), two_elements,
				    two_elements_list("50"), two_elements_save}));
}

const accepted_rule tunnel_rules[] = {
	{with(policy4, {"--dir", "in", "--mode", "tunnel", "--tunnel-src", "10.1.2.3/8", "--tunnel-dst",
			"192.168.1.1"}),
	 block().flags(dir_in)
		 .count(1)
		 .mode(0, 1)
		 .match(0, mode | tsrc | tdst)
		 .tunnel_src(0, "10.0.0.0", "255.0.0.0")
		 .tunnel_dst(0, "192.168.1.1", "255.255.255.255"),
	 " policy match dir in pol ipsec mode tunnel tunnel-dst 192.168.1.1 tunnel-src 10.0.0.0/8",
	 " --dir in --pol ipsec --mode tunnel --tunnel-dst 192.168.1.1 --tunnel-src 10.0.0.0/8"},
	{with(policy4,
	      {"--dir", "out", "!", "--tunnel-dst", "10.9.0.1/255.0.255.0", "!", "--mode", "transport"}),
	 block().flags(dir_out)
		 .count(1)
		 .match(0, mode | tdst)
		 .invert(0, mode | tdst)
		 .tunnel_dst(0, "10.0.0.0", "255.0.255.0"),
	 " policy match dir out pol ipsec ! mode transport ! tunnel-dst 10.0.0.0/255.0.255.0",
	 " --dir out --pol ipsec ! --mode transport ! --tunnel-dst 10.0.0.0/255.0.255.0"},
	{with(policy6, {"--dir", "in", "--strict", "--reqid", "1", "--next", "--tunnel-src", "2001:db8::1/32",
			"!", "--tunnel-dst", "::1", "--mode", "tunnel"}),
	 block().flags(dir_in | strict)
		 .count(2)
		 .reqid(0, 1)
		 .match(0, reqid)
		 .mode(1, 1)
		 .match(1, mode | tsrc | tdst)
		 .invert(1, tdst)
		 .tunnel_src(1, "2001:db8::", "ffff:ffff::")
		 .tunnel_dst(1, "::1", "ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff"),
	 " policy match dir in pol ipsec strict [0] reqid 1 [1] mode tunnel ! tunnel-dst ::1"
	 " tunnel-src 2001:db8::/32",
	 " --dir in --pol ipsec --strict --reqid 1 --next --mode tunnel ! --tunnel-dst ::1"
	 " --tunnel-src 2001:db8::/32"},
	{with(policy6, {"--dir", "out", "--tunnel-dst", "fe80::1/ffff::ffff", "--mode", "tunnel"}),
	 block().flags(dir_out)
		 .count(1)
		 .mode(0, 1)
		 .match(0, mode | tdst)
		 .tunnel_dst(0, "fe80::1", "ffff::ffff"),
	 " policy match dir out pol ipsec mode tunnel tunnel-dst fe80::1/ffff::ffff",
	 " --dir out --pol ipsec --mode tunnel --tunnel-dst fe80::1/ffff::ffff"},
};

TEST(PolicyParse, TunnelAddressesOfBothFamilies)
{
	EXPECT_TRUE(ztest::accepts_all({std::begin(tunnel_rules), std::end(tunnel_rules)}));
}

TEST(PolicyParse, SavedOptionsParseBackIntoTheSameBlock)
{
	for (const auto &head : families)
		for (const auto &r : family_free_rules)
			EXPECT_TRUE(ztest::round_trips(head, r.options));
	for (const auto &rule : tunnel_rules) {
		const std::vector<std::string> head(rule.args.begin(), rule.args.begin() + 3);
		const std::vector<std::string> options(rule.args.begin() + 3, rule.args.end());
		EXPECT_TRUE(ztest::round_trips(head, options));
	}
}

std::string dir_message(const std::string &arg)
{
	return "policy_match: invalid dir \"" + arg + "\"";
}

TEST(PolicyParse, BadOptionsAreRejected)
{
	const std::pair<std::vector<std::string>, std::string> rules[] = {
		{{"--dir", "IN"}, dir_message("IN")},
		{{"--dir", "input"}, dir_message("input")},
		{{"--dir", "i"}, dir_message("i")},
		{{"--dir", ""}, dir_message("")},
		{{"--pol", "NONE", "--dir", "in"}, "policy match: invalid policy \"NONE\""},
		{{"--pol", "ipsec ", "--dir", "in"}, "policy match: invalid policy \"ipsec \""},
		{{"--dir", "in", "--reqid", "1", "--reqid", "2"}, "policy match: double --reqid option"},
		{{"--dir", "in", "--spi", "1", "!", "--spi", "1"}, "policy match: double --spi option"},
		// The repeat is found before the protocol is looked at.
		{{"--dir", "in", "--proto", "esp", "--proto", "tcp"}, "policy match: double --proto option"},
		{{"--dir", "in", "--proto", "tcp"}, "policy match: protocol must be ah/esp/ipcomp"},
		{{"--dir", "in", "!", "--proto", "6"}, "policy match: protocol must be ah/esp/ipcomp"},
		{{"--dir", "in", "--proto", "0"}, "policy match: protocol must be ah/esp/ipcomp"},
		{{"--dir", "in", "--proto", "255"}, "policy match: protocol must be ah/esp/ipcomp"},
		{{"--dir", "in", "--mode", "tunnel", "--mode", "tunnel"},
		 "policy match: double --mode option"},
		{{"--dir", "in", "--mode", "Tunnel"}, "policy match: invalid mode \"Tunnel\""},
		{{"--dir", "in", "--mode", ""}, "policy match: invalid mode \"\""},
		{{"--dir", "in", "--mode", "tunnel", "--tunnel-src", "1.2.3.4", "--tunnel-src", "1.2.3.4"},
		 "policy match: double --tunnel-src option"},
		{{"--dir", "in", "--mode", "tunnel", "--tunnel-dst", "1.2.3.4", "!", "--tunnel-dst",
		  "1.2.3.5"},
		 "policy match: double --tunnel-dst option"},
		// The fourth --next fails as soon as it is read.
		{{"--dir", "in", "--strict", "--next", "--next", "--next", "--next", "--bogus"},
		 "policy match: maximum policy depth reached"},
		// What the host itself refuses.
		{{"--dir", "in", "--dir", "in"}, "policy: option \"--dir\" may be given only once"},
		{{"--dir", "in", "--strict", "--strict"},
		 "policy: option \"--strict\" may be given only once"},
		{{"!", "--dir", "in"}, "policy: option \"--dir\" cannot be negated"},
		{{"--dir", "in", "!", "--next"}, "policy: option \"--next\" cannot be negated"},
		{{"--dir", "in", "--reqid", "1", "--next", "--reqid", "2"},
		 "policy: option \"--next\" requires option \"--strict\""},
		{{"--dir", "in", "--reqid", "x"},
		 "policy: option \"--reqid\": \"x\" is not a number from 0 to 4294967295"},
		{{"--dir", "in", "--proto", "nosuchproto"},
		 "policy: option \"--proto\": unknown protocol \"nosuchproto\""},
		{{"--dir", "in", "--tunnel-src", "10.0.0.300"},
		 "policy: option \"--tunnel-src\": \"10.0.0.300\" is not an IPv4 address with an optional /mask"},
	};
	for (const auto &[options, message] : rules)
		EXPECT_TRUE(ztest::rejects({with(policy4, options), message}));
	EXPECT_TRUE(ztest::rejects({with(policy6, {"--dir", "in", "--tunnel-dst", "10.0.0.1"}),
				    "policy: option \"--tunnel-dst\": \"10.0.0.1\" is not an IPv6 "
				    "address with an optional /mask"}));
}

const std::string no_dir = "policy match: neither --dir in nor --dir out specified";
const std::string none_strict = "policy match: policy none but --strict given";
const std::string tunnel_only = "policy match: --tunnel-src/--tunnel-dst is only valid in tunnel mode";
std::string empty_element(unsigned i)
{
	return "policy match: empty policy element " + std::to_string(i) +
	       ". --strict is in effect, but at least one of reqid, spi, tunnel-src, tunnel-dst, "
	       "proto or mode is required.";
}

TEST(PolicyFinalCheck, TestsRunInTheirOrder)
{
	const std::pair<std::vector<std::string>, std::string> rules[] = {
		// The direction comes first, whatever else is wrong.
		{{}, no_dir},
		{{"--pol", "none", "--strict"}, no_dir},
		{{"--strict", "--next"}, no_dir},
		{{"--tunnel-src", "1.2.3.4"}, no_dir},
		// Policy none with --strict, also with a --next.
		{{"--dir", "in", "--pol", "none", "--strict"}, none_strict},
		{{"--dir", "in", "--pol", "none", "--strict", "--next", "--reqid", "1"}, none_strict},
		{{"--dir", "in", "--strict"}, empty_element(0)},
		{{"--dir", "in", "--strict", "--reqid", "1", "--next"}, empty_element(1)},
		{{"--dir", "in", "--strict", "--spi", "1", "--next", "--spi", "2", "--next", "--next"},
		 empty_element(2)},
		// Tunnel addresses need tunnel mode, by the mode value and its negation.
		{{"--dir", "in", "--tunnel-src", "1.2.3.4"}, tunnel_only},
		{{"--dir", "in", "--tunnel-dst", "1.2.3.4", "--mode", "transport"}, tunnel_only},
		{{"--dir", "in", "--tunnel-dst", "1.2.3.4", "!", "--mode", "tunnel"}, tunnel_only},
		// Element 0's tests before element 1's, element 1's before element 2's.
		{{"--dir", "in", "--strict", "--tunnel-src", "1.2.3.4", "--next"}, tunnel_only},
		{{"--dir", "in", "--strict", "--next", "--tunnel-src", "1.2.3.4"}, empty_element(0)},
		{{"--dir", "in", "--strict", "--reqid", "1", "--next", "--tunnel-dst", "1.1.1.1", "--next"},
		 tunnel_only},
	};
	for (const auto &[options, message] : rules)
		EXPECT_TRUE(ztest::rejects({with(policy4, options), message}));
}

// Policy none with a --next cannot reach the final check through the rule
// command (--next needs --strict, and none with --strict fails first), so
// this one drives the loaded record directly.
TEST(PolicyFinalCheck, PolicyNoneWithElementsIsRefused)
{
	ASSERT_EQ(zunder::load_plugin_file(POLICY_PLUGIN_FILE), "");
	const zunder::plugin_record *record =
		zunder::find_record(zunder::clause_kind::match, "policy", ZU_FAMILY_IPV4);
	ASSERT_NE(record, nullptr);
	ASSERT_EQ(record->size, 312u);
	alignas(8) unsigned char data[312] = {};
	const uint16_t flags = dir_in | pol_none, count = 1;
	std::memcpy(data + 304, &flags, 2);
	std::memcpy(data + 306, &count, 2);
	zu_fcheck_call call{data, nullptr, "policy"};
	EXPECT_EXIT(record->final_check(&call), ::testing::ExitedWithCode(2),
		    "^zunder: policy match: policy none but policy given\n$");
}

TEST(PolicyListing, BlocksReadBack)
{
	const std::vector<std::string> numeric4 = {"-4", "-n", "-m", "policy"};
	EXPECT_TRUE(ztest::prints_block(policy4, two_elements, two_elements_list("esp"), two_elements_save));
	EXPECT_TRUE(ztest::prints_block(policy6, two_elements, two_elements_list("esp"), two_elements_save));
	EXPECT_TRUE(ztest::prints_block(numeric4, two_elements, two_elements_list("50"), two_elements_save));

	// Policy none: the header items only.
	EXPECT_TRUE(ztest::prints_block(policy4, block().flags(dir_in | pol_none),
					" policy match dir in pol none", " --dir in --pol none"));
	// No direction bit reads as out; a mode other than 0 or 1 as "???"
	// (quoted when saved); a protocol the database does not know as its
	// number.
	EXPECT_TRUE(ztest::prints_block(policy4,
					block().count(1).mode(0, 7).proto(0, 253).match(0, mode | proto),
					" policy match dir out pol ipsec proto 253 mode ???",
					" --dir out --pol ipsec --proto 253 --mode '\?\?\?'"));
	// Read back through a shell, in a folder where ??? would match files,
	// and through --batch, the saved mode is refused as it stands, never
	// expanded.
	const std::string unnamed_save = " --dir out --pol ipsec --mode '\?\?\?'";
	EXPECT_TRUE(ztest::prints_block(policy4, block().count(1).mode(0, 7).match(0, mode),
					" policy match dir out pol ipsec mode ???", unnamed_save));
	const std::string dir = testing::TempDir() + "/policy-glob-" + std::to_string(getpid());
	std::filesystem::create_directories(dir);
	const auto shell =
		ztest::run_shell("cd \"$DIR\" && : >abc && : >def && $ZUNDER -m policy" + unnamed_save,
				 {"DIR=" + dir});
	EXPECT_EQ(shell.err, "zunder: policy match: invalid mode \"???\"\n");
	std::ofstream(dir + "/rules") << "-m policy" + unnamed_save + "\n";
	EXPECT_EQ(ztest::zunder({"--batch", dir + "/rules"}).err,
		  "zunder: line 1: policy match: invalid mode \"???\"\n");
	std::filesystem::remove_all(dir);
	// The destination comes before the source.
	EXPECT_TRUE(ztest::prints_block(
		policy6,
		block().flags(dir_out)
			.count(1)
			.match(0, tsrc | tdst)
			.invert(0, tsrc)
			.tunnel_src(0, "2001:db8::", "ffff:ffff:ffff::")
			.tunnel_dst(0, "::", "::"),
		" policy match dir out pol ipsec tunnel-dst ::/0 ! tunnel-src 2001:db8::/48",
		" --dir out --pol ipsec --tunnel-dst ::/0 ! --tunnel-src 2001:db8::/48"));
	EXPECT_TRUE(ztest::prints_block(
		policy4,
		block().flags(dir_in)
			.count(1)
			.match(0, tsrc | tdst)
			.tunnel_src(0, "10.0.0.1", "255.255.255.255")
			.tunnel_dst(0, "10.0.0.2", "255.255.0.0"),
		" policy match dir in pol ipsec tunnel-dst 10.0.0.2/16 tunnel-src 10.0.0.1",
		" --dir in --pol ipsec --tunnel-dst 10.0.0.2/16 --tunnel-src 10.0.0.1"));
}

// A corrupted block can claim more elements than it holds; it is written as
// if it held four, and nothing past the fourth element is read.
// Protocol names and aliases come from the database, both ways; one it
// does not hold is refused, a number it does not know is listed as such.
TEST(PolicyProtocols, NamesFromTheDatabase)
{
	const struct {
		const char *text;
		uint8_t number;
		const char *listed;
	} protocols[] = {
		{"esp", 50, "esp"},     {"IPSEC-ESP", 50, "esp"},  {"ah", 51, "ah"},
		{"IPSEC-AH", 51, "ah"}, {"ipcomp", 108, "ipcomp"}, {"IPCOMP", 108, "ipcomp"},
		{"50", 50, "esp"},      {"108", 108, "ipcomp"},
	};
	for (const auto &p : protocols)
		EXPECT_TRUE(ztest::accepts({with(policy4, {"--dir", "in", "--proto", p.text}),
					    block().flags(dir_in).count(1).proto(0, p.number).match(0, proto),
					    std::string(" policy match dir in pol ipsec proto ") + p.listed,
					    std::string(" --dir in --pol ipsec --proto ") + p.listed}));
	// "sctp" is in most machines' databases but not in the tests' one.
	EXPECT_TRUE(ztest::rejects({with(policy4, {"--dir", "in", "--proto", "sctp"}),
				    "policy: option \"--proto\": unknown protocol \"sctp\""}));
	EXPECT_TRUE(ztest::rejects({with(policy4, {"--dir", "in", "--proto", "esp"}),
				    "policy: option \"--proto\": unknown protocol \"esp\""},
				   ztest::no_protocols));
	EXPECT_TRUE(ztest::prints_block(policy4, block().count(1).proto(0, 50).match(0, proto),
					" policy match dir out pol ipsec proto 50",
					" --dir out --pol ipsec --proto 50", ztest::no_protocols));
}

// Once against the machine's own database: a name parses to its number and
// the listing writes the machine's name, which parses back.
TEST(PolicyProtocols, MachineDatabase)
{
	const protoent *esp = getprotobyname("esp");
	if (esp == nullptr)
		GTEST_SKIP() << "this machine has no protocol database (/etc/protocols, Debian package "
				"netbase) or it lacks \"esp\"";
	const auto number = static_cast<uint8_t>(esp->p_proto);
	const std::string name = system_proto_text(number);
	const auto &env = ztest::system_protocols;
	EXPECT_TRUE(ztest::accepts({with(policy4, {"--dir", "in", "--proto", "esp"}),
				    block().flags(dir_in).count(1).proto(0, number).match(0, proto),
				    " policy match dir in pol ipsec proto " + name,
				    " --dir in --pol ipsec --proto " + name},
				   env));
	EXPECT_TRUE(ztest::round_trips(policy6, {"--dir", "out", "--proto", "esp"}, env));
}

TEST(PolicyListing, CountAboveFourShowsFourElements)
{
	const std::string list =
		" policy match dir in pol ipsec strict [0] reqid 1 [1] reqid 2"
		" [2] reqid 3 [3] reqid 4";
	const std::string save =
		" --dir in --pol ipsec --strict --reqid 1 --next --reqid 2"
		" --next --reqid 3 --next --reqid 4";
	for (uint16_t count : {uint16_t{4}, uint16_t{5}, uint16_t{0xffff}}) {
		block b;
		b.flags(dir_in | strict).count(count);
		for (unsigned i = 0; i < 4; ++i)
			b.reqid(i, i + 1).match(i, reqid);
		for (const auto &head : families)
			EXPECT_TRUE(ztest::prints_block(head, b, list, save)) << "count " << count;
	}
}

TEST(PolicyHelp, WritesTheHelpText)
{
	for (const auto &head : families) {
		const auto r = ztest::zunder(with(head, {"-h"}));
		EXPECT_EQ(r.status, 0);
		EXPECT_EQ(r.out,
			  "policy match options:\n"
			  "  --dir in|out\t\t\tmatch policy applied during decapsulation/\n"
			  "\t\t\t\tpolicy to be applied during encapsulation\n"
			  "  --pol none|ipsec\t\tmatch policy\n"
			  "  --strict \t\t\tmatch entire policy instead of single element\n"
			  "\t\t\t\tat any position\n"
			  "These options may be used repeatedly, to describe policy elements:\n"
			  "[!] --reqid reqid\t\tmatch reqid\n"
			  "[!] --spi spi\t\t\tmatch SPI\n"
			  "[!] --proto proto\t\tmatch protocol (ah/esp/ipcomp)\n"
			  "[!] --mode mode \t\tmatch mode (transport/tunnel)\n"
			  "[!] --tunnel-src addr/mask\tmatch tunnel source\n"
			  "[!] --tunnel-dst addr/mask\tmatch tunnel destination\n"
			  "  --next \t\t\tbegin next element in policy\n");
	}
}

} // namespace
