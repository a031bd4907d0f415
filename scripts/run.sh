#!/usr/bin/env bash
# Installs what is missing, builds, and runs a program: the given FILE.mcl or
# the bundled example. With a display the IDE opens with the program compiled
# (press ● to run it); without one (or with VELMORA_HEADLESS=1) velmora-run
# runs it and prints the console.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/build.sh >/dev/null
# Run from the build tree, the window and the runner keep their programs (PROG)
# and data (DATA) beside their executables; the examples and their data files
# go there once, as an installed Velmora copies them into the user's directory.
shopt -s nullglob
for dir in build/gui build/cli; do
  [ -d "$dir" ] || continue
  mkdir -p "$dir/PROG" "$dir/DATA"
  for f in examples/*.mcl examples/*.txt; do [ -e "$dir/PROG/${f##*/}" ] || cp "$f" "$dir/PROG/"; done
  for f in examples/data/*; do [ -e "$dir/DATA/${f##*/}" ] || cp "$f" "$dir/DATA/"; done
done
program="${1:-examples/hello.mcl}"
shift || true
if [ -z "${VELMORA_HEADLESS:-}" ] && [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && [ -x build/gui/velmora ]; then
  exec build/gui/velmora "$program"
fi
exec build/cli/velmora-run "$program" "$@"
