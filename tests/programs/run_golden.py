#!/usr/bin/env python3
"""Runs one golden program through velmora-run and compares the result.

  run_golden.py VELMORA_RUN DIR NAME [EXPECTED_DIR]

NAME.mcl (and NAME.2.mcl ... NAME.10.mcl, compiled into the next slots) runs
with --final-console in a fresh home directory. What the run must give is
written either in the program itself or in expected files beside it.

In the program (comments; several on one line are allowed, each running to
the next one or to the line's end):
  // expect: TEXT                one console line, in order (NAME.mcl only)
  // expect runtime error: TEXT  the run stops with a run-time error whose
                                 message contains TEXT, raised by the statement
                                 on this line of this file (its task and line);
                                 the console's last line is that message; exit 1
  // expect runtime error CODE: TEXT   the same, with the error window's Code
  // expect compile error: TEXT  the compile fails with a message containing
                                 TEXT on stderr (further such comments: more
                                 texts that follow, in order); the line the
                                 message names is this comment's; nothing runs,
                                 the console stays empty; exit 2
  // expect message: TEXT        a line of stderr outside the error window
                                 contains TEXT (a compile warning, the variable
                                 report); once a program states one message it
                                 states all of them (compile failures aside)
A mismatch names the file and line of the comment concerned.

Expected files: stdout must equal NAME.out (for long output, in place of
`// expect:` comments), stderr NAME.err, the exit status NAME.exit (default
0, or what an error comment implies). An expected file and inline comments
for the same thing are refused: NAME.out with `// expect:`, NAME.err with
error or message comments, NAME.exit with error comments.

NAME.settings becomes User_Setting.Txt of the home and NAME.T-Keyword.txt (and
the other table files) the home's table file; NAME.args holds extra options,
one per line; NAME.in is the standard input (GETS reads it; without it
standard input is empty). With VELMORA_UPDATE_GOLDEN=1 the expected files
that a program uses are written instead (review the diff before committing);
comments are never rewritten: a program's inline expectations are checked
and their mismatches printed, for the author to edit.
The expected files (and .in, .args, .settings) may live in EXPECTED_DIR
instead of DIR; the files of DIR/data, when it exists, are copied into the
home's DATA directory first (the examples' data files). When NAME.in holds
{PORT}, the test HTTP server (tests/http/server.py) is started on 127.0.0.1
and its port put there. The file VELMORA_EXAMPLE_LIBRARY names (when set) is
copied into the home.
"""
import difflib
import os
import re
import shutil
import subprocess
import sys
import tempfile
from dataclasses import dataclass


def main():
    runner, directory, name = sys.argv[1:4]
    runner, directory = os.path.abspath(runner), os.path.abspath(directory)
    source = os.path.join(directory, name)
    base = os.path.join(os.path.abspath(sys.argv[4]), name) if len(sys.argv) > 4 else source
    files = [source + ".mcl"] + [f"{source}.{n}.mcl" for n in range(2, 11) if os.path.exists(f"{source}.{n}.mcl")]
    try:
        expectations = read_expectations(files)
    except Refused as e:
        print(f"--- {name}: {e}")
        return 1
    expected_files = {kind: os.path.exists(base + "." + kind) for kind in ("out", "err", "exit")}
    updating = bool(os.environ.get("VELMORA_UPDATE_GOLDEN"))
    problem = conflict(name, expectations, expected_files, updating)
    if problem:
        print(f"--- {name}: {problem}")
        return 1
    proc, out, err = run(runner, directory, name, source, base, files)
    if updating:
        update(name, base, expectations, expected_files, proc.returncode, out, err)
        return 0
    return 0 if check(name, base, expectations, expected_files, proc.returncode, out, err) else 1


def run(runner, directory, name, source, base, files):
    """Runs the program in a fresh home; the exit status, stdout and stderr."""
    args = []
    if os.path.exists(base + ".args"):
        args = [a for a in open(base + ".args", encoding="utf-8").read().splitlines() if a]
    home = tempfile.mkdtemp(prefix="velmora-golden-")
    try:
        if os.path.isdir(os.path.join(directory, "data")):
            shutil.copytree(os.path.join(directory, "data"), os.path.join(home, "DATA"))
        if os.path.exists(base + ".settings"):
            shutil.copy(base + ".settings", os.path.join(home, "User_Setting.Txt"))
        for table in ("T-Keyword.txt", "T-Symbol.txt", "T-Command.txt", "T-Math.txt", "T-Syntax.txt",
                      "T-CodeGenerationRule.txt"):
            for stem in (base, source):
                if os.path.exists(f"{stem}.{table}"):
                    shutil.copy(f"{stem}.{table}", os.path.join(home, table))
                    break
        # The library the build makes for library calls, in the program's own directory.
        if os.environ.get("VELMORA_EXAMPLE_LIBRARY"):
            shutil.copy(os.environ["VELMORA_EXAMPLE_LIBRARY"], home)
        cmd = [runner, "--home", home, "--final-console"] + args + files
        stdin, server = b"", None
        if os.path.exists(base + ".in"):
            stdin = open(base + ".in", "rb").read()
        if b"{PORT}" in stdin:
            server_py = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "http", "server.py")
            server = subprocess.Popen([sys.executable, server_py], stdout=subprocess.PIPE)
            stdin = stdin.replace(b"{PORT}", server.stdout.readline().strip())
        try:
            proc = subprocess.run(cmd, capture_output=True, timeout=120, cwd=home, input=stdin)
        finally:
            if server:
                server.kill()
                server.wait()
    finally:
        shutil.rmtree(home, ignore_errors=True)
    out = proc.stdout.decode("utf-8", "replace")
    err = proc.stderr.decode("utf-8", "replace").replace(home, "HOME")
    # The error window's date and time differ from run to run.
    err = re.sub(r"\d{4}/\d\d/\d\d \d\d:\d\d:\d\d", "YYYY/MM/DD hh:mm:ss", err)
    return proc, out, err


class Refused(Exception):
    """A program whose expectations contradict each other or cannot be read."""


@dataclass
class Expectation:
    kind: str      # "console", "runtime error", "compile error" or "message"
    text: str
    file: str      # the program file's name, for messages
    slot: int      # 0 for NAME.mcl, 1 for NAME.2.mcl, ...
    line: int      # 1-based
    code: int = None  # the error window's Code, when stated

    def where(self):
        return f"{self.file}:{self.line}"


# `// expect: `, `// expect runtime error 752: `, ...: the words between
# "expect" and the colon name the kind.
EXPECT = re.compile(r"//\s*expect\b((?:[ \t]+[A-Za-z0-9]+)*)[ \t]*:[ \t]?")
KINDS = {"": "console", "runtime error": "runtime error", "compile error": "compile error",
         "message": "message"}


def read_expectations(files):
    """Every expectation comment of the program's files, in file and line order."""
    found = []
    for slot, path in enumerate(files):
        lines = open(path, encoding="utf-8").read().splitlines()
        for number, line in enumerate(lines, 1):
            matches = list(EXPECT.finditer(line))
            for i, m in enumerate(matches):
                end = matches[i + 1].start() if i + 1 < len(matches) else len(line)
                words = m.group(1).split()
                code = None
                if len(words) == 3 and words[:2] == ["runtime", "error"] and words[2].isdigit():
                    code = int(words[2])
                    words = words[:2]
                kind = KINDS.get(" ".join(words))
                where = f"{os.path.basename(path)}:{number}"
                if kind is None:
                    raise Refused(f"{where}: unknown expectation {m.group(0).strip()!r} (known: // expect:, "
                                  f"// expect runtime error [CODE]:, // expect compile error:, // expect message:)")
                text = line[m.end():end].rstrip()
                if kind != "console" and not text:
                    raise Refused(f"{where}: {m.group(0).strip()!r} without a text")
                found.append(Expectation(kind, text, os.path.basename(path), slot, number, code))
    return found


def of_kind(expectations, kind):
    return [e for e in expectations if e.kind == kind]


def conflict(name, expectations, expected_files, updating=False):
    """Why the program's expectations cannot be checked, or None. A new
    program without any expectation is fine while updating: it gets NAME.out."""
    console = of_kind(expectations, "console")
    runtime = of_kind(expectations, "runtime error")
    compile_ = of_kind(expectations, "compile error")
    messages = of_kind(expectations, "message")

    def at(found):
        return ", ".join(e.where() for e in found)

    elsewhere = [e for e in console if e.slot > 0]
    if elsewhere:
        return f"// expect: comments belong in {name}.mcl (the console of all slots), found at {at(elsewhere)}"
    if expected_files["out"] and console:
        return f"both {name}.out and // expect: comments ({at(console)}): keep one of them"
    if expected_files["err"] and (runtime or compile_ or messages):
        return (f"both {name}.err and error or message comments ({at(runtime + compile_ + messages)}): "
                f"keep one of them")
    if expected_files["exit"] and (runtime or compile_):
        return f"both {name}.exit and error comments ({at(runtime + compile_)}): keep one of them"
    if runtime and compile_:
        return f"a run-time error ({at(runtime)}) and a compile error ({at(compile_)}) cannot both happen"
    if len(runtime) > 1:
        return f"one run-time error ends a run, but {len(runtime)} are expected ({at(runtime)})"
    if compile_ and (console or expected_files["out"]):
        return f"nothing runs after a failed compile, but console output is expected ({at(console) or name + '.out'})"
    if not expectations and not expected_files["out"] and not updating:
        return f"no {name}.out and no // expect comments"
    return None


WINDOW_LABELS = (" Date/Time ", " Error Msg ", "    Status ", "      Task ", "      Line ", "      Code ",
                 "   Address ")


def split_stderr(err):
    """The error window's rows (label -> value, or None without a window) and
    the other lines of stderr, the environment's messages."""
    lines = err.splitlines()
    for i, line in enumerate(lines):
        if line.startswith(WINDOW_LABELS[0]):
            rows = lines[i:i + len(WINDOW_LABELS)]
            if len(rows) == len(WINDOW_LABELS) and all(r.startswith(l) for r, l in zip(rows, WINDOW_LABELS)):
                window = {l.strip(): r[len(l):] for r, l in zip(rows, WINDOW_LABELS)}
                return window, lines[:i] + lines[i + len(WINDOW_LABELS):]
    return None, lines


def is_decoration(line):
    """Blank lines, the headings of the warning blocks and their closing note."""
    s = line.strip()
    return not s or re.fullmatch(r"-----\s.*\s-----", s) or re.fullmatch(r"＊.*＊", s)


def check_console(name, console, lines, report):
    """The console's lines against the `// expect:` comments, in order."""
    actual = list(lines)
    while len(actual) > len(console) and actual[-1] == "":
        actual.pop()  # the empty line after a final CRLF
    for i, e in enumerate(console):
        got = actual[i] if i < len(actual) else None
        if got != e.text:
            report(f"--- {e.where()}: console line {i + 1} expected {e.text!r}, got {got!r}")
            return
    if len(actual) > len(console):
        report(f"--- {name}: {len(actual) - len(console)} console lines more than expected, "
               f"the first: {actual[len(console)]!r}")


def check_runtime_error(name, e, window, lines, report):
    """The error window against a `// expect runtime error:` comment; the
    console lines before the error's own line, or None when it is missing."""
    if window is None:
        report(f"--- {e.where()}: expected a run-time error containing {e.text!r}, the run ended without one")
        return lines
    message = window["Error Msg"]
    if e.text not in message:
        report(f"--- {e.where()}: run-time error {message!r} does not contain {e.text!r}")
    # The window names the task as the task list does (01 to 10) and the
    # line by its index (from 0).
    task, line = window["Task"], window["Line"]
    if not (task.isdigit() and line.isdigit()) or (int(task) - 1, int(line) + 1) != (e.slot, e.line):
        report(f"--- {e.where()}: the run-time error was raised in task {task} at line "
               f"{int(line) + 1 if line.isdigit() else line!r}, expected task {e.slot + 1:02d} at line {e.line}")
    if e.code is not None and window["Code"] != str(e.code):
        report(f"--- {e.where()}: run-time error code {window['Code']}, expected {e.code}")
    if window["Status"] != "全タスク停止":
        report(f"--- {e.where()}: the error window's Status is {window['Status']!r}, not all tasks stopped")
    for label in ("Code", "Address"):
        if not window[label].lstrip("-").isdigit():
            report(f"--- {e.where()}: the error window's {label} is {window[label]!r}, not a number")
    # The error starts a console line of its own with its message.
    if not lines or lines[-1] != message:
        report(f"--- {e.where()}: the console's last line {lines[-1] if lines else None!r} "
               f"is not the run-time error's message {message!r}")
        return lines
    return lines[:-1]


def check_compile_error(name, found, messages, report):
    """The compiler's messages against the `// expect compile error:` comments:
    each text after the previous one; the line the message names."""
    text = "\n".join(messages)
    position = 0
    for e in found:
        at = text.find(e.text, position)
        if at < 0:
            report(f"--- {e.where()}: no compile error message containing {e.text!r}"
                   f"{' after the previous one' if position else ''}; stderr:\n{text}")
            return
        position = at + len(e.text)
    m = re.search(r"Syntax Error #\[(\d+)\]|^Line\s+=>\s*(\d+)", text, re.M)
    if m:
        line = int(m.group(1) or m.group(2)) + 1
        if line != found[0].line:
            report(f"--- {found[0].where()}: the compile error names line {line}, expected line {found[0].line}")


def check_messages(name, found, messages, strict, report):
    """Each `// expect message:` text in a line of its own (a heading too);
    with strict, no other message (headings and blank lines aside)."""
    left = [m for m in messages if m.strip()]
    for e in found:
        hit = next((i for i, m in enumerate(left) if e.text in m), None)
        if hit is None:
            report(f"--- {e.where()}: no message containing {e.text!r} on stderr")
        else:
            del left[hit]
    left = [m for m in left if not is_decoration(m)]
    if strict and left:
        report(f"--- {name}: {len(left)} messages on stderr that no // expect message: states, "
               f"the first: {left[0]!r}")


def check(name, base, expectations, expected_files, returncode, out, err):
    """Compares the run with the expected files and comments; prints each
    difference and tells whether there were none."""
    problems = []
    report = problems.append
    console = of_kind(expectations, "console")
    runtime = of_kind(expectations, "runtime error")
    compile_ = of_kind(expectations, "compile error")
    messages = of_kind(expectations, "message")
    window, message_lines = split_stderr(err)

    lines = out.splitlines()
    if runtime:
        lines = check_runtime_error(name, runtime[0], window, lines, report)
    elif not expected_files["err"] and window is not None and not expected_files["exit"]:
        report(f"--- {name}: unexpected run-time error {window['Error Msg']!r} in task {window['Task']} "
               f"at line {window['Line']}")
    if expected_files["out"]:
        diff(name, "stdout", open(base + ".out", encoding="utf-8").read(), out, report)
    elif compile_:
        if out:
            report(f"--- {compile_[0].where()}: the compile failed, but the console is not empty: {out!r}")
    else:
        check_console(name, console, lines, report)

    if expected_files["err"]:
        diff(name, "stderr", open(base + ".err", encoding="utf-8").read(), err, report)
    if compile_:
        check_compile_error(name, compile_, message_lines, report)
    check_messages(name, messages, message_lines, bool(messages) and not compile_, report)

    if expected_files["exit"]:
        expected_exit, why = int(open(base + ".exit").read()), f"{name}.exit"
    elif compile_:
        expected_exit, why = 2, f"the compile error of {compile_[0].where()}"
    elif runtime:
        expected_exit, why = 1, f"the run-time error of {runtime[0].where()}"
    else:
        expected_exit, why = 0, "a run that ends"
    if returncode != expected_exit:
        report(f"--- {name}: exit status {returncode}, expected {expected_exit} ({why})\n{err}")
    for p in problems:
        print(p.rstrip("\n"))
    return not problems


def diff(name, kind, expected, actual, report):
    if expected != actual:
        report(f"--- {name}: {kind} differs\n" + "".join(
            difflib.unified_diff(expected.splitlines(True), actual.splitlines(True), "expected", "actual")))


def update(name, base, expectations, expected_files, returncode, out, err):
    """Writes the expected files the program uses from this run; inline
    comments are only checked, their mismatches printed for the author."""
    errors = [e for e in expectations if e.kind in ("runtime error", "compile error")]
    inline_stderr = errors or of_kind(expectations, "message")
    if expected_files["out"] or not expectations:
        open(base + ".out", "w", encoding="utf-8").write(out)
    if expected_files["err"] or (returncode != 0 and not inline_stderr):
        open(base + ".err", "w", encoding="utf-8").write(err)
    if not errors:
        if returncode != 0:
            open(base + ".exit", "w").write(f"{returncode}\n")
        elif expected_files["exit"]:
            os.remove(base + ".exit")  # 0 is the default
    if expectations:
        written = {k: os.path.exists(base + "." + k) for k in expected_files}
        if not check(name, base, expectations, written, returncode, out, err):
            print(f"--- {name}: the comments above do not match this run; edit them in the program")


if __name__ == "__main__":
    sys.exit(main())
