"""The page in real browsers, and the page's file itself: the same runs in
Chromium, Firefox and WebKitGTK, from disk and from a web server, where
the page is an app that keeps working without a network."""

import base64
import contextlib
import json
import pathlib
import re
import shutil
import subprocess
import sys
import tempfile
import time
import unittest
import zlib

from machinery import engines
from machinery.common import (MODULE, PAGE, TOP, VERSION, screen, until,
                              versions)
from machinery.engines import Server
from tables import DRIVEN, EDGES, MENU, PAUSE


def echoed(steps, shown):
    """A driven run as a console shows it: each answer, echoed, right after
    the prompt it answers; up to the pause, which still waits."""
    out, text, at = screen(shown), b"", 0
    for prompt, answer in steps:
        end = out.index(prompt, at) + len(prompt)
        text += out[at:end] + answer
        at = end
    return (text + out[at:]).decode("cp1252").removesuffix("\n")


# How the pause may end: a key, Enter, a click; and whether it does.
ACKNOWLEDGE = [
    ("a key", "key", "x", True),
    ("Enter", "key", "Enter", True),
    ("a click", "click", None, True),
    ("Shift alone", "key", "Shift", False),
]

APP = PAGE.parent
NAME = "return document.getElementById('eingabe').getAttribute('aria-label');"
# A phone's, then a desktop's, at which the later tests go on.
SIZES = [(360, 640), (1280, 800)]
# axe-core's rules for WCAG 2.1 A and AA, and its best practices: what
# they find wrong, by rule, with the places it found.
AXE = ((TOP / "node_modules/axe-core/axe.min.js").read_text() + """
return axe.run(document, {runOnly: {type: "tag", values: ["wcag2a",
        "wcag2aa", "wcag21a", "wcag21aa", "best-practice"]}})
    .then((result) => result.violations.map((rule) => rule.id + ": "
        + rule.nodes.map((node) => node.target.join(" ")).join(", ")));""")
SHOWN = "return document.getElementById('konsole').textContent;"
# The caches of the app's worker, and the version of the page on screen.
CACHES = """return caches.keys().then((names) =>
    names.filter((name) => name.startsWith("ohmrechner ")));"""
SHOWING = "return document.head.innerHTML.match(/[(]ohmrechner[)] (\\S+)/)[1];"
CONTROLLED = """return "serviceWorker" in navigator
    && navigator.serviceWorker.controller !== null;"""


class Browser:
    """The page as its users meet it, in one engine: opened from disk, and
    from a web server as an app that keeps working without a network.
    Each engine's class names its engine in `start`."""

    start = None

    @classmethod
    def setUpClass(cls):
        cls.engine = cls.start()

    @classmethod
    def tearDownClass(cls):
        cls.engine.quit()

    def setUp(self):
        # Where the page may ask for anything: itself, or the app's folder
        # on a server.
        self.allowed = [PAGE.resolve().as_uri(), "data:"]

    def tearDown(self):
        errors = self.engine.errors()
        if errors is not None:
            self.assertEqual(errors, [])
        for url in self.engine.requests():
            self.assertTrue(url.startswith(tuple(self.allowed)), url)

    def serve(self, folder=APP):
        server = Server(folder)
        self.addCleanup(server.stop)
        self.allowed.append(server.url)
        return server

    def places(self):
        """The page from disk, then from a web server."""
        yield "disk", PAGE.resolve().as_uri()
        yield "server", self.serve().url + PAGE.name

    def open(self, url):
        self.engine.open(url)
        self.wait(MENU)
        self.assertTrue(self.focused())

    def shown(self):
        return self.engine.script(SHOWN)

    def focused(self):
        return self.engine.script("return document.activeElement.id;") \
            == "eingabe"

    def wait(self, text, timeout=10):
        text = text.decode("cp1252") if isinstance(text, bytes) else text
        return until(lambda: self.shown().endswith(text),
                     f"waited for {text!r}, saw {self.shown()!r}", timeout)

    def drive(self, steps):
        for prompt, answer in steps:
            self.wait(prompt)
            # The field is named after what is asked: its line's text.
            asked = prompt.decode("cp1252").rsplit("\n", 1)[-1].strip()
            self.assertEqual(self.engine.script(NAME), asked or "Eingabe")
            self.engine.type(answer.decode().removesuffix("\n"))
            # Focused again after every line.
            self.assertTrue(self.focused())
        self.wait(PAUSE)

    def fresh(self):
        """A clean console and field, and the program anew."""
        until(lambda: self.shown() == MENU.decode("cp1252"),
              f"no fresh run: {self.shown()!r}")
        self.assertEqual(self.engine.script(
            "return document.getElementById('eingabe').value;"), "")
        self.assertTrue(self.focused())

    def test_driven_runs(self):
        for where, url in self.places():
            for steps, shown in DRIVEN:
                with self.subTest(where=where, typed=steps[0][1]):
                    self.open(url)
                    self.drive(steps)
                    self.assertEqual(self.shown(), echoed(steps, shown))

    def test_pause_then_a_fresh_run(self):
        steps, shown = DRIVEN[0]
        for where, url in self.places():
            for name, verb, *argument, ends in ACKNOWLEDGE:
                with self.subTest(where=where, ending=name):
                    self.open(url)
                    self.drive(steps)
                    getattr(self.engine, verb)(*filter(None, argument))
                    if not ends:
                        time.sleep(0.3)
                        self.assertEqual(self.shown(), echoed(steps, shown))
                        continue
                    self.fresh()
                    self.drive(DRIVEN[-1][0])
                    self.assertEqual(self.shown(), echoed(*DRIVEN[-1]))

    def test_axe(self):
        # At a phone's size and a desktop's, at the menu and at the pause.
        for width, height in SIZES:
            with self.subTest(size=f"{width}x{height}"):
                self.engine.resize(width, height)
                self.open(PAGE.resolve().as_uri())
                self.assertEqual(self.engine.script(AXE), [])
                self.drive(DRIVEN[0][0])
                self.assertEqual(self.engine.script(AXE), [])

    def test_from_disk_asks_nothing(self):
        # No manifest, no worker: nothing a file could be asked for.
        self.open(PAGE.resolve().as_uri())
        self.drive(DRIVEN[0][0])
        self.assertEqual(self.engine.script(
            "return document.querySelectorAll('link[rel=manifest], "
            "link[rel=apple-touch-icon]').length;"), 0)
        self.assertFalse(self.engine.script(CONTROLLED))

    def controlled(self):
        until(lambda: self.engine.script(CONTROLLED),
              "no worker took the page", 30)

    def offline(self, server, url, version=VERSION):
        """With the server gone, the page is there and computes."""
        server.stop()
        self.open(url)
        self.assertEqual(self.engine.script(SHOWING), version)
        steps, shown = DRIVEN[0]
        self.drive(steps)
        self.assertEqual(self.shown(), echoed(steps, shown))

    def test_offline(self):
        server = self.serve()
        url = server.url + PAGE.name
        self.open(url)
        self.controlled()
        # All that the first visit loaded, the worker's store included:
        # what the page loaded, the browser's cache gives it again.
        if self.engine.http_cache:
            self.assertLessEqual(server.sent(), 48 * 1024)
        self.offline(server, url)

    def test_update(self):
        # The same tree at a higher version, at the same address.
        major, minor, patch = map(int, VERSION.split("."))
        newer = f"{major}.{minor}.{patch + 1}"
        with tempfile.TemporaryDirectory() as folder:
            served, built = pathlib.Path(folder, "a"), pathlib.Path(folder, "b")
            shutil.copytree(APP, served)
            subprocess.run([sys.executable, TOP / "web/app.py", MODULE,
                            newer, APP / "LIZENZEN.txt", built], check=True)
            server = self.serve(served)
            url = server.url + PAGE.name
            self.open(url)
            self.controlled()
            old = self.engine.script(CACHES)
            self.assertEqual(len(old), 1, old)
            shutil.copytree(built, served, dirs_exist_ok=True)

            def visit():
                self.open(url)
                return self.engine.script(SHOWING) == newer
            until(visit, "the new release never showed", 30)
            until(lambda: (caches := self.engine.script(CACHES)) != old
                  and len(caches) == 1, "the old release's cache stayed", 30)
            self.controlled()
            self.offline(server, url, newer)


class Chromium(Browser, unittest.TestCase):
    start = engines.Chromium

    @contextlib.contextmanager
    def phone(self, width, height):
        """A phone's screen and touch, for as long as the block runs."""
        cdp = self.engine.cdp
        cdp("Emulation.setDeviceMetricsOverride", {
            "width": width, "height": height, "deviceScaleFactor": 3,
            "mobile": True})
        cdp("Emulation.setTouchEmulationEnabled", {"enabled": True})
        try:
            yield
        finally:
            cdp("Emulation.clearDeviceMetricsOverride", {})
            cdp("Emulation.setTouchEmulationEnabled", {"enabled": False})

    def touch(self, *path):
        """A finger down at the first point, along the rest, and up."""
        kinds = ["touchStart"] + ["touchMove"] * (len(path) - 1)
        for kind, (x, y) in zip(kinds, path):
            self.engine.cdp("Input.dispatchTouchEvent", {
                "type": kind, "touchPoints": [{"x": x, "y": y}]})
        self.engine.cdp("Input.dispatchTouchEvent", {
            "type": "touchEnd", "touchPoints": []})

    def test_older_browser(self):
        # One that cannot inflate the module, as before Chromium 103, or
        # runs no WebAssembly: one line that says so, and nothing else,
        # not even a moment later.
        for lacks in ["DecompressionStream", "WebAssembly"]:
            with self.subTest(lacks=lacks):
                added = self.engine.cdp(
                    "Page.addScriptToEvaluateOnNewDocument",
                    {"source": f"delete window.{lacks};"})
                try:
                    self.engine.open(PAGE.resolve().as_uri())
                    time.sleep(0.5)
                    self.assertRegex(self.shown(), r"\ADieser Browser ist zu "
                                     r"alt\b[^\n]* Firefox 113\b[^\n]*\n\Z")
                finally:
                    self.engine.cdp("Page.removeScriptToEvaluateOnNewDocument",
                                    added)

    def test_phone(self):
        # The longest result line there is.
        typed, shown = EDGES[-1]
        with self.phone(360, 640):
            self.open(PAGE.resolve().as_uri())
            self.drive([(MENU, typed.encode())])
            self.assertIn(shown.splitlines()[-1], self.shown())
            view = self.engine.script("""
                const r = document.getElementById("eingabe")
                    .getBoundingClientRect();
                return [innerWidth, innerHeight, navigator.maxTouchPoints,
                        document.documentElement.scrollWidth,
                        r.left, r.top, r.right, r.bottom];""")
            width, height, touch, scroll, left, top, right, bottom = view
            self.assertEqual((width, height), (360, 640))
            self.assertGreater(touch, 0)
            self.assertLessEqual(scroll, width, "the page scrolls sideways")
            self.assertTrue(0 <= left < right <= width
                            and 0 <= top < bottom <= height,
                            f"the field is off screen: {view}")

    def test_phone_scroll_then_tap(self):
        # With the keyboard open: a finger drawn down the page, to read
        # the menu again, leaves the result there; a tap goes on.
        steps, shown = DRIVEN[0]
        with self.phone(360, 400):
            self.open(PAGE.resolve().as_uri())
            self.drive(steps)
            self.touch(*[(180, y) for y in range(100, 361, 20)])
            time.sleep(0.3)
            self.assertEqual(self.shown(), echoed(steps, shown))
            self.touch((180, 200))
            self.fresh()

    def test_layouts(self):
        # The longest result line there is, as WCAG's layouts show it.
        typed, shown = EDGES[-1]
        cdp = self.engine.cdp
        for name, metrics, media, style in LAYOUTS:
            with self.subTest(name):
                cdp("Emulation.setDeviceMetricsOverride", {
                    "deviceScaleFactor": 1, "mobile": False, **metrics})
                cdp("Emulation.setEmulatedMedia", {"features": media})
                try:
                    self.open(PAGE.resolve().as_uri())
                    spacing = self.engine.script(SPACING, style)
                    self.assertEqual(spacing == "normal", not style)
                    self.drive([(MENU, typed.encode())])
                    self.assertIn(shown.splitlines()[-1], self.shown())
                    seen = self.engine.script(LAID_OUT)
                finally:
                    cdp("Emulation.clearDeviceMetricsOverride", {})
                    cdp("Emulation.setEmulatedMedia", {"features": []})
                # No scrolling sideways, nothing cut off, the field on
                # screen and large enough for a finger.
                self.assertLessEqual(seen["scroll"], seen["width"], seen)
                self.assertLessEqual(seen["console"], seen["consoleBox"],
                                     seen)
                left, top, right, bottom = seen["field"]
                self.assertTrue(0 <= left and right <= seen["width"], seen)
                self.assertGreaterEqual(min(right - left, bottom - top), 24,
                                        seen)
                # Text, the field's line and its focus ring each stand out
                # from the ground: 4.5 to 1 for text, 3 to 1 for the rest.
                self.assertNotEqual(seen["colours"]["ring"], "none",
                                    "no focus ring")
                ground = seen["colours"]["ground"]
                for part, least in (("text", 4.5), ("line", 3),
                                    ("ring", 3)):
                    self.assertGreaterEqual(
                        contrast(seen["colours"][part], ground), least,
                        (part, seen["colours"]))

    def test_installable(self):
        self.open(self.serve().url + PAGE.name)
        self.controlled()
        self.assertEqual(self.engine.cdp("Page.getInstallabilityErrors", {}),
                         {"installabilityErrors": []})
        manifest = self.engine.cdp("Page.getAppManifest", {})
        self.assertEqual(manifest["errors"], [])
        data = json.loads(manifest["data"])
        self.assertEqual(
            {k: data[k] for k in MANIFEST}, MANIFEST)
        self.assertTrue(data["short_name"])
        # Each icon as large as it says; a maskable one's sign inside the
        # circle that every mask keeps, four fifths of its width.
        for icon in data["icons"] + [{"src": "icons/apple-touch-icon.png",
                                      "sizes": "180x180"}]:
            with self.subTest(icon["src"]):
                width, height, reach = self.engine.script(MEASURE,
                                                          icon["src"])
                self.assertEqual(f"{width}x{height}", icon["sizes"])
                if icon.get("purpose") == "maskable":
                    self.assertLessEqual(reach, 0.4 * width)


# WCAG's layouts: 320 CSS pixels wide; a 1280 by 800 window zoomed to
# 200 %; text spaced out as 1.4.12 asks; and Windows' high contrast.
LAYOUTS = [
    ("320 px", {"width": 320, "height": 640}, [], ""),
    ("200 %", {"width": 640, "height": 400, "deviceScaleFactor": 2}, [], ""),
    ("text spacing", {"width": 1280, "height": 800}, [],
     "* { line-height: 1.5 !important; letter-spacing: 0.12em !important;"
     " word-spacing: 0.16em !important; } p { margin-bottom: 2em"
     " !important; }"),
    ("forced colours", {"width": 1280, "height": 800},
     [{"name": "forced-colors", "value": "active"}], ""),
]

# A style of the user's own, as an extension would add it: the page's
# policy lets no new style element in.  Says the console's letter spacing.
SPACING = """if (arguments[0]) {
    const sheet = new CSSStyleSheet();
    sheet.replaceSync(arguments[0]);
    document.adoptedStyleSheets = [sheet];
}
return getComputedStyle(document.getElementById("konsole")).letterSpacing;"""

# How the page is laid out: its width and how wide it scrolls, the
# console's text and box, the field's box, and the colours that matter.
LAID_OUT = """
const konsole = document.getElementById("konsole");
const field = document.getElementById("eingabe");
const r = field.getBoundingClientRect();
const shown = getComputedStyle(field);
const range = document.createRange();
range.selectNodeContents(konsole);
return {width: innerWidth, scroll: document.documentElement.scrollWidth,
    console: range.getBoundingClientRect().right,
    consoleBox: document.querySelector("main").getBoundingClientRect().right,
    field: [r.left, r.top, r.right, r.bottom],
    colours: {ground: getComputedStyle(document.documentElement)
            .backgroundColor,
        text: getComputedStyle(konsole).color,
        line: shown.borderBottomColor, ring: shown.outlineStyle === "none"
            ? "none" : shown.outlineColor}};"""


def contrast(a, b):
    """WCAG's contrast ratio of two CSS rgb() colours."""
    def luminance(colour):
        channels = [int(c) / 255 for c in re.findall(r"\d+", colour)[:3]]
        lin = [c / 12.92 if c <= 0.04045 else ((c + 0.055) / 1.055) ** 2.4
               for c in channels]
        return 0.2126 * lin[0] + 0.7152 * lin[1] + 0.0722 * lin[2]
    light, dark = sorted([luminance(a), luminance(b)], reverse=True)
    return (light + 0.05) / (dark + 0.05)


# What the manifest must say, among the rest: what the app is called, in
# which language, where it starts and which folder it keeps to, as a
# window of its own, in the console's colours.
MANIFEST = {
    "name": "Elektro-Rechner",
    "lang": "de",
    "id": "ohmrechner",
    "start_url": "ohmrechner.html",
    "scope": "./",
    "display": "standalone",
    "background_color": "#0c0c0c",
    "theme_color": "#0c0c0c",
}

# An image's width and height, and how far from its centre a pixel
# differs from the corner's colour.
MEASURE = """
const image = new Image();
image.src = arguments[0];
return image.decode().then(() => {
    const { naturalWidth: w, naturalHeight: h } = image;
    const canvas = document.createElement("canvas");
    canvas.width = w;
    canvas.height = h;
    const draw = canvas.getContext("2d");
    draw.drawImage(image, 0, 0);
    const px = draw.getImageData(0, 0, w, h).data;
    let reach = 0;
    for (let i = 0; i < px.length; i += 4) {
        if (Math.abs(px[i] - px[0]) + Math.abs(px[i + 1] - px[1])
            + Math.abs(px[i + 2] - px[2]) > 24) {
            const x = (i / 4) % w + 0.5, y = Math.floor(i / 4 / w) + 0.5;
            reach = Math.max(reach, Math.hypot(x - w / 2, y - h / 2));
        }
    }
    return [w, h, reach];
});"""


class Firefox(Browser, unittest.TestCase):
    start = engines.Firefox


class WebKit(Browser, unittest.TestCase):
    start = engines.WebKit


class Page(unittest.TestCase):
    """The page's file: all it needs inside, and nothing from outside."""

    def test_self_contained(self):
        html = PAGE.read_text()
        # A budget: many first meet the program here, over a thin line.
        self.assertLessEqual(len(html.encode()), 32 * 1024)
        self.assertEqual(versions(PAGE), {"page": VERSION})
        # The very module that was built, deflated.
        packed = re.search(r'<script id="programm" '
                           r'type="application/octet-stream">([^<]*)<', html)
        self.assertEqual(zlib.decompress(base64.b64decode(packed[1]), -15),
                         MODULE.read_bytes())
        # Not offered for translation: a translator rewrites the live
        # region under a screen reader, and the dialogue is the program's.
        self.assertIn('<html lang="de" translate="no">', html)
        self.assertIn('<meta name="google" content="notranslate">', html)
        self.assertIn("<title>Elektro-Rechner</title>", html)
        self.assertIn('name="viewport"', html)
        self.assertIn("MIT License", html)
        policy = re.search(r'http-equiv="Content-Security-Policy" '
                           r'content="([^"]*)"', html)[1]
        self.assertIn("default-src 'none'", policy)
        self.assertNotRegex(policy, "'unsafe-(inline|eval)'")
        # A browser looks for the character set in the first 1024 bytes.
        self.assertIn(b'<meta charset="utf-8">', html.encode()[:1024])
        # Nothing that points outside the page itself.
        self.assertEqual(re.findall(r'(?:src|href)="(?!data:)[^"]*"', html),
                         [])


if __name__ == "__main__":
    unittest.main()
