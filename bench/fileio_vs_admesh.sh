#!/usr/bin/env bash
# Import against admesh, side by side: wall time, CPU time (user + system) and
# peak resident memory of `meshinfo FILE` (read, weld, edges, shells) and of
# `admesh -e FILE` on generated closed tori of 1M and 5M facets, in file order
# and shuffled; the import once on one thread (MESHINFO_IMPORT_THREADS=1) and
# once with the threads it picks itself. In a numbered mode both commands run
# pinned to as many cores (taskset); in a mode like "2c" too, the import then
# picking its threads itself (as on a machine with that many cores), so that no helper thread of either (a page
# mapping thread, say) does work beside the one measured; CPU is user + system.
# The two commands run in turn, pair by pair, and each figure is the median
# over the rounds.
# Usage: bench/fileio_vs_admesh.sh BUILD_DIR [WORK_DIR]
#   ROUNDS=N          paired runs per file and mode (default 5)
#   MODES="1 auto"    import thread modes: a thread count, Nc (N cores, the
#                     import's own thread choice), or auto
#   FILES="1m ..."    files among 1m 1m_shuffled 5m 5m_shuffled (default all)
#   ADMESH_SHUFFLED=0 skips admesh on the shuffled files (it takes minutes)
#   EXTRA_LOAD=N      runs N CPU-bound loops beside the measurement
#   CORES=LIST        cores a numbered mode pins to (default: the last ones)
set -euo pipefail
build=${1:?build folder with tests/tools/meshinfo}
work=${2:-$(mktemp -d)}
meshinfo="$build/tests/tools/meshinfo"
command -v admesh >/dev/null || { echo "admesh is not installed" >&2; exit 1; }
command -v taskset >/dev/null || { echo "taskset (util-linux) is not installed" >&2; exit 1; }
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
files=${FILES:-1m 1m_shuffled 5m 5m_shuffled}
for spec in "1m 1000 500" "1m_shuffled 1000 500 s" "5m 2500 1000" "5m_shuffled 2500 1000 s"; do
  set -- $spec
  case " $files " in *" $1 "*) [ -f "$work/$1.stl" ] || python3 "$gen" "$work/$1.stl" "$2" "$3" ${4:-} ;; esac
done
# A single run after the machine sat idle pays for mapping fresh pages, which
# costs the import (about 160 bytes per facet) more than admesh (about 70):
# quote the medians of several rounds.
rounds=${ROUNDS:-5}
modes=${MODES:-1 auto}
loaders=()
stop_load() { for p in "${loaders[@]}"; do kill "$p" 2>/dev/null || true; done; }
trap stop_load EXIT
for _ in $(seq "${EXTRA_LOAD:-0}"); do
  (while :; do :; done) &
  loaders+=($!)
done
median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
# Appends "wall cpu peak_KiB" of one run of the command to FILE.
timed() {
  local out=$1
  shift
  { /usr/bin/time -f "%e %U %S %M" "$@" >/dev/null; } 2>&1 | tail -1 | awk '{ print $1, $2 + $3, $4 }' >>"$out"
}
echo "load average: $(cut -d' ' -f1-3 /proc/loadavg); cores: $(nproc); extra load: ${EXTRA_LOAD:-0} loops"
printf "%-14s %5s %8s %8s %7s %8s %8s %7s %9s %9s\n" file mode ours_s admesh_s wall_x ours_cpu adm_cpu cpu_x ours_B/f admesh_B/f
for name in $files; do
  f="$work/$name.stl"
  facets=$(( ($(stat -L -c %s "$f") - 84) / 50 ))
  for mode in $modes; do
    : >"$work/ours.times"
    : >"$work/theirs.times"
    # A numbered mode runs both commands on that many cores, the same ones.
    pin=()
    count=${mode%c}
    if [ "$mode" != auto ] && [ "$count" -lt "$(nproc)" ]; then
      cores=${CORES:-$(( $(nproc) - count ))-$(( $(nproc) - 1 ))}
      pin=(taskset -c "$cores")
    fi
    for _ in $(seq "$rounds"); do
      if [ "$mode" = auto ] || [ "$count" != "$mode" ]; then
        timed "$work/ours.times" "${pin[@]}" env -u MESHINFO_IMPORT_THREADS "$meshinfo" "$f"
      else
        timed "$work/ours.times" "${pin[@]}" env MESHINFO_IMPORT_THREADS="$mode" "$meshinfo" "$f"
      fi
      if [ "${ADMESH_SHUFFLED:-1}" = 0 ] && [ "${name%_shuffled}" != "$name" ]; then
        echo "nan nan 0" >>"$work/theirs.times"
      else
        timed "$work/theirs.times" "${pin[@]}" admesh -e "$f"
      fi
    done
    col() { cut -d' ' -f"$2" "$1" | median; }
    awk -v n="$name" -v m="$mode" -v f="$facets" \
      -v a="$(col "$work/ours.times" 1)" -v ac="$(col "$work/ours.times" 2)" -v am="$(col "$work/ours.times" 3)" \
      -v b="$(col "$work/theirs.times" 1)" -v bc="$(col "$work/theirs.times" 2)" -v bm="$(col "$work/theirs.times" 3)" \
      'BEGIN { printf "%-14s %5s %8.2f %8.2f %7.2f %8.2f %8.2f %7.2f %9.0f %9.0f\n", n, m, a, b, (b > 0 ? a / b : 0),
               ac, bc, (bc > 0 ? ac / bc : 0), am * 1024 / f, bm * 1024 / f }'
  done
done
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
