#!/usr/bin/env python3
"""Projects whose one overhang region holds N cones (contact points only, as
older versions stored them) spread in a chosen way under a cube's bottom.

Usage: cones_spread.py BASE.vpf OUT.vpf N point|line|cell|xline|twopoints
BASE: meshinfo --project of one cube (bench/project_crafted.sh makes one).
"""
import random
import re
import sys
import zipfile

base_path, out_path, n, how = sys.argv[1], sys.argv[2], int(sys.argv[3]), sys.argv[4]
CONE = ('<ConeSupport ConeID="0" ConeSupportType="1" GenerateBase="false" ContactRadius="0.5" '
        'BeamRadius="0.6" BottomRadius="1" BaseThickness="1" BaseSize="4" HeadExtend="2.5" '
        'ContactPoint="{x!r};{y!r};{z!r}" ContactNormal="0;0;-1"/>\n')
base = zipfile.ZipFile(base_path)
xml = base.read("Support/0.xml").decode()
facets = re.search(r'TriangleMeshIndexs="([^"]*)"', xml).group(1)
pts = [tuple(map(float, p.split(";"))) for p in re.findall(r'ContactPoint="([^"]*)"', xml)]
lo = [min(p[k] for p in pts) for k in range(2)]
hi = [max(p[k] for p in pts) for k in range(2)]
z = pts[0][2]
cx, cy = (lo[0] + hi[0]) / 2, (lo[1] + hi[1]) / 2
rnd = random.Random(1)
P = []
for k in range(n):
    if how == "point":
        P.append((cx, cy))
    elif how == "line":      # a diagonal line across the region, points closer than any spacing
        t = k / max(1, n - 1)
        P.append((lo[0] + (hi[0] - lo[0]) * t, lo[1] + (hi[1] - lo[1]) * t))
    elif how == "xline":     # a line along x, 1e-4 mm apart
        P.append((cx + (k - n / 2) * 1e-4, cy))
    elif how == "cell":      # random in a 0.01 mm square
        P.append((cx + rnd.uniform(-0.005, 0.005), cy + rnd.uniform(-0.005, 0.005)))
    elif how == "twopoints":
        P.append((cx, cy) if k % 2 else (lo[0], lo[1]))
text = ['<?xml version="1.0" encoding="UTF-8"?>\n<SupportGen>\n<Header SupportVersion="1"/>\n'
        '<General BaseType="0" RemoveExternal="false" MaxAngle="46" Density="5"/>\n<AreaList NumberArea="1">\n',
        '<AreaSupport AreaType="0" AreaID="0" Density="5" NumTriangle="%d" TriangleMeshIndexs="%s" NumEdge="0" '
        'NumConeShape="%d">\n' % (facets.count(";") + 1, facets, n)]
text += [CONE.format(x=x, y=y, z=z) for x, y in P]
text += ["</AreaSupport>\n</AreaList>\n</SupportGen>\n"]
with zipfile.ZipFile(out_path, "w", zipfile.ZIP_DEFLATED) as out:
    for info in base.infolist():
        if not info.filename.startswith("Support/"):
            out.writestr(info.filename, base.read(info.filename))
    out.writestr("Support/0.xml", "".join(text))
