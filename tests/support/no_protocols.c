// SPDX-License-Identifier: GPL-2.0-or-later
/* Test aid, preloaded into zunder: a protocol database with no entries, so
 * that the built-in names can be seen on any machine. */
#include <netdb.h>

struct protoent *getprotobyname(const char *name)
{
	(void)name;
	return 0;
}

struct protoent *getprotobynumber(int proto)
{
	(void)proto;
	return 0;
}

int getprotobyname_r(const char *name, struct protoent *out, char *buffer, size_t length,
		     struct protoent **result)
{
	(void)name, (void)out, (void)buffer, (void)length;
	*result = 0;
	return 0;
}

int getprotobynumber_r(int proto, struct protoent *out, char *buffer, size_t length, struct protoent **result)
{
	(void)proto, (void)out, (void)buffer, (void)length;
	*result = 0;
	return 0;
}
