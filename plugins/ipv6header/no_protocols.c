/* Test aid, preloaded into zunder: a protocol database with no entries, so
 * that the built-in header names can be seen on any machine. */
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
