#!/usr/bin/env bash
# Proves that the layering guard refuses what it must: each fault below is
# put into a scratch copy (never into the checkout) and must be refused, by
# scripts/check-includes.sh, by the link check of cmake/Layers.cmake, or by
# the compiler (the mesh-state layout check in topolib/StlObject.h). A fault
# that passes fails this script. Takes a few seconds.
#
# usage: check-guard.sh [BUILD-DIR]   (the build's exported headers serve the
#                                      compile probe; default build/ci)
set -euo pipefail
src="$(cd "$(dirname "$0")/.." && pwd)"
build="$(cd "${1:-$src/build/ci}" && pwd)"
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
failed=0

# expect_refused <what> <expected text> <command...>: the command must fail and
# say the expected text.
expect_refused() {
  local what=$1 text=$2
  shift 2
  if "$@" >"$scratch/out" 2>&1; then
    echo "guard: NOT refused: $what" >&2
    failed=1
  elif ! grep -qF -- "$text" "$scratch/out"; then
    echo "guard: refused, but not for the reason expected ($text): $what" >&2
    sed 's/^/  /' "$scratch/out" | head -5 >&2
    failed=1
  else
    echo "guard: refused: $what"
  fi
}

# ---- Includes: a copy of the libraries' sources with one bad file at a time.
tree=$scratch/tree
mkdir -p "$tree/cmake" "$tree/scripts"
cp "$src/cmake/Layers.txt" "$tree/cmake/"
cp "$src/scripts/check-includes.sh" "$tree/scripts/"
for f in $(grep -v '^#' "$src/cmake/Layers.txt" | awk -F'|' 'NF >= 5 { gsub(/[ \t]/, "", $2); print $2 }' | sort -u); do
  mkdir -p "$tree/$f"
  find "$src/$f" -maxdepth 1 -type f \( -name '*.cpp' -o -name '*.h' \) -exec cp {} "$tree/$f/" \;
done
if ! bash "$tree/scripts/check-includes.sh" "$tree" >"$scratch/out" 2>&1; then
  echo "guard: the unchanged copy is refused:" >&2
  cat "$scratch/out" >&2
  exit 1
fi
include_case() { # <file> <include line> <expected text>
  printf '%s\n' "$2" >"$tree/$1"
  expect_refused "$2 in $1" "$3" bash "$tree/scripts/check-includes.sh" "$tree"
  rm "$tree/$1"
}
include_case topolib/GuardProbe.cpp '#include "../scene/ViewMode.h"' 'never through ..'
include_case topolib/GuardProbe.cpp '#include "scene/ViewMode.h"' 'which velar_topolib does not link'
include_case topolib/GuardProbe.cpp '#include <QtWidgets/qwidget.h>' '(widgets)'
include_case topolib/GuardProbe.cpp '  #  include <qwidget.h>' '(widgets)'
include_case topolib/GuardProbe.cpp '#include <QIMAGE>' '(gui)'
include_case topolib/GuardProbe.cpp '#include <GLES2/gl2.h>' '(gl)'
include_case scene/GuardProbe.cpp '#include "ScaleDlg.h"' 'which velar_scene does not link'
include_case scene/GuardProbe.cpp '#include <GL/gl.h>' '(gl)'
include_case src/Features/lcm/GuardProbe.cpp '#include <QOpenGLFunctions>' '(gl)'
include_case fileIo/GuardProbe.cpp '#include "/usr/include/QtWidgets/QWidget"' 'absolute path'
include_case support/GuardProbe.cpp '#include GUARD_HEADER' 'by macro'

# ---- Links: the scene library of a probe project links GL in every spelling.
link_case() { # <what> <cmake lines> <expected text>
  rm -rf "$scratch/probe"
  mkdir -p "$scratch/probe"
  cat >"$scratch/probe/CMakeLists.txt" <<EOF
cmake_minimum_required(VERSION 3.25)
project(guard_probe NONE)
include("$src/cmake/Layers.cmake")
add_library(velar_scene INTERFACE)
add_library(OpenGL::GL UNKNOWN IMPORTED)
set_target_properties(OpenGL::GL PROPERTIES IMPORTED_LOCATION /usr/lib/libOpenGL.so)
add_library(Qt5::Widgets UNKNOWN IMPORTED)
set_target_properties(Qt5::Widgets PROPERTIES IMPORTED_LOCATION /usr/lib/libQt5Widgets.so.5)
add_library(velar_ui INTERFACE)
$2
velar_check_layers()
EOF
  expect_refused "velar_scene: $1" "$3" cmake -S "$scratch/probe" -B "$scratch/probe/build"
}
link_case 'raw GL' 'target_link_libraries(velar_scene INTERFACE GL)' 'links GL (gl)'
link_case 'libGL.so' 'target_link_libraries(velar_scene INTERFACE libGL.so)' '(gl)'
link_case 'a path to libGL' 'target_link_libraries(velar_scene INTERFACE /usr/lib/x86_64-linux-gnu/libGL.so.1)' '(gl)'
link_case '-lGL as an option' 'target_link_options(velar_scene INTERFACE -lGL)' '(gl)'
link_case 'OpenGL::GL' 'target_link_libraries(velar_scene INTERFACE OpenGL::GL)' '(gl)'
link_case 'GL through a helper' 'add_library(helper INTERFACE)
target_link_libraries(helper INTERFACE $<LINK_ONLY:GLU>)
target_link_libraries(velar_scene INTERFACE helper)' '(gl)'
link_case 'GL in a nested condition' 'target_link_libraries(velar_scene INTERFACE $<$<BOOL:1>:GL>)' 'links GL (gl)'
link_case 'Qt Widgets' 'target_link_libraries(velar_scene INTERFACE Qt5::Widgets)' '(widgets)'
link_case 'a library above it' 'target_link_libraries(velar_scene INTERFACE velar_ui)' 'does not put below it'

# ---- The mesh state: a flag added to StlObject beside its units, where it
# would fit the padding after the build flag.
mkdir -p "$scratch/mesh/topolib"
awk '/^    friend struct StlObjectLayoutCheck;/ { print "    bool m_guardProbe = false;" } { print }' \
  "$src/topolib/StlObject.h" >"$scratch/mesh/topolib/StlObject.h"
grep -q m_guardProbe "$scratch/mesh/topolib/StlObject.h"
echo '#include "topolib/StlObject.h"' >"$scratch/mesh/probe.cpp"
compile=("${CXX:-c++}" -std=c++17 -fsyntax-only -I"$scratch/mesh" -I"$build/exports/velar_topolib" -I"$build/exports/velar_app_core"
         $(pkg-config --cflags Qt5Core) -fPIC "$scratch/mesh/probe.cpp")
echo '#include "topolib/StlObject.h"' >"$scratch/unchanged.cpp"
if ! "${CXX:-c++}" -std=c++17 -fsyntax-only -I"$build/exports/velar_topolib" -I"$build/exports/velar_app_core" \
     $(pkg-config --cflags Qt5Core) -fPIC "$scratch/unchanged.cpp" >"$scratch/out" 2>&1; then
  echo "guard: the unchanged mesh object does not compile:" >&2
  head -5 "$scratch/out" >&2
  exit 1
fi
expect_refused 'a bool beside the mesh units of StlObject' 'a field of StlObject is outside its units' "${compile[@]}"

if [ "$failed" -ne 0 ]; then
  exit 1
fi
echo "guard: every fault refused"
