"""What every group of tests stands on: the program under test and how to
run it, and where its artifacts are.  OHMRECHNER names the binary;
OHMRECHNER_EMULATOR, if set, the command that runs a Windows, ARM or
WebAssembly build (Wine, qemu-user, Node.js); OHMRECHNER_PAGE, the web
page, and OHMRECHNER_MODULE, its module; OHMRECHNER_PACKAGES, where the
packages are, and OHMRECHNER_UNPACKED, where to unpack them."""

import email.parser
import functools
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

from tables import MENU, PAUSE

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


@functools.cache
def closing():
    """What the pause writes through a pipe: on Windows the command
    interpreter's own, asked of Wine the first time a group needs it, so
    that a group which runs nothing needs no Wine."""
    if not WINDOWS:
        return PAUSE + b"\n"
    said = plain(subprocess.run(EMULATOR + ["cmd", "/c", "Pause"], input=b"",
                                env=ENV, capture_output=True,
                                timeout=300).stdout)
    assert said, "the command interpreter wrote no pause"
    return said


def screen(shown):
    """All a piped run writes; `shown` is what stands between the line
    break after the choice and the empty line before the pause."""
    if WINDOWS or WEB or ARCH in ("arm64", "armhf"):
        # 0/0 gives the processor's default NaN: negative on x86, positive
        # on ARM, either in WebAssembly.  MinGW's runtime spells it
        # without its sign anyway.
        shown = shown.replace("-nan", "nan")
    return MENU + b"\n" + shown.encode() + b"\n" + closing()


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


class Piped(unittest.TestCase):
    def check_run(self, typed, shown, args=(), redirect="", timeout=30,
                  root=None):
        """A run that ends well; shown None checks only its frame."""
        p = run(typed, args, redirect, timeout, root)
        if shown is None:
            self.assertTrue(p.stdout.startswith(MENU + b"\n"))
            self.assertTrue(p.stdout.endswith(closing()))
        else:
            self.assertEqual(p.stdout, screen(shown))
        self.assertEqual(p.stderr, b"")
        self.assertEqual(p.returncode, 0)


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


def stanzas(path):
    """A Debian control or copyright file's paragraphs, each as its
    fields."""
    return [dict(email.parser.HeaderParser().parsestr(p + "\n"))
            for p in path.read_text().split("\n\n") if p.strip()]


def until(ready, failure, timeout=10):
    """ready()'s first true result; failure may be a function, which says
    why only once it is known to have failed."""
    deadline = time.monotonic() + timeout
    while not (result := ready()):
        if time.monotonic() > deadline:
            raise AssertionError(failure() if callable(failure) else failure)
        time.sleep(0.01)
    return result


TOP = pathlib.Path(__file__).parent.parent.parent
LICENCE = (TOP / "LICENSE").read_text()
# The one version, as the build description gives it to every artifact.
VERSION = subprocess.run([TOP / "tools/version"], capture_output=True,
                         text=True, check=True).stdout.strip()
# Every file of a release, as RELEASING.md's table names it: the one list,
# which the release check holds the folder to and every other document's
# names to.
HOLDS = re.search(r"\n## What it holds\n\n.*?\n.*?\n(.*?)\n\n",
                  (TOP / "RELEASING.md").read_text(), re.S)[1]
RELEASED = sorted(name for row in HOLDS.splitlines()
                   for name in re.findall(r"`([^`]*)`", row.split(" | ")[0]))
