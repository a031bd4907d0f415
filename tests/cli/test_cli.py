#!/usr/bin/env python3
"""Command-line contract of velmora-run: options, exit statuses, streaming,
Ctrl-C and the developer views (--tokens, --tcode, --listing).

  test_cli.py VELMORA_RUN
"""
import os
import signal
import subprocess
import sys
import tempfile
import time
import unittest

RUNNER = None
LIBRARY = None
DATA = None


class Home(unittest.TestCase):
    """A fresh program's own directory for every test."""

    def setUp(self):
        self.dir = tempfile.TemporaryDirectory(prefix="velmora-cli-")
        self.home = self.dir.name

    def tearDown(self):
        self.dir.cleanup()

    def program(self, name, text):
        path = os.path.join(self.home, name)
        with open(path, "w", encoding="utf-8") as f:
            f.write(text)
        return path

    def run_velmora(self, *args, timeout=30):
        return subprocess.run([RUNNER, "--home", self.home, *args], capture_output=True, timeout=timeout)


class Cli(Home):

    def test_help_version_and_bad_usage(self):
        self.assertIn(b"Usage: velmora-run", self.run_velmora("--help").stdout)
        self.assertTrue(self.run_velmora("--version").stdout.startswith(b"velmora-run "))
        self.assertEqual(self.run_velmora().returncode, 3)
        self.assertEqual(self.run_velmora("--bogus", "x.mcl").returncode, 3)
        self.assertEqual(self.run_velmora("--timeout", "abc", "x.mcl").returncode, 3)
        missing = self.run_velmora(os.path.join(self.home, "missing.mcl"))
        self.assertEqual(missing.returncode, 3)
        self.assertIn("ファイルを読めない".encode(), missing.stderr)

    def test_streamed_console_and_final_console(self):
        p = self.program("p.mcl", '??"a"; ??CRLF; ??"b"; ??CRLF; ??CLEAR; ??"c";\n')
        streamed = self.run_velmora(p)
        self.assertEqual(streamed.returncode, 0)
        # Each line once complete; after CLEAR the new buffer follows.
        self.assertEqual(streamed.stdout.decode(), "a\nb\nc\n")
        self.assertEqual(self.run_velmora("--final-console", p).stdout.decode(), "c\n")

    def test_exit_statuses_for_errors_and_timeout(self):
        err = self.run_velmora(self.program("e.mcl", "A = 0; B = 1 / A;\n"))
        self.assertEqual(err.returncode, 1)
        self.assertIn(" Error Msg 計算エラー：/ Floating point division by zero".encode(), err.stderr)
        bad = self.run_velmora(self.program("c.mcl", "A = * 2;\n"))
        self.assertEqual(bad.returncode, 2)
        self.assertIn(b"MATH Syntax Error #[0]", bad.stderr)
        start = time.monotonic()
        loop = self.run_velmora("--timeout", "0.3", self.program("l.mcl", "WHILE 1 DO END\n"))
        self.assertEqual(loop.returncode, 124)
        self.assertLess(time.monotonic() - start, 10)

    def test_ctrl_c_stops_the_run(self):
        p = self.program("loop.mcl", '??"running"; ??CRLF;\nWHILE 1 DO END\n')
        proc = subprocess.Popen([RUNNER, "--home", self.home, p], stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        first = proc.stdout.readline()  # streamed while the run goes on
        self.assertEqual(first, b"running\n")
        proc.send_signal(signal.SIGINT)
        self.assertEqual(proc.wait(timeout=10), 130)

    def test_gets_reads_standard_input_and_no_input_keeps_the_variable(self):
        p = self.program("g.mcl", '&A = "kept"; ?? GETS &A; ??"<" + &A + ">"; ??CRLF;\n'
                                  '&B = "kept"; ?? GETS &B; ??"<" + &B + ">"; ??CRLF;\n')
        run = lambda *args, data: subprocess.run([RUNNER, "--home", self.home, *args, p], input=data,
                                                 capture_output=True, timeout=30)
        piped = run(data="ä line\r\n".encode())
        self.assertEqual(piped.returncode, 0)
        self.assertEqual(piped.stdout.decode(), "<ä line>\n<>\n\n")  # then the end of input
        kept = run("--no-input", data=b"ignored\n")
        self.assertEqual(kept.stdout.decode(), "<kept>\n<kept>\n\n")
        # A second task runs on to its end once the first one has its line.
        q = self.program("q.mcl", '??"other"; ??CRLF;\n')
        both = subprocess.run([RUNNER, "--home", self.home, "--final-console", p, q], input=b"x\ny\n",
                              capture_output=True, timeout=30)
        self.assertEqual(both.returncode, 0)
        for piece in ("<x>", "<y>", "other"):
            self.assertIn(piece, both.stdout.decode())

    def test_developer_views(self):
        p = self.program("v.mcl", "SHARE T;\nFUNCTION F;\nENDFUNC\nX = T + 1;\nCALL F;\n")
        tokens = self.run_velmora("--tokens", p).stdout.decode()
        self.assertIn("0 SHARE\n0 ∇ T\n", tokens)
        self.assertIn("# user symbols\nX\n# shared names\nT\n# function names\nF\n", tokens)
        tcode = self.run_velmora("--tcode", p).stdout.decode().splitlines()
        self.assertIn("00001 902 xFUNC", tcode)
        self.assertIn("00003 022 ∇ X =", tcode)
        listing = self.run_velmora("--listing", p).stdout.decode().splitlines()
        self.assertEqual(listing[1], "00001 -002 F_F         ")
        self.assertTrue(listing[0].startswith("00001 0902 "))

    def test_data_directory_option(self):
        data = os.path.join(self.home, "elsewhere")
        os.mkdir(data)
        with open(os.path.join(data, "in.txt"), "w", encoding="utf-8") as f:
            f.write("from elsewhere\n")
        p = self.program("d.mcl", '&L[] = <*> "in.txt";\n???&L[];\n')
        out = self.run_velmora("--data", data, "--final-console", p)
        self.assertEqual(out.returncode, 0, out.stderr)
        self.assertEqual(out.stdout.decode().splitlines()[-1], "from elsewhere")

    def test_sandbox_and_permission_flags(self):
        outside = tempfile.TemporaryDirectory(prefix="velmora-outside-")
        self.addCleanup(outside.cleanup)
        target = os.path.join(outside.name, "out.txt")
        p = self.program("w.mcl", f'&L[] += "x";\n<*> "{target}" = &L[];\n<*> "in.txt" = &L[];\n??"done";\n')
        denied = self.run_velmora("--sandbox", p)
        self.assertEqual(denied.returncode, 1)
        self.assertIn(f"実行許可エラー：データディレクトリ外のファイル {target}".encode(), denied.stdout)
        self.assertIn("（許可するには velmora-run に --allow files を付ける）".encode(), denied.stdout)
        self.assertFalse(os.path.exists(target))
        allowed = self.run_velmora("--sandbox", "--allow", "files,network", p)
        self.assertEqual(allowed.returncode, 0, allowed.stderr)
        self.assertTrue(os.path.exists(target))
        # A program that needs none of the four runs in the sandbox.
        self.assertEqual(self.run_velmora("--sandbox", self.program("n.mcl", "A = 1 + 1; ??A;\n")).stdout, b"2\n")
        # "ask" in the settings is a deny here, with a hint how to allow.
        with open(os.path.join(self.home, "User_Setting.Txt"), "w", encoding="utf-8") as f:
            f.write("NAME=Permission_Panel\r\n1\r\n0\r\n0\r\n0\r\n")
        asked = self.run_velmora(self.program("c.mcl", 'EXEC "true";\n'))
        self.assertEqual(asked.returncode, 1)
        self.assertIn(b"--allow commands", asked.stderr)
        self.assertEqual(self.run_velmora("--deny", "bogus", p).returncode, 3)

    def test_settings_file_is_read_but_never_written(self):
        settings = os.path.join(self.home, "User_Setting.Txt")
        with open(settings, "w", encoding="utf-8") as f:
            f.write("NAME=VARIABLE_ALERT_CheckBox\r\n0\r\n")
        out = self.run_velmora(self.program("s.mcl", '&S = "x"; ??&S;\n'))
        self.assertNotIn("変数警告".encode(), out.stderr)  # the option was read
        with open(settings, encoding="utf-8") as f:
            self.assertEqual(f.read(), "NAME=VARIABLE_ALERT_CheckBox\n0\n")

    def test_faulty_table_file_is_named_at_start(self):
        p = self.program("t.mcl", "A = 1; ??A;\n")
        table = os.path.join(self.home, "T-Syntax.txt")
        for content, what in ((b"", "規則がひとつもありません"),
                              (b"\x7fELF\x02\x01\x01\x00\x00\x00", "テキストではありません")):
            with open(table, "wb") as f:
                f.write(content)
            out = self.run_velmora(p)
            self.assertEqual(out.returncode, 2)  # the table still replaces the built-in grammar
            err = out.stderr.decode()
            self.assertIn(what + ": " + table, err)
            # Named before the compile fails.
            self.assertLess(err.index(table), err.index("Syntax Error"))
        os.remove(table)
        self.assertEqual(self.run_velmora(p).returncode, 0)


class Blocking(Home):
    """Stops that arrive while an instruction blocks: a library call that
    takes long or never returns."""

    def setUp(self):
        super().setUp()
        # The library rules ship commented out ("//#800: ..."): enable them.
        with open(os.path.join(DATA, "T-Syntax.txt"), encoding="utf-8", newline="") as f:
            lines = f.read().split("\r\n")
        lines = [l[2:] if l.startswith("//#8") and l[6:7] == ":" else l for l in lines]
        with open(os.path.join(self.home, "T-Syntax.txt"), "w", encoding="utf-8", newline="") as f:
            f.write("\r\n".join(lines))

    def call_program(self, function, before="", after=""):
        return self.program(function + ".mcl", before + f'LIB &L "{LIBRARY}"; LIBA &L "{function}" "1";\n'
                            f'&F = "{function}"; &V = "x"; &R = &L :: &F ( &V );\n' + after)

    def test_a_stop_during_a_blocking_call_at_the_end_is_not_lost(self):
        # The program ends inside the batch that makes the call; the timeout
        # passed meanwhile, and the run must say so.
        out = self.run_velmora("--timeout", "0.2", self.call_program("velmora_block", after='??"done";\n'))
        self.assertEqual(out.returncode, 124, out.stderr)
        # "go" shows while the program waits 0.2 s; Ctrl-C comes during the
        # one-second call that follows.
        p = self.call_program("velmora_block", before='??"go"; ??CRLF; WAIT 2;\n')
        proc = subprocess.Popen([RUNNER, "--home", self.home, p], stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        self.assertEqual(proc.stdout.readline(), b"go\n")
        time.sleep(0.6)
        proc.send_signal(signal.SIGINT)
        self.assertEqual(proc.wait(timeout=10), 130)

    def test_a_call_that_never_returns_ends_by_timeout_or_second_ctrl_c(self):
        p = self.call_program("velmora_hang", before='??"go"; ??CRLF; WAIT 1;\n')
        start = time.monotonic()
        out = self.run_velmora("--timeout", "0.5", p)
        self.assertEqual(out.returncode, 124)
        self.assertLess(time.monotonic() - start, 8)
        self.assertIn(b"did not return", out.stderr)
        proc = subprocess.Popen([RUNNER, "--home", self.home, p], stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        self.assertEqual(proc.stdout.readline(), b"go\n")
        time.sleep(0.4)
        proc.send_signal(signal.SIGINT)
        time.sleep(0.3)
        self.assertIsNone(proc.poll())  # the first Ctrl-C waits for the call
        proc.send_signal(signal.SIGINT)
        self.assertEqual(proc.wait(timeout=10), 130)


if __name__ == "__main__":
    RUNNER = os.path.abspath(sys.argv.pop(1))
    LIBRARY = os.path.abspath(sys.argv.pop(1))
    DATA = os.path.abspath(sys.argv.pop(1))
    unittest.main(verbosity=2)
