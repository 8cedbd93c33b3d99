// SPDX-License-Identifier: GPL-2.0-or-later
#include "protocol_table.h"

#include <string.h>

#define ENTRY(name, number, alias)                                                                           \
	{                                                                                                    \
		(char *)name, (char *[]){(char *)alias, 0}, number                                           \
	}

static struct protoent table[] = {
#ifdef ZUNDER_HOSTILE_PROTOCOL_NAMES
	/* For the numbers the clauses save by name, names that a shell, a line
	 * editor or the batch reader would act on, or that no saved line carries. */
	ENTRY("ipv6-opts\x01", 60, "Opts"),     ENTRY("ipv6-route,x", 43, "Route"),
	ENTRY("ipv6-frag\xc3", 44, "Frag"),     ENTRY("e'sp!x", 50, "ESP"),
	ENTRY("ah;touch${IFS}ran;:", 51, "AH"), ENTRY("*", 59, "NoNxt"),
	ENTRY("ipc\xc3mp", 108, "IPComp"),
#else
	ENTRY("ip", 0, "IP"),
	ENTRY("hopopt", 0, "HOPOPT"),
	ENTRY("icmp", 1, "ICMP"),
	ENTRY("tcp", 6, "TCP"),
	ENTRY("udp", 17, "UDP"),
	ENTRY("ipv6", 41, "IPv6"),
	ENTRY("ipv6-route", 43, "IPv6-Route"),
	ENTRY("ipv6-frag", 44, "IPv6-Frag"),
	ENTRY("esp", 50, "IPSEC-ESP"),
	ENTRY("ah", 51, "IPSEC-AH"),
	ENTRY("ipv6-icmp", 58, "IPv6-ICMP"),
	ENTRY("ipv6-nonxt", 59, "IPv6-NoNxt"),
	ENTRY("ipv6-opts", 60, "IPv6-Opts"),
	ENTRY("ipcomp", 108, "IPCOMP"),
#endif
};
static const size_t entries = sizeof(table) / sizeof(table[0]);

struct protoent *fixed_protocol_by_name(const char *name)
{
	for (size_t i = 0; i < entries; ++i)
		if (!strcmp(table[i].p_name, name) || !strcmp(table[i].p_aliases[0], name))
			return &table[i];
	return 0;
}

struct protoent *fixed_protocol_by_number(int number)
{
	for (size_t i = 0; i < entries; ++i)
		if (table[i].p_proto == number)
			return &table[i];
	return 0;
}
