#!/usr/bin/env bash
# Import against admesh, side by side in one run: wall time and peak resident
# memory of `meshinfo FILE` (read, weld, edges, shells) and of `admesh -e FILE`
# on generated closed tori of 1M and 5M facets, in file order and shuffled.
# Usage: bench/fileio_vs_admesh.sh BUILD_DIR [WORK_DIR]
set -euo pipefail
build=${1:?build folder with tests/tools/meshinfo}
work=${2:-$(mktemp -d)}
meshinfo="$build/tests/tools/meshinfo"
command -v admesh >/dev/null || { echo "admesh is not installed" >&2; exit 1; }
mkdir -p "$work"
gen="$work/torus_gen.py"
cat >"$gen" <<'PY'
import math, random, struct, sys
out, major, minor = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
shuffle = len(sys.argv) > 4
def at(i, j):
    u = 2 * math.pi * (i % major) / major; w = 2 * math.pi * (j % minor) / minor
    ring = 100 + 30 * math.cos(w)
    return (ring * math.cos(u), ring * math.sin(u), 30 * math.sin(w))
rec = struct.Struct("<12fH")
facets = []
for i in range(major):
    for j in range(minor):
        a, b, c, d = at(i, j), at(i + 1, j), at(i + 1, j + 1), at(i, j + 1)
        facets.append(rec.pack(0, 0, 0, *a, *b, *c, 0))
        facets.append(rec.pack(0, 0, 0, *a, *c, *d, 0))
if shuffle:
    random.Random(5).shuffle(facets)
with open(out, "wb") as f:
    f.write(b"torus".ljust(80, b"\0") + struct.pack("<I", len(facets)))
    f.write(b"".join(facets))
PY
for spec in "1m 1000 500" "1m_shuffled 1000 500 s" "5m 2500 1000" "5m_shuffled 2500 1000 s"; do
  set -- $spec
  [ -f "$work/$1.stl" ] || python3 "$gen" "$work/$1.stl" "$2" "$3" ${4:-}
done
# ROUNDS=N (default 1) runs each pair N times in turn and prints the medians:
# a single run after the machine sat idle pays for mapping fresh pages, which
# costs the import (about 185 bytes per facet) far more than admesh (about 70).
# admesh takes minutes on the shuffled files: ADMESH_SHUFFLED=0 skips it there.
rounds=${ROUNDS:-1}
median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
printf "%-14s %10s %10s %8s %12s %12s\n" file ours_s admesh_s ratio ours_B/facet admesh_B/facet
for name in 1m 1m_shuffled 5m 5m_shuffled; do
  f="$work/$name.stl"
  facets=$(( ($(stat -L -c %s "$f") - 84) / 50 ))
  : >"$work/ours.times"
  : >"$work/theirs.times"
  for _ in $(seq "$rounds"); do
    { /usr/bin/time -f "%e %M" "$meshinfo" "$f" >/dev/null; } 2>&1 | tail -1 >>"$work/ours.times"
    if [ "${ADMESH_SHUFFLED:-1}" = 0 ] && [ "${name%_shuffled}" != "$name" ]; then
      echo "nan 0" >>"$work/theirs.times"
    else
      { /usr/bin/time -f "%e %M" admesh -e "$f" >/dev/null; } 2>&1 | tail -1 >>"$work/theirs.times"
    fi
  done
  set -- "$(cut -d' ' -f1 "$work/ours.times" | median)" "$(cut -d' ' -f2 "$work/ours.times" | median)" \
    "$(cut -d' ' -f1 "$work/theirs.times" | median)" "$(cut -d' ' -f2 "$work/theirs.times" | median)"
  awk -v n="$name" -v a="$1" -v am="$2" -v b="$3" -v bm="$4" -v f="$facets" \
    'BEGIN { printf "%-14s %10.2f %10.2f %8.2f %12.0f %12.0f\n", n, a, b, (b > 0 ? a / b : 0), am * 1024 / f, bm * 1024 / f }'
done
