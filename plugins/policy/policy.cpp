// SPDX-License-Identifier: GPL-2.0-or-later
// "policy": match on the IPsec policy applied to a packet on decapsulation
// (direction in) or to be applied on encapsulation (direction out), with up
// to four policy elements.  Registered once for IPv4 and once for IPv6.
#include <zunder/plugin.h>

#include "saved_word.h"

#include <arpa/inet.h>
#include <netdb.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace {

enum option_id : unsigned {
	opt_dir,
	opt_pol,
	opt_strict,
	opt_reqid,
	opt_spi,
	opt_proto,
	opt_mode,
	opt_tunnel_src,
	opt_tunnel_dst,
	opt_next,
};

constexpr unsigned element_flags = ZU_FLAG_INVERT | ZU_FLAG_MULTI;

constexpr zu_option_entry policy_options[] = {
	{.name = "dir", .type = ZU_TYPE_STRING, .id = opt_dir},
	{.name = "pol", .type = ZU_TYPE_STRING, .id = opt_pol},
	{.name = "strict", .type = ZU_TYPE_NONE, .id = opt_strict},
	{.name = "reqid", .type = ZU_TYPE_UINT32, .id = opt_reqid, .flags = element_flags},
	{.name = "spi", .type = ZU_TYPE_UINT32, .id = opt_spi, .flags = element_flags},
	{.name = "tunnel-src", .type = ZU_TYPE_HOSTMASK, .id = opt_tunnel_src, .flags = element_flags},
	{.name = "tunnel-dst", .type = ZU_TYPE_HOSTMASK, .id = opt_tunnel_dst, .flags = element_flags},
	{.name = "proto", .type = ZU_TYPE_PROTOCOL, .id = opt_proto, .flags = element_flags},
	{.name = "mode", .type = ZU_TYPE_STRING, .id = opt_mode, .flags = element_flags},
	{.name = "next",
	 .type = ZU_TYPE_NONE,
	 .id = opt_next,
	 .requires_ = 1u << opt_strict,
	 .flags = ZU_FLAG_MULTI},
	{},
};

constexpr char policy_help_text[] =
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
	"  --next \t\t\tbegin next element in policy";

constexpr unsigned policy_max_elements = 4;

struct policy_element {
	uint8_t tunnel_src[16];
	uint8_t tunnel_src_mask[16];
	uint8_t tunnel_dst[16];
	uint8_t tunnel_dst_mask[16];
	uint32_t spi;   // network byte order: the kernel compares it with a state's SPI as is
	uint32_t reqid; // host byte order, like every other number of the block
	uint8_t proto;
	uint8_t mode;
	uint8_t match;
	uint8_t invert;
};
static_assert(sizeof(policy_element) == 76);
static_assert(alignof(policy_element) == 4);
static_assert(offsetof(policy_element, tunnel_src) == 0);
static_assert(offsetof(policy_element, tunnel_src_mask) == 16);
static_assert(offsetof(policy_element, tunnel_dst) == 32);
static_assert(offsetof(policy_element, tunnel_dst_mask) == 48);
static_assert(offsetof(policy_element, spi) == 64);
static_assert(offsetof(policy_element, reqid) == 68);
static_assert(offsetof(policy_element, proto) == 72);
static_assert(offsetof(policy_element, mode) == 73);
static_assert(offsetof(policy_element, match) == 74);
static_assert(offsetof(policy_element, invert) == 75);

struct policy_block {
	policy_element elements[policy_max_elements];
	uint16_t flags;
	uint16_t count;
	uint8_t padding[4];
};
static_assert(sizeof(policy_block) == 312);
static_assert(offsetof(policy_block, elements) == 0);
static_assert(offsetof(policy_block, elements[1]) == 76);
static_assert(offsetof(policy_block, elements[3]) == 228);
static_assert(offsetof(policy_block, flags) == 304);
static_assert(offsetof(policy_block, count) == 306);
static_assert(offsetof(policy_block, padding) == 308);

enum : uint16_t {
	policy_dir_in = 1,
	policy_dir_out = 2,
	policy_none = 4,
	policy_strict = 8,
};

enum : uint8_t {
	item_tunnel_src = 1,
	item_tunnel_dst = 2,
	item_proto = 4,
	item_mode = 8,
	item_spi = 16,
	item_reqid = 32,
	item_all = 63,
};

enum : uint8_t { mode_transport = 0, mode_tunnel = 1 };

constexpr uint8_t proto_esp = 50, proto_ah = 51, proto_ipcomp = 108;

// Each item may be given once per element; after --next it starts afresh.
void refuse_repeat(const policy_element &e, uint8_t item, const char *message)
{
	if (e.match & item)
		zu_params->exit_error(2, "%s", message);
}

// Records an item as given, and whether it was negated.
void mark_item(policy_element &e, uint8_t item, bool invert)
{
	e.match |= item;
	e.invert = invert ? (e.invert | item) : (e.invert & ~item);
}

// All 16 bytes of address and mask, as the host delivered them for the family.
void store_tunnel(const zu_option_value &value, uint8_t (&addr)[16], uint8_t (&mask)[16])
{
	std::memcpy(addr, value.host.addr.bytes, sizeof(addr));
	std::memcpy(mask, value.host.mask.bytes, sizeof(mask));
}

void policy_show_help()
{
	std::puts(policy_help_text);
}

void policy_parse_option(zu_option_call *call)
{
	auto &b = *static_cast<policy_block *>(call->data);
	// While options are read, count is the number of --next seen (0 to 3).
	policy_element &e = b.elements[b.count];
	zunder_option_parse(call);
	const char *arg = call->arg;
	const bool invert = call->invert != 0;

	switch (call->entry->id) {
	case opt_dir:
		if (std::strcmp(arg, "in") == 0)
			b.flags |= policy_dir_in;
		else if (std::strcmp(arg, "out") == 0)
			b.flags |= policy_dir_out;
		else
			zu_params->exit_error(2, "policy_match: invalid dir \"%s\"", arg);
		break;
	case opt_pol:
		if (std::strcmp(arg, "none") == 0)
			b.flags |= policy_none;
		else if (std::strcmp(arg, "ipsec") != 0)
			zu_params->exit_error(2, "policy match: invalid policy \"%s\"", arg);
		break;
	case opt_strict:
		b.flags |= policy_strict;
		break;
	case opt_reqid:
		refuse_repeat(e, item_reqid, "policy match: double --reqid option");
		mark_item(e, item_reqid, invert);
		e.reqid = call->value.u32;
		break;
	case opt_spi:
		refuse_repeat(e, item_spi, "policy match: double --spi option");
		mark_item(e, item_spi, invert);
		e.spi = htonl(call->value.u32);
		break;
	case opt_proto:
		refuse_repeat(e, item_proto, "policy match: double --proto option");
		e.proto = call->value.protocol;
		if (e.proto != proto_esp && e.proto != proto_ah && e.proto != proto_ipcomp)
			zu_params->exit_error(2, "policy match: protocol must be ah/esp/ipcomp");
		mark_item(e, item_proto, invert);
		break;
	case opt_mode:
		refuse_repeat(e, item_mode, "policy match: double --mode option");
		mark_item(e, item_mode, invert);
		if (std::strcmp(arg, "transport") == 0)
			e.mode = mode_transport;
		else if (std::strcmp(arg, "tunnel") == 0)
			e.mode = mode_tunnel;
		else
			zu_params->exit_error(2, "policy match: invalid mode \"%s\"", arg);
		break;
	case opt_tunnel_src:
		refuse_repeat(e, item_tunnel_src, "policy match: double --tunnel-src option");
		mark_item(e, item_tunnel_src, invert);
		store_tunnel(call->value, e.tunnel_src, e.tunnel_src_mask);
		break;
	case opt_tunnel_dst:
		refuse_repeat(e, item_tunnel_dst, "policy match: double --tunnel-dst option");
		mark_item(e, item_tunnel_dst, invert);
		store_tunnel(call->value, e.tunnel_dst, e.tunnel_dst_mask);
		break;
	case opt_next:
		if (++b.count == policy_max_elements)
			zu_params->exit_error(2, "policy match: maximum policy depth reached");
		break;
	}
}

void policy_final_check(zu_fcheck_call *call)
{
	auto &b = *static_cast<policy_block *>(call->data);
	if (!(b.flags & (policy_dir_in | policy_dir_out)))
		zu_params->exit_error(2, "policy match: neither --dir in nor --dir out specified");
	if (b.flags & policy_none) {
		if (b.flags & policy_strict)
			zu_params->exit_error(2, "policy match: policy none but --strict given");
		if (b.count != 0)
			zu_params->exit_error(2, "policy match: policy none but policy given");
		return;
	}
	// From here on count is the number of elements, not of --next options.
	++b.count;
	for (unsigned i = 0; i < b.count; ++i) {
		const policy_element &e = b.elements[i];
		if ((b.flags & policy_strict) && !(e.match & item_all))
			zu_params->exit_error(2,
					      "policy match: empty policy element %u. --strict is in "
					      "effect, but at least one of reqid, spi, tunnel-src, "
					      "tunnel-dst, proto or mode is required.",
					      i);
		const bool mode_inverted = e.invert & item_mode;
		if ((e.match & (item_tunnel_src | item_tunnel_dst)) &&
		    ((e.mode == mode_transport && !mode_inverted) ||
		     (e.mode == mode_tunnel && mode_inverted)))
			zu_params->exit_error(2,
					      "policy match: --tunnel-src/--tunnel-dst is only valid "
					      "in tunnel mode");
	}
}

void policy_emit_header(const char *prefix, uint16_t flags)
{
	std::printf((flags & policy_dir_in) ? " %sdir in" : " %sdir out", prefix);
	std::printf((flags & policy_none) ? " %spol none" : " %spol ipsec", prefix);
	if (flags & policy_strict)
		std::printf(" %sstrict", prefix);
}

// A tunnel address item, with the address-to-text helpers of the family.
void emit_tunnel(const char *prefix, const char *name, const uint8_t *addr, const uint8_t *mask,
		 uint16_t family)
{
	const char *addr_text, *mask_text;
	if (family == ZU_FAMILY_IPV6) {
		in6_addr a, m;
		std::memcpy(&a, addr, sizeof(a));
		std::memcpy(&m, mask, sizeof(m));
		addr_text = zunder_ip6addr_to_numeric(&a);
		mask_text = zunder_ip6mask_to_numeric(&m);
	} else {
		in_addr a, m;
		std::memcpy(&a, addr, sizeof(a));
		std::memcpy(&m, mask, sizeof(m));
		addr_text = zunder_ipaddr_to_numeric(&a);
		mask_text = zunder_ipmask_to_numeric(&m);
	}
	std::printf(" %s%s %s%s", prefix, name, addr_text, mask_text);
}

// A mode that has no name lists as ???, and is saved quoted ('\?' keeps
// "??'" from being read as a trigraph), so that a shell reading the saved
// rule back takes it as it stands instead of as a glob.
const char *mode_word(uint8_t mode, bool saving)
{
	if (mode == mode_transport)
		return "transport";
	if (mode == mode_tunnel)
		return "tunnel";
	return saving ? "'\?\?\?'" : "???";
}

// The protocol by the database's name, or by number where it has none.
// Saved, the name is quoted as a shell word where it needs it; a name no
// saved line carries unchanged (see saved_word.h) is saved as the number,
// which reads back to the same protocol.
void emit_protocol(uint8_t proto, int numeric, bool saving)
{
	const protoent *entry = numeric ? nullptr : getprotobynumber(proto);
	if (entry == nullptr || (saving && !saved_word::carries(entry->p_name, std::strlen(entry->p_name))))
		std::printf("%u", proto);
	else if (saving)
		saved_word::write(entry->p_name);
	else
		std::printf("%s", entry->p_name);
}

void policy_emit_element(const char *prefix, const policy_element &e, int numeric, uint16_t family)
{
	const bool saving = prefix[0] != '\0';
	auto given = [&](uint8_t item) {
		if (!(e.match & item))
			return false;
		if (e.invert & item)
			std::printf(" !");
		return true;
	};
	if (given(item_reqid))
		std::printf(" %sreqid %u", prefix, e.reqid);
	if (given(item_spi))
		std::printf(" %sspi 0x%x", prefix, ntohl(e.spi));
	if (given(item_proto)) {
		std::printf(" %sproto ", prefix);
		emit_protocol(e.proto, numeric, saving);
	}
	if (given(item_mode))
		std::printf(" %smode %s", prefix, mode_word(e.mode, saving));
	if (given(item_tunnel_dst))
		emit_tunnel(prefix, "tunnel-dst", e.tunnel_dst, e.tunnel_dst_mask, family);
	if (given(item_tunnel_src))
		emit_tunnel(prefix, "tunnel-src", e.tunnel_src, e.tunnel_src_mask, family);
}

// The number of elements to write.  Only a corrupted block can claim more
// than the block holds; it is written as if it held exactly that many.
unsigned printed_elements(const policy_block &b)
{
	return b.count > policy_max_elements ? policy_max_elements : b.count;
}

void print_block(const zu_clause_entry *entry, int numeric, uint16_t family)
{
	const auto &b = info_block<policy_block>(entry);
	std::printf(" policy match");
	policy_emit_header("", b.flags);
	const unsigned count = printed_elements(b);
	for (unsigned i = 0; i < count; ++i) {
		if (count > 1)
			std::printf(" [%u]", i);
		policy_emit_element("", b.elements[i], numeric ? 1 : 0, family);
	}
}

void save_block(const zu_clause_entry *entry, uint16_t family)
{
	const auto &b = info_block<policy_block>(entry);
	policy_emit_header("--", b.flags);
	const unsigned count = printed_elements(b);
	for (unsigned i = 0; i < count; ++i) {
		policy_emit_element("--", b.elements[i], 0, family);
		if (i + 1 < count)
			std::printf(" --next");
	}
}

void policy_print_ipv4(const void *, const zu_clause_entry *entry, int numeric)
{
	print_block(entry, numeric, ZU_FAMILY_IPV4);
}

void policy_print_ipv6(const void *, const zu_clause_entry *entry, int numeric)
{
	print_block(entry, numeric, ZU_FAMILY_IPV6);
}

void policy_save_ipv4(const void *, const zu_clause_entry *entry)
{
	save_block(entry, ZU_FAMILY_IPV4);
}

void policy_save_ipv6(const void *, const zu_clause_entry *entry)
{
	save_block(entry, ZU_FAMILY_IPV6);
}

constexpr zunder_match policy_record(uint16_t family, zu_print_fn print, zu_save_fn save)
{
	return {
		.version = ZUNDER_VERSION,
		.name = "policy",
		.revision = 0,
		.family = family,
		.size = sizeof(policy_block),
		.userspace_size = sizeof(policy_block),
		.help = policy_show_help,
		.print = print,
		.save = save,
		.parse = policy_parse_option,
		.final_check = policy_final_check,
		.options = policy_options,
		.udata_size = 0,
	};
}

constinit zunder_match policy_records[2] = {
	policy_record(ZU_FAMILY_IPV4, policy_print_ipv4, policy_save_ipv4),
	policy_record(ZU_FAMILY_IPV6, policy_print_ipv6, policy_save_ipv6),
};

} // namespace

ZU_PLUGIN_CONSTRUCTOR(libzu_policy)
{
	zunder_register_matches(policy_records, 2);
}
