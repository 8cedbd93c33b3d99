/* SPDX-License-Identifier: GPL-2.0-or-later */
/*
 * A host library written from <zunder.h> alone, as another platform might:
 * soname libzunder.so.10, with whatever symbol versions its build gives.  It
 * keeps what plug-ins register, for the test to read, and checks nothing.
 */
#include "minimal_host.h"

#include <arpa/inet.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>

static struct minimal_host_record kept[MINIMAL_HOST_MAX_RECORDS];
static unsigned int kept_count;

static void keep(const char *version, const char *name, uint16_t family)
{
	if (kept_count == MINIMAL_HOST_MAX_RECORDS)
		return;
	kept[kept_count].version = version;
	kept[kept_count].name = name;
	kept[kept_count].family = family;
	++kept_count;
}

const struct minimal_host_record *minimal_host_records(unsigned int *count)
{
	*count = kept_count;
	return kept;
}

__attribute__((noreturn, format(printf, 2, 3))) static void exit_error(int status, const char *format, ...)
{
	va_list args;
	va_start(args, format);
	vfprintf(stderr, format, args);
	va_end(args);
	fputc('\n', stderr);
	exit(status);
}

static struct zu_params params = {"minimal-host", exit_error};
struct zu_params *zu_params = &params;

void zunder_register_match(struct zunder_match *record)
{
	keep(record->version, record->name, record->family);
}

void zunder_register_matches(struct zunder_match *records, unsigned int count)
{
	for (unsigned int i = 0; i < count; ++i)
		zunder_register_match(&records[i]);
}

void zunder_register_target(struct zunder_target *record)
{
	keep(record->version, record->name, record->family);
}

void zunder_register_targets(struct zunder_target *records, unsigned int count)
{
	for (unsigned int i = 0; i < count; ++i)
		zunder_register_target(&records[i]);
}

void zunder_option_parse(struct zu_option_call *call)
{
	call->value_count = 0;
}

static char address_text[INET6_ADDRSTRLEN];

const char *zunder_ipaddr_to_numeric(const struct in_addr *addr)
{
	return inet_ntop(AF_INET, addr, address_text, sizeof(address_text));
}

const char *zunder_ipmask_to_numeric(const struct in_addr *mask)
{
	return inet_ntop(AF_INET, mask, address_text, sizeof(address_text));
}

const char *zunder_ip6addr_to_numeric(const struct in6_addr *addr)
{
	return inet_ntop(AF_INET6, addr, address_text, sizeof(address_text));
}

const char *zunder_ip6mask_to_numeric(const struct in6_addr *mask)
{
	return inet_ntop(AF_INET6, mask, address_text, sizeof(address_text));
}
