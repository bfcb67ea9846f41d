"""How this machine runs Wine, a 32-bit x86 program: on its own kernel,
or, where the kernel runs no 32-bit code, under qemu-user, which
binfmt_misc starts for every 32-bit program, with ia32/noreplace.c
preloaded.  OHMRECHNER_IA32=qemu takes qemu-user even where the kernel
could run the code, and =native fails where it cannot.

As a fixture of the Windows tests, from tests/:
  python3 -m machinery.ia32 up | python3 -m machinery.ia32 down
OHMRECHNER_IA32_DIR names the folder that holds the built probe; what
`up` did, `down` undoes, and nothing else."""

import json
import os
import pathlib
import subprocess
import sys

DIR = pathlib.Path(os.environ.get("OHMRECHNER_IA32_DIR", "ia32"))
PROBE = DIR / "probe"
STATE = DIR / "state.json"
# Elsewhere only where the tests make `up` refuse.
BINFMT = pathlib.Path(os.environ.get("OHMRECHNER_BINFMT",
                                     "/proc/sys/fs/binfmt_misc"))
ENTRY = BINFMT / "ohmrechner-i386"
# A 32-bit x86 ELF program or library, as qemu's own binfmt table has it.
MAGIC = (r"\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00"
         r"\x02\x00\x03\x00")
MASK = (r"\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff"
        r"\xfe\xff\xff\xff")
# F: opened once, here, so that it runs in any root; O and C: the kernel
# opens the program for it and gives it the program's credentials.
QEMU = "/usr/bin/qemu-i386-static"
REGISTER = f":{ENTRY.name}:M::{MAGIC}:{MASK}:{QEMU}:FOC"


class Refused(Exception):
    """This machine cannot run the Windows tests in the way asked for."""


def probe():
    """How a 32-bit x86 program runs here: "native", "emulated", or None
    where it does not start."""
    try:
        p = subprocess.run([PROBE], capture_output=True, text=True,
                           timeout=60)
    except OSError:
        return None
    machine = p.stdout.strip()
    if p.returncode != 0 or not machine:
        return None
    return "native" if machine == "x86_64" else "emulated"


def mode():
    asked = os.environ.get("OHMRECHNER_IA32", "")
    if asked not in ("", "native", "qemu"):
        raise Refused(f"OHMRECHNER_IA32 is native, qemu or unset, "
                      f"not {asked!r}")
    return asked


def up():
    asked = mode()
    # Left by a run that was killed.
    down()
    found = probe()
    done = {"kernel": found, "mounted": False, "registered": False}
    if asked == "native" or (not asked and found == "native"):
        if found != "native":
            raise Refused("OHMRECHNER_IA32=native, but this machine's kernel "
                          "does not run 32-bit x86 code itself: unset it, "
                          "and Wine runs under qemu-user")
        STATE.write_text(json.dumps(done))
        return "natively"
    if not os.access(QEMU, os.X_OK):
        raise Refused(f"{QEMU} is missing: install qemu-user-static")
    try:
        if not (BINFMT / "register").exists():
            subprocess.run(["mount", "-t", "binfmt_misc", "binfmt_misc",
                            BINFMT], check=True, capture_output=True)
            done["mounted"] = True
        # One there before, as another build's, stays there after.
        if not ENTRY.exists():
            (BINFMT / "register").write_text(REGISTER)
            done["registered"] = True
    except (OSError, subprocess.CalledProcessError) as e:
        why = (getattr(e, "stderr", b"").decode().strip()
               or str(e)).splitlines()[0]
        raise Refused(f"cannot run 32-bit programs under qemu-user through "
                      f"binfmt_misc ({why}): run the Windows tests as root, "
                      f"on a kernel with binfmt_misc") from None
    finally:
        STATE.write_text(json.dumps(done))
    if probe() != "emulated":
        raise Refused("a 32-bit program does not run under qemu-user, "
                      "though binfmt_misc names it")
    return "under qemu-user"


def down():
    if not STATE.exists():
        return
    done = json.loads(STATE.read_text())
    if done["registered"] and ENTRY.exists():
        ENTRY.write_text("-1")
    if done["mounted"]:
        subprocess.run(["umount", BINFMT], check=True)
    STATE.unlink()


if __name__ == "__main__":
    verb, = sys.argv[1:]
    try:
        if verb == "up":
            print(f"machinery.ia32: 32-bit programs run {up()}")
        else:
            down()
    except Refused as e:
        sys.exit(f"machinery.ia32: {e}")
