#!/usr/bin/env bash
# Two builds of meshinfo side by side on one file: the runs alternate (A, B,
# A, B, ...) on the same cores, so that a change of the machine's load meets
# both alike, and each figure is the median over the rounds. Prints per build
# the whole-process wall time, CPU time (user + system) and peak resident
# memory, the import's ms_read and ms_total, and the time the process spends
# outside the import (start-up, and the release of the mesh at exit).
# Usage: bench/meshinfo_ab.sh MESHINFO_A MESHINFO_B FILE
#   ROUNDS=N     runs of each build (default 9)
#   CORES=LIST   cores both are pinned to (default: the last one)
#   THREADS=N    MESHINFO_IMPORT_THREADS (default 1)
set -euo pipefail
a=${1:?meshinfo build A}
b=${2:?meshinfo build B}
file=${3:?STL file}
rounds=${ROUNDS:-9}
cores=${CORES:-$(( $(nproc) - 1 ))}
threads=${THREADS:-1}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# Appends "wall_ms cpu_ms peak_KiB ms_read ms_total outside_ms" of one run.
run() {
  local out
  out=$( { MESHINFO_IMPORT_THREADS=$threads /usr/bin/time -f "TIME %e %U %S %M" taskset -c "$cores" "$1" "$file"; } 2>&1 )
  local read total
  read=$(grep -o "ms_read=[0-9.]*" <<<"$out" | cut -d= -f2)
  total=$(grep -o "ms_total=[0-9.]*" <<<"$out" | cut -d= -f2)
  grep TIME <<<"$out" | awk -v r="$read" -v t="$total" '{ print $2 * 1000, ($3 + $4) * 1000, $5, r, t, $2 * 1000 - t }' >>"$2"
}
median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
echo "load average: $(cut -d' ' -f1-3 /proc/loadavg); cores: $cores; threads: $threads"
for _ in $(seq "$rounds"); do
  run "$a" "$work/a"
  run "$b" "$work/b"
done
printf "%-3s %8s %8s %10s %8s %9s %10s\n" build wall_ms cpu_ms peak_KiB ms_read ms_total outside_ms
for which in a b; do
  printf "%-3s" "$which"
  for column in 1 2 3 4 5 6; do
    printf " %9s" "$(cut -d' ' -f$column "$work/$which" | median)"
  done
  printf "\n"
done
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
