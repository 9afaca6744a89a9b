#!/usr/bin/env bash
# Opening a scene of many small objects against PrusaSlicer opening the same
# scene as a 3MF file (bench/small_objects_scene.py writes both: N cubes of 12
# triangles on a grid):
#   - ours: `meshinfo --open scene.vpf` (the project read into the scene,
#     every object with its topology and octree, as File > Open Project does);
#   - the peer: `prusa-slicer --info scene.3mf` (the model loaded whole, each
#     object's size, facets, manifold check and volume printed; no slicing).
# Wall time and peak memory of each whole process by /usr/bin/time -v, the two
# run in turn ROUNDS times (default 3); prints the medians and their ratios.
# COUNTS (default "10000 100000") picks the scene sizes. Skips with a message
# when prusa-slicer is not installed (apt-get install prusa-slicer).
# Usage: bench/small_objects_vs_peer.sh BUILD_DIR [WORK_DIR]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=${1:?build folder with tests/tools/meshinfo}
work=${2:-$(mktemp -d)}
meshinfo="$build/tests/tools/meshinfo"
rounds=${ROUNDS:-3}
counts=${COUNTS:-10000 100000}
peer=$(command -v prusa-slicer || true)
if [ -z "$peer" ]; then
  echo "small_objects_vs_peer: prusa-slicer is not installed (apt-get install prusa-slicer); skipped"
  exit 0
fi
mkdir -p "$work"
median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
# "wall_seconds peak_kb" of one run of the command.
measure() {
  /usr/bin/time -v "$@" >/dev/null 2>"$work/time.txt" || true
  awk -F': ' '
    /Elapsed \(wall clock\)/ { n = split($2, p, ":"); s = 0; for (i = 1; i <= n; i++) s = s * 60 + p[i]; wall = s }
    /Maximum resident set size/ { kb = $2 }
    END { printf "%.3f %d\n", wall, kb }' "$work/time.txt"
}

echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
printf "%-8s %9s %9s %7s %10s %10s %7s\n" objects ours_s peer_s ratio ours_MiB peer_MiB ratio
for n in $counts; do
  [ -f "$work/scene_$n.vpf" ] || python3 "$here/small_objects_scene.py" "$n" "$work/scene_$n.vpf" "$work/scene_$n.3mf" >/dev/null
  : >"$work/rounds.txt"
  for _ in $(seq "$rounds"); do
    echo "$(measure "$meshinfo" --open "$work/scene_$n.vpf") $(measure "$peer" --info "$work/scene_$n.3mf")" >>"$work/rounds.txt"
  done
  col() { awk -v c="$1" '{ print $c }' "$work/rounds.txt" | median; }
  awk -v n="$n" -v ow="$(col 1)" -v om="$(col 2)" -v pw="$(col 3)" -v pm="$(col 4)" 'BEGIN {
    printf "%-8s %9.2f %9.2f %7.2f %10.0f %10.0f %7.2f\n", n, ow, pw, (pw > 0 ? ow / pw : 0), om / 1024, pm / 1024,
      (pm > 0 ? om / pm : 0) }'
done
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
