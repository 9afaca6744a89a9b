# Writes a closed UV sphere as a binary STL: python3 bench/sphere_stl.py OUT
# TRIANGLES [DIAMETER]. The sphere has DIAMETER (default 60) millimetres and
# about TRIANGLES facets (two fans of M at the poles and 2 M per band between
# them), centred on the origin; the files of the copy, scene and hollowing
# benchmarks are made with it instead of being stored.
import math, struct, sys
out = sys.argv[1]
want = int(sys.argv[2])
radius = float(sys.argv[3]) / 2 if len(sys.argv) > 3 else 30.0
# 2 M (L - 1) triangles with L about M / 2.
m = max(4, int(round(math.sqrt(want))))
l = max(2, want // (2 * m) + 1)
ring = []
for i in range(1, l):
    th = math.pi * i / l
    s, c = math.sin(th), math.cos(th)
    ring.append([(radius * s * math.cos(2 * math.pi * j / m), radius * s * math.sin(2 * math.pi * j / m),
                  radius * c) for j in range(m)])
top, bottom = (0.0, 0.0, radius), (0.0, 0.0, -radius)
rec = struct.Struct("<12fH")
count = 2 * m * (l - 1)
with open(out, "wb") as f:
    f.write(b"sphere".ljust(80, b"\0") + struct.pack("<I", count))
    pack = rec.pack
    f.write(b"".join(pack(0, 0, 0, *top, *ring[0][j], *ring[0][(j + 1) % m], 0) for j in range(m)))
    for i in range(l - 2):
        a, b = ring[i], ring[i + 1]
        rows = []
        for j in range(m):
            k = (j + 1) % m
            rows.append(pack(0, 0, 0, *a[j], *b[j], *b[k], 0))
            rows.append(pack(0, 0, 0, *a[j], *b[k], *a[k], 0))
        f.write(b"".join(rows))
    last = ring[-1]
    f.write(b"".join(pack(0, 0, 0, *bottom, *last[(j + 1) % m], *last[j], 0) for j in range(m)))
print(out, count)
