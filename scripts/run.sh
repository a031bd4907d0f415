#!/usr/bin/env bash
# Installs what is missing, builds, and runs a program: the given FILE.mcl or
# the bundled example. With a display the IDE opens with the program compiled
# (press ● to run it); without one (or with VELMORA_HEADLESS=1) velmora-run
# runs it and prints the console.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/build.sh >/dev/null
program="${1:-examples/hello.mcl}"
shift || true
if [ -z "${VELMORA_HEADLESS:-}" ] && [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && [ -x build/gui/velmora ]; then
  exec build/gui/velmora "$program"
fi
exec build/cli/velmora-run "$program" "$@"
