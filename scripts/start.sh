#!/usr/bin/env bash
# Installs what is missing, builds the application and starts it. Without a
# display it runs under a virtual X server (xvfb-run) and says so.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/build.sh build/release -DVELAR_BUILD_TESTS=OFF -DVELAR_BUILD_BENCH=OFF -DCMAKE_BUILD_TYPE=Release
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "No display found: starting velar3d under xvfb-run (a virtual X server)."
  exec xvfb-run -a -s "-screen 0 1600x1000x24 -nolisten tcp" build/release/velar3d "$@"
fi
exec build/release/velar3d "$@"
