#!/usr/bin/env python3
"""Binary STL models for placement, limit and round-trip checks.

Usage: make_models.py OUTDIR
Writes a mix of small objects (boxes, cylinders, rings, of 1..40 mm), limit
cases (tall, wide, offset) and machined-looking parts (flange with lip and
bosses, a cup with a ceiling, a ring with a step) at 100..400 mm, plus
randomly rotated copies of the parts.
"""
import math
import os
import random
import struct
import sys

OUT = sys.argv[1]
os.makedirs(OUT, exist_ok=True)


def write(name, tris):
    with open(os.path.join(OUT, name), "wb") as f:
        f.write(b"qa model".ljust(80, b"\0"))
        f.write(struct.pack("<I", len(tris)))
        for a, b, c in tris:
            ux, uy, uz = (b[i] - a[i] for i in range(3))
            vx, vy, vz = (c[i] - a[i] for i in range(3))
            n = (uy * vz - uz * vy, uz * vx - ux * vz, ux * vy - uy * vx)
            l = math.sqrt(sum(t * t for t in n)) or 1.0
            f.write(struct.pack("<12fH", *(t / l for t in n), *a, *b, *c, 0))


def box(x0, y0, z0, x1, y1, z1):
    v = [(x, y, z) for x in (x0, x1) for y in (y0, y1) for z in (z0, z1)]
    q = [(0, 1, 3, 2), (4, 6, 7, 5), (0, 4, 5, 1), (2, 3, 7, 6), (0, 2, 6, 4), (1, 5, 7, 3)]
    t = []
    for a, b, c, d in q:
        t += [(v[a], v[b], v[c]), (v[a], v[c], v[d])]
    return t


def lathe(profile, n=64, cx=0.0, cy=0.0):
    """Closed solid of revolution: profile is a closed loop of (r, z) points,
    counter-clockwise in the (r, z) half plane, r >= 0."""
    t = []
    m = len(profile)
    for i in range(n):
        a0, a1 = 2 * math.pi * i / n, 2 * math.pi * (i + 1) / n
        for j in range(m):
            (r0, z0), (r1, z1) = profile[j], profile[(j + 1) % m]
            p = lambda r, z, a: (cx + r * math.cos(a), cy + r * math.sin(a), z)
            A, B, C, D = p(r0, z0, a0), p(r1, z1, a0), p(r1, z1, a1), p(r0, z0, a1)
            if r0 > 0 and r1 > 0:
                t += [(A, C, B), (A, D, C)]
            elif r0 > 0:
                t += [(A, D, B)]
            elif r1 > 0:
                t += [(A, C, B)]
    return t


def rotate(tris, rx, ry, rz):
    cx, sx, cy, sy, cz, sz = math.cos(rx), math.sin(rx), math.cos(ry), math.sin(ry), math.cos(rz), math.sin(rz)

    def r(p):
        x, y, z = p
        y, z = y * cx - z * sx, y * sx + z * cx
        x, z = x * cy + z * sy, -x * sy + z * cy
        x, y = x * cz - y * sz, x * sz + y * cz
        return (x, y, z)
    return [tuple(r(p) for p in t) for t in tris]


def scale(tris, s):
    return [tuple(tuple(c * s for c in p) for p in t) for t in tris]


# small mixed objects
rnd = random.Random(7)
for i in range(24):
    kind = i % 3
    s = rnd.uniform(1, 40)
    if kind == 0:
        t = box(0, 0, 0, s, rnd.uniform(1, 40), rnd.uniform(1, 40))
    elif kind == 1:
        t = lathe([(0, 0), (s / 2, 0), (s / 2, s), (0, s)], n=16)
    else:
        t = lathe([(s / 4, 0), (s / 2, 0), (s / 2, s / 5), (s / 4, s / 5)], n=20)
    write(f"small{i:02d}.stl", t)

# limit cases
write("tall.stl", box(0, 0, -1e6 + 1, 10, 10, 1e6 - 1))          # extent inside, height beyond
write("tall_ok.stl", box(0, 0, -5e5, 10, 10, 5e5 - 1))           # height 999,999 mm
write("wide.stl", box(-999990, 0, 0, 999990, 10, 10))            # 1,999,980 mm wide
write("offset.stl", box(999000, 999000, 500, 999990, 999990, 600))
write("offset_neg.stl", box(-999990, -999990, -999990, -999000, -999000, -998000))
write("nearlimit_big.stl", box(-600000, -600000, 0, 600000, 600000, 10))

# machined parts at real size
flange = lathe([(30, 0), (120, 0), (120, 12), (112, 12), (112, 14), (40, 14), (40, 60), (46, 60), (46, 64),
                (30, 64)], n=128)
for k in range(6):  # bosses on the flange, hanging lips under them
    a = 2 * math.pi * k / 6
    cx, cy = 80 * math.cos(a), 80 * math.sin(a)
    flange += lathe([(0, 14), (8, 14), (8, 30), (12, 30), (12, 34), (0, 34)], n=32, cx=cx, cy=cy)
write("flange.stl", flange)
cup = lathe([(0, 0), (150, 0), (150, 200), (140, 200), (140, 190), (100, 190), (100, 180), (140, 180),
             (140, 10), (0, 10)], n=160)  # inner ring lip and a ceiling when upside down
write("cup.stl", cup)
ring = lathe([(160, 0), (200, 0), (200, 30), (190, 30), (190, 50), (170, 50), (170, 40), (160, 40)], n=200)
write("ring.stl", ring)
plate = box(-150, -100, 0, 150, 100, 8) + box(-140, -90, 7, -120, 90, 61) + box(120, -90, 7, 140, 90, 61) + \
    box(-140, -90, 60, 140, 90, 66)  # a table: large flat ceiling under the top
write("table.stl", plate)
for name, t in (("flange", flange), ("cup", cup), ("ring", ring), ("table", plate)):
    for j in range(2):
        rr = random.Random(hash((name, j)) & 0xFFFF)
        write(f"{name}_rot{j}.stl", rotate(t, rr.uniform(0, 6.3), rr.uniform(0, 6.3), rr.uniform(0, 6.3)))
    write(f"{name}_flip.stl", rotate(t, math.pi, 0, 0))
print("written to", OUT)
