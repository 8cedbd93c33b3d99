// SPDX-License-Identifier: GPL-2.0-or-later
// A plug-in that reaches for the host library's own C++ interface, by path
// since its folder is not on a plug-in's include path: the build must
// refuse it (plugin_refuses_host_interface).
#include "../../platform/libzunder/zunder_host.h"

#include <zunder/plugin.h>

ZU_PLUGIN_CONSTRUCTOR(libzu_includes_host)
{
	zunder::registered_records();
}
