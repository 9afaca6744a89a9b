# Sourced by the scripts that drive the real program under Xvfb: checks the
# tools they use, makes a private temporary folder with its own settings, data
# and runtime folders, and on exit stops the program (its pid in $app) and
# removes the folder. Usage: gui_session_start <script name>
gui_session_start() {
  for tool in xdotool import convert python3; do
    command -v $tool >/dev/null || { echo "$1: $tool is missing"; exit 1; }
  done
  tmp=$(mktemp -d)
  app=""
  trap gui_session_cleanup EXIT
  mkdir -m 0700 "$tmp/runtime"
  export XDG_RUNTIME_DIR="$tmp/runtime" XDG_CONFIG_HOME="$tmp/config" XDG_DATA_HOME="$tmp/data"
}

# The program is waited for, so its window is gone before the next session on
# the same display looks for one.
gui_session_cleanup() {
  if [ -n "$app" ] && kill "$app" 2>/dev/null; then
    for _ in $(seq 1 50); do kill -0 "$app" 2>/dev/null || break; sleep 0.1; done
    kill -9 "$app" 2>/dev/null || true
    wait "$app" 2>/dev/null || true
  fi
  rm -rf "$tmp"
}

# Prints the id of the program's own main window (a window of another program
# on the same display never counts); returns 1 when none shows within 20 s.
gui_main_window() {
  local win
  win=$(timeout 20 xdotool search --all --sync --onlyvisible --pid "$app" --name '^Velar3D$' | head -1) || return 1
  [ -n "$win" ] && echo "$win"
}

# Presses L in the main window (id $1) and types the path $2 into the import
# dialog it opens. On a loaded machine the first key can reach the window
# before it handles keys, so L is pressed again until the dialog shows ($3
# presses at the most, 5 by default), and the file-name field is cleared
# before typing. Without a window manager the
# keys can still go to the window under the pointer, and a slow program can
# take a Return for the file-name completion: the pointer rests on the
# dialog, and the path is typed again until the dialog closes. Returns 1
# without a dialog, or when it stays open.
gui_import_file() {
  local dialog=""
  for _ in $(seq 1 "${3:-5}"); do
    [ "${3:-5}" -gt 1 ] && { xdotool windowfocus --sync "$1" 2>/dev/null || true; }
    xdotool key --clearmodifiers l
    dialog=$(timeout 8 xdotool search --all --sync --onlyvisible --pid "$app" --name 'Import file' | head -1) && break
  done
  [ -n "$dialog" ] || return 1
  for _ in 1 2 3; do
    xdotool mousemove --window "$dialog" 20 20 2>/dev/null || true
    xdotool windowfocus --sync "$dialog" 2>/dev/null || true
    sleep 0.5
    xdotool key ctrl+a
    xdotool type --delay 5 "$2"
    sleep 0.3
    xdotool key Return
    for _ in $(seq 1 30); do
      xdotool search --all --onlyvisible --pid "$app" --name 'Import file' >/dev/null 2>&1 || return 0
      sleep 0.2
    done
  done
  return 1
}

# Writes a 20 mm cube as ASCII STL to $1.
gui_write_cube() {
  python3 - "$1" <<'PY'
import sys
v = [(0, 0, 0), (20, 0, 0), (20, 20, 0), (0, 20, 0), (0, 0, 20), (20, 0, 20), (20, 20, 20), (0, 20, 20)]
f = [(0, 2, 1), (0, 3, 2), (4, 5, 6), (4, 6, 7), (0, 1, 5), (0, 5, 4), (1, 2, 6), (1, 6, 5), (2, 3, 7), (2, 7, 6),
     (3, 0, 4), (3, 4, 7)]
with open(sys.argv[1], 'w') as out:
    out.write('solid cube\n')
    for tri in f:
        out.write(' facet normal 0 0 0\n  outer loop\n')
        for i in tri:
            out.write('   vertex %g %g %g\n' % v[i])
        out.write('  endloop\n endfacet\n')
    out.write('endsolid cube\n')
PY
}
