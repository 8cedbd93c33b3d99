// SPDX-License-Identifier: GPL-2.0-or-later
// "ipv6header": IPv6 match on the extension headers a packet carries.  The
// --header list becomes a one-byte mask with one bit per known header kind;
// listing and saving turn the mask back into names.
#include <zunder/plugin.h>

#include "saved_word.h"

#include <netdb.h>

#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace {

enum option_id : unsigned { opt_header, opt_soft };

constexpr zu_option_entry ipv6header_options[] = {
	{.name = "header",
	 .type = ZU_TYPE_STRING,
	 .id = opt_header,
	 .flags = ZU_FLAG_INVERT | ZU_FLAG_MANDATORY},
	{.name = "soft", .type = ZU_TYPE_NONE, .id = opt_soft},
	{},
};

constexpr char ipv6header_help_text[] =
	"ipv6header match options:\n"
	"[!] --header headers     Type of header to match, by name\n"
	"                         names: hop,dst,route,frag,auth,esp,none,proto\n"
	"                    long names: hop-by-hop,ipv6-opts,ipv6-route,\n"
	"                                ipv6-frag,ah,esp,ipv6-nonxt,protocol\n"
	"                       numbers: 0,60,43,44,51,50,59\n"
	"--soft                    The header CONTAINS the specified extensions";

struct ipv6header_block {
	uint8_t header_mask;
	uint8_t invert_flag;
	uint8_t soft_flag;
	uint8_t unused[5]; // left as the host's zero fill
};
static_assert(sizeof(ipv6header_block) == 8);
static_assert(offsetof(ipv6header_block, header_mask) == 0);
static_assert(offsetof(ipv6header_block, invert_flag) == 1);
static_assert(offsetof(ipv6header_block, soft_flag) == 2);

// A flag byte that is on holds 0xFF, one that is off 0.
constexpr uint8_t flag_on = 0xFF;

// Header number and its mask bit.  The row order is the listing order.
struct header_bit {
	uint8_t number;
	uint8_t bit;
};
constexpr header_bit header_bits[] = {
	{0, 0x80}, {60, 0x40}, {43, 0x20}, {44, 0x10}, {51, 0x08}, {50, 0x04}, {59, 0x02}, {255, 0x01},
};
static_assert(sizeof(header_bits) == 16);

// Built-in names, used when the protocol database does not know a token or
// a number.  Look-ups take the first matching row.
struct header_name {
	const char *name;
	uint8_t number;
};
constexpr header_name header_names[] = {
	{"hop-by-hop", 0}, {"protocol", 255}, {"hop", 0},   {"dst", 60},   {"route", 43}, {"frag", 44},
	{"auth", 51},      {"esp", 50},       {"none", 59}, {"prot", 255}, {"0", 0},      {"60", 60},
	{"43", 43},        {"44", 44},        {"51", 51},   {"50", 50},    {"59", 59},    {"255", 255},
};
static_assert(sizeof(header_names) / sizeof(header_names[0]) == 18);

constexpr bool every_header_has_a_name()
{
	for (const auto &bit : header_bits) {
		bool named = false;
		for (const auto &row : header_names)
			named = named || row.number == bit.number;
		if (!named)
			return false;
	}
	return true;
}
static_assert(every_header_has_a_name());

// Tokens are looked up in place in the option's text; only the database
// look-up needs a NUL-terminated copy, which this buffer holds.  No protocol
// name and no built-in name comes near its length, so a token that does not
// fit is unknown to both and is reported as it stands.
constexpr size_t token_buffer_size = 256;

[[noreturn]] void unknown_token(const char *token, size_t length)
{
	zu_params->exit_error(2, "unknown header `%.*s' specified",
			      length > INT_MAX ? INT_MAX : static_cast<int>(length), token);
}

// The header number of the `length` bytes at `token`: the protocol
// database's number for the name, else the built-in table's.
unsigned token_number(const char *token, size_t length)
{
	char name[token_buffer_size];
	if (length >= sizeof(name))
		unknown_token(token, length);
	std::memcpy(name, token, length);
	name[length] = '\0';
	if (const protoent *entry = getprotobyname(name))
		return static_cast<uint16_t>(entry->p_proto);
	for (const auto &row : header_names)
		if (std::strcmp(row.name, name) == 0)
			return row.number;
	unknown_token(token, length);
}

uint8_t mask_bit(unsigned number)
{
	for (const auto &row : header_bits)
		if (row.number == number)
			return row.bit;
	zu_params->exit_error(2, "unknown header `%d' specified", static_cast<int>(number));
}

// Splits the list at commas only; empty pieces are skipped and blanks
// belong to the token.
uint8_t parse_header_list(const char *text)
{
	uint8_t mask = 0;
	for (const char *piece = text;; ++piece) {
		const size_t length = std::strcspn(piece, ",");
		if (length != 0)
			mask |= mask_bit(token_number(piece, length));
		piece += length;
		if (*piece == '\0')
			return mask;
	}
}

const char *builtin_label(uint8_t number)
{
	for (const auto &row : header_names)
		if (row.number == number)
			return row.name;
	return ""; // unreachable: every header has a built-in name
}

// Writes the name of a header: the database's, else the built-in one.
// Number 0 is "hop-by-hop" whatever the database calls protocol 0.  Saved,
// the database's name is quoted as a shell word where it needs it; one that
// no saved line carries unchanged (see saved_word.h), or that holds a comma
// and so would read back as two names, gives way to the built-in name.
void write_header_label(uint8_t number, bool saving)
{
	const protoent *entry = number != 0 ? getprotobynumber(number) : nullptr;
	if (entry == nullptr) {
		std::fputs(builtin_label(number), stdout);
		return;
	}
	const size_t length = std::strlen(entry->p_name);
	if (!saving)
		std::fputs(entry->p_name, stdout);
	else if (saved_word::carries(entry->p_name, length) &&
		 std::memchr(entry->p_name, ',', length) == nullptr)
		saved_word::write(entry->p_name, length);
	else
		std::fputs(builtin_label(number), stdout);
}

void print_header_list(uint8_t mask, bool saving)
{
	if (mask == 0) {
		std::printf("NONE");
		return;
	}
	bool first = true;
	for (const auto &row : header_bits) {
		if (!(mask & row.bit))
			continue;
		if (!first)
			std::putchar(',');
		first = false;
		write_header_label(row.number, saving);
	}
}

void ipv6header_help()
{
	std::puts(ipv6header_help_text);
}

void ipv6header_parse(zu_option_call *call)
{
	zunder_option_parse(call);
	auto &b = *static_cast<ipv6header_block *>(call->data);
	switch (call->entry->id) {
	case opt_soft:
		b.soft_flag = flag_on;
		break;
	case opt_header:
		b.header_mask = parse_header_list(call->arg != nullptr ? call->arg : "");
		if (b.header_mask == 0)
			zu_params->exit_error(2, "qeb_ipv6header: cannot parse header names");
		if (call->invert)
			b.invert_flag = flag_on;
		break;
	}
}

void ipv6header_print(const void *, const zu_clause_entry *entry, int numeric)
{
	const auto &b = info_block<ipv6header_block>(entry);
	std::printf(" ipv6header");
	if (b.header_mask != 0 || b.invert_flag != 0) {
		std::printf(" flags:%s", b.invert_flag != 0 ? "!" : "");
		if (numeric)
			std::printf("0x%02X", b.header_mask);
		else
			print_header_list(b.header_mask, false);
	}
	if (b.soft_flag != 0)
		std::printf(" soft");
}

void ipv6header_save(const void *, const zu_clause_entry *entry)
{
	const auto &b = info_block<ipv6header_block>(entry);
	std::printf("%s --header ", b.invert_flag != 0 ? " !" : "");
	print_header_list(b.header_mask, true);
	if (b.soft_flag != 0)
		std::printf(" --soft");
}

constinit zunder_match ipv6header_record = {
	.version = ZUNDER_VERSION,
	.name = "ipv6header",
	.revision = 0,
	.family = ZU_FAMILY_IPV6,
	.size = sizeof(ipv6header_block),
	.userspace_size = sizeof(ipv6header_block),
	.help = ipv6header_help,
	.print = ipv6header_print,
	.save = ipv6header_save,
	.parse = ipv6header_parse,
	.final_check = nullptr,
	.options = ipv6header_options,
	.udata_size = 0,
};

} // namespace

ZU_PLUGIN_CONSTRUCTOR(libqeb_ipv6header)
{
	zunder_register_match(&ipv6header_record);
}
