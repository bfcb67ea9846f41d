"""What every group of tests shares: the program under test and how to
run it, the dialogue's texts, and the tables of what a user types and what
the program then shows.  OHMRECHNER names the binary; OHMRECHNER_EMULATOR,
if set, the command that runs a Windows, ARM or WebAssembly build (Wine,
qemu-user, Node.js); OHMRECHNER_PAGE, the web page; OHMRECHNER_PACKAGES,
where the packages are, and OHMRECHNER_UNPACKED, where to unpack them."""

import gzip
import os
import pathlib
import re
import select
import shlex
import shutil
import subprocess
import tempfile
import time
import unittest

EXE = os.environ.get("OHMRECHNER", "")
EMULATOR = shlex.split(os.environ.get("OHMRECHNER_EMULATOR", ""))
WINDOWS = EXE.endswith(".exe")
WEB = EXE.endswith(".js")
PAGE = pathlib.Path(os.environ.get("OHMRECHNER_PAGE", "ohmrechner.html"))
MODULE = pathlib.Path(os.environ.get("OHMRECHNER_MODULE", "ohmrechner.wasm"))
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
       **{k: v for k, v in os.environ.items()
          if k.startswith(("WINE", "QEMU_", "XDG_CACHE_HOME"))}}

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
                                   capture_output=True, timeout=300).stdout)
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
    ([(MENU, b"4\n"), (b"\nU = ", b"0" * 1100 + b"2.5e" + b"0" * 1100 + b"1\n"),
      (b"I = ", b"4\n")], "U = I = \nP = 100.000000 Watt\n"),
    ([(MENU, b"2\n"),
      (b"\nU = ", b"-." + b"0" * 1100 + b"5e+" + b"0" * 1100 + b"1101\n"),
      (b"I = ", b"2\n")], "U = I = \nR = -2.500000 Ohm\n"),
    ([(MENU, b"1 2 3\n")], "R = I = \nU = 6.000000 Volt\n"),
]


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


def readelf(*args, binary=EXE):
    return subprocess.run(["readelf", "-W", *args, binary],
                          capture_output=True, text=True, check=True).stdout


def versions(path):
    """Each version an artifact states, by where it states it: a .deb's
    control field, newest metainfo release and changelog entry; a
    Windows program's version resource; an MSI's property; the page's
    heading comment."""
    data = pathlib.Path(path).read_bytes()
    if path.suffix == ".deb":
        said = {}
        with tempfile.TemporaryDirectory() as root:
            subprocess.run(["dpkg-deb", "--extract", path, root], check=True)
            usr = pathlib.Path(root, "usr/share")
            said["control"] = subprocess.run(
                ["dpkg-deb", "--field", path, "Version"], capture_output=True,
                text=True, check=True).stdout.strip()
            meta, = usr.glob("metainfo/*.xml")
            said["metainfo"] = re.search(r'<release version="([^"]*)"',
                                         meta.read_text())[1]
            said["changelog"] = subprocess.run(
                ["dpkg-parsechangelog", "-l-", "-SVersion"],
                input=gzip.decompress(
                    (usr / "doc/ohmrechner/changelog.gz").read_bytes()),
                capture_output=True, check=True).stdout.decode().strip()
        return said
    if path.suffix == ".exe":
        # VS_FIXEDFILEINFO: its signature, then the file's and the
        # product's version, each as two words of two halves.
        at = data.index(bytes.fromhex("bd04effe")) + 8
        words = [int.from_bytes(data[i:i + 2], "little")
                 for i in range(at, at + 16, 2)]
        dotted = lambda w: ".".join(map(str, [w[1], w[0], w[3]]
                                         + [w[2]] * (w[2] != 0)))
        said = {"FILEVERSION": dotted(words[:4]),
                "PRODUCTVERSION": dotted(words[4:])}
        text = data.decode("utf-16-le", "replace")
        for key in ("FileVersion", "ProductVersion"):
            said[key] = re.search(key + r"\0+([^\0]*)\0", text)[1]
        return said
    if path.suffix == ".msi":
        table = subprocess.run(["msiinfo", "export", path, "Property"],
                               capture_output=True, text=True, check=True)
        return {"ProductVersion": re.search(r"\nProductVersion\t(\S+)",
                                            table.stdout)[1]}
    return {"page": re.search(rb"\(ohmrechner\) (\S+)\n", data)[1].decode()}


# An X server of a test's own, on no network; it names its display on
# standard output.
XVFB = ["Xvfb", "-displayfd", "1", "-nolisten", "tcp", "-screen", "0",
        "1280x800x24"]


def until(ready, failure, timeout=10):
    deadline = time.monotonic() + timeout
    while not (result := ready()):
        if time.monotonic() > deadline:
            raise AssertionError(failure)
        time.sleep(0.01)
    return result


TOP = pathlib.Path(__file__).parent.parent
LICENCE = (TOP / "LICENSE").read_text()
# The one version, as the build description gives it to every artifact.
VERSION = re.search(r"\bproject\(ohmrechner VERSION (\S+)",
                    (TOP / "CMakeLists.txt").read_text())[1]
