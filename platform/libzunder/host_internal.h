// SPDX-License-Identifier: GPL-2.0-or-later
// What the host's own units share and do not export: the error line and
// the host's own faults.
#pragma once

#include "zunder_host.h"

#include <cstdarg>

namespace zunder {

// Writes "<program>: <message>" as one line on standard error, in one call.
// Hidden: it is no part of the library's interface.
__attribute__((visibility("hidden"), format(printf, 1, 0))) void write_error_line(const char *format,
										  va_list args);

// Raises the host's own fault (a guard hit, a block of the wrong size), as
// against refused input: try_call hands it back with host_fault set;
// outside one it goes to the error callback with status 2.
__attribute__((visibility("hidden"), noreturn, format(printf, 1, 2))) void host_fault(const char *format,
										      ...);

} // namespace zunder
