// SPDX-License-Identifier: GPL-2.0-or-later
// "policy": match on the IPsec policy applied to a packet on decapsulation
// (direction in) or to be applied on encapsulation (direction out), with up
// to four policy elements.  Registered once for IPv4 and once for IPv6.
#include <zunder/plugin.h>

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

constexpr unsigned POLICY_MAX_ELEMENTS = 4;

struct policy_element {
	uint8_t tunnel_src[16];
	uint8_t tunnel_src_mask[16];
	uint8_t tunnel_dst[16];
	uint8_t tunnel_dst_mask[16];
	uint32_t spi;
	uint32_t reqid;
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
	policy_element elements[POLICY_MAX_ELEMENTS];
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
	POLICY_DIR_IN = 1,
	POLICY_DIR_OUT = 2,
	POLICY_NONE = 4,
	POLICY_STRICT = 8,
};

enum : uint8_t {
	ITEM_TUNNEL_SRC = 1,
	ITEM_TUNNEL_DST = 2,
	ITEM_PROTO = 4,
	ITEM_MODE = 8,
	ITEM_SPI = 16,
	ITEM_REQID = 32,
	ITEM_ALL = 63,
};

enum : uint8_t { MODE_TRANSPORT = 0, MODE_TUNNEL = 1 };

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
			b.flags |= POLICY_DIR_IN;
		else if (std::strcmp(arg, "out") == 0)
			b.flags |= POLICY_DIR_OUT;
		else
			zu_params->exit_error(2, "policy_match: invalid dir \"%s\"", arg);
		break;
	case opt_pol:
		if (std::strcmp(arg, "none") == 0)
			b.flags |= POLICY_NONE;
		else if (std::strcmp(arg, "ipsec") != 0)
			zu_params->exit_error(2, "policy match: invalid policy \"%s\"", arg);
		break;
	case opt_strict:
		b.flags |= POLICY_STRICT;
		break;
	case opt_reqid:
		refuse_repeat(e, ITEM_REQID, "policy match: double --reqid option");
		mark_item(e, ITEM_REQID, invert);
		e.reqid = call->value.u32;
		break;
	case opt_spi:
		refuse_repeat(e, ITEM_SPI, "policy match: double --spi option");
		mark_item(e, ITEM_SPI, invert);
		e.spi = call->value.u32;
		break;
	case opt_proto:
		refuse_repeat(e, ITEM_PROTO, "policy match: double --proto option");
		e.proto = call->value.protocol;
		if (e.proto != proto_esp && e.proto != proto_ah && e.proto != proto_ipcomp)
			zu_params->exit_error(2, "policy match: protocol must be ah/esp/ipcomp");
		mark_item(e, ITEM_PROTO, invert);
		break;
	case opt_mode:
		refuse_repeat(e, ITEM_MODE, "policy match: double --mode option");
		mark_item(e, ITEM_MODE, invert);
		if (std::strcmp(arg, "transport") == 0)
			e.mode = MODE_TRANSPORT;
		else if (std::strcmp(arg, "tunnel") == 0)
			e.mode = MODE_TUNNEL;
		else
			zu_params->exit_error(2, "policy match: invalid mode \"%s\"", arg);
		break;
	case opt_tunnel_src:
		refuse_repeat(e, ITEM_TUNNEL_SRC, "policy match: double --tunnel-src option");
		mark_item(e, ITEM_TUNNEL_SRC, invert);
		store_tunnel(call->value, e.tunnel_src, e.tunnel_src_mask);
		break;
	case opt_tunnel_dst:
		refuse_repeat(e, ITEM_TUNNEL_DST, "policy match: double --tunnel-dst option");
		mark_item(e, ITEM_TUNNEL_DST, invert);
		store_tunnel(call->value, e.tunnel_dst, e.tunnel_dst_mask);
		break;
	case opt_next:
		if (++b.count == POLICY_MAX_ELEMENTS)
			zu_params->exit_error(2, "policy match: maximum policy depth reached");
		break;
	}
}

void policy_final_check(zu_fcheck_call *call)
{
	auto &b = *static_cast<policy_block *>(call->data);
	if (!(b.flags & (POLICY_DIR_IN | POLICY_DIR_OUT)))
		zu_params->exit_error(2, "policy match: neither --dir in nor --dir out specified");
	if (b.flags & POLICY_NONE) {
		if (b.flags & POLICY_STRICT)
			zu_params->exit_error(2, "policy match: policy none but --strict given");
		if (b.count != 0)
			zu_params->exit_error(2, "policy match: policy none but policy given");
		return;
	}
	// From here on count is the number of elements, not of --next options.
	++b.count;
	for (unsigned i = 0; i < b.count; ++i) {
		const policy_element &e = b.elements[i];
		if ((b.flags & POLICY_STRICT) && !(e.match & ITEM_ALL))
			zu_params->exit_error(2,
					      "policy match: empty policy element %u. --strict is in "
					      "effect, but at least one of reqid, spi, tunnel-src, "
					      "tunnel-dst, proto or mode is required.",
					      i);
		const bool mode_inverted = e.invert & ITEM_MODE;
		if ((e.match & (ITEM_TUNNEL_SRC | ITEM_TUNNEL_DST)) &&
		    ((e.mode == MODE_TRANSPORT && !mode_inverted) ||
		     (e.mode == MODE_TUNNEL && mode_inverted)))
			zu_params->exit_error(2,
					      "policy match: --tunnel-src/--tunnel-dst is only valid "
					      "in tunnel mode");
	}
}

void policy_emit_header(const char *prefix, uint16_t flags)
{
	std::printf((flags & POLICY_DIR_IN) ? " %sdir in" : " %sdir out", prefix);
	std::printf((flags & POLICY_NONE) ? " %spol none" : " %spol ipsec", prefix);
	if (flags & POLICY_STRICT)
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

void policy_emit_element(const char *prefix, const policy_element &e, int numeric, uint16_t family)
{
	auto given = [&](uint8_t item) {
		if (!(e.match & item))
			return false;
		if (e.invert & item)
			std::printf(" !");
		return true;
	};
	if (given(ITEM_REQID))
		std::printf(" %sreqid %u", prefix, e.reqid);
	if (given(ITEM_SPI))
		std::printf(" %sspi 0x%x", prefix, e.spi);
	if (given(ITEM_PROTO)) {
		std::printf(" %sproto ", prefix);
		const protoent *entry = numeric ? nullptr : getprotobynumber(e.proto);
		if (entry != nullptr)
			std::printf("%s", entry->p_name);
		else
			std::printf("%u", e.proto);
	}
	if (given(ITEM_MODE)) {
		std::printf(" %smode ", prefix);
		std::printf("%s", e.mode == MODE_TRANSPORT ? "transport"
				  : e.mode == MODE_TUNNEL  ? "tunnel"
							   : "???");
	}
	if (given(ITEM_TUNNEL_DST))
		emit_tunnel(prefix, "tunnel-dst", e.tunnel_dst, e.tunnel_dst_mask, family);
	if (given(ITEM_TUNNEL_SRC))
		emit_tunnel(prefix, "tunnel-src", e.tunnel_src, e.tunnel_src_mask, family);
}

// The number of elements to write.  Only a corrupted block can claim more
// than the block holds; it is written as if it held exactly that many.
unsigned shown_elements(const policy_block &b)
{
	return b.count > POLICY_MAX_ELEMENTS ? POLICY_MAX_ELEMENTS : b.count;
}

void print_block(const zu_clause_entry *entry, int numeric, uint16_t family)
{
	const auto &b = info_block<policy_block>(entry);
	std::printf(" policy match");
	policy_emit_header("", b.flags);
	const unsigned count = shown_elements(b);
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
	const unsigned count = shown_elements(b);
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
