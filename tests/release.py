"""The release as its users download it: one folder, one SHA256SUMS, its
signature, and one version in every artifact.  OHMRECHNER_RELEASE names
the folder."""

import hashlib
import json
import os
import pathlib
import re
import shutil
import subprocess
import tarfile
import tempfile
import unittest

from machinery.common import RELEASED, TOP, VERSION, versions

RELEASE = pathlib.Path(os.environ.get("OHMRECHNER_RELEASE", "release"))
SOURCE = RELEASE / f"ohmrechner-{VERSION}.tar.gz"
BILL = RELEASE / f"ohmrechner-{VERSION}.cdx.json"
BOM = json.loads(BILL.read_text()) if BILL.exists() else {"components": []}
# Each library in a download, as its link recorded it.
PARTS = [(c["name"], part) for c in BOM["components"]
         for part in c.get("components", [])[1:]]
# The source each library is owed by, where a download owes its source.
OWED = [(name, p["pedigree"]["ancestors"][0]) for name, p in PARTS
        if "externalReferences" in p["pedigree"]["ancestors"][0]]
GLIBC = {s["version"] for _, s in OWED if s["name"] == "glibc"}
glibc = GLIBC.pop() if len(GLIBC) == 1 else "?"
OURS = lambda n: n.startswith("ohmrechner")

# Every artifact that the build makes, for this version.
ARTIFACTS = sorted(
    n.replace("<version>", VERSION).replace("<glibc>", glibc)
    for n in RELEASED if not n.endswith(".asc") and n != "SHA256SUMS")
# Each signature, and what it signs.
SIGNED = {"SHA256SUMS.asc": "SHA256SUMS", SOURCE.name + ".asc": SOURCE.name}


def changed(path):
    """A copy of path in a folder of its own, one byte in it changed."""
    folder = tempfile.mkdtemp()
    copy = pathlib.Path(folder, path.name)
    data = bytearray(path.read_bytes())
    data[len(data) // 2] ^= 1
    copy.write_bytes(data)
    return copy


def unzipped(archive, name, into):
    subprocess.run(["unzip", "-q", archive, f"*/{name}", "-d", into],
                   check=True)
    found, = pathlib.Path(into).glob(f"*/{name}")
    return found


def unowed(folder):
    """Each owed source that the folder does not hold at the version the
    download's link took, as its bill and its own notices name it."""
    faults = []
    for name, source in OWED:
        file, = (r["url"] for r in source["externalReferences"])
        # The .deb says it Debian's way, in its copyright file.
        if name.endswith(".tar.gz"):
            with tarfile.open(RELEASE / name) as t:
                notices = t.extractfile(f"{name[:-7]}/LIZENZEN").read()
            if f"Quelltext / source: {file} " not in notices.decode():
                faults.append(f"{name}'s LIZENZEN does not name {file}")
        if not (folder / file).exists():
            faults.append(f"{name} owes {file}, which is not there")
            continue
        holds = subprocess.run(
            ["dpkg-deb", "--show", "--showformat",
             "${source:Package} ${source:Version}", folder / file],
            capture_output=True, text=True, check=True).stdout
        if holds != f"{source['name']} {source['version']}":
            faults.append(f"{name} took {source['name']} "
                          f"{source['version']}; {file} holds {holds}")
    return faults


def windows_files(into):
    """Each Windows file that a certificate signs: the installers, and
    the programs (and the uninstaller) inside each package."""
    win32 = lambda kind: RELEASE / f"ohmrechner-{VERSION}-win32{kind}"
    into = pathlib.Path(into)
    for argv in (["7z", "x", f"-o{into}/setup", win32("-setup.exe"), "*.exe"],
                 ["msiextract", "-C", into / "msi", win32(".msi")]):
        subprocess.run(argv, check=True, capture_output=True)
    unzipped(win32(".zip"), "ohmrechner.exe", into / "zip")
    return [win32("-setup.exe"), win32(".msi"), *sorted(into.rglob("*.exe"))]


class Release(unittest.TestCase):
    def test_folder(self):
        names = sorted(p.name for p in RELEASE.iterdir())
        signed = list(SIGNED) if "SHA256SUMS.asc" in names else []
        self.assertEqual(names, sorted(ARTIFACTS + ["SHA256SUMS"] + signed))

    def test_sums(self):
        listed = [line.split("  ", 1)[1] for line in
                  (RELEASE / "SHA256SUMS").read_text().splitlines()]
        self.assertEqual(listed, ARTIFACTS)
        check = ["sha256sum", "--check", "--strict", "--quiet"]
        subprocess.run(check + ["SHA256SUMS"], cwd=RELEASE, check=True)
        # An artifact that changed on its way no longer passes.
        bad = changed(RELEASE / ARTIFACTS[0])
        self.addCleanup(shutil.rmtree, bad.parent)
        shutil.copy(RELEASE / "SHA256SUMS", bad.parent)
        p = subprocess.run(check + ["--ignore-missing", "SHA256SUMS"],
                           cwd=bad.parent, capture_output=True)
        self.assertNotEqual(p.returncode, 0)

    def test_signatures(self):
        if not (RELEASE / "SHA256SUMS.asc").exists():
            self.skipTest("made without a signing key")
        for asc, name in SIGNED.items():
            with self.subTest(asc):
                signature = RELEASE / asc
                self.assertTrue(signature.read_text().startswith(
                    "-----BEGIN PGP SIGNATURE-----\n"))
                verify = ["gpg", "--batch", "--verify", signature]
                p = subprocess.run(verify + [RELEASE / name],
                                   capture_output=True)
                self.assertEqual(p.returncode, 0, p.stderr)
                bad = changed(RELEASE / name)
                self.addCleanup(shutil.rmtree, bad.parent)
                p = subprocess.run(verify + [bad], capture_output=True)
                self.assertNotEqual(p.returncode, 0)

    def test_authenticode(self):
        # Signed with the certificate given, checked against its CA where
        # that is not one Debian trusts; or, without one, none signed.
        signed = bool(os.environ.get("OHMRECHNER_AUTHENTICODE_P12"))
        ca = os.environ.get("OHMRECHNER_AUTHENTICODE_CA")
        verify = ["osslsigncode", "verify"] + (["-CAfile", ca] if ca else [])
        with tempfile.TemporaryDirectory() as into:
            for path in windows_files(into):
                with self.subTest(str(path).replace(into, "")):
                    p = subprocess.run(verify + ["-in", path],
                                       capture_output=True, text=True)
                    if not signed:
                        self.assertIn("Unable to extract existing signature",
                                      p.stderr)
                        continue
                    self.assertEqual(p.returncode, 0, p.stdout)
                    bad = changed(path)
                    self.addCleanup(shutil.rmtree, bad.parent)
                    p = subprocess.run(verify + ["-in", bad],
                                       capture_output=True)
                    self.assertNotEqual(p.returncode, 0)

    def test_source(self):
        # The commit's tree, less what only git, CI and the maintainer
        # need, and less Debian's own folder.
        with tarfile.open(SOURCE) as t:
            names = {m.name.split("/", 1)[1] for m in t.getmembers()
                     if "/" in m.name}
        tracked = set(subprocess.run(
            ["git", "ls-files"], cwd=TOP, capture_output=True, text=True,
            check=True).stdout.split())
        left_out = tracked - names
        self.assertIn("CMakeLists.txt", names)
        folders = [".ci", "debian", "tools/maintainer"]
        self.assertEqual({next((f for f in folders if n.startswith(f + "/")),
                               n) for n in left_out},
                         {*folders, ".gitattributes", ".gitignore"})
        # It says its own licence by machine, as the checkout does.
        # tar, not tarfile: the release check may run on a Python older
        # than extraction filters.
        with tempfile.TemporaryDirectory() as folder:
            subprocess.run(["tar", "-xf", SOURCE, "-C", folder], check=True)
            subprocess.run(["reuse", "--root", f"{folder}/ohmrechner-{VERSION}",
                            "lint"], check=True, capture_output=True)

    def test_buildinfo(self):
        info = (RELEASE / f"ohmrechner-{VERSION}.buildinfo").read_text()
        commit = subprocess.run(["git", "rev-parse", "HEAD"], cwd=TOP,
                                capture_output=True, text=True, check=True)
        self.assertIn(f"\nCommit: {commit.stdout}", info)
        self.assertRegex(info, r"\nSource-Date-Epoch: \d+\n")
        self.assertRegex(info, r"\nBuild-Distribution: \w+ \d+\.\d+\n")
        for tool in ("g++-12", "binutils-x86-64-linux-gnu", "nsis", "wixl",
                     "cmake", *{p["name"] for _, p in PARTS}):
            self.assertRegex(info, rf"\n {re.escape(tool)} \(= [^)]+\)")

    def test_bill(self):
        # The schema, as the pinned validator holds it; then every file.
        check = ("const c = require('@cyclonedx/cyclonedx-library');"
                 "new c.Validation.JsonStrictValidator('1.6')"
                 ".validate(require('fs').readFileSync(0, 'utf8'))"
                 ".then(e => { if (e) { console.log(JSON.stringify(e));"
                 " process.exitCode = 1; } })")
        p = subprocess.run(["node", "-e", check], input=BILL.read_text(),
                           cwd=TOP, capture_output=True, text=True)
        self.assertEqual((p.returncode, p.stdout, p.stderr), (0, "", ""))
        self.assertEqual(
            {c["name"]: c["hashes"][0]["content"] for c in BOM["components"]},
            {n: hashlib.sha512((RELEASE / n).read_bytes()).hexdigest()
             for n in ARTIFACTS if n != BILL.name})
        # Every component says its licence.
        def each(components):
            for c in components:
                yield c
                yield from each(c.get("components", []))
        self.assertEqual([c["bom-ref"] for c in each(BOM["components"])
                          if not c.get("licenses")], [])
        # Each program download names its C library.
        self.assertEqual({n for n, p in PARTS if p["name"].startswith(
            ("libc6-dev", "mingw-w64", "emscripten"))},
            {n for n in ARTIFACTS if OURS(n) and re.search(
                r"\.(deb|tar\.gz|zip|msi|exe)$", n) and n != SOURCE.name})

    def test_glibc_source(self):
        # Every static program, each processor's, owes glibc's source.
        static = {n for n in ARTIFACTS
                  if n.endswith(".tar.gz") and "-linux-" in n}
        self.assertEqual(len(static), 3)
        self.assertLessEqual(static, {n for n, _ in OWED})
        self.assertEqual(unowed(RELEASE), [])
        # A source of another version under the same name does not pass.
        file = OWED[0][1]["externalReferences"][0]["url"]
        with tempfile.TemporaryDirectory() as folder:
            debian = pathlib.Path(folder, "other/DEBIAN")
            debian.mkdir(parents=True)
            (debian / "control").write_text(
                "Package: glibc-source\nSource: glibc\nVersion: 2.0-1\n"
                "Architecture: all\nMaintainer: x <x@example.invalid>\n"
                "Description: another glibc\n")
            subprocess.run(["dpkg-deb", "--build", debian.parent,
                            pathlib.Path(folder, file)], check=True,
                           capture_output=True)
            self.assertIn("holds glibc 2.0-1", "\n".join(
                unowed(pathlib.Path(folder))))

    def test_one_version(self):
        with tempfile.TemporaryDirectory() as into:
            stating = [RELEASE / n for n in ARTIFACTS
                       if OURS(n) and n.endswith((".deb", ".msi"))]
            stating += [
                unzipped(RELEASE / f"ohmrechner-{VERSION}-win32.zip",
                         "ohmrechner.exe", into),
                unzipped(RELEASE / f"ohmrechner-{VERSION}-web.zip",
                         "ohmrechner.html", into)]
            for path in stating:
                with self.subTest(path.name):
                    said = versions(path)
                    self.assertEqual(said, dict.fromkeys(said, VERSION))


if __name__ == "__main__":
    unittest.main()
