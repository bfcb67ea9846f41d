"""A Wine prefix with a lasting server, WINEPREFIX's: for the Windows
tests, made once before they run side by side, and every Wine process of
it ended after them (python3 -m machinery.wineup up | down, from
tests/); for the installer's test, a new one alone.

A lasting server spares each run the server's start-up; Wine's own
services start with it, lest they hold a test's pipes open, and the first
program after that start, the slowest of all, runs here too.  Under
qemu-user, Wine's server or one of its services now and then dies as it
starts and leaves the rest waiting for ever: so each step is bounded, and
a try that fails is cleared away whole before the next."""

import os
import pathlib
import signal
import subprocess
import sys
import tempfile

# The prefix, until its server has ended; then the lasting server.
STEPS = [["wineboot", "--init"], ["wineserver", "-w"], ["wineserver", "-p"],
         ["wineboot"], ["wine", "cmd", "/c", "exit"]]
TRIES = 3


def ours(env):
    """The processes that run in env's prefix, whatever became of the
    server they would ask to end."""
    mark = f"WINEPREFIX={env['WINEPREFIX']}".encode()
    for proc in pathlib.Path("/proc").iterdir():
        try:
            if proc.name.isdigit() and mark in (
                    proc / "environ").read_bytes().split(b"\0"):
                yield int(proc.name)
        except OSError:
            pass


def down(env=os.environ):
    subprocess.run(["wineserver", "-k"], env=env, stdin=subprocess.DEVNULL,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                   timeout=60)
    for pid in ours(env):
        if pid != os.getpid():
            try:
                os.kill(pid, signal.SIGKILL)
            except ProcessLookupError:
                pass


def up(env=os.environ, lasting=True):
    # Wine's output goes to a file, not a pipe, which the services it
    # leaves running would hold open.
    with tempfile.TemporaryFile() as log:
        for _ in range(TRIES):
            down(env)
            log.truncate(0)
            try:
                for argv in STEPS if lasting else STEPS[:2]:
                    subprocess.run(argv, env=env, stdin=subprocess.DEVNULL,
                                   stdout=log, stderr=log, timeout=150,
                                   check=True)
                return
            except (subprocess.CalledProcessError,
                    subprocess.TimeoutExpired) as e:
                print(f"machinery.wineup: {' '.join(e.cmd)} failed; "
                      "trying again", file=sys.stderr)
        down(env)
        # What Wine itself said in the last try, for the test's log.
        log.seek(0)
        said = log.read().decode(errors="replace")
    raise RuntimeError(f"Wine did not start in {TRIES} tries; in the last "
                       f"it said:\n{said}")


if __name__ == "__main__":
    verb, = sys.argv[1:]
    try:
        if verb == "up":
            up()
        else:
            down()
    except RuntimeError as e:
        sys.exit(f"machinery.wineup: {e}")
