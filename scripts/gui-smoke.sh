#!/usr/bin/env bash
# Drives the real program as a user would: starts velar3d on an X display,
# presses L, types the path of a cube into the import dialog, presses Return,
# takes a screenshot of the screen and checks that the cube is there in its
# shade colour and that stdout and the run's log have the driver report and
# the import lines. Without a display it starts its own Xvfb.
#   gui-smoke.sh <velar3d> [--no-vbo] [--keep <folder for the screenshot>]
set -euo pipefail
bin=$(readlink -f "$1")
shift
novbo=0
keep=""
while [ $# -gt 0 ]; do
  case "$1" in
    --no-vbo) novbo=1 ;;
    --keep) keep=$2; shift ;;
  esac
  shift
done
if [ -z "${DISPLAY:-}" ]; then
  exec xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp" "$0" "$bin" $([ $novbo = 1 ] && echo --no-vbo) \
    ${keep:+--keep "$keep"}
fi
. "$(dirname "$(readlink -f "$0")")/gui-session.sh"
gui_session_start gui-smoke
[ $novbo = 1 ] && export VELAR_DISABLE_VBO=1

gui_write_cube "$tmp/cube.stl"

"$bin" >"$tmp/stdout.txt" 2>"$tmp/stderr.txt" &
app=$!
fail() {
  echo "gui-smoke: $*"
  echo "--- stdout"; cat "$tmp/stdout.txt"; echo "--- stderr"; tail -20 "$tmp/stderr.txt"
  find "$tmp/data" -name '*.log' -exec sh -c 'echo "--- $1"; cat "$1"' _ {} \;
  exit 1
}
# The window, then the import dialog that L opens (on release).
win=$(gui_main_window) || fail "no main window"
sleep 1
gui_import_file "$win" "$tmp/cube.stl" || fail "no import dialog"

log=""
for _ in $(seq 1 100); do
  log=$(find "$tmp/data" -name '*.log' | head -1)
  if [ -n "$log" ] && grep -q -- "----- Import object: end -----" "$log"; then break; fi
  sleep 0.2
done
[ -n "$log" ] && grep -q -- "----- Import object: end -----" "$log" || fail "the import did not end"
# The import frames the cube; sixteen wheel notches back out show the
# whole platform around it.
sleep 1
eval "$(xdotool getwindowgeometry --shell "$win")"
xdotool mousemove --window "$win" $((WIDTH / 2)) $((HEIGHT / 2))
for _ in $(seq 1 16); do xdotool click 5; done
sleep 1.5
import -window root "$tmp/shot.png"
[ -n "$keep" ] && cp "$tmp/shot.png" "$keep/gui-smoke$([ $novbo = 1 ] && echo -novbo).png"

grep -q "OpenGL Driver Info" "$tmp/stdout.txt" || fail "no driver report on stdout"
grep -q "Total Number of Extensions" "$log" || fail "no driver report in the log"
if [ $novbo = 1 ]; then
  grep -q "Video card does NOT support GL_ARB_vertex_buffer_object." "$log" || fail "vertex buffers not switched off"
else
  grep -q "Video card supports GL_ARB_vertex_buffer_object." "$log" || fail "no vertex-buffer line"
fi
grep -q -- "----- Import object: begin -----" "$log" || fail "no import begin line"
grep -q "cube.stl" "$log" || fail "no object name line"
grep -q "Number triangle" "$log" || fail "no triangle count line"

# The cube's shade colour (cyan: green and blue well above red), the
# platform (light grey) and the background (dark) must all be in the window,
# and the orientation cube in its top-right corner. Positions come from the
# window's geometry and the screenshot's size: the screen may be of any size
# and the window need not fill it.
convert "$tmp/shot.png" -depth 8 rgb:"$tmp/shot.rgb"
python3 - "$tmp/shot.rgb" "$(identify -format %w "$tmp/shot.png")" "$X" "$Y" "$WIDTH" "$HEIGHT" <<'PY' || fail "the screenshot does not show the scene"
import sys
data = open(sys.argv[1], 'rb').read()
width = int(sys.argv[2])
left, top, right, bottom = int(sys.argv[3]), int(sys.argv[4]), int(sys.argv[3]) + int(sys.argv[5]), int(sys.argv[4]) + int(sys.argv[6])
shade = light = dark = 0
cube = set()
for y in range(max(top, 0), min(bottom, len(data) // 3 // width)):
    row = y * width
    for x in range(max(left, 0), min(right, width)):
        i = 3 * (row + x)
        r, g, b = data[i], data[i + 1], data[i + 2]
        if g > r + 60 and b > r + 60 and g > 90:
            shade += 1
        elif r > 180 and g > 180 and b > 180:
            light += 1
        elif r < 90 and g < 90 and b < 100:
            dark += 1
        # The orientation cube's faces in the window's top-right corner.
        if x > right - 200 and y < top + 200:
            for name, (cr, cg, cb) in {'X': (255, 128, 128), 'Y': (128, 255, 128), 'Z': (128, 128, 255)}.items():
                if abs(r - cr) < 12 and abs(g - cg) < 12 and abs(b - cb) < 12:
                    cube.add(name)
print('window', left, top, right, bottom, 'shade', shade, 'platform', light, 'background', dark, 'cube faces', sorted(cube))
sys.exit(0 if shade > 500 and light > 20000 and dark > 100000 and len(cube) == 3 else 1)
PY
echo "gui-smoke: passed"
