#!/usr/bin/env bash
# Checks every include of the libraries against cmake/Layers.txt, the one
# table of the layering: a file of a library includes its own headers and
# those of the libraries below it (what it links, and what they link), and a
# Qt GUI, Qt Widgets or GL header only where the table says the library may
# use it. Any spelling counts: <QWidget>, <QtWidgets/qwidget.h>, "qwidget.h"
# and <GL/gl.h> alike. Refused outright: an include through "..", an
# absolute path, a backslash, or a macro (their target cannot be told from the
# text). Files outside the table's folders (tests, benchmarks, fuzz targets)
# are not checked.
#
# usage: check-includes.sh [SOURCE-ROOT]   (default: this checkout)
set -euo pipefail
root="${1:-$(dirname "$0")/..}"
cd "$root"
table=cmake/Layers.txt

qt="$(pkg-config --variable=includedir Qt5Core 2>/dev/null || true)"
if [ ! -d "$qt/QtWidgets" ]; then
  for d in /usr/include/x86_64-linux-gnu/qt5 /usr/include/qt5 /usr/include/qt; do
    [ -d "$d/QtWidgets" ] && qt=$d && break
  done
fi
if [ ! -d "$qt/QtWidgets" ]; then
  echo "includes: no Qt 5 headers found (pkg-config Qt5Core); cannot tell Qt's modules apart" >&2
  exit 2
fi

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
# Qt's header names by module, lower case ("gui qimage.h").
for pair in QtGui:gui QtWidgets:widgets QtOpenGL:gl; do
  ls "$qt/${pair%%:*}" | tr 'A-Z' 'a-z' | sed "s/^/${pair##*:} /"
done >"$scratch/qt"
folders=$(grep -v '^#' "$table" | awk -F'|' 'NF >= 5 { gsub(/[ \t]/, "", $2); print $2 }' | sort -u)
: >"$scratch/files"
for f in $folders; do
  find "$f" -maxdepth 1 -type f \( -name '*.cpp' -o -name '*.h' \) >>"$scratch/files"
done
# shellcheck disable=SC2046
grep -nE '^[[:space:]]*#[[:space:]]*include(_next)?([^A-Za-z_0-9]|$)' $(cat "$scratch/files") >"$scratch/includes" || true

awk -v tablefile="$table" -v qtfile="$scratch/qt" -v filesfile="$scratch/files" '
  function trim(s) { gsub(/^[ \t]+|[ \t]+$/, "", s); return s }
  function glob2re(p) { gsub(/\./, "\\.", p); gsub(/\*/, ".*", p); gsub(/\?/, ".", p); return "^" p "$" }
  # The library that holds path (a file of a table folder), or "".
  function owner(path,    dir, stem, i, n, pats, k, rest) {
    dir = path; sub(/\/[^\/]*$/, "", dir)
    stem = path; sub(/^.*\//, "", stem); sub(/\..*$/, "", stem)
    rest = ""
    for (i = 1; i <= count; i++) {
      if (folder[i] != dir) continue
      n = split(sources[i], pats, " ")
      for (k = 1; k <= n; k++) {
        if (pats[k] == "*") rest = name[i]
        else if (stem ~ glob2re(pats[k])) return name[i]
      }
    }
    return rest
  }
  # " a b c ": every library below lib, with lib itself.
  function reach(lib,    out, n, parts, k) {
    if (lib in reached) return reached[lib]
    out = " " lib " "
    n = split(links[lib], parts, " ")
    for (k = 1; k <= n; k++) out = out reach(parts[k]) " "
    reached[lib] = out
    return out
  }
  # What an include that is no project file needs: "gl", "widgets", "gui" or "".
  function needs(h,    l, base) {
    l = tolower(h); base = l; sub(/^.*\//, "", base)
    if (l ~ /(^|\/)(gl|gles[0-9]*|glew|khr|egl|qtopengl)\// || base ~ /^(glew|glxew|glu|glut|glfw3?)\.h$/ ||
        base ~ /^(qopengl|qgl|qtopengl)/ || qtmodule[base] == "gl")
      return "gl"
    if (l ~ /(^|\/)qtwidgets\// || base ~ /^qtwidgets/ || qtmodule[base] == "widgets") return "widgets"
    if (l ~ /(^|\/)qtgui\// || base ~ /^qtgui/ || qtmodule[base] == "gui") return "gui"
    return ""
  }
  function refuse(file, line, why) {
    printf "%s:%s: %s\n", file, line, why > "/dev/stderr"
    bad = 1
  }
  BEGIN {
    while ((getline row < tablefile) > 0) {
      if (row ~ /^[ \t]*#/ || row ~ /^[ \t]*$/) continue
      n = split(row, cell, "|")
      if (n != 5) { print "includes: five columns expected in cmake/Layers.txt: " row > "/dev/stderr"; exit 2 }
      count++
      name[count] = trim(cell[1]); folder[count] = trim(cell[2]); sources[count] = trim(cell[3])
      l = trim(cell[4]); links[name[count]] = (l == "-" ? "" : l)
      u = trim(cell[5]); uses[name[count]] = " " (u == "-" ? "" : u) " "
    }
    while ((getline row < qtfile) > 0) { split(row, q, " "); qtmodule[q[2]] = q[1] }
    while ((getline row < filesfile) > 0) exists[row] = 1
  }
  {
    file = $0; sub(/:.*/, "", file)
    rest = substr($0, length(file) + 2)
    line = rest; sub(/:.*/, "", line)
    text = substr(rest, length(line) + 2)
    from = owner(file)
    if (from == "") next
    sub(/^[ \t]*#[ \t]*include(_next)?[ \t]*/, "", text)
    if (text ~ /^</) { h = substr(text, 2); sub(/>.*/, "", h); quoted = 0 }
    else if (text ~ /^"/) { h = substr(text, 2); sub(/".*/, "", h); quoted = 1 }
    else { refuse(file, line, "an include by macro: which header it names cannot be checked"); next }
    if (h ~ /(^|\/)\.\.(\/|$)/ || h ~ /^\// || index(h, "\\")) {
      refuse(file, line, "includes \"" h "\": an include goes by the header'"'"'s folder, never through .. or an absolute path")
      next
    }
    # A project header: what the compiler would find, beside the file first.
    target = ""
    dir = file; sub(/\/[^\/]*$/, "", dir)
    local = dir "/" h; gsub(/(^|\/)\.\//, "/", local); sub(/^\//, "", local)
    plain = h; gsub(/(^|\/)\.\//, "/", plain); sub(/^\//, "", plain)
    if (quoted && (local in exists)) target = local
    else if (plain in exists) target = plain
    if (target != "") {
      to = owner(target)
      if (to != "" && index(reach(from), " " to " ") == 0)
        refuse(file, line, "includes \"" h "\" of " to ", which " from " does not link (cmake/Layers.txt)")
      next
    }
    need = needs(h)
    if (need != "" && index(uses[from], " " need " ") == 0)
      refuse(file, line, "includes <" h "> (" need "), which " from " may not use (cmake/Layers.txt)")
  }
  END {
    if (bad) exit 1
    print "includes: every library includes only its own headers, those of the libraries below it, and the Qt and GL headers cmake/Layers.txt allows it"
  }' "$scratch/includes"
