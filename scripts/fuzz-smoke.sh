#!/usr/bin/env bash
# Builds the libFuzzer targets of the mesh file readers with clang (address
# and undefined-behaviour sanitizers) in build/fuzz and runs each for a few
# seconds from a generated seed corpus. Fails on a crash, a hang, a leak or a
# sanitizer report. VELAR_FUZZ_SECONDS sets the time per target (default 5).
set -euo pipefail
cd "$(dirname "$0")/.."
build=build/fuzz
seconds=${VELAR_FUZZ_SECONDS:-5}

cmake -S . -B "$build" -G Ninja \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DVELAR_BUILD_FUZZ=ON -DVELAR_BUILD_TESTS=OFF -DVELAR_BUILD_BENCH=OFF \
  -DVELAR_SANITIZE=address,undefined \
  -DCMAKE_C_FLAGS=-fsanitize=fuzzer-no-link -DCMAKE_CXX_FLAGS=-fsanitize=fuzzer-no-link >/dev/null
cmake --build "$build" --target fuzz_stl_binary fuzz_stl_ascii fuzz_vgeo fuzz_seeds

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
ASAN_OPTIONS=detect_leaks=0 "$build/fuzz/fuzz_seeds" "$work/seeds"

export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
for target in stl_binary stl_ascii vgeo; do
  mkdir -p "$work/corpus_$target"
  echo "fuzz_$target: ${seconds}s"
  "$build/fuzz/fuzz_$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=8192 \
    -print_final_stats=1 "$work/corpus_$target" "$work/seeds/$target" 2>"$work/$target.log" || {
    tail -n 60 "$work/$target.log" >&2
    echo "fuzz_$target failed" >&2
    exit 1
  }
  grep -E '^stat::number_of_executed_units' "$work/$target.log" || true
done
