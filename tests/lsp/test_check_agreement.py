#!/usr/bin/env python3
"""velmora-run --check and velmora-lsp give the same diagnostics (kind,
line, column, length, explanation) for every program under tests/ and
examples/: both come from one diagnostics function, and this holds the
faces to it. Skipped (77) when velmora-run has no --check.

  test_check_agreement.py VELMORA_RUN VELMORA_LSP SOURCE_DIR
"""
import glob
import json
import os
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from lsp_client import Client  # noqa: E402

RUN, SERVER, SOURCE = sys.argv[1:4]
HOME = tempfile.mkdtemp(prefix="velmora-agree-home-")  # no settings file: defaults on both sides
programs = sorted(set(glob.glob(os.path.join(SOURCE, "tests", "**", "*.mcl"), recursive=True) +
                      glob.glob(os.path.join(SOURCE, "examples", "*.mcl"))))

check = subprocess.run([RUN, "--home", HOME, "--check", "--format", "json", *programs],
                       capture_output=True, timeout=600)
if check.returncode == 3 and b"--check" in check.stderr:
    print("velmora-run has no --check: skipped")
    sys.exit(77)
report = json.loads(check.stdout)
by_file = {f["file"]: f["diagnostics"] for f in report["files"]}
if sorted(by_file) != programs:
    print("--check did not report every file")
    sys.exit(1)


def decoded(path):
    """The text as velmora-run reads the file: a byte-order mark decides, else
    valid UTF-8, else CP932."""
    data = open(path, "rb").read()
    if data.startswith(b"\xef\xbb\xbf"):
        return data[3:].decode("utf-8", "replace")
    if data.startswith(b"\xff\xfe"):
        return data[2:].decode("utf-16-le", "replace")
    if data.startswith(b"\xfe\xff"):
        return data[2:].decode("utf-16-be", "replace")
    try:
        return data.decode("utf-8")
    except UnicodeDecodeError:
        return data.decode("cp932", "replace")


severity = {1: "error", 2: "warning", 3: "note", 4: "note"}
failures = 0
count = 0
c = Client(SERVER, ["--home", HOME])
try:
    c.initialize()
    for n, path in enumerate(programs):
        uri = "file://" + path
        c.open(uri, decoded(path))
        got = c.diagnostics(uri, 1, timeout=60)["diagnostics"]
        c.notify("textDocument/didClose", {"textDocument": {"uri": uri}})
        c.diagnostics(uri, None)
        server = [(severity[d["severity"]], d["range"]["start"]["line"] + 1, d["range"]["start"]["character"] + 1,
                   d["range"]["end"]["character"] - d["range"]["start"]["character"]
                   if d["range"]["end"]["line"] == d["range"]["start"]["line"] else None, d["message"]) for d in got]
        cli = [(d["severity"], d["line"], d["column"], d["length"], d["explanation"]) for d in by_file[path]]
        count += len(cli)
        if server != cli:
            failures += 1
            print(f"FAIL {os.path.relpath(path, SOURCE)}:\n  --check: {cli}\n  server:  {server}")
    c.stop()
finally:
    c.kill()
print(f"{len(programs)} programs, {count} diagnostics, {failures} disagreeing")
sys.exit(1 if failures else 0)
