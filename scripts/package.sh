#!/usr/bin/env bash
# Builds the Debian package from the release build (build/) with CPack and
# checks it: installed into a temporary root, the installed velmora-run runs
# an installed example. The package lands in build/.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh >/dev/null
(cd build && cpack -G DEB >/dev/null)
deb=$(ls -t build/velmora_*.deb | head -1)
echo "package: $deb"

root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
dpkg-deb -x "$deb" "$root"
for f in usr/bin/velmora-run usr/share/velmora/tables/T-Keyword.txt usr/share/velmora/examples/hello.mcl \
         usr/share/applications/velmora.desktop usr/share/man/man1/velmora-run.1; do
  [ -e "$root/$f" ] || { echo "missing in the package: $f" >&2; exit 1; }
done
# The canvas module velmora-run loads when a program first draws.
ls "$root"/usr/lib*/velmora/velmora-canvas.so >/dev/null 2>&1 || { echo "missing in the package: velmora-canvas.so" >&2; exit 1; }
# The installed runner keeps its home in the user's data directory.
out=$(HOME="$root/home" XDG_DATA_HOME= "$root/usr/bin/velmora-run" --final-console \
        "$root/usr/share/velmora/examples/hello.mcl" 2>/dev/null)
[ "$(printf '%s\n' "$out" | head -1)" = "こんにちは、Velmora" ] || { echo "unexpected output: $out" >&2; exit 1; }
[ -d "$root/home/.local/share/velmora/DATA" ] || { echo "no home in ~/.local/share/velmora" >&2; exit 1; }
# The first start put the examples into the program list's directory.
[ -f "$root/home/.local/share/velmora/PROG/quiz.mcl" ] || { echo "no examples in PROG" >&2; exit 1; }
[ -f "$root/home/.local/share/velmora/DATA/table.html" ] || { echo "no example data in DATA" >&2; exit 1; }
echo "installed into a temporary root and ran an example: ok"
