#!/usr/bin/env bash
# Installs what is missing, builds, and runs a program with velmora-run:
# the given FILE.mcl, or the bundled example.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/build.sh >/dev/null
program="${1:-examples/hello.mcl}"
shift || true
exec build/cli/velmora-run "$program" "$@"
