#!/usr/bin/env python3
"""The VS Code extension: its grammar through vscode-textmate and
vscode-oniguruma and its tasks with velmora-run and the problem matchers
(editors/vscode/test, node's test runner), then the .vsix
packaged by @vscode/vsce, with the files VS Code needs in it. Skipped (77)
when Node.js or the extension's npm packages (scripts/web.sh setup) are
missing.

  test_vscode.py SOURCE_DIR OUT.vsix VELMORA_RUN
"""
import json
import os
import shutil
import subprocess
import sys
import zipfile

SOURCE, OUT, RUNNER = sys.argv[1], sys.argv[2], sys.argv[3]
ext = os.path.join(SOURCE, "editors", "vscode")
node = shutil.which("node")
if not node or not os.path.isdir(os.path.join(ext, "node_modules", "vscode-textmate")):
    print("node or editors/vscode/node_modules missing (bash scripts/web.sh setup): skipped")
    sys.exit(77)

run = subprocess.run([node, "--test", "test/"], cwd=ext, capture_output=True, text=True, timeout=300,
                     env={**os.environ, "VELMORA_RUN": RUNNER})
print(run.stdout[-3000:], run.stderr[-2000:])
if run.returncode != 0:
    print("the grammar or task tests failed")
    sys.exit(1)

if os.path.exists(OUT):
    os.remove(OUT)
vsce = os.path.join(ext, "node_modules", "@vscode", "vsce", "vsce")
run = subprocess.run([node, vsce, "package", "--out", OUT], cwd=ext, capture_output=True, text=True, timeout=300)
if run.returncode != 0 or not os.path.exists(OUT):
    print("vsce package failed:", run.stdout[-3000:], run.stderr[-3000:])
    sys.exit(1)

failures = []
with zipfile.ZipFile(OUT) as z:
    names = set(z.namelist())
    for needed in ("extension/package.json", "extension/extension.js", "extension/language-configuration.json",
                   "extension/syntaxes/velmora.tmLanguage.json", "extension/node_modules/vscode-languageclient/node.js",
                   "extension.vsixmanifest"):
        if needed not in names:
            failures.append(f"{needed} missing from the .vsix")
    for name in names:
        if "/test/" in name.replace("extension/node_modules", "") or "/@vscode/vsce/" in name or "vscode-textmate" in name:
            failures.append(f"{name} should not be packaged")
    with open(os.path.join(ext, "syntaxes", "velmora.tmLanguage.json"), "rb") as f:
        if z.read("extension/syntaxes/velmora.tmLanguage.json") != f.read():
            failures.append("the packaged grammar is not the tested one")
    manifest = json.loads(z.read("extension/package.json"))
    if manifest["contributes"]["languages"][0]["extensions"] != [".mcl", ".MCL"]:
        failures.append("the .mcl files are not the extension's")
    matchers = {m["name"]: m for m in manifest["contributes"]["problemMatchers"]}
    import re
    # The problem matchers read velmora-run's FILE:LINE:COL: lines.
    error = re.compile(matchers["velmora"]["pattern"]["regexp"])
    note = re.compile(matchers["velmora-note"]["pattern"]["regexp"])
    info = re.compile(matchers["velmora-info"]["pattern"]["regexp"])
    m = error.match("prog.mcl:2:7: 「+」のあとに計算する値がありません。")
    if not m or m.group(1, 2, 3, 4) != ("prog.mcl", "2", "7", "「+」のあとに計算する値がありません。"):
        failures.append(f"an error line: {m and m.groups()}")
    m = error.match("/tmp/a b/p.mcl:10:1: error: 文の終わりに「;」がありません。")
    if not m or m.group(1, 4) != ("/tmp/a b/p.mcl", "文の終わりに「;」がありません。"):
        failures.append(f"an error line with its severity: {m and m.groups()}")
    for line, matcher in (("p.mcl:3:1: 注意: x", note), ("p.mcl:3:1: warning: x", note), ("p.mcl:3:1: note: x", info)):
        if error.match(line) or not matcher.match(line) or [m for m in (note, info) if m is not matcher and m.match(line)]:
            failures.append(f"{line}: matched by the one matcher of its severity")
for f in failures:
    print("FAIL:", f)
print(f"{OUT}: {os.path.getsize(OUT)} bytes, {len(names)} files")
sys.exit(1 if failures else 0)
