#!/usr/bin/env python3
"""Checks who may include whom (docs/architecture.md).

  check_layers.py SOURCE_ROOT

Every #include "dir/file.h" of a C++ file under the source root is checked
against the rules below; each breach is printed as FILE:LINE and the check
fails. Run as the ctest test layers.
"""
import os
import re
import sys

# The folders of the core and what each may include besides itself and text/.
MAY_INCLUDE = {
    "text": set(),
    "language": {"data"},
    "compiler": {"language"},
    "engine": set(),
    "canvas": {"engine"},
    "environment": {"compiler", "language", "engine"},
    "cli": {"environment", "engine", "canvas", "compiler", "language"},
    "lsp": {"compiler", "language"},
    "gui": {"environment", "engine", "canvas", "compiler", "language"},
}
# Single headers a folder may include from a folder it may not include
# otherwise: the instruction table is data the compiler generates codes from.
ALSO = {"compiler": {"engine/instructions.h", "engine/types.h"}}
# Headers of a folder that no other folder may include: the engine's inside.
PRIVATE = {"engine/machine.h": "engine", "engine/families.h": "engine"}
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"')
QT = re.compile(r"^\s*#\s*include\s+<Q")
WIDGETS = re.compile(r"^\s*#\s*include\s+<(QtWidgets/|QWidget|QMainWindow|QDialog|QApplication)")


def breaches(root):
    found = []
    for top, dirs, files in os.walk(root):
        dirs[:] = [d for d in dirs if not d.startswith(".") and not d.startswith("build") and d != "node_modules"]
        for name in files:
            if not name.endswith((".cpp", ".h")):
                continue
            path = os.path.join(top, name)
            rel = os.path.relpath(path, root)
            folder = rel.split(os.sep)[0]
            with open(path, encoding="utf-8", errors="replace") as f:
                for number, line in enumerate(f, 1):
                    if QT.match(line) and folder in ("text", "language", "compiler", "engine", "environment", "lsp"):
                        found.append(f"{rel}:{number}: {folder}/ must not use Qt")
                    if WIDGETS.match(line) and folder in ("canvas", "cli"):
                        found.append(f"{rel}:{number}: only gui/ uses Qt Widgets")
                    m = INCLUDE.match(line)
                    if not m:
                        continue
                    target = m.group(1)
                    owner = PRIVATE.get(target)
                    if owner and folder != owner:
                        found.append(f"{rel}:{number}: {target} is {owner}/'s own header")
                    target_folder = target.split("/")[0]
                    if folder in MAY_INCLUDE and "/" in target and target_folder in MAY_INCLUDE:
                        if target_folder not in MAY_INCLUDE[folder] | {folder, "text"} and \
                                target not in ALSO.get(folder, set()):
                            found.append(f"{rel}:{number}: {folder}/ may not include {target}")
    return found


def main():
    root = os.path.abspath(sys.argv[1])
    found = breaches(root)
    for line in found:
        print(line)
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main())
