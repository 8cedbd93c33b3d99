// SPDX-License-Identifier: GPL-2.0-or-later
// "ah": IPv6 match on the Authentication Header's SPI range, length and
// reserved field.
#include <zunder/plugin.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace {

enum option_id : unsigned { opt_spi, opt_length, opt_reserved };

constexpr zu_option_entry ah_options[] = {
	{.name = "ahspi",
	 .type = ZU_TYPE_UINT32_RANGE,
	 .id = opt_spi,
	 .flags = ZU_FLAG_INVERT | ZU_FLAG_STORE,
	 .store_offset = 0,
	 .store_size = 8},
	{.name = "ahlen",
	 .type = ZU_TYPE_UINT32,
	 .id = opt_length,
	 .flags = ZU_FLAG_INVERT | ZU_FLAG_STORE,
	 .store_offset = 8,
	 .store_size = 4},
	{.name = "ahres", .type = ZU_TYPE_NONE, .id = opt_reserved},
	{},
};

constexpr char ah_help_text[] =
	"ah match options:\n"
	"[!] --ahspi spi[:spi]          match spi (range)\n"
	"[!] --ahlen length             total length of this header\n"
	" --ahres                       check the reserved field too";

struct ah_block {
	uint32_t spi_min;
	uint32_t spi_max;
	uint32_t length;
	uint8_t check_reserved;
	uint8_t invflags;
	uint8_t reserved[2];
};
static_assert(sizeof(ah_block) == 16);
static_assert(offsetof(ah_block, spi_min) == 0);
static_assert(offsetof(ah_block, spi_max) == 4);
static_assert(offsetof(ah_block, length) == 8);
static_assert(offsetof(ah_block, check_reserved) == 12);
static_assert(offsetof(ah_block, invflags) == 13);

enum : uint8_t { inv_spi = 1, inv_length = 2, inv_known = inv_spi | inv_length };
constexpr uint32_t spi_any_max = 4294967295u;

// Remembers whether --ahspi was given, so that a clause without it gets the
// full SPI range instead of matching SPI 0 only.
struct ah_scratch {
	uint8_t spi_given;
};
static_assert(sizeof(ah_scratch) == 1);

bool spi_restricted(const ah_block &b)
{
	return (b.invflags & inv_spi) || b.spi_min != 0 || b.spi_max != spi_any_max;
}

void ah_help()
{
	std::puts(ah_help_text);
}

void ah_parse(zu_option_call *call)
{
	zunder_option_parse(call);
	auto &b = *static_cast<ah_block *>(call->data);
	switch (call->entry->id) {
	case opt_spi:
		static_cast<ah_scratch *>(call->udata)->spi_given = 1;
		if (call->value_count == 1)
			b.spi_max = b.spi_min;
		if (call->invert)
			b.invflags |= inv_spi;
		break;
	case opt_length:
		if (call->invert)
			b.invflags |= inv_length;
		break;
	case opt_reserved:
		b.check_reserved = 1;
		break;
	}
}

void ah_final_check(zu_fcheck_call *call)
{
	if (!static_cast<const ah_scratch *>(call->udata)->spi_given)
		static_cast<ah_block *>(call->data)->spi_max = spi_any_max;
}

void ah_print(const void *, const zu_clause_entry *entry, int)
{
	const auto &b = info_block<ah_block>(entry);
	std::printf(" ah ");
	const bool spi_item = spi_restricted(b);
	if (spi_item) {
		const char *mark = (b.invflags & inv_spi) ? "!" : "";
		if (b.spi_min == b.spi_max)
			std::printf("%s:%s%u", "spi", mark, b.spi_min);
		else
			std::printf("%ss:%s%u:%u", "spi", mark, b.spi_min, b.spi_max);
	}
	if ((b.invflags & inv_length) || b.length != 0)
		std::printf("%s%s:%s%u", spi_item ? " " : "", "length", (b.invflags & inv_length) ? "!" : "",
			    b.length);
	if (b.check_reserved)
		std::printf(" reserved");
	if (b.invflags & ~inv_known)
		std::printf(" Unknown invflags: 0x%X", b.invflags & ~inv_known);
}

void ah_save(const void *, const zu_clause_entry *entry)
{
	const auto &b = info_block<ah_block>(entry);
	if (spi_restricted(b)) {
		std::printf("%s --ahspi ", (b.invflags & inv_spi) ? " !" : "");
		if (b.spi_min == b.spi_max)
			std::printf("%u", b.spi_min);
		else
			std::printf("%u:%u", b.spi_min, b.spi_max);
	}
	if (b.length != 0 || (b.invflags & inv_length))
		std::printf("%s --ahlen %u", (b.invflags & inv_length) ? " !" : "", b.length);
	if (b.check_reserved)
		std::printf(" --ahres");
}

constinit zunder_match ah_record = {
	.version = ZUNDER_VERSION,
	.name = "ah",
	.revision = 0,
	.family = ZU_FAMILY_IPV6,
	.size = sizeof(ah_block),
	.userspace_size = sizeof(ah_block),
	.help = ah_help,
	.print = ah_print,
	.save = ah_save,
	.parse = ah_parse,
	.final_check = ah_final_check,
	.options = ah_options,
	.udata_size = sizeof(ah_scratch),
};

} // namespace

ZU_PLUGIN_CONSTRUCTOR(libqeb_ah)
{
	zunder_register_match(&ah_record);
}
