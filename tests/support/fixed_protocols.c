// SPDX-License-Identifier: GPL-2.0-or-later
/* Preloaded into zunder (or linked into a test program): the C library's
 * protocol look-ups answer from the fixed table of protocol_table.c, or,
 * built with ZUNDER_EMPTY_PROTOCOLS, from a database with no entries. */
#include "protocol_table.h"

#include <errno.h>
#include <string.h>

#ifdef ZUNDER_EMPTY_PROTOCOLS
#define fixed_protocol_by_name(name) ((void)(name), (struct protoent *)0)
#define fixed_protocol_by_number(number) ((void)(number), (struct protoent *)0)
#endif

struct protoent *getprotobyname(const char *name)
{
	return fixed_protocol_by_name(name);
}

struct protoent *getprotobynumber(int proto)
{
	return fixed_protocol_by_number(proto);
}

/* Copies the entry (with its one alias, as every entry has) into the
 * caller's buffer, the alias list first. */
static int copy_entry(const struct protoent *entry, struct protoent *out, char *buffer, size_t length,
		      struct protoent **result)
{
	*result = 0;
	if (!entry)
		return 0;
	const size_t name = strlen(entry->p_name) + 1, alias = strlen(entry->p_aliases[0]) + 1;
	const size_t skip = (sizeof(char *) - (size_t)buffer % sizeof(char *)) % sizeof(char *);
	if (length < skip || length - skip < 2 * sizeof(char *) + name + alias)
		return ERANGE;
	char **list = (char **)(void *)(buffer + skip);
	out->p_name = memcpy(list + 2, entry->p_name, name);
	list[0] = memcpy(out->p_name + name, entry->p_aliases[0], alias);
	list[1] = 0;
	out->p_aliases = list;
	out->p_proto = entry->p_proto;
	*result = out;
	return 0;
}

int getprotobyname_r(const char *name, struct protoent *out, char *buffer, size_t length,
		     struct protoent **result)
{
	return copy_entry(fixed_protocol_by_name(name), out, buffer, length, result);
}

int getprotobynumber_r(int proto, struct protoent *out, char *buffer, size_t length, struct protoent **result)
{
	return copy_entry(fixed_protocol_by_number(proto), out, buffer, length, result);
}

/* The machine's database is never opened. */
void setprotoent(int stayopen)
{
	(void)stayopen;
}

void endprotoent(void)
{}
