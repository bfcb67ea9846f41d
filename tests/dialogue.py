"""The dialogue through pipes, byte for byte."""

import random
import subprocess
import unittest

from common import (CHOICES, DRIVEN, EDGES, EMULATOR, ENV, EXE, OUTSIDE, Piped,
                    ROUNDING, SINGLE, STREAM, SUBNORMAL, UNREAD, VERSION, WEB,
                    WINDOWS, WORKED, expect, native, plain, run, screen)


class Transcripts(Piped):
    def check(self, table, args=()):
        for typed, shown in table:
            with self.subTest(typed=typed, args=args):
                self.check_run(typed, shown, args)

    def test_worked_results(self):
        self.check(WORKED)

    def test_choices(self):
        self.check(CHOICES)

    def test_stream_reading(self):
        self.check(STREAM)

    def test_edges(self):
        self.check(EDGES)

    def test_single_precision(self):
        self.check(SINGLE)

    def test_input_rounding(self):
        self.check(ROUNDING)

    def test_subnormal(self):
        self.check(SUBNORMAL)

    def test_reads_that_convert_nothing(self):
        self.check(UNREAD)

    def test_arguments_ignored(self):
        for args in (["-h"], ["4", "--help"], ["--version=2"], [""]):
            self.check(WORKED[:2] + UNREAD[:1], args)


# What a first argument may ask instead of the dialogue: the version, or
# the usage (True); None, an argument ignored, as every other one is.
OPTIONS = [
    (["--version"], f"ohmrechner {VERSION}\n"),
    (["--version", "--help"], f"ohmrechner {VERSION}\n"),
    (["--help"], True),
    (["--help", "--version", "4"], True),
    (["/?"], True if WINDOWS else None),
    (["/h"], None),
    (["-version"], None),
]


class Options(Piped):
    def test_options(self):
        for args, said in OPTIONS:
            with self.subTest(args=args):
                if said is None:
                    self.check_run("2\n10\n3\n", WORKED[1][1], args)
                    continue
                # Said at once: no dialogue, no pause, whatever is typed.
                p = run("2\n10\n3\n", args)
                self.assertEqual((p.returncode, p.stderr), (0, b""))
                if said is not True:
                    self.assertEqual(p.stdout.decode(), said)
                    continue
                usage = p.stdout.decode("ascii")
                self.assertTrue(usage.startswith(
                    "Aufruf: ohmrechner [--help | --version]\n\n"), usage)
                manual = "LIESMICH.txt" if WINDOWS else "man ohmrechner"
                self.assertIn(manual, usage.splitlines()[-1])
                for option in ["--version"] + (["/?"] if WINDOWS else []):
                    self.assertIn(f"  {option}", usage)
                self.assertLessEqual(max(map(len, usage.splitlines())), 79)


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


class BadInput(Piped):
    def check(self, typed, shown=None, redirect=""):
        # Wine alone may take a good part of a second to start.
        self.check_run(typed, shown, redirect=redirect,
                       timeout=5 if EMULATOR else 1)

    def test_hostile_input(self):
        for typed, shown, *redirect in HOSTILE:
            with self.subTest(typed=typed[:24], redirect=redirect):
                self.check(typed, shown, *redirect)

    def test_random_bytes(self):
        rng = random.Random(20261208)
        for i in range(300):
            typed = rng.randbytes(rng.randrange(64))
            # Mostly digits, signs and separators, so that some reach the
            # operands; the rest any byte at all.
            if i % 2 == 0:
                typed = bytes(rng.choice(b"0123456789+-.eExX \n\t\0\xff")
                              for _ in typed)
            with self.subTest(typed=typed):
                self.check(typed)


# Where standard output goes, and why it then cannot be written.
LOST = [
    (">/dev/full", "No space left on device"),
    (">&-", "Bad file descriptor"),
]


class LostOutput(unittest.TestCase):
    def test_failure_reported(self):
        for redirect, reason in LOST:
            with self.subTest(redirect=redirect):
                if WEB and redirect == ">&-":
                    self.skipTest("Node.js puts /dev/null on a closed "
                                  "standard descriptor before any program "
                                  "of its own runs")
                for typed, args in (("2\n10\n3\n", ()), ("9\n", ()),
                                    ("", ()), ("", ("--version",))):
                    with self.subTest(typed=typed, args=args):
                        p = run(typed, args, redirect)
                        self.assertEqual(p.returncode, 1)
                        self.assertEqual(
                            plain(p.stderr).decode(),
                            f"ohmrechner: Schreibfehler: {reason}\n")


class Pipes(unittest.TestCase):
    def test_prompt_by_prompt(self):
        for steps, shown in DRIVEN:
            with self.subTest(steps[0][1]):
                p = subprocess.Popen(EMULATOR + [EXE], stdin=subprocess.PIPE,
                                     stdout=subprocess.PIPE, env=ENV)
                seen = b""
                for prompt, answer in steps:
                    seen += expect(p.stdout.fileno(), native(prompt))
                    p.stdin.write(answer)
                    p.stdin.flush()
                p.stdin.close()
                seen += p.stdout.read()
                self.assertEqual(p.wait(30), 0)
                self.assertEqual(plain(seen), screen(shown))
