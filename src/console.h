#ifndef CONSOLE_H
#define CONSOLE_H

/* Like puts, for Windows-1252 text, shown in the console's character set. */
void conputs(const char *s);

/* What a pause of our own says; Windows' command interpreter has its own. */
constexpr char pauseprompt[] = "Weiter mit beliebiger Taste . . .";

/* Keeps the console open until the user acknowledges. */
void conpause();

#endif
