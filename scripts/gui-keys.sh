#!/usr/bin/env bash
# The single-key shortcuts after every dialog, under a window manager: starts
# its own Xvfb (a display number the server picks itself, so that runs side by
# side never meet) with openbox, starts velar3d, imports a cube four times
# through the import dialog (key L, the path typed) and then cancels the save
# dialog (key S). After each dialog and the import's progress dialog, one
# press of L, without the window being focused again by hand, must open the
# import dialog: the window has the keys back by itself.
#   gui-keys.sh <velar3d>
set -euo pipefail
bin=$(readlink -f "$1")
for tool in Xvfb openbox; do
  command -v $tool >/dev/null || { echo "gui-keys: $tool is missing (scripts/install-deps.sh installs it)"; exit 1; }
done
. "$(dirname "$(readlink -f "$0")")/gui-session.sh"
gui_session_start gui-keys

xvfb=""
wm=""
stop_servers() {
  gui_session_cleanup
  for pid in $wm $xvfb; do kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null || true; done
}
trap stop_servers EXIT
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$tmp/display" 2>"$tmp/xvfb.txt" &
xvfb=$!
for _ in $(seq 1 100); do [ -s "$tmp/display" ] && break; sleep 0.1; done
[ -s "$tmp/display" ] || { echo "gui-keys: Xvfb did not start"; cat "$tmp/xvfb.txt"; exit 1; }
export DISPLAY=":$(head -1 "$tmp/display")"
openbox >"$tmp/openbox.txt" 2>&1 &
wm=$!
# The window manager owns the screen once it has set its check window.
for _ in $(seq 1 100); do xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && break; sleep 0.1; done

gui_write_cube "$tmp/cube.stl"

"$bin" >"$tmp/stdout.txt" 2>"$tmp/stderr.txt" &
app=$!
fail() {
  echo "gui-keys: $*"
  echo "--- stderr"; tail -20 "$tmp/stderr.txt"
  exit 1
}
win=$(gui_main_window) || fail "no main window"
sleep 1

# Waits until the run's log has $1 finished imports.
imports_ended() {
  local log=""
  for _ in $(seq 1 150); do
    log=$(find "$tmp/data" -name '*.log' | head -1)
    if [ -n "$log" ] && [ "$(grep -c -- "----- Import object: end -----" "$log")" -ge "$1" ]; then return 0; fi
    sleep 0.2
  done
  return 1
}

# The first import may press L again while the program starts; every later
# one presses it once.
gui_import_file "$win" "$tmp/cube.stl" || fail "no import dialog at the start"
imports_ended 1 || fail "the first import did not end"
for round in 2 3 4; do
  sleep 1
  gui_import_file "$win" "$tmp/cube.stl" 1 || fail "L opened no import dialog after import $((round - 1))"
  imports_ended $round || fail "import $round did not end"
done

# The save dialog for the selection (the last cube), cancelled.
sleep 1
xdotool key --clearmodifiers s
dialog=$(timeout 8 xdotool search --all --sync --onlyvisible --pid "$app" --name 'Save Object' | head -1) ||
  fail "S opened no save dialog after the imports"
xdotool windowfocus --sync "$dialog" 2>/dev/null || true
xdotool key Escape
for _ in $(seq 1 50); do
  xdotool search --all --onlyvisible --pid "$app" --name 'Save Object' >/dev/null 2>&1 || break
  sleep 0.1
done
sleep 1
xdotool key --clearmodifiers l
timeout 8 xdotool search --all --sync --onlyvisible --pid "$app" --name 'Import file' >/dev/null ||
  fail "L opened no import dialog after the save dialog"
echo "gui-keys: passed"
