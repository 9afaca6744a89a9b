#!/usr/bin/env bash
# Fails when a library includes a header of a library above it. The layers,
# lowest first, are those the CMake files link: the frame's core, the mesh
# library, the file readers, supports, the scene, the scene's drawing
# (view/draw), hollowing, the view, projects, export, and the window on top
# (with the frame's widget part beside the core). The libraries up to the
# scene never include a GL header (GL/*, GLEW, QOpenGL*, QGL*). Each folder
# may include its own headers and those of the layers listed for it below;
# tests, benchmarks, fuzz targets and the program's entry (app/main.cpp) may
# include anything.
set -euo pipefail
cd "$(dirname "$0")/.."

folders="app topolib fileIo support scene view/draw src/Features/lcm view project export ui"

# GL stays above the scene: the drawing (view/draw) and the libraries above it
# hold every GL call.
gl_free="app topolib fileIo support scene"
if grep -rnE --include='*.cpp' --include='*.h' '^[[:space:]]*#[[:space:]]*include[[:space:]]*[<"](GL/|glew|QOpenGL|QGL|QtOpenGL|qopengl)' $gl_free >&2; then
  echo "includes: a library up to the scene includes a GL header; the drawing belongs in view/draw" >&2
  exit 1
fi
grep -rnE --include='*.cpp' --include='*.h' '^#include "[^"]+/' $folders |
  grep -v '^app/main\.cpp:' |
  awk -F: '
    BEGIN {
      split("Log MemoryCheck Platform ProgressReport Startup", c, " ")
      for (i in c) core["app/" c[i] ".h"] = 1; for (i in c) core["app/" c[i] ".cpp"] = 1
      allow["app/core"] = "app/core"
      allow["app"] = "app/core app"
      allow["topolib"] = "app/core topolib"
      allow["fileIo"] = "app/core topolib fileIo"
      allow["support"] = "app/core app topolib support"
      allow["scene"] = "app/core app topolib fileIo support scene"
      allow["view/draw"] = "app/core app topolib fileIo support scene view/draw"
      allow["src/Features/lcm"] = "app/core app topolib fileIo support scene view/draw src/Features/lcm"
      allow["view"] = "app/core app topolib fileIo support scene view/draw view"
      allow["project"] = "app/core app topolib fileIo support scene project"
      allow["export"] = "app/core app topolib fileIo support scene export"
      allow["ui"] = "app/core app topolib fileIo support scene view/draw src/Features/lcm view project export ui"
    }
    function layer(path) {
      if (path in core) return "app/core"
      if (path ~ /^src\/Features\/lcm\//) return "src/Features/lcm"
      if (path ~ /^view\/draw\//) return "view/draw"
      sub(/\/.*/, "", path)
      return path
    }
    {
      file = $1; line = $2
      inc = $0; sub(/^[^"]*"/, "", inc); sub(/".*/, "", inc)
      from = layer(file); to = layer(inc)
      if (!(to in allow)) next
      if (index(" " allow[from] " ", " " to " ") == 0) {
        printf "%s:%s: includes \"%s\" (%s), above %s\n", file, line, inc, to, from > "/dev/stderr"
        bad = 1
      }
    }
    END {
      if (bad) exit 1
      print "includes: every library includes only its own layer and those below; no GL up to the scene"
    }'

# The mesh library, the file readers, supports and projects include no Qt
# Widgets header: they run in tools and workers without a window, and the
# project commands with their dialogs are the window's.
widgets="$(pkg-config --variable=includedir Qt5Widgets 2>/dev/null || true)/QtWidgets"
if [ -d "$widgets" ]; then
  names=$(ls "$widgets" | grep -E '^Q[A-Za-z0-9]+$' | paste -sd'|')
  if grep -rnE --include='*.cpp' --include='*.h' "^#include <((QtWidgets/)?($names)|QtWidgets)>" \
      topolib fileIo support project >&2; then
    echo "includes: Qt Widgets included above, in a library below the widgets" >&2
    exit 1
  fi
  echo "includes: no Qt Widgets header in topolib, fileIo, support or project"
fi
