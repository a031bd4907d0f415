#!/usr/bin/env bash
# Builds the libFuzzer targets with clang under AddressSanitizer and UBSan
# into build-fuzz/ and runs each of them for SECONDS (default 60), starting
# from seeds made of the golden programs and the built-in tables.
#   bash scripts/fuzz.sh [SECONDS] [TARGET...]
# New inputs collect in build-fuzz/corpus/TARGET (kept between runs); an
# input that crashes is written to build-fuzz/crashes/ and the script fails.
# Reproduce one with: build-fuzz/fuzz/TARGET build-fuzz/crashes/FILE
# Then random programs run with and without the fast forms (SECONDS x 40 of
# them, from a new seed), in the release build.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(fuzz_compile fuzz_tcode fuzz_tables fuzz_settings fuzz_book fuzz_lsp)

bash scripts/setup.sh
export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$PWD}
generator=()
command -v ninja >/dev/null && generator=(-G Ninja)
if [ ! -f build-fuzz/CMakeCache.txt ]; then
  CC=clang CXX=clang++ cmake -S . -B build-fuzz "${generator[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DVELMORA_FUZZ=ON -DVELMORA_SANITIZE=ON -DVELMORA_TESTS=OFF -DVELMORA_BENCH=OFF >/dev/null
fi
cmake --build build-fuzz -j"$(nproc)" --target "${targets[@]}" velmora-fuzz-seeds

# Seeds: regenerated every time from the current programs and tables.
seeds=build-fuzz/seeds
rm -rf "$seeds"
build-fuzz/fuzz/velmora-fuzz-seeds "$seeds" tests/programs/*.mcl examples/*.mcl >/dev/null
cp tests/programs/*.settings "$seeds/settings/" 2>/dev/null || true

seed_dir() {
  case $1 in
    fuzz_compile) echo "$seeds/compile" ;;
    fuzz_tcode) echo "$seeds/tcode" ;;
    fuzz_tables) echo "$seeds/tables" ;;
    fuzz_settings) echo "$seeds/settings" ;;
    fuzz_book) echo "$seeds/book" ;;
    fuzz_lsp) echo "$seeds/lsp" ;;
  esac
}

mkdir -p build-fuzz/crashes
failed=()
for t in "${targets[@]}"; do
  corpus=build-fuzz/corpus/$t
  mkdir -p "$corpus"
  echo "fuzz: $t for ${seconds}s"
  # A failure leaves a crash-*, leak-*, timeout-* or oom-* file in crashes/.
  if ! ASAN_OPTIONS=detect_leaks=1 \
       UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
       "build-fuzz/fuzz/$t" "$corpus" "$(seed_dir "$t")" \
         -max_total_time="$seconds" -timeout=20 -rss_limit_mb=2048 -max_len=16384 \
         -print_final_stats=1 -artifact_prefix="build-fuzz/crashes/$t-" \
         >"build-fuzz/$t.log" 2>&1; then
    failed+=("$t")
    tail -n 60 "build-fuzz/$t.log" >&2
  else
    grep -E '^stat::number_of_executed_units|^#[0-9]+ *DONE' "build-fuzz/$t.log" | tail -n 2 || true
  fi
done

# Random programs run with and without the fast forms side by side
# (tests/unit/test_reference_mode.cpp), many more than the test suite runs,
# from a new seed each time: in the release build (build/), when it is
# configured. A failure names its seed; VELMORA_RANDOM_SEED=N repeats it.
if [ -f build/CMakeCache.txt ] && cmake --build build -j"$(nproc)" --target unit_reference >/dev/null; then
  seed=${VELMORA_RANDOM_SEED:-$(date +%s)}
  count=$((seconds * 40))
  echo "fuzz: $count random programs with and without fast forms, seed $seed"
  if ! VELMORA_RANDOM_PROGRAMS=$count VELMORA_RANDOM_SEED=$seed build/tests/unit_reference \
       --gtest_filter='ReferenceMode.RandomPrograms*' >build-fuzz/random_programs.log 2>&1; then
    failed+=("random programs (seed $seed)")
    tail -n 80 build-fuzz/random_programs.log >&2
  fi
else
  echo "fuzz: no release build in build/: the random programs are left out"
fi

if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzz: FAILED: ${failed[*]} (inputs in build-fuzz/crashes/, logs in build-fuzz/TARGET.log)" >&2
  exit 1
fi
echo "fuzz: all ${#targets[@]} targets ran ${seconds}s each without a fault, and the random programs ran alike"
