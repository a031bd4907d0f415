#!/usr/bin/env python3
"""velmora-run --check: every program of the beginner-mistake corpus gets
exactly the diagnostics its "// expect:" lines name, in the text form and in
JSON; exit statuses; several files; the tables and settings of the home;
CR LF, Shift-JIS and characters outside the BMP.

  test_check.py VELMORA_RUN MISTAKES_DIR DATA_DIR
"""
import glob
import json
import os
import re
import subprocess
import sys
import tempfile
import unittest

RUNNER = None
MISTAKES = None
DATA = None
EXPECT = re.compile(r"^// expect: (\w+) ([\w-]+) (\d+):(\d+) (.*)$")


def expectations(path):
    with open(path, encoding="utf-8") as f:
        return [EXPECT.match(line.rstrip("\n")).groups() for line in f if line.startswith("// expect: ")]


class Check(unittest.TestCase):

    def setUp(self):
        self.dir = tempfile.TemporaryDirectory(prefix="velmora-check-")
        self.home = self.dir.name

    def tearDown(self):
        self.dir.cleanup()

    def check(self, *args, home=None):
        return subprocess.run([RUNNER, "--home", home or self.home, "--check", *args], capture_output=True,
                              timeout=60)

    def program(self, name, data):
        path = os.path.join(self.home, name)
        with open(path, "wb") as f:
            f.write(data if isinstance(data, bytes) else data.encode("utf-8"))
        return path

    def test_every_mistake_gets_its_diagnostics_as_text_and_as_json(self):
        files = sorted(glob.glob(os.path.join(MISTAKES, "*.mcl")))
        self.assertGreaterEqual(len(files), 50)
        for path in files:
            with self.subTest(os.path.basename(path)):
                wanted = expectations(path)
                out = self.check(path)
                lines = out.stdout.decode().splitlines()
                self.assertEqual(len(lines), len(wanted), out.stdout.decode())
                for line, (severity, _id, row, column, text) in zip(lines, wanted):
                    head = f"{path}:{row}:{column}: {severity}: "
                    self.assertTrue(line.startswith(head), f"{line!r} does not start with {head!r}")
                    self.assertIn(text, line)
                severities = {w[0] for w in wanted}
                self.assertEqual(out.returncode, 2 if "error" in severities else 1 if "warning" in severities else 0)
                doc = json.loads(self.check("--format", "json", path).stdout)
                got = doc["files"][0]["diagnostics"]
                self.assertEqual([(d["severity"], d["id"], str(d["line"]), str(d["column"])) for d in got],
                                 [w[:4] for w in wanted])
                for d, w in zip(got, wanted):
                    self.assertIn(w[4], d["explanation"])

    def test_exit_status_counts_and_several_files(self):
        clean = self.program("clean.mcl", "A = 1;\n??A;\n")
        warned = self.program("warned.mcl", "CALL FOO;\n")
        broken = self.program("broken.mcl", "A = 1;\nC = A +;\n")
        self.assertEqual(self.check(clean).returncode, 0)
        self.assertEqual(self.check(clean).stdout, b"")
        self.assertEqual(self.check(clean, warned).returncode, 1)
        out = self.check(warned, broken, clean)
        self.assertEqual(out.returncode, 2)
        text = out.stdout.decode()
        self.assertIn(warned + ":1:6: warning: 関数 FOO が定義されていません", text)
        self.assertIn(broken + ":2:7: error: 「+」のあとに", text)
        self.assertLess(text.index(warned), text.index(broken))  # in the order given
        doc = json.loads(self.check("--format", "json", warned, broken, clean).stdout)
        self.assertEqual([f["file"] for f in doc["files"]], [warned, broken, clean])
        self.assertEqual((doc["errors"], doc["warnings"], doc["notes"]), (1, 1, 0))
        self.assertEqual(doc["files"][1]["diagnostics"][0]["message"], "MATH Syntax Error #[1] Token => #")
        self.assertEqual(doc["files"][1]["diagnostics"][0]["length"], 1)
        # Nothing runs: a program that would print prints nothing.
        self.assertEqual(self.check(self.program("p.mcl", '??"printed";\n')).stdout, b"")
        # More files than there are tabs.
        many = [self.program(f"m{i}.mcl", "A = 1;\n") for i in range(12)]
        self.assertEqual(self.check(*many).returncode, 0)

    def test_bad_usage_and_unreadable_files(self):
        self.assertEqual(self.check().returncode, 3)
        self.assertEqual(self.check("--format", "xml", "x.mcl").returncode, 3)
        out = self.check(os.path.join(self.home, "missing.mcl"))
        self.assertEqual(out.returncode, 3)
        self.assertIn(b"cannot read", out.stderr)
        out = subprocess.run([RUNNER, "--home", self.home, "--format", "json", "x.mcl"], capture_output=True)
        self.assertEqual(out.returncode, 3)

    def test_places_count_utf16_units_through_crlf_shift_jis_and_emoji(self):
        crlf = self.program("crlf.mcl", "A = 1;\r\n\U0001F600X = A +;\r\n")
        self.assertIn(f"{crlf}:2:9: error:", self.check(crlf).stdout.decode())  # the emoji is two units
        sjis = self.program("sjis.mcl", "合計 = 1;\r\n合計 = 合計 +;\r\n".encode("cp932"))
        self.assertIn(f"{sjis}:2:9: error:", self.check(sjis).stdout.decode())

    def test_the_tables_and_settings_of_the_home_are_used(self):
        # THEN renamed NARA in the word list, the grammar and the rules, as
        # the language editor does it.
        home = os.path.join(self.home, "home")
        os.mkdir(home)
        for name in ("T-Keyword.txt", "T-Syntax.txt", "T-CodeGenerationRule.txt"):
            with open(os.path.join(DATA, name), encoding="utf-8") as f:
                table = re.sub(r"\bTHEN\b", "NARA", f.read())
            with open(os.path.join(home, name), "w", encoding="utf-8") as f:
                f.write(table)
        program = self.program("nara.mcl", "A = 1;\nIF A > 0 NARA\n  ??A;\nEND\n")
        self.assertEqual(self.check(program).stdout.decode().count(": error: "), 1)  # NARA is a name here
        out = self.check(program, home=home)
        self.assertEqual((out.returncode, out.stdout), (0, b""))  # and a keyword there: nothing to say
        old = self.program("then.mcl", "A = 1;\nIF A > 0 THEN\n  ??A;\nEND\n")
        self.assertEqual(self.check(old, home=home).returncode, 2)
        # "シングルクォートをダブルクォートに置き換え" from User_Setting.Txt.
        quotes = self.program("quotes.mcl", "&S = 'abc';\n??&S;\n")
        self.assertEqual(self.check(quotes, home=home).returncode, 2)
        with open(os.path.join(home, "User_Setting.Txt"), "w", encoding="utf-8") as f:
            f.write("NAME=Editor_Quote_CheckBox\r\n1\r\n")
        self.assertEqual(self.check(quotes, home=home).returncode, 0)
        with open(quotes, encoding="utf-8") as f:
            self.assertEqual(f.read(), "&S = 'abc';\n??&S;\n")  # the file is never changed

    def test_a_run_prints_the_same_lines_on_stderr(self):
        broken = self.program("broken.mcl", "A = 1;\nC = A +;\n")
        run = subprocess.run([RUNNER, "--home", self.home, broken], capture_output=True, timeout=60)
        self.assertEqual(run.returncode, 2)
        self.assertIn(self.check(broken).stdout.decode(), run.stderr.decode())


def main():
    global RUNNER, MISTAKES, DATA
    RUNNER, MISTAKES, DATA = sys.argv[1], sys.argv[2], sys.argv[3]
    unittest.main(argv=sys.argv[:1], verbosity=1)


if __name__ == "__main__":
    main()
