"""A blind pupil's session: Orca, the screen reader, on a desktop of its
own (Xvfb, a session bus, the accessibility bus), with speech-dispatcher
writing down what it would speak.  The keys come from xdotool, as from a
keyboard.  The page in Chromium and Firefox, the program in GNOME
Terminal."""

import os
import pathlib
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest

from common import EXE, PAGE, XVFB, until

MENU = ["1 = Spannung berechnen (U = R * I)",
        "2 = Widerstand berechnen (R = U / I)",
        "3 = Strom berechnen (I = U / R)",
        "4 = Leistung berechnen (P = U * I)"]
PAUSE = "Weiter mit beliebiger Taste"

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

# speech-dispatcher's generic module hands each text to a shell command:
# here, one that writes it down instead of speaking.
SPEECHD = """AudioOutputMethod "libao"
AddModule "log" "sd_generic" "log.conf"
DefaultModule log
DefaultLanguage "de"
"""
LOG_MODULE = """GenericExecuteSynth "printf '%s\\\\n' \\'$DATA\\' >> {log}"
GenericLanguage "de" "de" "utf-8"
AddVoice "de" "MALE1" "de"
DefaultVoice "de"
"""


FIREFOX_PREFS = """user_pref("browser.aboutwelcome.enabled", false);
user_pref("browser.shell.checkDefaultBrowser", false);
user_pref("browser.startup.homepage_override.mstone", "ignore");
user_pref("datareporting.policy.dataSubmissionEnabled", false);
user_pref("toolkit.telemetry.reportingpolicy.firstRun", false);
"""


class Desktop:
    """Xvfb, a session bus, speech-dispatcher and Orca, until stopped;
    each started in a session of its own, so that stopping it stops all
    that it started."""

    def __init__(self):
        self.folder = pathlib.Path(tempfile.mkdtemp())
        self.log = self.folder / "spoken"
        self.log.touch()
        self.socket = self.folder / "speechd.sock"
        self.started = []
        run = self.folder / "run"
        run.mkdir(mode=0o700)
        conf = self.folder / "speechd"
        (conf / "modules").mkdir(parents=True)
        (conf / "speechd.conf").write_text(SPEECHD)
        (conf / "modules/log.conf").write_text(
            LOG_MODULE.format(log=self.log))
        # libao's null driver: no sound card is needed.
        (self.folder / ".libao").write_text("default_driver=null\n")
        self.env = {"PATH": os.environ.get("PATH", "/usr/bin:/bin"),
                    "HOME": str(self.folder), "XDG_RUNTIME_DIR": str(run),
                    "LANG": "C.UTF-8", "GSETTINGS_BACKEND": "memory",
                    "GNOME_ACCESSIBILITY": "1",
                    "SPEECHD_ADDRESS": f"unix_socket:{self.socket}"}
        try:
            self.env["DISPLAY"] = ":" + self.first_line(XVFB)
            # Services the bus starts, GNOME Terminal's among them, take
            # its environment.
            self.env["DBUS_SESSION_BUS_ADDRESS"] = self.first_line(
                ["dbus-daemon", "--session", "--nofork", "--print-address=1"])
            self.start(["speech-dispatcher", "-s", "-C", conf, "-c",
                        "unix_socket", "-S", self.socket, "-t", "0"])
            self.start(["orca", "--replace"])
            self.wait_for("Screen reader on", timeout=60)
        except BaseException:
            self.stop()
            raise

    def first_line(self, argv):
        p = self.start(argv, stdout=subprocess.PIPE)
        with p.stdout:
            line = p.stdout.readline().decode().strip()
        if not line:
            raise AssertionError(f"{argv[0]} did not start")
        return line

    def start(self, argv, **kwargs):
        p = subprocess.Popen(argv, env=self.env, start_new_session=True,
                             stdin=subprocess.DEVNULL,
                             stdout=kwargs.pop("stdout", subprocess.DEVNULL),
                             stderr=subprocess.DEVNULL, **kwargs)
        self.started.append(p)
        return p

    def spoken(self):
        """All said so far, white space folded, without the marks that
        Orca sets to follow the speech."""
        text = self.log.read_bytes().decode("utf-8", "replace")
        return " ".join(re.sub(r"<mark [^>]*/>", " ", text).split())

    def wait_for(self, text, since=0, timeout=30):
        until(lambda: text in self.spoken()[since:],
              f"Orca never said {text!r}: {self.spoken()[since:]!r}",
              timeout)

    def quiet(self, since):
        """What is said since then, once a second has passed in silence."""
        until(lambda: self.log.stat().st_mtime < time.time() - 1,
              "Orca never fell silent", 30)
        return self.spoken()[since:]

    def keys(self, text):
        """Types text and sends it with Enter, or presses a key.  Before
        Enter, as a listener would, it waits for the last key's echo and
        a second of silence: Orca takes the field's text change after the
        key itself, and one that comes after Enter it speaks again, as if
        the page had put the text there."""
        if text:
            since = len(self.spoken())
            subprocess.run(["xdotool", "type", "--delay", "80", text],
                           env=self.env, check=True)
            self.wait_for(text[-1], since)
            self.quiet(since)
        subprocess.run(["xdotool", "key", "Return" if text else "x"],
                       env=self.env, check=True)

    def stop(self):
        for p in reversed(self.started):
            try:
                os.killpg(p.pid, signal.SIGTERM)
            except ProcessLookupError:
                pass
            try:
                p.wait(10)
            except subprocess.TimeoutExpired:
                os.killpg(p.pid, signal.SIGKILL)
                p.wait()
        shutil.rmtree(self.folder, ignore_errors=True)


def count(said, text):
    """How often text is said as a whole, not as part of a longer text."""
    return len(re.findall(r"(?<![\w=(.])" + re.escape(text)
                          + r"(?![\w=.])", said))


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
        if self.strict:
            for line in MENU:
                self.assertEqual(count(said, line), 1, said)
        else:
            sys.stderr.write(f"The start menu is spoken: "
                             f"{'yes' if MENU[-1] in said else 'no'}\n")
        for typed, expected in self.steps:
            with self.subTest(typed=typed):
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
        return ["chromium", "--no-sandbox", "--disable-gpu", "--no-first-run",
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
