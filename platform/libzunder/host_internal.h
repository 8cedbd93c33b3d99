// SPDX-License-Identifier: GPL-2.0-or-later
// What the host's own units share and do not export: the error line.
#pragma once

#include "zunder_host.h"

#include <cstdarg>

namespace zunder {

// Writes "<program>: <message>" as one line on standard error, in one call.
// Hidden: it is no part of the library's interface.
__attribute__((visibility("hidden"), format(printf, 1, 0))) void write_error_line(const char *format,
										  va_list args);

} // namespace zunder
