# Writes a noisy plate as a binary STL: python3 bench/plate_stl.py OUT
# TRIANGLES [SIZE]. The plate is SIZE (default 100) millimetres square and
# 3 thick, both faces on an n x n grid carrying up to 0.05 mm of random noise
# (the rim kept straight, seed fixed), so that its slices near either face
# break into many small outlines; 4 n^2 + 8 n facets, n chosen for about
# TRIANGLES. The island check's benchmark (bench/island_check.sh) makes its
# plates with it.
import math, random, struct, sys

out = sys.argv[1]
want = int(sys.argv[2])
size = float(sys.argv[3]) if len(sys.argv) > 3 else 100.0
n = max(2, int(math.sqrt(want / 4.0)))
h, thick = size / n, 3.0
rng = random.Random(1)
bottom = [[0.0 if i in (0, n) or j in (0, n) else rng.uniform(-0.05, 0.05) for j in range(n + 1)]
          for i in range(n + 1)]
top = [[thick if i in (0, n) or j in (0, n) else thick + rng.uniform(-0.05, 0.05) for j in range(n + 1)]
       for i in range(n + 1)]
rec = struct.Struct("<12fH")
pack = rec.pack


def facet(a, b, c):
    return pack(0, 0, 0, *a, *b, *c, 0)


def p(z, i, j):
    return (i * h, j * h, z[i][j])


with open(out, "wb") as f:
    f.write(b"plate".ljust(80, b"\0") + struct.pack("<I", 4 * n * n + 8 * n))
    for i in range(n):
        rows = []
        for j in range(n):
            rows.append(facet(p(top, i, j), p(top, i + 1, j), p(top, i + 1, j + 1)))
            rows.append(facet(p(top, i, j), p(top, i + 1, j + 1), p(top, i, j + 1)))
            rows.append(facet(p(bottom, i, j), p(bottom, i + 1, j + 1), p(bottom, i + 1, j)))
            rows.append(facet(p(bottom, i, j), p(bottom, i, j + 1), p(bottom, i + 1, j + 1)))
        f.write(b"".join(rows))
    rows = []
    for k in range(n):
        a, b = k * h, (k + 1) * h
        for w in (((a, 0, 0), (b, 0, 0), (b, 0, thick), (a, 0, thick)),
                  ((b, size, 0), (a, size, 0), (a, size, thick), (b, size, thick)),
                  ((0, b, 0), (0, a, 0), (0, a, thick), (0, b, thick)),
                  ((size, a, 0), (size, b, 0), (size, b, thick), (size, a, thick))):
            rows.append(facet(w[0], w[1], w[2]))
            rows.append(facet(w[0], w[2], w[3]))
    f.write(b"".join(rows))
