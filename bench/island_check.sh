#!/usr/bin/env bash
# The island check of `meshinfo FILE --support` on noisy plates (bench/plate_stl.py,
# 100 mm square, their slices near both faces broken into thousands of small
# outlines). For each size, one whole process each:
#   - `meshinfo FILE`: the import alone;
#   - `meshinfo FILE --support`: import, octree, supports (support_ms, in process)
#     and the checks of islands and unreached overhangs that follow them.
# check_s is the second run's wall time less the first's and less support_ms: about
# what the checks take. Wall seconds and peak resident memory come from /usr/bin/time;
# a run longer than TIMEOUT seconds (default 600) is cut off and says so.
# FACETS (default "500000 2000000") picks the sizes.
# Usage: bench/island_check.sh BUILD_DIR [WORK_DIR]
set -euo pipefail
build=${1:?build folder with tests/tools/meshinfo}
work=${2:-$(mktemp -d)}
here=$(cd "$(dirname "$0")" && pwd)
meshinfo="$build/tests/tools/meshinfo"
sizes=${FACETS:-500000 2000000}
limit=${TIMEOUT:-600}
command -v /usr/bin/time >/dev/null || { echo "island_check: /usr/bin/time (package time) is not installed" >&2; exit 1; }
mkdir -p "$work"
key() { tr ' ' '\n' | awk -F= -v k="$1" '$1 == k { print $2 }' | tail -1; }
# run NAME CMD...: "wall_s peak_MiB" of one timed run; its output in $work/NAME.txt.
run() {
  local name=$1
  shift
  if /usr/bin/time -f "%e %M" -o "$work/$name.time" timeout "$limit" "$@" >"$work/$name.txt" 2>/dev/null; then
    awk '{ printf "%.2f %.0f\n", $1, $2 / 1024 }' "$work/$name.time"
  else
    echo "cut_off -"
  fi
}
printf "%-9s %9s %9s %8s %10s %8s %8s %11s\n" facets import_s support_s peak_MiB support_ms check_s islands unsupported
for n in $sizes; do
  f="$work/plate_$n.stl"
  [ -f "$f" ] || python3 "$here/plate_stl.py" "$f" "$n"
  read -r importS _ < <(run import "$meshinfo" "$f")
  read -r supportS supportPeak < <(run support "$meshinfo" "$f" --support)
  ms=$(key ms <"$work/support.txt")
  check=$(awk -v a="$supportS" -v b="$importS" -v c="${ms:-0}" 'BEGIN { if (a == "cut_off") print "-"; else printf "%.2f", a - b - c / 1000 }')
  printf "%-9s %9s %9s %8s %10s %8s %8s %11s\n" "$n" "$importS" "$supportS" "$supportPeak" "${ms:--}" "$check" \
    "$(key islands <"$work/support.txt")" "$(key unsupported <"$work/support.txt")"
done
