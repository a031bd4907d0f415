#!/usr/bin/env bash
# Release build into build/ (pass extra CMake options as arguments).
set -euo pipefail
cd "$(dirname "$0")/.."
generator=()
command -v ninja >/dev/null && generator=(-G Ninja)
if [ ! -f build/CMakeCache.txt ]; then
  cmake -S . -B build "${generator[@]}" -DCMAKE_BUILD_TYPE=Release "$@" >/dev/null
elif [ $# -gt 0 ]; then
  cmake -S . -B build "$@" >/dev/null
fi
cmake --build build -j"$(nproc)"
