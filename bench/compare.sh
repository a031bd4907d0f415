#!/usr/bin/env bash
# Times each benchmark program with velmora-run and the same work written
# for python3 (and lua5.4 when installed) in one run, and prints the ratios.
# Then the page benchmarks: zones cut from one-line pages of 1, 4 and 16 MB,
# the growth from size to size, and the peak memory at 16 MB.
#   bash bench/compare.sh            (after scripts/build.sh)
#   RUNS=3 bash bench/compare.sh     (best of three runs of each)
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

runs=${RUNS:-1}
seconds() {  # runs a command in $work, prints its output's first line and the best time
  local start end best="" t i
  for ((i = 0; i < runs; i++)); do
    start=$(date +%s.%N)
    out=$( cd "$work" && "$@" 2>/dev/null | head -n 1 )
    end=$(date +%s.%N)
    t=$(echo "$end - $start" | bc -l)
    if [ -z "$best" ] || [ "$(echo "$t < $best" | bc -l)" = 1 ]; then best=$t; fi
  done
  echo "${out// /_} $best"
}

lua=$(command -v lua5.4 || true)
printf '%-20s %10s %10s %8s' benchmark velmora python3 ratio
[ -n "$lua" ] && printf ' %10s %8s' lua5.4 ratio
printf '\n'
for program in bench/programs/*.mcl; do
  name=$(basename "$program" .mcl)
  read -r vout vtime < <(seconds "$PWD/$runner" --home "$work" --final-console "$PWD/$program")
  read -r pout ptime < <(seconds python3 "$PWD/bench/programs/$name.py")
  [ "$vout" = "$pout" ] || echo "  $name: results differ (velmora $vout, python3 $pout)" >&2
  printf '%-20s %9.3fs %9.3fs %7.2fx' "$name" "$vtime" "$ptime" "$(echo "$vtime / $ptime" | bc -l)"
  if [ -n "$lua" ]; then
    read -r lout ltime < <(seconds "$lua" "$PWD/bench/programs/$name.lua")
    printf ' %9.3fs %7.2fx' "$ltime" "$(echo "$vtime / $ltime" | bc -l)"
  fi
  printf '\n'
done

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
    read -r vout vtime < <(seconds "$PWD/$runner" --home "$work" --final-console "$PWD/bench/pages/$name.mcl")
    read -r pout ptime < <(seconds python3 "$PWD/bench/pages/zone_page.py" "${name#zone_}.txt")
    [ "$vout" = "$pout" ] || echo "  $name $mb MB: results differ (velmora $vout, python3 $pout)" >&2
    vtimes[$name$mb]=$vtime
    printf '%-20s %9.3fs %9.3fs %7.2fx' "$name ${mb}MB" "$vtime" "$ptime" "$(echo "$vtime / $ptime" | bc -l)"
    if [ -n "$lua" ]; then
      read -r lout ltime < <(seconds "$lua" "$PWD/bench/pages/zone_page.lua" "${name#zone_}.txt")
      [ "$vout" = "$lout" ] || echo "  $name $mb MB: results differ (velmora $vout, lua $lout)" >&2
      printf ' %9.3fs %7.2fx' "$ltime" "$(echo "$vtime / $ltime" | bc -l)"
    fi
    printf '\n'
  done
done
echo "ratio = velmora time / other time (below 1: Velmora is faster)"
for name in zone_page zone_page_text; do
  printf '%-20s 4MB/1MB %.2fx  16MB/4MB %.2fx  (linear: 4x)\n' "$name growth" \
    "$(echo "${vtimes[${name}4]} / ${vtimes[${name}1]}" | bc -l)" \
    "$(echo "${vtimes[${name}16]} / ${vtimes[${name}4]}" | bc -l)"
done
# Peak memory of zone_page at 16 MB against the empty program's.
peak() { ( cd "$work" && /usr/bin/time -v "$@" 2>&1 >/dev/null | awk '/Maximum resident/ {print $NF}' ); }
echo '??"";' > "$work/empty.mcl"
base=$(peak "$PWD/$runner" --home "$work" --final-console "$work/empty.mcl")
used=$(peak "$PWD/$runner" --home "$work" --final-console "$PWD/bench/pages/zone_page.mcl")
chars=$(python3 -c "import sys; print(len(open(sys.argv[1], encoding='utf-8').read()))" "$work/page.txt")
printf 'zone_page 16MB peak  %d KB (empty program %d KB, text as UTF-16 %d KB, budget %d KB)\n' \
  "$used" "$base" $((chars * 2 / 1024)) $((base + chars * 8 / 1024))
