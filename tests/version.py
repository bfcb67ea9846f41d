"""The version, and the downloads' names, in what is written by hand: every
build checks them."""

import re
import subprocess
import unittest

from machinery.common import RELEASED, TOP, VERSION

DOCS = [*TOP.glob("*.md"), *TOP.glob("docs/*"), *TOP.glob("debian/README*")]


class Version(unittest.TestCase):
    """What is written by hand must follow the build's version."""

    def test_changelogs(self):
        # Debian's own packaging is not in the source tarball; where it
        # is, its upstream version follows too.
        for log in ("pkg/linux/changelog", "debian/changelog"):
            if log.startswith("debian/") and not (TOP / log).exists():
                continue
            with self.subTest(log):
                newest = subprocess.run(
                    ["dpkg-parsechangelog", "-l", TOP / log, "-SVersion"],
                    capture_output=True, text=True, check=True)
                self.assertEqual(newest.stdout.strip().split("-")[0],
                                 VERSION)

    def test_no_derived_code_by_hand(self):
        # A ProductCode follows the version; only the UpgradeCode, which
        # never changes, may stand in a document.
        upgrade = re.search(r"set\(upgrade_code (\S+)\)",
                            (TOP / "pkg/CMakeLists.txt").read_text())[1]
        for doc in DOCS:
            with self.subTest(doc.name):
                self.assertLessEqual(set(re.findall(
                    r"[0-9A-F]{8}(?:-[0-9A-F]{4}){3}-[0-9A-F]{12}",
                    doc.read_text(), re.I)), {upgrade})

    def test_artifact_names(self):
        # Each download a document names is one that RELEASING.md's table
        # lists: <cpu> stands for any, a path for the tarball it is in.
        # Debian names our source tarball its own way.
        for doc in DOCS:
            for name in set(re.findall(r"ohmrechner[-_]<version>[\w.<>/-]*",
                                       doc.read_text())):
                name = name.rstrip(".").split("/")[0]
                like = re.escape(name).replace("<cpu>", r"\w+")
                with self.subTest(doc=doc.name, name=name):
                    self.assertTrue(name.endswith(".orig.tar.gz") or any(
                        re.fullmatch(like + r"(\.tar\.gz)?", n)
                        for n in RELEASED))


if __name__ == "__main__":
    unittest.main()
