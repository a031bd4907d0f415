#!/usr/bin/env python3
"""Every way a velmora-run run ends keeps what the program wrote and leaves
nothing behind: SIGTERM and SIGHUP as Ctrl-C does (exit statuses 143 and
129), a second signal while a library call hangs, running out of memory
while a list grows; and two runs on one data directory never get each
other's HTTP bodies.

  test_run_endings.py VELMORA_RUN LIBRARY TABLES_DIR
"""
import http.server
import os
import resource
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time
import unittest

import velmora_home

RUNNER = None
LIBRARY = None
TABLES = None

WRITE_100 = ('FILE(1).OPEN("kept.txt", WRITE);\nFOR I = 1 TO 100 DO\n&T = "line " + INTSTR(I);\n'
             'FILE(1).WRITE(&T);\nEND\n')


class Server:
    """A real HTTP server on 127.0.0.1: /say/TEXT answers TEXT, /silent
    takes the request and never answers."""

    def __init__(self):
        class Handler(http.server.BaseHTTPRequestHandler):
            def log_message(self, *a):
                pass

            def do_GET(self):
                if self.path.startswith("/say/"):
                    body = self.path[5:].encode()
                    self.send_response(200)
                    self.send_header("Content-Length", str(len(body)))
                    self.end_headers()
                    self.wfile.write(body)
                elif self.path == "/silent":
                    time.sleep(60)

        self.server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        self.server.daemon_threads = True
        threading.Thread(target=self.server.serve_forever, daemon=True).start()
        self.url = "http://127.0.0.1:%d" % self.server.server_address[1]

    def close(self):
        self.server.shutdown()
        self.server.server_close()


class Home(velmora_home.Home):

    def start(self, *args, env=None):
        return self.start_velmora(*args, env=env)

    def kept(self):
        with open(os.path.join(self.data, "kept.txt"), encoding="utf-8") as f:
            return f.read().splitlines()

    def leftovers(self):
        return [n for n in os.listdir(self.data) if n.endswith(".velmora-tmp") or n.startswith("_net_")]


class Signals(Home):

    def setUp(self):
        super().setUp()
        self.server = Server()
        self.addCleanup(self.server.close)

    def test_sigterm_and_sighup_keep_the_lines_and_leave_no_temporary(self):
        # A second task waits for a transfer that never ends meanwhile.
        waiting = self.program("w.mcl", f'&A[] = <*> "{self.server.url}/silent";\n')
        p = self.program("s.mcl", WRITE_100 + '??"written"; ??CRLF;\nWHILE 1 DO WAIT 1; END\n')
        for sig, status in ((signal.SIGTERM, 143), (signal.SIGHUP, 129), (signal.SIGINT, 130)):
            proc = self.start(p, waiting)
            self.assertEqual(proc.stdout.readline(), b"written\n")
            time.sleep(0.3)  # the transfer is under way
            proc.send_signal(sig)
            self.assertEqual(proc.wait(timeout=20), status, proc.stderr.read())
            proc.stdout.close()
            proc.stderr.close()
            self.assertEqual(self.kept(), ["line %d" % i for i in range(1, 101)], sig)
            self.assertEqual(self.leftovers(), [], sig)

    def test_a_second_signal_during_a_hanging_library_call_keeps_the_lines(self):
        self.enable_library_rules(TABLES)
        waiting = self.program("w.mcl", f'&A[] = <*> "{self.server.url}/silent";\n')
        p = self.program("h.mcl", WRITE_100 + '??"written"; ??CRLF;\nWAIT 3;\n'
                         f'LIB &L "{LIBRARY}"; LIBA &L "velmora_hang" "1";\n'
                         '&F = "velmora_hang"; &V = "x"; &R = &L :: &F ( &V );\n')
        for second in (signal.SIGINT, signal.SIGTERM):
            proc = self.start(p, waiting)
            self.assertEqual(proc.stdout.readline(), b"written\n")
            self.assertTrue(velmora_home.wait_for_line(proc.stderr, b"velmora_hang: entered"), "the call was not made")
            proc.send_signal(signal.SIGINT)
            time.sleep(0.3)
            self.assertIsNone(proc.poll())  # the first one waits for the call
            proc.send_signal(second)
            self.assertEqual(proc.wait(timeout=20), 130)
            self.assertIn(b"interrupted", proc.stderr.read())
            proc.stdout.close()
            proc.stderr.close()
            self.assertEqual(self.kept(), ["line %d" % i for i in range(1, 101)])
            self.assertEqual(self.leftovers(), [])

    def test_sigterm_ends_the_commands_of_a_confined_run(self):
        marker = "61.%06d" % (os.getpid() % 1000000)
        p = self.program("c.mcl", f'COMMAND HIDE "exec sleep {marker}";\n??"started"; ??CRLF;\nWHILE 1 DO WAIT 1; END\n')
        proc = self.start("--sandbox", "--allow", "commands", p)
        self.assertEqual(proc.stdout.readline(), b"started\n")
        deadline = time.monotonic() + 10
        while not self.sleeping(marker) and time.monotonic() < deadline:
            time.sleep(0.05)
        self.assertTrue(self.sleeping(marker))
        proc.send_signal(signal.SIGTERM)
        self.assertEqual(proc.wait(timeout=20), 143)
        proc.stdout.close()
        proc.stderr.close()
        deadline = time.monotonic() + 3
        while self.sleeping(marker) and time.monotonic() < deadline:
            time.sleep(0.05)
        self.assertEqual(self.sleeping(marker), [])

    @staticmethod
    def sleeping(marker):
        found = []
        for pid in filter(str.isdigit, os.listdir("/proc")):
            try:
                with open("/proc/%s/cmdline" % pid, "rb") as f:
                    if f.read() == b"sleep\0" + marker.encode() + b"\0":
                        found.append(pid)
            except OSError:
                pass
        return found


class OutOfMemory(Home):
    """A list that grows until the address space is gone aborted the
    process (exit 134, "terminate ... std::bad_alloc") for some sizes, and
    the lines written with FILE WRITE were lost."""

    def test_a_growing_list_stops_the_run_with_the_error_and_keeps_the_lines(self):
        if os.environ.get("VELMORA_SANITIZED"):
            self.skipTest("the sanitizers reserve more address space than the limit")
        limit = 300 * 1024 * 1024
        for width in (14, 28, 35, 56):  # each exhausted memory in a different place
            p = self.program("m.mcl", WRITE_100 + 'I = 0;\nWHILE 1 DO\nI = I + 1;\n'
                             f'&L[] += "x{"y" * width}" + INTSTR(I);\nEND\n')
            out = subprocess.run([RUNNER, "--home", self.home, p], capture_output=True, timeout=180,
                                 preexec_fn=lambda: resource.setrlimit(resource.RLIMIT_AS, (limit, limit)))
            self.assertEqual(out.returncode, 1, (width, out.stderr[-400:]))
            self.assertIn("- メモリ不足".encode(), out.stdout, width)
            self.assertEqual(self.kept(), ["line %d" % i for i in range(1, 101)], width)


class SharedData(Home):
    """Two runs on one data directory shared DATA/_net_0.$$$: each got some
    of the other's bodies and some empty ones, and both ended with 0."""

    def test_two_runs_on_one_data_directory_get_their_own_bodies(self):
        server = Server()
        self.addCleanup(server.close)
        count = 150
        runs = []
        for name in ("a", "b"):
            p = self.program(name + ".mcl", f'FOR I = 1 TO {count} DO\n'
                             f'&U = "{server.url}/say/{name}-" + INTSTR(I);\n'
                             '&B[] = <*> &U;\n??&B[0]; ??CRLF;\nEND\n')
            runs.append((name, self.start("--data", self.data, "--timeout", "120", p)))
        for name, proc in runs:
            out, err = proc.communicate(timeout=150)
            self.assertEqual(proc.returncode, 0, err)
            lines = out.decode().splitlines()
            self.assertEqual(lines[:count], ["%s-%d" % (name, i) for i in range(1, count + 1)])
        self.assertEqual(self.leftovers(), [])


if __name__ == "__main__":
    RUNNER = velmora_home.Home.RUNNER = os.path.abspath(sys.argv.pop(1))
    LIBRARY = os.path.abspath(sys.argv.pop(1))
    TABLES = os.path.abspath(sys.argv.pop(1))
    unittest.main(verbosity=2)
