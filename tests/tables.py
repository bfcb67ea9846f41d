"""What a user types and what the program then shows: the dialogue's
texts, and the tables of cases that the groups share."""

HEADING = "Wähle die Operation die du ausführen willst."
MENU = (b"Elektro-Rechner: Spannung, Widerstand, Strom, Leistung\n"
        + HEADING.encode("cp1252") + b"\n\n"
        b"1 = Spannung berechnen (U = R * I)\n"
        b"2 = Widerstand berechnen (R = U / I)\n"
        b"3 = Strom berechnen (I = U / R)\n"
        b"4 = Leistung berechnen (P = U * I)\n")
PAUSE = b"Weiter mit beliebiger Taste . . ."
OUTSIDE = ""


# What the user types, and what the program then shows.  Through a pipe
# nothing echoes the answers, so the prompts stand side by side.
WORKED = [
    ("1\n10\n2\n", "R = I = \nU = 20.000000 Volt\n"),
    ("2\n10\n3\n", "U = I = \nR = 3.333333 Ohm\n"),
    ("3\n1\n3\n", "U = R = \nI = 0.333333 Ampere\n"),
    ("4\n230\n0.5\n", "U = I = \nP = 115.000000 Watt\n"),
    ("1\n4097\n4097\n", "R = I = \nU = 16785408.000000 Volt\n"),
    ("3\n-12\n4\n", "U = R = \nI = -3.000000 Ampere\n"),
]

CHOICES = [
    ("0\n", OUTSIDE),
    ("5\n", OUTSIDE),
    ("-1\n", OUTSIDE),
    ("0x3\n1\n4\n", "U = R = \nI = 0.250000 Ampere\n"),
    ("0X4\n2\n3\n", "U = I = \nP = 6.000000 Watt\n"),
    ("03\n1\n4\n", "U = R = \nI = 0.250000 Ampere\n"),
    ("010\n1\n4\n", OUTSIDE),
    ("+2\n1\n4\n", "U = I = \nR = 0.250000 Ohm\n"),
    ("  \n\n 1\n2\n3\n", "R = I = \nU = 6.000000 Volt\n"),
]

STREAM = [
    ("2.5\n3\n", "U = I = \nR = 0.166667 Ohm\n"),
    ("1 2 3\n", "R = I = \nU = 6.000000 Volt\n"),
    ("1\n2,5\n", "R = I = \nU = nan Volt\n"),
    ("4\n\n 2.5e2\n\n4E-1\n", "U = I = \nP = 100.000000 Watt\n"),
    ("1\n-.5\n+8.\n", "R = I = \nU = -4.000000 Volt\n"),
]

EDGES = [
    ("2\n10\n0\n", "U = I = \nR = inf Ohm\n"),
    ("3\n-12\n0\n", "U = R = \nI = -inf Ampere\n"),
    ("3\n12\n-0\n", "U = R = \nI = -inf Ampere\n"),
    ("2\n0\n0\n", "U = I = \nR = -nan Ohm\n"),
    ("1\n1e30\n1e30\n", "R = I = \nU = inf Volt\n"),
    ("4\n-3e38\n10\n", "U = I = \nP = -inf Watt\n"),
    ("4\n1e39\n1\n", "U = I = \nP = inf Watt\n"),
    ("4\n1e-30\n1e-30\n", "U = I = \nP = 0.000000 Watt\n"),
    ("1\n-0\n5\n", "R = I = \nU = -0.000000 Volt\n"),
    ("1\n16777217\n1\n", "R = I = \nU = 16777216.000000 Volt\n"),
    ("1\n0.1\n3\n", "R = I = \nU = 0.300000 Volt\n"),
    ("2\n1\n3e6\n", "U = I = \nR = 0.000000 Ohm\n"),
    ("4\n3.4028235e38\n1\n", "U = I = \nP = "
     "340282346638528859811704183484516925440.000000 Watt\n"),
]

# Rounded once to single precision; evaluated in x87 extended precision,
# each of these would change in the sixth decimal or before.
SINGLE = [
    ("1\n123.456\n7.89\n", "R = I = \nU = 974.067810 Volt\n"),
    ("2\n1000\n3\n", "U = I = \nR = 333.333344 Ohm\n"),
    ("3\n230\n0.3\n", "U = R = \nI = 766.666626 Ampere\n"),
    ("4\n230\n0.7\n", "U = I = \nP = 161.000000 Watt\n"),
]

# Where floats are 1 apart: a decimal at a midpoint goes to the even
# neighbour, one a hair past it to the nearer.  Read via double, the
# hair is lost and the midpoint rounds again, to the even one.
ROUNDING = [
    ("1\n8388608.5\n1\n", "R = I = \nU = 8388608.000000 Volt\n"),
    ("1\n8388609.5\n1\n", "R = I = \nU = 8388610.000000 Volt\n"),
    ("1\n8388608.5000000001\n1\n", "R = I = \nU = 8388609.000000 Volt\n"),
    ("1\n8388609.4999999999\n1\n", "R = I = \nU = 8388609.000000 Volt\n"),
]

# Below the normal range, numbers keep their value; a processor mode
# that flushes them to zero would show nan or 0.000000.
SUBNORMAL = [
    ("2\n1e-40\n1e-39\n", "U = I = \nR = 0.099999 Ohm\n"),
    ("4\n1e-40\n1e38\n", "U = I = \nP = 0.010000 Watt\n"),
]

UNREAD = [
    ("", OUTSIDE),
    ("x\n", OUTSIDE),
    ("zwei\n10\n3\n", OUTSIDE),
    ("1", "R = I = \nU = nan Volt\n"),
    ("1\n2\n", "R = I = \nU = nan Volt\n"),
    ("3\nzehn\n2\n", "U = R = \nI = nan Ampere\n"),
    ("2\n-\n2\n", "U = I = \nR = nan Ohm\n"),
]


MiB = 1 << 20

# Input no user means to type, and standard inputs a shell may hand over
# (the third field).  Each must end by itself within a second.
HOSTILE = [
    (b"9" * 10 * MiB + b"\n", OUTSIDE),
    (b"-" + b"9" * 10 * MiB + b"\n", OUTSIDE),
    (b"1\n" + b"9" * 10 * MiB + b"\n2\n", "R = I = \nU = inf Volt\n"),
    (b"4\n0." + b"0" * 10 * MiB + b"1\n1\n",
     "U = I = \nP = 0.000000 Watt\n"),
    (b"2\n1" + b"0" * 10 * MiB + b"\n1e38\n", "U = I = \nR = inf Ohm\n"),
    (b" \t\n\r\v\f" * (2 * MiB), OUTSIDE),
    (b"3" + b" " * 10 * MiB + b"1 4\n", "U = R = \nI = 0.250000 Ampere\n"),
    (b"1 2 3" + b" x" * 5 * MiB, "R = I = \nU = 6.000000 Volt\n"),
    (b"\0" + b"1\n2\n3\n", OUTSIDE),
    (b"1\0\n2\n3\n", "R = I = \nU = nan Volt\n"),
    (b"1\n2\x005\n3\n", "R = I = \nU = nan Volt\n"),
    (b"1\n\0" * 1000, "R = I = \nU = nan Volt\n"),
    (b"\xff\xfe1\n2\n3\n", OUTSIDE),
    (b"4\n\xc3\x282\n3\n", "U = I = \nP = nan Watt\n"),
    (b"4\n2\xe2\x82\n3\n", "U = I = \nP = nan Watt\n"),
    (b"4\n1e99999999999999999999\n1\n", "U = I = \nP = inf Watt\n"),
    (b"4\n-1e+2147483648\n1\n", "U = I = \nP = -inf Watt\n"),
    (b"4\n1e-99999999999999999999\n1\n",
     "U = I = \nP = 0.000000 Watt\n"),
    (b"4\n1e" + b"9" * 10 * MiB + b"\n1\n", "U = I = \nP = inf Watt\n"),
    (b"4294967297\n2\n3\n", OUTSIDE),
    (b"-4294967295\n2\n3\n", OUTSIDE),
    (b"0x100000003\n2\n3\n", OUTSIDE),
    (b"18446744073709551617\n2\n3\n", OUTSIDE),
    (b"-18446744073709551615\n2\n3\n", OUTSIDE),
    (b"0x10000000000000001\n2\n3\n", OUTSIDE),
    (b"", OUTSIDE, "<&-"),
    (b"", OUTSIDE, "</"),
    (b"", OUTSIDE, "</dev/null"),
]

# Numbers cut short, where a runtime must give back what it took: what
# the random draws reach most, fixed, for a host where each run is a Wine
# start.  Whatever each computes, the dialogue ends well.
CUT = [b"0x\n1\n2\n", b"0X", b"-\n", b"+-1\n", b".\n", b"08\n1\n2\n",
       b"1\n1e\n2\n", b"1\n1e+\n2\n", b"1\n-.e5\n2\n", b"1\n+\n-\n",
       b"1\n\xff1\n2\n", b"0x\xff", b"4\n.e\0\n1\n"]

# Each prompt the driver waits for, and its answer; then the rest.
DRIVEN = [
    ([(MENU, b"2\n"), (b"\nU = ", b"10\n"), (b"I = ", b"3\n")],
     "U = I = \nR = 3.333333 Ohm\n"),
    ([(MENU, b"2.5\n"), (b"\nU = I = ", b"3\n")],
     "U = I = \nR = 0.166667 Ohm\n"),
    ([(MENU, b"9\n")], OUTSIDE),
    ([(MENU, b"1\n"), (b"\nR = ", b"10\n"), (b"I = ", b"2\n")],
     "R = I = \nU = 20.000000 Volt\n"),
    ([(MENU, b"3\n"), (b"\nU = ", b"1\n"), (b"R = ", b"3\n")],
     "U = R = \nI = 0.333333 Ampere\n"),
    ([(MENU, b"4\n"), (b"\nU = ", b"230\n"), (b"I = ", b"0.5\n")],
     "U = I = \nP = 115.000000 Watt\n"),
    ([(MENU, b"3\n"), (b"\nU = ", b"-1.5e1\n"), (b"R = ", b"+3\n")],
     "U = R = \nI = -5.000000 Ampere\n"),
    # Longer than the C library's buffer: read in pieces, the program
    # waiting in the middle of digits, a fraction and an exponent.
    ([(MENU, b"4\n"),
      (b"\nU = ", b"0" * 1100 + b"2.5e" + b"0" * 1100 + b"1\n"),
      (b"I = ", b"4\n")], "U = I = \nP = 100.000000 Watt\n"),
    ([(MENU, b"2\n"),
      (b"\nU = ", b"-." + b"0" * 1100 + b"5e+" + b"0" * 1100 + b"1101\n"),
      (b"I = ", b"2\n")], "U = I = \nR = -2.500000 Ohm\n"),
    ([(MENU, b"1 2 3\n")], "R = I = \nU = 6.000000 Volt\n"),
]
