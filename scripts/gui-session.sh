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
