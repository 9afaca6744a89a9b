#!/usr/bin/env bash
# Hollowing against PrusaSlicer's on the same spheres (60 mm, 1M and 5M facets,
# bench/sphere_stl.py), wall 3 mm:
#   - ours: `meshinfo FILE --hollow 3 DENSITY`, its in-process ms= (copy of the
#     model, stock, offset, triangulation and joining; no drain holes);
#   - the peer: `prusa-slicer --export-sla --hollowing-enable
#     --hollowing-min-thickness 3` without supports or pad, timed by its own
#     log (--loglevel 3) from "Performing hollowing step!" to the next step
#     ("Drilling holes into model."): the interior's voxelisation, offset and
#     meshing, without the file reading, slicing or export around it.
# ROUNDS=N (default 3) runs each pair N times in turn and prints the medians
# and their ratio. DENSITY (default 100) and QUALITY (the peer's
# --hollowing-quality, default 0.5, its own default) can be set. SIZES
# (default "1m 5m") picks the files. Skips with a message when prusa-slicer
# is not installed.
# Usage: bench/hollow_vs_peer.sh BUILD_DIR [WORK_DIR]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=${1:?build folder with tests/tools/meshinfo}
work=${2:-$(mktemp -d)}
meshinfo="$build/tests/tools/meshinfo"
rounds=${ROUNDS:-3}
density=${DENSITY:-100}
quality=${QUALITY:-0.5}
sizes=${SIZES:-1m 5m}
peer=$(command -v prusa-slicer || true)
if [ -z "$peer" ]; then
  echo "hollow_vs_peer: prusa-slicer is not installed (apt-get install prusa-slicer); skipped"
  exit 0
fi
mkdir -p "$work"
facets() { case "$1" in 1m) echo 1000000 ;; 5m) echo 5000000 ;; *) echo "${1%k}000" ;; esac; }
for name in $sizes; do
  [ -f "$work/sphere_$name.stl" ] || python3 "$here/sphere_stl.py" "$work/sphere_$name.stl" "$(facets "$name")" 60 >/dev/null
done
median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
key() { tr ' ' '\n' | awk -F= -v k="$1" '$1 == k { print $2 }'; }
# Milliseconds between the peer's log lines that start and end its hollowing.
peerMs() {
  awk '
    function ms(line,   t, h) {
      # [YYYY-MM-DD HH:MM:SS.ffffff]
      t = substr(line, 13, 15); split(t, h, ":")
      return ((h[1] * 60 + h[2]) * 60 + h[3]) * 1000
    }
    /Performing hollowing step!/ { start = ms($0) }
    /Drilling holes into model/ && start != "" { d = ms($0) - start; if (d < 0) d += 86400000; printf "%.1f\n", d; exit }
  ' "$1"
}

echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
printf "%-6s %10s %10s %7s %s\n" file ours_ms peer_ms ratio "ours: ms_copy/ms_stock/ms_offset/ms_mesh (medians)"
for name in $sizes; do
  f="$work/sphere_$name.stl"
  : >"$work/rounds.txt"
  for _ in $(seq "$rounds"); do
    "$meshinfo" "$f" --hollow 3 "$density" >"$work/ours.txt" 2>/dev/null || true
    "$peer" --export-sla --hollowing-enable --hollowing-min-thickness 3 --hollowing-quality "$quality" \
      --no-supports-enable --no-pad-enable --dont-arrange --loglevel 3 -o "$work/peer_$name.sl1" "$f" \
      >"$work/peer.txt" 2>&1 || true
    p=$(peerMs "$work/peer.txt")
    echo "$(key ms <"$work/ours.txt") ${p:-0} $(key ms_copy <"$work/ours.txt") $(key ms_stock <"$work/ours.txt")" \
      "$(key ms_offset <"$work/ours.txt") $(key ms_mesh <"$work/ours.txt")" >>"$work/rounds.txt"
  done
  col() { awk -v c="$1" '{ print $c }' "$work/rounds.txt" | median; }
  o=$(col 1) p=$(col 2)
  awk -v n="$name" -v o="$o" -v p="$p" -v s="$(col 3)/$(col 4)/$(col 5)/$(col 6)" 'BEGIN {
    printf "%-6s %10.1f %10.1f %7.2f %s\n", n, o, p, (p > 0 ? o / p : 0), s }'
done
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
