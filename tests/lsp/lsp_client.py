"""A small Language Server Protocol client for the tests: it starts
velmora-lsp, frames and sends messages, and collects what the server sends
(answers by id, notifications in order)."""
import json
import os
import subprocess
import threading
import time


class Client:
    def __init__(self, server, args=(), env=None):
        self.proc = subprocess.Popen([server, *args], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                     stderr=subprocess.PIPE, env=env)
        self.answers = {}
        self.notes = []
        self.cond = threading.Condition()
        self.next_id = 1
        self.closed = False
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        out = self.proc.stdout
        while True:
            length = None
            while True:
                line = out.readline()
                if not line:
                    with self.cond:
                        self.closed = True
                        self.cond.notify_all()
                    return
                line = line.strip()
                if not line:
                    break
                name, _, value = line.decode("ascii").partition(":")
                if name.lower() == "content-length":
                    length = int(value)
            body = out.read(length)
            message = json.loads(body)
            message["_received"] = time.monotonic()
            with self.cond:
                if "id" in message and "method" not in message:
                    self.answers[message["id"]] = message
                else:
                    self.notes.append(message)
                self.cond.notify_all()

    def send_raw(self, data):
        self.proc.stdin.write(data)
        self.proc.stdin.flush()

    def send(self, message):
        body = json.dumps(message, ensure_ascii=False).encode("utf-8")
        self.send_raw(b"Content-Length: %d\r\n\r\n" % len(body) + body)

    def request(self, method, params=None, wait=True, timeout=20):
        rid = self.next_id
        self.next_id += 1
        message = {"jsonrpc": "2.0", "id": rid, "method": method}
        if params is not None:
            message["params"] = params
        self.send(message)
        return self.answer(rid, timeout) if wait else rid

    def answer(self, rid, timeout=20):
        deadline = time.monotonic() + timeout
        with self.cond:
            while rid not in self.answers:
                left = deadline - time.monotonic()
                if left <= 0 or self.closed:
                    raise AssertionError(f"no answer to request {rid}")
                self.cond.wait(left)
            return self.answers.pop(rid)

    def result(self, method, params=None):
        answer = self.request(method, params)
        assert "error" not in answer, f"{method}: {answer}"
        return answer["result"]

    def notify(self, method, params=None):
        message = {"jsonrpc": "2.0", "method": method}
        if params is not None:
            message["params"] = params
        self.send(message)

    def wait_note(self, predicate, timeout=20, what="a notification"):
        """The first notification (kept in order, taken away) that satisfies predicate."""
        deadline = time.monotonic() + timeout
        with self.cond:
            while True:
                for i, note in enumerate(self.notes):
                    if predicate(note):
                        return self.notes.pop(i)
                left = deadline - time.monotonic()
                if left <= 0 or self.closed:
                    raise AssertionError(f"no {what}; received {self.notes}")
                self.cond.wait(left)

    def diagnostics(self, uri, version=None, timeout=20):
        def match(n):
            return (n.get("method") == "textDocument/publishDiagnostics" and n["params"]["uri"] == uri and
                    (version is None or n["params"].get("version") == version))
        note = self.wait_note(match, timeout, f"diagnostics of {uri} version {version}")
        params = note["params"]
        params["_received"] = note["_received"]
        return params

    def initialize(self, options=None, capabilities=None):
        params = {"processId": os.getpid(), "rootUri": None, "capabilities": capabilities or {}}
        if options is not None:
            params["initializationOptions"] = options
        result = self.result("initialize", params)
        self.notify("initialized", {})
        return result

    def open(self, uri, text, version=1):
        self.notify("textDocument/didOpen",
                    {"textDocument": {"uri": uri, "languageId": "velmora", "version": version, "text": text}})

    def stop(self, timeout=10):
        """shutdown and exit; the exit status."""
        assert self.result("shutdown") is None
        self.notify("exit")
        return self.proc.wait(timeout)

    def kill(self):
        if self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait()


def utf16_len(s):
    return len(s.encode("utf-16-le")) // 2
