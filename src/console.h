#ifndef CONSOLE_H
#define CONSOLE_H

/* Like puts, for Windows-1252 text, shown in the console's character set. */
void conputs(const char *s);

/* Keeps the console open until the user acknowledges. */
void conpause();

#endif
