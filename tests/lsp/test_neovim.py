#!/usr/bin/env python3
"""Debian's Neovim as a real client of velmora-lsp: the README's
configuration (editors/neovim/velmora.lua) opens a Shift-JIS program with a
mistake after kanji, and the test reads the diagnostics Neovim received
(line, column, message), a completion list and a hover. Skipped (77) when
nvim is missing.

  test_neovim.py VELMORA_LSP SOURCE_DIR
"""
import json
import os
import shutil
import subprocess
import sys
import tempfile

SERVER, SOURCE = sys.argv[1], sys.argv[2]
nvim = shutil.which("nvim")
if not nvim:
    print("nvim not found: skipped")
    sys.exit(77)

work = tempfile.mkdtemp(prefix="velmora-nvim-")
program = os.path.join(work, "かず.mcl")
lines = ["// 合計を出す", "合計 = 0;", "FOR I = 1 TO 3 DO 合計 += I; END", "表示 = 合計 *;", "WAIT 1;"]
with open(program, "wb") as f:
    f.write("\r\n".join(lines).encode("cp932") + b"\r\n")

env = dict(os.environ)
env["PATH"] = os.path.dirname(os.path.abspath(SERVER)) + os.pathsep + env.get("PATH", "")
env["VELMORA_HOME"] = tempfile.mkdtemp(prefix="velmora-nvim-home-")
env["HOME"] = work  # no user configuration, no shada
env["XDG_CONFIG_HOME"] = os.path.join(work, "config")
env["XDG_DATA_HOME"] = os.path.join(work, "data")
env["XDG_STATE_HOME"] = os.path.join(work, "state")
env["VELMORA_NVIM_OUT"] = os.path.join(work, "out.json")
env["VELMORA_NVIM_CONFIG"] = os.path.join(SOURCE, "editors", "neovim", "velmora.lua")
env["VELMORA_NVIM_FILE"] = program
env["VELMORA_NVIM_LINE"] = "4"
session = os.path.join(SOURCE, "tests", "lsp", "neovim_session.lua")
run = subprocess.run([nvim, "--headless", "-n", "-i", "NONE", "-u", "NONE", "-c", f"luafile {session}"],
                     env=env, cwd=work, capture_output=True, timeout=60)
if not os.path.exists(env["VELMORA_NVIM_OUT"]):
    print("nvim wrote nothing:", run.stdout.decode(errors="replace"), run.stderr.decode(errors="replace"))
    sys.exit(1)
with open(env["VELMORA_NVIM_OUT"], encoding="utf-8") as f:
    out = json.load(f)

failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
        print("FAIL:", what)


check(out["filetype"] == "velmora", f"filetype: {out['filetype']}")
check(out["fileencoding"] == "cp932", f"the Shift-JIS file read as cp932: {out['fileencoding']}")
check(out["waited"], "diagnostics arrived")
diags = out["diagnostics"]
check(len(diags) == 1, f"one diagnostic: {diags}")
if diags:
    d = diags[0]
    # Neovim counts columns in bytes of its UTF-8 buffer: the "*" after the
    # kanji, converted from the server's UTF-16 position by Neovim itself.
    star = len(lines[3][:lines[3].index("*")].encode("utf-8"))
    check((d["lnum"], d["col"]) == (3, star), f"line and column of the diagnostic: {d}, expected (3, {star})")
    check("「*」のあとに計算する値がありません" in d["message"], f"message: {d['message']}")
    check(d["severity"] == 1, "an error")
labels = {i["label"]: i["detail"] for i in out["completion"]}
check("WAIT" in labels and "0.1 秒" in labels["WAIT"], f"WAIT with its description in the completion list")
check("合計" in labels and "表示" in labels, "the program's variables in the completion list")
check("WAIT (080)" in out["hover"], f"hover on WAIT: {out['hover']}")
print(f"neovim: {len(diags)} diagnostic(s), {len(labels)} completion items")
if failures:
    sys.exit(1)
print("neovim checks passed")
