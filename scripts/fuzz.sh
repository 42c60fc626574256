#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, ASan + UBSan, build-fuzz/) and runs each
# for a bounded time. Any crash, leak or sanitizer report fails the run.
#   scripts/fuzz.sh [seconds-per-target] [target-name-pattern]
#   scripts/fuzz.sh 3600 xml        a long run of the XML targets
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-20}" pattern="${2:-}"
cmake -S . -B build-fuzz -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DTRIVANE_FUZZ=ON \
      -DTRIVANE_TESTS=OFF -DTRIVANE_SANITIZE=address -DTRIVANE_WERROR=ON >/dev/null
cmake --build build-fuzz
export ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
shopt -s nullglob
for exe in build-fuzz/fuzz/*_fuzz; do
  name="$(basename "$exe" _fuzz)"
  [ -n "$pattern" ] && [[ "$name" != *"$pattern"* ]] && continue
  corpus="build-fuzz/corpus/$name"
  mkdir -p "$corpus"
  seeds=()
  [ -d "fuzz/corpus/$name" ] && seeds=("fuzz/corpus/$name")
  echo "fuzz: $name for ${seconds}s"
  "$exe" -max_total_time="$seconds" -print_final_stats=0 "$corpus" "${seeds[@]}" 2>"build-fuzz/$name.log" \
    || { tail -50 "build-fuzz/$name.log"; echo "fuzz: $name failed" >&2; exit 1; }
done
