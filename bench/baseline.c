/* The same dialogue as plain C stdio calls: the yardstick for one run. */
#include <stdio.h>

int
main(void)
{
	int operation = 0;
	float zahl1 = 0, zahl2 = 0;

	puts("Elektro-Rechner: Spannung, Widerstand, Strom, Leistung");
	puts("W\xe4hle die Operation die du ausf\xfchren willst.\n");
	puts("1 = Spannung berechnen (U = R * I)");
	puts("2 = Widerstand berechnen (R = U / I)");
	puts("3 = Strom berechnen (I = U / R)");
	puts("4 = Leistung berechnen (P = U * I)");
	fflush(stdout);
	scanf("%i", &operation);
	putchar('\n');
	fputs("U = ", stdout);
	fflush(stdout);
	scanf("%f", &zahl1);
	fputs("I = ", stdout);
	fflush(stdout);
	scanf("%f", &zahl2);
	putchar('\n');
	printf("%s%f%s\n", "R = ", (double)(zahl1 / zahl2), " Ohm");
	putchar('\n');
	fputs("Weiter mit beliebiger Taste . . .", stdout);
	fflush(stdout);
	putchar('\n');
	return 0;
}
