"""The build as distributions run it: their build types, with and
without the flags dpkg-buildflags exports, and unpacked inside another
repository."""

import json
import os
import pathlib
import shutil
import subprocess
import tempfile
import unittest

from machinery.common import ENV, TOP, readelf

CMAKE = os.environ.get("CMAKE_COMMAND", "cmake")

# Each build type a distribution may pass, with dpkg-buildflags' flags
# (-O2) or none, and whether the program then has checked libc calls:
# wherever the build is optimised.
BUILDS = [(build_type, dpkg, dpkg or build_type in ("Release",
                                                   "RelWithDebInfo"))
          for build_type in ("None", "", "Release", "RelWithDebInfo", "Debug")
          for dpkg in (False, True)]


def buildflags():
    """The environment dpkg-buildflags gives a package that asks for all
    of Debian's hardening."""
    env = dict(ENV, DEB_BUILD_MAINT_OPTIONS="hardening=+all")
    return {name: subprocess.run(["dpkg-buildflags", "--get", name],
                                 env=env, capture_output=True, text=True,
                                 check=True).stdout.strip()
            for name in ("CFLAGS", "CXXFLAGS", "CPPFLAGS", "LDFLAGS")}


def build(source, into, build_type, env):
    subprocess.run([CMAKE, "-S", source, "-B", into,
                    f"-DCMAKE_BUILD_TYPE={build_type}",
                    "-DCMAKE_EXPORT_COMPILE_COMMANDS=ON",
                    "-DBUILD_TESTING=OFF", "-DOHMRECHNER_STATIC=OFF"],
                   env=env, capture_output=True, check=True)
    subprocess.run([CMAKE, "--build", into, "--target", "ohmrechner"],
                   env=env, capture_output=True, check=True)


class Flags(unittest.TestCase):
    def test_build_types(self):
        given = buildflags()
        for build_type, dpkg, fortified in BUILDS:
            with self.subTest(build_type=build_type, dpkg=dpkg), \
                    tempfile.TemporaryDirectory() as into:
                build(TOP, into, build_type,
                      dict(ENV, **given) if dpkg else ENV)
                exe = pathlib.Path(into, "ohmrechner")
                self.assertIn("DYN (", readelf("--file-header", binary=exe))
                self.assertIn("GNU_RELRO", readelf("--segments", binary=exe))
                self.assertRegex(readelf("--dynamic", binary=exe),
                                 r"\(FLAGS\).*\bBIND_NOW\b")
                symbols = readelf("--syms", binary=exe)
                self.assertIn("__stack_chk_fail", symbols)
                self.assertEqual("__printf_chk" in symbols, fortified)
                # Warnings stay warnings; a distributor's flags stand as
                # given, not undone by later ones of ours.
                line, = [c["command"].split() for c in json.loads(
                    pathlib.Path(into, "compile_commands.json").read_text())
                    if c["file"].endswith("main.cpp")]
                self.assertNotIn("-Werror", line)
                if dpkg:
                    flags = (given["CXXFLAGS"] + " " + given["CPPFLAGS"])
                    self.assertLessEqual(set(flags.split()), set(line))
                    self.assertNotIn("-U_FORTIFY_SOURCE", line)
                    p = subprocess.run(["hardening-check", "--nocfprotection",
                                        exe], capture_output=True, text=True)
                    self.assertEqual(p.returncode, 0, p.stdout)

    def test_date_inside_another_repository(self):
        # The source's own time, not that of the repository around it.
        with tempfile.TemporaryDirectory() as outer:
            git = ["git", "-C", outer, "-c", "user.name=x",
                   "-c", "user.email=x@x.invalid"]
            subprocess.run(git + ["init", "-q"], check=True)
            subprocess.run(git + ["commit", "-q", "--allow-empty", "-m", "x"],
                           env=dict(ENV, GIT_COMMITTER_DATE="@1000000000"),
                           check=True)
            source = pathlib.Path(outer, "ohmrechner")
            shutil.copytree(TOP, source, ignore=shutil.ignore_patterns(
                ".git", "build", "node_modules"))
            os.utime(source / "CMakeLists.txt", (1234567890, 1234567890))
            subprocess.run([CMAKE, "-S", source, "-B", source / "build",
                            "-DBUILD_TESTING=OFF"],
                           env=ENV, capture_output=True, check=True)
            config = (source / "build/CPackConfig.cmake").read_text()
        self.assertIn('set(CPACK_SOURCE_DATE_EPOCH "1234567890")', config)


if __name__ == "__main__":
    unittest.main()
