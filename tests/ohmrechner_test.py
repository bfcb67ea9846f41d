"""The built ohmrechner as its users meet it: through pipes, byte for byte,
and at a terminal.  OHMRECHNER names the binary."""

import fcntl
import os
import select
import signal
import subprocess
import sys
import tempfile
import termios
import time
import unittest

EXE = os.environ["OHMRECHNER"]
ENV = {"PATH": os.environ.get("PATH", "/usr/bin:/bin"), "LANG": "C.UTF-8"}

HEADING = "Wähle die Operation die du ausführen willst."
MENU = (b"Elektro-Rechner: Spannung, Widerstand, Strom, Leistung\n"
        + HEADING.encode("cp1252") + b"\n\n"
        b"1 = Spannung berechnen (U = R * I)\n"
        b"2 = Widerstand berechnen (R = U / I)\n"
        b"3 = Strom berechnen (I = U / R)\n"
        b"4 = Leistung berechnen (P = U * I)\n")
PAUSE = b"Weiter mit beliebiger Taste . . ."
OUTSIDE = ""


def screen(shown):
    """All a piped run writes; `shown` is what stands between the line
    break after the choice and the empty line before the pause."""
    return MENU + b"\n" + shown.encode() + b"\n" + PAUSE + b"\n"


def run(typed, args=()):
    return subprocess.run([EXE, *args], input=typed.encode(), env=ENV,
                          capture_output=True, timeout=10)


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

UNREAD = [
    ("", OUTSIDE),
    ("x\n", OUTSIDE),
    ("zwei\n10\n3\n", OUTSIDE),
    ("1", "R = I = \nU = nan Volt\n"),
    ("1\n2\n", "R = I = \nU = nan Volt\n"),
    ("3\nzehn\n2\n", "U = R = \nI = nan Ampere\n"),
    ("2\n-\n2\n", "U = I = \nR = nan Ohm\n"),
]


class Transcripts(unittest.TestCase):
    def check(self, table, args=()):
        for typed, shown in table:
            with self.subTest(typed=typed, args=args):
                p = run(typed, args)
                self.assertEqual(p.stdout, screen(shown))
                self.assertEqual(p.stderr, b"")
                self.assertEqual(p.returncode, 0)

    def test_worked_results(self):
        self.check(WORKED)

    def test_choices(self):
        self.check(CHOICES)

    def test_stream_reading(self):
        self.check(STREAM)

    def test_edges(self):
        self.check(EDGES)

    def test_reads_that_convert_nothing(self):
        self.check(UNREAD)

    def test_arguments_ignored(self):
        for args in (["--help"], ["4", "-x"], [""]):
            self.check(WORKED[:2] + UNREAD[:1], args)


# Each prompt the driver waits for, and its answer; then the rest.
DRIVEN = [
    ([(MENU, b"2\n"), (b"\nU = ", b"10\n"), (b"I = ", b"3\n")],
     "U = I = \nR = 3.333333 Ohm\n"),
    ([(MENU, b"2.5\n"), (b"\nU = I = ", b"3\n")],
     "U = I = \nR = 0.166667 Ohm\n"),
    ([(MENU, b"9\n")], OUTSIDE),
]


class Pipes(unittest.TestCase):
    def test_prompt_by_prompt(self):
        for steps, shown in DRIVEN:
            with self.subTest(steps[0][1]):
                p = subprocess.Popen([EXE], stdin=subprocess.PIPE,
                                     stdout=subprocess.PIPE, env=ENV)
                seen = b""
                for prompt, answer in steps:
                    seen += expect(p.stdout.fileno(), prompt)
                    p.stdin.write(answer)
                    p.stdin.flush()
                p.stdin.close()
                seen += p.stdout.read()
                self.assertEqual(p.wait(10), 0)
                self.assertEqual(seen, screen(shown))


def expect(fd, text, timeout=10):
    """Reads from fd until the output ends in text; fails on a timeout."""
    seen = b""
    deadline = time.monotonic() + timeout
    while not seen.endswith(text):
        left = deadline - time.monotonic()
        if left <= 0 or not select.select([fd], [], [], left)[0]:
            raise AssertionError(f"waited for {text!r}, saw {seen!r}")
        chunk = os.read(fd, 4096)
        if not chunk:
            raise AssertionError(f"EOF before {text!r}, saw {seen!r}")
        seen += chunk
    return seen


def until(ready, failure, timeout=10):
    deadline = time.monotonic() + timeout
    while not (result := ready()):
        if time.monotonic() > deadline:
            raise AssertionError(failure)
        time.sleep(0.01)
    return result


class Session:
    """The program on a pseudo-terminal of its own, as a user starts it."""

    def __init__(self, env):
        self.master, self.slave = os.openpty()
        self.before = termios.tcgetattr(self.slave)
        self.pid = os.fork()
        if self.pid == 0:
            try:
                os.close(self.master)
                os.login_tty(self.slave)
                os.execve(EXE, [EXE], env)
            finally:
                os._exit(127)

    def expect(self, text):
        return expect(self.master, text)

    def type(self, keys):
        os.write(self.master, keys)

    def pause(self, keys):
        """Types keys, then waits until the pause has taken the terminal."""
        self.type(keys)
        shown = self.expect(PAUSE)
        until(lambda: not termios.tcgetattr(self.slave)[3] & termios.ICANON,
              "the pause never took the terminal")
        return shown

    def quiet(self, seconds=0.5):
        return not select.select([self.master], [], [], seconds)[0]

    def end(self):
        """Exit code, what came after the prompt, input left behind for
        the shell, and the terminal's settings."""
        status = until(lambda: (w := os.waitpid(self.pid, os.WNOHANG))[0]
                       and w, "the program did not end")[1]
        rest = b""
        while select.select([self.master], [], [], 0)[0]:
            rest += os.read(self.master, 4096)
        after = termios.tcgetattr(self.slave)
        raw = list(after)
        raw[3] &= ~termios.ICANON
        termios.tcsetattr(self.slave, termios.TCSANOW, raw)
        left = fcntl.ioctl(self.slave, termios.FIONREAD, bytes(4))
        os.close(self.master)
        os.close(self.slave)
        return (os.waitstatus_to_exitcode(status), rest,
                int.from_bytes(left, sys.byteorder), after)


# How the wait at the pause ends, and how the program must then end.
ENDINGS = [
    ("a key", lambda s: s.type(b"k"), 0),
    ("an arrow key", lambda s: s.type(b"\x1b[A"), 0),
    ("Ctrl-Z", lambda s: s.type(b"\x1a"), 0),
    ("Ctrl-C", lambda s: s.type(b"\x03"), -signal.SIGINT),
    ("SIGTERM", lambda s: os.kill(s.pid, signal.SIGTERM), -signal.SIGTERM),
    ("SIGHUP", lambda s: os.kill(s.pid, signal.SIGHUP), -signal.SIGHUP),
]

# The terminal's character set, and how the heading must reach it.
CHARSETS = [
    ("de_DE.UTF-8", "UTF-8", "utf-8"),
    ("de_DE.ISO-8859-1", "ISO-8859-1", "cp1252"),
    ("de_DE.ISO-8859-15", "ISO-8859-15", "cp1252"),
    ("de_DE.CP1252", "CP1252", "cp1252"),
    ("C", None, "utf-8"),
    ("xx_YY.nonsense", None, "utf-8"),
]


class Terminal(unittest.TestCase):
    def test_session(self):
        s = Session(ENV)
        shown = s.expect(b"(P = U * I)\r\n")
        self.assertIn(HEADING.encode() + b"\r\n\r\n", shown)
        s.type(b"2\n")
        s.expect(b"2\r\n\r\nU = ")
        s.type(b"10\n")
        s.expect(b"10\r\nI = ")
        # Typed before the prompt: the pause must not take it as the key.
        shown = s.pause(b"3\nxyz")
        self.assertIn(b"\r\nR = 3.333333 Ohm\r\n\r\n" + PAUSE, shown)
        self.assertTrue(s.quiet(), "type-ahead ended the pause")
        s.type(b"k")
        self.assertEqual(s.end(), (0, b"\r\n", 0, s.before))

    def test_pause_endings(self):
        for name, act, exit in ENDINGS:
            with self.subTest(name):
                s = Session(ENV)
                s.expect(b"(P = U * I)\r\n")
                s.pause(b"0\n")
                act(s)
                code, rest, left, after = s.end()
                self.assertEqual(code, exit)
                self.assertEqual(after, s.before)
                if exit == 0:
                    self.assertEqual((rest, left), (b"\r\n", 0))

    def test_heading_charset(self):
        with tempfile.TemporaryDirectory() as locales:
            for lang, charmap, codec in CHARSETS:
                with self.subTest(lang):
                    if charmap:
                        subprocess.run(["localedef", "-i", "de_DE", "-f",
                                        charmap, f"{locales}/{lang}"],
                                       check=True, capture_output=True)
                    s = Session(dict(ENV, LANG=lang, LOCPATH=locales))
                    shown = s.expect(b"(P = U * I)\r\n")
                    self.assertIn(b"\r\n" + HEADING.encode(codec)
                                  + b"\r\n\r\n1 = ", shown)
                    # The locale must not turn the point into a comma.
                    self.assertIn(b"P = 5.000000 Watt\r\n\r\n" + PAUSE,
                                  s.pause(b"4\n2.5\n2\n"))
                    s.type(b" ")
                    self.assertEqual(s.end()[0], 0)


if __name__ == "__main__":
    unittest.main()
