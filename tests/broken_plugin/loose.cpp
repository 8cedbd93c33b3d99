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

constinit zunder_match loose_record = {
	.version = ZUNDER_VERSION,
	.name = "loose",
	.family = ZU_FAMILY_ANY,
	.size = 8,
	.print = loose_print,
	.save = loose_save,
};

// Another clause's name, which a later rule would find here first.
constinit zunder_match shadow_record = {
	.version = ZUNDER_VERSION,
	.name = "policy",
	.family = ZU_FAMILY_IPV4,
	.size = 8,
	.print = loose_print,
	.save = loose_save,
};

// A block too large for a clause entry's 16-bit size.
constinit zunder_match huge_record = {
	.version = ZUNDER_VERSION,
	.name = "loose",
	.family = ZU_FAMILY_IPV6,
	.size = 65536,
	.print = loose_print,
	.save = loose_save,
};

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
