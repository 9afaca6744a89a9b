#!/usr/bin/env bash
# Builds and runs the suite under AddressSanitizer + UndefinedBehaviorSanitizer
# (default) or ThreadSanitizer: scripts/test-sanitizers.sh [asan|tsan]
set -euo pipefail
cd "$(dirname "$0")/.."
kind=${1:-asan}
case "$kind" in
  asan) san="address,undefined" ;;
  tsan) san="thread" ;;
  *) echo "usage: $0 [asan|tsan]" >&2; exit 2 ;;
esac
export VELAR_TEST_BUILD=build/$kind
export VELAR_CMAKE_ARGS="-DVELAR_SANITIZE=$san -DVELAR_BUILD_BENCH=OFF -DCMAKE_BUILD_TYPE=Debug"
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=0}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
export TSAN_OPTIONS=${TSAN_OPTIONS:-halt_on_error=1 suppressions=$PWD/scripts/tsan.supp}
exec bash scripts/test.sh
