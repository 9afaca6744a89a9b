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

# velar_qt_listing <qt include folder>: for scripts/layers.awk, one line
# "M <module> <modules it depends on>" per module (from its <module>Depends
# header) and one line "H <header, lower case> <module>" per header.
velar_qt_listing() {
  local dir m
  for dir in "$1"/Qt*/; do
    m=$(basename "$dir")
    echo "M $m $(grep -o '<Qt[A-Za-z0-9]*/' "$dir/${m}Depends" 2>/dev/null | tr -d '<>/' | tr '\n' ' ')"
    ls "$dir" | tr 'A-Z' 'a-z' | sed "s/^/H /; s/\$/ $m/"
  done
}
