#!/usr/bin/env python3
"""Supports judged from outside the program, with the Python standard library only.

    python3 scripts/overhang_check.py MODEL.stl OUT.stl CONTACTS.txt [--reach R] [--hang H]
                                      [--layer L] [--cell C] [--touch T]

OUT.stl and CONTACTS.txt are what `meshinfo MODEL.stl --support --out OUT.stl --contacts
CONTACTS.txt` writes: the lifted model's facets first (as many as MODEL.stl holds), then the
supports' facets; one contact point "x y z" a line. Model and supports are sliced at the middle
of every layer (L, default 0.05 mm) and each slice filled by the non-zero rule on rows C apart
(default 0.1 mm), exact along each row. Printed, one line of key=value:
  hanging_mm2    the area of the layers that lies farther than H (default 1 mm) from the
                 material of the layer below (the platform carries the first layer);
  unreached_mm2  the part of it with no contact within R (default 5 mm, 3D);
  farthest_mm    the largest distance from an unreached point to its nearest contact;
  islands        pieces of model material (spans of rows joined where they come within T)
                 that come within T (default 0.2 mm) of no model material of the layer below
                 (its rows or its outline);
  unsupported    those of them that come within T of no support material either;
and, on stderr, a point of the largest unreached part and of every unsupported island.
"""
import bisect
import math
import struct
import sys


def read_stl(path):
    """The facets of a binary or ASCII STL file as lists of three (x, y, z)."""
    data = open(path, "rb").read()
    if len(data) >= 84:
        n = struct.unpack_from("<I", data, 80)[0]
        if 84 + 50 * n == len(data):
            out = []
            for i in range(n):
                v = struct.unpack_from("<12f", data, 84 + 50 * i)
                out.append(((v[3], v[4], v[5]), (v[6], v[7], v[8]), (v[9], v[10], v[11])))
            return out
    out, corners = [], []
    for line in data.decode("latin-1").splitlines():
        words = line.split()
        if words[:1] == ["vertex"]:
            corners.append(tuple(float(w) for w in words[1:4]))
            if len(corners) == 3:
                out.append(tuple(corners))
                corners = []
    return out


class Slicer:
    """Outlines of a soup at any height, each segment run with the material on its left."""

    def __init__(self, facets):
        self.facets = sorted(facets, key=lambda f: min(p[2] for p in f))
        self.lows = [min(p[2] for p in f) for f in self.facets]
        self.tall = max((max(p[2] for p in f) - min(p[2] for p in f) for f in self.facets), default=0.0)

    def segments(self, z):
        out = []
        start = bisect.bisect_left(self.lows, z - self.tall)
        stop = bisect.bisect_right(self.lows, z)
        for f in self.facets[start:stop]:
            a, b, c = f
            if max(a[2], b[2], c[2]) <= z:
                continue
            pts = []
            for p, q in ((a, b), (b, c), (c, a)):
                if (p[2] > z) != (q[2] > z):
                    # Both facets of an edge cut it at the same point, to the bit.
                    if q < p:
                        p, q = q, p
                    t = (z - p[2]) / (q[2] - p[2])
                    pts.append((p[0] + t * (q[0] - p[0]), p[1] + t * (q[1] - p[1])))
            if len(pts) != 2:
                continue
            # The facet's normal across the cut: the material lies against it.
            nx = (b[1] - a[1]) * (c[2] - a[2]) - (b[2] - a[2]) * (c[1] - a[1])
            ny = (b[2] - a[2]) * (c[0] - a[0]) - (b[0] - a[0]) * (c[2] - a[2])
            (x0, y0), (x1, y1) = pts
            if (x1 - x0) * ny - (y1 - y0) * nx > 0.0:
                x0, y0, x1, y1 = x1, y1, x0, y0
            out.append((x0, y0, x1, y1))
        return out


def fill(segments, y0, cell, rows):
    """The slice as intervals per row (row j at y0 + (j + 0.5) cell), non-zero rule."""
    crossings = {}
    for x0, y0s, x1, y1 in segments:
        if y0s == y1:
            continue
        lo, hi = min(y0s, y1), max(y0s, y1)
        j0 = max(0, int(math.ceil((lo - y0) / cell - 0.5)))
        j1 = min(rows - 1, int(math.floor((hi - y0) / cell - 0.5)))
        up = 1 if y1 > y0s else -1
        for j in range(j0, j1 + 1):
            y = y0 + (j + 0.5) * cell
            if (y0s <= y) == (y1 <= y):
                continue
            crossings.setdefault(j, []).append((x0 + (y - y0s) * (x1 - x0) / (y1 - y0s), up))
    out = {}
    for j, xs in crossings.items():
        xs.sort()
        winding, spans = 0, []
        for k in range(len(xs) - 1):
            winding += xs[k][1]
            if winding != 0 and xs[k + 1][0] > xs[k][0]:
                if spans and spans[-1][1] >= xs[k][0]:
                    spans[-1][1] = xs[k + 1][0]
                else:
                    spans.append([xs[k][0], xs[k + 1][0]])
        if spans:
            out[j] = spans
    return out


def by_rows(segments, y0, cell, r):
    """The x-extents of the outline segments that come within r of each row's band."""
    out = {}
    for x0, y0s, x1, y1 in segments:
        j0 = int(math.floor((min(y0s, y1) - r - y0) / cell))
        j1 = int(math.floor((max(y0s, y1) + r - y0) / cell))
        for j in range(j0, j1 + 1):
            out.setdefault(j, []).append((x0, x1))
    return out


def slivers(segments, y0, cell):
    """Outlines that no row crosses (a tip just begun, thinner than a row), as
    (row, x_lo, x_hi) of the row nearest to each."""
    owner, boxes = {}, []

    def root(i):
        while boxes[i][0] != i:
            boxes[i][0] = boxes[boxes[i][0]][0]
            i = boxes[i][0]
        return i

    for x0, ys, x1, y1 in segments:
        me = len(boxes)
        boxes.append([me, min(x0, x1), max(x0, x1), min(ys, y1), max(ys, y1)])
        for end in ((x0, ys), (x1, y1)):
            if end in owner:
                a, b = root(me), root(owner[end])
                if a != b:
                    boxes[a][0] = b
                    for k, f in ((1, min), (2, max), (3, min), (4, max)):
                        boxes[b][k] = f(boxes[b][k], boxes[a][k])
            else:
                owner[end] = me
    out = []
    for i, (r, xl, xh, yl, yh) in enumerate(boxes):
        if r != i:
            continue
        jl, jh = math.ceil((yl - y0) / cell - 0.5), math.floor((yh - y0) / cell - 0.5)
        if jl > jh:
            out.append((int(round(((yl + yh) / 2.0 - y0) / cell - 0.5)), xl, xh))
    return out


def union(spans):
    spans = sorted(spans)
    out = []
    for a, b in spans:
        if out and a <= out[-1][1]:
            out[-1][1] = max(out[-1][1], b)
        else:
            out.append([a, b])
    return out


def minus(spans, cut):
    """spans less cut, both sorted and disjoint."""
    out, k = [], 0
    for a, b in spans:
        while k < len(cut) and cut[k][1] <= a:
            k += 1
        m = k
        while m < len(cut) and cut[m][0] < b:
            if cut[m][0] > a:
                out.append([a, cut[m][0]])
            a = max(a, cut[m][1])
            m += 1
        if a < b:
            out.append([a, b])
    return out


def grown(layer, j, r, cell):
    """Row j of `layer` grown by r in the plane (rows within r, each widened)."""
    m = int(r / cell)
    spans = []
    for dj in range(-m, m + 1):
        w = r * r - (dj * cell) ** 2
        if w < 0.0:
            continue
        w = math.sqrt(w)
        spans.extend([a - w, b + w] for a, b in layer.get(j + dj, ()))
    return union(spans)


def main():
    args = sys.argv[1:]
    opts = {"--reach": 5.0, "--hang": 1.0, "--layer": 0.05, "--cell": 0.1, "--touch": 0.2}
    files = []
    while args:
        a = args.pop(0)
        if a in opts and args:
            opts[a] = float(args.pop(0))
        else:
            files.append(a)
    if len(files) != 3:
        sys.exit(__doc__)
    reach, hang, h, cell, touch = (opts[k] for k in ("--reach", "--hang", "--layer", "--cell", "--touch"))
    n_model = len(read_stl(files[0]))
    every = read_stl(files[1])
    model, supports = every[:n_model], every[n_model:]
    contacts = [tuple(float(w) for w in line.split()) for line in open(files[2]) if line.strip()]
    pts = [p for f in model for p in f]
    x_lo, y_lo = min(p[0] for p in pts) - hang - 1.0, min(p[1] for p in pts) - hang - 1.0
    rows = int((max(p[1] for p in pts) + hang + 1.0 - y_lo) / cell) + 1
    top = max(p[2] for p in pts)
    # Contacts by squares of the reach.
    near = {}
    for q in contacts:
        near.setdefault((int(math.floor(q[0] / reach)), int(math.floor(q[1] / reach))), []).append(q)

    def reached(y, z, spans):
        """The parts of spans (on the row at height y, layer z) with a contact within reach."""
        cut = []
        for i in range(int(math.floor((spans[0][0] - reach) / reach)), int(math.floor((spans[-1][1] + reach) / reach)) + 1):
            for j in (int(math.floor(y / reach)) + d for d in (-1, 0, 1)):
                for qx, qy, qz in near.get((i, j), ()):
                    w = reach * reach - (qy - y) ** 2 - (qz - z) ** 2
                    if w >= 0.0:
                        w = math.sqrt(w)
                        cut.append([qx - w, qx + w])
        return union(cut)

    def nearest(x, y, z):
        return min((math.dist((x, y, z), q) for q in contacts), default=float("inf"))

    model_slicer, support_slicer = Slicer(model), Slicer(supports)
    hanging = unreached = 0.0
    farthest, worst = 0.0, None
    islands = unsupported = 0
    below = None
    k = 0
    while (k + 0.5) * h <= top:
        z = (k + 0.5) * h
        segs = model_slicer.segments(z)
        here = fill(segs, y_lo, cell, rows)
        if below is not None:
            # What hangs: material farther than `hang` from the layer below.
            for j, spans in here.items():
                fresh = minus(spans, below.get(j, []))
                if not fresh:
                    continue
                free = minus(fresh, grown(below, j, hang, cell))
                if not free:
                    continue
                y = y_lo + (j + 0.5) * cell
                hanging += sum(b - a for a, b in free) * cell
                left = minus(free, reached(y, z, free))
                unreached += sum(b - a for a, b in left) * cell
                for a, b in left:
                    d = nearest((a + b) / 2.0, y, z)
                    if d > farthest:
                        farthest, worst = d, ((a + b) / 2.0, y, z)
            # Islands: pieces (rows joined where their spans overlap) that come
            # within `touch` of nothing of the layer below.
            pieces = []
            parent = []

            def find(i):
                while parent[i] != i:
                    parent[i] = parent[parent[i]]
                    i = parent[i]
                return i

            index = {}
            rows_here = {}
            for j, spans in here.items():
                rows_here.setdefault(j, []).extend(spans)
            for j, a, b in slivers(segs, y_lo, cell):
                rows_here.setdefault(j, []).append([a, b])
            for j in sorted(rows_here):
                index[j] = []
                for a, b in rows_here[j]:
                    parent.append(len(parent))
                    pieces.append((j, a, b))
                    me = len(parent) - 1
                    index[j].append(me)
                    # Spans closer than `touch` are one piece: a neck thinner than a
                    # row still joins what it joins.
                    for dj in range(1, int(touch / cell) + 2):
                        for other in index.get(j - dj, []):
                            _, c, d = pieces[other]
                            if c <= b + touch and a <= d + touch:
                                parent[find(me)] = find(other)
            groups = {}
            for i in range(len(pieces)):
                groups.setdefault(find(i), []).append(pieces[i])
            support_below = None
            near_model, near_support = {}, {}

            def meets(layer, cache, j, a, b):
                """Whether the span (a, b) of row j comes within `touch` of the material of
                `layer` (its rows, and its outline: a sliver thinner than a row still counts)."""
                fill_rows, by_row = layer
                if j not in cache:
                    cache[j] = grown(fill_rows, j, touch, cell)
                if any(c < b and a < d for c, d in cache[j]):
                    return True
                return any(min(x0, x1) - touch < b and a < max(x0, x1) + touch for x0, x1 in by_row.get(j, ()))

            for group in groups.values():
                if any(meets(below_layer, near_model, j, a, b) for j, a, b in group):
                    continue
                islands += 1
                if support_below is None:
                    outline = support_slicer.segments(z - h)
                    support_below = (fill(outline, y_lo, cell, rows), by_rows(outline, y_lo, cell, touch))
                if not any(meets(support_below, near_support, j, a, b) for j, a, b in group):
                    unsupported += 1
                    j, a, b = group[0]
                    print("unsupported island at %.3f %.3f %.3f" % ((a + b) / 2.0, y_lo + (j + 0.5) * cell, z),
                          file=sys.stderr)
        below = here
        below_layer = (here, by_rows(segs, y_lo, cell, touch))
        k += 1
    print("hanging_mm2=%.2f unreached_mm2=%.2f farthest_mm=%.2f islands=%d unsupported=%d"
          % (hanging, unreached, farthest, islands, unsupported))
    if worst is not None:
        print("farthest unreached point at %.3f %.3f %.3f" % worst, file=sys.stderr)


if __name__ == "__main__":
    main()
