#!/usr/bin/env bash
# Takes the README's screenshots from the running program: starts velar3d on
# its own virtual X server, imports a standing ring through the import dialog
# (key L, the path typed), generates its supports (key G), grabs the main
# window, opens the slice preview (its tool button) and grabs the window again.
#   screenshots.sh [<velar3d>] [<output folder, default docs>]
# Without a program it builds build/release as scripts/start.sh does.
set -euo pipefail
cd "$(dirname "$0")/.."
bin=${1:-build/release/velar3d}
out=${2:-docs}
if [ ! -x "$bin" ]; then
  bash scripts/build.sh build/release -DVELAR_BUILD_TESTS=OFF -DVELAR_BUILD_BENCH=OFF -DCMAKE_BUILD_TYPE=Release
fi
bin=$(readlink -f "$bin")
mkdir -p "$out"
out=$(readlink -f "$out")
if [ -z "${VELAR_SCREENSHOTS_DISPLAY:-}" ]; then
  export VELAR_SCREENSHOTS_DISPLAY=1
  exec xvfb-run -a -s "-screen 0 1600x1000x24 -nolisten tcp" bash "$0" "$bin" "$out"
fi
. scripts/gui-session.sh
gui_session_start screenshots

# A ring standing on its rim (major radius 20 mm, tube 6 mm): its lower half
# overhangs, so it gets supports all round.
python3 - "$tmp/ring.stl" <<'PY'
import math, struct, sys
R, r, nu, nv = 20.0, 6.0, 96, 32
def p(i, j):
    u, v = 2 * math.pi * i / nu, 2 * math.pi * j / nv
    x = (R + r * math.cos(v)) * math.cos(u)
    z = (R + r * math.cos(v)) * math.sin(u)
    y = r * math.sin(v)
    return (x, y, z)
facets = []
for i in range(nu):
    for j in range(nv):
        a, b, c, d = p(i, j), p(i + 1, j), p(i + 1, j + 1), p(i, j + 1)
        facets += [(a, c, b), (a, d, c)]
with open(sys.argv[1], 'wb') as f:
    f.write(b'ring'.ljust(80, b' '))
    f.write(struct.pack('<I', len(facets)))
    for t in facets:
        f.write(struct.pack('<3f', 0, 0, 0))
        for v in t:
            f.write(struct.pack('<3f', *v))
        f.write(b'\0\0')
PY

"$bin" >"$tmp/stdout.txt" 2>"$tmp/stderr.txt" &
app=$!
fail() {
  echo "screenshots: $*"
  tail -20 "$tmp/stderr.txt"
  exit 1
}
log_has() {
  local log
  log=$(find "$tmp/data" -name '*.log' | head -1)
  [ -n "$log" ] && grep -q -- "$1" "$log"
}
win=$(gui_main_window) || fail "no main window"
xdotool windowmove "$win" 0 0 windowsize "$win" 1400 900
sleep 1
gui_import_file "$win" "$tmp/ring.stl" || fail "no import dialog"
for _ in $(seq 1 100); do
  log_has "----- Import object: end -----" && break
  sleep 0.2
done
log_has "----- Import object: end -----" || fail "the import did not end"
sleep 1
xdotool windowfocus --sync "$win" 2>/dev/null || true
xdotool key --clearmodifiers g
sleep 3
import -window "$win" "$out/main-window-supports.png"

# The slice preview's button is the lowest button-high light square in the
# tool column (looked for left of the icons).
import -window "$win" "$tmp/window.png"
convert "$tmp/window.png" -crop 1x900+8+0 -depth 8 rgb:"$tmp/column.rgb"
y=$(python3 - "$tmp/column.rgb" <<'PY'
import sys
data = open(sys.argv[1], 'rb').read()
runs, start = [], None
for y in range(len(data) // 3):
    r, g, b = data[3 * y], data[3 * y + 1], data[3 * y + 2]
    light = r > 200 and g > 200 and b > 200
    if light and start is None:
        start = y
    elif not light and start is not None:
        if 30 < y - start < 60:
            runs.append((start, y))
        start = None
print((runs[-1][0] + runs[-1][1]) // 2 if len(runs) >= 8 else -1)
PY
)
[ "$y" -gt 0 ] || fail "no slice preview button found"
echo "screenshots: slice preview button at y $y"
xdotool mousemove --window "$win" 27 "$y" click 1
sleep 3
xdotool mousemove --window "$win" 700 880
sleep 0.5
import -window "$win" "$out/slice-preview.png"
echo "screenshots: $out/main-window-supports.png $out/slice-preview.png"
