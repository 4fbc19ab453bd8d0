#!/usr/bin/env python3
"""Runs one language test script against an HTTP server on 127.0.0.1.

The server runs in this process on a free port; the script finds it in the
environment: QEL_HTTP is the server's base URL, QEL_HTTP_CLOSED the URL of
a port nobody listens on. The script's output is checked by tests/lang/run.py.

What the server answers, by path:
    /redirect      302 to /final
    /headers       a fixed answer whose header lines test the header map
    /missing       404 with a short body
    /last          the record of the request before this one
    /script.qel    a script with a header, as text/plain
    /typed         the text "typed" as text/x-typed
    anything else  the record of this request
A record is the request line's method and path, each header line but Host
(its port changes from run to run) in the order received, and the body in
brackets: "body [...]".
"""
import http.server
import os
import socket
import subprocess
import sys
import threading

HEADERS_ANSWER = (
    b"HTTP/1.1 200 OK\r\n"
    b"X-Twice: a\r\n"
    b"X-Once: one\r\n"
    b"X-Twice: b\r\n"
    b"X-Tight:tight\r\n"
    b"X-Spaced:   spaced\r\n"
    b"X-Empty:\r\n"
    b"Content-Length: 4\r\n"
    b"Connection: close\r\n"
    b"\r\n"
    b"a\r\nb"
)

SCRIPT = b'Qel [Title: "Remote"]\nprint ["remote" system/script/header/title mold system/script/args]\n6 * 7\n'


class Recorder(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    last = b""

    def answer(self, status, body, content_type=None):
        self.send_response(status)
        if content_type:
            self.send_header("Content-Type", content_type)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        if self.command != "HEAD":
            self.wfile.write(body)

    def handle_any(self):
        length = int(self.headers.get("Content-Length") or 0)
        body = self.rfile.read(length) if length else b""
        lines = [f"{self.command} {self.path}"]
        lines += [f"{k}: {v}" for k, v in self.headers.items() if k.lower() != "host"]
        record = ("\n".join(lines) + "\nbody [").encode() + body + b"]"
        before, Recorder.last = Recorder.last, record
        if self.path == "/redirect":
            self.send_response(302)
            self.send_header("Location", "/final")
            self.send_header("Content-Length", "0")
            self.end_headers()
        elif self.path == "/headers":
            self.wfile.write(HEADERS_ANSWER)
            self.close_connection = True
        elif self.path == "/missing":
            self.answer(404, b"not here")
        elif self.path == "/last":
            self.answer(200, before)
        elif self.path == "/script.qel":
            self.answer(200, SCRIPT, "text/plain")
        elif self.path == "/typed":
            self.answer(200, b"typed", "text/x-typed; charset=utf-8")
        else:
            self.answer(200, record)

    do_GET = do_HEAD = do_POST = do_PUT = do_DELETE = do_PATCH = handle_any

    def log_message(self, *args):
        pass


def closed_port():
    s = socket.socket()
    s.bind(("127.0.0.1", 0))
    port = s.getsockname()[1]
    s.close()
    return port


def main():
    qel, script = sys.argv[1], sys.argv[2]
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Recorder)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    # A proxy from the environment would stand between qel and the server.
    env = {k: v for k, v in os.environ.items() if not k.lower().endswith("_proxy")}
    env.update(QEL_HTTP=f"http://127.0.0.1:{server.server_address[1]}",
               QEL_HTTP_CLOSED=f"http://127.0.0.1:{closed_port()}")
    runner = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "lang", "run.py")
    result = subprocess.run([sys.executable, runner, "--qel", qel, script], env=env)
    server.shutdown()
    return result.returncode


if __name__ == "__main__":
    sys.exit(main())
