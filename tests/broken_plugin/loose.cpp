// SPDX-License-Identifier: GPL-2.0-or-later
// A test plug-in: ZUNDER_TEST_LOOSE chooses a record it adds, which the host
// must refuse.
#include <zunder/plugin.h>

#include <cstdlib>
#include <cstring>

namespace {

void loose_print(const void *, const zu_clause_entry *, int)
{}
void loose_save(const void *, const zu_clause_entry *)
{}

constexpr zunder_match record(const char *name, uint16_t family, unsigned size)
{
	return {.version = ZUNDER_VERSION,
		.name = name,
		.family = family,
		.size = size,
		.print = loose_print,
		.save = loose_save};
}

constinit zunder_match loose_record = record("loose", ZU_FAMILY_ANY, 8);
// Another clause's name, which a later rule would find here first.
constinit zunder_match shadow_record = record("policy", ZU_FAMILY_IPV4, 8);
// A block too large for a clause entry's 16-bit size.
constinit zunder_match huge_record = record("loose", ZU_FAMILY_IPV6, 65536);

} // namespace

ZU_PLUGIN_CONSTRUCTOR(libzu_loose)
{
	const char *what = std::getenv("ZUNDER_TEST_LOOSE");
	zunder_register_match(&loose_record);
	if (what == nullptr)
		return;
	if (std::strcmp(what, "twice") == 0)
		zunder_register_match(&loose_record);
	else if (std::strcmp(what, "shadow") == 0)
		zunder_register_match(&shadow_record);
	else if (std::strcmp(what, "huge") == 0)
		zunder_register_match(&huge_record);
}
