#!/usr/bin/env bash
# Opening projects crafted to be slow or large (whole processes, one run each):
#   - cones N: one 20 mm cube whose support entry holds N cones standing at
#     one contact point and 9 spread under the cube, written as an earlier
#     version wrote them (contact points only), so that the open places,
#     links and braces every cone; CONES (default "10000 40000 200000") picks N;
#   - stored N: the same project saved again by this version (every cone with
#     its placement, links and bars) and opened;
#   - regions M: the cube's support entry holding M MB of lowest-point region
#     records (REGIONS, default 200): refused, or opened, within its bounds.
# Prints meshinfo --open's result, cones and in-process ms, the whole run's
# wall seconds and peak resident memory (from /usr/bin/time); a run longer
# than TIMEOUT seconds (default 600) is cut off and says so.
# Usage: bench/project_crafted.sh BUILD_DIR [WORK_DIR]
set -euo pipefail
build=${1:?build folder with tests/tools/meshinfo}
work=${2:-$(mktemp -d)}
meshinfo="$build/tests/tools/meshinfo"
craft="$(cd "$(dirname "$0")" && pwd)/project_crafted.py"
cones=${CONES:-10000 40000 200000}
regions=${REGIONS:-200}
limit=${TIMEOUT:-600}
command -v /usr/bin/time >/dev/null || { echo "project_crafted: /usr/bin/time (package time) is not installed" >&2; exit 1; }
mkdir -p "$work"
python3 - "$work/cube.stl" <<'PY'
import struct, sys
v = [(20.0 * x, 20.0 * y, 20.0 * z) for z in (0, 1) for y in (0, 1) for x in (0, 1)]
faces = [(0, 2, 1), (1, 2, 3), (4, 5, 6), (5, 7, 6), (0, 1, 4), (1, 5, 4),
         (2, 6, 3), (3, 6, 7), (0, 4, 2), (2, 4, 6), (1, 3, 5), (3, 7, 5)]
with open(sys.argv[1], "wb") as f:
    f.write(b"cube".ljust(80, b"\0") + struct.pack("<I", len(faces)))
    for a, b, c in faces:
        f.write(struct.pack("<12fH", 0, 0, 0, *v[a], *v[b], *v[c], 0))
PY
"$meshinfo" --project "$work/base.vpf" "$work/cube.stl" >/dev/null
key() { tr ' ' '\n' | awk -F= -v k="$1" '$1 == k { print $2 }' | tail -1; }
# open NAME FILE: one timed meshinfo --open of FILE, its line in $work/NAME.txt.
open() {
  local name=$1 file=$2 wall peak
  if /usr/bin/time -f "%e %M" -o "$work/$name.time" timeout "$limit" "$meshinfo" --open "$file" \
    >"$work/$name.txt" 2>/dev/null || [ -s "$work/$name.txt" ]; then
    read -r wall peak < <(tail -1 "$work/$name.time")
    printf "%-14s %-7s %9s %9s %8s %9.0f\n" "$name" "$(key result <"$work/$name.txt")" \
      "$(key cones <"$work/$name.txt")" "$(key ms <"$work/$name.txt")" "$wall" "$((peak / 1024))"
  else
    printf "%-14s %-7s\n" "$name" "cut_off"
  fi
}
printf "%-14s %-7s %9s %9s %8s %9s\n" project result cones open_ms wall_s peak_MiB
for n in $cones; do
  python3 "$craft" "$work/base.vpf" "$work/cones_$n.vpf" cones "$n"
  open "cones_$n" "$work/cones_$n.vpf"
  "$meshinfo" --open "$work/cones_$n.vpf" --save "$work/stored_$n.vpf" >/dev/null
  open "stored_$n" "$work/stored_$n.vpf"
done
for m in $regions; do
  python3 "$craft" "$work/base.vpf" "$work/regions_$m.vpf" regions "$m"
  open "regions_${m}MB" "$work/regions_$m.vpf"
done
