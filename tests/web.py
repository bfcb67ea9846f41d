"""The page in a real browser, and the page's file itself."""

import contextlib
import pathlib
import re
import time
import unittest

from common import (DRIVEN, EDGES, EXE, MENU, PAGE, PAUSE, VERSION, screen,
                    until, versions)


def echoed(steps, shown):
    """A driven run as a console shows it: each answer, echoed, right after
    the prompt it answers; up to the pause, which still waits."""
    out, text, at = screen(shown), b"", 0
    for prompt, answer in steps:
        end = out.index(prompt, at) + len(prompt)
        text += out[at:end] + answer
        at = end
    return (text + out[at:]).decode("cp1252").removesuffix("\n")


# How the pause may end, and whether it does.
ACKNOWLEDGE = [
    ("a key", lambda b: b.field().send_keys("x"), True),
    ("Enter", lambda b: b.field().send_keys(b.keys.ENTER), True),
    ("a click", lambda b: b.driver.find_element("tag name", "main").click(),
     True),
    ("Shift alone", lambda b: b.actions().key_down(b.keys.SHIFT)
     .key_up(b.keys.SHIFT).perform(), False),
]


class Browser(unittest.TestCase):
    """The page in a real, headless Chromium, opened from disk."""

    @classmethod
    def setUpClass(cls):
        from selenium import webdriver
        from selenium.webdriver.common.action_chains import ActionChains
        from selenium.webdriver.common.keys import Keys
        from selenium.webdriver.chrome.service import Service
        options = webdriver.ChromeOptions()
        options.binary_location = "/usr/bin/chromium"
        # Nothing of Chromium's own may reach for a network either.
        for flag in ("--headless", "--no-sandbox", "--disable-gpu",
                     "--disable-background-networking", "--no-first-run",
                     "--disable-component-update", "--disable-sync"):
            options.add_argument(flag)
        options.set_capability("goog:loggingPrefs",
                               {"browser": "ALL", "performance": "ALL"})
        cls.driver = webdriver.Chrome(
            service=Service("/usr/bin/chromedriver"), options=options)
        cls.keys = Keys
        cls.actions = lambda self: ActionChains(self.driver)

    @classmethod
    def tearDownClass(cls):
        cls.driver.quit()

    def setUp(self):
        self.url = PAGE.resolve().as_uri()

    def open(self, url=None):
        self.url = url or self.url
        self.driver.get(self.url)
        self.wait(MENU)
        self.assertEqual(self.driver.switch_to.active_element, self.field())

    def tearDown(self):
        # No error logged, and no request beyond the page and the data:
        # URL of its own module.
        log = self.driver.get_log("browser")
        self.assertEqual([e for e in log if e["level"] != "INFO"], [])
        import json
        for entry in self.driver.get_log("performance"):
            event = json.loads(entry["message"])["message"]
            if event["method"] == "Network.requestWillBeSent":
                url = event["params"]["request"]["url"]
                self.assertTrue(url in (PAGE.resolve().as_uri(), self.url)
                                or url.startswith("data:"), url)

    def shown(self):
        return self.driver.execute_script(
            "return document.getElementById('konsole').textContent")

    def field(self):
        return self.driver.find_element("id", "eingabe")

    def wait(self, text, timeout=10):
        text = text.decode("cp1252") if isinstance(text, bytes) else text
        return until(lambda: self.shown().endswith(text),
                     f"waited for {text!r}, saw {self.shown()!r}", timeout)

    def drive(self, steps):
        for prompt, answer in steps:
            self.wait(prompt)
            self.field().send_keys(answer.decode().removesuffix("\n"),
                                   self.keys.ENTER)
            # Focused again after every line.
            self.assertEqual(self.driver.switch_to.active_element,
                             self.field())
        self.wait(PAUSE)

    def test_driven_runs(self):
        for steps, shown in DRIVEN:
            with self.subTest(steps[0][1]):
                self.open()
                self.drive(steps)
                self.assertEqual(self.shown(), echoed(steps, shown))

    def test_pause_then_a_fresh_run(self):
        steps, shown = DRIVEN[0]
        for name, act, ends in ACKNOWLEDGE:
            with self.subTest(name):
                self.open()
                self.drive(steps)
                act(self)
                if not ends:
                    time.sleep(0.3)
                    self.assertEqual(self.shown(), echoed(steps, shown))
                    continue
                # A clean console and field, and the program anew.
                until(lambda: self.shown() == MENU.decode("cp1252"),
                      f"no fresh run: {self.shown()!r}")
                self.assertEqual(self.field().get_attribute("value"), "")
                self.assertEqual(self.driver.switch_to.active_element,
                                 self.field())
                self.drive(DRIVEN[-1][0])
                self.assertEqual(self.shown(), echoed(*DRIVEN[-1]))

    def test_served(self):
        # From a plain static web server, here on the loopback.
        import functools
        import http.server
        import threading

        class Files(http.server.SimpleHTTPRequestHandler):
            def log_message(self, *args):
                pass

        with http.server.ThreadingHTTPServer(
                ("127.0.0.1", 0),
                functools.partial(Files, directory=PAGE.parent)) as server:
            threading.Thread(target=server.serve_forever,
                             daemon=True).start()
            try:
                self.open(f"http://127.0.0.1:{server.server_port}/"
                          f"{PAGE.name}")
                steps, shown = DRIVEN[0]
                self.drive(steps)
                self.assertEqual(self.shown(), echoed(steps, shown))
            finally:
                server.shutdown()

    @contextlib.contextmanager
    def phone(self, width, height):
        """A phone's screen and touch, for as long as the block runs."""
        cdp = self.driver.execute_cdp_cmd
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
            self.driver.execute_cdp_cmd("Input.dispatchTouchEvent", {
                "type": kind, "touchPoints": [{"x": x, "y": y}]})
        self.driver.execute_cdp_cmd("Input.dispatchTouchEvent", {
            "type": "touchEnd", "touchPoints": []})

    def test_phone(self):
        # The longest result line there is.
        typed, shown = EDGES[-1]
        with self.phone(360, 640):
            self.open()
            self.drive([(MENU, typed.encode())])
            self.assertIn(shown.splitlines()[-1], self.shown())
            view = self.driver.execute_script("""
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
            self.open()
            self.drive(steps)
            self.touch(*[(180, y) for y in range(100, 361, 20)])
            time.sleep(0.3)
            self.assertEqual(self.shown(), echoed(steps, shown))
            self.touch((180, 200))
            until(lambda: self.shown() == MENU.decode("cp1252"),
                  f"the tap did not go on: {self.shown()!r}")


class Page(unittest.TestCase):
    """The page's file: all it needs inside, and nothing from outside."""

    def test_self_contained(self):
        html = PAGE.read_text()
        self.assertLessEqual(len(html.encode()), 100 * 1024)
        self.assertEqual(versions(PAGE), {"page": VERSION})
        # The very module that the other groups test under Node.js.
        self.assertIn(f"<script>{pathlib.Path(EXE).read_text()}</script>",
                      html)
        self.assertIn('<html lang="de">', html)
        self.assertIn("<title>Elektro-Rechner</title>", html)
        self.assertIn('name="viewport"', html)
        self.assertIn("MIT License", html)
        policy = re.search(r'http-equiv="Content-Security-Policy" '
                           r'content="([^"]*)"', html)[1]
        self.assertIn("default-src 'none'", policy)
        # Nothing that points outside the page itself.
        self.assertEqual(re.findall(r'(?:src|href)="(?!data:)[^"]*"', html),
                         [])


if __name__ == "__main__":
    unittest.main()
