#!/usr/bin/env bash
# What a slicer leaves at its output path, against meshinfo --gcode: each mode
# of qa/fake_slicer.sh (links, FIFO, directory, socket, a 3 GB file, ...) must
# fail the export by itself and keep the previous G-code byte for byte.
# Usage: qa/slicer_outputs.sh MESHINFO MODEL.stl WORKDIR [MODE...]
set -uo pipefail
meshinfo=$(readlink -f "$1"); model=$(readlink -f "$2"); work=$3; shift 3
modes=${*:-zero urandom fifo dir sock linkreg linkpasswd relink dirlink dangling empty none garbage fail huge}
fake=$(cd "$(dirname "$0")" && pwd)/fake_slicer.sh
mkdir -p "$work" && cd "$work" || exit 1
VELAR_CURAENGINE=/usr/bin/CuraEngine "$meshinfo" "$model" --gcode "$work/old.gcode" >/dev/null 2>&1 || { echo "no G-code from the real slicer"; exit 1; }
old=$(sha1sum < old.gcode)
bad=0
for m in $modes; do
  cp old.gcode target.gcode
  start=$(date +%s.%N)
  out=$(ulimit -v 4000000; FAKE_MODE=$m VELAR_CURAENGINE=$fake timeout 120 "$meshinfo" "$model" --gcode "$work/target.gcode" 2>&1 | tr '\n' ' ')
  secs=$(echo "$(date +%s.%N) - $start" | bc)
  kept=no; [ "$(sha1sum < target.gcode)" = "$old" ] && kept=yes
  size=$(stat -c %s target.gcode)
  printf '%-10s kept=%-3s size=%-11s %5.1fs %s\n' "$m" "$kept" "$size" "$secs" "$(echo "$out" | grep -o 'result=[a-z]*')"
  [ "$kept" = yes ] || bad=1
  rm -f target.gcode
done
exit $bad
