#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "console.h"

/*
 * Checked libc wants scanf's count used.  Each read is left unexamined on
 * purpose: a variable's initial value says what an unread number means.
 */
#ifdef __GNUC__
#pragma GCC diagnostic ignored "-Wunused-result"
#endif

struct Row {
	const char *menu;
	const char *first;
	const char *second;
	char op;
	const char *label;
	const char *unit;
};

// clang-format off
constexpr Row rows[] = {
	{ "1 = Spannung berechnen (U = R * I)",   "R = ", "I = ", '*', "U = ", " Volt" },
	{ "2 = Widerstand berechnen (R = U / I)", "U = ", "I = ", '/', "R = ", " Ohm" },
	{ "3 = Strom berechnen (I = U / R)",      "U = ", "R = ", '/', "I = ", " Ampere" },
	{ "4 = Leistung berechnen (P = U * I)",   "U = ", "I = ", '*', "P = ", " Watt" },
};
// clang-format on
constexpr int nrows = sizeof rows / sizeof *rows;

#ifdef _WIN32
#define HELP "  /?, --help  zeigt diese Hilfe\n"
#define MANUAL "LIESMICH.txt"
#else
#define HELP "  --help      zeigt diese Hilfe\n"
#define MANUAL "man ohmrechner"
#endif

/*
 * A first command with a new tool asks these.  Only the first argument
 * counts, and any other is ignored, as callers may pass some.
 */
constexpr char usage[] =
    "Aufruf: ohmrechner [--help | --version]\n"
    "\n"
    "Ohne Argumente fragt ohmrechner nach einer Rechnung (Spannung,\n"
    "Widerstand, Strom oder Leistung) und zwei Werten, zeigt das Ergebnis\n"
    "mit seiner Einheit und wartet dann auf eine Taste.\n"
    "\n" HELP "  --version   zeigt die Version\n"
    "\n"
    "Anleitung: " MANUAL "\n";

struct Option {
	const char *name;
	const char *text;
};

constexpr Option options[] = {
	{ "--help", usage },
	{ "--version", "ohmrechner " OHMRECHNER_VERSION "\n" },
#ifdef _WIN32
	{ "/?", usage },
#endif
};

static long long choose();
static float ask(const char *prompt);
static int finish();

int
main(int argc, char *argv[])
{
	for (const Option &o : options) {
		if (argc > 1 && std::strcmp(argv[1], o.name) == 0) {
			(void)std::fputs(o.text, stdout);
			return finish();
		}
	}
	std::puts("Elektro-Rechner: Spannung, Widerstand, Strom, Leistung");
	conputs("W\xe4hle die Operation die du ausf\xfchren willst.\n");
	for (const Row &r : rows)
		std::puts(r.menu);
	long long operation = choose();
	std::putchar('\n');
	if (operation >= 1 && operation <= nrows) {
		const Row &r = rows[operation - 1];
		float zahl1 = ask(r.first);
		float zahl2 = ask(r.second);
		std::putchar('\n');
		float ergebnis = r.op == '*' ? zahl1 * zahl2 : zahl1 / zahl2;
		std::printf(
		    "%s%f%s\n", r.label, static_cast<double>(ergebnis), r.unit);
	}
	std::putchar('\n');
	conpause();
	return finish();
}

/*
 * Outside the table for a choice that reads as no number at all, and so
 * wide that no typed number wraps into it.  Past its range glibc and
 * MinGW saturate, but musl takes a number modulo 2^64, so that
 * -18446744073709551615 would read as 1: the sign must survive.
 */
static long long
choose()
{
	long long n = 0;
	int sign;

	(void)std::fflush(stdout);
	(void)std::scanf(" ");
	sign = std::getchar();
	(void)std::ungetc(sign, stdin);
	(void)std::scanf("%lli", &n);
	return sign == '-' && n > 0 ? 0 : n;
}

/* The prompt must be on screen, even through a pipe, before we wait. */
static float
ask(const char *prompt)
{
	float f = NAN;

	(void)std::fputs(prompt, stdout);
	(void)std::fflush(stdout);
	(void)std::scanf("%f", &f);
	return f;
}

/* Output lost to a full disk or a closed descriptor is a failure. */
static int
finish()
{
	if (std::fflush(stdout) != EOF && !std::ferror(stdout))
		return 0;
	if (errno != 0)
		std::perror("ohmrechner: Schreibfehler");
	else
		(void)std::fputs("ohmrechner: Schreibfehler\n", stderr);
	return 1;
}
