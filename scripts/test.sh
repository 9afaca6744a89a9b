#!/usr/bin/env bash
# Installs what is missing, builds everything (warnings are errors) and runs
# the whole test suite under a virtual X server with private settings and
# data folders.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
# Layering: no library includes a header of one above it.
bash scripts/check-includes.sh
build=${VELAR_TEST_BUILD:-build/ci}
bash scripts/build.sh "$build" -DVELAR_WERROR=ON ${VELAR_CMAKE_ARGS:-}
# Layering of what was built: the files the compiler read, the link lines and
# what every program loads.
bash scripts/check-built-layers.sh "$build"

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
mkdir -m 0700 "$tmp/runtime"
export XDG_RUNTIME_DIR="$tmp/runtime" XDG_CONFIG_HOME="$tmp/config" XDG_DATA_HOME="$tmp/data"
# -noreset: the server would otherwise reset whenever its last client leaves,
# and a test that connects during that reset cannot open the display.
xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp -noreset" \
  ctest --test-dir "$build" --output-on-failure -j"$(nproc)" ${VELAR_CTEST_ARGS:-}
if [ -x scripts/fuzz-smoke.sh ] || [ -f scripts/fuzz-smoke.sh ]; then
  bash scripts/fuzz-smoke.sh
fi
