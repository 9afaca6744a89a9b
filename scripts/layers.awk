# The layering table (cmake/Layers.txt) and what its rules mean, shared by
# the check of the sources (scripts/check-includes.sh) and the check of the
# build (scripts/check-built-layers.sh). A check loads this file with its own
# program (awk -f layers.awk -f ...); its BEGIN calls layers_read(table) and,
# where Qt's headers matter, layers_read_qt(listing of scripts/layers-qt.sh).
#
# A need is what a header or a library requires of the table's "may use"
# column: "gui" (Qt GUI), "widgets" (Qt Widgets), "gl" (OpenGL and its
# relatives, Qt's GL classes among them), or "" for what any library may use.

function trim(s) {
    gsub(/^[ \t]+|[ \t]+$/, "", s)
    return s
}
function glob2re(p) {
    gsub(/\./, "\\.", p)
    gsub(/\*/, ".*", p)
    gsub(/\?/, ".", p)
    return "^" p "$"
}
function dirname(p) {
    if (p !~ /\//) return ""
    sub(/\/[^\/]*$/, "", p)
    return p
}
function basename(p) {
    sub(/^.*\//, "", p)
    return p
}

# Reads the table: layer_count rows of layer_name[], layer_folder[] and
# layer_sources[]; per library links[] (the libraries it names), uses[]
# (" gui widgets " form) and is_layer[]; is_layer_folder[] per folder.
function layers_read(tablefile,    row, n, cell, l, u, name) {
    layer_count = 0
    while ((getline row < tablefile) > 0) {
        if (row ~ /^[ \t]*#/ || row ~ /^[ \t]*$/) continue
        n = split(row, cell, "|")
        if (n != 5) {
            print "cmake/Layers.txt: five columns expected in: " row > "/dev/stderr"
            exit 2
        }
        name = trim(cell[1])
        layer_count++
        layer_name[layer_count] = name
        layer_folder[layer_count] = trim(cell[2])
        layer_sources[layer_count] = trim(cell[3])
        l = trim(cell[4]); links[name] = (l == "-" ? "" : l)
        u = trim(cell[5]); uses[name] = " " (u == "-" ? "" : u) " "
        is_layer[name] = 1
        is_layer_folder[layer_folder[layer_count]] = 1
    }
    close(tablefile)
}

# The library that holds path (relative to the source root): the library of
# the nearest folder of the table at or above the file's own folder whose
# sources take the file's stem. "" when no folder of the table holds it.
function owner(path,    dir, stem, i, n, pats, k, rest) {
    dir = dirname(path)
    while (dir != "" && !(dir in is_layer_folder)) dir = dirname(dir)
    if (dir == "") return ""
    stem = basename(path)
    sub(/\..*$/, "", stem)
    rest = ""
    for (i = 1; i <= layer_count; i++) {
        if (layer_folder[i] != dir) continue
        n = split(layer_sources[i], pats, " ")
        for (k = 1; k <= n; k++) {
            if (pats[k] == "*") rest = layer_name[i]
            else if (stem ~ glob2re(pats[k])) return layer_name[i]
        }
    }
    return rest
}

# " a b c ": lib and every library below it.
function reach(lib,    out, n, parts, k) {
    if (lib in reached) return reached[lib]
    out = " " lib " "
    n = split(links[lib], parts, " ")
    for (k = 1; k <= n; k++) out = out reach(parts[k]) " "
    reached[lib] = out
    return out
}
function below(lib, other) { return index(reach(lib), " " other " ") > 0 }
function allows(useset, need) { return need == "" || index(useset, " " need " ") > 0 }
function uses_text(useset,    u) {
    u = trim(useset)
    gsub(/[ \t]+/, " ", u)
    return u == "" ? "Qt Core alone" : u
}

function need_rank(need) { return need == "gl" ? 3 : need == "widgets" ? 2 : need == "gui" ? 1 : 0 }
function stronger(a, b) { return need_rank(a) >= need_rank(b) ? a : b }

# Qt's modules and headers from the listing of scripts/layers-qt.sh: lines
# "M <module> [<modules it depends on>]" (a module may have several) and
# "H <header, lower case> <module>".
# A module needs what its name says (Gui, Widgets, OpenGL), else the
# strongest need of the modules it depends on (PrintSupport: widgets).
function layers_read_qt(listing,    row, f, n, k, changed, m, need) {
    while ((getline row < listing) > 0) {
        n = split(row, f, " ")
        if (f[1] == "M") {
            if (!(f[2] in qt_deps)) qt_deps[f[2]] = ""
            for (k = 3; k <= n; k++) qt_deps[f[2]] = qt_deps[f[2]] " " f[k]
            qt_lower[tolower(f[2])] = f[2]
        } else if (f[1] == "H" && n == 3) {
            # A name in two modules counts for the stronger.
            if (!(f[2] in qt_header) || need_rank(qt_module_own(f[3])) > need_rank(qt_module_own(qt_header[f[2]])))
                qt_header[f[2]] = f[3]
        }
    }
    close(listing)
    for (m in qt_deps) qt_need_of[m] = qt_module_own(m)
    do {
        changed = 0
        for (m in qt_deps) {
            n = split(qt_deps[m], f, " ")
            need = qt_need_of[m]
            for (k = 1; k <= n; k++) if (f[k] in qt_need_of) need = stronger(need, qt_need_of[f[k]])
            if (need != qt_need_of[m]) { qt_need_of[m] = need; changed = 1 }
        }
    } while (changed)
}
function qt_module_own(m,    l) {
    l = tolower(m)
    if (l ~ /^qtopengl/) return "gl"
    if (l == "qtwidgets") return "widgets"
    if (l == "qtgui" || l == "qtplatformheaders") return "gui"
    return ""
}
# The need of header base (lower case, no folder) of Qt module m. Qt GUI's
# and the platform headers' GL classes and contexts need GL.
function qt_need(m, base,    need) {
    need = (m in qt_need_of) ? qt_need_of[m] : qt_module_own(m)
    if ((m == "QtGui" || m == "QtPlatformHeaders") && (base ~ /^q(t?opengl|egl|glx|wgl)/ || base ~ /nativecontext/))
        return "gl"
    # QtTest's helpers for GUI and widget tests.
    if (m == "QtTest" && base ~ /^qtest_widgets/) return "widgets"
    if (m == "QtTest" && base ~ /^qtest_gui/) return "gui"
    return need
}
# A header of the GL family by its path: a folder GL, GLES*, EGL, KHR or
# GLFW, or the GLEW, GLU and GLUT headers.
function gl_family_path(p,    l, base) {
    l = tolower(p)
    base = basename(l)
    return l ~ /(^|\/)(gl|gles[0-9]*|egl|khr|glfw)\// || base ~ /^(glew|glxew|wglew|glu|glut|freeglut[a-z_]*|glfw3?)\.h$/
}

# The need of an include as written (<QtWidgets/qwidget.h>, <QWidget>,
# "qwidget.h", <GL/gl.h>), for a header that is no file of the tree.
function include_need(h,    l, first, base, m) {
    l = tolower(h)
    base = basename(l)
    if (gl_family_path(l)) return "gl"
    first = l
    sub(/\/.*$/, "", first)
    if (l ~ /\// && (first in qt_lower)) return qt_need(qt_lower[first], base)
    if (base in qt_header) return qt_need(qt_header[base], base)
    if (base in qt_lower) return qt_need(qt_lower[base], base)
    return ""
}

# The need of a header outside the tree by its real path; qt_dir is the real
# path of Qt's include folder.
function path_need(p,    rest, m) {
    if (qt_dir != "" && index(p, qt_dir "/") == 1) {
        rest = substr(p, length(qt_dir) + 2)
        m = rest
        sub(/\/.*$/, "", m)
        return qt_need(m, tolower(basename(p)))
    }
    return gl_family_path(p) ? "gl" : ""
}

# The need of a library by its name (GL, -lGL's GL, libGL.so.1, a path to
# it, Qt5Widgets); "" for a name that says nothing (the build check then
# looks at what the library itself loads).
function library_need(name,    base) {
    base = tolower(basename(name))
    sub(/^lib/, "", base)
    sub(/(\.so(\.[0-9.]*)?|\.a)$/, "", base)
    if (base ~ /^qt[56]?(opengl|openglextensions)$/) return "gl"
    if (base ~ /^qt[56]?widgets$/) return "widgets"
    if (base ~ /^qt[56]?gui$/) return "gui"
    if (base ~ /^(gl|glu|glx|glew[0-9]*|egl|opengl[0-9]*|glvnd|gldispatch|glut|freeglut|glfw[0-9]*|gles[a-z0-9_]*|osmesa|glapi)[0-9.]*$/)
        return "gl"
    return ""
}
