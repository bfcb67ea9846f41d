"""The built ohmrechner as its users meet it: through pipes, byte for byte,
at a terminal, in a browser, and as its packages put it down.  OHMRECHNER
names the binary; OHMRECHNER_EMULATOR, if set, the command that runs a
Windows, ARM or WebAssembly build (Wine, qemu-user, Node.js);
OHMRECHNER_PAGE, the web page; OHMRECHNER_PACKAGES, where the packages
are, and OHMRECHNER_UNPACKED, where to unpack them."""

import codecs
import fcntl
import gzip
import os
import pathlib
import random
import re
import select
import shlex
import shutil
import signal
import subprocess
import sys
import tarfile
import tempfile
import termios
import time
import unittest

EXE = os.environ.get("OHMRECHNER", "")
EMULATOR = shlex.split(os.environ.get("OHMRECHNER_EMULATOR", ""))
WINDOWS = EXE.endswith(".exe")
WEB = EXE.endswith(".js")
PAGE = pathlib.Path(os.environ.get("OHMRECHNER_PAGE", "ohmrechner.html"))
PACKAGES = pathlib.Path(os.environ.get("OHMRECHNER_PACKAGES", "packages"))
UNPACKED = pathlib.Path(os.environ.get("OHMRECHNER_UNPACKED", "unpacked"))


def debian_arch(path):
    """The Debian architecture an ELF binary is built for."""
    with open(path, "rb") as f:
        elf = f.read(64)
    if elf[:4] != b"\x7fELF":
        return None
    machine = int.from_bytes(elf[18:20], "little")
    # 32-bit ARM must pass floats in registers, as armhf does.
    flags = int.from_bytes(elf[36:40], "little")
    return {0x3e: "amd64", 0xb7: "arm64", 0x03: "i386",
            0x28: "armhf" if flags & 0x400 else "armel"}.get(machine)


ARCH = None if WINDOWS or not EXE else debian_arch(EXE)
ENV = {"PATH": os.environ.get("PATH", "/usr/bin:/bin"), "LANG": "C.UTF-8",
       **{k: v for k, v in os.environ.items() if k.startswith("WINE")}}

HEADING = "Wähle die Operation die du ausführen willst."
MENU = (b"Elektro-Rechner: Spannung, Widerstand, Strom, Leistung\n"
        + HEADING.encode("cp1252") + b"\n\n"
        b"1 = Spannung berechnen (U = R * I)\n"
        b"2 = Widerstand berechnen (R = U / I)\n"
        b"3 = Strom berechnen (I = U / R)\n"
        b"4 = Leistung berechnen (P = U * I)\n")
PAUSE = b"Weiter mit beliebiger Taste . . ."
OUTSIDE = ""


def plain(out):
    """Output with the Windows runtime's CR LF line ends made plain, and
    WebAssembly's NaN without the sign its host processor gave it."""
    if WINDOWS:
        if out.count(b"\n") != out.count(b"\r\n"):
            raise AssertionError(f"a line feed without CR in {out!r}")
        out = out.replace(b"\r\n", b"\n")
    if WEB:
        out = out.replace(b"-nan", b"nan")
    return out


def native(text):
    return text.replace(b"\n", b"\r\n") if WINDOWS else text


if WINDOWS:
    # The command interpreter's own pause, as it shows through a pipe.
    CLOSING = plain(subprocess.run(EMULATOR + ["cmd", "/c", "Pause"],
                                   input=b"", env=ENV,
                                   capture_output=True, timeout=60).stdout)
    assert CLOSING, "the command interpreter wrote no pause"
else:
    CLOSING = PAUSE + b"\n"


def screen(shown):
    """All a piped run writes; `shown` is what stands between the line
    break after the choice and the empty line before the pause."""
    if WINDOWS or WEB or ARCH in ("arm64", "armhf"):
        # 0/0 gives the processor's default NaN: negative on x86, positive
        # on ARM, either in WebAssembly.  MinGW's runtime spells it
        # without its sign anyway.
        shown = shown.replace("-nan", "nan")
    return MENU + b"\n" + shown.encode() + b"\n" + CLOSING


def alone(root, argv):
    """For a child: runs argv in root as its /, where only the binary lies.
    An emulator comes along as an open file, in its static build."""
    def enter():
        emulator = EMULATOR and shutil.which(EMULATOR[0] + "-static")
        program = emulator and os.open(emulator, os.O_RDONLY)
        os.chroot(root)
        os.chdir("/")
        if emulator:
            os.execve(program, [emulator, *argv], ENV)
        os.execve(argv[0], argv, ENV)
    return enter


def run(typed, args=(), redirect="", timeout=30, root=None):
    """Runs the program on typed input; redirect is a shell's, such as
    ">&-" to start it with standard output closed; root, a folder that
    holds nothing but the binary, to run it from there."""
    argv = EMULATOR + [EXE, *args]
    if redirect:
        argv = ["sh", "-c", f'exec "$@" {redirect}', "sh", *argv]
    if isinstance(typed, str):
        typed = typed.encode()
    if root:
        argv = ["/" + pathlib.Path(EXE).name, *args]
    p = subprocess.run(argv, input=typed, env=ENV, capture_output=True,
                       timeout=timeout,
                       preexec_fn=root and alone(root, argv))
    p.stdout = plain(p.stdout)
    return p


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


class Piped(unittest.TestCase):
    def check_run(self, typed, shown, args=(), redirect="", timeout=30,
                  root=None):
        """A run that ends well; shown None checks only its frame."""
        p = run(typed, args, redirect, timeout, root)
        if shown is None:
            self.assertTrue(p.stdout.startswith(MENU + b"\n"))
            self.assertTrue(p.stdout.endswith(CLOSING))
        else:
            self.assertEqual(p.stdout, screen(shown))
        self.assertEqual(p.stderr, b"")
        self.assertEqual(p.returncode, 0)


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
        for args in (["--help"], ["4", "-x"], [""]):
            self.check(WORKED[:2] + UNREAD[:1], args)


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
                for typed in ("2\n10\n3\n", "9\n", ""):
                    with self.subTest(typed=typed):
                        p = run(typed, redirect=redirect)
                        self.assertEqual(p.returncode, 1)
                        self.assertEqual(
                            plain(p.stderr).decode(),
                            f"ohmrechner: Schreibfehler: {reason}\n")


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
    ([(MENU, b"1 2 3\n")], "R = I = \nU = 6.000000 Volt\n"),
]


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


class Image(unittest.TestCase):
    """The Windows build as Windows loads it."""

    def test_console_program_for_i386(self):
        with open(EXE, "rb") as f:
            pe = f.read(4096)
        at = int.from_bytes(pe[0x3c:0x40], "little")
        field = lambda off: int.from_bytes(pe[at + off:at + off + 2], "little")
        self.assertEqual(pe[at:at + 4], b"PE\0\0")
        # Machine i386, a PE32 optional header, the console subsystem.
        self.assertEqual((field(4), field(24), field(24 + 68)),
                         (0x14c, 0x10b, 3))

    def test_aslr_and_dep(self):
        # Loaded at a random address, which needs its relocations kept,
        # and its data never run.
        dump = subprocess.run([os.environ["OBJDUMP"], "-p", "-h", EXE],
                              capture_output=True, text=True,
                              check=True).stdout
        flags = int(re.search(r"^DllCharacteristics\s+(\w+)", dump, re.M)[1],
                    16)
        self.assertEqual(flags & 0x140, 0x140, hex(flags))
        self.assertRegex(dump, r"\.reloc ")

    def test_imports(self):
        dump = subprocess.run([os.environ["OBJDUMP"], "-p", EXE],
                              capture_output=True, text=True,
                              check=True).stdout
        dlls = {d.lower() for d in re.findall(r"DLL Name: (\S+)", dump)}
        self.assertLessEqual(dlls, {"kernel32.dll", "msvcrt.dll"})
        names = set(re.findall(r"^\t\w+\t +\d+ +(\w+)$", dump, re.M))
        self.assertLessEqual({"GetConsoleMode", "WriteConsoleW", "system"},
                             names)
        # The conversions are MinGW's own, not msvcrt's.
        self.assertFalse(names & {"scanf", "printf", "vscanf", "vprintf"})
        # Explorer shows its icon (types 3, 14) and version (16), in
        # German (language 0x407).
        types = re.findall(r"^\w{3}   Entry: ID: (\w+),",
                           dump[dump.index(".rsrc Resource Directory"):], re.M)
        self.assertEqual(types, ["0x000003", "0x00000e", "0x000010"])
        self.assertIn("Entry: ID: 0x000407,", dump)


def expect(fd, text, timeout=30, view=lambda seen: seen):
    """Reads from fd until the output, as view shows it, ends in text;
    fails on a timeout."""
    seen = b""
    deadline = time.monotonic() + timeout
    while not view(seen).endswith(text):
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


def readelf(*args, binary=EXE):
    return subprocess.run(["readelf", "-W", *args, binary],
                          capture_output=True, text=True, check=True).stdout


class Hardened(unittest.TestCase):
    """The hardening Debian asks of a program, as its tools look for it."""

    def test_linked(self):
        header, segments = readelf("--file-header"), readelf("--segments")
        dynamic, symbols = readelf("--dynamic"), readelf("--syms")
        # Loaded at a random address: PIE, or static-pie where the C
        # library has it (not on armhf).
        if "INTERP" in segments or ARCH != "armhf":
            self.assertIn("DYN (", header)
        self.assertIn("GNU_RELRO", segments)
        if ".dynamic" in readelf("--sections"):
            self.assertRegex(dynamic, r"\(FLAGS\).*\bBIND_NOW\b")
        for name in ("__stack_chk_fail", "__printf_chk"):
            self.assertRegex(symbols, rf"\b{name}\b")
        if "INTERP" not in segments:
            self.assertNotIn("(NEEDED)", dynamic)
            return
        # Debian's C start files carry no x86 CET note, so no program
        # linked here can have one: control flow is looked for below.
        p = subprocess.run(["hardening-check", "--nocfprotection", EXE],
                           capture_output=True, text=True)
        self.assertEqual([line for line in p.stdout.splitlines()
                          if ": no" in line and "(ignored)" not in line], [])
        self.assertEqual(p.returncode, 0, p.stdout)

    def test_control_flow(self):
        # Our own code marks each indirect branch target (x86) or signs
        # its return addresses (arm64).
        marks = {"amd64": "endbr64", "arm64": "paciasp"}
        if ARCH not in marks:
            self.skipTest(f"no control-flow marks on {ARCH}")
        code = subprocess.run([os.environ["OBJDUMP"], "-d", EXE],
                              capture_output=True, text=True,
                              check=True).stdout
        main = re.search(r"^\w+ <main>:\n(.*?)\n\n", code, re.M | re.S)
        self.assertIn(marks[ARCH], main[1])

# What an install puts down on Linux, below its prefix.
APP = "example.ohmrechner.Ohmrechner"
DESKTOP = f"share/applications/{APP}.desktop"
META = f"share/metainfo/{APP}.metainfo.xml"
TREE = ["bin/ohmrechner",
        DESKTOP,
        f"share/icons/hicolor/scalable/apps/{APP}.svg",
        "share/man/man1/ohmrechner.1.gz",
        META]
# What the Debian package puts down besides.
DEBIAN = ["share/doc/ohmrechner/changelog.gz",
          "share/doc/ohmrechner/copyright",
          "share/lintian/overrides/ohmrechner"]
LICENCE = (pathlib.Path(__file__).parent.parent / "LICENSE").read_text()


class Installed(unittest.TestCase):
    """What the install step puts down, used from where it lands."""

    def test_tree(self):
        with tempfile.TemporaryDirectory() as prefix:
            subprocess.run([os.environ["CMAKE_COMMAND"], "--install",
                            os.environ["OHMRECHNER_BUILD"], "--prefix",
                            prefix], check=True, capture_output=True)
            root = pathlib.Path(prefix)
            self.assertEqual(sorted(str(f.relative_to(root))
                                    for f in root.rglob("*") if f.is_file()),
                             TREE)
            p = subprocess.run(EMULATOR + [root / "bin/ohmrechner"],
                               input=b"2 10 3\n", env=ENV,
                               capture_output=True, timeout=10)
            self.assertEqual((p.returncode, p.stdout),
                             (0, screen(WORKED[1][1])))
            page = subprocess.run(
                ["groff", "-t", "-man", "-Tutf8", "-ww", "-P-cbou"],
                input=gzip.decompress(
                    (root / "share/man/man1/ohmrechner.1.gz").read_bytes()),
                env=dict(ENV, LC_ALL="C.UTF-8"), capture_output=True,
                check=True)
        self.assertEqual(page.stderr, b"")
        text = page.stdout.decode()
        for heading in ("ÜBERSICHT", "RECHNUNGEN", "EINGABE", "GENAUIGKEIT",
                        "PAUSE", "EXIT-STATUS"):
            self.assertIn(f"\n{heading}\n", text)
        self.assertRegex(text, r"ohmrechner \d+\.\d+\.\d+ ")


class Sums(unittest.TestCase):
    def test_every_package_listed_and_checked(self):
        listed = [line.split("  ", 1)[1] for line in
                  (PACKAGES / "SHA256SUMS").read_text().splitlines()]
        self.assertEqual(listed, sorted(p.name for p in PACKAGES.iterdir()
                                        if p.is_file()
                                        and p.name != "SHA256SUMS"))
        subprocess.run(["sha256sum", "--check", "--strict", "SHA256SUMS"],
                       cwd=PACKAGES, check=True, capture_output=True)


def dpkg_deb(*args):
    return subprocess.run(["dpkg-deb", *args], capture_output=True,
                          text=True, check=True).stdout


class Deb(unittest.TestCase):
    """The Debian package as dpkg takes it; unpacked for the transcripts."""

    def test_package(self):
        deb, = PACKAGES.glob("*.deb")
        field = lambda name: dpkg_deb("--field", deb, name).strip()
        self.assertEqual(deb.name, f"ohmrechner_{field('Version')}_{ARCH}.deb")
        self.assertEqual(field("Architecture"), ARCH)
        self.assertRegex(field("Depends"), r"^libc6 \(>= 2\.\d+\)$")
        entries = [line.split() for line in
                   dpkg_deb("--contents", deb).splitlines()]
        self.assertEqual(
            [(e[0], e[1], e[5]) for e in entries if e[0][0] != "d"],
            [("-rwxr-xr-x" if f.startswith("bin/") else "-rw-r--r--",
              "root/root", f"./usr/{f}") for f in sorted(TREE + DEBIAN)])

        shutil.rmtree(UNPACKED, ignore_errors=True)
        dpkg_deb("--extract", deb, UNPACKED)
        usr = UNPACKED / "usr"
        desktop, meta = usr / DESKTOP, usr / META
        p = subprocess.run(["desktop-file-validate", desktop],
                           capture_output=True, text=True)
        self.assertEqual((p.returncode, p.stdout), (0, ""))
        subprocess.run(["appstreamcli", "validate", "--no-net", meta],
                       check=True, capture_output=True)
        # The menu starts the installed program in a terminal, with the
        # installed icon; the metainfo names the same entry.
        entry = dict(line.split("=", 1) for line in
                     desktop.read_text().splitlines() if "=" in line)
        self.assertEqual((entry["Exec"], entry["Icon"], entry["Terminal"]),
                         (pathlib.Path(TREE[0]).name, APP, "true"))
        self.assertIn(f'<launchable type="desktop-id">{desktop.name}<',
                      meta.read_text())
        self.assertIn("<project_license>MIT</project_license>",
                      meta.read_text())

        # Debian's record of licence and changes, for this very version.
        doc = usr / "share/doc/ohmrechner"
        copyright = (doc / "copyright").read_text()
        self.assertRegex(copyright, r"^Format: https://www\.debian\.org/doc/"
                         r"packaging-manuals/copyright-format/1\.0/\n")
        self.assertIn("\nFiles: *\nCopyright: 2026 ohmrechner maintainers\n"
                      "License: MIT\n", copyright)
        terms = LICENCE.split("\n\n", 2)[2].strip()
        self.assertIn((" " + terms.replace("\n", "\n "))
                      .replace("\n \n", "\n .\n"), copyright)
        changes = subprocess.run(
            ["dpkg-parsechangelog", "-l-", "-SVersion"],
            input=gzip.decompress((doc / "changelog.gz").read_bytes()),
            capture_output=True, check=True).stdout.decode().strip()
        self.assertEqual(changes, field("Version"))

        # Neither error nor warning from Debian's own checks.
        p = subprocess.run(["lintian", "--fail-on", "error,warning", deb],
                           capture_output=True, text=True)
        self.assertEqual((p.returncode, re.findall(r"^[EW]: .*", p.stdout,
                                                   re.M)), (0, []))
        p = subprocess.run(["hardening-check", "--nocfprotection",
                            usr / TREE[0]], capture_output=True, text=True)
        self.assertEqual(p.returncode, 0, p.stdout)


# Each Linux processor's name in the static download.
STATIC_ARCH = {"amd64": "x86_64", "arm64": "aarch64", "armhf": "armv7"}


class Tarball(unittest.TestCase):
    """The static download for any other Linux, unpacked as its readme
    says."""

    def test_tarball(self):
        tarball, = PACKAGES.glob("*.tar.gz")
        top = tarball.name.removesuffix(".tar.gz")
        self.assertRegex(top, rf"^ohmrechner-\d+\.\d+\.\d+-linux-"
                         rf"{STATIC_ARCH[ARCH]}$")
        with tarfile.open(tarball) as t:
            self.assertEqual(
                sorted((m.name, oct(m.mode), m.uname, m.gname)
                       for m in t.getmembers() if m.isfile()),
                [(f"{top}/{name}", oct(0o755 if name == "ohmrechner"
                                       else 0o644), "root", "root")
                 for name in ("LICENSE", "LIESMICH", "ohmrechner",
                              "ohmrechner.1")])
            shutil.rmtree(UNPACKED, ignore_errors=True)
            t.extractall(UNPACKED)
        folder = UNPACKED / top
        self.assertEqual((folder / "LICENSE").read_text(), LICENCE)
        self.assertIn(f"tar xzf {tarball.name}",
                      (folder / "LIESMICH").read_text())
        # No interpreter and no shared library: it runs on any Linux.
        self.assertNotIn("INTERP", readelf("--segments",
                                           binary=folder / "ohmrechner"))
        page = subprocess.run(["groff", "-man", "-Tutf8", "-ww"],
                              input=(folder / "ohmrechner.1").read_bytes(),
                              capture_output=True, check=True)
        self.assertEqual(page.stderr, b"")


# What a portable archive holds: for Windows, or the web page.
ARCHIVED = {
    "exe": ["LICENSE.txt", "LIESMICH.txt", "ohmrechner.exe"],
    "js": ["LICENSE", "ohmrechner.html"],
}

# What the Windows readme must tell, among the rest: how to start the
# program, how to get past SmartScreen, and how to check the download.
LIESMICH = ["Doppelklick auf ohmrechner.exe", "Weitere Informationen",
            "Trotzdem ausführen", "Get-FileHash", "SHA256SUMS", "MIT"]


class Zip(unittest.TestCase):
    """The portable archive as its user unpacks it."""

    def test_archive(self):
        archive, = PACKAGES.glob("*.zip")
        top = archive.stem
        names = subprocess.run(["unzip", "-Z1", archive], capture_output=True,
                               text=True, check=True).stdout.split()
        expected = ARCHIVED[EXE.rsplit(".", 1)[1]]
        self.assertEqual(sorted(names), [f"{top}/{n}" for n in expected])
        shutil.rmtree(UNPACKED, ignore_errors=True)
        subprocess.run(["unzip", "-q", archive, "-d", UNPACKED], check=True)
        folder = UNPACKED / top
        self.assertEqual(plain((folder / expected[0]).read_bytes()),
                         LICENCE.encode())
        if not WINDOWS:
            return
        # For Notepad: a BOM that says UTF-8, and CR LF line ends.
        text = (folder / "LIESMICH.txt").read_bytes()
        self.assertTrue(text.startswith(codecs.BOM_UTF8))
        self.assertEqual(text.count(b"\n"), text.count(b"\r\n"))
        for words in LIESMICH:
            self.assertIn(words, text.decode("utf-8-sig"))


def link_target(lnk):
    """The local path a Windows shortcut opens, from its LinkInfo."""
    word = lambda at, n=4: int.from_bytes(lnk[at:at + n], "little")
    at = 0x4c
    if word(0x14) & 1:
        at += 2 + word(at, 2)
    base = at + word(at + 16)
    return lnk[base:lnk.index(b"\0", base)].decode("cp1252")


class Installer(unittest.TestCase):
    """The installer in a Windows of its own: in, used, and out again."""

    KEY = (r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall"
           r"\ohmrechner")
    LINK = ("ProgramData/Microsoft/Windows/Start Menu/Programs/"
            "Elektro-Rechner.lnk")

    def test_install_use_uninstall(self):
        setup, = PACKAGES.glob("*-setup.exe")
        with tempfile.TemporaryDirectory() as prefix:
            env = dict(ENV, WINEPREFIX=prefix)
            drive = pathlib.Path(prefix, "drive_c")
            unix = lambda path: drive / path[3:].replace("\\", "/")

            def wine(*argv, typed=b""):
                return subprocess.run(EMULATOR + list(argv), input=typed,
                                      env=env, capture_output=True,
                                      timeout=120)

            def silently(*argv):
                # The uninstaller goes on from a copy of itself.
                self.assertEqual(wine(*argv, "/S").returncode, 0)
                subprocess.run(["wineserver", "-w"], env=env, timeout=120)

            try:
                silently(setup)
                where = re.search(r"InstallLocation\s+REG_SZ\s+(.*?)\r?$",
                                  wine("reg", "query", self.KEY).stdout
                                  .decode(), re.M)[1]
                self.assertRegex(where, r"^C:\\Program Files( \(x86\))?\\")
                exe = where + r"\ohmrechner.exe"
                self.assertEqual(plain((unix(where) / "LICENSE.txt")
                                       .read_bytes()), LICENCE.encode())
                self.assertEqual(link_target((drive / self.LINK)
                                             .read_bytes()), exe)
                p = wine(exe, typed=b"2\n10\n3\n")
                self.assertEqual((p.returncode, plain(p.stdout)),
                                 (0, screen(WORKED[1][1])))

                silently(where + r"\Uninstall.exe")
                self.assertFalse(unix(where).exists())
                self.assertFalse((drive / self.LINK).exists())
                self.assertNotEqual(wine("reg", "query", self.KEY)
                                    .returncode, 0)
            finally:
                subprocess.run(["wineserver", "-k"], env=env)


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



def echoed(steps, shown):
    """A driven run as a console shows it: each answer, echoed, right after
    the prompt it answers; up to the pause, which still waits."""
    out, text, at = screen(shown), b"", 0
    for prompt, answer in steps:
        end = out.index(prompt, at) + len(prompt)
        text += out[at:end] + answer
        at = end
    return (text + out[at:]).decode("cp1252").removesuffix("\n")


# How the pause may end, and whether it does.
ACKNOWLEDGE = [
    ("a key", lambda b: b.field().send_keys("x"), True),
    ("Enter", lambda b: b.field().send_keys(b.keys.ENTER), True),
    ("a click", lambda b: b.driver.find_element("tag name", "main").click(),
     True),
    ("Shift alone", lambda b: b.actions().key_down(b.keys.SHIFT)
     .key_up(b.keys.SHIFT).perform(), False),
]


class Browser(unittest.TestCase):
    """The page in a real, headless Chromium, opened from disk."""

    @classmethod
    def setUpClass(cls):
        from selenium import webdriver
        from selenium.webdriver.common.action_chains import ActionChains
        from selenium.webdriver.common.keys import Keys
        from selenium.webdriver.chrome.service import Service
        options = webdriver.ChromeOptions()
        options.binary_location = "/usr/bin/chromium"
        # Nothing of Chromium's own may reach for a network either.
        for flag in ("--headless", "--no-sandbox", "--disable-gpu",
                     "--disable-background-networking", "--no-first-run",
                     "--disable-component-update", "--disable-sync"):
            options.add_argument(flag)
        options.set_capability("goog:loggingPrefs",
                               {"browser": "ALL", "performance": "ALL"})
        cls.driver = webdriver.Chrome(
            service=Service("/usr/bin/chromedriver"), options=options)
        cls.keys = Keys
        cls.actions = lambda self: ActionChains(self.driver)

    @classmethod
    def tearDownClass(cls):
        cls.driver.quit()

    def setUp(self):
        self.url = PAGE.resolve().as_uri()

    def open(self, url=None):
        self.url = url or self.url
        self.driver.get(self.url)
        self.wait(MENU)
        self.assertEqual(self.driver.switch_to.active_element, self.field())

    def tearDown(self):
        # No error logged, and no request beyond the page and the data:
        # URL of its own module.
        log = self.driver.get_log("browser")
        self.assertEqual([e for e in log if e["level"] != "INFO"], [])
        import json
        for entry in self.driver.get_log("performance"):
            event = json.loads(entry["message"])["message"]
            if event["method"] == "Network.requestWillBeSent":
                url = event["params"]["request"]["url"]
                self.assertTrue(url in (PAGE.resolve().as_uri(), self.url)
                                or url.startswith("data:"), url)

    def shown(self):
        return self.driver.execute_script(
            "return document.getElementById('konsole').textContent")

    def field(self):
        return self.driver.find_element("id", "eingabe")

    def wait(self, text, timeout=10):
        text = text.decode("cp1252") if isinstance(text, bytes) else text
        return until(lambda: self.shown().endswith(text),
                     f"waited for {text!r}, saw {self.shown()!r}", timeout)

    def drive(self, steps):
        for prompt, answer in steps:
            self.wait(prompt)
            self.field().send_keys(answer.decode().removesuffix("\n"),
                                   self.keys.ENTER)
            # Focused again after every line.
            self.assertEqual(self.driver.switch_to.active_element,
                             self.field())
        self.wait(PAUSE)

    def test_driven_runs(self):
        for steps, shown in DRIVEN:
            with self.subTest(steps[0][1]):
                self.open()
                self.drive(steps)
                self.assertEqual(self.shown(), echoed(steps, shown))

    def test_pause_then_a_fresh_run(self):
        steps, shown = DRIVEN[0]
        for name, act, ends in ACKNOWLEDGE:
            with self.subTest(name):
                self.open()
                self.drive(steps)
                act(self)
                if not ends:
                    time.sleep(0.3)
                    self.assertEqual(self.shown(), echoed(steps, shown))
                    continue
                # A clean console and field, and the program anew.
                until(lambda: self.shown() == MENU.decode("cp1252"),
                      f"no fresh run: {self.shown()!r}")
                self.assertEqual(self.field().get_attribute("value"), "")
                self.assertEqual(self.driver.switch_to.active_element,
                                 self.field())
                self.drive(DRIVEN[-1][0])
                self.assertEqual(self.shown(), echoed(*DRIVEN[-1]))

    def test_served(self):
        # From a plain static web server, here on the loopback.
        import functools
        import http.server
        import threading

        class Files(http.server.SimpleHTTPRequestHandler):
            def log_message(self, *args):
                pass

        with http.server.ThreadingHTTPServer(
                ("127.0.0.1", 0),
                functools.partial(Files, directory=PAGE.parent)) as server:
            threading.Thread(target=server.serve_forever,
                             daemon=True).start()
            try:
                self.open(f"http://127.0.0.1:{server.server_port}/"
                          f"{PAGE.name}")
                steps, shown = DRIVEN[0]
                self.drive(steps)
                self.assertEqual(self.shown(), echoed(steps, shown))
            finally:
                server.shutdown()

    def test_phone(self):
        # A phone's screen and touch; the longest result line there is.
        typed, shown = EDGES[-1]
        cdp = self.driver.execute_cdp_cmd
        cdp("Emulation.setDeviceMetricsOverride", {
            "width": 360, "height": 640, "deviceScaleFactor": 3,
            "mobile": True})
        cdp("Emulation.setTouchEmulationEnabled", {"enabled": True})
        try:
            self.open()
            self.drive([(MENU, typed.encode())])
            self.assertIn(shown.splitlines()[-1], self.shown())
            view = self.driver.execute_script("""
                const r = document.getElementById("eingabe")
                    .getBoundingClientRect();
                return [innerWidth, innerHeight, navigator.maxTouchPoints,
                        document.documentElement.scrollWidth,
                        r.left, r.top, r.right, r.bottom];""")
            width, height, touch, scroll, left, top, right, bottom = view
            self.assertEqual((width, height), (360, 640))
            self.assertGreater(touch, 0)
            self.assertLessEqual(scroll, width, "the page scrolls sideways")
            self.assertTrue(0 <= left < right <= width
                            and 0 <= top < bottom <= height,
                            f"the field is off screen: {view}")
        finally:
            cdp("Emulation.clearDeviceMetricsOverride", {})
            cdp("Emulation.setTouchEmulationEnabled", {"enabled": False})


class Page(unittest.TestCase):
    """The page's file: all it needs inside, and nothing from outside."""

    def test_self_contained(self):
        html = PAGE.read_text()
        self.assertLessEqual(len(html.encode()), 100 * 1024)
        # The very module that the other groups test under Node.js.
        self.assertIn(f"<script>{pathlib.Path(EXE).read_text()}</script>",
                      html)
        self.assertIn('<html lang="de">', html)
        self.assertIn("<title>Elektro-Rechner</title>", html)
        self.assertIn('name="viewport"', html)
        self.assertIn("MIT License", html)
        policy = re.search(r'http-equiv="Content-Security-Policy" '
                           r'content="([^"]*)"', html)[1]
        self.assertIn("default-src 'none'", policy)
        # Nothing that points outside the page itself.
        self.assertEqual(re.findall(r'(?:src|href)="(?!data:)[^"]*"', html),
                         [])

if __name__ == "__main__":
    unittest.main()
