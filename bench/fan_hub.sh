#!/usr/bin/env bash
# Models with a hub: closed cones of radius and height 10 mm whose side and base
# are fans of N blades round the tip and round the base's centre (as a CAD
# program exports a finely divided cone or cylinder cap). For each N, whole
# processes, one run each:
#   - `meshinfo FILE`: the import, with its edge step's ms;
#   - `meshinfo --scene FILE`: import, placement and octree;
#   - `meshinfo FILE --support`: the supports (their in-process ms).
# Wall seconds and peak resident memory come from /usr/bin/time; a run that
# takes longer than TIMEOUT seconds (default 300) is cut off and says so.
# SEGMENTS (default "10000 100000 300000") picks N.
# Usage: bench/fan_hub.sh BUILD_DIR [WORK_DIR]
set -euo pipefail
build=${1:?build folder with tests/tools/meshinfo}
work=${2:-$(mktemp -d)}
meshinfo="$build/tests/tools/meshinfo"
segments=${SEGMENTS:-10000 100000 300000}
limit=${TIMEOUT:-300}
command -v /usr/bin/time >/dev/null || { echo "fan_hub: /usr/bin/time (package time) is not installed" >&2; exit 1; }
mkdir -p "$work"
gen="$work/cone_gen.py"
cat >"$gen" <<'PY'
import math, struct, sys
out, n = sys.argv[1], int(sys.argv[2])
rim = [(10 * math.cos(2 * math.pi * i / n), 10 * math.sin(2 * math.pi * i / n), 0.0) for i in range(n)]
tip, centre = (0.0, 0.0, 10.0), (0.0, 0.0, 0.0)
rec = struct.Struct("<12fH")
with open(out, "wb") as f:
    f.write(b"cone".ljust(80, b"\0") + struct.pack("<I", 2 * n))
    for i in range(n):
        a, b = rim[i], rim[(i + 1) % n]
        f.write(rec.pack(0, 0, 0, *tip, *a, *b, 0))
        f.write(rec.pack(0, 0, 0, *centre, *b, *a, 0))
PY
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
printf "%-8s %9s %8s %8s %9s %8s %9s %8s %10s\n" blades import_s edges_ms peak_MiB scene_s peak_MiB support_s peak_MiB support_ms
for n in $segments; do
  f="$work/cone_$n.stl"
  [ -f "$f" ] || python3 "$gen" "$f" "$n"
  read -r importS importPeak < <(run import "$meshinfo" "$f")
  edges=$(key ms_edges <"$work/import.txt")
  read -r sceneS scenePeak < <(run scene "$meshinfo" --scene "$f")
  read -r supportS supportPeak < <(run support "$meshinfo" "$f" --support)
  supportMs=$(key ms <"$work/support.txt")
  printf "%-8s %9s %8s %8s %9s %8s %9s %8s %10s\n" "$n" "$importS" "${edges:--}" "$importPeak" "$sceneS" \
    "$scenePeak" "$supportS" "$supportPeak" "${supportMs:--}"
done
