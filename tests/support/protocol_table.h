// SPDX-License-Identifier: GPL-2.0-or-later
/* The protocol database the tests fix, so that their expectations hold on
 * any machine: a few entries as Debian's netbase writes them (built with
 * ZUNDER_HOSTILE_PROTOCOL_NAMES: names a saved rule must quote or avoid). */
#pragma once

#include <netdb.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The entry with this name or alias (case-sensitive), or null. */
struct protoent *fixed_protocol_by_name(const char *name);
/* The first entry with this number, or null. */
struct protoent *fixed_protocol_by_number(int number);

#ifdef __cplusplus
}
#endif
