// SPDX-License-Identifier: GPL-2.0-or-later
// The host's generic parsing, checks and guards, driven in-process with a
// record defined here, each error handed back by the host's try_call.
#include "zunder_host.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netdb.h>

#include <cstring>

namespace {

// "" for a call that finished, else the error as "status message".
std::string error_text(const std::optional<zunder::caught_error> &error)
{
	return error ? std::to_string(error->status) + " " + error->message : "";
}

// A test clause: stored values of every type, plus mandatory, requires and
// exclusive rows.
enum : unsigned { id_num, id_range, id_text, id_addr, id_proto, id_flag, id_need, id_alone, id_must };

constexpr zu_option_entry test_options[] = {
	{.name = "num",
	 .type = ZU_TYPE_UINT32,
	 .id = id_num,
	 .flags = ZU_FLAG_INVERT | ZU_FLAG_STORE,
	 .store_offset = 0,
	 .store_size = 4},
	{.name = "range",
	 .type = ZU_TYPE_UINT32_RANGE,
	 .id = id_range,
	 .flags = ZU_FLAG_STORE,
	 .store_offset = 4,
	 .store_size = 8},
	{.name = "text",
	 .type = ZU_TYPE_STRING,
	 .id = id_text,
	 .flags = ZU_FLAG_STORE,
	 .store_offset = 12,
	 .store_size = 8,
	 .min = 2},
	{.name = "addr",
	 .type = ZU_TYPE_HOSTMASK,
	 .id = id_addr,
	 .flags = ZU_FLAG_STORE | ZU_FLAG_MULTI,
	 .store_offset = 24,
	 .store_size = 32},
	{.name = "proto",
	 .type = ZU_TYPE_PROTOCOL,
	 .id = id_proto,
	 .flags = ZU_FLAG_STORE,
	 .store_offset = 56,
	 .store_size = 1},
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
	// Parses the words and the mandatory --must; returns "" or the error
	// "status message".
	std::string parse(std::vector<const char *> words, uint16_t family = ZU_FAMILY_IPV4)
	{
		words.push_back("--must");
		return parse_exactly(words, family);
	}
	std::string parse_exactly(const std::vector<const char *> &words, uint16_t family = ZU_FAMILY_IPV4)
	{
		return error_text(zunder::try_parse_clause(record(), family, words, state));
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
	const struct {
		const char *text;
		bool ok;
		uint32_t value;
	} cases[] = {
		{"0", true, 0},
		{"4294967295", true, 4294967295u},
		{"0x0", true, 0},
		{"0xffffffff", true, 4294967295u},
		{"0XAbC", true, 0xabc},
		{"010", true, 10},
		{"00000000000000000000001", true, 1},
		{"4294967296", false, 0},
		{"0x100000000", false, 0},
		{"", false, 0},
		{"0x", false, 0},
		{"-1", false, 0},
		{"+1", false, 0},
		{" 1", false, 0},
		{"1 ", false, 0},
		{"1e3", false, 0},
		{"99999999999999999999999", false, 0},
	};
	for (const auto &c : cases) {
		uint32_t value = 12345;
		EXPECT_EQ(zunder::parse_u32(c.text, &value), c.ok) << c.text;
		if (c.ok) {
			EXPECT_EQ(value, c.value) << c.text;
		}
	}
}

TEST(ValueParsers, AddressesAndMasksReadBackTheirText)
{
	const struct {
		uint16_t family;
		const char *text;
		const char *addr;
		const char *mask;
	} cases[] = {
		{ZU_FAMILY_IPV4, "10.1.2.3", "10.1.2.3", ""},
		{ZU_FAMILY_IPV4, "10.1.2.3/8", "10.0.0.0", "/8"},
		{ZU_FAMILY_IPV4, "10.1.2.3/255.255.0.0", "10.1.0.0", "/16"},
		{ZU_FAMILY_IPV4, "10.1.2.3/255.0.255.0", "10.0.2.0", "/255.0.255.0"},
		{ZU_FAMILY_IPV4, "0.0.0.0/0", "0.0.0.0", "/0"},
		{ZU_FAMILY_IPV6, "2001:db8::1", "2001:db8::1", ""},
		{ZU_FAMILY_IPV6, "2001:db8::1/32", "2001:db8::", "/32"},
		{ZU_FAMILY_IPV6, "::/0", "::", "/0"},
		{ZU_FAMILY_IPV6, "2001:db8::ff/ffff::ff", "2001::ff", "/ffff::ff"},
	};
	for (const auto &c : cases) {
		zu_option_value v{};
		ASSERT_TRUE(zunder::parse_address(c.text, c.family, &v)) << c.text;
		const bool six = c.family == ZU_FAMILY_IPV6;
		EXPECT_STREQ(six ? zunder_ip6addr_to_numeric(&v.host.addr.in6)
				 : zunder_ipaddr_to_numeric(&v.host.addr.in),
			     c.addr)
			<< c.text;
		EXPECT_STREQ(six ? zunder_ip6mask_to_numeric(&v.host.mask.in6)
				 : zunder_ipmask_to_numeric(&v.host.mask.in),
			     c.mask)
			<< c.text;
		// What the helpers write parses back into the same value.
		const std::string text = std::string(c.addr) + c.mask;
		zu_option_value again{};
		ASSERT_TRUE(zunder::parse_address(text.c_str(), c.family, &again)) << text;
		EXPECT_EQ(std::memcmp(&v.host, &again.host, sizeof(v.host)), 0) << text;
		if (!six) { // IPv4 leaves the last 12 bytes of both fields zero
			for (int i = 4; i < 16; ++i)
				EXPECT_EQ(v.host.addr.bytes[i] | v.host.mask.bytes[i], 0);
		}
	}
	const struct {
		uint16_t family;
		const char *text;
	} bad[] = {
		{ZU_FAMILY_IPV4, ""},
		{ZU_FAMILY_IPV4, "1.2.3"},
		{ZU_FAMILY_IPV4, "1.2.3.4/33"},
		{ZU_FAMILY_IPV4, "1.2.3.4/"},
		{ZU_FAMILY_IPV4, "::1"},
		{ZU_FAMILY_IPV4, "host.example"},
		{ZU_FAMILY_IPV6, "1.2.3.4"},
		{ZU_FAMILY_IPV6, "::1/129"},
		{ZU_FAMILY_IPV6, "::1/-1"},
		{ZU_FAMILY_IPV6, "1111:2222:3333:4444:5555:6666:7777:8888:9999"},
	};
	for (const auto &c : bad) {
		zu_option_value v{};
		EXPECT_FALSE(zunder::parse_address(c.text, c.family, &v)) << c.text;
	}
}

TEST(ValueParsers, Protocols)
{
	uint8_t p = 0;
	EXPECT_TRUE(zunder::parse_protocol("50", &p));
	EXPECT_EQ(p, 50);
	EXPECT_TRUE(zunder::parse_protocol("255", &p));
	EXPECT_FALSE(zunder::parse_protocol("256", &p));
	EXPECT_FALSE(zunder::parse_protocol("no-such-protocol", &p));
	EXPECT_FALSE(zunder::parse_protocol("", &p));
	// Names and aliases from the tests' fixed database, linked into this test.
	EXPECT_TRUE(zunder::parse_protocol("esp", &p));
	EXPECT_EQ(p, 50);
	EXPECT_TRUE(zunder::parse_protocol("IPSEC-AH", &p));
	EXPECT_EQ(p, 51);
	EXPECT_TRUE(zunder::parse_protocol("ip", &p));
	EXPECT_EQ(p, 0);
	EXPECT_FALSE(zunder::parse_protocol("sctp", &p));
	EXPECT_FALSE(zunder::parse_protocol("ESP", &p));
}

TEST_F(Host, StoresEveryTypeWhereTheRowSays)
{
	ASSERT_EQ(parse({"!", "--num", "7", "--range", "3:9", "--text", "abcdefg", "--addr", "10.1.2.3/24",
			 "--proto", "51"}),
		  "");
	EXPECT_EQ(at<uint32_t>(0), 7u);
	EXPECT_EQ(at<uint32_t>(4), 3u);
	EXPECT_EQ(at<uint32_t>(8), 9u);
	EXPECT_STREQ(reinterpret_cast<const char *>(state.info.data() + 12), "abcdefg");
	EXPECT_EQ(at<uint32_t>(24), htonl(0x0a010200));
	EXPECT_EQ(at<uint32_t>(40), htonl(0xffffff00));
	EXPECT_EQ(at<uint8_t>(56), 51);
	EXPECT_EQ(parse_calls, 6);
	EXPECT_EQ(final_checks, 1);
}

TEST_F(Host, SingleRangeValueStoresOnlyTheFirst)
{
	ASSERT_EQ(parse({"--range", "5"}), "");
	EXPECT_EQ(at<uint32_t>(4), 5u);
	EXPECT_EQ(at<uint32_t>(8), 0u);
}

TEST_F(Host, Rejections)
{
	const struct {
		std::vector<const char *> words;
		const char *error;
	} cases[] = {
		{{"--num", "x"}, "2 hosttest: option \"--num\": \"x\" is not a number from 0 to 4294967295"},
		{{"!", "--range", "1"}, "2 hosttest: option \"--range\" cannot be negated"},
		{{"--text", "a"},
		 "2 hosttest: option \"--text\": the text must be at least 2 characters long"},
		// 8 bytes of store hold 7 characters and the NUL; longer text is never cut short
		{{"--text", "abcdefgh"},
		 "2 hosttest: option \"--text\": the text must be at most 7 characters long"},
		{{"--num", "1", "--num", "2"}, "2 hosttest: option \"--num\" may be given only once"},
		{{"--need"}, "2 hosttest: option \"--need\" requires option \"--flag\""},
		{{"--alone", "--flag"},
		 "2 hosttest: option \"--alone\" cannot be used with option \"--flag\""},
		{{"--flag", "--alone"},
		 "2 hosttest: option \"--alone\" cannot be used with option \"--flag\""},
		{{"--proto", "nosuch"}, "2 hosttest: option \"--proto\": unknown protocol \"nosuch\""},
		{{"--addr", "::1"},
		 "2 hosttest: option \"--addr\": \"::1\" is not an IPv4 address with an optional /mask"},
		{{"num", "1"}, "2 hosttest: unknown option \"num\""},
		{{"--nu"}, "2 hosttest: unknown option \"--nu\""},
		// the next word is the argument, even when it looks like an option
		{{"--num"}, "2 hosttest: option \"--num\": \"--must\" is not a number from 0 to 4294967295"},
	};
	for (const auto &c : cases)
		EXPECT_EQ(parse(c.words), c.error);
	EXPECT_EQ(final_checks, 0) << "no final check after a failed option";
}

// The option grammar every clause shares, here once: the plug-in tests check
// it through each clause from a one-line description of each option.
TEST_F(Host, OptionGrammar)
{
	const struct {
		std::vector<const char *> words; // the whole clause
		const char *error;
	} cases[] = {
		{{"--must", "--"}, "2 hosttest: unknown option \"--\""},
		{{"--must", ""}, "2 hosttest: unknown option \"\""},
		{{"--must", "--num=1"}, "2 hosttest: unknown option \"--num=1\""},
		{{"--must", "--NUM", "1"}, "2 hosttest: unknown option \"--NUM\""},
		{{"--must", "-num", "1"}, "2 hosttest: unknown option \"-num\""},
		{{"--must", "!", "--nosuch"}, "2 hosttest: unknown option \"--nosuch\""},
		// "!" negates the next option only once; an option without argument takes none
		{{"--must", "!", "!", "--num", "1"}, "2 hosttest: unknown option \"!\""},
		{{"--must", "--flag", "1"}, "2 hosttest: unknown option \"1\""},
		{{"--must", "!"}, "2 hosttest: \"!\" must be followed by an option"},
		{{"--must", "--num", "1", "!"}, "2 hosttest: \"!\" must be followed by an option"},
		{{"--must", "!", "--flag"}, "2 hosttest: option \"--flag\" cannot be negated"},
		{{"--must", "--num"}, "2 hosttest: option \"--num\" requires an argument"},
		{{"--must", "!", "--num"}, "2 hosttest: option \"--num\" requires an argument"},
		// a repeat is a repeat, negated or not, with the same value or not
		{{"--must", "--flag", "--flag"}, "2 hosttest: option \"--flag\" may be given only once"},
		{{"--must", "--num", "1", "!", "--num", "1"},
		 "2 hosttest: option \"--num\" may be given only once"},
		{{"--must", "--must"}, "2 hosttest: option \"--must\" may be given only once"},
		{{}, "2 hosttest: option \"--must\" must be given"},
		{{"--flag"}, "2 hosttest: option \"--must\" must be given"},
	};
	for (const auto &c : cases)
		EXPECT_EQ(parse_exactly(c.words), c.error) << (c.words.empty() ? "" : c.words.back());
	EXPECT_EQ(final_checks, 0) << "no final check after a failed option";
}

TEST_F(Host, MissingMandatoryOptionIsReportedBeforeTheFinalCheck)
{
	const char *none[] = {"--flag"};
	EXPECT_EQ(error_text(zunder::try_parse_clause(record(), ZU_FAMILY_IPV4, none, state)),
		  "2 hosttest: option \"--must\" must be given");
	EXPECT_EQ(final_checks, 0);
}

TEST_F(Host, RepeatableOptionAndFamilies)
{
	EXPECT_EQ(parse({"--addr", "1.2.3.4", "--addr", "5.6.7.8/16"}), "");
	EXPECT_EQ(at<uint32_t>(24), htonl(0x05060000));
	EXPECT_EQ(parse({"--addr", "2001:db8::1/64"}, ZU_FAMILY_IPV6), "");
	EXPECT_EQ(at<uint8_t>(24), 0x20);
}

TEST_F(Host, EveryClauseStartsFromZero)
{
	ASSERT_EQ(parse({"--num", "7"}), "");
	ASSERT_EQ(parse({}), "");
	EXPECT_EQ(at<uint32_t>(0), 0u);
}

TEST_F(Host, GuardsCatchWritesOutsideTheBlock)
{
	write_past_block = true;
	const std::string error = parse({"--flag"});
	EXPECT_EQ(error.rfind("2 match hosttest: plug-in  wrote outside its block in parse", 0), 0u) << error;

	const std::vector<unsigned char> block(64, 0);
	const auto saved = zunder::try_call([&] { zunder::save_block(record(), ZU_FAMILY_IPV4, block); });
	EXPECT_EQ(error_text(saved), "2 match hosttest: plug-in  wrote outside its block in save");
	EXPECT_TRUE(saved && saved->host_fault);

	// A block of the wrong size is the host's fault too; refused input is not.
	const auto short_block = zunder::try_call([&] {
		zunder::print_block(record(), ZU_FAMILY_IPV4, {block.data(), 8}, false);
	});
	EXPECT_EQ(error_text(short_block),
		  "2 match hosttest: a block of 8 bytes cannot be printed: it takes 64");
	EXPECT_TRUE(short_block && short_block->host_fault);
	write_past_block = false;
	const auto refused =
		zunder::try_parse_clause(record(), ZU_FAMILY_IPV4, std::vector<const char *>{"--nu"}, state);
	EXPECT_TRUE(refused && !refused->host_fault);
}

TEST_F(Host, RecordsThatCannotWorkAreRefused)
{
	static constexpr zu_option_entry outside[] = {
		{.name = "x",
		 .type = ZU_TYPE_UINT32,
		 .id = 0,
		 .flags = ZU_FLAG_STORE,
		 .store_offset = 6,
		 .store_size = 4},
		{},
	};
	static zunder_match bad[] = {
		{.version = "libzunder.so.9",
		 .name = "refused1",
		 .size = 8,
		 .print = test_print,
		 .save = test_save},
		{.version = ZUNDER_VERSION,
		 .name = "refused2",
		 .size = 12,
		 .print = test_print,
		 .save = test_save},
		{.version = ZUNDER_VERSION,
		 .name = "refused3",
		 .size = 8,
		 .print = test_print,
		 .save = test_save,
		 .parse = test_parse,
		 .options = outside},
		// a clause entry's 16-bit size holds the header and at most 65496 bytes
		{.version = ZUNDER_VERSION,
		 .name = "refused4",
		 .size = 65504,
		 .print = test_print,
		 .save = test_save},
		{.version = ZUNDER_VERSION,
		 .name = "largest",
		 .size = 65496,
		 .print = test_print,
		 .save = test_save},
		// the same kind, name and family again
		{.version = ZUNDER_VERSION,
		 .name = "largest",
		 .size = 8,
		 .print = test_print,
		 .save = test_save},
	};
	testing::internal::CaptureStderr();
	zunder_register_matches(bad, 6);
	const std::string err = testing::internal::GetCapturedStderr();
	EXPECT_NE(
		err.find(
			"zunder: match \"refused4\" not registered: its block size is larger than 65496 bytes\n"),
		std::string::npos)
		<< err;
	EXPECT_NE(
		err.find("zunder: match \"largest\" not registered: it is registered twice for any family\n"),
		std::string::npos)
		<< err;
	const auto *largest = zunder::find_record(zunder::clause_kind::match, "largest", ZU_FAMILY_IPV4);
	ASSERT_NE(largest, nullptr);
	EXPECT_EQ(largest->size, 65496u);
	for (const char *name : {"refused1", "refused2", "refused3", "refused4"}) {
		EXPECT_EQ(zunder::find_record(zunder::clause_kind::match, name, ZU_FAMILY_IPV4), nullptr);
		EXPECT_NE(err.find(name), std::string::npos) << err;
	}
}

// try_call hands back the innermost error, puts back the callback it found
// and tells a guard hit from a refused input.
TEST_F(Host, TryCallNestsAndRestoresTheCallback)
{
	const auto before = zu_params->exit_error;
	std::optional<zunder::caught_error> inner;
	const auto outer = zunder::try_call([&] {
		inner = zunder::try_call([] { zu_params->exit_error(2, "inner \"%s\"", "a\nb"); });
		zu_params->exit_error(3, "outer");
	});
	EXPECT_EQ(error_text(inner), "2 inner \"a\\x0ab\"");
	EXPECT_FALSE(inner->host_fault);
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
