/*
 * Says how this machine runs a 32-bit x86 program, by being one: the
 * kernel itself answers x86_64, qemu-user i686, and a kernel without
 * IA-32 emulation does not start it at all.
 */
#include <stdio.h>
#include <sys/utsname.h>

int
main(void)
{
	struct utsname u;

	if (uname(&u) == -1)
		return 1;
	return puts(u.machine) == EOF;
}
