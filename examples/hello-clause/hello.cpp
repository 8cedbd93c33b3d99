// SPDX-License-Identifier: GPL-2.0-or-later
// The match "hello": one mandatory number, --greeting, which the host
// checks and stores in the info block by itself (ZU_FLAG_STORE).  A model
// of a plug-in built out of tree: one file, one record, the operations, and
// the constructor that registers the record.
#include <zunder/plugin.h>

#include <cstdint>
#include <cstdio>

namespace {

struct hello_block {
	uint32_t greeting;
	uint32_t unused; // blocks are a multiple of 8 bytes
};
static_assert(sizeof(hello_block) == 8);

enum option_id : unsigned { opt_greeting };

constexpr zu_option_entry hello_options[] = {
	{.name = "greeting",
	 .type = ZU_TYPE_UINT32,
	 .id = opt_greeting,
	 .flags = ZU_FLAG_MANDATORY | ZU_FLAG_STORE,
	 .store_offset = 0,
	 .store_size = sizeof(uint32_t)},
	{},
};

void hello_help()
{
	std::puts("hello match options:\n    --greeting n     Match packets greeted with n");
}

void hello_parse(zu_option_call *call)
{
	zunder_option_parse(call);
}

void hello_print(const void *, const zu_clause_entry *entry, int)
{
	std::printf(" hello greeting:%u", info_block<hello_block>(entry).greeting);
}

void hello_save(const void *, const zu_clause_entry *entry)
{
	std::printf(" --greeting %u", info_block<hello_block>(entry).greeting);
}

constinit zunder_match hello_record = {
	.version = ZUNDER_VERSION,
	.name = "hello",
	.revision = 0,
	.family = ZU_FAMILY_ANY,
	.size = sizeof(hello_block),
	.userspace_size = sizeof(hello_block),
	.help = hello_help,
	.print = hello_print,
	.save = hello_save,
	.parse = hello_parse,
	.final_check = nullptr,
	.options = hello_options,
	.udata_size = 0,
};

} // namespace

ZU_PLUGIN_CONSTRUCTOR(libzu_hello)
{
	zunder_register_match(&hello_record);
}
