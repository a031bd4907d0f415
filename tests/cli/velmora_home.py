"""What the command-line tests of velmora-run share: a fresh program's own
directory with its DATA for every test, programs written into it, and the
library rules of the grammar (shipped commented out) switched on."""
import os
import select
import subprocess
import tempfile
import time
import unittest


def wait_for_line(stream, wanted, timeout=30):
    """Whether `wanted` comes from a process's stream (read unbuffered) in
    time."""
    deadline = time.monotonic() + timeout
    seen = b""
    while wanted not in seen:
        if not select.select([stream], [], [], max(0.0, deadline - time.monotonic()))[0]:
            return False
        chunk = os.read(stream.fileno(), 4096)
        if not chunk:
            return False
        seen += chunk
    return True


class Home(unittest.TestCase):
    RUNNER = None  # the velmora-run under test, set by the test script

    def setUp(self):
        self.dir = tempfile.TemporaryDirectory(prefix="velmora-cli-")
        self.home = self.dir.name
        self.data = os.path.join(self.home, "DATA")
        os.makedirs(self.data, exist_ok=True)

    def tearDown(self):
        self.dir.cleanup()

    def program(self, name, text):
        path = os.path.join(self.home, name)
        with open(path, "w", encoding="utf-8") as f:
            f.write(text)
        return path

    def run_velmora(self, *args, env=None, timeout=60):
        return subprocess.run([Home.RUNNER, "--home", self.home, *args], capture_output=True, timeout=timeout,
                              env=env)

    def start_velmora(self, *args, env=None):
        proc = subprocess.Popen([Home.RUNNER, "--home", self.home, *args], stdout=subprocess.PIPE,
                                stderr=subprocess.PIPE, env=env)
        self.addCleanup(lambda: proc.poll() is None and proc.kill())
        return proc

    def enable_library_rules(self, tables):
        """The library rules ship commented out ("//#800: ..."): a
        T-Syntax.txt in the program's own directory with them on."""
        with open(os.path.join(tables, "T-Syntax.txt"), encoding="utf-8", newline="") as f:
            lines = f.read().split("\r\n")
        lines = [l[2:] if l.startswith("//#8") and l[6:7] == ":" else l for l in lines]
        with open(os.path.join(self.home, "T-Syntax.txt"), "w", encoding="utf-8", newline="") as f:
            f.write("\r\n".join(lines))
