/*
 * Preloaded into Wine's 32-bit processes where they run under qemu-user,
 * on a kernel that runs no 32-bit x86 code itself.  Wine reserves its
 * address space with MAP_FIXED_NOREPLACE, which must fail where the range
 * is taken; qemu-user 7.2 takes the flag as a mere hint and maps the
 * range elsewhere, so that Wine's reservations come to cover the page its
 * shared user data needs, and Wine gives up.  A mapping that did not land
 * where it was asked for fails here with EEXIST, as on the kernel.
 * Test machinery only: nothing that a user runs loads it.
 */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <stddef.h>
#include <sys/mman.h>
#include <sys/types.h>

static void *
kept(void *got, void *want, size_t len, int flags)
{
	if (got == MAP_FAILED || got == want || (flags & MAP_FIXED) ||
	    !(flags & MAP_FIXED_NOREPLACE))
		return got;
	munmap(got, len);
	errno = EEXIST;
	return MAP_FAILED;
}

void *
mmap(void *want, size_t len, int prot, int flags, int fd, off_t off)
{
	static void *(*next)(void *, size_t, int, int, int, off_t);

	if (next == NULL)
		*(void **)&next = dlsym(RTLD_NEXT, "mmap");
	return kept(next(want, len, prot, flags, fd, off), want, len, flags);
}

void *
mmap64(void *want, size_t len, int prot, int flags, int fd, off64_t off)
{
	static void *(*next)(void *, size_t, int, int, int, off64_t);

	if (next == NULL)
		*(void **)&next = dlsym(RTLD_NEXT, "mmap64");
	return kept(next(want, len, prot, flags, fd, off), want, len, flags);
}
