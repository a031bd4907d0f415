#!/usr/bin/env python3
"""The golden-program checker itself: wrong expectations must fail, naming
the program's line, and contradicting ones must be refused.

  test_run_golden.py VELMORA_RUN

Each case writes a small program (and expected files) into a temporary
directory and runs run_golden.py on it with the real velmora-run.
"""
import os
import subprocess
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
RUNNER = None


class Golden(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory(prefix="velmora-checker-")
        self.addCleanup(self.dir.cleanup)

    def write(self, name, text):
        with open(os.path.join(self.dir.name, name), "w", encoding="utf-8") as f:
            f.write(text)

    def exists(self, name):
        return os.path.exists(os.path.join(self.dir.name, name))

    def golden(self, program, files=None, update=False, keep=False):
        """Writes t.mcl (and further files) into the emptied directory (kept
        as it is with keep), runs the checker: (status, output)."""
        if not keep:
            for name in os.listdir(self.dir.name):
                os.remove(os.path.join(self.dir.name, name))
        self.write("t.mcl", program)
        for name, text in (files or {}).items():
            self.write(name, text)
        env = dict(os.environ)
        env.pop("VELMORA_UPDATE_GOLDEN", None)
        if update:
            env["VELMORA_UPDATE_GOLDEN"] = "1"
        proc = subprocess.run([sys.executable, os.path.join(HERE, "run_golden.py"), RUNNER, self.dir.name, "t"],
                              capture_output=True, text=True, env=env, timeout=120)
        return proc.returncode, proc.stdout + proc.stderr

    def assertPasses(self, program, files=None, keep=False):
        status, output = self.golden(program, files, keep=keep)
        self.assertEqual(status, 0, output)

    def assertFails(self, program, *expected, files=None):
        status, output = self.golden(program, files)
        self.assertEqual(status, 1, output)
        for text in expected:
            self.assertIn(text, output)
        return output


DIVISION = 'A = 0;\n??"start"; ??CRLF;  // expect: start\nB = 1 / A;  // expect runtime error{}: {}\n??"never";\n'


class Console(Golden):
    def test_right_lines_pass_and_a_wrong_one_names_its_line(self):
        self.assertPasses('??"one"; ??CRLF;  // expect: one\n??"two";  // expect: two\n')
        self.assertFails('??"one"; ??CRLF;  // expect: one\n??"two";  // expect: three\n',
                         "t.mcl:2: console line 2 expected 'three', got 'two'")

    def test_a_missing_or_an_extra_line_fails(self):
        self.assertFails('??"one"; ??CRLF; ??"two";  // expect: one\n', "1 console lines more than expected")
        self.assertFails('??"one";  // expect: one\n// expect: two\n', "t.mcl:2: console line 2 expected 'two', got None")

    def test_a_long_output_file_is_compared_whole(self):
        self.assertPasses('??"one"; ??CRLF; ??"two";\n', {"t.out": "one\ntwo\n"})
        self.assertFails('??"one"; ??CRLF; ??"two";\n', "t: stdout differs", "+two", files={"t.out": "one\nTWO\n"})


class RunTimeError(Golden):
    def test_the_right_error_passes(self):
        self.assertPasses(DIVISION.format("", "ゼロ除算"))
        self.assertPasses(DIVISION.format(" 100", "計算エラー：/ ゼロ除算（0 で割った）"))

    def test_a_wrong_message_names_the_line(self):
        self.assertFails(DIVISION.format("", "桁あふれ"), "t.mcl:3: run-time error", "does not contain '桁あふれ'")

    def test_a_wrong_code_names_the_line(self):
        self.assertFails(DIVISION.format(" 101", "ゼロ除算"), "t.mcl:3: run-time error code 100, expected 101")

    def test_the_comment_must_sit_on_the_raising_statement(self):
        program = 'A = 0;  // expect runtime error: ゼロ除算\nB = 1 / A;\n'
        self.assertFails(program, "t.mcl:1: the run-time error was raised in task 01 at line 2, "
                                  "expected task 01 at line 1")

    def test_the_task_is_the_file_of_the_comment(self):
        second = 'WAIT 1;\nB = 1 / A;  // expect runtime error: ゼロ除算\n'
        self.assertPasses('A = 0;\n', {"t.2.mcl": 'A = 0;\n' + second})
        # The same comment in the first file: the error is task 1's.
        self.assertFails('A = 0;\nWAIT 1;\nX = 1;  // expect runtime error: ゼロ除算\n',
                         "t.mcl:3: the run-time error was raised in task 02 at line 3, expected task 01 at line 3",
                         files={"t.2.mcl": 'A = 0;\nWAIT 1;\nB = 1 / A;\n'})

    def test_a_run_without_the_error_fails(self):
        self.assertFails('A = 2;\nB = 1 / A;  // expect runtime error: ゼロ除算\n',
                         "t.mcl:2: expected a run-time error containing 'ゼロ除算', the run ended without one",
                         "exit status 0, expected 1 (the run-time error of t.mcl:2)")

    def test_an_unstated_error_fails(self):
        self.assertFails('??"start";  // expect: start\nA = 0;\nB = 1 / A;\n',
                         "t: unexpected run-time error", "exit status 1, expected 0")

    def test_console_lines_before_the_error_are_still_checked(self):
        self.assertFails(DIVISION.format("", "ゼロ除算").replace("// expect: start", "// expect: stop"),
                         "t.mcl:2: console line 1 expected 'stop', got 'start'")


class CompileError(Golden):
    PROGRAM = 'A = 1;\nIF A > 0 THEN\n  Y = (2 + 3)) * 2;  // expect compile error: {}\n{}END\n'

    def test_the_right_messages_pass(self):
        self.assertPasses(self.PROGRAM.format("Syntax Error", "  // expect compile error: Token => )\n"))

    def test_a_wrong_text_names_the_line(self):
        self.assertFails(self.PROGRAM.format("Syntax Error", "  // expect compile error: Token => (\n"),
                         "t.mcl:4: no compile error message containing 'Token => (' after the previous one")
        self.assertFails(self.PROGRAM.format("Lexical Error", ""),
                         "t.mcl:3: no compile error message containing 'Lexical Error'")

    def test_texts_follow_in_order(self):
        program = 'A = 1;\n  Y = (2 + 3)) * 2;  // expect compile error: Token => )\n// expect compile error: Syntax Error\n'
        self.assertFails(program, "t.mcl:3: no compile error message containing 'Syntax Error' after the previous one")

    def test_the_comment_must_sit_on_the_faulty_line(self):
        program = 'A = 1;  // expect compile error: Syntax Error\nY = (2 + 3)) * 2;\n'
        self.assertFails(program, "t.mcl:1: the compile error names line 2, expected line 1")

    def test_a_program_that_compiles_fails(self):
        self.assertFails('A = 1;  // expect compile error: Syntax Error\n',
                         "t.mcl:1: no compile error message containing 'Syntax Error'",
                         "exit status 0, expected 2 (the compile error of t.mcl:1)")


class Messages(Golden):
    LONG = 'ABCDEFGHIJKLMNOPQRSTU = 1;  // expect message: {}\n'

    def test_a_stated_message_must_appear(self):
        self.assertPasses('S = 1; &S = "x";  // expect message: 変数削除: S\n??&S;  // expect: x\n')
        self.assertFails('S = 1; &S = "x";  // expect message: 変数削除: T\n??&S;  // expect: x\n',
                         "t.mcl:1: no message containing '変数削除: T' on stderr")

    def test_once_one_is_stated_all_must_be(self):
        program = 'S = 1; &S = "x";  // expect message: 変数削除: S\nT = 2; &T = "y";\n??&S; ??&T;  // expect: xy\n'
        self.assertFails(program, "t: 1 messages on stderr that no // expect message: states, the first: '変数削除: T'")
        # Without any stated message the compile's report is not checked.
        self.assertPasses('&S = "x";\n&T = "y";\n??&S; ??&T;  // expect: xy\n')


class Refused(Golden):
    def test_an_expected_file_beside_comments_is_refused(self):
        self.assertFails('??"one";  // expect: one\n', "t: both t.out and // expect: comments (t.mcl:1)",
                         files={"t.out": "one\n"})
        self.assertFails(DIVISION.format("", "ゼロ除算"), "t: both t.err and error or message comments (t.mcl:3)",
                         files={"t.err": ""})
        self.assertFails('A = 1;  // expect compile error: Syntax Error\n',
                         "t: both t.exit and error comments (t.mcl:1)", files={"t.exit": "2\n"})

    def test_contradicting_or_unknown_comments_are_refused(self):
        self.assertFails('A = 1;  // expect runtim error: x\n', "t: t.mcl:1: unknown expectation '// expect runtim error:'")
        self.assertFails('A = 1;  // expect runtime error: x\nB = 1;  // expect runtime error: y\n',
                         "one run-time error ends a run, but 2 are expected (t.mcl:1, t.mcl:2)")
        self.assertFails('A = 1;  // expect compile error: x\n??A;  // expect: 1\n',
                         "nothing runs after a failed compile, but console output is expected (t.mcl:2)")
        self.assertFails('??"a";\n', "t: // expect: comments belong in t.mcl", "t.2.mcl:1",
                         files={"t.2.mcl": '??"b";  // expect: b\n'})
        self.assertFails('??"a";\n', "t: no t.out and no // expect comments")


class Update(Golden):
    def test_inline_programs_get_no_expected_files(self):
        status, output = self.golden(DIVISION.format("", "ゼロ除算"), update=True)
        self.assertEqual(status, 0, output)
        self.assertFalse(self.exists("t.out") or self.exists("t.err") or self.exists("t.exit"))
        status, output = self.golden(DIVISION.format("", "overflow"), update=True)
        self.assertIn("does not contain 'overflow'", output)
        self.assertIn("edit them in the program", output)
        self.assertFalse(self.exists("t.err"))

    def test_file_based_programs_are_rewritten(self):
        status, output = self.golden('??"new";\n', update=True)
        self.assertEqual(status, 0, output)
        with open(os.path.join(self.dir.name, "t.out"), encoding="utf-8") as f:
            self.assertEqual(f.read(), "new\n")
        # A program that used to fail and now ends loses its .exit (0 is the default).
        status, output = self.golden('??"new";\n', {"t.exit": "1\n"}, update=True, keep=True)
        self.assertFalse(self.exists("t.exit"))
        self.assertPasses('??"new";\n', keep=True)


if __name__ == "__main__":
    RUNNER = os.path.abspath(sys.argv.pop(1))
    unittest.main()
