#!/usr/bin/env python3
"""A small HTTP server on 127.0.0.1 for the HTTP tests. Prints its port on
the first line of stdout and serves until it is killed (or for two minutes).
"""
import sys
import threading
import time
import urllib.parse
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer


class Handler(BaseHTTPRequestHandler):
    def log_message(self, *args):
        pass

    def send_text(self, body, content_type="text/plain; charset=utf-8", extra=()):
        self.send_response(200)
        self.send_header("Content-Type", content_type)
        self.send_header("Content-Length", str(len(body)))
        self.send_header("Content-Language", "ja")
        for name, value in extra:
            self.send_header(name, value)
        self.end_headers()
        self.wfile.write(body)

    def do_GET(self):
        if self.path == "/page.txt":
            self.send_text("line one\r\nline two\r\n".encode(),
                           extra=[("Set-Cookie", "session=abc123; Path=/; HttpOnly")])
        elif self.path == "/links.html":
            self.send_text(('<html><body><h1>リンク集</h1>\r\n'
                            '<p><a href="https://example.org/a">A</a></p>\r\n'
                            '<p>no link here</p>\r\n'
                            '<p><a href="/page.txt">page</a> and <a href="b.html">B</a></p>\r\n'
                            '</body></html>\r\n').encode(), "text/html; charset=utf-8")
        elif self.path == "/sjis.txt":
            self.send_text("日本語\r\n".encode("cp932"), "text/plain; charset=shift_jis")
        elif self.path == "/redirect":
            self.send_response(302)
            self.send_header("Location", "/page.txt")
            self.send_header("Content-Length", "0")
            self.end_headers()
        elif self.path.startswith("/to?"):
            # A redirect to whatever the query names: /to?u=file:///etc/hostname
            target = urllib.parse.parse_qs(urllib.parse.urlsplit(self.path).query).get("u", [""])[0]
            self.send_response(302)
            self.send_header("Location", target)
            self.send_header("Content-Length", "0")
            self.end_headers()
        elif self.path == "/agent":
            self.send_text(self.headers.get("User-Agent", "").encode())
        elif self.path == "/silent":
            time.sleep(30)  # accepts the connection, never answers
        elif self.path == "/stalls":
            self.send_response(200)
            self.send_header("Content-Length", "100")
            self.end_headers()
            self.wfile.write(b"part")
            self.wfile.flush()
            time.sleep(30)  # headers and a little, then nothing
        elif self.path == "/slow":
            time.sleep(3)
            self.send_text(b"late\r\n")
        else:
            self.send_error(404)

    def do_POST(self):
        if self.path.startswith("/to?"):
            return self.do_GET()
        length = int(self.headers.get("Content-Length", "0"))
        fields = urllib.parse.parse_qsl(self.rfile.read(length).decode())
        self.send_text("".join(f"{k}={v}\r\n" for k, v in fields).encode())


server = ThreadingHTTPServer(("127.0.0.1", 0), Handler)
print(server.server_address[1], flush=True)
threading.Timer(120, server.shutdown).start()
server.serve_forever()
