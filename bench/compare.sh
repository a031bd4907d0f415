#!/usr/bin/env bash
# Times each benchmark program with velmora-run and the same work written
# for python3 (NAME.py, the loop inside a function; NAME.top.py, the loop at
# top level, where there is one) and lua5.4 in one run, and prints the
# ratios; then ten programs together against one, and the engine's records
# per second against another build when VELMORA_BASE names its source tree.
#   bash bench/compare.sh                 (after scripts/build.sh)
#   VELMORA_BASE=/path/to/other/tree bash bench/compare.sh
# Times are the fastest of RUNS runs (default 3), wall clock, via hyperfine
# when it is installed.
set -euo pipefail
cd "$(dirname "$0")/.."
runner=$PWD/build/cli/velmora-run
[ -x "$runner" ] || { echo "build first: bash scripts/build.sh" >&2; exit 1; }
runs=${RUNS:-3}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/DATA"
# About 1 MB of table rows, ten cells a row.
python3 - "$work/DATA/cells.txt" <<'PY'
import sys
with open(sys.argv[1], "w", encoding="utf-8", newline="\r\n") as f:
    size, row = 0, 0
    while size < 1 << 20:
        line = "<tr>" + "".join(f"<td>{row * 10 + c}</td>" for c in range(10)) + "</tr>\n"
        f.write(line)
        size += len(line)
        row += 1
PY
cp "$work/DATA/cells.txt" "$work/cells.txt"

# seconds CMD...: the fastest of $runs runs in $work, in seconds.
seconds() {
  if command -v hyperfine >/dev/null; then
    ( cd "$work" && hyperfine -N --runs "$runs" --export-json "$work/h.json" -- "$(printf '%q ' "$@")" \
        >/dev/null 2>&1 )
    python3 -c 'import json,sys; print("%.3f" % json.load(open(sys.argv[1]))["results"][0]["min"])' "$work/h.json"
  else
    local best=""
    for _ in $(seq "$runs"); do
      local start end t
      start=$(date +%s.%N)
      ( cd "$work" && "$@" >/dev/null 2>&1 )
      end=$(date +%s.%N)
      t=$(echo "$end - $start" | bc -l)
      if [ -z "$best" ] || [ "$(echo "$t < $best" | bc -l)" = 1 ]; then best=$t; fi
    done
    printf '%.3f\n' "$best"
  fi
}
first_line() { ( cd "$work" && "$@" 2>/dev/null | head -n 1 ); }
ratio() { [ "$2" = "-" ] && echo "-" || printf '%.2fx' "$(echo "$1 / $2" | bc -l)"; }

lua=$(command -v lua5.4 || true)
printf '%-12s %9s %10s %10s %9s %10s %10s\n' benchmark velmora 'py3(fn)' 'py3(top)' lua5.4 'vs py(fn)' 'vs lua'
for program in bench/programs/*.mcl; do
  name=$(basename "$program" .mcl)
  vout=$(first_line "$runner" --home "$work" --final-console "$PWD/$program")
  pout=$(first_line python3 "$PWD/bench/programs/$name.py")
  [ "$vout" = "$pout" ] || echo "  $name: results differ (velmora $vout, python3 $pout)" >&2
  vtime=$(seconds "$runner" --home "$work" --final-console "$PWD/$program")
  ptime=$(seconds python3 "$PWD/bench/programs/$name.py")
  ttime=-
  [ -f "bench/programs/$name.top.py" ] && ttime=$(seconds python3 "$PWD/bench/programs/$name.top.py")
  ltime=-
  [ -n "$lua" ] && ltime=$(seconds "$lua" "$PWD/bench/programs/$name.lua")
  printf '%-12s %8ss %9ss %9s%s %8s%s %10s %10s\n' "$name" "$vtime" "$ptime" "$ttime" \
    "$([ "$ttime" = - ] || echo s)" "$ltime" "$([ "$ltime" = - ] || echo s)" \
    "$(ratio "$vtime" "$ptime")" "$(ratio "$vtime" "$ltime")"
done
echo "ratio = velmora time / other time (below 1: Velmora is faster)"

# Ten programs in ten slots at once against one program alone.
ten=()
for _ in $(seq 10); do ten+=("$PWD/bench/programs/for_loop.mcl"); done
one=$(seconds "$runner" --home "$work" --final-console "$PWD/bench/programs/for_loop.mcl")
all=$(seconds "$runner" --home "$work" --final-console "${ten[@]}")
printf '\nfor_loop: one program %ss, ten together %ss = %s of ten times one\n' "$one" "$all" \
  "$(ratio "$all" "$(echo "10 * $one" | bc -l)")"

# Records per second of the scheduler, this build and the other side by side.
echo
echo "bench-engine (this build):"
build/bench/bench-engine
if [ -n "${VELMORA_BASE:-}" ] && [ -x "$VELMORA_BASE/build/bench/bench-engine" ]; then
  echo "bench-engine ($VELMORA_BASE):"
  "$VELMORA_BASE/build/bench/bench-engine"
fi
