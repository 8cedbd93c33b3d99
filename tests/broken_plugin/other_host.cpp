// SPDX-License-Identifier: GPL-2.0-or-later
// A test plug-in the host must refuse: a record for another host version and
// one without its listing operation.
#include <zunder/plugin.h>

namespace {

void other_print(const void *, const zu_clause_entry *, int)
{}
void other_save(const void *, const zu_clause_entry *)
{}

constinit zunder_match other_version = {
	.version = "libzunder.so.9",
	.name = "other_host",
	.family = ZU_FAMILY_ANY,
	.size = 8,
	.print = other_print,
	.save = other_save,
};

constinit zunder_target no_print = {
	.version = ZUNDER_VERSION,
	.name = "other_host",
	.family = ZU_FAMILY_ANY,
	.size = 8,
	.save = other_save,
};

} // namespace

ZU_PLUGIN_CONSTRUCTOR(libzu_other_host)
{
	zunder_register_match(&other_version);
	zunder_register_target(&no_print);
}
