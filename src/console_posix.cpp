#include <cerrno>
#include <clocale>
#include <csignal>
#include <cstdio>
#include <cstring>

#include <langinfo.h>
#include <termios.h>
#include <unistd.h>

#include "console.h"

static constexpr int signals[] = { SIGHUP, SIGINT, SIGQUIT, SIGTERM };
static constexpr size_t nsig = sizeof signals / sizeof *signals;
static struct termios saved;

static bool latin();
static void leave(int sig);

void
conputs(const char *s)
{
	struct termios t;

	/* tcgetattr, not isatty: each libc name costs a lookup at start-up. */
	if (tcgetattr(STDOUT_FILENO, &t) == -1 || latin()) {
		std::puts(s);
		return;
	}
	for (; *s != '\0'; s++) {
		int c = static_cast<unsigned char>(*s);
		/* Past 0x9f, Windows-1252 agrees with Unicode. */
		if (c < 0x80) {
			std::putchar(c);
		} else {
			std::putchar(0xc0 | c >> 6);
			std::putchar(0x80 | (c & 0x3f));
		}
	}
	std::putchar('\n');
}

void
conpause()
{
	struct sigaction sa = {}, old[nsig];
	struct termios raw;
	char c;

	(void)std::fputs(pauseprompt, stdout);
	(void)std::fflush(stdout);
	if (tcgetattr(STDIN_FILENO, &saved) == -1) {
		std::putchar('\n');
		return;
	}

	/* Whoever ends us at the pause gets the terminal back as it was. */
	sa.sa_handler = leave;
	sa.sa_flags = static_cast<int>(SA_RESETHAND);
	for (size_t i = 0; i < nsig; i++) {
		sigaction(signals[i], nullptr, &old[i]);
		if (old[i].sa_handler != SIG_IGN)
			sigaction(signals[i], &sa, nullptr);
	}

	/*
	 * Ctrl-Z is just a key here: stopped at the pause, we would leave
	 * the terminal raw.  TCSAFLUSH drops the type-ahead, so only a key
	 * pressed after the prompt counts.
	 */
	raw = saved;
	raw.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO));
	raw.c_cc[VMIN] = 1;
	raw.c_cc[VTIME] = 0;
	raw.c_cc[VSUSP] = _POSIX_VDISABLE;
	tcsetattr(STDIN_FILENO, TCSAFLUSH, &raw);
	while (read(STDIN_FILENO, &c, 1) == -1 && errno == EINTR)
		;

	/* Flushing again drops the rest of a key that sends several bytes. */
	tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
	for (size_t i = 0; i < nsig; i++)
		sigaction(signals[i], &old[i], nullptr);
	std::putchar('\n');
}

/* Terminals in these character sets show the text's own bytes. */
static bool
latin()
{
	static const char *const sets[] = { "ISO-8859-1", "ISO-8859-15",
		"CP1252" };
	bool same = false;

	/* Only LC_CTYPE, and only for this: numbers keep the point. */
	(void)std::setlocale(LC_CTYPE, "");
	for (const char *cs : sets)
		same = same || std::strcmp(nl_langinfo(CODESET), cs) == 0;
	(void)std::setlocale(LC_CTYPE, "C");
	return same;
}

static void
leave(int sig)
{
	tcsetattr(STDIN_FILENO, TCSANOW, &saved);
	(void)std::raise(sig);
}
