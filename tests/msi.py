"""The Windows Installer package as school IT deploys it: read offline
with msitools, then installed, upgraded, repaired, refused and removed
silently by Wine's msiexec, in a Windows of its own."""

import os
import pathlib
import re
import shutil
import subprocess
import tempfile
import unittest

from machinery import wineup
from machinery.common import (EMULATOR, ENV, PACKAGES, TOP, VERSION, plain,
                              screen)
from packages import link_target
from tables import WORKED

# As school IT's guide prints it, for every version to come.
UPGRADE_CODE = "{3F9D2A01-6D00-4F7B-B3BA-B8E8EBE2DF5D}"
EARLIER = "0.9.0"
# Windows Installer's "fatal error", 1603, as Wine's exit status has it:
# its low eight bits; and setup.exe stopped by its own script.
REFUSED, ABORTED = 1603 & 0xff, 2


def table(msi, name):
    """A table's rows, as msiinfo exports them, below its three heads."""
    out = subprocess.run(["msiinfo", "export", msi, name], check=True,
                         capture_output=True, text=True).stdout
    return [tuple(line.split("\t")) for line in out.splitlines()[3:]]


properties = lambda msi: dict(table(msi, "Property"))
summary = lambda msi: dict(table(msi, "_SummaryInformation"))


def earlier(folder):
    """This source's package with an earlier version: the one to
    upgrade from."""
    src = pathlib.Path(folder, "src")
    shutil.copytree(TOP, src, ignore=shutil.ignore_patterns(
        ".git", "build", "node_modules"))
    subprocess.run([src / "tools/version", EARLIER], check=True)
    cmake = os.environ["CMAKE_COMMAND"]
    for argv in ([cmake, "-S", src, "-B", src / "b", "-DBUILD_TESTING=OFF",
                  "--toolchain", src / "cmake/i686-w64-mingw32.cmake"],
                 [cmake, "--build", src / "b", "--target", "package"]):
        subprocess.run(argv, check=True, capture_output=True)
    return src / f"b/ohmrechner-{EARLIER}-win32.msi"


class Msi(unittest.TestCase):
    KEY = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall"

    @classmethod
    def setUpClass(cls):
        cls.msi, = PACKAGES.glob("*.msi")
        cls.folder = tempfile.mkdtemp()
        cls.addClassCleanup(shutil.rmtree, cls.folder)
        cls.earlier = earlier(cls.folder)

    def test_tables(self):
        got = properties(self.msi)
        for name, value in (("ALLUSERS", "1"), ("UpgradeCode", UPGRADE_CODE),
                            ("ProductLanguage", "1031"),
                            ("ProductVersion", VERSION)):
            self.assertEqual(got.get(name), value, name)
        # Every earlier version is replaced, with its features; a later
        # one is only found, and refuses this one.
        self.assertEqual(
            sorted((r[0], r[1], r[2], r[4], r[6])
                   for r in table(self.msi, "Upgrade")),
            [(UPGRADE_CODE, "", VERSION, "1", "WIX_UPGRADE_DETECTED"),
             (UPGRADE_CODE, VERSION, "", "2", "WIX_DOWNGRADE_DETECTED")])
        # The earlier goes first, wholly, once the new one is known to fit.
        steps = {r[0]: int(r[2]) for r in table(self.msi,
                                                "InstallExecuteSequence")}
        order = ["InstallValidate", "RemoveExistingProducts",
                 "InstallInitialize"]
        self.assertEqual(sorted(order, key=steps.get), order)
        # The notices go where the program goes.
        self.assertIn("LIZENZEN.txt", [r[0] for r in table(self.msi, "File")])
        info = summary(self.msi)
        self.assertEqual(info["7"], "Intel;1031")
        self.assertEqual(info["12"], info["13"])
        # The guide names the codes; the readme beside the program, this
        # version's own.
        self.assertIn(UPGRADE_CODE, (TOP / "docs/schul-it.md").read_text())
        zipped, = PACKAGES.glob("*.zip")
        readme = subprocess.run(["unzip", "-p", zipped, "*/LIESMICH.txt"],
                                capture_output=True, check=True).stdout
        self.assertIn(f"msiexec /x {got['ProductCode']}", readme.decode())
        # Another version is another product, and another package.
        before = properties(self.earlier)
        self.assertEqual(before["UpgradeCode"], UPGRADE_CODE)
        self.assertNotEqual(before["ProductCode"], got["ProductCode"])
        self.assertNotEqual(summary(self.earlier)["9"], info["9"])

    def test_deploy(self):
        setup, = PACKAGES.glob("*-setup.exe")
        code = properties(self.msi)["ProductCode"]
        with tempfile.TemporaryDirectory() as prefix:
            env = dict(ENV, WINEPREFIX=prefix)
            drive = pathlib.Path(prefix, "drive_c")

            # One server for all the steps: under qemu-user, each start
            # of Wine's server and services may hang.
            wine = lambda *argv, typed=b"": subprocess.run(
                EMULATOR + list(argv), input=typed, env=env,
                capture_output=True, timeout=300)

            def entries():
                """Its entries in the list of installed programs."""
                out = wine("reg", "query", self.KEY, "/s").stdout.decode()
                found = [dict(re.findall(r"^ +(\S+) +REG_\w+ +(.*)$", b, re.M))
                         for b in out.replace("\r", "").split("\n\n")]
                return [e for e in found
                        if e.get("DisplayName") == "Elektro-Rechner"]

            def installed():
                # Under Program Files (x86) where Windows is 64-bit.
                for exe in drive.glob("Program Files*/ohmrechner/o*.exe"):
                    said = wine(exe, "--version").stdout.decode()
                    return re.sub(r"^ohmrechner (\S+)\r\n$", r"\1", said)

            msiexec = lambda *a: wine("msiexec", *a, "/qn", "/l*v", "C:/msi.log")
            lose = lambda: next(drive.glob(
                "Program Files*/ohmrechner/ohmrechner.exe")).unlink()
            # What school IT does, in order: what comes first, what it runs
            # and the status, the program's version then, its entries in
            # the list of installed programs, and what else must hold.
            steps = [
                ("install the earlier", None,
                 lambda: msiexec("/i", self.earlier), 0, EARLIER, 1, None),
                ("upgrade", None, lambda: msiexec("/i", self.msi), 0,
                 VERSION, 1, lambda: self.check_installed(wine, drive, code,
                                                          entries())),
                ("downgrade", None, lambda: msiexec("/i", self.earlier),
                 REFUSED, VERSION, 1, None),
                ("setup.exe beside", None, lambda: wine(setup, "/S"),
                 ABORTED, VERSION, 1, None),
                # Wine repairs so even unasked; Windows, as the package
                # sets REINSTALL.
                ("repair", lose, lambda: msiexec("/i", self.msi), 0,
                 VERSION, 1, None),
                ("remove", None, lambda: msiexec("/x", code), 0, None, 0,
                 lambda: self.check_removed(wine, drive, code)),
                ("beside setup.exe", lambda: wine(setup, "/S"),
                 lambda: msiexec("/i", self.msi), REFUSED, VERSION, 1, None),
            ]
            try:
                wineup.up(env)
                for what, before, act, status, version, listed, then in steps:
                    with self.subTest(what):
                        if before:
                            before()
                        self.assertEqual(act().returncode, status)
                        self.assertEqual(installed(), version)
                        self.assertEqual(len(entries()), listed)
                        if then:
                            then()
            finally:
                wineup.down(env)

    def check_installed(self, wine, drive, code, entries):
        self.assertRegex((drive / "msi.log").read_text(errors="replace"),
                         r"Action ended [\d:]+: INSTALL\. Return value 1\.")
        entry, = entries
        exe = entry["InstallLocation"] + "ohmrechner.exe"
        p = wine(exe, typed=b"2\n10\n3\n")
        self.assertEqual((p.returncode, plain(p.stdout)),
                         (0, screen(WORKED[1][1])))
        # Windows puts the entry into the common Start menu, as
        # ALLUSERS=1 asks; Wine into the user's.
        link, = [*drive.glob("ProgramData/Microsoft/Windows/Start Menu/"
                             "Programs/Elektro-Rechner.lnk"),
                 *drive.glob("users/*/AppData/Roaming/Microsoft/Windows/"
                             "Start Menu/Programs/Elektro-Rechner.lnk")]
        self.assertEqual(link_target(link.read_bytes()), exe)
        for name, value in (("DisplayVersion", VERSION),
                            ("Publisher", "ohmrechner maintainers"),
                            ("Language", "0x407"), ("NoModify", "0x1")):
            self.assertEqual(entry.get(name), value, name)
        self.assertRegex(entry.get("URLInfoAbout", ""), r"^https://")
        self.assertEqual(entry.get("HelpLink"), entry["URLInfoAbout"])
        self.assertIn(f"/X{code}", entry["UninstallString"])
        # Windows names the icon in DisplayIcon; Wine only keeps it.
        self.assertTrue((drive / f"windows/Installer/{code}/"
                         "ohmrechner.ico").exists())

    def check_removed(self, wine, drive, code):
        left = [p for p in drive.rglob("*") if re.search(
            r"ohmrechner|Elektro-Rechner|" + re.escape(code), str(p), re.I)]
        self.assertEqual(left, [])
        self.assertNotEqual(wine("reg", "query",
                                 r"HKLM\Software\ohmrechner").returncode, 0)
