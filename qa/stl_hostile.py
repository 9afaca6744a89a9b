#!/usr/bin/env python3
"""Hostile ASCII/binary STL files against meshinfo.

Usage: stl_hostile.py MESHINFO WORKDIR

For every damaged file the rule is: meshinfo either fails, or prints a
message on stderr, or reports exactly the geometry of the intended file.
A clean success (exit 0, empty stderr) with other geometry is a fault.
Prints one line per fault and a summary; exit 1 when any fault was found.
"""
import os
import struct
import subprocess
import sys

MESHINFO, WORK = sys.argv[1], sys.argv[2]
os.makedirs(WORK, exist_ok=True)


def cube(size=10.0, ox=0.0, oy=0.0, oz=0.0):
    s = size
    v = [(ox + x * s, oy + y * s, oz + z * s) for x in (0, 1) for y in (0, 1) for z in (0, 1)]
    quads = [(0, 1, 3, 2, (-1, 0, 0)), (4, 6, 7, 5, (1, 0, 0)), (0, 4, 5, 1, (0, -1, 0)),
             (2, 3, 7, 6, (0, 1, 0)), (0, 2, 6, 4, (0, 0, -1)), (1, 5, 7, 3, (0, 0, 1))]
    tris = []
    for a, b, c, d, n in quads:
        tris.append((n, v[a], v[b], v[c]))
        tris.append((n, v[a], v[c], v[d]))
    return tris


def fmt(x):
    return repr(float(x)) if isinstance(x, float) else str(x)


def ascii_stl(tris, name="part", eol="\n", ind="  ", kw=None, numfmt=fmt, endname=True):
    k = kw or {}
    K = lambda w: k.get(w, w)
    out = [K("solid") + " " + name]
    for n, a, b, c in tris:
        out.append(ind + K("facet") + " " + K("normal") + " " + " ".join(numfmt(t) for t in n))
        out.append(ind * 2 + K("outer") + " " + K("loop"))
        for p in (a, b, c):
            out.append(ind * 3 + K("vertex") + " " + " ".join(numfmt(t) for t in p))
        out.append(ind * 2 + K("endloop"))
        out.append(ind + K("endfacet"))
    out.append(K("endsolid") + (" " + name if endname else ""))
    return (eol.join(out) + eol).encode()


def binary_stl(tris, header=b"bin", declared=None):
    h = header[:80].ljust(80, b"\0")
    body = b"".join(struct.pack("<12fH", *n, *a, *b, *c, 0) for n, a, b, c in tris)
    return h + struct.pack("<I", len(tris) if declared is None else declared) + body


def run(data, tag):
    p = os.path.join(WORK, tag + ".stl")
    with open(p, "wb") as f:
        f.write(data)
    r = subprocess.run([MESHINFO, p], capture_output=True, timeout=60)
    kv = dict(t.split("=", 1) for t in r.stdout.decode(errors="replace").split() if "=" in t)
    return r.returncode, kv, r.stderr.decode(errors="replace").strip()


faults = []
checked = 0


def geom(kv):
    return (kv.get("triangles"), kv.get("area"), kv.get("volume"))


def expect(data, tag, want, mode="clean-or-told"):
    """want: geometry tuple of the intended reading, or None (anything but a clean success)."""
    global checked
    checked += 1
    rc, kv, err = run(data, tag)
    if rc < 0 or rc > 1 or "terminate" in err or "Sanitizer" in err:
        faults.append(f"{tag}: crash rc={rc} {err[:200]}")
        return rc, kv, err
    clean = rc == 0 and err == "" and kv.get("result") == "1"
    if mode == "clean":
        if not clean or geom(kv) != want:
            faults.append(f"{tag}: expected clean {want}, got rc={rc} {geom(kv)} err={err[:300]!r}")
    elif clean and (want is None or geom(kv) != want):
        faults.append(f"{tag}: CLEAN success with {geom(kv)} (intended {want})")
    return rc, kv, err


base_tris = cube(10.0)
ref = ascii_stl(base_tris)
rc, kv, err = run(ref, "ref")
G = geom(kv)
assert rc == 0 and err == "", (rc, err)
print("reference", G)

# 1. cut at every byte position: only a cut inside the trailing name (or after
#    'endsolid' was read whole) may read clean, and then with the full geometry.
end_kw = ref.rindex(b"endsolid") + len(b"endsolid")
for cut in range(1, len(ref)):
    expect(ref[:cut], f"cut{cut}", G if cut >= end_kw else None)

# 2. every keyword occurrence misspelt (drop, double, swap, replace a letter)
words = [b"solid", b"facet", b"normal", b"outer", b"loop", b"vertex", b"endloop", b"endfacet", b"endsolid"]
import re
occ = [(m.start(), m.end()) for m in re.finditer(rb"[A-Za-z]+", ref)]
occ = [(s, e) for s, e in occ if ref[s:e] in words]
n = 0
for s, e in occ:
    w = ref[s:e]
    variants = {w[1:], w[:-1], w[:2] + w[1:], w[:1] + w[2:3] + w[1:2] + w[3:], w[:-1] + b"x"}
    for v in variants:
        if v.lower() == w.lower():
            continue
        n += 1
        expect(ref[:s] + v + ref[e:], f"miss{n}_{w.decode()}_{v.decode()}", None)

# 3. overlong numbers: 300 zeros after the point of each number (same value),
#    and many leading zeros; reading must not give another value.
nums = [(m.start(), m.end()) for m in re.finditer(rb"-?\d+\.\d+", ref)]
for i, (s, e) in enumerate(nums[:60]):
    val = ref[s:e]
    v1 = val + b"0" * 300
    expect(ref[:s] + v1 + ref[e:], f"long{i}a", G)
    ip, fp = val.split(b".")
    v2 = (b"-" if ip.startswith(b"-") else b"") + b"0" * 300 + ip.lstrip(b"-") + b"." + fp
    expect(ref[:s] + v2 + ref[e:], f"long{i}b", G)
    v3 = b"1." + b"0" * 300 + b"e+01"
    # a different value (10): anything but a clean success with the cube
    rc, kv, err = run(ref[:s] + v3 + ref[e:], f"long{i}c")
    checked += 1
    if rc == 0 and err == "" and geom(kv) == G and val not in (b"10.0",):
        faults.append(f"long{i}c: number 1.000..e+01 read as {val!r}, clean")

# 4. valid variants: must read clean with the cube
valid = {
    "crlf": ascii_stl(base_tris, eol="\r\n"),
    "tabs": ascii_stl(base_tris, ind="\t"),
    "upper": ascii_stl(base_tris, kw={w: w.upper() for w in
                                      ["solid", "facet", "normal", "outer", "loop", "vertex", "endloop", "endfacet", "endsolid"]}),
    "mixed": ascii_stl(base_tris, kw={"solid": "SoLiD", "facet": "Facet", "normal": "NORMAL", "vertex": "VerTex",
                                      "endloop": "EndLoop", "endfacet": "ENDfacet", "endsolid": "EndSolid"}),
    "sci": ascii_stl(base_tris, numfmt=lambda x: "%.8e" % x),
    "noname": ascii_stl(base_tris, name="", endname=False),
    "longname": ascii_stl(base_tris, name="a very long name " * 40),
    "noeol": ascii_stl(base_tris).rstrip(b"\n"),
    "onelinetabs": ascii_stl(base_tris, eol="\t", ind=""),
    "cr-only": ascii_stl(base_tris, eol="\r"),
    "bom": b"\xef\xbb\xbf" + ref,
    "leadingblank": b"\n\n   " + ref,
}
for tag, d in valid.items():
    expect(d, "valid_" + tag, G, mode="clean")

# one-facet ASCII files of 80..100 bytes (short files are ASCII when they are)
t1 = [((0, 0, 1), (0, 0, 0), (1, 0, 0), (0, 1, 0))]
small = ascii_stl(t1, name="", endname=False, ind="")
rc, kv1, err = run(small, "one_small")
G1 = geom(kv1)
print("one-facet", len(small), "bytes", rc, G1, err[:200])
if not (rc == 0 and err == ""):
    faults.append(f"one_small ({len(small)} bytes): not clean: {err[:200]}")
for pad in range(0, 20):
    d = small.rstrip(b"\n") + b" " * pad + b"\n"
    expect(d, f"one_small_pad{len(d)}", G1, mode="clean")
d100 = b"solid\nfacet normal 0 0 1\nouter loop\nvertex 0 0 0\nvertex 1 0 0\nvertex 0 1 0\nendloop\nendfacet\nendsolid"
assert len(d100) == 100
expect(d100, "one_100", G1, mode="clean")
# without 'endsolid': 92 bytes; either clean with the facet or told, never refused as binary
d92 = d100[:92]
rc, kv, err = run(d92, "one_92")
checked += 1
print("92-byte one-facet file without endsolid:", rc, geom(kv), repr(err[:300]))
if "declares" in err or (rc == 0 and err == "" and geom(kv) != G1):
    faults.append(f"one_92: {rc} {geom(kv)} {err[:200]!r}")

# 5. multiple solids: two cubes in two solids. Either both read, or a message.
two = ascii_stl(cube(10.0)) + ascii_stl(cube(10.0, 20, 0, 0), name="second")
rc, kv, err = run(two, "twosolids")
checked += 1
print("two solids:", rc, geom(kv), err[:200])
if rc == 0 and err == "" and geom(kv) == G:
    faults.append("twosolids: second solid dropped silently (clean success with the first cube only)")

# 6. 'solid' binary headers
binc = binary_stl(base_tris, header=b"solid cube made by a CAD program")
expect(binc, "bin_solidhdr", G, mode="clean")
binc2 = binary_stl(base_tris, header=b"solid " + b"x" * 74)  # no zero byte in header
rc, kv, err = run(binc2, "bin_solidhdr_nozero")
print("binary with 'solid' header and no NUL in header:", rc, geom(kv), err[:200])
checked += 1
if rc == 0 and err == "" and geom(kv) != G:
    faults.append("bin_solidhdr_nozero: clean success with other geometry")
# binary whose first 100 bytes hold no zero: make all coordinates nonzero
shift = [(n, *(tuple(c + 1.5 for c in p) for p in (a, b, cc))) for n, a, b, cc in base_tris]
shift = [((0.5 + n[0], 0.5 + n[1], 0.5 + n[2]), a, b, c) for n, a, b, c in shift]
binnz = binary_stl(shift, header=b"solid " + b"y" * 74)
rc, kv, err = expect(binnz, "bin_solidhdr_nozero100", G)
print("binary 'solid' header, no zero in first 100 bytes:", rc, geom(kv), err[:200])

# 7. binary declaring more facets than it holds, and 50,000,001 with few present
for decl in (13, 100, 50_000_001, 0xFFFFFFFF):
    expect(binary_stl(base_tris, declared=decl), f"bin_decl{decl}", None)
# binary cut inside a record
bb = binary_stl(base_tris)
for cut in (84, 90, 134, 84 + 50 * 11 + 10):
    expect(bb[:cut], f"bin_cut{cut}", None)
# cut inside the last record's attribute bytes: every coordinate is there
expect(bb[:-1], "bin_cut_attr", G)
# binary with trailing garbage / declared fewer than present
expect(binary_stl(base_tris, declared=11), "bin_declfewer", None)
expect(binary_stl(base_tris) + b"\0" * 50, "bin_extra_record", None)

# 8. NUL byte inside a token: the message must not stop at the NUL
late = [o for o in occ if o[0] > 200][:4] + [o for o in nums if o[0] > 200][:2]
for i, (s, e) in enumerate(late):
    d = ref[:s + 1] + b"\0" + ref[s + 1:]
    rc, kv, err = run(d, f"nul{i}")
    checked += 1
    print(f"NUL in token {i}:", rc, geom(kv), repr(err[:300]))
    if rc == 0 and err == "":
        faults.append(f"nul{i}: clean success with a NUL inside a token")
    else:
        tok = ref[s:e].decode()
        if tok[1:] not in err and "\\0" not in err and "\\x00" not in err:
            faults.append(f"nul{i}: message seems cut at the NUL: {err[-200:]!r}")

# 9. far corners: message gives sign and exact digits
for x in ("1000000.0625", "-1000000.0625", "1048576.5", "-1999999.875", "1000000.1", "-1000000.1", "-2000000.25", "123456789.125", "1e39", "-1e39", "nan", "inf", "-inf"):
    d = ref.replace(b"vertex 10.0 10.0 10.0", b"vertex " + x.encode() + b" 10.0 10.0", 1)
    rc, kv, err = run(d, "far_" + x)
    checked += 1
    print(f"far corner {x}:", rc, geom(kv), repr(err.splitlines()[-1][-140:] if err else ""))
    if rc == 0 and err == "":
        faults.append(f"far_{x}: clean success")
    elif x not in err and x.lstrip("-") not in ("1e39", "nan", "inf"):
        faults.append(f"far_{x}: message lacks exact '{x}': {err[:300]!r}")

print(f"checked={checked} faults={len(faults)}")
for f in faults:
    print("FAULT", f)
sys.exit(1 if faults else 0)
