"""The binary as its host loads it: format, imports and hardening."""

import os
import pathlib
import re
import subprocess
import unittest

from machinery.common import ARCH, EXE, VERSION, readelf, versions


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

    def test_version(self):
        # Explorer's properties name the one version, in every field.
        said = versions(pathlib.Path(EXE))
        self.assertEqual(set(said), {"FILEVERSION", "PRODUCTVERSION",
                                     "FileVersion", "ProductVersion"})
        self.assertEqual(set(said.values()), {VERSION})

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


class HardeningCheck(unittest.TestCase):
    """Debian's own verdict on the dynamically linked program; it reads
    only dynamic symbols, so Hardened judges the static one."""

    def test_verdict(self):
        # Debian's C start files carry no x86 CET note, so no program
        # linked here can have one: Hardened looks for control flow.
        p = subprocess.run(["hardening-check", "--nocfprotection", EXE],
                           capture_output=True, text=True)
        self.assertEqual([line for line in p.stdout.splitlines()
                          if ": no" in line and "(ignored)" not in line], [])
        self.assertEqual(p.returncode, 0, p.stdout)
