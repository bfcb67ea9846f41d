"""Puts the web app together in one folder: the page, with its style, its
script and the compiled module inline, under a policy that lets it run
these and nothing else; and for a web server, the manifest, the icons
and the worker that keeps them, named by what they hold.  Every byte of
the page is loaded, often over a thin line: the script is minified and
the module deflated here, from the readable sources beside this file.
Beside the page go the notices that the module owes, which the page names.
Usage: app.py MODULE VERSION NOTICES FOLDER"""

import base64
import hashlib
import json
import pathlib
import re
import shutil
import subprocess
import sys

HERE = pathlib.Path(__file__).parent
TOP = HERE.parent
module, version, notices, folder = sys.argv[1:]
folder = pathlib.Path(folder)


def digest(text):
    sha = hashlib.sha256(text.encode()).digest()
    return "'sha256-" + base64.b64encode(sha).decode() + "'"


# A toolchain that adds an import fails here, not in the user's browser.
# The engine lists them, as any browser would.
host = (HERE / "host.js").read_text()
imports = json.loads(subprocess.run(
    ["node", "-p", "JSON.stringify(WebAssembly.Module.imports(new "
     "WebAssembly.Module(require('fs').readFileSync(process.argv[1]))))",
     module], check=True, capture_output=True, text=True).stdout)
for wanted in imports:
    name = f"{wanted['module']}.{wanted['name']}"
    if wanted["kind"] != "function" \
            or not re.search(rf"^\t+{wanted['name']}\(", host, re.M):
        sys.exit(f"app.py: host.js does not give the module's {name}")

style = re.sub(r"/\*.*?\*/\n+", "", (HERE / "ohmrechner.css").read_text(),
               flags=re.S)
script = subprocess.run(
    [TOP / "node_modules/.bin/terser", HERE / "host.js", HERE / "page.js",
     "--compress", "--mangle", "--toplevel", "--ecma", "2020"],
    check=True, capture_output=True, text=True).stdout.strip()
deflated = subprocess.run(["zopfli", "--deflate", "-c", module],
                          check=True, capture_output=True).stdout
program = base64.b64encode(deflated).decode()
# Inline, a script must not end its element early.
if "</script" in script:
    sys.exit("app.py: the script holds </script")
icon = (TOP / "pkg/linux/example.ohmrechner.Ohmrechner.svg").read_bytes()
parts = {
    "VERSION": version,
    "LICENCE": (TOP / "LICENSE").read_text().strip(),
    "NOTICES": pathlib.Path(notices).name,
    "ICON": base64.b64encode(icon).decode(),
    "STYLE_HASH": digest(style),
    "SCRIPT_HASH": digest(script),
    "STYLE": style,
    "SCRIPT": script,
    # The module last: no placeholder can hide in it.
    "PROGRAM": program,
}
page = (HERE / "ohmrechner.html.in").read_text()
for name, text in parts.items():
    page = page.replace(f"@{name}@", text)

shutil.rmtree(folder, ignore_errors=True)
(folder / "icons").mkdir(parents=True)
(folder / "ohmrechner.html").write_text(page)
shutil.copy(HERE / "manifest.json", folder)
shutil.copy(TOP / "LICENSE", folder)
shutil.copy(notices, folder)
# A template for the host, who fills it in and publishes it.
shutil.copy(TOP / "docs/barrierefreiheit.html", folder)
for png in sorted((HERE / "icons").glob("*.png")):
    shutil.copy(png, folder / "icons")

# What the worker keeps: the app, not the licences or the template, nor
# itself.
files = sorted(str(f.relative_to(folder)) for f in folder.rglob("*")
               if f.is_file()
               and f.name not in ("LICENSE", pathlib.Path(notices).name,
                                  "barrierefreiheit.html"))
release = hashlib.sha256()
for name in files:
    release.update(name.encode() + b"\0" + (folder / name).read_bytes())
worker = (HERE / "sw.js").read_text()
worker = worker.replace("@RELEASE@", release.hexdigest()[:16])
worker = worker.replace("@FILES@", json.dumps(files))
(folder / "sw.js").write_text(worker)
