#!/usr/bin/env bash
# Proves that the layering guard refuses what it must. Each fault below is put
# into a scratch copy of the tree (never into the checkout) and must be
# refused, with the rule it breaks named, by every check that can see it:
#
#  - scripts/check-includes.sh, the fast check of the sources, one fault at a
#    time;
#  - the link check of cmake/Layers.cmake at configure time, one probe project
#    per fault;
#  - scripts/check-built-layers.sh, the check of what the compiler read and the
#    linker linked: the copy with every fault at once is configured (without
#    the configure-time link check, which would stop at the first), each
#    faulty object compiled with the build's own command and one program
#    linked;
#  - the compiler, for the mesh-state layout check in topolib/StlObject.h.
#
# A fault that passes fails this script. Takes some seconds of compiling.
#
# usage: check-guard.sh [BUILD-DIR]   (the build's exported headers serve the
#                                      mesh-state probe; default build/ci)
set -euo pipefail
src="$(cd "$(dirname "$0")/.." && pwd)"
build="$(cd "${1:-$src/build/ci}" && pwd)"
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
failed=0
# The scratch objects would only fill the compiler cache.
export CCACHE_DISABLE=1
# shellcheck source=layers-qt.sh
. "$src/scripts/layers-qt.sh"
qt=$(velar_qt_includedir)
qtlib=$(pkg-config --variable=libdir Qt5Core)

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

# ---- The copy: the table's folders with the build's files and scripts.
tree=$scratch/tree
mkdir -p "$tree/tests"
folders=$(grep -v '^#' "$src/cmake/Layers.txt" | awk -F'|' 'NF >= 5 { gsub(/[ \t]/, "", $2); print $2 }' | sort -u)
for f in CMakeLists.txt cmake scripts resources $folders; do
  mkdir -p "$(dirname "$tree/$f")"
  cp -r "$src/$f" "$(dirname "$tree/$f")/"
done
if ! bash "$tree/scripts/check-includes.sh" "$tree" >"$scratch/out" 2>&1; then
  echo "guard: the unchanged copy is refused:" >&2
  cat "$scratch/out" >&2
  exit 1
fi

# ---- Faults in the sources.
# source_case <id> <what> <check-includes.sh says> <check-built-layers.sh says>
#             <and its rule> <file> <line>... [-- <file> <line>...]...
# The files are kept under cases/<id>; check-includes.sh must refuse them at
# once. The built check sees a case when its object compiles ("-" where it
# cannot: the include is not found on the library's include path); those
# cases join the built copy below.
built_cases=()
source_case() {
  local id=$1 what=$2 says=$3 built=$4 rule=$5 file=""
  shift 5
  mkdir -p "$scratch/cases/$id"
  while [ $# -gt 0 ]; do
    if [ -z "$file" ]; then
      file=$1
      mkdir -p "$(dirname "$scratch/cases/$id/$file")"
      : >"$scratch/cases/$id/$file"
    elif [ "$1" = -- ]; then
      file=""
    else
      printf '%s\n' "$1" >>"$scratch/cases/$id/$file"
    fi
    shift
  done
  cp -r "$scratch/cases/$id/." "$tree/"
  expect_refused "$what (check-includes.sh)" "$says" bash "$tree/scripts/check-includes.sh" "$tree"
  (cd "$scratch/cases/$id" && find . -type f) | while read -r f; do rm "$tree/$f"; done
  rmdir "$tree/topolib/detail" 2>/dev/null || true
  if [ "$built" != - ]; then
    built_cases+=("$id|$what|$built|$rule")
  fi
}
use_widget='QWidget* guardWidget() { return new QWidget; }'
source_case up '"../scene/ViewMode.h" in topolib' 'never through ..' \
  'velar_topolib: topolib/GuardUp.cpp reads scene/ViewMode.h of velar_scene' 'does not link' \
  topolib/GuardUp.cpp '#include "../scene/ViewMode.h"'
source_case upward '"scene/ViewMode.h" in topolib' 'which velar_topolib does not link' - - \
  topolib/GuardUpward.cpp '#include "scene/ViewMode.h"'
source_case widgets '<QtWidgets/qwidget.h> in topolib' '(widgets)' \
  'velar_topolib: topolib/GuardWidgets.cpp reads' '(widgets)' \
  topolib/GuardWidgets.cpp '#include <QtWidgets/qwidget.h>' "$use_widget"
source_case spaced '"  #  include <qwidget.h>" in topolib' '(widgets)' - - \
  topolib/GuardSpaced.cpp '  #  include <qwidget.h>'
source_case upper '<QIMAGE> in topolib' '(gui)' - - topolib/GuardUpper.cpp '#include <QIMAGE>'
source_case gles '<GLES2/gl2.h> in topolib' '(gl)' 'velar_topolib: topolib/GuardGles.cpp reads' '(gl)' \
  topolib/GuardGles.cpp '#include <GLES2/gl2.h>'
source_case panel '"ScaleDlg.h" in the scene' 'which velar_scene does not link' - - \
  scene/GuardPanel.cpp '#include "ScaleDlg.h"'
source_case gl '<GL/gl.h> in the scene' '(gl)' 'velar_scene: scene/GuardGl.cpp reads' '(gl)' \
  scene/GuardGl.cpp '#include <GL/gl.h>'
source_case lcm '<QOpenGLFunctions> in the hollowing' '(gl)' - - \
  src/Features/lcm/GuardGlFunctions.cpp '#include <QOpenGLFunctions>'
source_case absolute 'an absolute path in the file readers' 'absolute path' \
  'velar_fileIo: fileIo/GuardAbsolute.cpp reads' '(widgets)' \
  fileIo/GuardAbsolute.cpp "#include \"$qt/QtWidgets/QWidget\"" "$use_widget"
source_case macro 'an include by macro in the supports' 'by macro' \
  'velar_support: support/GuardMacro.cpp reads' '(gui)' \
  support/GuardMacro.cpp '#define GUARD_HEADER <QtGui/QImage>' '#include GUARD_HEADER'
source_case digraph '"%:include <QtWidgets/QWidget>" in topolib' '(widgets)' \
  'velar_topolib: topolib/GuardDigraph.cpp reads' '(widgets)' \
  topolib/GuardDigraph.cpp '%:include <QtWidgets/QWidget>' "$use_widget"
source_case comment '"/**/ #include <QtWidgets/QWidget>" in topolib' '(widgets)' \
  'velar_topolib: topolib/GuardComment.cpp reads' '(widgets)' \
  topolib/GuardComment.cpp '/**/ #include <QtWidgets/QWidget>' "$use_widget"
source_case subfolder 'a header of a subfolder of topolib with Qt Widgets' \
  'topolib/detail/GuardDetail.h:1: includes <QtWidgets/QWidget> (widgets)' \
  'velar_topolib: topolib/GuardSubfolder.cpp reads' '(widgets)' \
  topolib/detail/GuardDetail.h '#include <QtWidgets/QWidget>' -- \
  topolib/GuardSubfolder.cpp '#include "detail/GuardDetail.h"' "$use_widget"
source_case inl 'an .inl of topolib with Qt Widgets' 'topolib/GuardInline.inl:1: includes <QtWidgets/QWidget> (widgets)' \
  'velar_topolib: topolib/GuardInline.cpp reads' '(widgets)' \
  topolib/GuardInline.inl '#include <QtWidgets/QWidget>' -- \
  topolib/GuardInline.cpp '#include "GuardInline.inl"' "$use_widget"
source_case viewtools '"%:include "../view/ViewTools.h"" in topolib' 'never through ..' \
  'velar_topolib: topolib/GuardViewTools.cpp reads view/ViewTools.h of velar_view' 'does not link' \
  topolib/GuardViewTools.cpp '%:include "../view/ViewTools.h"'
source_case flush '"/**/ #include <GL/gl.h>" and glFlush() in the scene' '(gl)' \
  'velar_scene: scene/GuardFlush.cpp reads' '(gl)' \
  scene/GuardFlush.cpp '/**/ #include <GL/gl.h>' 'void guardFlush() { glFlush(); }'
source_case import '"#import <QtWidgets/QWidget>" in topolib' '(widgets)' \
  'velar_topolib: topolib/GuardImport.cpp reads' '(widgets)' \
  topolib/GuardImport.cpp '#import <QtWidgets/QWidget>' "$use_widget"
source_case splice 'a "#\"-newline-"include" splice in topolib' '(widgets)' \
  'velar_topolib: topolib/GuardSplice.cpp reads' '(widgets)' \
  topolib/GuardSplice.cpp '#\' 'include <QtWidgets/QWidget>' "$use_widget"
source_case qtest '<QtTest/qtest_widgets.h> in topolib' '(widgets)' \
  'velar_topolib: topolib/GuardQtTest.cpp reads' '(widgets)' \
  topolib/GuardQtTest.cpp '#include <QtTest/qtest_widgets.h>'
source_case printer '<QtPrintSupport/QPrinter> in topolib' '(widgets)' \
  'velar_topolib: topolib/GuardPrinter.cpp reads' '(widgets)' \
  topolib/GuardPrinter.cpp '#include <QtPrintSupport/QPrinter>' 'QPrinter* guardPrinter() { return nullptr; }'
source_case bom 'a byte-order mark before "#include <QtGui/QImage>" in the file readers' '(gui)' \
  'velar_fileIo: fileIo/GuardBom.cpp reads' '(gui)' \
  fileIo/GuardBom.cpp $'\xef\xbb\xbf#include <QtGui/QImage>'
source_case longcomment 'a comment over two lines before "#include <QtGui/QImage>" in the file readers' '(gui)' \
  'velar_fileIo: fileIo/GuardLongComment.cpp reads' '(gui)' \
  fileIo/GuardLongComment.cpp '/* a note' '   over two lines */ #include <QtGui/QImage>'
source_case next '"#include_next <QtWidgets/QWidget>" in topolib' '(widgets)' \
  'velar_topolib: topolib/GuardNext.cpp reads' '(widgets)' \
  topolib/GuardNext.cpp '#include_next <QtWidgets/QWidget>' "$use_widget"
source_case context '<QOpenGLContext> in the project library' '(gl)' \
  'velar_project: project/GuardContext.cpp reads' '(gl)' \
  project/GuardContext.cpp '#include <QOpenGLContext>'

# ---- Links, at configure time: the scene library of a probe project links GL
# in every spelling.
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
  expect_refused "velar_scene: $1 (configure)" "$3" cmake -S "$scratch/probe" -B "$scratch/probe/build"
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
link_case 'GLESv2' 'target_link_libraries(velar_scene INTERFACE GLESv2)' 'links GLESv2 (gl)'
link_case '-Wl,--library=GL' 'target_link_libraries(velar_scene INTERFACE "-Wl,--library=GL")' 'links GL (gl)'
link_case 'libGLESv1_CM.so' 'target_link_libraries(velar_scene INTERFACE libGLESv1_CM.so)' 'links libGLESv1_CM.so (gl)'
link_case '"SHELL:-Xlinker -lGL"' 'target_link_options(velar_scene INTERFACE "SHELL:-Xlinker -lGL")' 'links -lGL (gl)'
link_case '"LINKER:-lGL"' 'target_link_options(velar_scene INTERFACE "LINKER:-lGL")' 'links -lGL (gl)'
link_case '-l:libGL.so.1' 'target_link_libraries(velar_scene INTERFACE -l:libGL.so.1)' 'links libGL.so.1 (gl)'
link_case '-Wl,-l,GL' 'target_link_libraries(velar_scene INTERFACE "-Wl,-l,GL")' 'links GL (gl)'

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

# ---- The build: every fault at once in the copy; links the configure-time
# check cannot see (what a generator expression computes, a library whose
# name says nothing, a response file, a linker script) among them.
# link_fault <folder> <cmake lines>: appended to the folder's CMakeLists.txt.
link_fault() { printf '%s\n' "$2" >>"$tree/$1/CMakeLists.txt"; }
link_fault scene 'target_link_libraries(velar_scene PUBLIC GLESv2 "-Wl,--library=GL")
target_link_libraries(velar_scene_panels PUBLIC "-Wl,-l,GL")'
link_fault support 'target_link_libraries(velar_support PUBLIC libGLESv1_CM.so)'
link_fault fileIo 'target_link_options(velar_fileIo INTERFACE "SHELL:-Xlinker -lGL")'
link_fault topolib 'set_property(TARGET velar_topolib PROPERTY GUARD_LINKS GLU)
target_link_libraries(velar_topolib PUBLIC "$<GENEX_EVAL:$<TARGET_PROPERTY:velar_topolib,GUARD_LINKS>>")'
link_fault app 'target_link_options(velar_app INTERFACE "LINKER:-lGL")
target_link_options(velar_app_core INTERFACE "@${CMAKE_SOURCE_DIR}/guard/links.rsp")'
link_fault project 'target_link_libraries(velar_project PUBLIC -l:libGL.so.1)'
link_fault src/Features/lcm "target_link_libraries(velar_lcm PUBLIC $qtlib/libQt5PrintSupport.so.5)"
link_fault export 'set_property(TARGET velar_export PROPERTY GUARD_ABOVE velar_ui)
target_link_libraries(velar_export PUBLIC "$<GENEX_EVAL:$<TARGET_PROPERTY:velar_export,GUARD_ABOVE>>")'
# A program that loads GL through a linker script named like a library.
mkdir -p "$tree/guard"
echo '-lEGL' >"$tree/guard/links.rsp"
echo 'INPUT(-lGL)' >"$tree/guard/libguardbase.so"
printf '%s\n' 'extern "C" void glFlush();' 'int main() { glFlush(); }' >"$tree/guard/loader.cpp"
link_fault . 'add_executable(guard_loader guard/loader.cpp)
set_target_properties(guard_loader PROPERTIES AUTOMOC OFF AUTOUIC OFF AUTORCC OFF)
target_link_libraries(guard_loader PRIVATE ${CMAKE_SOURCE_DIR}/guard/libguardbase.so)'

built_expect=(
  'the scene links GLESv2|velar_scene: its link line names -lGLESv2 (gl)'
  'the scene links "-Wl,--library=GL"|velar_scene: its link line names -Wl,--library=GL (gl)'
  'the scene panels link "-Wl,-l,GL"|velar_scene_panels: its link line names -Wl,-l,GL (gl)'
  'the supports link libGLESv1_CM.so|velar_support: its link line names -lGLESv1_CM (gl)'
  'the file readers link "SHELL:-Xlinker -lGL"|velar_fileIo: its link line names -Xlinker -lGL (gl)'
  'topolib links GLU through $<GENEX_EVAL:...>|velar_topolib: its link line names -lGLU (gl)'
  'the frame links "LINKER:-lGL"|velar_app: its link line names -Wl,-lGL (gl)'
  'the frame core links EGL through a response file|velar_app_core: its link line names -lEGL (gl)'
  'the project library links -l:libGL.so.1|velar_project: its link line names -l:libGL.so.1 (gl)'
  'the hollowing links libQt5PrintSupport by path|velar_lcm: its link line names '"$qtlib"'/libQt5PrintSupport.so.5 (widgets'
  'the export library links the window through $<GENEX_EVAL:...>|velar_export: its link line names ui/libvelar_ui.a, which is velar_ui, a library cmake/Layers.txt does not put below velar_export'
  'a program loads GL through a linker script|guard_loader: loads libGL.so.1 (gl)'
)
for c in "${built_cases[@]}"; do
  IFS='|' read -r id _ _ _ <<<"$c"
  cp -r "$scratch/cases/$id/." "$tree/"
done
if ! cmake -S "$tree" -B "$tree/build" -G Ninja -DCMAKE_CXX_COMPILER="${CXX:-c++}" -DVELAR_BUILD_TESTS=OFF \
     -DVELAR_BUILD_BENCH=OFF -DVELAR_CONFIGURE_LAYER_CHECK=OFF >"$scratch/out" 2>&1; then
  echo "guard: the copy with its faults does not configure:" >&2
  tail -20 "$scratch/out" >&2
  exit 1
fi
# The faulty objects, each compiled by the build's own command (the build's
# order would first build every library below them); the program linked.
awk '/^build .*: (C|CXX)_COMPILER__/ && $0 ~ /\/Guard[A-Za-z]*\.cpp( |$)/ { out = $2; sub(/:$/, "", out); print out }' \
  "$tree/build/build.ninja" >"$scratch/objects"
mkdir -p "$scratch/compile"
n=0
while read -r object; do
  n=$((n + 1))
  mkdir -p "$tree/build/$(dirname "$object")"
  { echo "cd '$tree/build'"; ninja -C "$tree/build" -t commands -s "$object"; } >"$scratch/compile/$n.sh"
done <"$scratch/objects"
if ! find "$scratch/compile" -name '*.sh' -print0 | xargs -0 -r -n1 -P"$(nproc)" bash >"$scratch/out" 2>&1 ||
   ! ninja -C "$tree/build" guard_loader >>"$scratch/out" 2>&1; then
  echo "guard: the faulty objects or the loader do not build:" >&2
  grep -E 'error|Error' "$scratch/out" | head -10 >&2
  exit 1
fi
if [ "$n" -ne "${#built_cases[@]}" ]; then
  echo "guard: $n objects compiled for ${#built_cases[@]} faults" >&2
  exit 1
fi
if bash "$tree/scripts/check-built-layers.sh" "$tree/build" "$tree" >"$scratch/built" 2>&1; then
  echo "guard: NOT refused: the build with every fault (check-built-layers.sh)" >&2
  failed=1
fi
expect_named() { # <what> <text> [<rule>]: a line of the built check says text (and rule).
  if grep -F -- "$2" "$scratch/built" | grep -qF -- "${3:-$2}"; then
    echo "guard: refused: $1 (check-built-layers.sh)"
  else
    echo "guard: NOT refused: $1 (check-built-layers.sh, expected: $2 ... ${3:-})" >&2
    failed=1
  fi
}
for c in "${built_cases[@]}"; do
  IFS='|' read -r _ what says rule <<<"$c"
  expect_named "$what" "$says" "$rule"
done
for e in "${built_expect[@]}"; do
  expect_named "${e%%|*}" "${e#*|}"
done

if [ "$failed" -ne 0 ]; then
  exit 1
fi
echo "guard: every fault refused"
