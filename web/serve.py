#!/usr/bin/env python3
"""Serves the built playground on 127.0.0.1 with the headers it needs.

  serve.py DIR [PORT]      (PORT 0 picks a free port; the URL goes to stdout)

Cross-origin isolation (COOP/COEP) gives the page SharedArrayBuffer, which
the stop button, the input line and HTTP answers use to reach a running
program. Text, scripts and the module go gzip-compressed to a browser that
accepts it (the module shrinks to less than half); the compressed copy of
a file is made once and kept until the file changes.
"""
import functools
import gzip
import io
import http.server
import os
import sys
import threading

COMPRESSED_TYPES = ("application/wasm", "text/", "application/json", "application/javascript")
_cache = {}  # path -> (mtime, size, gzip bytes)
_cache_lock = threading.Lock()


def gzipped(path):
    st = os.stat(path)
    with _cache_lock:
        hit = _cache.get(path)
        if hit and hit[0] == st.st_mtime_ns and hit[1] == st.st_size:
            return hit[2]
    with open(path, "rb") as f:
        data = gzip.compress(f.read(), compresslevel=9, mtime=0)
    with _cache_lock:
        _cache[path] = (st.st_mtime_ns, st.st_size, data)
    return data


class Handler(http.server.SimpleHTTPRequestHandler):
    extensions_map = {**http.server.SimpleHTTPRequestHandler.extensions_map,
                      ".wasm": "application/wasm", ".js": "text/javascript", ".mjs": "text/javascript",
                      ".mcl": "text/plain; charset=utf-8", ".md": "text/plain; charset=utf-8",
                      ".json": "application/json"}

    def end_headers(self):
        self.send_header("Cross-Origin-Opener-Policy", "same-origin")
        self.send_header("Cross-Origin-Embedder-Policy", "require-corp")
        self.send_header("Cross-Origin-Resource-Policy", "same-origin")
        self.send_header("Cache-Control", "no-cache")
        super().end_headers()

    def send_head(self):
        path = self.translate_path(self.path)
        accepts = "gzip" in self.headers.get("Accept-Encoding", "")
        ctype = self.guess_type(path)
        if not accepts or not os.path.isfile(path) or not ctype.startswith(COMPRESSED_TYPES):
            return super().send_head()
        try:
            data = gzipped(path)
        except OSError:
            return super().send_head()
        self.send_response(200)
        self.send_header("Content-Type", ctype)
        self.send_header("Content-Encoding", "gzip")
        self.send_header("Vary", "Accept-Encoding")
        self.send_header("Content-Length", str(len(data)))
        self.end_headers()
        return io.BytesIO(data)

    def log_message(self, *args):
        pass


def main():
    directory = sys.argv[1]
    port = int(sys.argv[2]) if len(sys.argv) > 2 else 8080
    server = http.server.ThreadingHTTPServer(("127.0.0.1", port), functools.partial(Handler, directory=directory))
    print(f"http://127.0.0.1:{server.server_address[1]}/", flush=True)
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass


if __name__ == "__main__":
    main()
