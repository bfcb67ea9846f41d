"""The release as its users download it: one folder, one SHA256SUMS, its
signature, and one version in every artifact.  OHMRECHNER_RELEASE names
the folder."""

import os
import pathlib
import shutil
import subprocess
import tempfile
import unittest

from common import TOP, VERSION, versions

RELEASE = pathlib.Path(os.environ.get("OHMRECHNER_RELEASE", "release"))

# Every artifact of a release, for this version.
ARTIFACTS = sorted(
    [f"ohmrechner_{VERSION}_{arch}.deb" for arch in ("amd64", "arm64", "armhf")]
    + [f"ohmrechner-{VERSION}-linux-{cpu}.tar.gz"
       for cpu in ("x86_64", "aarch64", "armv7")]
    + [f"ohmrechner-{VERSION}-{name}"
       for name in ("win32.zip", "win32-setup.exe", "web.zip")])


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


class Version(unittest.TestCase):
    """What is written by hand must follow the build's version."""

    def test_changelog(self):
        newest = subprocess.run(
            ["dpkg-parsechangelog", "-l", TOP / "pkg/linux/changelog",
             "-SVersion"], capture_output=True, text=True, check=True)
        self.assertEqual(newest.stdout.strip(), VERSION)


class Release(unittest.TestCase):
    def test_folder(self):
        names = sorted(p.name for p in RELEASE.iterdir())
        signed = ["SHA256SUMS.asc"] if "SHA256SUMS.asc" in names else []
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

    def test_signature(self):
        signature = RELEASE / "SHA256SUMS.asc"
        if not signature.exists():
            self.skipTest("made without a signing key")
        self.assertTrue(signature.read_text().startswith(
            "-----BEGIN PGP SIGNATURE-----\n"))
        verify = ["gpg", "--batch", "--verify", signature]
        p = subprocess.run(verify + [RELEASE / "SHA256SUMS"],
                           capture_output=True)
        self.assertEqual(p.returncode, 0, p.stderr)
        bad = changed(RELEASE / "SHA256SUMS")
        self.addCleanup(shutil.rmtree, bad.parent)
        p = subprocess.run(verify + [bad], capture_output=True)
        self.assertNotEqual(p.returncode, 0)

    def test_one_version(self):
        with tempfile.TemporaryDirectory() as into:
            stating = [RELEASE / n for n in ARTIFACTS if n.endswith(".deb")]
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
