"""A desktop of a test's own for a screen reader: Xvfb, a session bus,
speech-dispatcher, Orca writing down what it says, and a listener writing
down the text that programs insert; the keys come from xdotool, as from a
keyboard."""

import codecs
import json
import os
import pathlib
import re
import shutil
import signal
import subprocess
import tempfile
import threading
import time
import tty

from machinery.common import XVFB, until

HERE = pathlib.Path(__file__).parent

# speech-dispatcher's generic module hands each text to a shell command:
# here, one that does nothing.  What Orca says is read from Orca's own
# record: speech-dispatcher drops an utterance that the next one
# interrupts before its module has begun it, and how many it drops
# depends on how busy the machine is.
SPEECHD = """AudioOutputMethod "libao"
AddModule "silent" "sd_generic" "silent.conf"
DefaultModule silent
DefaultLanguage "de"
"""
MODULE = """GenericExecuteSynth "true"
GenericLanguage "de" "de" "utf-8"
AddVoice "de" "MALE1" "de"
DefaultVoice "de"
"""
# Each utterance in Orca's record: its text, then the voice's settings,
# one or a list.
SAID = re.compile(r" - SPEECH OUTPUT: '(.*?)'(?: voice=\w+)? ?\[?\{['}]"
                  r"[^\n]*\n", re.S)


# What takes the keys, by role: the page's field, or the terminal.
FIELD = re.compile(r"(entry|terminal) .*")


def read(record):
    """What a terminal's other end has written, or nothing once it has
    closed."""
    try:
        return record.read(65536)
    except OSError:
        return b""


class Desktop:
    """Xvfb, a session bus, speech-dispatcher and Orca, until stopped;
    each started in a session of its own, so that stopping it stops all
    that it started."""

    def __init__(self):
        self.folder = pathlib.Path(tempfile.mkdtemp())
        self.said = []
        self.texts = self.folder / "inserted"
        self.socket = self.folder / "speechd.sock"
        self.started = []
        run = self.folder / "run"
        run.mkdir(mode=0o700)
        conf = self.folder / "speechd"
        (conf / "modules").mkdir(parents=True)
        (conf / "speechd.conf").write_text(SPEECHD)
        (conf / "modules/silent.conf").write_text(MODULE)
        # Orca's record on a terminal of the test's own, which Python
        # writes line by line; a file, only once its buffer is full.
        master, self.record = os.openpty()
        tty.setraw(self.record)
        threading.Thread(target=self.hear, args=(master,),
                         daemon=True).start()
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
            self.start(["orca", "--replace", "--debug-file",
                        os.ttyname(self.record)])
            self.wait_for("Screen reader on", timeout=60)
            with open(self.texts, "w") as out:
                self.start(["/usr/bin/python3", HERE / "inserted.py"],
                           stdout=out)
            until(self.inserted, "the listener did not start", 30)
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

    def hear(self, master):
        """Takes each utterance from Orca's record as it comes."""
        text, decode = "", codecs.getincrementaldecoder("utf-8")("replace")
        with open(master, "rb", buffering=0) as record:
            keep = os.environ.get("OHMRECHNER_ORCA_RECORD")
            while chunk := read(record):
                if keep:
                    with open(keep, "ab") as f:
                        f.write(chunk)
                text += decode.decode(chunk)
                end = 0
                for said in SAID.finditer(text):
                    self.said.append(said[1])
                    end = said.end()
                # Only the start of an utterance is kept, for what comes.
                start = text.find(" - SPEECH OUTPUT: '", end)
                text = text[start:] if start >= 0 else text[-32:]

    def spoken(self):
        """All said so far, white space folded."""
        return " ".join(" ".join(self.said).split())

    def wait_for(self, text, since=0, timeout=30):
        until(lambda: text in self.spoken()[since:],
              f"Orca never said {text!r}: {self.spoken()[since:]!r}",
              timeout)

    def quiet(self, since):
        """What is said since then, once a second has passed in silence."""
        heard = [len(self.said), time.monotonic()]

        def silent():
            if len(self.said) != heard[0]:
                heard[:] = [len(self.said), time.monotonic()]
            return time.monotonic() - heard[1] > 1

        until(silent, "Orca never fell silent", 30)
        return self.spoken()[since:]

    def heard(self):
        return [json.loads(line) for line in
                self.texts.read_text().splitlines(keepends=True)
                if line.endswith("\n")]

    def inserted(self):
        """Each text inserted so far, the listener's first line empty."""
        return [x for x in self.heard() if isinstance(x, str)]

    def focused(self):
        """What took the keyboard focus, by role and name, last first."""
        return [x["focus"] for x in reversed(self.heard())
                if isinstance(x, dict)]

    def keys(self, text):
        """Types text and sends it with Enter, or presses a key.  Before
        Enter it waits for the text to reach the field and for a second
        of Orca's silence: Orca takes the field's text change after the
        key itself, and one that comes after Enter it speaks again, as if
        the page had put the text there.  What counts is that the key
        reached the field, not that Orca echoed it."""
        # A busy machine may show the window before it takes the
        # keyboard, and a key typed then goes nowhere.
        until(lambda: FIELD.fullmatch((self.focused() or [""])[0]),
              lambda: f"the field never took the keyboard focus; last "
              f"first, it went to {self.focused()}, in {self.focus()}", 30)
        if text:
            since = len(self.inserted())
            subprocess.run(["xdotool", "type", "--delay", "80", text],
                           env=self.env, check=True)
            until(lambda: text in "".join(self.inserted()[since:]),
                  lambda: f"{text!r} never reached the field: "
                  f"{self.inserted()[since:]!r}; the keys went to "
                  f"{self.focus()}, last focused {self.focused()[:4]}", 30)
            self.quiet(0)
        subprocess.run(["xdotool", "key", "Return" if text else "x"],
                       env=self.env, check=True)

    def focus(self):
        """The window that has the keyboard, and where the pointer is."""
        return " ".join(subprocess.run(
            ["xdotool", "getwindowfocus", "getwindowname", "getmouselocation"],
            env=self.env, capture_output=True, text=True).stdout.split())

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
        os.close(self.record)
        shutil.rmtree(self.folder, ignore_errors=True)
