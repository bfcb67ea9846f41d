"""The program at a terminal, as a user starts it."""

import fcntl
import os
import pathlib
import re
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import termios
import unittest

from machinery.common import EMULATOR, ENV, EXE, Piped, alone, expect, until
from tables import CHOICES, EDGES, HEADING, PAUSE, UNREAD, WORKED


class Session:
    """The program on a pseudo-terminal of its own, as a user starts it."""

    def __init__(self, env, ignore=(), root=None):
        """ignore: signals ignored from the start, as under nohup; root:
        a folder that holds nothing but the binary, to run it from."""
        self.master, self.slave = os.openpty()
        self.before = termios.tcgetattr(self.slave)
        self.pid = os.fork()
        if self.pid == 0:
            try:
                os.close(self.master)
                os.login_tty(self.slave)
                # A terminal's shell starts it with every signal's default,
                # whatever this process inherited (nohup, a background
                # job); then ignores what the case asks.
                for sig in (signal.SIGINT, signal.SIGQUIT, signal.SIGHUP,
                            signal.SIGTERM, signal.SIGTSTP):
                    signal.signal(sig, signal.SIG_DFL)
                for sig in ignore:
                    signal.signal(sig, signal.SIG_IGN)
                if root:
                    alone(root, ["/" + pathlib.Path(EXE).name])()
                argv = EMULATOR + [EXE]
                os.execve(argv[0], argv, env)
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


def hangup_then_key(s):
    os.kill(s.pid, signal.SIGHUP)
    if not s.quiet():
        raise AssertionError("the ignored hangup ended the pause")
    s.type(b"k")


# How the wait at the pause ends, and how the program must then end;
# the signals ignored from the start.
ENDINGS = [
    ("a key", lambda s: s.type(b"k"), 0, ()),
    ("an arrow key", lambda s: s.type(b"\x1b[A"), 0, ()),
    ("Ctrl-Z", lambda s: s.type(b"\x1a"), 0, ()),
    ("Ctrl-C", lambda s: s.type(b"\x03"), -signal.SIGINT, ()),
    ("SIGTERM", lambda s: os.kill(s.pid, signal.SIGTERM), -signal.SIGTERM,
     ()),
    ("SIGHUP", lambda s: os.kill(s.pid, signal.SIGHUP), -signal.SIGHUP, ()),
    ("SIGHUP under nohup", hangup_then_key, 0, (signal.SIGHUP,)),
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
        for name, act, exit, ignore in ENDINGS:
            with self.subTest(name):
                s = Session(ENV, ignore)
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


class EmptyRoot(Piped):
    """The static binary alone in an otherwise empty root directory: no C
    library, no locales, no /dev, no /proc."""

    def setUp(self):
        if os.geteuid() != 0:
            self.skipTest("only root may change its root directory")
        self.root = tempfile.mkdtemp()
        self.addCleanup(shutil.rmtree, self.root)
        shutil.copy(EXE, self.root)

    def test_dialogue(self):
        for typed, shown in WORKED + CHOICES + EDGES + UNREAD:
            with self.subTest(typed=typed):
                self.check_run(typed, shown, root=self.root)

    def test_terminal_without_locales(self):
        # Latin-1 asked for, and no locale to say what that is: UTF-8.
        s = Session(dict(ENV, LANG="de_DE.ISO-8859-1"), root=self.root)
        self.assertIn(b"\r\n" + HEADING.encode() + b"\r\n",
                      s.expect(b"(P = U * I)\r\n"))
        s.pause(b"0\n")
        s.type(b"k")
        self.assertEqual(s.end(), (0, b"\r\n", 0, s.before))


def drawn(raw):
    """Wine draws its console with cursor moves; a step right is a space."""
    return re.sub(rb"\x1b\[[0-9;?]*[A-Za-z]", b"",
                  raw.replace(b"\x1b[1C", b" "))


class Console(unittest.TestCase):
    """The Windows build at a console: Wine's, on a terminal."""

    def test_heading(self):
        s = Session(dict(ENV, TERM="dumb"))
        try:
            shown = drawn(expect(s.master, b"(P = U * I)\r\r\n", view=drawn))
        finally:
            os.kill(s.pid, signal.SIGKILL)
            os.waitpid(s.pid, 0)
        # The terminal's character set is UTF-8, not the console's.
        self.assertIn(b"\n" + HEADING.encode() + b"\r", shown)
