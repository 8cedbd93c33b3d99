// SPDX-License-Identifier: GPL-2.0-or-later
/* The fixed protocol table; see protocol_table.h. */
#include "protocol_table.h"

#include <string.h>

#define ENTRY(name, number, ...)                                                                             \
	{                                                                                                    \
		(char *)name, (char *[]){__VA_ARGS__, 0}, number                                             \
	}

#ifdef ZUNDER_HOSTILE_PROTOCOL_NAMES
/* Names a database may hold that a shell, an interactive line editor or
 * the batch reader would act on, or that no saved line carries: for the
 * numbers the clauses save by name.  The names select their numbers. */
static struct protoent table[] = {
	ENTRY("ipv6-opts\x01", 60, (char *)"Opts"),     ENTRY("ipv6-route,x", 43, (char *)"Route"),
	ENTRY("ipv6-frag\xc3", 44, (char *)"Frag"),     ENTRY("e'sp!x", 50, (char *)"ESP"),
	ENTRY("ah;touch${IFS}ran;:", 51, (char *)"AH"), ENTRY("*", 59, (char *)"NoNxt"),
	ENTRY("ipc\xc3mp", 108, (char *)"IPComp"),
};
#else
static struct protoent table[] = {
	ENTRY("ip", 0, (char *)"IP"),
	ENTRY("hopopt", 0, (char *)"HOPOPT"),
	ENTRY("icmp", 1, (char *)"ICMP"),
	ENTRY("tcp", 6, (char *)"TCP"),
	ENTRY("udp", 17, (char *)"UDP"),
	ENTRY("ipv6", 41, (char *)"IPv6"),
	ENTRY("ipv6-route", 43, (char *)"IPv6-Route"),
	ENTRY("ipv6-frag", 44, (char *)"IPv6-Frag"),
	ENTRY("esp", 50, (char *)"IPSEC-ESP"),
	ENTRY("ah", 51, (char *)"IPSEC-AH"),
	ENTRY("ipv6-icmp", 58, (char *)"IPv6-ICMP"),
	ENTRY("ipv6-nonxt", 59, (char *)"IPv6-NoNxt"),
	ENTRY("ipv6-opts", 60, (char *)"IPv6-Opts"),
	ENTRY("ipcomp", 108, (char *)"IPCOMP"),
};
#endif

struct protoent *fixed_protocol_by_name(const char *name)
{
	for (size_t i = 0; i < sizeof(table) / sizeof(table[0]); ++i) {
		if (strcmp(table[i].p_name, name) == 0)
			return &table[i];
		for (char **alias = table[i].p_aliases; *alias; ++alias)
			if (strcmp(*alias, name) == 0)
				return &table[i];
	}
	return 0;
}

struct protoent *fixed_protocol_by_number(int number)
{
	for (size_t i = 0; i < sizeof(table) / sizeof(table[0]); ++i)
		if (table[i].p_proto == number)
			return &table[i];
	return 0;
}
