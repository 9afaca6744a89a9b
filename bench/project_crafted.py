#!/usr/bin/env python3
"""Writes crafted projects for bench/project_crafted.sh.

project_crafted.py BASE.vpf OUT.vpf cones N [OTHERS]
    BASE's entries with Support/0.xml replaced by one overhang region of
    N cones at one contact point under the cube's bottom and OTHERS (9)
    spread over it, written as an earlier version wrote cones (contact
    points only: opening places, links and braces them).
project_crafted.py BASE.vpf OUT.vpf regions MEGABYTES
    BASE's entries with Support/0.xml holding MEGABYTES of lowest-point
    region records (streamed: the text is never held whole).
BASE is a project of one cube with its supports (meshinfo --project): its
first region's facets and the box of its contact points are taken.
"""
import re
import sys
import zipfile

CONE = ('<ConeSupport ConeID="0" ConeSupportType="1" GenerateBase="false" ContactRadius="0.5" '
        'BeamRadius="0.6" BottomRadius="1" BaseThickness="1" BaseSize="4" HeadExtend="2.5" '
        'ContactPoint="{x};{y};{z}" ContactNormal="0;0;-1"/>\n')
HEAD = ('<?xml version="1.0" encoding="UTF-8"?>\n<SupportGen>\n<Header SupportVersion="1"/>\n'
        '<General BaseType="0" RemoveExternal="false" MaxAngle="46" Density="5"/>\n<AreaList NumberArea="{n}">\n')
TAIL = '</AreaList>\n</SupportGen>\n'


def copy_base(base, out):
    for info in base.infolist():
        if not info.filename.startswith('Support/'):
            out.writestr(info, base.read(info.filename))


def cones(out, base, n, others):
    xml = base.read('Support/0.xml').decode()
    facets = re.search(r'TriangleMeshIndexs="([^"]*)"', xml).group(1)
    points = [tuple(map(float, p.split(';'))) for p in re.findall(r'ContactPoint="([^"]*)"', xml)]
    lo = [min(p[k] for p in points) for k in range(2)]
    hi = [max(p[k] for p in points) for k in range(2)]
    z = points[0][2]
    text = [HEAD.format(n=1), '<AreaSupport AreaType="0" AreaID="0" Density="5" NumTriangle="%d" '
            'TriangleMeshIndexs="%s" NumEdge="0" NumConeShape="%d">\n' % (facets.count(';') + 1, facets, n + others)]
    text += [CONE.format(x=(lo[0] + hi[0]) / 2, y=(lo[1] + hi[1]) / 2, z=z)] * n
    for k in range(others):
        text.append(CONE.format(x=lo[0] + (hi[0] - lo[0]) * (k % 3) / 2, y=lo[1] + (hi[1] - lo[1]) * (k // 3) / 2, z=z))
    text += ['</AreaSupport>\n', TAIL]
    out.writestr('Support/0.xml', ''.join(text), zipfile.ZIP_DEFLATED)


def regions(out, megabytes):
    record = '<AreaSupport AreaType="1" AreaID="0" VertexID="0" NumConeShape="1"/>\n'
    count = megabytes * (1 << 20) // len(record)
    with out.open('Support/0.xml', 'w', force_zip64=True) as entry:
        entry.write(HEAD.format(n=count).encode())
        block = (record * 4096).encode()
        for _ in range(count // 4096):
            entry.write(block)
        entry.write(TAIL.encode())


def main():
    base_path, out_path, kind = sys.argv[1:4]
    with zipfile.ZipFile(base_path) as base, zipfile.ZipFile(out_path, 'w', zipfile.ZIP_DEFLATED) as out:
        copy_base(base, out)
        if kind == 'cones':
            cones(out, base, int(sys.argv[4]), int(sys.argv[5]) if len(sys.argv) > 5 else 9)
        else:
            regions(out, int(sys.argv[4]))


main()
