// SPDX-License-Identifier: GPL-2.0-or-later
/* A fixed protocol database, so that the tests' expectations hold on any
 * machine: entries as Debian's netbase writes them, or, built with
 * ZUNDER_HOSTILE_PROTOCOL_NAMES, names a saved rule must quote or avoid. */
#pragma once

#include <netdb.h>

#ifdef __cplusplus
extern "C" {
#endif

struct protoent *fixed_protocol_by_name(const char *name); /* or alias; null if none */
struct protoent *fixed_protocol_by_number(int number);     /* the first entry; null if none */

#ifdef __cplusplus
}
#endif
