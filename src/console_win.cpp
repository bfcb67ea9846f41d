#include <cerrno>
#include <cstdio>
#include <cstdlib>

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include "console.h"

void
conputs(const char *s)
{
	HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
	wchar_t w[64];
	DWORD mode, n, done;

	/*
	 * A console shows bytes in its code page, 850 in Germany, so the
	 * console gets UTF-16.  Changing the code page would outlive us.
	 */
	if (!GetConsoleMode(out, &mode)) {
		std::puts(s);
		return;
	}
	(void)std::fflush(stdout);
	do {
		/* Windows-1252 past 0x9f is Unicode's first page. */
		for (n = 0; *s != '\0' && n < sizeof w / sizeof *w; n++)
			w[n] = static_cast<unsigned char>(*s++);
		WriteConsoleW(out, w, n, &done, nullptr);
	} while (*s != '\0');
	WriteConsoleW(out, L"\n", 1, &done, nullptr);
}

void
conpause()
{
	(void)std::fflush(stdout);
	/* Keep a failed flush's reason for the report on lost output. */
	int e = errno;
	/* The pause is the command interpreter's own, prompt and all. */
	(void)std::system("Pause"); // NOLINT(cert-env33-c)
	errno = e;
}
