#!/usr/bin/env bash
# The browser playground (web/): Emscripten build into build-web/, a local
# server, and the browser tests.
#
#   scripts/web.sh            build, then serve on http://127.0.0.1:8080/ (PORT=... to change)
#   scripts/web.sh setup      install Emscripten, Chromium, the test driver and the
#                             VS Code extension's npm packages only
#   scripts/web.sh build      build only
#   scripts/web.sh test       build, then run the tests labelled web (golden
#                             programs under Node.js, the page in headless Chromium)
#   scripts/web.sh bench [NAME...]  the benchmark programs in the browser beside velmora-run
#                             (bench/programs; fails when one takes more than twice as long)
set -euo pipefail
cd "$(dirname "$0")/.."
command="${1:-serve}"

setup() {
  local packages=(emscripten chromium nodejs python3 cmake ninja-build ccache)
  local missing=()
  for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  command -v npm >/dev/null || missing+=(npm)
  if [ ${#missing[@]} -gt 0 ]; then
    local sudo=""
    [ "$(id -u)" -ne 0 ] && sudo="sudo"
    echo "web: installing ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    $sudo apt-get update -qq
    $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
  fi
  # The page's packages (CodeMirror, esbuild), bundled at build time.
  if [ ! -x web/app/node_modules/.bin/esbuild ] || [ web/app/package-lock.json -nt web/app/node_modules/.package-lock.json ]; then
    (cd web/app && npm ci --no-audit --no-fund --loglevel=error)
  fi
  # puppeteer-core only drives /usr/bin/chromium: it downloads no browser.
  if [ ! -d web/tests/node_modules/puppeteer-core ]; then
    (cd web/tests && npm ci --no-audit --no-fund --loglevel=error)
  fi
  # The VS Code extension's client library, its packager and the grammar's
  # test libraries (ctest vscode.extension).
  if [ ! -d editors/vscode/node_modules/@vscode/vsce ]; then
    (cd editors/vscode && npm ci --no-audit --no-fund --loglevel=error)
  fi
}

build() {
  # Debian's Emscripten finds its JavaScript helpers (acorn) there, also
  # under a Node.js that does not look in /usr/share/nodejs itself.
  export NODE_PATH="/usr/share/nodejs${NODE_PATH:+:$NODE_PATH}"
  export CCACHE_SLOPPINESS="${CCACHE_SLOPPINESS:-include_file_mtime,include_file_ctime,time_macros}"
  if [ ! -f build-web/CMakeCache.txt ]; then
    emcmake cmake -S web -B build-web -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
  fi
  local start=$SECONDS
  cmake --build build-web -j"$(nproc)"
  echo "web: build-web/ ready ($((SECONDS - start)) s)"
}

case "$command" in
  setup) setup ;;
  build) setup; build ;;
  test)
    setup
    build
    ctest --test-dir build-web -L web --output-on-failure -j"$(nproc)"
    ;;
  bench)
    setup
    build
    [ -x build/cli/velmora-run ] || bash scripts/build.sh
    node web/tests/bench.mjs build-web build/cli/velmora-run "${@:2}"
    ;;
  serve)
    setup
    build
    echo "web: serving build-web/ on http://127.0.0.1:${PORT:-8080}/ (Ctrl-C ends)"
    exec python3 web/serve.py build-web "${PORT:-8080}"
    ;;
  *) echo "usage: scripts/web.sh [serve|setup|build|test|bench]" >&2; exit 2 ;;
esac
