// SPDX-License-Identifier: GPL-2.0-or-later
// A faulty plug-in for the tests: each option makes one operation write where
// it may not, for the host's guards to catch.
#include <zunder/plugin.h>

#include <cstdio>

namespace {

enum : unsigned { opt_past_end, opt_before_start, opt_scratch_past_end, opt_spoil_listing };

constexpr zu_option_entry broken_options[] = {
	{.name = "past-end", .type = ZU_TYPE_NONE, .id = opt_past_end},
	{.name = "before-start", .type = ZU_TYPE_NONE, .id = opt_before_start},
	{.name = "scratch-past-end", .type = ZU_TYPE_NONE, .id = opt_scratch_past_end},
	{.name = "spoil-listing", .type = ZU_TYPE_NONE, .id = opt_spoil_listing},
	{},
};

constexpr unsigned block_size = 8;
constexpr unsigned scratch_size = 4;

void broken_parse(zu_option_call *call)
{
	zunder_option_parse(call);
	auto *data = static_cast<unsigned char *>(call->data);
	switch (call->entry->id) {
	case opt_past_end:
		data[block_size] = 1;
		break;
	case opt_before_start:
		data[-1] = 1;
		break;
	case opt_scratch_past_end:
		static_cast<unsigned char *>(call->udata)[scratch_size] = 1;
		break;
	case opt_spoil_listing:
		data[0] = 0xee;
		break;
	}
}

// Listing must leave the block alone; this one changes it on request.
void broken_print(const void *, const zu_clause_entry *entry, int)
{
	if (entry->data[0] == 0xee)
		const_cast<zu_clause_entry *>(entry)->data[1] = 1;
}

// Saves the file the record came from (which must outlive the caller's text)
// or, for a first byte 0x27 or 0xfa, what a read-back must not take as refused
// input: an unterminated quote, an option whose parse writes out of bounds.
void broken_save(const void *, const zu_clause_entry *);

constinit zunder_match broken_record = {
	.version = ZUNDER_VERSION,
	.name = "broken",
	.family = ZU_FAMILY_ANY,
	.size = block_size,
	.userspace_size = block_size,
	.print = broken_print,
	.save = broken_save,
	.parse = broken_parse,
	.options = broken_options,
	.udata_size = scratch_size,
};

void broken_save(const void *, const zu_clause_entry *entry)
{
	if (entry->data[0] == 0x27)
		std::printf(" 'unterminated");
	else if (entry->data[0] == 0xfa)
		std::printf(" --past-end");
	else
		std::printf(" from %s", broken_record.loaded_from);
}

} // namespace

ZU_PLUGIN_CONSTRUCTOR(libzu_broken)
{
	zunder_register_match(&broken_record);
}
