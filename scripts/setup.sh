#!/usr/bin/env bash
# Installs the Debian packages Velmora needs to build, test and run.
# Idempotent and quiet when everything is present; needs root or sudo.
set -euo pipefail

packages=(
  cmake ninja-build g++ pkg-config ccache python3
  qt6-base-dev            # IDE (Widgets) and canvases (Gui)
  libdtl-dev              # IDE: comparing a tab with its file changed on the disk
  libcurl4-openssl-dev    # HTTP access of programs
  nlohmann-json3-dev      # JSON: velmora-run --check --format json
  libseccomp-dev          # the system calls a confined velmora-run may not make
  bubblewrap              # the commands of a confined run, in namespaces of their own
  zlib1g-dev              # PNG pictures of canvases
  libgtest-dev            # unit tests
  libbenchmark-dev        # bench/
  valgrind                # bench.counts: instruction counts that keep the hot paths from slipping
  fonts-ipafont-gothic    # Japanese text on canvases and in the IDE
  qt6-translations-l10n   # Qt's own dialogs and buttons in Japanese
  clang                   # fuzz targets (scripts/fuzz.sh) ...
  libclang-rt-14-dev      # ... and their libFuzzer and sanitizer runtimes, not
                          # pulled in by clang under --no-install-recommends
  nlohmann-json3-dev      # velmora-lsp's JSON
  neovim                  # the language server's test with a real client (lsp.neovim)
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
if [ "$(id -u)" -ne 0 ]; then
  command -v sudo >/dev/null || { echo "setup: need root or sudo to install: ${missing[*]}" >&2; exit 1; }
  sudo="sudo"
fi
echo "setup: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
