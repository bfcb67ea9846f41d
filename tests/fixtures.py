"""The tests' own fixtures, tested: what the other groups stand on."""

import json
import os
import pathlib
import subprocess
import sys
import tempfile
import unittest

from machinery import ia32


class Ia32(unittest.TestCase):
    """The 32-bit fixture's own answers, which every Windows test
    stands on.
    Each refusal runs `up` in a folder of its own, so as not to touch the
    fixture's state."""

    def test_probe_says_how(self):
        # Under the fixture, the way asked for is the way taken.
        found = ia32.probe()
        self.assertIn(found, ("native", "emulated"))
        self.assertEqual(found == "emulated", ia32.ENTRY.exists())
        if ia32.mode():
            self.assertEqual(found, {"native": "native",
                                     "qemu": "emulated"}[ia32.mode()])

    def test_refusals_say_why(self):
        # Each way that cannot be taken is refused at once, in one line
        # that names the cause and the way out.  binfmt_misc where it is
        # not mounted yet, for one who may not mount it.
        nobody = "nobody" if os.geteuid() == 0 else None
        cases = [({"OHMRECHNER_IA32": "wine"}, None,
                  "native, qemu or unset"),
                 ({"OHMRECHNER_IA32": "qemu", "OHMRECHNER_BINFMT": "binfmt"},
                  nobody, "as root, on a kernel with binfmt_misc")]
        if json.loads(ia32.STATE.read_text())["kernel"] != "native":
            cases.append(({"OHMRECHNER_IA32": "native"}, None,
                          "does not run 32-bit x86 code itself: unset it"))
        for env, user, words in cases:
            with self.subTest(env=env, user=user), \
                    tempfile.TemporaryDirectory() as folder:
                os.chmod(folder, 0o777)
                (pathlib.Path(folder) / "probe").symlink_to(
                    ia32.PROBE.resolve())
                (pathlib.Path(folder) / "binfmt").mkdir()
                argv = [sys.executable, os.path.abspath(ia32.__file__), "up"]
                if user:
                    argv = ["setpriv", f"--reuid={user}", "--regid=nogroup",
                            "--clear-groups", *argv]
                p = subprocess.run(
                    argv, capture_output=True, text=True, timeout=120,
                    cwd=folder,
                    env=dict(os.environ, **env, OHMRECHNER_IA32_DIR=folder))
                self.assertEqual(p.returncode, 1)
                self.assertEqual(p.stdout, "")
                self.assertEqual(len(p.stderr.splitlines()), 1, p.stderr)
                self.assertIn(words, p.stderr)


if __name__ == "__main__":
    unittest.main()
