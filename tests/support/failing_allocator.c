// SPDX-License-Identifier: GPL-2.0-or-later
/* Preloaded into zunder: with ZUNDER_TEST_ALLOCATIONS=N, the first N
 * allocations after main starts succeed and every later one fails, as when
 * memory runs out part-way.  The loader's allocations before main are not
 * counted.  plugin_alloc_test links it in to count allocations. */
#ifndef _GNU_SOURCE
#define _GNU_SOURCE
#endif
#include <dlfcn.h>
#include <errno.h>
#include <stdlib.h>

void *__libc_malloc(size_t size);
void *__libc_calloc(size_t count, size_t size);
void *__libc_realloc(void *old, size_t size);
void *__libc_memalign(size_t alignment, size_t size);
void __libc_free(void *memory);

int zunder_test_counting;         /* counting, and failing past the budget */
unsigned long zunder_test_budget; /* allocations left */

static int fails(void)
{
	if (zunder_test_counting && zunder_test_budget == 0) {
		errno = ENOMEM;
		return 1;
	}
	zunder_test_budget -= zunder_test_counting;
	return 0;
}

void *malloc(size_t size)
{
	return fails() ? 0 : __libc_malloc(size);
}

void *calloc(size_t count, size_t size)
{
	return fails() ? 0 : __libc_calloc(count, size);
}

void *realloc(void *old, size_t size)
{
	return fails() ? 0 : __libc_realloc(old, size);
}

void free(void *memory)
{
	__libc_free(memory);
}

void *memalign(size_t alignment, size_t size)
{
	return fails() ? 0 : __libc_memalign(alignment, size);
}

void *aligned_alloc(size_t alignment, size_t size)
{
	return memalign(alignment, size);
}

int posix_memalign(void **out, size_t alignment, size_t size)
{
	void *memory = memalign(alignment, size);
	if (!memory)
		return ENOMEM;
	*out = memory;
	return 0;
}

typedef int (*main_fn)(int, char **, char **);
static main_fn real_main;

static int counted_main(int argc, char **argv, char **envp)
{
	const char *limit = getenv("ZUNDER_TEST_ALLOCATIONS");
	if (limit && *limit) {
		zunder_test_budget = strtoul(limit, 0, 10);
		zunder_test_counting = 1;
	}
	return real_main(argc, argv, envp);
}

/* The C library's start-up calls main through here. */
int __libc_start_main(main_fn main, int argc, char **argv, void (*init)(void), void (*fini)(void),
		      void (*rtld_fini)(void), void *stack_end)
{
	int (*start)(main_fn, int, char **, void (*)(void), void (*)(void), void (*)(void), void *) =
		dlsym(RTLD_NEXT, "__libc_start_main");
	real_main = main;
	return start(counted_main, argc, argv, init, fini, rtld_fini, stack_end);
}
