// SPDX-License-Identifier: GPL-2.0-or-later
// Includes the host library's C++ interface, by path as it is not on a
// plug-in's include path: the build must refuse it.
#include "../../platform/libzunder/zunder_host.h"

#include <zunder/plugin.h>

ZU_PLUGIN_CONSTRUCTOR(libzu_includes_host)
{
	zunder::registered_records();
}
