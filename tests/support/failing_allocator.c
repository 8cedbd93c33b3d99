// SPDX-License-Identifier: GPL-2.0-or-later
/* Test aid, preloaded into zunder: with ZUNDER_TEST_ALLOCATIONS=N in the
 * environment, the first N allocations the program makes once its main has
 * started succeed and every one after them fails, as when memory runs out
 * part-way.  What the loader and the libraries allocate before main is not
 * counted.  The memory itself comes from the C library's allocator. */
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

static int counting;
static unsigned long left;

/* True when this allocation is one that must fail. */
static int fails(void)
{
	if (!counting)
		return 0;
	if (left == 0) {
		errno = ENOMEM;
		return 1;
	}
	--left;
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
	if (memory == 0)
		return ENOMEM;
	*out = memory;
	return 0;
}

typedef int (*main_fn)(int, char **, char **);
typedef int (*start_fn)(main_fn, int, char **, void (*)(void), void (*)(void), void (*)(void), void *);

static main_fn real_main;

static int counted_main(int argc, char **argv, char **envp)
{
	const char *limit = getenv("ZUNDER_TEST_ALLOCATIONS");
	if (limit != 0 && *limit != '\0') {
		left = strtoul(limit, 0, 10);
		counting = 1;
	}
	return real_main(argc, argv, envp);
}

/* The C library's start-up calls main through here, so that counting starts
 * with main. */
int __libc_start_main(main_fn main, int argc, char **argv, void (*init)(void), void (*fini)(void),
		      void (*rtld_fini)(void), void *stack_end)
{
	const start_fn start = (start_fn)dlsym(RTLD_NEXT, "__libc_start_main");
	real_main = main;
	return start(counted_main, argc, argv, init, fini, rtld_fini, stack_end);
}
