#!/usr/bin/env bash
# The fast check of the layering, on the sources alone: every include of the
# libraries against cmake/Layers.txt, the one table of the layering. A file of
# a library includes its own headers and those of the libraries below it
# (what it links, and what they link), and a Qt GUI, Qt Widgets or GL header
# (any Qt module, by what it needs) only where the table says the library may
# use it.
#
# Directives are read as the compiler reads them: lines joined at a
# backslash-newline, comments blanked (so "/**/ #include" is a directive),
# "%:" read as "#", #include, #include_next and #import alike, any spelling of
# the header (<QWidget>, <QtWidgets/qwidget.h>, "qwidget.h", <GL/gl.h>). The
# files are those of the table's folders and their subfolders (a file in a
# subfolder the table does not name belongs to the library of the folder
# above), every C and C++ extension and none. Refused outright: an include
# through "..", an absolute path, a backslash, or a macro (their target cannot
# be told from the text). Files outside the table's folders (tests,
# benchmarks, fuzz targets) are not checked.
#
# What the compiler really read is checked after the build by
# scripts/check-built-layers.sh; this check warns early, without a build.
#
# usage: check-includes.sh [SOURCE-ROOT]   (default: this checkout)
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
root="${1:-$here/..}"
cd "$root"
table=cmake/Layers.txt
# shellcheck source=layers-qt.sh
. "$here/layers-qt.sh"
qt=$(velar_qt_includedir) || exit 2

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
velar_qt_listing "$qt" >"$scratch/qt"
folders=$(grep -v '^#' "$table" | awk -F'|' 'NF >= 5 { gsub(/[ \t]/, "", $2); print $2 }' | sort -u)
# shellcheck disable=SC2086
find $folders -type f \( -iname '*.c' -o -iname '*.cc' -o -iname '*.cp' -o -iname '*.cpp' -o -iname '*.cxx' \
  -o -iname '*.c++' -o -iname '*.h' -o -iname '*.hh' -o -iname '*.hpp' -o -iname '*.hxx' -o -iname '*.h++' \
  -o -iname '*.inl' -o -iname '*.ipp' -o -iname '*.tpp' -o -iname '*.tcc' -o -iname '*.txx' -o -iname '*.inc' \
  -o -iname '*.def' -o -iname '*.ixx' -o -iname '*.cppm' -o ! -name '*.*' \) | sort -u >"$scratch/files"

# The include directives as "file:line:directive" (line of its first
# physical line; the directive with "#" for "%:").
cat >"$scratch/directives.awk" <<'AWK'
FNR == 1 { in_block = 0; raw_end = ""; pending = ""; joining = 0; if (index($0, bom) == 1) $0 = substr($0, length(bom) + 1) }
# Blanks comments out of s; in_block and raw_end carry a block comment or a
# raw string over lines. Literals are kept, so "/*" in a string is text.
function clean(s,    out, p, tok) {
  out = ""
  while (s != "") {
    if (in_block) {
      p = index(s, "*/")
      if (p == 0) return out
      s = substr(s, p + 2); in_block = 0; continue
    }
    if (raw_end != "") {
      p = index(s, raw_end)
      if (p == 0) return out
      s = substr(s, p + length(raw_end)); raw_end = ""; out = out "\"\""; continue
    }
    if (!match(s, /\/\*|\/\/|"|'/)) return out s
    out = out substr(s, 1, RSTART - 1)
    tok = substr(s, RSTART, RLENGTH)
    s = substr(s, RSTART + RLENGTH)
    if (tok == "/*") { in_block = 1; out = out " "; continue }
    if (tok == "//") return out
    if (tok == "\"" && out ~ /(^|[^A-Za-z0-9_])(u8|u|U|L)?R$/ && match(s, /^[^ ()\\\t]*\(/)) {
      raw_end = ")" substr(s, 1, RLENGTH - 1) "\""
      s = substr(s, RLENGTH + 1); out = out "\""; continue
    }
    if (tok == "\"" && match(s, /^([^"\\]|\\.)*"/)) { out = out tok substr(s, 1, RLENGTH); s = substr(s, RLENGTH + 1); continue }
    if (tok == "'" && match(s, /^([^'\\]|\\.)*'/)) { out = out tok substr(s, 1, RLENGTH); s = substr(s, RLENGTH + 1); continue }
    out = out tok
  }
  return out
}
{
  line = $0
  sub(/\r$/, "", line)
  if (!joining) first = FNR
  if (line ~ /\\$/) { pending = pending substr(line, 1, length(line) - 1); joining = 1; next }
  line = pending line
  pending = ""
  joining = 0
  text = clean(line)
  if (text !~ /^[[:space:]]*(#|%:)/) next
  sub(/^[[:space:]]*(#|%:)[[:space:]]*/, "", text)
  if (text ~ /^(include_next|include|import)([^A-Za-z_0-9]|$)/) print FILENAME ":" first ":#" text
}
AWK
tr '\n' '\0' <"$scratch/files" | xargs -0 -r awk -v bom="$(printf '\357\273\277')" -f "$scratch/directives.awk" >"$scratch/includes"

cat >"$scratch/check.awk" <<'AWK'
function refuse(file, line, why) {
  printf "%s:%s: %s\n", file, line, why > "/dev/stderr"
  bad = 1
}
BEGIN {
  layers_read(tablefile)
  layers_read_qt(qtfile)
  while ((getline row < filesfile) > 0) exists[row] = 1
}
{
  file = $0; sub(/:.*/, "", file)
  rest = substr($0, length(file) + 2)
  line = rest; sub(/:.*/, "", line)
  text = substr(rest, length(line) + 2)
  from = owner(file)
  if (from == "") next
  sub(/^#(include_next|include|import)[[:space:]]*/, "", text)
  if (text ~ /^</) { h = substr(text, 2); sub(/>.*/, "", h); quoted = 0 }
  else if (text ~ /^"/) { h = substr(text, 2); sub(/".*/, "", h); quoted = 1 }
  else { refuse(file, line, "an include by macro: which header it names cannot be checked"); next }
  if (h ~ /(^|\/)\.\.(\/|$)/ || h ~ /^\// || index(h, "\\")) {
    refuse(file, line, "includes \"" h "\": an include goes by the header's folder, never through .. or an absolute path")
    next
  }
  # A file of the tree: what the compiler would find, beside the file first.
  target = ""
  local = dirname(file) "/" h; gsub(/(^|\/)\.\//, "/", local); sub(/^\//, "", local)
  plain = h; gsub(/(^|\/)\.\//, "/", plain); sub(/^\//, "", plain)
  if (quoted && (local in exists)) target = local
  else if (plain in exists) target = plain
  if (target != "") {
    to = owner(target)
    if (to != "" && !below(from, to))
      refuse(file, line, "includes \"" h "\" of " to ", which " from " does not link (cmake/Layers.txt)")
    next
  }
  need = include_need(h)
  if (!allows(uses[from], need))
    refuse(file, line, "includes <" h "> (" need "), which " from " may not use (cmake/Layers.txt)")
}
END {
  if (bad) exit 1
  print "includes: every library includes only its own headers, those of the libraries below it, and the Qt and GL headers cmake/Layers.txt allows it"
}
AWK
awk -v tablefile="$table" -v qtfile="$scratch/qt" -v filesfile="$scratch/files" -f "$here/layers.awk" \
  -f "$scratch/check.awk" "$scratch/includes"
