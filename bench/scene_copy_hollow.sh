#!/usr/bin/env bash
# The scene import against the bare import, the mesh copy against the import,
# and hollowing with its step times, on generated spheres of 60 mm with 1M and
# 5M facets (bench/sphere_stl.py):
#   - `meshinfo FILE` against `meshinfo --scene FILE` (import, placement and
#     octree): whole-process wall time and the in-process figures (ms_total
#     against ms_import + ms_octree);
#   - ms_copy of `meshinfo FILE --hollow 3 0` (records, edges, shells and
#     octree copied for the hollowing) against the bare import's ms_total;
#   - `meshinfo FILE --hollow 3 100` once per file: every step time.
# ROUNDS=N (default 5) runs each pair N times in turn and prints medians.
# Usage: bench/scene_copy_hollow.sh BUILD_DIR [WORK_DIR]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=${1:?build folder with tests/tools/meshinfo}
work=${2:-$(mktemp -d)}
meshinfo="$build/tests/tools/meshinfo"
rounds=${ROUNDS:-5}
mkdir -p "$work"
for spec in "1m 1000000" "5m 5000000"; do
  set -- $spec
  [ -f "$work/sphere_$1.stl" ] || python3 "$here/sphere_stl.py" "$work/sphere_$1.stl" "$2" 60 >/dev/null
done
median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
key() { tr ' ' '\n' | awk -F= -v k="$1" '$1 == k { print $2 }'; }
wall() { local t0 t1; t0=$(date +%s%N); "$@" >"$work/out.txt" 2>/dev/null || true; t1=$(date +%s%N); echo $(( (t1 - t0) / 1000000 )); }

# The machine's load beside the figures: other work running at the same time
# stretches the threaded steps unevenly.
echo "load average: $(cut -d' ' -f1-3 /proc/loadavg)"
printf "%-6s %9s %9s %7s %10s %10s %7s %9s %7s\n" file bare_ms scene_ms ratio in_bare in_scene ratio copy_ms ratio
for name in 1m 5m; do
  f="$work/sphere_$name.stl"
  : >"$work/rounds.txt"
  for _ in $(seq "$rounds"); do
    bare=$(wall "$meshinfo" "$f"); inBare=$(key ms_total <"$work/out.txt")
    scene=$(wall "$meshinfo" --scene "$f")
    inScene=$(awk -v i="$(key ms_import <"$work/out.txt")" -v o="$(key ms_octree <"$work/out.txt")" 'BEGIN { print i + o }')
    "$meshinfo" "$f" --hollow 3 0 >"$work/out.txt" 2>/dev/null || true
    copy=$(key ms_copy <"$work/out.txt")
    echo "$bare $scene $inBare $inScene $copy" >>"$work/rounds.txt"
  done
  col() { awk -v c="$1" '{ print $c }' "$work/rounds.txt" | median; }
  b=$(col 1) s=$(col 2) ib=$(col 3) is=$(col 4) c=$(col 5)
  # Ratios of the medians of the paired rounds.
  awk -v n="$name" -v b="$b" -v s="$s" -v ib="$ib" -v is="$is" -v c="$c" 'BEGIN {
    printf "%-6s %9d %9d %7.2f %10.1f %10.1f %7.2f %9.1f %7.2f\n", n, b, s, s / b, ib, is, is / ib, c, c / ib }'
done
echo "load average: $(cut -d' ' -f1-3 /proc/loadavg)"
echo "hollowing (wall 3, density 100):"
for name in 1m 5m; do
  echo "$name $("$meshinfo" "$work/sphere_$name.stl" --hollow 3 100 2>/dev/null | sed 's/^hollow //')"
done
