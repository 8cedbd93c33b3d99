// SPDX-License-Identifier: GPL-2.0-or-later
// What the host's own units share and do not export: the error line and
// the formats of the host's own faults.
#pragma once

#include "zunder_host.h"

#include <cstdarg>

namespace zunder {

// Writes "<program>: <message>" as one line on standard error, in one call.
// Hidden: it is no part of the library's interface.
__attribute__((visibility("hidden"), format(printf, 1, 0))) void write_error_line(const char *format,
										  va_list args);

// The formats of a guard hit and of a block of the wrong size, by which
// try_call tells the host's faults from refused input.
__attribute__((visibility("hidden"))) extern const char guard_failure_format[];
__attribute__((visibility("hidden"))) extern const char block_size_format[];

} // namespace zunder
