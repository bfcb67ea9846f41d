"""The packages as their users take them: checked, unpacked or installed,
and the program run from there."""

import codecs
import gzip
import json
import os
import pathlib
import re
import shutil
import subprocess
import tarfile
import tempfile
import unittest

from machinery import wineup
from machinery.common import (ARCH, EMULATOR, ENV, EXE, LICENCE, PACKAGES,
                              TOP, UNPACKED, VERSION, WINDOWS, plain, readelf,
                              screen, stanzas, versions)
from tables import WORKED


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


# What each download's program must carry notices for, whatever its link
# record says: the C library and the compiler's runtime, by source.
CARRIED = {"linux": {"glibc", "gcc-12"}, "exe": {"mingw-w64", "gcc-12"},
           "js": {"emscripten"}}


def owes(test, kind, target, notices):
    """The notices hold, for each library that the link recorded, its
    name, version and licence, and Debian's copyright file whole."""
    record = pathlib.Path(os.environ["OHMRECHNER_PARTS"], f"{target}.json")
    parts = json.loads(record.read_text())["parts"]
    test.assertLessEqual(CARRIED[kind], {p["source"] for p in parts})
    text = notices.decode("utf-8-sig").replace("\r\n", "\n")
    for p in parts:
        with test.subTest(p["package"]):
            copyright = pathlib.Path(f"/usr/share/doc/{p['package']}/"
                                     "copyright").read_text()
            for words in (f"{p['source']} {p['source_version']}",
                          p["licence"], copyright.rstrip()):
                test.assertTrue(words in text, f"no {words[:72]!r}")


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
        for heading in ("ÜBERSICHT", "OPTIONEN", "RECHNUNGEN", "EINGABE", "GENAUIGKEIT",
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
        self.assertEqual(deb.name, f"ohmrechner_{VERSION}_{ARCH}.deb")
        self.assertEqual(set(versions(deb).values()), {VERSION})
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

        # Debian's record of the licence; its changes' version is above.
        doc = usr / "share/doc/ohmrechner"
        copyright = (doc / "copyright").read_text()
        self.assertRegex(copyright, r"^Format: https://www\.debian\.org/doc/"
                         r"packaging-manuals/copyright-format/1\.0/\n")
        self.assertIn("\nFiles: *\nCopyright: 2026 ohmrechner maintainers\n"
                      "License: MIT\n", copyright)
        terms = LICENCE.split("\n\n", 2)[2].strip()
        self.assertIn((" " + terms.replace("\n", "\n "))
                      .replace("\n \n", "\n .\n"), copyright)

        # What it says of itself, and its copyright record, Debian's own
        # packaging says too, where the formats allow: the source tarball
        # leaves that folder out.
        if (TOP / "debian").exists():
            control = {k: v for s in stanzas(TOP / "debian/control")
                       for k, v in s.items()}
            for name in ("Section", "Maintainer", "Homepage", "Description"):
                self.assertEqual(field(name).split(), control[name].split())
            ours = stanzas(TOP / "debian/copyright")
            del ours[0]["Source"]
            self.assertEqual(stanzas(doc / "copyright"), ours)

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
                 for name in ("LICENSE", "LIESMICH", "LIZENZEN",
                              "ohmrechner", "ohmrechner.1")])
            shutil.rmtree(UNPACKED, ignore_errors=True)
            t.extractall(UNPACKED)
        folder = UNPACKED / top
        self.assertEqual((folder / "LICENSE").read_text(), LICENCE)
        owes(self, "linux", "ohmrechner-static",
             (folder / "LIZENZEN").read_bytes())
        readme = (folder / "LIESMICH").read_text()
        for words in (f"tar xzf {tarball.name}",
                      "gpg --verify SHA256SUMS.asc SHA256SUMS",
                      "sha256sum -c --ignore-missing SHA256SUMS"):
            self.assertIn(words, readme)
        # No interpreter and no shared library: it runs on any Linux.
        self.assertNotIn("INTERP", readelf("--segments",
                                           binary=folder / "ohmrechner"))
        page = subprocess.run(["groff", "-man", "-Tutf8", "-ww"],
                              input=(folder / "ohmrechner.1").read_bytes(),
                              capture_output=True, check=True)
        self.assertEqual(page.stderr, b"")


# What a portable archive holds: for Windows, or the web page.
ARCHIVED = {
    "exe": ["LICENSE.txt", "LIESMICH.txt", "LIZENZEN.txt", "ohmrechner.exe"],
    "js": ["LICENSE", "LIZENZEN.txt", "barrierefreiheit.html",
           "icons/apple-touch-icon.png",
           "icons/icon-192.png", "icons/icon-512.png",
           "icons/icon-maskable.png", "manifest.json", "ohmrechner.html",
           "sw.js"],
}

# What the accessibility statement must tell the host, among the rest: the
# standards it is measured by, and where the host's own part goes.
STATEMENT = ["BITV 2.0", "EN 301 549", "WCAG 2.1", "Stufe AA",
             "Bekannte Einschränkungen", "Schlichtungsverfahren", "[Datum]",
             "[Name der Stelle]"]

# What the Windows readme must tell, among the rest: how to start the
# program, how to get past SmartScreen, and how to check the download.
LIESMICH = ["Doppelklick auf ohmrechner.exe", "Weitere Informationen",
            "Trotzdem ausführen", "Get-FileHash", "genau eine Datei SHA256SUMS",
            "SHA256SUMS.asc", "Gpg4win", "MIT", "Windows-Installer-Paket",
            "msiexec /i", "Gruppenrichtlinie", "Intune", "opsi",
            "Erkennungsregel", "OHMRECHNER_AUTHENTICODE_P12"]


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
        kind = EXE.rsplit(".", 1)[1]
        owes(self, kind, "ohmrechner", (folder / "LIZENZEN.txt").read_bytes())
        if not WINDOWS:
            statement = (folder / "barrierefreiheit.html").read_text()
            for words in STATEMENT:
                self.assertIn(words, statement)
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
                wineup.up(env, lasting=False)
                silently(setup)
                where = re.search(r"InstallLocation\s+REG_SZ\s+(.*?)\r?$",
                                  wine("reg", "query", self.KEY).stdout
                                  .decode(), re.M)[1]
                self.assertRegex(where, r"^C:\\Program Files( \(x86\))?\\")
                exe = where + r"\ohmrechner.exe"
                self.assertEqual(plain((unix(where) / "LICENSE.txt")
                                       .read_bytes()), LICENCE.encode())
                owes(self, "exe", "ohmrechner",
                     (unix(where) / "LIZENZEN.txt").read_bytes())
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
                wineup.down(env)
