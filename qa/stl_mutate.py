#!/usr/bin/env python3
"""Random mutations of ASCII STL files against meshinfo, with an oracle.

Usage: stl_mutate.py MESHINFO WORKDIR [COUNT] [SEED]

Each mutated file is read by a strict reference reader written here (every
facet complete, facets with two equal corners not counted, keywords in any case, numbers in plain decimal or exponent
form). When meshinfo reports a clean success (exit 0, nothing on stderr),
the reference reader must accept the file too and give the same number of
facets and the same area; anything else is printed as a fault.
"""
import math
import os
import random
import re
import struct
import subprocess
import sys

MESHINFO, WORK = sys.argv[1], sys.argv[2]
COUNT = int(sys.argv[3]) if len(sys.argv) > 3 else 2000
rnd = random.Random(int(sys.argv[4]) if len(sys.argv) > 4 else 5)
os.makedirs(WORK, exist_ok=True)
NUM = re.compile(rb"^[+-]?(\d+\.?\d*|\.\d+)([eE][+-]?\d+)?$")


def f32(x):
    return struct.unpack("<f", struct.pack("<f", x))[0]


def reference(data):
    """(facets, area) or None when the file is not a whole ASCII STL."""
    toks = data.split()
    if not toks or toks[0].lower() != b"solid":
        return None
    i = 1
    while i < len(toks) and toks[i].lower() not in (b"facet", b"endsolid"):
        i += 1  # the solid's name
    tris = []
    while i < len(toks) and toks[i].lower() == b"facet":
        want = [b"facet", b"normal", None, None, None, b"outer", b"loop"]
        for _ in range(3):
            want += [b"vertex", None, None, None]
        want += [b"endloop", b"endfacet"]
        if i + len(want) > len(toks):
            return None
        vals = []
        for k, w in enumerate(want):
            t = toks[i + k]
            if w is None:
                if not NUM.match(t) or len(t) > 256:
                    return None
                v = float(t)
                if not math.isfinite(f32(v) if abs(v) < 3.4e38 else math.inf):
                    return None
                vals.append(f32(v))
            elif t.lower() != w:
                return None
        i += len(want)
        p = [vals[3:6], vals[6:9], vals[9:12]]
        if any(abs(c) > 1e6 for q in p for c in q):
            return None
        tris.append(p)
    if i >= len(toks) or toks[i].lower() != b"endsolid":
        return None
    area = 0.0
    kept = 0
    for a, b, c in tris:
        u = [b[k] - a[k] for k in range(3)]
        v = [c[k] - a[k] for k in range(3)]
        n = (u[1] * v[2] - u[2] * v[1], u[2] * v[0] - u[0] * v[2], u[0] * v[1] - u[1] * v[0])
        area += 0.5 * math.sqrt(sum(t * t for t in n))
        # a facet with two equal corners carries no surface: the import drops it
        kept += 0 if (a == b or b == c or a == c) else 1
    return kept, area


def base_file():
    s = 10.0
    v = [(x * s, y * s, z * s) for x in (0, 1) for y in (0, 1) for z in (0, 1)]
    q = [(0, 1, 3, 2), (4, 6, 7, 5), (0, 4, 5, 1), (2, 3, 7, 6), (0, 2, 6, 4), (1, 5, 7, 3)]
    out = ["solid part"]
    for a, b, c, d in q:
        for t in ((a, b, c), (a, c, d)):
            out.append("  facet normal 0 0 1\n    outer loop")
            out += ["      vertex %s %s %s" % tuple(repr(x) for x in v[k]) for k in t]
            out.append("    endloop\n  endfacet")
    out.append("endsolid part")
    return ("\n".join(out) + "\n").encode()


ALPHA = b"0123456789.-+eE \n\tabcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ\r"


def mutate(d):
    d = bytearray(d)
    for _ in range(rnd.choice((1, 1, 1, 2, 3))):
        op = rnd.randrange(6)
        p = rnd.randrange(len(d))
        if op == 0:
            d[p] = rnd.choice(ALPHA)
        elif op == 1:
            del d[p:p + rnd.randint(1, 4)]
        elif op == 2:
            d[p:p] = bytes(rnd.choice(ALPHA) for _ in range(rnd.randint(1, 3)))
        elif op == 3:  # duplicate or drop a line
            s = d.rfind(b"\n", 0, p) + 1
            e = d.find(b"\n", p) + 1 or len(d)
            if rnd.random() < 0.5:
                d[s:s] = d[s:e]
            else:
                del d[s:e]
        elif op == 4:  # change a digit
            digits = [m.start() for m in re.finditer(rb"\d", d)]
            if digits:
                d[rnd.choice(digits)] = rnd.choice(b"0123456789")
        else:
            del d[p:]
    return bytes(d)


base = base_file()
faults = 0
clean = 0
for n in range(COUNT):
    data = mutate(base)
    path = os.path.join(WORK, "m%05d.stl" % n)
    with open(path, "wb") as f:
        f.write(data)
    r = subprocess.run([MESHINFO, path], capture_output=True, timeout=60)
    kv = dict(t.split("=", 1) for t in r.stdout.decode(errors="replace").split() if "=" in t)
    err = r.stderr.decode(errors="replace").strip()
    if r.returncode not in (0, 1):
        print(f"FAULT {path}: exit {r.returncode} {err[:200]}")
        faults += 1
        continue
    if r.returncode != 0 or err or kv.get("result") != "1":
        os.remove(path)
        continue
    clean += 1
    ref = reference(data)
    got = (int(kv["triangles"]), float(kv["area"]))
    if ref is None or ref[0] != got[0] or abs(ref[1] - got[1]) > 1e-4 * max(1.0, ref[1]):
        print(f"FAULT {path}: clean success {got}, reference reader {ref}")
        faults += 1
    else:
        os.remove(path)
print(f"mutations={COUNT} clean={clean} faults={faults}")
sys.exit(1 if faults else 0)
