"""A mirror caught in its sync, for apt as an HTTP proxy: every request
goes on to the real mirror, but the index named by the first argument is
missing, as when one architecture's lists have not arrived yet.  The
second argument is the file to write the port to."""

import http.server
import shutil
import sys
import urllib.error
import urllib.request

HIDDEN = sys.argv[1]


class Proxy(http.server.BaseHTTPRequestHandler):
    def do_GET(self):
        if HIDDEN in self.path:
            self.send_error(404)
            return
        try:
            with urllib.request.urlopen(self.path, timeout=120) as r:
                self.send_response(r.status)
                for name in ("Content-Type", "Content-Length",
                             "Last-Modified"):
                    if r.headers[name]:
                        self.send_header(name, r.headers[name])
                self.end_headers()
                shutil.copyfileobj(r, self.wfile)
        except urllib.error.HTTPError as e:
            self.send_error(e.code)

    def log_message(self, *args):
        pass


server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Proxy)
with open(sys.argv[2], "w") as f:
    f.write(str(server.server_address[1]))
server.serve_forever()
