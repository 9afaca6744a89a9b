# shellcheck shell=bash
# Qt's include folder and its modules, for the layering checks (sourced).

# velar_qt_includedir: prints the real path of the Qt 5 include folder (the one
# holding QtCore, QtGui, QtWidgets), or fails with a message.
velar_qt_includedir() {
  local qt d
  qt="$(pkg-config --variable=includedir Qt5Core 2>/dev/null || true)"
  if [ ! -d "$qt/QtWidgets" ]; then
    for d in /usr/include/x86_64-linux-gnu/qt5 /usr/include/qt5 /usr/include/qt; do
      [ -d "$d/QtWidgets" ] && qt=$d && break
    done
  fi
  if [ ! -d "$qt/QtWidgets" ]; then
    echo "layering: no Qt 5 headers found (pkg-config Qt5Core); cannot tell Qt's modules apart" >&2
    return 2
  fi
  realpath "$qt"
}

# velar_qt_listing <qt include folder>: for scripts/layers.awk, the lines
# "M <module>" per module, "M <module> <module it depends on>" per include of
# its <module>Depends header, and "H <header, lower case> <module>" per header.
velar_qt_listing() {
  grep -Ho '<Qt[A-Za-z0-9]*/' "$1"/Qt*/Qt*Depends 2>/dev/null |
    awk -F: '{ m = $1; sub(/\/[^\/]*$/, "", m); sub(/^.*\//, "", m); d = $2; gsub(/[<\/]/, "", d); print "M " m " " d }'
  find "$1"/Qt* -mindepth 1 -maxdepth 1 |
    awk '{ m = $0; sub(/\/[^\/]*$/, "", m); sub(/^.*\//, "", m); h = $0; sub(/^.*\//, "", h); print "H " tolower(h) " " m; if (!(m in seen)) { seen[m] = 1; print "M " m } }'
}
