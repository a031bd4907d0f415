#!/usr/bin/env bash
# Builds the Debian package from the release build (build/) with CPack and
# checks it: installed into a temporary root, the installed velmora-run runs
# an installed example and the installed velmora-lsp answers a client. The
# package lands in build/. With the VS Code extension's npm packages
# (scripts/web.sh setup) the extension's .vsix is made there too.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh >/dev/null
(cd build && cpack -G DEB >/dev/null)
deb=$(ls -t build/velmora_*.deb | head -1)
echo "package: $deb"

root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
dpkg-deb -x "$deb" "$root"
for f in usr/bin/velmora-run usr/bin/velmora-lsp usr/share/velmora/tables/T-Keyword.txt usr/share/velmora/examples/hello.mcl \
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
# The installed language server answers initialize and ends on exit.
init='{"jsonrpc":"2.0","id":1,"method":"initialize","params":{"capabilities":{}}}'
bye='{"jsonrpc":"2.0","method":"exit"}'
answer=$(printf 'Content-Length: %d\r\n\r\n%sContent-Length: %d\r\n\r\n%s' "${#init}" "$init" "${#bye}" "$bye" |
           HOME="$root/home" XDG_DATA_HOME= timeout 10 "$root/usr/bin/velmora-lsp" || true)
case "$answer" in
  *'"positionEncoding":"utf-16"'*) echo "the installed velmora-lsp answers: ok" ;;
  *) echo "the installed velmora-lsp did not answer: $answer" >&2; exit 1 ;;
esac

if [ -d editors/vscode/node_modules/@vscode/vsce ] && command -v node >/dev/null; then
  version=$(sed -n 's/^project(Velmora VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
  (cd editors/vscode && node node_modules/@vscode/vsce/vsce package --out "../../build/velmora-$version.vsix" >/dev/null)
  echo "VS Code extension: build/velmora-$version.vsix (code --install-extension build/velmora-$version.vsix)"
fi
