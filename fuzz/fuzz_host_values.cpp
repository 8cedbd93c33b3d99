// SPDX-License-Identifier: GPL-2.0-or-later
// The host's value parsers and address-to-text helpers.
//
// Input: byte 0 picks what is fuzzed, the rest is the text (cut at its
// first NUL) or, for the mask helpers, the mask bytes.
//   0      parse_u32, checked against a reference reading written another
//          way, and parsed back from its decimal and hexadecimal digits
//   1, 2   parse_address for IPv4 / IPv6; the text of what it parsed must
//          parse back to the same address and mask
//   3      parse_protocol; a number it gives must parse back from its digits
//   4      zunder_option_parse through a small option table of each type;
//          byte 1 picks the row, "!" and the family
//   5, 6   the mask helpers for IPv4 / IPv6 on arbitrary mask bytes: the
//          text after "0.0.0.0" / "::" must parse back to the same mask
#include "fuzz_support.h"

#include <arpa/inet.h>

#include <cctype>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace {

constexpr size_t max_text = 4096;
char text[max_text + 1];

// The accepted forms, checked a different way from the parser: the shape by
// character classes, the limit by comparing digit strings (no arithmetic
// that could overflow), the value by the C library's strtoul.  Decimal
// digits, or hexadecimal digits after "0x"/"0X"; at most 2^32 - 1.
bool reference_u32(std::string_view t, uint32_t *out)
{
	const bool hex = t.size() >= 2 && t[0] == '0' && (t[1] == 'x' || t[1] == 'X');
	std::string digits(hex ? t.substr(2) : t);
	const char *allowed = hex ? "0123456789abcdefABCDEF" : "0123456789";
	if (digits.empty() || std::strspn(digits.c_str(), allowed) != digits.size())
		return false; // also a NUL inside: strspn stops there
	const size_t first = digits.find_first_not_of('0');
	const std::string significant = first == std::string::npos ? "" : digits.substr(first);
	const std::string largest = hex ? "ffffffff" : "4294967295";
	std::string folded = significant;
	for (char &c : folded)
		c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
	if (folded.size() > largest.size() || (folded.size() == largest.size() && folded > largest))
		return false;
	*out = static_cast<uint32_t>(
		std::strtoul(significant.empty() ? "0" : significant.c_str(), nullptr, hex ? 16 : 10));
	return true;
}

// The reference reading, and round trips: a value the parser gives must
// parse back from its decimal and its hexadecimal digits.
void check_u32(std::string_view t)
{
	uint32_t got = 0xdeadbeef, want = 0;
	const bool ok = zunder::parse_u32(t, &got);
	const bool want_ok = reference_u32(t, &want);
	if (ok != want_ok || (ok && got != want))
		fuzz::finding("parse_u32 disagrees with the reference reading");
	if (!ok)
		return;
	char written[16];
	for (const char *format : {"%u", "0x%x", "0X%X"}) {
		std::snprintf(written, sizeof(written), format, got);
		uint32_t back = 0;
		if (!zunder::parse_u32(written, &back) || back != got)
			fuzz::finding("a number does not parse back from its own digits");
	}
}

// The text the listings write for an address and mask.
void address_text(uint16_t family, const zu_option_value &v, char *out, size_t size)
{
	if (family == ZU_FAMILY_IPV6) {
		const char *a = zunder_ip6addr_to_numeric(&v.host.addr.in6);
		std::snprintf(out, size, "%s", a);
		const size_t used = std::strlen(out);
		std::snprintf(out + used, size - used, "%s", zunder_ip6mask_to_numeric(&v.host.mask.in6));
	} else {
		const char *a = zunder_ipaddr_to_numeric(&v.host.addr.in);
		std::snprintf(out, size, "%s", a);
		const size_t used = std::strlen(out);
		std::snprintf(out + used, size - used, "%s", zunder_ipmask_to_numeric(&v.host.mask.in));
	}
}

void check_address(const char *t, uint16_t family)
{
	zu_option_value first{};
	if (!zunder::parse_address(t, family, &first))
		return;
	const unsigned length = family == ZU_FAMILY_IPV6 ? 16 : 4;
	for (unsigned i = 0; i < 16; ++i) {
		if (i >= length && (first.host.addr.bytes[i] != 0 || first.host.mask.bytes[i] != 0))
			fuzz::finding("parse_address set bytes beyond the family's address length");
		if (first.host.addr.bytes[i] & ~first.host.mask.bytes[i])
			fuzz::finding("parse_address left address bits outside the mask");
	}
	char again[128];
	address_text(family, first, again, sizeof(again));
	zu_option_value second{};
	if (!zunder::parse_address(again, family, &second)) {
		std::fprintf(stderr, "==fuzz== \"%s\" written as \"%s\"\n", t, again);
		fuzz::finding("the text of a parsed address does not parse back");
	}
	if (std::memcmp(&first.host, &second.host, sizeof(first.host)) != 0) {
		std::fprintf(stderr, "==fuzz== \"%s\" written as \"%s\"\n", t, again);
		fuzz::finding("the text of a parsed address parses back to other bytes");
	}
}

void check_protocol(const char *t)
{
	uint8_t first;
	if (!zunder::parse_protocol(t, &first))
		return;
	char digits[8];
	std::snprintf(digits, sizeof(digits), "%u", first);
	uint8_t second;
	if (!zunder::parse_protocol(digits, &second) || second != first)
		fuzz::finding("a protocol number does not parse back from its digits");
}

// One row of each type, with and without limits and storing.
constexpr zu_option_entry rows[] = {
	{.name = "flag", .type = ZU_TYPE_NONE, .id = 0},
	{.name = "count",
	 .type = ZU_TYPE_UINT32,
	 .id = 1,
	 .flags = ZU_FLAG_INVERT | ZU_FLAG_STORE,
	 .store_offset = 0,
	 .store_size = 4},
	{.name = "small",
	 .type = ZU_TYPE_UINT32,
	 .id = 2,
	 .flags = ZU_FLAG_STORE,
	 .store_offset = 4,
	 .store_size = 4,
	 .max = 65535},
	{.name = "span",
	 .type = ZU_TYPE_UINT32_RANGE,
	 .id = 3,
	 .flags = ZU_FLAG_INVERT | ZU_FLAG_STORE,
	 .store_offset = 8,
	 .store_size = 8},
	{.name = "port",
	 .type = ZU_TYPE_UINT32_RANGE,
	 .id = 4,
	 .flags = ZU_FLAG_STORE,
	 .store_offset = 16,
	 .store_size = 8,
	 .max = 1000},
	{.name = "word", .type = ZU_TYPE_STRING, .id = 5, .min = 2, .max = 10},
	{.name = "label",
	 .type = ZU_TYPE_STRING,
	 .id = 6,
	 .flags = ZU_FLAG_STORE,
	 .store_offset = 24,
	 .store_size = 8},
	{.name = "label-max",
	 .type = ZU_TYPE_STRING,
	 .id = 7,
	 .flags = ZU_FLAG_STORE,
	 .store_offset = 32,
	 .store_size = 16,
	 .min = 1,
	 .max = 4},
	{.name = "host",
	 .type = ZU_TYPE_HOSTMASK,
	 .id = 8,
	 .flags = ZU_FLAG_INVERT | ZU_FLAG_STORE,
	 .store_offset = 48,
	 .store_size = 32},
	{.name = "proto",
	 .type = ZU_TYPE_PROTOCOL,
	 .id = 9,
	 .flags = ZU_FLAG_STORE,
	 .store_offset = 80,
	 .store_size = 1},
	{},
};
constexpr size_t row_count = sizeof(rows) / sizeof(rows[0]) - 1;
constexpr size_t table_block = 88;

zunder::guarded_block option_block;

void check_option(uint8_t pick, const char *t)
{
	const zu_option_entry &row = rows[pick % row_count];
	option_block.reset(table_block);
	zu_option_call call{};
	call.arg = row.type == ZU_TYPE_NONE ? nullptr : t;
	call.entry = &row;
	call.data = option_block.data();
	call.invert = (pick & 0x80) != 0;
	call.clause = "fuzz";
	call.family = (pick & 0x40) ? ZU_FAMILY_IPV6 : ZU_FAMILY_IPV4;
	const bool refused = fuzz::refused(zunder::try_call([&] { zunder_option_parse(&call); }));
	if (!option_block.guards_intact())
		fuzz::finding("zunder_option_parse wrote outside the block");
	if (refused)
		return;
	if (call.invert && !(row.flags & ZU_FLAG_INVERT))
		fuzz::finding("a \"!\" the row does not allow was accepted");
	const unsigned char *stored = option_block.data() + row.store_offset;
	switch (row.type) {
	case ZU_TYPE_UINT32:
		if (row.max != 0 && call.value.u32 > row.max)
			fuzz::finding("a number above the row's largest value was accepted");
		break;
	case ZU_TYPE_UINT32_RANGE:
		if (row.max != 0 && (call.value.u32_range[0] > row.max ||
				     (call.value_count == 2 && call.value.u32_range[1] > row.max)))
			fuzz::finding("a range above the row's largest value was accepted");
		break;
	case ZU_TYPE_STRING: {
		const size_t length = std::strlen(t);
		if (length < row.min || (row.max != 0 && length > row.max))
			fuzz::finding("a text outside the row's lengths was accepted");
		if ((row.flags & ZU_FLAG_STORE) &&
		    (std::memchr(stored, '\0', row.store_size) == nullptr ||
		     std::strcmp(reinterpret_cast<const char *>(stored), t) != 0))
			fuzz::finding("a stored text is cut short or lacks its NUL");
		break;
	}
	case ZU_TYPE_HOSTMASK:
		if (std::memcmp(stored, &call.value.host, sizeof(call.value.host)) != 0)
			fuzz::finding("a stored address differs from the parsed one");
		break;
	default:
		break;
	}
}

// Any mask bytes, written as the listings write them after an all-zero
// address, must parse back to the same mask.
void check_mask(uint16_t family, const uint8_t *bytes, size_t size)
{
	const unsigned length = family == ZU_FAMILY_IPV6 ? 16 : 4;
	zu_option_value v{};
	std::memcpy(v.host.mask.bytes, bytes, size < length ? size : length);
	char again[128];
	address_text(family, v, again, sizeof(again));
	zu_option_value back{};
	if (!zunder::parse_address(again, family, &back) ||
	    std::memcmp(back.host.mask.bytes, v.host.mask.bytes, 16) != 0) {
		std::fprintf(stderr, "==fuzz== mask written as \"%s\"\n", again);
		fuzz::finding("the text of a mask does not parse back to the same mask");
	}
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
	// No plug-ins are needed; an exit_error outside a guarded call is a finding.
	zunder::set_exit_error(fuzz::unguarded_exit_error);
	return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
	if (size < 1 || size > max_text)
		return 0;
	const uint8_t op = data[0];
	size_t text_size = size - 1;
	std::memcpy(text, data + 1, text_size);
	text[text_size] = '\0';
	switch (op % 7) {
	case 0:
		check_u32({text, text_size}); // NULs included: the parser takes a view
		break;
	case 1:
		check_address(text, ZU_FAMILY_IPV4);
		break;
	case 2:
		check_address(text, ZU_FAMILY_IPV6);
		break;
	case 3:
		check_protocol(text);
		break;
	case 4:
		if (text_size >= 1)
			check_option(static_cast<uint8_t>(text[0]), text + 1);
		break;
	case 5:
		check_mask(ZU_FAMILY_IPV4, data + 1, size - 1);
		break;
	case 6:
		check_mask(ZU_FAMILY_IPV6, data + 1, size - 1);
		break;
	}
	return 0;
}
