#!/usr/bin/env bash
# Times each benchmark program with velmora-run and the same work written
# for python3 (and lua5.4 when installed) in one run, and prints the ratios.
#   bash bench/compare.sh            (after scripts/build.sh)
set -euo pipefail
cd "$(dirname "$0")/.."
runner=build/cli/velmora-run
[ -x "$runner" ] || { echo "build first: bash scripts/build.sh" >&2; exit 1; }
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

seconds() {  # runs a command in $work, prints its output's first line and the time
  local start end
  start=$(date +%s.%N)
  out=$( cd "$work" && "$@" 2>/dev/null | head -n 1 )
  end=$(date +%s.%N)
  echo "$out $(echo "$end - $start" | bc -l)"
}

lua=$(command -v lua5.4 || true)
printf '%-12s %10s %10s %8s' benchmark velmora python3 ratio
[ -n "$lua" ] && printf ' %10s %8s' lua5.4 ratio
printf '\n'
for program in bench/programs/*.mcl; do
  name=$(basename "$program" .mcl)
  read -r vout vtime < <(seconds "$PWD/$runner" --home "$work" --final-console "$PWD/$program")
  read -r pout ptime < <(seconds python3 "$PWD/bench/programs/$name.py")
  [ "$vout" = "$pout" ] || echo "  $name: results differ (velmora $vout, python3 $pout)" >&2
  printf '%-12s %9.3fs %9.3fs %7.2fx' "$name" "$vtime" "$ptime" "$(echo "$vtime / $ptime" | bc -l)"
  if [ -n "$lua" ]; then
    read -r lout ltime < <(seconds "$lua" "$PWD/bench/programs/$name.lua")
    printf ' %9.3fs %7.2fx' "$ltime" "$(echo "$vtime / $ltime" | bc -l)"
  fi
  printf '\n'
done
echo "ratio = velmora time / other time (below 1: Velmora is faster)"
