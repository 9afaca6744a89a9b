#!/usr/bin/env bash
# The check of the layering on what the tools really did, after a build, so
# that no spelling in a source or a CMake file matters: against
# cmake/Layers.txt, the one table of the layering,
#
#  - every object file of a library of the table, with every file the compiler
#    read for it (the build's dependency records: Ninja's deps log, or the
#    object's own .d file where the compiler left one): files of the library
#    itself and of the libraries below it, and Qt GUI, Qt Widgets or GL
#    headers (any Qt module, by what it needs) only where the library may use
#    them;
#  - every program's link line (the command Ninja runs): each library of the
#    table it names, and anything it names that needs Qt GUI, Qt Widgets or
#    GL, by name or path or "-l" in any linker spelling; a library whose name
#    says nothing counts for what it loads itself (libQt5PrintSupport: Qt
#    Widgets);
#  - every built program's NEEDED entries: what it loads, whatever put it
#    there (a linker script, a response file).
#
# A library's own link line is that of its link probe, <name>_linkprobe (an
# empty program linking the library alone, cmake/Layers.cmake): only libraries
# below it, only what it may use. Any other program (tests, tools,
# benchmarks) may use what its libraries of the table may, with what it
# declares of its own (velar_program_uses; <build>/velar_layers/programs.txt).
# Each refusal names the rule it breaks.
#
# usage: check-built-layers.sh [BUILD-DIR] [SOURCE-ROOT]
#        (a Ninja build folder, default build/ci; default: this checkout)
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
build="$(cd "${1:-$here/../build/ci}" && pwd -P)"
src="$(cd "${2:-$here/..}" && pwd -P)"
if [ ! -f "$build/build.ninja" ]; then
  echo "layering: $build is no Ninja build folder (no build.ninja)" >&2
  exit 2
fi
# shellcheck source=layers-qt.sh
. "$here/layers-qt.sh"
qt=$(velar_qt_includedir) || exit 2

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
velar_qt_listing "$qt" >"$scratch/qt"

# The manifest: "O <object>" per compiled object and "P <target> <file>" per
# linked program or shared library.
awk '
  /^build / && / (C|CXX)_COMPILER__/ {
    out = $2; sub(/:$/, "", out)
    if (out ~ /\.o(bj)?$/) print "O " out
    next
  }
  /^build / && / (C|CXX)_(EXECUTABLE|SHARED_LIBRARY|MODULE_LIBRARY)_LINKER__/ { linking = 1; file = ""; dir = ""; next }
  linking && /^  TARGET_FILE = / { file = $3 }
  linking && /^  OBJECT_DIR = / { dir = $3 }
  linking && /^$/ {
    linking = 0
    if (file != "" && match(dir, /CMakeFiles\/[^\/]+\.dir$/))
      print "P " substr(dir, RSTART + 11, RLENGTH - 15) " " file
  }' "$build/build.ninja" >"$scratch/manifest"

# What each object read: "O <object>" then one "F <path>" per file read,
# the source first. An object's .d file is newer than its record in the
# deps log (Ninja folds the file into the log and deletes it).
cd "$build"
: >"$scratch/logged"
: >"$scratch/read"
while read -r kind object; do
  [ "$kind" = O ] || continue
  if [ -f "$object.d" ]; then
    awk -v object="$object" '
      # The first rule of a make-style dependency file, "object: source headers",
      # over the lines a backslash continues; a backslash before a space keeps
      # the space within a path.
      done { next }
      {
        line = $0
        more = sub(/\\$/, "", line)
        gsub(/\\ /, "\001", line)
        text = text " " line
        if (!more) done = 1
      }
      END {
        sub(/^[^:]*:[ \t]/, "", text)
        n = split(text, f, /[ \t]+/)
        print "O " object
        for (i = 1; i <= n; i++) if (f[i] != "") { gsub(/\001/, " ", f[i]); print "F " f[i] }
      }' "$object.d" >>"$scratch/read"
  elif [ -f "$object" ]; then
    echo "$object" >>"$scratch/logged"
  fi
done <"$scratch/manifest"
# (-n: a dry run, so that reading the deps log never rewrites it.)
if [ -s "$scratch/logged" ]; then
  tr '\n' '\0' <"$scratch/logged" | xargs -0 ninja -n -C "$build" -t deps | awk '
    /^[^ \t]/ && / #deps / { object = $1; sub(/:$/, "", object); print "O " object; next }
    /^[ \t]+[^ \t]/ && object != "" { sub(/^[ \t]+/, ""); print "F " $0 }' >>"$scratch/read"
fi
# Each path read, with its real path (links resolved: the exported headers
# are links to the sources).
awk '/^F / { p = substr($0, 3); if (p !~ /^\//) p = build "/" p; print p }' build="$build" "$scratch/read" |
  sort -u >"$scratch/paths"
tr '\n' '\0' <"$scratch/paths" | xargs -0 -r realpath -m -- >"$scratch/real"
paste -d '\t' "$scratch/paths" "$scratch/real" >"$scratch/realmap"

# The link command of every program, and what each built one loads.
awk '$1 == "P" { print $3 }' "$scratch/manifest" | tr '\n' '\0' |
  xargs -0 -r ninja -C "$build" -t commands -s >"$scratch/commands"
: >"$scratch/needed"
while read -r kind target file; do
  if [ "$kind" != P ] || [ ! -f "$file" ]; then
    continue
  fi
  readelf -d "$file" 2>/dev/null | awk -v t="$target" '/\(NEEDED\)/ { n = $NF; gsub(/[\[\]]/, "", n); print t " " n }' \
    >>"$scratch/needed"
done <"$scratch/manifest"
{ /sbin/ldconfig -p 2>/dev/null || ldconfig -p 2>/dev/null || true; } |
  awk '/ => / { print $1 " " $NF }' >"$scratch/sonames"
multiarch=$("${CXX:-c++}" -print-multiarch 2>/dev/null || true)

awk -v tablefile="$src/cmake/Layers.txt" -v qtfile="$scratch/qt" -v qt_dir="$qt" -v build="$build" -v src="$src" \
  -v realmapfile="$scratch/realmap" -v programsfile="$build/velar_layers/programs.txt" \
  -v manifestfile="$scratch/manifest" -v commandsfile="$scratch/commands" -v neededfile="$scratch/needed" \
  -v sonamesfile="$scratch/sonames" -v multiarch="$multiarch" \
  -f "$here/layers.awk" -f "$here/check-built-layers.awk" "$scratch/read"
