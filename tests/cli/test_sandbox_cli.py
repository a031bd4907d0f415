#!/usr/bin/env python3
"""velmora-run --sandbox tried as a hostile program's author would: through
URLs, and through the commands and libraries the user allowed. Every door
is tried for real (a server on 127.0.0.1, Unix sockets by path and by
abstract name, a UDP receiver, another process to signal, another
terminal, /dev/shm, links, child processes), and every attack is also
run without the sandbox, where it must succeed: a test that cannot fail
proves nothing.

  test_sandbox_cli.py VELMORA_RUN LIBRARY TABLES_DIR
"""
import http.server
import json
import os
import random
import shutil
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

# Run inside a command by the program: tries each door of its spec and
# writes what happened (ok, or no and why) into probe-result.json.
PROBE = r'''
import json, os, signal, socket, sys
spec = json.load(open(sys.argv[1]))
out = {}
def attempt(name, action):
    try:
        value = action()
        out[name] = "ok" if value is None else "ok:" + value
    except Exception as e:
        out[name] = "no: %r" % (e,)
def udp(host, port):
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    s.sendto(b"velmora-command", (host, port))
def unix(address):
    s = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
    s.settimeout(2)
    s.connect(address)
    s.sendall(b"velmora-command")
def dgram(address):
    # A socket pair needs no socket(): a datagram one may still be pointed
    # at any Unix socket.
    a, b = socket.socketpair(socket.AF_UNIX, socket.SOCK_DGRAM)
    a.sendto(b"velmora-command", address)
def limit(pid):
    import resource
    resource.prlimit(pid, resource.RLIMIT_FSIZE, (1, 1))
def listen():
    s = socket.socket()
    s.bind(("127.0.0.1", 0))
    s.listen(1)
def read(path):
    fd = os.open(path, os.O_RDONLY | os.O_NONBLOCK)
    try:
        return os.read(fd, 200).decode(errors="replace")
    finally:
        os.close(fd)
def runner_environment():
    # The velmora-run that started this command: its environment is the
    # user's whole one.
    pid = os.getppid()
    while pid > 1:
        with open("/proc/%d/comm" % pid) as f:
            if f.read().strip() == "velmora-run":
                with open("/proc/%d/environ" % pid, "rb") as f:
                    return "\n".join(v for v in f.read().decode(errors="replace").split("\0") if v)
        with open("/proc/%d/stat" % pid) as f:
            pid = int(f.read().rsplit(")", 1)[1].split()[1])
    raise LookupError("no velmora-run among the parents")
for name, (what, *args) in spec.items():
    if what == "udp": attempt(name, lambda: udp(*args))
    elif what == "unix": attempt(name, lambda: unix(args[0]))
    elif what == "abstract": attempt(name, lambda: unix("\0" + args[0]))
    elif what == "dgram": attempt(name, lambda: dgram(args[0]))
    elif what == "dgram_abstract": attempt(name, lambda: dgram("\0" + args[0]))
    elif what == "limit": attempt(name, lambda: limit(args[0]))
    elif what == "nice": attempt(name, lambda: os.setpriority(os.PRIO_PROCESS, args[0], 19))
    elif what == "affinity": attempt(name, lambda: os.sched_setaffinity(args[0], {0}))
    elif what == "listen": attempt(name, listen)
    elif what == "signal": attempt(name, lambda: os.kill(args[0], signal.SIGTERM))
    elif what == "read": attempt(name, lambda: read(args[0]))
    elif what == "env": out[name] = dict(os.environ)
    elif what == "runner_env": attempt(name, runner_environment)
    elif what == "symlink": attempt(name, lambda: os.symlink(args[0], args[1]))
    elif what == "fifo": attempt(name, lambda: os.mkfifo(args[0]))
with open("probe-result.part", "w") as f:
    json.dump(out, f)
os.rename("probe-result.part", "probe-result.json")
'''

# The system's own Python: one installed elsewhere (a home directory) is
# rightly out of reach of a confined command.
PYTHON = shutil.which("python3", path="/usr/bin:/bin") or "python3"
PROBE_PROGRAM = (f'COMMAND HIDE "{PYTHON} probe.py probe-spec.json";\n'
                 'WHILE NOT EXIST "probe-result.json" DO WAIT 1; END\n??"probed";\n')


def secret():
    return "sekrit-%08x" % random.getrandbits(32)


class Doors:
    """Real endpoints a confined command or library must not reach, each
    able to tell afterwards whether anything arrived."""

    def __init__(self, outside):
        self.udp = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.udp.bind(("127.0.0.1", 0))
        self.udp.setblocking(False)
        self.unix_path = os.path.join(outside, "agent.sock")
        self.unix = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        self.unix.bind(self.unix_path)
        self.unix.listen(8)
        self.unix.setblocking(False)
        self.abstract_name = "velmora-test-%d-%08x" % (os.getpid(), random.getrandbits(32))
        self.abstract = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        self.abstract.bind("\0" + self.abstract_name)
        self.abstract.listen(8)
        self.abstract.setblocking(False)
        # Unix datagram sockets, by path and by abstract name (a system
        # log, a notification socket).
        self.dgram_path = os.path.join(outside, "log.sock")
        self.dgram = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
        self.dgram.bind(self.dgram_path)
        self.dgram.setblocking(False)
        self.dgram_abstract_name = self.abstract_name + "-dgram"
        self.dgram_abstract = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
        self.dgram_abstract.bind("\0" + self.dgram_abstract_name)
        self.dgram_abstract.setblocking(False)
        # Another process of the user's, and another terminal with keys typed.
        self.victim = subprocess.Popen(["sleep", "120"])
        # One more, whose limits, priority and processors must stay its own.
        self.bystander = subprocess.Popen(["sleep", "120"])
        self.bystander_state = self.state_of_bystander()
        self.master, self.slave = os.openpty()
        self.terminal = os.ttyname(self.slave)
        self.keys = secret()
        os.write(self.master, (self.keys + "\n").encode())
        self.shm = "/dev/shm/velmora-test-%08x" % random.getrandbits(32)
        self.shm_secret = secret()
        with open(self.shm, "w") as f:
            f.write(self.shm_secret)

    def close(self):
        for s in (self.udp, self.unix, self.abstract, self.dgram, self.dgram_abstract):
            s.close()
        for p in (self.victim, self.bystander):
            if p.poll() is None:
                p.kill()
            p.wait()
        os.close(self.master)
        os.close(self.slave)
        os.remove(self.shm)

    def spec(self):
        return {"udp": ["udp", "127.0.0.1", self.udp.getsockname()[1]],
                "unix": ["unix", self.unix_path], "abstract": ["abstract", self.abstract_name],
                "listen": ["listen"], "signal": ["signal", self.victim.pid],
                "dgram": ["dgram", self.dgram_path], "dgram_abstract": ["dgram_abstract", self.dgram_abstract_name],
                "limit": ["limit", self.bystander.pid], "nice": ["nice", self.bystander.pid],
                "affinity": ["affinity", self.bystander.pid],
                "terminal": ["read", self.terminal], "shm": ["read", self.shm], "env": ["env"],
                "runner_env": ["runner_env"]}

    def state_of_bystander(self):
        """The bystander's file size limit, priority and processors."""
        with open("/proc/%d/limits" % self.bystander.pid) as f:
            size = [line for line in f if line.startswith("Max file size")]
        return (size, os.getpriority(os.PRIO_PROCESS, self.bystander.pid),
                os.sched_getaffinity(self.bystander.pid))

    def arrived(self):
        """What reached each endpoint since the last call."""
        got = {"udp": 0, "unix": 0, "abstract": 0, "dgram": 0, "dgram_abstract": 0}
        time.sleep(0.2)
        for name, s in (("udp", self.udp), ("dgram", self.dgram), ("dgram_abstract", self.dgram_abstract)):
            while True:
                try:
                    s.recv(100)
                    got[name] += 1
                except BlockingIOError:
                    break
        for name, s in (("unix", self.unix), ("abstract", self.abstract)):
            while True:
                try:
                    c, _ = s.accept()
                    c.close()
                    got[name] += 1
                except BlockingIOError:
                    break
        got["signal"] = self.victim.poll() is not None
        got["bystander"] = self.state_of_bystander() != self.bystander_state
        return got

    def ended_by_signal(self):
        """Whether the victim ends by the SIGTERM the probe sent it: once
        sent, its end may wait for a processor on a loaded machine."""
        try:
            return self.victim.wait(timeout=20) == -signal.SIGTERM
        except subprocess.TimeoutExpired:
            return False


class Home(velmora_home.Home):

    def setUp(self):
        super().setUp()
        out = tempfile.TemporaryDirectory(prefix="velmora-outside-")
        self.addCleanup(out.cleanup)
        self.outside = out.name

    def failing_bubblewrap(self):
        """An environment whose bwrap cannot make namespaces, as on a system
        that forbids unprivileged user namespaces."""
        fake = os.path.join(self.outside, "bin")
        os.makedirs(fake, exist_ok=True)
        with open(os.path.join(fake, "bwrap"), "w") as f:
            f.write("#!/bin/sh\necho 'bwrap: setting up uid map: Permission denied' >&2\nexit 1\n")
        os.chmod(os.path.join(fake, "bwrap"), 0o755)
        env = dict(os.environ)
        env["PATH"] = fake + ":" + env.get("PATH", "/usr/bin:/bin")
        return env

    def probe(self, spec, *args, env=None):
        with open(os.path.join(self.data, "probe.py"), "w") as f:
            f.write(PROBE)
        with open(os.path.join(self.data, "probe-spec.json"), "w") as f:
            json.dump(spec, f)
        result_file = os.path.join(self.data, "probe-result.json")
        if os.path.exists(result_file):
            os.remove(result_file)
        out = self.run_velmora("--timeout", "40", "--verbose", *args, self.program("probe.mcl", PROBE_PROGRAM),
                               env=env)
        self.assertEqual(out.returncode, 0, out.stderr.decode())
        with open(result_file) as f:
            return json.load(f), out.stderr.decode()


class Urls(Home):
    """With the network allowed, URLs of other schemes read files and sent
    raw bytes to any port."""

    def test_a_file_url_is_refused_and_nothing_reaches_the_server(self):
        received = []

        class Collect(http.server.BaseHTTPRequestHandler):
            def log_message(self, *a):
                pass

            def do_POST(self):
                received.append(self.rfile.read(int(self.headers.get("Content-Length", "0"))))
                self.send_response(200)
                self.send_header("Content-Length", "2")
                self.end_headers()
                self.wfile.write(b"ok")

        server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Collect)
        threading.Thread(target=server.serve_forever, daemon=True).start()
        self.addCleanup(server.shutdown)
        raw = socket.socket()
        raw.bind(("127.0.0.1", 0))
        raw.listen(4)
        raw.settimeout(0.5)
        self.addCleanup(raw.close)
        token = secret()
        env = dict(os.environ, VELMORA_TEST_TOKEN=token)
        collect = "http://127.0.0.1:%d/collect" % server.server_address[1]
        for url in ("file:///proc/self/environ", "gopher://127.0.0.1:%d/_%s" % (raw.getsockname()[1], token),
                    "dict://127.0.0.1:%d/%s" % (raw.getsockname()[1], token)):
            p = self.program("steal.mcl", f'&P[] += "a=1";\n&A[] = <*> "{url}", &P[];\n'
                                          f'&B[] = <*> "{collect}", &A[];\n??"sent";\n')
            out = self.run_velmora("--sandbox", "--allow", "network", p, env=env)
            self.assertEqual(out.returncode, 1, out.stderr.decode())
            self.assertIn(f"実行許可エラー：http と https 以外の URL {url}".encode(), out.stdout)
            self.assertNotIn(b"sent", out.stdout)
            try:
                c, _ = raw.accept()
                self.fail("a connection reached the raw port: %r" % c.recv(100))
            except socket.timeout:
                pass
        self.assertFalse(any(token.encode() in body for body in received))
        # The way to the server works: the attack would have been caught.
        p = self.program("ok.mcl", f'&P[] += "t={token}";\n&B[] = <*> "{collect}", &P[];\n??"sent";\n')
        out = self.run_velmora("--sandbox", "--allow", "network", p, env=env)
        self.assertEqual(out.returncode, 0, out.stderr.decode())
        self.assertTrue(any(token.encode() in body for body in received))


class AllowedCommands(Home):
    """A command the user allowed was confined only in half: it reached
    sockets, other processes, other terminals, /dev/shm and the user's
    environment."""

    def setUp(self):
        super().setUp()
        self.doors = Doors(self.outside)
        self.addCleanup(self.doors.close)

    def check_closed(self, result, arrived, stderr, network=False):
        for door in ("unix", "abstract", "dgram", "dgram_abstract"):
            self.assertTrue(result[door].startswith("no"), (door, result[door]))
            self.assertEqual(arrived[door], 0, door)
        for door in ("limit", "nice", "affinity"):
            self.assertTrue(result[door].startswith("no"), (door, result[door]))
        self.assertFalse(arrived["bystander"])
        self.assertTrue(result["listen"].startswith("no"), result["listen"])
        if not network:
            self.assertTrue(result["udp"].startswith("no"), result["udp"])
            self.assertEqual(arrived["udp"], 0)
        if "cannot keep signals" not in stderr:
            self.assertTrue(result["signal"].startswith("no"), result["signal"])
            self.assertFalse(arrived["signal"])
        for door in ("terminal", "shm"):
            self.assertTrue(result[door].startswith("no"), (door, result[door]))
        # The environment the run started with, as /proc shows it: out of
        # sight (bubblewrap) or cleared.
        self.assertNotIn("=", result["runner_env"].removeprefix("ok:"), result["runner_env"])
        env = result["env"]
        self.assertNotIn("VELMORA_TEST_TOKEN", env)
        self.assertEqual(env.get("HOME"), self.data)
        self.assertIn("PATH", env)
        self.assertFalse(set(env) - {"PATH", "HOME", "LANG", "TERM", "PWD", "SHLVL", "_", "LC_CTYPE"}, env)

    def test_every_door_is_open_without_the_sandbox(self):
        token = secret()
        result, _ = self.probe(self.doors.spec(), "--allow", "commands,libraries,files,network,read",
                               env=dict(os.environ, VELMORA_TEST_TOKEN=token))
        arrived = self.doors.arrived()
        for door in ("udp", "unix", "abstract", "dgram", "dgram_abstract"):
            self.assertEqual(result[door], "ok", door)
            self.assertEqual(arrived[door], 1, door)
        for door in ("listen", "limit", "nice", "affinity"):
            self.assertEqual(result[door], "ok", door)
        self.assertTrue(arrived["bystander"])
        self.assertTrue(self.doors.ended_by_signal())
        self.assertEqual(result["terminal"], "ok:" + self.doors.keys + "\n")
        self.assertEqual(result["shm"], "ok:" + self.doors.shm_secret)
        self.assertEqual(result["env"]["VELMORA_TEST_TOKEN"], token)
        self.assertIn("VELMORA_TEST_TOKEN=" + token, result["runner_env"])

    def test_in_bubblewrap(self):
        token = secret()
        result, stderr = self.probe(self.doors.spec(), "--sandbox", "--allow", "commands",
                                    env=dict(os.environ, VELMORA_TEST_TOKEN=token))
        if "bubblewrap: each command" not in stderr:
            self.skipTest("bubblewrap is not usable here: " + stderr)
        self.check_closed(result, self.doors.arrived(), stderr)
        self.assertNotIn(token, json.dumps(result))

    def test_without_bubblewrap(self):
        token = secret()
        env = self.failing_bubblewrap()
        env["VELMORA_TEST_TOKEN"] = token
        result, stderr = self.probe(self.doors.spec(), "--sandbox", "--allow", "commands", env=env)
        if "Landlock (ABI" not in stderr:
            self.skipTest("no Landlock in this kernel: " + stderr)
        self.check_closed(result, self.doors.arrived(), stderr)
        self.assertNotIn(token, json.dumps(result))
        self.assertIn("bubblewrap cannot make its sandbox here: bwrap: setting up uid map", stderr)
        self.assertIn("commands: each in a session of its own", stderr)

    def test_with_the_network_allowed_still_no_unix_sockets_or_listening(self):
        for env in (None, self.failing_bubblewrap()):
            result, stderr = self.probe(self.doors.spec(), "--sandbox", "--allow", "commands,network", env=env)
            self.check_closed(result, self.doors.arrived(), stderr, network=True)


class AllowedPrograms(Home):
    """A program the user allowed that lies in the data directory (given
    relative to it, as a command starts there) runs, in bubblewrap and
    without it."""

    def test_a_program_of_the_data_directory_runs(self):
        tool = os.path.join(self.data, "tool.sh")
        with open(tool, "w") as f:
            f.write("#!/bin/sh\necho \"$1\" > made.txt\n")
        os.chmod(tool, 0o755)
        # Twice, with a pause between: the second start finds the launcher
        # as ready as the first.
        p = self.program("t.mcl", 'EXEC "./tool.sh ran";\nWHILE NOT EXIST "made.txt" DO WAIT 1; END\n'
                                  '<!!!> "made.txt";\nWAIT 25;\n'
                                  'EXEC "./tool.sh again";\nWHILE NOT EXIST "made.txt" DO WAIT 1; END\n??"done";\n')
        for env in (None, self.failing_bubblewrap()):
            out = self.run_velmora("--sandbox", "--allow", "commands", "--timeout", "20", p, env=env)
            self.assertEqual(out.returncode, 0, out.stdout + out.stderr)
            with open(os.path.join(self.data, "made.txt")) as f:
                self.assertEqual(f.read(), "again\n")
            os.remove(os.path.join(self.data, "made.txt"))


class AllowedLibraries(Home):
    """A library loaded under --allow libraries reached UDP, Unix sockets
    and other processes."""

    def setUp(self):
        super().setUp()
        self.doors = Doors(self.outside)
        self.addCleanup(self.doors.close)
        self.enable_library_rules(TABLES)

    def reach(self, *args):
        # In the data directory: a run that may not read outside loads no
        # library from there (that is a read outside, refused on its own).
        library = os.path.join(self.data, "reach.so")
        shutil.copy(LIBRARY, library)
        d = self.doors
        requests = {"udp": "udp 127.0.0.1 %d" % d.udp.getsockname()[1], "unix": "unix " + d.unix_path,
                    "abstract": "abstract " + d.abstract_name, "signal": "signal %d" % d.victim.pid,
                    "listen": "listen", "dgram": "dgram " + d.dgram_path,
                    "dgram_abstract": "dgramabstract " + d.dgram_abstract_name,
                    "limit": "limit %d" % d.bystander.pid}
        text = f'LIB &L "{library}"; LIBA &L "velmora_reach" "1"; &F = "velmora_reach";\n'
        for name, request in requests.items():
            text += f'&V = "{request}"; &R = &L :: &F ( &V ); ??"{name}=" + &R; ??CRLF;\n'
        out = self.run_velmora(*args, self.program("reach.mcl", text))
        self.assertEqual(out.returncode, 0, out.stderr.decode())
        answers = dict(line.split("=", 1) for line in out.stdout.decode().split() if "=" in line)
        self.assertEqual(set(answers), set(requests), out.stdout)
        return answers, out.stderr.decode()

    def test_a_library_reaches_nothing_outside_the_run(self):
        answers, stderr = self.reach("--sandbox", "--allow", "libraries", "--verbose")
        arrived = self.doors.arrived()
        for door in ("udp", "unix", "abstract", "listen", "dgram", "dgram_abstract", "limit"):
            self.assertEqual(answers[door], "no", door)
        for door in ("udp", "unix", "abstract", "dgram", "dgram_abstract"):
            self.assertEqual(arrived[door], 0, door)
        self.assertFalse(arrived["bystander"])
        if "cannot keep signals" not in stderr:
            self.assertEqual(answers["signal"], "no")
            self.assertFalse(arrived["signal"])
        # Unconfined, the same calls reach every door.
        answers, _ = self.reach("--allow", "libraries,commands,files,network,read")
        arrived = self.doors.arrived()
        self.assertEqual(set(answers.values()), {"ok"}, answers)
        self.assertEqual((arrived["udp"], arrived["unix"], arrived["abstract"]), (1, 1, 1))
        self.assertEqual((arrived["dgram"], arrived["dgram_abstract"]), (1, 1))
        self.assertTrue(self.doors.ended_by_signal())
        self.assertTrue(arrived["bystander"])

    def test_a_malformed_request_to_the_command_helper_is_refused(self):
        # A library in a run that may also start commands writes a launch
        # request with a negative count to the helper's socket. The helper
        # refuses it and lives: the program's next command still runs.
        library = os.path.join(self.data, "reach.so")
        shutil.copy(LIBRARY, library)
        text = (f'LIB &L "{library}"; LIBA &L "velmora_reach" "1"; &F = "velmora_reach";\n'
                '&V = "helper"; &R = &L :: &F ( &V ); ??"helper=" + &R; ??CRLF;\n'
                'COMMAND HIDE "echo after > after.txt";\n'
                'WHILE NOT EXIST "after.txt" DO WAIT 1; END\n??"command ran"; ??CRLF;\n')
        out = self.run_velmora("--sandbox", "--allow", "libraries,commands", "--verbose", "--timeout", "20",
                               self.program("helper.mcl", text))
        stderr = out.stderr.decode()
        if "bubblewrap: each command" not in stderr:
            self.skipTest("commands do not run in bubblewrap here: " + stderr)
        self.assertIn("helper=ok", out.stdout.decode(), stderr)
        self.assertIn("command ran", out.stdout.decode(), stderr)
        self.assertEqual(out.returncode, 0, stderr)


class Links(Home):
    """A link a confined command planted in the data directory outlived the
    run: the user's next ordinary run wrote through it to a file outside."""

    def test_a_confined_command_plants_no_link_or_fifo(self):
        victim = os.path.join(self.outside, "victim.txt")
        with open(victim, "w") as f:
            f.write("precious")
        target = os.path.relpath(victim, self.data)
        spec = {"symlink": ["symlink", target, "report.txt"], "fifo": ["fifo", "pipe"]}
        for env in (None, self.failing_bubblewrap()):
            result, _ = self.probe(spec, "--sandbox", "--allow", "commands", env=env)
            self.assertTrue(result["symlink"].startswith("no"), result)
            self.assertTrue(result["fifo"].startswith("no"), result)
            self.assertFalse(os.path.lexists(os.path.join(self.data, "report.txt")))
            self.assertFalse(os.path.exists(os.path.join(self.data, "pipe")))
        # The user's next ordinary run stores report.txt: in DATA, as a file.
        store = self.program("store.mcl", '&L[] += "report";\n<*> "report.txt" = &L[];\n')
        self.assertEqual(self.run_velmora(store).returncode, 0)
        with open(victim) as f:
            self.assertEqual(f.read(), "precious")
        # Unconfined the probe makes both: the attempt is real.
        os.remove(os.path.join(self.data, "report.txt"))
        result, _ = self.probe(spec, "--allow", "commands,files,network,read")
        self.assertEqual((result["symlink"], result["fifo"]), ("ok", "ok"))


def processes_with(marker, program=None):
    """Processes (of the program, when given) whose command line holds the
    marker."""
    found = []
    for pid in os.listdir("/proc"):
        if not pid.isdigit():
            continue
        try:
            with open("/proc/%s/cmdline" % pid, "rb") as f:
                line = f.read()
                if marker.encode() in line and (not program or line.split(b"\0")[0].endswith(program.encode())):
                    with open("/proc/%s/stat" % pid) as s:
                        if s.read().split(") ")[-1][0] != "Z":
                            found.append(int(pid))
        except OSError:
            pass
    return found


class Lifetime(Home):
    """Commands outlived the run (a sleep started with --timeout 2 lived on
    after velmora-run ended), and so did what they started."""

    def commands(self, marker):
        return self.program("life.mcl", f'COMMAND HIDE "exec sleep {marker}";\n'
                                        f'COMMAND HIDE "setsid sleep {marker}1 & sleep {marker}2";\n'
                                        f'??"started"; ??CRLF;\nWHILE 1 DO WAIT 1; END\n')

    def gone(self, marker):
        # The sleeps would last 40 seconds and more: ten give a loaded
        # machine time to end them, and still tell.
        deadline = time.monotonic() + 10
        while processes_with(marker) and time.monotonic() < deadline:
            time.sleep(0.05)
        # What is left, with its parent and state, for the failure message.
        left = []
        for pid in processes_with(marker):
            try:
                with open("/proc/%d/stat" % pid) as f:
                    left.append(f.read().strip())
            except OSError:
                pass
        return left

    def test_commands_end_with_the_run(self):
        for env in (None, self.failing_bubblewrap()):
            marker = "%d.%06d" % (40 + random.randint(0, 9), random.randint(0, 999999))
            out = self.run_velmora("--sandbox", "--allow", "commands", "--timeout", "2", self.commands(marker),
                                   env=env)
            self.assertEqual(out.returncode, 124, out.stderr.decode())
            self.assertEqual(self.gone(marker), [], env and "without bubblewrap")
            # Ctrl-C ends them too.
            marker = "%d.%06d" % (50 + random.randint(0, 9), random.randint(0, 999999))
            proc = self.start_velmora("--sandbox", "--allow", "commands", self.commands(marker), env=env)
            self.assertEqual(proc.stdout.readline(), b"started\n")
            deadline = time.monotonic() + 10
            while len(processes_with(marker, "sleep")) < 3 and time.monotonic() < deadline:
                time.sleep(0.05)
            self.assertEqual(len(processes_with(marker, "sleep")), 3, "the commands did not start")
            proc.send_signal(signal.SIGINT)
            self.assertEqual(proc.wait(timeout=10), 130)
            proc.stdout.close()
            proc.stderr.close()
            self.assertEqual(self.gone(marker), [])


class OwnDirectory(Home):
    """The runner's own folder was readable under Landlock (for the canvas
    module), and with it the program's own directory when no --home is
    given: settings, PROG."""

    def test_the_programs_own_directory_is_closed_and_canvases_still_draw(self):
        binary = os.path.join(self.outside, "velmora")
        os.mkdir(binary)
        for f in ("velmora-run", "velmora-canvas.so"):
            shutil.copy2(os.path.join(os.path.dirname(RUNNER), f), binary)
        runner = os.path.join(binary, "velmora-run")
        own_secret = secret()
        os.makedirs(os.path.join(binary, "PROG"))
        os.makedirs(os.path.join(binary, "DATA"))
        with open(os.path.join(binary, "PROG", "mine.mcl"), "w") as f:
            f.write(own_secret)
        data = os.path.join(binary, "DATA")
        with open(os.path.join(data, "probe.py"), "w") as f:
            f.write(PROBE)
        with open(os.path.join(data, "probe-spec.json"), "w") as f:
            json.dump({"prog": ["read", os.path.join(binary, "PROG", "mine.mcl")]}, f)
        program = os.path.join(data, "p.mcl")
        with open(program, "w") as f:
            f.write('<? 0 >;\n< "FILL" 0, 255, 0 >;\n< "BOX" 40, 40 >;\n'
                    '< "SAVE" "PNG" "drawn.png" 0, 0, 60, 60 >;\n' + PROBE_PROGRAM)
        env = dict(os.environ)
        env.pop("VELMORA_HOME", None)
        out = subprocess.run([runner, "--sandbox", "--allow", "commands", "--verbose", "--timeout", "40", program],
                             capture_output=True, timeout=60, env=env)
        self.assertEqual(out.returncode, 0, out.stderr.decode())
        with open(os.path.join(data, "probe-result.json")) as f:
            result = json.load(f)
        if b"Landlock (ABI" in out.stderr or b"bubblewrap: each" in out.stderr:
            self.assertTrue(result["prog"].startswith("no"), (result, out.stderr))
        self.assertNotIn(b"canvases cannot be used", out.stderr)
        with open(os.path.join(data, "drawn.png"), "rb") as f:
            self.assertEqual(f.read(8), b"\x89PNG\r\n\x1a\n")

    def test_a_data_directory_that_holds_it_is_said(self):
        """The kernel's rules open the data directory as a whole: when it
        holds the program's own directory, a run whose commands or libraries
        could reach it says so."""
        p = self.program("n.mcl", "??1;\n")
        said = "keeping commands and libraries out of the program's own directory"
        for allow in ("commands", "libraries"):
            out = self.run_velmora("--data", self.home, "--sandbox", "--allow", allow, p)
            self.assertEqual(out.returncode, 0, out.stderr.decode())
            self.assertIn(said, out.stderr.decode())
        for args in (("--data", self.home, "--sandbox"), ("--sandbox", "--allow", "commands")):
            self.assertNotIn(said, self.run_velmora(*args, p).stderr.decode())


if __name__ == "__main__":
    RUNNER = velmora_home.Home.RUNNER = os.path.abspath(sys.argv.pop(1))
    LIBRARY = os.path.abspath(sys.argv.pop(1))
    TABLES = os.path.abspath(sys.argv.pop(1))
    unittest.main(verbosity=2)
