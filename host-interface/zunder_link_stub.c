/* SPDX-License-Identifier: GPL-2.0-or-later */
/*
 * libzunder.so.10 for linking plug-ins only, never loaded.
 *
 * It defines exactly the functions and the one variable of <zunder.h>, with
 * no symbol versions, so a plug-in linked against it records a need for
 * libzunder.so.10 and for those names alone.  The host library that loads
 * the plug-in, whichever it is and however it versions its exports,
 * provides them at run time.  Linking with -z defs against this file alone
 * refuses a plug-in that calls anything else of the host.
 *
 * The definitions follow the declarations of <zunder.h>, so the compiler
 * refuses a stub that drifts from the contract.
 */
#include <zunder.h>

struct zu_params *zu_params;

void zunder_register_match(struct zunder_match *record)
{
	(void)record;
}

void zunder_register_matches(struct zunder_match *records, unsigned int count)
{
	(void)records;
	(void)count;
}

void zunder_register_target(struct zunder_target *record)
{
	(void)record;
}

void zunder_register_targets(struct zunder_target *records, unsigned int count)
{
	(void)records;
	(void)count;
}

void zunder_option_parse(struct zu_option_call *call)
{
	(void)call;
}

const char *zunder_ipaddr_to_numeric(const struct in_addr *addr)
{
	(void)addr;
	return "";
}

const char *zunder_ipmask_to_numeric(const struct in_addr *mask)
{
	(void)mask;
	return "";
}

const char *zunder_ip6addr_to_numeric(const struct in6_addr *addr)
{
	(void)addr;
	return "";
}

const char *zunder_ip6mask_to_numeric(const struct in6_addr *mask)
{
	(void)mask;
	return "";
}
