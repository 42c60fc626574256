#!/usr/bin/env bash
# Builds the benchmarks in build-bench/ (Release) and runs every one; then
# prints each goal's variants as ratios to the toolkit's own figure.
#   scripts/bench.sh [benchmark-name-pattern] [google-benchmark flags...]
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DTRIVANE_BENCH=ON -DTRIVANE_TESTS=OFF >/dev/null
cmake --build build-bench
pattern="${1:-}"; shift || true
results=()
for exe in build-bench/bench/*_bench; do
  [ -n "$pattern" ] && [[ "$(basename "$exe")" != *"$pattern"* ]] && continue
  out="build-bench/$(basename "$exe").json"
  "$exe" --benchmark_repetitions=5 --benchmark_report_aggregates_only=true \
         --benchmark_out="$out" --benchmark_out_format=json "$@"
  results+=("$out")
done
echo
echo "Ratios (baseline time / toolkit time, medians of 5):"
python3 bench/ratios.py "${results[@]}"
