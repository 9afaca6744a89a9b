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

gui_session_cleanup() {
  [ -n "$app" ] && kill "$app" 2>/dev/null || true
  rm -rf "$tmp"
}

# Presses L in the main window (id $1) and types the path $2 into the import
# dialog it opens. On a loaded machine the first key can reach the window
# before it handles keys, so L is pressed again until the dialog shows, and
# the file-name field is cleared before typing. Returns 1 without a dialog.
gui_import_file() {
  local dialog=""
  for _ in 1 2 3 4 5; do
    xdotool windowfocus --sync "$1" 2>/dev/null || true
    xdotool key --clearmodifiers l
    dialog=$(timeout 8 xdotool search --sync --onlyvisible --name 'Import file' | head -1) && break
  done
  [ -n "$dialog" ] || return 1
  xdotool windowfocus --sync "$dialog" 2>/dev/null || true
  sleep 0.5
  xdotool key --clearmodifiers ctrl+a
  xdotool type --delay 5 "$2"
  xdotool key Return
}
