#!/usr/bin/env bash
# Rewrites the expected files (.out, .err, .exit) of the golden programs (all,
# or those named) from the current build. Expectations written as comments in
# a program are not rewritten: their mismatches are printed, for editing by
# hand. Review the diff before committing.
set -euo pipefail
cd "$(dirname "$0")"
runner=../../build/cli/velmora-run
names=("$@")
if [ ${#names[@]} -eq 0 ]; then
  for f in *.mcl; do
    case "$f" in *.[0-9].mcl|*.10.mcl) continue ;; esac
    names+=("${f%.mcl}")
  done
fi
for n in "${names[@]}"; do VELMORA_UPDATE_GOLDEN=1 python3 run_golden.py "$runner" . "$n"; done
git diff --stat -- . || true
