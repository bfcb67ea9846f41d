"""The dialogue through pipes, byte for byte."""

import os
import random
import signal
import subprocess
import unittest

from machinery.common import (EMULATOR, ENV, EXE, Piped, VERSION, WEB, WINDOWS,
                              expect, native, plain, run, screen)
from tables import (CHOICES, CUT, DRIVEN, EDGES, HOSTILE, ROUNDING, SINGLE,
                    STREAM, SUBNORMAL, UNREAD, WORKED)


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


class BadInput(Piped):
    def check(self, typed, shown=None, redirect=""):
        # Wine alone may take a good part of a second to start, and
        # several under qemu-user on a busy machine.
        self.check_run(typed, shown, redirect=redirect,
                       timeout=15 if EMULATOR else 1)

    def test_hostile_input(self):
        for typed, shown, *redirect in HOSTILE:
            with self.subTest(typed=typed[:24], redirect=redirect):
                self.check(typed, shown, *redirect)

    def test_cut_numbers(self):
        for typed in CUT:
            with self.subTest(typed=typed):
                self.check(typed)

    def test_random_bytes(self):
        if WINDOWS:
            self.skipTest("each draw would start Wine: CUT and HOSTILE take "
                          "the Windows runtime's reading, and every other "
                          "build the draws")
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

# Whoever read the output has gone before it is written: a Unix program
# ends by SIGPIPE, as every tool does; Node.js ignores the signal, and the
# page's host hands the program the broken pipe by name; the Windows
# runtime knows a pipe with no reader only as an invalid argument.
GONE = {"posix": (-signal.SIGPIPE, ""),
        "web": (1, "ohmrechner: Schreibfehler: Broken pipe\n"),
        "windows": (1, "ohmrechner: Schreibfehler: Invalid argument\n")}


class LostOutput(unittest.TestCase):
    def test_reader_gone(self):
        r, w = os.pipe()
        os.close(r)
        with open(w, "wb") as out:
            p = subprocess.run(EMULATOR + [EXE], input=b"2\n10\n3\n",
                               stdout=out, stderr=subprocess.PIPE, env=ENV,
                               timeout=60)
        host = "web" if WEB else "windows" if WINDOWS else "posix"
        self.assertEqual((p.returncode, plain(p.stderr).decode()), GONE[host])

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
