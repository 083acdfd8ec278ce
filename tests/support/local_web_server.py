"""A small web server on 127.0.0.1 for tests that fetch with the real curl.

Usage: python3 local_web_server.py ROOT

It binds a free port, prints the port number on one line, and serves the files below ROOT.
Some paths behave on purpose like servers out in the world:

  /unsized/<file>        the file without a Content-Length, closed at its end
  /redirect-plain/<path> a redirect to plain http://127.0.0.1:<port>/<path>
  /redirect-secure/<path> a redirect to https://127.0.0.1:<port>/<path> (nothing answers TLS)
  /endless               a body that never ends: one byte every half second
  .../flood...           (any path whose last part starts with "flood") a chunked body of
                         FLOOD_BYTES, as fast as the client takes it; then ROOT/flood-sent
                         says "<bytes sent> ended" when it was all sent, or "<bytes sent>
                         hung up" when the client went away first

It ends when its standard input closes (the test is over, or the test died), and in any case
after a bounded time, so it never outlives a test run.
"""

import http.server
import os
import sys
import threading
import time

LIFETIME_SECONDS = 900
ENDLESS_SECONDS = 120
FLOOD_BYTES = 1 << 30
FLOOD_CHUNK = 1 << 16


class Handler(http.server.SimpleHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):  # the test reads only the port line
        pass

    def do_GET(self):
        if self.path.startswith("/unsized/"):
            return self.send_unsized(self.path[len("/unsized/"):])
        if self.path.startswith("/redirect-plain/"):
            return self.send_redirect("http", self.path[len("/redirect-plain/"):])
        if self.path.startswith("/redirect-secure/"):
            return self.send_redirect("https", self.path[len("/redirect-secure/"):])
        if self.path == "/endless":
            return self.send_endless()
        if self.path.rsplit("/", 1)[-1].startswith("flood"):
            return self.send_flood()
        return super().do_GET()

    def send_unsized(self, name):
        path = os.path.join(self.directory, name)
        if not os.path.isfile(path):
            return self.send_error(404)
        with open(path, "rb") as f:
            body = f.read()
        self.send_response(200)
        self.send_header("Content-Type", "application/octet-stream")
        self.send_header("Connection", "close")
        self.end_headers()
        self.wfile.write(body)
        self.wfile.flush()
        self.close_connection = True

    def send_redirect(self, scheme, rest):
        port = self.server.server_address[1]
        self.send_response(302)
        self.send_header("Location", "%s://127.0.0.1:%d/%s" % (scheme, port, rest))
        self.send_header("Content-Length", "0")
        self.end_headers()

    def send_endless(self):
        self.send_response(200)
        self.send_header("Content-Type", "text/plain")
        self.send_header("Connection", "close")
        self.end_headers()
        deadline = time.monotonic() + ENDLESS_SECONDS
        try:
            while time.monotonic() < deadline:
                self.wfile.write(b"a")
                self.wfile.flush()
                time.sleep(0.5)
        except OSError:
            pass  # curl gave up, as it should
        self.close_connection = True


    def send_flood(self):
        self.send_response(200)
        self.send_header("Content-Type", "application/octet-stream")
        self.send_header("Transfer-Encoding", "chunked")
        self.send_header("Connection", "close")
        self.end_headers()
        framed = b"%x\r\n" % FLOOD_CHUNK + b"a" * FLOOD_CHUNK + b"\r\n"
        sent = 0
        outcome = "ended"
        try:
            while sent < FLOOD_BYTES:
                self.wfile.write(framed)
                sent += FLOOD_CHUNK
            self.wfile.write(b"0\r\n\r\n")
            self.wfile.flush()
        except OSError:
            outcome = "hung up"
        record = os.path.join(self.directory, "flood-sent")
        with open(record + ".new", "w") as f:
            f.write("%d %s\n" % (sent, outcome))
        os.replace(record + ".new", record)
        self.close_connection = True


class QuietServer(http.server.ThreadingHTTPServer):
    daemon_threads = True

    def handle_error(self, request, client_address):
        pass  # a client that hangs up early is part of the tests


def main():
    root = sys.argv[1]

    def handler(*args, **kwargs):
        return Handler(*args, directory=root, **kwargs)

    server = QuietServer(("127.0.0.1", 0), handler)
    print(server.server_address[1], flush=True)

    def stop_when_stdin_closes():
        sys.stdin.read()
        os._exit(0)

    threading.Thread(target=stop_when_stdin_closes, daemon=True).start()
    threading.Timer(LIFETIME_SECONDS, lambda: os._exit(0)).start()
    server.serve_forever()


if __name__ == "__main__":
    main()
