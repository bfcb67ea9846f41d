"""What the tree says of its licence: REUSE's record, which the source
tarball carries, and Debian's copyright file, which says it again in
Debian's folder and must not say otherwise."""

import unittest

from machinery.common import LICENCE, TOP, stanzas


class Licence(unittest.TestCase):
    def test_debian_says_what_reuse_says(self):
        if not (TOP / "debian").exists():
            self.skipTest("the source tarball leaves Debian's folder out")
        debian = stanzas(TOP / "debian/copyright")
        # Debian's file gives the licence's text too, as its own stanza.
        text, = [s for s in debian if list(s) == ["License"]]
        self.assertEqual(stanzas(TOP / ".reuse/dep5"),
                         [s for s in debian if s is not text])
        # And that text is LICENSE's, whose holder is the record's.
        title, _, holder, _, *terms = LICENCE.strip().splitlines()
        files, = [s for s in debian if "Files" in s]
        self.assertEqual((title, holder),
                         (f"{files['License']} License",
                          f"Copyright (c) {files['Copyright']}"))
        name, _, body = text["License"].partition("\n")
        self.assertEqual(name, files["License"])
        self.assertEqual([line.strip().replace(".", "", line.strip() == ".")
                          for line in body.splitlines()], terms)

if __name__ == "__main__":
    unittest.main()
