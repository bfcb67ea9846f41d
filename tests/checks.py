"""The page as the web's own checkers judge it: the Nu Html Checker, and
Lighthouse against the app on a loopback server.  Both come from npm, as
package-lock.json pins them."""

import json
import os
import re
import subprocess
import tempfile
import unittest

from machinery.common import PAGE, TOP
from machinery.engines import CHROMIUM_FLAGS, Server

TOOLS = TOP / "node_modules"

# The checker cannot see that the policy's hashes let the inline style and
# scripts run: it says so as information.  Every engine runs them under
# that policy, as the browser tests show.
HASHED = re.compile(r"^Inline (script|style) violates Content Security "
                    r"Policy \(meta tag\)")


def lighthouse(url, categories):
    """Lighthouse's report on url, with its mobile defaults, in Debian's
    Chromium."""
    with tempfile.TemporaryDirectory() as folder:
        report = os.path.join(folder, "report.json")
        subprocess.run(
            [TOOLS / ".bin/lighthouse", url, "--quiet", "--output=json",
             f"--output-path={report}",
             f"--only-categories={','.join(categories)}",
             "--chrome-flags=" + " ".join(CHROMIUM_FLAGS)],
            env=dict(os.environ, CHROME_PATH="/usr/bin/chromium"),
            check=True, timeout=300)
        with open(report) as f:
            return json.load(f)


class Checkers(unittest.TestCase):
    def setUp(self):
        if not TOOLS.is_dir():
            self.fail("the web's tools are missing: run npm ci")

    def test_nu_html_checker(self):
        # The page, and the accessibility statement beside it.
        p = subprocess.run(
            ["java", "-jar", TOOLS / "vnu-jar/build/dist/vnu.jar",
             "--format", "json", PAGE, PAGE.parent / "barrierefreiheit.html"],
            capture_output=True, text=True, timeout=120)
        said = json.loads(p.stderr)["messages"]
        self.assertEqual([m for m in said if m["type"] == "error"
                          or not HASHED.match(m["message"])], [])
        self.assertEqual(p.returncode, 0)

    def test_lighthouse(self):
        server = Server(PAGE.parent)
        self.addCleanup(server.stop)
        report = lighthouse(server.url + PAGE.name,
                            ["accessibility", "best-practices", "seo"])
        scores = {name: category["score"]
                  for name, category in report["categories"].items()}
        self.assertEqual(scores["accessibility"], 1)
        self.assertEqual(scores["best-practices"], 1)
        # Every SEO audit, but robots.txt, which is the host's.
        seo = report["categories"]["seo"]["auditRefs"]
        failed = [ref["id"] for ref in seo
                  if report["audits"][ref["id"]]["score"] not in (1, None)]
        self.assertLessEqual(set(failed), {"robots-txt"})
