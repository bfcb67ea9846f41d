"""Three browser engines, driven alike: Chromium and WebKitGTK through
their WebDriver servers, Firefox through WebDriver BiDi; and a static web
server on the loopback that serves them the app."""

import functools
import glob
import http.server
import json
import os
import select
import subprocess
import threading
import warnings

from machinery.common import TOP, XVFB

# Debian's selenium warns of its own defaults.
warnings.filterwarnings("ignore", category=DeprecationWarning,
                        module="selenium")

# Headless, as root; and nothing of Chromium's own may reach for a
# network either.
CHROMIUM_FLAGS = ["--headless", "--no-sandbox", "--disable-gpu",
                  "--disable-background-networking", "--no-first-run",
                  "--disable-component-update", "--disable-sync"]

# What the page on screen loaded, as it saw it load.
LOADED = """return performance.getEntriesByType("resource")
    .map((entry) => entry.name);"""


class Selenium:
    """An engine behind a WebDriver server, through selenium."""

    http_cache = True

    def __init__(self, driver):
        from selenium.webdriver.common.action_chains import ActionChains
        from selenium.webdriver.common.keys import Keys
        self.driver, self.keys, self.actions = driver, Keys, ActionChains

    def open(self, url):
        self.driver.get(url)

    def script(self, body, *args):
        return self.driver.execute_script(body, *args)

    def field(self):
        return self.driver.find_element("id", "eingabe")

    def type(self, text):
        self.field().send_keys(text, self.keys.ENTER)

    def key(self, name):
        if name == "Shift":
            self.actions(self.driver).key_down(self.keys.SHIFT) \
                .key_up(self.keys.SHIFT).perform()
        else:
            self.field().send_keys(getattr(self.keys, name.upper(), name))

    def click(self):
        self.driver.find_element("tag name", "main").click()

    def resize(self, width, height):
        self.driver.set_window_size(width, height)

    def errors(self):
        """Console messages above information; None where the driver
        cannot tell."""
        return None

    def requests(self):
        return self.script(LOADED)

    def quit(self):
        self.driver.quit()


class Chromium(Selenium):
    def __init__(self):
        from selenium import webdriver
        from selenium.webdriver.chrome.service import Service
        options = webdriver.ChromeOptions()
        options.binary_location = "/usr/bin/chromium"
        for flag in CHROMIUM_FLAGS:
            options.add_argument(flag)
        options.set_capability("goog:loggingPrefs",
                               {"browser": "ALL", "performance": "ALL"})
        super().__init__(webdriver.Chrome(
            service=Service("/usr/bin/chromedriver"), options=options))
        self.cdp = self.driver.execute_cdp_cmd

    def errors(self):
        return [e["message"] for e in self.driver.get_log("browser")
                if e["level"] != "INFO"]

    def requests(self):
        # What the network saw, failed and blocked requests too.
        sent = []
        for entry in self.driver.get_log("performance"):
            event = json.loads(entry["message"])["message"]
            if event["method"] == "Network.requestWillBeSent":
                sent.append(event["params"]["request"]["url"])
        return sent + super().requests()


class WebKit(Selenium):
    """WebKitGTK, Safari's engine family, in its MiniBrowser: a window on
    an X display of its own, as it has no headless mode.  Automated, it
    keeps no HTTP cache, so a worker loads again what the page loaded."""

    http_cache = False

    def __init__(self):
        from selenium import webdriver
        self.xvfb = subprocess.Popen(XVFB, stdout=subprocess.PIPE,
                                     stderr=subprocess.DEVNULL)
        with self.xvfb.stdout as display:
            os.environ["DISPLAY"] = ":" + display.readline().decode().strip()
        options = webdriver.WebKitGTKOptions()
        options.binary_location, = glob.glob(
            "/usr/lib/*/webkit2gtk-4.1/MiniBrowser")
        options.add_argument("--automation")
        try:
            super().__init__(webdriver.WebKitGTK(
                executable_path="/usr/bin/WebKitWebDriver", options=options))
        except BaseException:
            self.xvfb.kill()
            raise

    def quit(self):
        try:
            super().quit()
        finally:
            self.xvfb.kill()
            self.xvfb.wait()


class Firefox:
    """Firefox ESR, through puppeteer-core in Node.js: firefox.js here."""

    http_cache = True

    def __init__(self):
        self.node = subprocess.Popen(
            ["node", TOP / "tests/machinery/firefox.js"],
            stdin=subprocess.PIPE,
            stdout=subprocess.PIPE, text=True)

    def call(self, *command, timeout=60):
        self.node.stdin.write(json.dumps(command) + "\n")
        self.node.stdin.flush()
        if not select.select([self.node.stdout], [], [], timeout)[0]:
            raise AssertionError(f"Firefox did not answer {command}")
        answer = json.loads(self.node.stdout.readline() or '{"error": '
                            '"Firefox is gone"}')
        if "error" in answer:
            raise AssertionError(f"{command}: {answer['error']}")
        return answer.get("value")

    def open(self, url):
        self.call("open", url)

    def script(self, body, *args):
        return self.call("script", body, args)

    def type(self, text):
        self.call("type", text)

    def key(self, name):
        self.call("key", name)

    def click(self):
        self.call("click")

    def resize(self, width, height):
        self.call("resize", width, height)

    def errors(self):
        return self.call("errors")

    def requests(self):
        return self.call("requests") + self.script(LOADED)

    def quit(self):
        self.node.stdin.close()
        try:
            self.node.wait(30)
        finally:
            self.node.kill()


class Files(http.server.SimpleHTTPRequestHandler):
    """Files as any static server hands them out, counting the bytes."""

    def copyfile(self, source, out):
        with self.server.lock:
            self.server.sent += os.fstat(source.fileno()).st_size
        super().copyfile(source, out)

    def log_message(self, *args):
        pass


class Server:
    """A plain static web server for one folder, on the loopback, until it
    is stopped."""

    def __init__(self, folder):
        self.httpd = http.server.ThreadingHTTPServer(
            ("127.0.0.1", 0), functools.partial(Files, directory=folder))
        self.httpd.sent, self.httpd.lock = 0, threading.Lock()
        self.url = f"http://127.0.0.1:{self.httpd.server_port}/"
        threading.Thread(target=self.httpd.serve_forever, daemon=True).start()

    def sent(self):
        """The bytes of all files served so far."""
        return self.httpd.sent

    def stop(self):
        if self.httpd:
            self.httpd.shutdown()
            self.httpd.server_close()
            self.httpd = None
