// SPDX-License-Identifier: GPL-2.0-or-later
// The counting malloc and protocol look-ups (see counters.h).
#include "counters.h"

#include <dlfcn.h>
#include <malloc.h>
#include <netdb.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iterator>

extern "C" {
void *__libc_malloc(size_t);
void *__libc_calloc(size_t, size_t);
void *__libc_realloc(void *, size_t);
void *__libc_memalign(size_t, size_t);
void __libc_free(void *);
}

namespace bench {
unsigned long db_calls = 0;
bool db_cached = false;
} // namespace bench

using bench::db_cached;
using bench::db_calls;

namespace {

unsigned long heap_calls = 0; // allocations (malloc, calloc, realloc, aligned)
long live_bytes = 0;          // usable bytes allocated and not yet freed

inline void count_allocation(void *p)
{
	if (p != nullptr) {
		__atomic_add_fetch(&heap_calls, 1, __ATOMIC_RELAXED);
		__atomic_add_fetch(&live_bytes, static_cast<long>(malloc_usable_size(p)), __ATOMIC_RELAXED);
	}
}

inline void count_release(void *p)
{
	if (p != nullptr)
		__atomic_sub_fetch(&live_bytes, static_cast<long>(malloc_usable_size(p)), __ATOMIC_RELAXED);
}

} // namespace

extern "C" {

void *malloc(size_t size)
{
	void *p = __libc_malloc(size);
	count_allocation(p);
	return p;
}

void *calloc(size_t count, size_t size)
{
	void *p = __libc_calloc(count, size);
	count_allocation(p);
	return p;
}

void *realloc(void *old, size_t size)
{
	count_release(old);
	void *p = __libc_realloc(old, size);
	if (p == nullptr && old != nullptr && size != 0)
		count_allocation(old); // failed: the old block is still there
	else
		count_allocation(p);
	return p;
}

void free(void *p)
{
	count_release(p);
	__libc_free(p);
}

void *memalign(size_t alignment, size_t size)
{
	void *p = __libc_memalign(alignment, size);
	count_allocation(p);
	return p;
}

void *aligned_alloc(size_t alignment, size_t size)
{
	return memalign(alignment, size);
}

int posix_memalign(void **out, size_t alignment, size_t size)
{
	void *p = memalign(alignment, size);
	if (p == nullptr)
		return ENOMEM;
	*out = p;
	return 0;
}

void *valloc(size_t size)
{
	return memalign(static_cast<size_t>(sysconf(_SC_PAGESIZE)), size);
}

} // extern "C"

namespace {

using byname_fn = protoent *(*)(const char *);
using bynumber_fn = protoent *(*)(int);
byname_fn real_getprotobyname = nullptr;
bynumber_fn real_getprotobynumber = nullptr;

// Answers remembered from the database, for the "db cached" runs: by name
// in a short list, by number in a table.  Fixed storage, so that answering
// allocates nothing and costs a few string compares at most.
struct remembered {
	bool known; // asked once already
	bool found;
	char name[32];
	protoent entry;
};
remembered by_name[16];
char asked_names[16][32];
unsigned name_count = 0;
remembered by_number[256];
char *no_aliases[] = {nullptr};

protoent *remember(remembered &r, protoent *e)
{
	r.known = true;
	r.found = e != nullptr;
	if (e != nullptr) {
		std::snprintf(r.name, sizeof(r.name), "%s", e->p_name);
		r.entry.p_name = r.name;
		r.entry.p_aliases = no_aliases;
		r.entry.p_proto = e->p_proto;
	}
	return e;
}

} // namespace

extern "C" {

struct protoent *getprotobyname(const char *name)
{
	++db_calls;
	if (!db_cached)
		return real_getprotobyname(name);
	for (unsigned i = 0; i < name_count; ++i)
		if (std::strcmp(asked_names[i], name) == 0)
			return by_name[i].found ? &by_name[i].entry : nullptr;
	protoent *e = real_getprotobyname(name);
	if (name_count < std::size(by_name) && std::strlen(name) < sizeof(asked_names[0])) {
		std::strcpy(asked_names[name_count], name);
		remember(by_name[name_count++], e);
	}
	return e;
}

struct protoent *getprotobynumber(int number)
{
	++db_calls;
	if (!db_cached || number < 0 || number > 255)
		return real_getprotobynumber(number);
	remembered &r = by_number[number];
	if (r.known)
		return r.found ? &r.entry : nullptr;
	return remember(r, real_getprotobynumber(number));
}

} // extern "C"

namespace bench {

bool find_real_protocol_lookups()
{
	real_getprotobyname = reinterpret_cast<byname_fn>(dlsym(RTLD_NEXT, "getprotobyname"));
	real_getprotobynumber = reinterpret_cast<bynumber_fn>(dlsym(RTLD_NEXT, "getprotobynumber"));
	return real_getprotobyname != nullptr && real_getprotobynumber != nullptr;
}

void counting::start()
{
	heap_ = heap_calls;
	live_ = live_bytes;
	db_ = db_calls;
}

void counting::stop()
{
	const double n = static_cast<double>(state_.iterations());
	if (n == 0)
		return;
	state_.counters["allocs"] = static_cast<double>(heap_calls - heap_) / n;
	state_.counters["leak_B"] = static_cast<double>(live_bytes - live_) / n;
	state_.counters["db"] = static_cast<double>(db_calls - db_) / n;
}

} // namespace bench
