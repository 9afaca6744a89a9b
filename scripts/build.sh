#!/usr/bin/env bash
# Configures and builds one build folder: scripts/build.sh <folder> [cmake options...]
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:-build/release}
shift || true
cmake -S . -B "$dir" -G Ninja "$@" >/dev/null
cmake --build "$dir" -j"$(nproc)"
