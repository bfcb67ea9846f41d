"""What of other people's code a link builds into a program, as the linker
itself names it, and the notices that a download of the program owes.

  parts.py link FACTS -- COMMAND...   links, as CMake's linker launcher,
      and writes FACTS: each Debian package the linker took code from,
      its version, its source package, its licence and copyright file
  parts.py notices [--crlf] FACTS OUT the download's notices, from FACTS,
      with Windows' line ends and a UTF-8 mark if asked

GNU ld names the archive members it takes in its map, wasm-ld in its
trace.  A file that no installed package ships, or a source package
without a licence below, fails the link.  The release's tools read the
records through records() below."""

import json
import os
import pathlib
import re
import subprocess
import sys
import tempfile
import textwrap

# The licence of what a link takes from each source package: the C
# library, the compiler's runtime, the start files.  Debian's copyright
# file says it of the whole source, which holds far more (tools, tests,
# headers under other terms); this says it of the part in a program.
LICENCES = {
    "glibc": "LGPL-2.1-or-later",
    "gcc-12": "GPL-3.0-or-later WITH GCC-exception-3.1",
    "mingw-w64": "ZPL-2.1 AND LicenseRef-public-domain AND BSD-3-Clause"
                 " AND BSD-2-Clause AND ISC AND dtoa",
    "emscripten": "(MIT OR NCSA) AND MIT AND Apache-2.0 WITH LLVM-exception",
}
FIELDS = ("package", "architecture", "version", "source", "source_version",
          "built_using")


def main():
    if sys.argv[1] == "link":
        facts, command = sys.argv[2], sys.argv[4:]
        sys.exit(link(facts, command))
    if sys.argv[1] == "notices":
        crlf = sys.argv[2] == "--crlf"
        with open(sys.argv[2 + crlf]) as f:
            facts = json.load(f)
        # For Windows and the web: the mark tells Notepad and browsers
        # that the text is UTF-8.
        with open(sys.argv[3 + crlf], "w",
                  encoding="utf-8-sig" if crlf else "utf-8",
                  newline="\r\n" if crlf else "\n") as f:
            f.write(notices(facts))
        return
    sys.exit(__doc__)


def link(facts, command):
    wasm = any(os.path.basename(a) in ("em++", "emcc") for a in command)
    with tempfile.TemporaryDirectory() as tmp:
        record = os.path.join(tmp, "map")
        extra = ["-Wl,--trace"] if wasm else [f"-Wl,-Map={record}"]
        with open(record if wasm else os.devnull, "w") as out:
            done = subprocess.run(command + extra,
                                  stdout=out if wasm else None).returncode
        if done != 0:
            return done
        with open(record) as f:
            files = taken(f.read())
    parts, shared = {}, False
    for path in sorted(files):
        if path.endswith(".so") or ".so." in path:
            shared = True
            continue
        name, arch = owner(path)
        key = f"{name}:{arch}"
        if key not in parts:
            parts[key] = described(name, arch)
        parts[key]["files"] = sorted({*parts[key]["files"],
                                      os.path.basename(path)})
    with open(facts, "w") as f:
        json.dump({"dynamic": shared, "parts": list(parts.values())}, f,
                  indent=1)
        f.write("\n")
    return 0


def taken(record):
    """The files whose code the link took: the objects it loaded and each
    archive it took a member from.  Our own are named relative to the
    build."""
    if "Linker script and memory map" in record:
        members = record.split("Memory Configuration")[0]
        files = re.findall(r"^(/\S+?\.a)\(", members, re.M)
        files += re.findall(r"^LOAD (/\S+\.(?:o|so[.\d]*))$", record, re.M)
    else:
        files = [re.sub(r"\(.*\)$", "", line)
                 for line in record.splitlines() if line.startswith("/")]
    return {os.path.normpath(f) for f in files}


def records(build, presets):
    """Each preset's link records, by target, from the build folder."""
    return {(p, f.stem): json.loads(f.read_text()) for p in presets
            for f in sorted(pathlib.Path(build, p, "parts").glob("*.json"))}


def owners(path):
    """The packages that ship a file, as dpkg has it, or []."""
    for p in (path, os.path.realpath(path)):
        q = subprocess.run(["dpkg-query", "-S", p], capture_output=True,
                           text=True)
        if q.returncode == 0:
            # Past any "diversion by ..." line, the owners.
            return q.stdout.splitlines()[-1].split(": ", 1)[0].split(", ")
    return []


def owner(path):
    if not (found := owners(path)):
        sys.exit(f"parts.py: the link took {path}, which no package ships")
    name, _, arch = found[0].partition(":")
    return name, arch or query(name, "${Architecture}")


def query(package, form):
    return subprocess.run(["dpkg-query", "-W", "-f", form, package],
                          check=True, capture_output=True,
                          text=True).stdout


def described(name, arch):
    package = f"{name}:{arch}"
    fields = dict(zip(FIELDS, query(package, "\t".join(
        ["${Package}", "${Architecture}", "${Version}", "${source:Package}",
         "${source:Version}", "${Built-Using}"])).split("\t")))
    # A cross compiler's libraries are built from the native sources,
    # which Built-Using names with their versions.
    used = dict(re.findall(r"(\S+) \(= ([^)]+)\)", fields.pop("built_using")))
    known = [s for s in used if s in LICENCES]
    if fields["source"] not in LICENCES and len(known) == 1:
        fields["source"], = known
        fields["source_version"] = used[known[0]]
    if fields["source"] not in LICENCES:
        sys.exit(f"parts.py: no licence is known for {fields['source']},"
                 f" whose {package} the link took")
    fields["licence"] = LICENCES[fields["source"]]
    fields["source_owed"] = copyleft(fields["licence"])
    copyright = f"/usr/share/doc/{name}/copyright"
    if not os.path.exists(copyright):
        sys.exit(f"parts.py: {package}, which the link took, has no "
                 f"{copyright}: is dpkg told to leave out documentation?")
    with open(copyright, encoding="utf-8") as f:
        fields["copyright"] = f.read()
    fields["files"] = []
    return fields


def copyleft(licence):
    """Whether the terms ask for the source beside the object code."""
    terms = re.split(r"[()]|\s+(?:AND|OR)\s+", licence)
    return any(re.match(r"L?GPL-", t) and " WITH " not in t for t in terms)


def source_file(part):
    """The file that carries an owed source: Debian's <source>-source
    package, built from the same upload as the library the link took, so
    it stands in the same suite at the same version, and apt checks it
    against the same signed index, whether or not a mirror serves source
    packages too."""
    version = part["source_version"].split(":")[-1]
    return f"{part['source']}-source_{version}_all.deb"


def notices(facts):
    head = ["Fremder Code in diesem Download", "", textwrap.fill(
        "Neben unserem eigenen Code (MIT-Lizenz, siehe LICENSE) enthält das"
        " Programm Code aus den folgenden Paketen von Debian, den der"
        " Compiler hineingebunden hat.  Ihre Bedingungen folgen"
        " vollständig, so wie Debian sie mitliefert."), "", textwrap.fill(
        "Besides our own code (MIT licence, see LICENSE), the program holds"
        " code from the following Debian packages, which the compiler"
        " linked into it.  Their terms follow in full, as Debian ships"
        " them."), ""]
    body = []
    for part in facts["parts"]:
        name = f"{part['source']} {part['source_version']}"
        head += textwrap.wrap(
            f"{name}, aus {part['package']} {part['version']}"
            f" ({part['architecture']}): {', '.join(part['files'])}",
            initial_indent="  ", subsequent_indent="    ")
        head += [f"    {part['licence']}"]
        if part["source_owed"]:
            head += textwrap.wrap(
                f"Quelltext / source: {source_file(part)} in der"
                " Veröffentlichung neben diesem Download",
                initial_indent="    ", subsequent_indent="    ",
                break_on_hyphens=False)
        body += ["", "=" * 72, f"{part['package']}: Debian's copyright file",
                 "=" * 72, "", part["copyright"].rstrip()]
    return "\n".join(head + body) + "\n"


if __name__ == "__main__":
    main()
