"""A blind pupil's session: Orca, the screen reader, on a desktop of its
own (machinery/desktop.py), hears the page in Chromium and Firefox, and
the program in GNOME Terminal."""

import contextlib
import re
import sys
import unittest

import tables
from machinery.common import EXE, PAGE
from machinery.desktop import Desktop

# The choices, each a line to be heard; the pause, as Orca says it,
# without the dots.
MENU = [line for line in tables.MENU.decode("cp1252").splitlines()
        if line[:1].isdigit()]
PAUSE = tables.PAUSE.decode().rstrip(" .")

# What the user types, and what must then be spoken, once and in this
# order; None: the menu of a fresh run.
SESSION = [
    ("2", ["U ="]),
    ("10", ["I ="]),
    ("3", ["R = 3.333333 Ohm", PAUSE]),
    (None, MENU),
    # Read on without waiting: both prompts together, as they stand.
    ("2.5", ["U = I ="]),
    ("3", ["R = 0.166667 Ohm", PAUSE]),
]

FIREFOX_PREFS = """user_pref("browser.aboutwelcome.enabled", false);
user_pref("browser.shell.checkDefaultBrowser", false);
user_pref("browser.startup.homepage_override.mstone", "ignore");
user_pref("datareporting.policy.dataSubmissionEnabled", false);
user_pref("toolkit.telemetry.reportingpolicy.firstRun", false);
"""


def count(said, text):
    """How often text is said as a whole, not as part of a longer text."""
    return len(re.findall(r"(?<![\w=(.])" + re.escape(text)
                          + r"(?![\w=.])", said))


@contextlib.contextmanager
def step(typed):
    """A step that fails ends the session, and says which it was: the
    next would only wait out its time for what cannot come."""
    try:
        yield
    except AssertionError as e:
        raise AssertionError(f"after {typed!r}: {e}") from None


class Reader:
    """One session with the reader in one program: what it must say after
    each step, and, where strict, what it must not say again."""

    argv = None
    ready = MENU[-1]
    steps = SESSION
    strict = True

    def setUp(self):
        self.desktop = Desktop()
        self.addCleanup(self.desktop.stop)

    def test_session(self):
        d = self.desktop
        d.start(self.argv(d.folder))
        d.wait_for(self.ready, timeout=60)
        said = d.quiet(0)
        # No browser offers to translate the console under the reader.
        self.assertNotIn("Translate", said)
        if self.strict:
            for line in MENU:
                self.assertEqual(count(said, line), 1, said)
        else:
            sys.stderr.write(f"The start menu is spoken: "
                             f"{'yes' if MENU[-1] in said else 'no'}\n")
        for typed, expected in self.steps:
            with step(typed):
                since = len(d.spoken())
                d.keys(typed)
                d.wait_for(expected[-1], since)
                said = d.quiet(since)
                # In order; where strict, each once, and nothing of the
                # menu but a fresh one.
                at = [said.find(text) for text in expected]
                self.assertNotIn(-1, at, said)
                self.assertEqual(at, sorted(at), said)
                if not self.strict:
                    continue
                for text in expected + MENU * (expected != MENU):
                    self.assertEqual(count(said, text), text in expected,
                                     said)
                # The typed line: said key by key as it is typed (Orca may
                # say a key twice, as pressed and as inserted), and not
                # again once Enter has sent it.
                if typed:
                    sent = said.partition(" return ")[2]
                    self.assertEqual(count(sent, typed), 0, said)


class OrcaChromium(Reader, unittest.TestCase):
    @staticmethod
    def argv(folder):
        # An English interface, which offers to translate a German page
        # that does not say no: a translation moves the focus, and
        # rewrites the console under the reader.
        return ["env", "LANGUAGE=en_US", "chromium", "--lang=en-US",
                "--no-sandbox", "--disable-gpu", "--no-first-run",
                "--disable-background-networking", "--disable-sync",
                "--disable-component-update", "--force-renderer-accessibility",
                f"--user-data-dir={folder}/chromium",
                PAGE.resolve().as_uri()]


class OrcaFirefox(Reader, unittest.TestCase):
    @staticmethod
    def argv(folder):
        # A new profile's first start would open pages of its own.
        (folder / "firefox").mkdir()
        (folder / "firefox/user.js").write_text(FIREFOX_PREFS)
        return ["firefox-esr", "--no-remote", "--new-instance", "--profile",
                f"{folder}/firefox", PAGE.resolve().as_uri()]


class OrcaTerminal(Reader, unittest.TestCase):
    """The program in GNOME Terminal, a VTE terminal.  Whether Orca speaks
    the menu that the program writes at start depends on when Orca finds
    the window; the test says which it was."""

    ready = "Terminal"
    steps = SESSION[:3]
    strict = False

    @staticmethod
    def argv(folder):
        return ["gnome-terminal", "--wait", "--", EXE]


if __name__ == "__main__":
    unittest.main()
