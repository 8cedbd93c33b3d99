// SPDX-License-Identifier: GPL-2.0-or-later
// The host's generic parsing, checks and guards, driven in-process with a
// record defined here, each error handed back by the host's try_call.
#include "zunder_host.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netdb.h>

#include <cstring>
#include <iterator>
#include <sstream>

namespace {

// "" for a call that finished, else "status message", marked when the host
// takes the fault for its own.
std::string error_text(const std::optional<zunder::caught_error> &error)
{
	if (!error)
		return "";
	return std::to_string(error->status) + " " + error->message +
	       (error->host_fault ? " (host fault)" : "");
}

enum : unsigned { id_num, id_range, id_text, id_addr, id_proto, id_flag, id_need, id_alone, id_must };

constexpr zu_option_entry stored(const char *name, unsigned type, unsigned id, unsigned offset, unsigned size,
				 unsigned more_flags = 0, unsigned min = 0)
{
	return {.name = name,
		.type = type,
		.id = id,
		.flags = ZU_FLAG_STORE | more_flags,
		.store_offset = offset,
		.store_size = size,
		.min = min};
}

// A value of every type, plus mandatory, requires and exclusive rows.
constexpr zu_option_entry test_options[] = {
	stored("num", ZU_TYPE_UINT32, id_num, 0, 4, ZU_FLAG_INVERT),
	stored("range", ZU_TYPE_UINT32_RANGE, id_range, 4, 8),
	stored("text", ZU_TYPE_STRING, id_text, 12, 8, 0, 2),
	stored("addr", ZU_TYPE_HOSTMASK, id_addr, 24, 32, ZU_FLAG_MULTI),
	stored("proto", ZU_TYPE_PROTOCOL, id_proto, 56, 1),
	{.name = "flag", .type = ZU_TYPE_NONE, .id = id_flag},
	{.name = "need", .type = ZU_TYPE_NONE, .id = id_need, .requires_ = 1u << id_flag},
	{.name = "alone", .type = ZU_TYPE_NONE, .id = id_alone, .exclusive_with = 1u << id_flag},
	{.name = "must", .type = ZU_TYPE_NONE, .id = id_must, .flags = ZU_FLAG_MANDATORY},
	{},
};

int parse_calls = 0;
int final_checks = 0;
bool write_past_block = false;

void test_parse(zu_option_call *call)
{
	zunder_option_parse(call);
	++parse_calls;
	if (write_past_block)
		static_cast<unsigned char *>(call->data)[64] = 1;
}
void test_final_check(zu_fcheck_call *)
{
	++final_checks;
}
void test_print(const void *, const zu_clause_entry *, int)
{}
void test_save(const void *, const zu_clause_entry *entry)
{
	if (write_past_block)
		const_cast<zu_clause_entry *>(entry)->data[0] ^= 1;
}

constexpr zunder_match record_of(const char *name, unsigned size, const char *version = ZUNDER_VERSION)
{
	return {.version = version, .name = name, .size = size, .print = test_print, .save = test_save};
}

zunder_match test_record = {
	.version = ZUNDER_VERSION,
	.name = "hosttest",
	.family = ZU_FAMILY_ANY,
	.size = 64,
	.userspace_size = 64,
	.print = test_print,
	.save = test_save,
	.parse = test_parse,
	.final_check = test_final_check,
	.options = test_options,
};

class Host : public ::testing::Test {
protected:
	static void SetUpTestSuite() { zunder_register_match(&test_record); }
	void SetUp() override
	{
		parse_calls = final_checks = 0;
		write_past_block = false;
	}
	const zunder::plugin_record &record()
	{
		return *zunder::find_record(zunder::clause_kind::match, "hosttest", ZU_FAMILY_IPV4);
	}
	// The clause's words are `line` split at blanks.
	std::string parse(const char *line, uint16_t family = ZU_FAMILY_IPV4)
	{
		std::istringstream in(line);
		const std::vector<std::string> words{std::istream_iterator<std::string>(in), {}};
		std::vector<const char *> args;
		for (const std::string &word : words)
			args.push_back(word.c_str());
		return error_text(zunder::try_parse_clause(record(), family, args, state));
	}
	template <typename T>
	T at(size_t offset)
	{
		T value;
		std::memcpy(&value, state.info.data() + offset, sizeof(T));
		return value;
	}
	zunder::clause_state state;
};

TEST(ValueParsers, Numbers)
{
	const std::pair<const char *, uint32_t> good[] = {
		{"0", 0},
		{"4294967295", 4294967295u},
		{"0x0", 0},
		{"0xffffffff", 4294967295u},
		{"0XAbC", 0xabc},
		{"010", 10},
		{"00000000000000000000001", 1},
	};
	for (const auto &[text, expected] : good) {
		uint32_t value = 12345;
		EXPECT_TRUE(zunder::parse_u32(text, &value)) << text;
		EXPECT_EQ(value, expected) << text;
	}
	for (const char *text : {"4294967296", "0x100000000", "", "0x", "-1", "+1", " 1", "1 ", "1e3",
				 "99999999999999999999999"}) {
		uint32_t value = 0;
		EXPECT_FALSE(zunder::parse_u32(text, &value)) << text;
	}
}

// An address and mask as the helpers write them; IPv6 when the text has a colon.
std::string numeric(const zu_option_value &v, bool six)
{
	if (six)
		return std::string(zunder_ip6addr_to_numeric(&v.host.addr.in6)) +
		       zunder_ip6mask_to_numeric(&v.host.mask.in6);
	return std::string(zunder_ipaddr_to_numeric(&v.host.addr.in)) +
	       zunder_ipmask_to_numeric(&v.host.mask.in);
}

TEST(ValueParsers, AddressesAndMasksReadBackTheirText)
{
	const std::pair<const char *, const char *> cases[] = {
		{"10.1.2.3", "10.1.2.3"},
		{"10.1.2.3/8", "10.0.0.0/8"},
		{"10.1.2.3/255.255.0.0", "10.1.0.0/16"},
		{"10.1.2.3/255.0.255.0", "10.0.2.0/255.0.255.0"},
		{"0.0.0.0/0", "0.0.0.0/0"},
		{"2001:db8::1", "2001:db8::1"},
		{"2001:db8::1/32", "2001:db8::/32"},
		{"::/0", "::/0"},
		{"2001:db8::ff/ffff::ff", "2001::ff/ffff::ff"},
	};
	for (const auto &[text, expected] : cases) {
		const bool six = std::strchr(text, ':') != nullptr;
		const uint16_t family = six ? ZU_FAMILY_IPV6 : ZU_FAMILY_IPV4;
		zu_option_value v{}, again{};
		ASSERT_TRUE(zunder::parse_address(text, family, &v)) << text;
		EXPECT_EQ(numeric(v, six), expected) << text;
		// What the helpers write parses back into the same value.
		ASSERT_TRUE(zunder::parse_address(expected, family, &again)) << expected;
		EXPECT_EQ(std::memcmp(&v.host, &again.host, sizeof(v.host)), 0) << expected;
		for (int i = six ? 16 : 4; i < 16; ++i) // IPv4 leaves the last 12 bytes of both zero
			EXPECT_EQ(v.host.addr.bytes[i] | v.host.mask.bytes[i], 0);
	}
	const std::pair<uint16_t, std::vector<const char *>> bad[] = {
		{ZU_FAMILY_IPV4, {"", "1.2.3", "1.2.3.4/33", "1.2.3.4/", "::1", "host.example"}},
		{ZU_FAMILY_IPV6,
		 {"1.2.3.4", "::1/129", "::1/-1", "1111:2222:3333:4444:5555:6666:7777:8888:9999"}},
	};
	for (const auto &[family, texts] : bad) {
		for (const char *text : texts) {
			zu_option_value v{};
			EXPECT_FALSE(zunder::parse_address(text, family, &v)) << text;
		}
	}
}

TEST(ValueParsers, Protocols)
{
	// Names and aliases come from the tests' fixed database, linked in; -1: refused.
	const std::pair<const char *, int> cases[] = {
		{"50", 50},
		{"255", 255},
		{"esp", 50},
		{"IPSEC-AH", 51},
		{"ip", 0},
		{"256", -1},
		{"no-such-protocol", -1},
		{"", -1},
		{"sctp", -1},
		{"ESP", -1},
	};
	for (const auto &[text, expected] : cases) {
		uint8_t p = 99;
		EXPECT_EQ(zunder::parse_protocol(text, &p), expected >= 0) << text;
		if (expected >= 0) {
			EXPECT_EQ(p, expected) << text;
		}
	}
}

TEST_F(Host, StoresEachValueWhereItsRowSays)
{
	ASSERT_EQ(parse("! --num 7 --range 3:9 --text abcdefg --addr 10.1.2.3/24 --proto 51 --must"), "");
	EXPECT_EQ(at<uint32_t>(0), 7u);
	EXPECT_EQ(at<uint32_t>(4), 3u);
	EXPECT_EQ(at<uint32_t>(8), 9u);
	EXPECT_STREQ(reinterpret_cast<const char *>(state.info.data() + 12), "abcdefg");
	EXPECT_EQ(at<uint32_t>(24), htonl(0x0a010200));
	EXPECT_EQ(at<uint32_t>(40), htonl(0xffffff00));
	EXPECT_EQ(at<uint8_t>(56), 51);
	EXPECT_EQ(parse_calls, 6);
	EXPECT_EQ(final_checks, 1);

	ASSERT_EQ(parse("--must"), ""); // every clause starts from zero
	EXPECT_EQ(at<uint32_t>(0), 0u);
	ASSERT_EQ(parse("--range 5 --must"), ""); // one value stores only the first
	EXPECT_EQ(at<uint32_t>(4), 5u);
	EXPECT_EQ(at<uint32_t>(8), 0u);
	EXPECT_EQ(parse("--addr 1.2.3.4 --addr 5.6.7.8/16 --must"), "");
	EXPECT_EQ(at<uint32_t>(24), htonl(0x05060000));
	EXPECT_EQ(parse("--addr 2001:db8::1/64 --must", ZU_FAMILY_IPV6), "");
	EXPECT_EQ(at<uint8_t>(24), 0x20);
}

// The option grammar and checks every clause shares, here once: the plug-in
// tests check them through each clause from a description of each option.
TEST_F(Host, RefusedClauses)
{
	const std::pair<const char *, const char *> cases[] = {
		{"--num x --must", R"(option "--num": "x" is not a number from 0 to 4294967295)"},
		{"! --range 1 --must", R"(option "--range" cannot be negated)"},
		{"--text a --must", R"(option "--text": the text must be at least 2 characters long)"},
		// 8 bytes of store hold 7 characters and the NUL; longer text is never cut short
		{"--text abcdefgh --must", R"(option "--text": the text must be at most 7 characters long)"},
		{"--num 1 --num 2 --must", R"(option "--num" may be given only once)"},
		{"--need --must", R"(option "--need" requires option "--flag")"},
		{"--alone --flag --must", R"(option "--alone" cannot be used with option "--flag")"},
		{"--flag --alone --must", R"(option "--alone" cannot be used with option "--flag")"},
		{"--proto nosuch --must", R"(option "--proto": unknown protocol "nosuch")"},
		{"--addr ::1 --must",
		 R"(option "--addr": "::1" is not an IPv4 address with an optional /mask)"},
		{"num 1 --must", R"(unknown option "num")"},
		{"--nu --must", R"(unknown option "--nu")"},
		// the next word is the argument, even when it looks like an option
		{"--num --must", R"(option "--num": "--must" is not a number from 0 to 4294967295)"},
		{"--must --", R"(unknown option "--")"},
		{"--must --num=1", R"(unknown option "--num=1")"},
		{"--must --NUM 1", R"(unknown option "--NUM")"},
		{"--must -num 1", R"(unknown option "-num")"},
		{"--must ! --nosuch", R"(unknown option "--nosuch")"},
		// "!" negates the next option only once; an option without argument takes none
		{"--must ! ! --num 1", R"(unknown option "!")"},
		{"--must --flag 1", R"(unknown option "1")"},
		{"--must !", R"("!" must be followed by an option)"},
		{"--must --num 1 !", R"("!" must be followed by an option)"},
		{"--must ! --flag", R"(option "--flag" cannot be negated)"},
		{"--must --num", R"(option "--num" requires an argument)"},
		{"--must ! --num", R"(option "--num" requires an argument)"},
		// a repeat is a repeat, negated or not, with the same value or not
		{"--must --flag --flag", R"(option "--flag" may be given only once)"},
		{"--must --num 1 ! --num 1", R"(option "--num" may be given only once)"},
		{"--must --must", R"(option "--must" may be given only once)"},
		{"", R"(option "--must" must be given)"},
		{"--flag", R"(option "--must" must be given)"},
	};
	for (const auto &[line, error] : cases)
		EXPECT_EQ(parse(line), std::string("2 hosttest: ") + error) << line;
	const std::vector<const char *> empty_word = {"--must", ""};
	EXPECT_EQ(error_text(zunder::try_parse_clause(record(), ZU_FAMILY_IPV4, empty_word, state)),
		  "2 hosttest: unknown option \"\"");
	EXPECT_EQ(final_checks, 0) << "no final check after a refused clause";
}

TEST_F(Host, GuardsCatchWritesOutsideTheBlock)
{
	write_past_block = true;
	const std::string error = parse("--flag --must");
	EXPECT_EQ(error.rfind("2 match hosttest: plug-in  wrote outside its block in parse", 0), 0u) << error;
	const std::vector<unsigned char> block(64, 0);
	EXPECT_EQ(error_text(zunder::try_call([&] { zunder::save_block(record(), ZU_FAMILY_IPV4, block); })),
		  "2 match hosttest: plug-in  wrote outside its block in save (host fault)");
	// A block of the wrong size is the host's fault too; refused input is not.
	EXPECT_EQ(error_text(zunder::try_call([&] {
			  zunder::print_block(record(), ZU_FAMILY_IPV4, {block.data(), 8}, false);
		  })),
		  "2 match hosttest: a block of 8 bytes cannot be printed: it takes 64 (host fault)");
	write_past_block = false;
	EXPECT_EQ(parse("--nu"), "2 hosttest: unknown option \"--nu\"");
}

TEST_F(Host, RecordsThatCannotWorkAreRefused)
{
	static constexpr zu_option_entry outside[] = {stored("x", ZU_TYPE_UINT32, 0, 6, 4), {}};
	// A clause entry's 16-bit size holds the header and at most 65496 bytes;
	// the last record repeats a kind, name and family.
	static zunder_match bad[] = {
		record_of("refused1", 8, "libzunder.so.9"),
		record_of("refused2", 12),
		record_of("refused3", 8),
		record_of("refused4", 65504),
		record_of("largest", 65496),
		record_of("largest", 8),
	};
	bad[2].parse = test_parse;
	bad[2].options = outside;
	testing::internal::CaptureStderr();
	zunder_register_matches(bad, 6);
	const std::string err = testing::internal::GetCapturedStderr();
	for (const char *line :
	     {"zunder: match \"refused4\" not registered: its block size is larger than 65496 bytes\n",
	      "zunder: match \"largest\" not registered: it is registered twice for any family\n"})
		EXPECT_NE(err.find(line), std::string::npos) << err;
	const auto *largest = zunder::find_record(zunder::clause_kind::match, "largest", ZU_FAMILY_IPV4);
	ASSERT_NE(largest, nullptr);
	EXPECT_EQ(largest->size, 65496u);
	for (const char *name : {"refused1", "refused2", "refused3", "refused4"}) {
		EXPECT_EQ(zunder::find_record(zunder::clause_kind::match, name, ZU_FAMILY_IPV4), nullptr);
		EXPECT_NE(err.find(name), std::string::npos) << err;
	}
}

// try_call hands back the innermost error and puts back the callback it found.
TEST_F(Host, TryCallNestsAndRestoresTheCallback)
{
	const auto before = zu_params->exit_error;
	std::optional<zunder::caught_error> inner;
	const auto outer = zunder::try_call([&] {
		inner = zunder::try_call([] { zu_params->exit_error(2, "inner \"%s\"", "a\nb"); });
		zu_params->exit_error(3, "outer");
	});
	EXPECT_EQ(error_text(inner), "2 inner \"a\\x0ab\"");
	EXPECT_EQ(error_text(outer), "3 outer");
	EXPECT_EQ(zu_params->exit_error, before);
	EXPECT_EQ(zunder::try_call([] {}), std::nullopt);
}

// An error line is the program's name, the prefix the program set (the rule
// command's "line N: ") and the message.  Out of a try_call a host fault
// ends the program as any error does.
TEST_F(Host, ErrorLinesCarryTheProgramsPrefix)
{
	zunder::set_message_prefix("line 7: ");
	const std::vector<unsigned char> block(8, 0);
	EXPECT_EXIT(zunder::print_block(record(), ZU_FAMILY_IPV4, block, false), testing::ExitedWithCode(2),
		    "zunder: line 7: match hosttest: a block of 8 bytes cannot be printed: it takes 64\n");
	testing::internal::CaptureStderr();
	zunder::write_error("out of memory");
	zunder::set_message_prefix(nullptr);
	zunder::write_error("a\nb");
	EXPECT_EQ(testing::internal::GetCapturedStderr(), "zunder: line 7: out of memory\nzunder: a\nb\n");
}

} // namespace
