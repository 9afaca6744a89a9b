# The rules of scripts/check-built-layers.sh, over what it gathered from the
# build (loaded after scripts/layers.awk). Input: "O <object>" then one
# "F <path>" per file the compiler read for it, the source first.

# Prints a refusal once.
function refuse(text) {
    if (text in said) return
    said[text] = 1
    print text > "/dev/stderr"
    bad = 1
}
function shown(p) { return index(p, src "/") == 1 ? substr(p, length(src) + 2) : p }
function exists(p,    r, junk) {
    r = (getline junk < p)
    close(p)
    return r >= 0
}
function unquote(t) {
    if (t ~ /^".*"$/ || t ~ /^'.*'$/) t = substr(t, 2, length(t) - 2)
    return t
}

BEGIN {
    layers_read(tablefile)
    layers_read_qt(qtfile)
    while ((getline row < realmapfile) > 0) {
        split(row, f, "\t")
        real[f[1]] = f[2]
    }
    while ((getline row < programsfile) > 0) {
        split(row, f, "|")
        prog_layer[f[1]] = f[2]
        prog_uses[f[1]] = " " f[3] " "
    }
    while ((getline row < manifestfile) > 0) {
        split(row, f, " ")
        if (f[1] == "P") file_prog[f[3]] = f[2]
    }
    while ((getline row < sonamesfile) > 0) {
        split(row, f, " ")
        if (!(f[1] in soname_path)) soname_path[f[1]] = f[2]
    }
    default_dirs = "/usr/local/lib" (multiarch != "" ? " /usr/lib/" multiarch " /lib/" multiarch : "") " /usr/lib /lib"
}

# ---- What each object of a library read.

$1 == "O" {
    object = $2
    target = ""
    if (match(object, /CMakeFiles\/[^\/]+\.dir\//)) target = substr(object, RSTART + 11, RLENGTH - 16)
    first = 1
    next
}
$1 == "F" && (target in is_layer) {
    if (first) checked++
    p = substr($0, 3)
    if (p !~ /^\//) p = build "/" p
    if (p in real) p = real[p]
    if (first) {
        source = shown(p)
        first = 0
    }
    check_read(target, source, p)
}

# A file of the build is generated for its target (moc, forms); one of the
# tree belongs to the library of its folder; any other is Qt's, GL's or the
# system's.
function check_read(lib, source, p,    x, rel, o, need) {
    if (index(p, build "/") == 1) {
        if (match(p, /\/[^\/]+_autogen\//)) {
            x = substr(p, RSTART + 1, RLENGTH - 10)
            if ((x in is_layer) && !below(lib, x))
                refuse(lib ": " source " reads " shown(p) ", generated for " x ", which " lib " does not link (cmake/Layers.txt)")
        }
        return
    }
    if (index(p, src "/") == 1) {
        rel = substr(p, length(src) + 2)
        o = owner(rel)
        if (o == "")
            refuse(lib ": " source " reads " rel ", a file of no library of cmake/Layers.txt")
        else if (!below(lib, o))
            refuse(lib ": " source " reads " rel " of " o ", which " lib " does not link (cmake/Layers.txt)")
        return
    }
    need = path_need(p)
    if (!allows(uses[lib], need) && !((source, need) in told)) {
        told[source, need] = 1
        refuse(lib ": " source " reads " p " (" need "), which cmake/Layers.txt does not allow " lib " (it may use: " \
               uses_text(uses[lib]) ")")
    }
}

# ---- Libraries: by name, else by what they load.

# The C and C++ runtimes and Qt Core, which every library may load; no need
# to look into them.
function plain_library(name,    base) {
    base = tolower(basename(name))
    sub(/^lib/, "", base)
    sub(/(\.so(\.[0-9.]*)?|\.a)$/, "", base)
    return base ~ /^(c|m|dl|rt|pthread|stdc\+\+|gcc_s|qt[56]core)$/
}
# The file of a NEEDED entry.
function soname_file(so,    n, d, k) {
    if (so in soname_path) return soname_path[so]
    n = split(default_dirs, d, " ")
    for (k = 1; k <= n; k++) if (exists(d[k] "/" so)) return d[k] "/" so
    return ""
}
# The strongest need of what the shared library file loads, through any
# depth; file_via[file] says through which entry ("" when none needs
# anything, or the file is no ELF object: a static archive, a linker script).
function file_need(file,    cmd, line, list, n, e, k, so, need, via, sn, sv, p) {
    if (file in file_needs) return file_needs[file]
    file_needs[file] = ""
    file_via[file] = ""
    cmd = "readelf -d '" file "' 2>/dev/null"
    list = ""
    while ((cmd | getline line) > 0) {
        if (line !~ /\(NEEDED\)/) continue
        so = line
        sub(/.*\[/, "", so)
        sub(/\].*/, "", so)
        list = list " " so
    }
    close(cmd)
    need = ""
    via = ""
    n = split(list, e, " ")
    for (k = 1; k <= n; k++) {
        sn = library_need(e[k])
        sv = e[k]
        if (sn == "" && !plain_library(e[k]) && (p = soname_file(e[k])) != "") {
            sn = file_need(p)
            if (file_via[p] != "") sv = e[k] " > " file_via[p]
        }
        if (need_rank(sn) > need_rank(need)) {
            need = sn
            via = sv
        }
    }
    file_needs[file] = need
    file_via[file] = via
    return need
}
# need and, after it, through what, of a library name or file.
function item_need(name, file,    need) {
    item_via = ""
    need = library_need(name)
    if (need == "" && file != "" && !plain_library(name)) {
        need = file_need(file)
        item_via = file_via[file]
    }
    return need
}

# ---- Link lines.

# Reads one word of a link line: at the driver's level, or (linker) one the
# driver hands the linker ("-Wl,", "-Xlinker"). display is the word as the
# line has it.
function link_word(w, display, linker) {
    if (want_dir) {
        want_dir = 0
        dirs = dirs " " w
        return
    }
    if (want_name != "") {
        add_item(want_name == display ? display : want_name " " display, w)
        want_name = ""
        return
    }
    if (w == "-l" || (linker && w == "--library")) { want_name = display; return }
    if (w == "-L" || (linker && w == "--library-path")) { want_dir = 1; return }
    if (w ~ /^-l./) { add_item(display, substr(w, 3)); return }
    if (linker && w ~ /^--library=./) { add_item(display, substr(w, 11)); return }
    if (w ~ /^-L./) { dirs = dirs " " substr(w, 3); return }
    if (linker && w ~ /^--library-path=./) { dirs = dirs " " substr(w, 16); return }
    if (w ~ /^-/) return
    if (w ~ /\.(so(\.[0-9]+)*|a)$/) add_item(display, "/" w)
}
# An item: a library name ("GL", ":libGL.so.1") or, after "/", a path.
function add_item(display, what) {
    items++
    item_display[items] = display
    item_what[items] = what
}
# The file an item names, "" when it cannot be found.
function item_file(what,    n, d, k, name) {
    if (what ~ /^\//) {
        what = substr(what, 2)
        if (what !~ /^\//) what = build "/" what
        return exists(what) ? what : ""
    }
    n = split(dirs " " default_dirs, d, " ")
    for (k = 1; k <= n; k++) {
        if (what ~ /^:/) {
            if (exists(d[k] "/" substr(what, 2))) return d[k] "/" substr(what, 2)
        } else {
            if (exists(d[k] "/lib" what ".so")) return d[k] "/lib" what ".so"
            if (exists(d[k] "/lib" what ".a")) return d[k] "/lib" what ".a"
        }
    }
    name = what ~ /^:/ ? substr(what, 2) : "lib" what ".so"
    return (name in soname_path) ? soname_path[name] : ""
}
# The library of the table a static archive libvelar_x.a is, or "".
function table_library(what,    base) {
    base = basename(what)
    if (base !~ /^lib.+\.a$/) return ""
    base = substr(base, 4, length(base) - 5)
    return (base in is_layer) ? base : ""
}

# Checks the link command of one program: line, one segment of which
# ("a && b") writes the program ("-o <file>").
function check_link_line(line,    nseg, seg, s, n, tok, i, k, t, out, prog, layer, who, useset, x, file, need, r, m, extra) {
    nseg = split(line, seg, / && /)
    prog = ""
    for (s = 1; s <= nseg && prog == ""; s++) {
        n = split(seg[s], tok, /[ \t]+/)
        for (i = 1; i < n; i++) if (tok[i] == "-o" && (unquote(tok[i + 1]) in file_prog)) { prog = file_prog[unquote(tok[i + 1])]; break }
    }
    if (prog == "") return
    # Response files ("@file") hold more of the line.
    m = 0
    for (i = 1; i <= n; i++) {
        t = unquote(tok[i])
        if (t ~ /^@./ && exists(r = (substr(t, 2) ~ /^\// ? substr(t, 2) : build "/" substr(t, 2)))) {
            while ((getline extra < r) > 0) { k = split(extra, f, /[ \t]+/); for (x = 1; x <= k; x++) if (f[x] != "") words[++m] = f[x] }
            close(r)
        } else words[++m] = t
    }
    items = 0
    dirs = ""
    want_dir = 0
    want_name = ""
    for (i = 1; i <= m; i++) {
        t = words[i]
        if (t == "-o") { i++; continue }
        if (t == "-Xlinker" && i < m) { i++; link_word(words[i], "-Xlinker " words[i], 1); continue }
        if (t ~ /^-Wl,/) {
            k = split(substr(t, 5), f, ",")
            for (x = 1; x <= k; x++) link_word(f[x], t, 1)
            continue
        }
        link_word(t, t, 0)
    }
    # What the program may use: a probe's or the table program's library
    # decides; any other program may use what its libraries of the table
    # may, with what it declares.
    layer = prog_layer[prog]
    if (layer != "" && (layer in is_layer)) {
        who = layer
        useset = uses[layer]
    } else {
        layer = ""
        who = prog
        useset = prog_uses[prog]
        for (k = 1; k <= items; k++) if ((x = table_library(item_what[k])) != "") useset = useset uses[x]
    }
    prog_allows[prog] = useset
    prog_who[prog] = who
    for (k = 1; k <= items; k++) {
        x = table_library(item_what[k])
        if (x != "") {
            if (layer != "" && !below(layer, x))
                refuse(who ": its link line names " item_display[k] ", which is " x ", a library cmake/Layers.txt does not put below " layer)
            continue
        }
        file = item_file(item_what[k])
        need = item_need(item_what[k] ~ /^[\/:]/ ? substr(item_what[k], 2) : item_what[k], file)
        if (!allows(useset, need))
            refuse(who ": its link line names " item_display[k] " (" need (item_via != "" ? ", through " item_via : "") \
                   "), which cmake/Layers.txt does not allow " who " (it may use: " uses_text(useset) ")")
    }
}

# One NEEDED entry of a built program.
function check_loaded(prog, so,    who, useset, need) {
    who = (prog in prog_who) ? prog_who[prog] : prog
    useset = (prog in prog_allows) ? prog_allows[prog] : prog_uses[prog]
    need = item_need(so, soname_file(so))
    if (!allows(useset, need))
        refuse(who ": loads " so " (" need (item_via != "" ? ", through " item_via : "") \
               "), which cmake/Layers.txt does not allow " who " (it may use: " uses_text(useset) ")")
}

END {
    if (!checked) {
        print "build: no object of a library of cmake/Layers.txt has been built in " build > "/dev/stderr"
        exit 2
    }
    while ((getline row < commandsfile) > 0) check_link_line(row)
    while ((getline row < neededfile) > 0) {
        split(row, f, " ")
        check_loaded(f[1], f[2])
    }
    if (bad) exit 1
    print "build: every library's objects read only its own files, those of the libraries below it and the headers" \
          " cmake/Layers.txt allows it; every link line and every program's NEEDED entries link only what it allows"
}
