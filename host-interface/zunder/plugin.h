// SPDX-License-Identifier: GPL-2.0-or-later
// Small helpers every plug-in uses; plug-ins see the host only through <zunder.h>.
#pragma once

#include <zunder.h>

// The info block that follows the 32-byte header of a kernel clause entry.
template <typename Block>
const Block &info_block(const zu_clause_entry *entry)
{
	return *reinterpret_cast<const Block *>(entry->data);
}

// The one exported symbol of a plug-in file: its load-time constructor.
#define ZU_PLUGIN_CONSTRUCTOR(file)                                                                          \
	extern "C" __attribute__((constructor, visibility("default"))) void file##_init()
