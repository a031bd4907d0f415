#!/usr/bin/env python3
"""Runs one golden program through velmora-run and compares the result.

  run_golden.py VELMORA_RUN DIR NAME [EXPECTED_DIR]

NAME.mcl (and NAME.2.mcl ... NAME.10.mcl, compiled into the next slots) runs
with --final-console in a fresh home directory. stdout must equal NAME.out,
or, without that file, the `// expect: TEXT` comments of NAME.mcl, one console
line each, in order (a mismatch names the comment's line);
stderr must equal NAME.err when that file exists; the exit status must equal
NAME.exit (default 0). NAME.settings becomes User_Setting.Txt of the home and
NAME.T-Keyword.txt (and the other table files) the home's table file; NAME.args
holds extra options, one per line; NAME.in is the standard input (GETS reads
it; without it standard input is empty). With VELMORA_UPDATE_GOLDEN=1 the
expected files are written instead (review the diff before committing).
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


def main():
    runner, directory, name = sys.argv[1:4]
    runner, directory = os.path.abspath(runner), os.path.abspath(directory)
    source = os.path.join(directory, name)
    base = os.path.join(os.path.abspath(sys.argv[4]), name) if len(sys.argv) > 4 else source
    files = [source + ".mcl"] + [f"{source}.{n}.mcl" for n in range(2, 11) if os.path.exists(f"{source}.{n}.mcl")]
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
    if os.environ.get("VELMORA_UPDATE_GOLDEN"):
        if os.path.exists(base + ".out") or not inline_expectations(source + ".mcl"):
            open(base + ".out", "w", encoding="utf-8").write(out)
        if os.path.exists(base + ".err") or proc.returncode != 0:
            open(base + ".err", "w", encoding="utf-8").write(err)
        if proc.returncode != 0:
            open(base + ".exit", "w").write(f"{proc.returncode}\n")
        return 0
    ok = True

    def fail():
        nonlocal ok
        ok = False

    def compare(kind, expected, actual):
        nonlocal ok
        if expected != actual:
            ok = False
            print(f"--- {name}: {kind} differs")
            sys.stdout.writelines(difflib.unified_diff(expected.splitlines(True), actual.splitlines(True),
                                                       "expected", "actual"))

    if os.path.exists(base + ".out"):
        compare("stdout", open(base + ".out", encoding="utf-8").read(), out)
    else:
        check_inline(name, source + ".mcl", out) or fail()
    if os.path.exists(base + ".err"):
        compare("stderr", open(base + ".err", encoding="utf-8").read(), err)
    expected_exit = int(open(base + ".exit").read()) if os.path.exists(base + ".exit") else 0
    if proc.returncode != expected_exit:
        ok = False
        print(f"--- {name}: exit status {proc.returncode}, expected {expected_exit}")
        print(err)
    return 0 if ok else 1


def inline_expectations(path):
    """The (line number, text) of each `// expect: TEXT` comment of a program."""
    found = []
    for number, line in enumerate(open(path, encoding="utf-8").read().splitlines(), 1):
        m = re.search(r"//\s*expect:\s?(.*)$", line)
        if m:
            found.append((number, m.group(1).rstrip()))
    return found


def check_inline(name, path, out):
    expected = inline_expectations(path)
    if not expected:
        print(f"--- {name}: no {name}.out and no // expect: comments")
        return False
    actual = out.splitlines()
    while len(actual) > len(expected) and actual[-1] == "":
        actual.pop()  # the empty line after a final CRLF
    for i, (number, text) in enumerate(expected):
        got = actual[i] if i < len(actual) else None
        if got != text:
            print(f"--- {name}.mcl:{number}: console line {i + 1} expected {text!r}, got {got!r}")
            return False
    if len(actual) > len(expected):
        print(f"--- {name}: {len(actual) - len(expected)} console lines more than expected, "
              f"the first: {actual[len(expected)]!r}")
        return False
    return True


if __name__ == "__main__":
    sys.exit(main())
