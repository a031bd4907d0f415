#!/usr/bin/env bash
# Times each benchmark program with velmora-run and the same work written
# for python3 (NAME.py, the loop inside a function; NAME.top.py, the loop at
# top level, where there is one) and lua5.4 in one run, and prints the
# ratios; then ten programs together against one. When VELMORA_BASE names
# another built source tree, its runner is timed beside this one on every
# benchmark, and its instruction counts and records per second follow.
#   bash bench/compare.sh                 (after scripts/build.sh)
#   VELMORA_BASE=/path/to/other/tree bash bench/compare.sh
# Times are the fastest of RUNS runs (default 3), wall clock, via hyperfine
# when it is installed. The page benchmarks cut zones from one-line pages of
# 1, 4 and 16 MB and report the growth and the peak memory at 16 MB.
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
# The files of the programs of the kinds users write: a real text, a real
# page and a generated table.
python3 bench/data/tables.py "$work" "$work/DATA"

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
# The other build's runner, timed beside this one when VELMORA_BASE names it.
base_runner=""
[ -n "${VELMORA_BASE:-}" ] && [ -x "$VELMORA_BASE/build/cli/velmora-run" ] && base_runner=$VELMORA_BASE/build/cli/velmora-run
# Debian's own python3 (a python3 earlier on PATH may be a shim that adds
# start-up time); the NAME.py programs run their loops inside a function.
py=/usr/bin/python3
[ -x "$py" ] || py=$(command -v python3)
printf '%-12s %9s %10s %10s %9s %10s %10s' benchmark velmora 'py3(fn)' 'py3(top)' lua5.4 'vs py(fn)' 'vs lua'
[ -n "$base_runner" ] && printf ' %9s %8s' base 'vs base'
printf '\n'
for program in bench/programs/*.mcl; do
  name=$(basename "$program" .mcl)
  vout=$(first_line "$runner" --home "$work" --final-console "$PWD/$program")
  pout=$(first_line "$py" "$PWD/bench/programs/$name.py")
  [ "$vout" = "$pout" ] || echo "  $name: results differ (velmora $vout, python3 $pout)" >&2
  vtime=$(seconds "$runner" --home "$work" --final-console "$PWD/$program")
  ptime=$(seconds "$py" "$PWD/bench/programs/$name.py")
  ttime=-
  [ -f "bench/programs/$name.top.py" ] && ttime=$(seconds "$py" "$PWD/bench/programs/$name.top.py")
  ltime=-
  [ -n "$lua" ] && ltime=$(seconds "$lua" "$PWD/bench/programs/$name.lua")
  printf '%-12s %8ss %9ss %9s%s %8s%s %10s %10s' "$name" "$vtime" "$ptime" "$ttime" \
    "$([ "$ttime" = - ] || echo s)" "$ltime" "$([ "$ltime" = - ] || echo s)" \
    "$(ratio "$vtime" "$ptime")" "$(ratio "$vtime" "$ltime")"
  if [ -n "$base_runner" ]; then
    btime=$(seconds "$base_runner" --home "$work" --final-console "$PWD/$program")
    printf ' %8ss %8s' "$btime" "$(ratio "$vtime" "$btime")"
  fi
  printf '\n'
done
echo "ratio = velmora time / other time (below 1: Velmora is faster; base: the VELMORA_BASE build)"

# One-line pages: cells "<td>000</td>" one after another, as real pages are
# often written; page_text.txt has text before the first cell and "<tr>"
# every ten cells.
page() {  # size in MB, with text (0/1), file
  python3 - "$1" "$2" "$3" <<'PY'
import sys
size, text, name = int(sys.argv[1]) << 20, sys.argv[2] == "1", sys.argv[3]
parts, n, i = [], 0, 0
if text:
    parts.append("<html><body><table>")
    n += 19
while n < size:
    if text and i % 10 == 0:
        parts.append("<tr>")
        n += 4
    cell = f"<td>{i % 1000:03d}</td>"
    parts.append(cell)
    n += len(cell)
    i += 1
with open(name, "w", encoding="utf-8", newline="\r\n") as f:
    f.write("".join(parts) + "\n")
PY
}
declare -A vtimes
for mb in 1 4 16; do
  page "$mb" 0 "$work/DATA/page.txt"
  page "$mb" 1 "$work/DATA/page_text.txt"
  cp "$work/DATA/page.txt" "$work/DATA/page_text.txt" "$work/"
  for name in zone_page zone_page_text; do
    vout=$(first_line "$runner" --home "$work" --final-console "$PWD/bench/pages/$name.mcl")
    pout=$(first_line "$py" "$PWD/bench/pages/zone_page.py" "${name#zone_}.txt")
    vtime=$(seconds "$runner" --home "$work" --final-console "$PWD/bench/pages/$name.mcl")
    ptime=$(seconds "$py" "$PWD/bench/pages/zone_page.py" "${name#zone_}.txt")
    [ "$vout" = "$pout" ] || echo "  $name $mb MB: results differ (velmora $vout, python3 $pout)" >&2
    vtimes[$name$mb]=$vtime
    printf '%-20s %9.3fs %9.3fs %7.2fx' "$name ${mb}MB" "$vtime" "$ptime" "$(echo "$vtime / $ptime" | bc -l)"
    if [ -n "$lua" ]; then
      lout=$(first_line "$lua" "$PWD/bench/pages/zone_page.lua" "${name#zone_}.txt")
      ltime=$(seconds "$lua" "$PWD/bench/pages/zone_page.lua" "${name#zone_}.txt")
      [ "$vout" = "$lout" ] || echo "  $name $mb MB: results differ (velmora $vout, lua $lout)" >&2
      printf ' %9.3fs %7.2fx' "$ltime" "$(echo "$vtime / $ltime" | bc -l)"
    fi
    if [ -n "$base_runner" ]; then
      btime=$(seconds "$base_runner" --home "$work" --final-console "$PWD/bench/pages/$name.mcl")
      printf '  base %6.3fs %5.2fx' "$btime" "$(echo "$vtime / $btime" | bc -l)"
    fi
    printf '\n'
  done
done
for name in zone_page zone_page_text; do
  printf '%-20s 4MB/1MB %.2fx  16MB/4MB %.2fx  (linear: 4x)\n' "$name growth" \
    "$(echo "${vtimes[${name}4]} / ${vtimes[${name}1]}" | bc -l)" \
    "$(echo "${vtimes[${name}16]} / ${vtimes[${name}4]}" | bc -l)"
done
# Peak memory of zone_page at 16 MB against the empty program's.
peak() { ( cd "$work" && /usr/bin/time -v "$@" 2>&1 >/dev/null | awk '/Maximum resident/ {print $NF}' ); }
echo '??"";' > "$work/empty.mcl"
base=$(peak "$runner" --home "$work" --final-console "$work/empty.mcl")
used=$(peak "$runner" --home "$work" --final-console "$PWD/bench/pages/zone_page.mcl")
chars=$(python3 -c "import sys; print(len(open(sys.argv[1], encoding='utf-8').read()))" "$work/page.txt")
printf 'zone_page 16MB peak  %d KB (empty program %d KB, text as UTF-16 %d KB, budget %d KB)\n' \
  "$used" "$base" $((chars * 2 / 1024)) $((base + chars * 8 / 1024))

# Ten programs in ten slots at once against one program alone.
ten=()
for _ in $(seq 10); do ten+=("$PWD/bench/programs/for_loop.mcl"); done
one=$(seconds "$runner" --home "$work" --final-console "$PWD/bench/programs/for_loop.mcl")
all=$(seconds "$runner" --home "$work" --final-console "${ten[@]}")
printf '\nfor_loop: one program %ss, ten together %ss = %s of ten times one\n' "$one" "$all" \
  "$(ratio "$all" "$(echo "10 * $one" | bc -l)")"

# Instructions per iteration beside lua5.4 and python3 (callgrind; machine
# load does not change them), and the other build's where there is one.
if command -v valgrind >/dev/null; then
  echo
  echo "callgrind instructions (this build):"
  "$py" bench/counts.py "$runner"
  if [ -n "${VELMORA_BASE:-}" ] && [ -x "$VELMORA_BASE/build/cli/velmora-run" ]; then
    echo "callgrind instructions ($VELMORA_BASE):"
    "$py" bench/counts.py "$VELMORA_BASE/build/cli/velmora-run"
  fi
fi

# Records per second of the scheduler, this build and the other side by side.
echo
echo "bench-engine (this build):"
build/bench/bench-engine
if [ -n "${VELMORA_BASE:-}" ] && [ -x "$VELMORA_BASE/build/bench/bench-engine" ]; then
  echo "bench-engine ($VELMORA_BASE):"
  "$VELMORA_BASE/build/bench/bench-engine"
fi
