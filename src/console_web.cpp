#include <cstdio>

#include "console.h"

/* The host's: a key or a tap in the page, nothing under Node.js. */
extern "C" void ohm_key();

/* The page decodes the program's bytes as Windows-1252. */
void
conputs(const char *s)
{
	std::puts(s);
}

void
conpause()
{
	(void)std::fputs(pauseprompt, stdout);
	(void)std::fflush(stdout);
	ohm_key();
	std::putchar('\n');
}
