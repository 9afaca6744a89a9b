#!/usr/bin/env python3
"""Writes one scene of N small objects twice: as a project of ours (.vpf) and
as a 3MF file (3D/3dmodel.model in a zip), for timing how each program opens
it. Every object is a cube of SIZE mm (12 triangles, 8 vertices, 18 edges)
standing on the platform, on a square grid with a gap of 3 mm; the project
holds each object's geometry entry as the program writes it (one shell, its
edges) and a descriptor record per object, the 3MF one object and one build
item per cube, in the same place.

Usage: small_objects_scene.py N OUT.vpf OUT.3mf [SIZE]
"""
import math
import struct
import sys
import zipfile

CORNERS = [(0, 0, 0), (1, 0, 0), (1, 1, 0), (0, 1, 0), (0, 0, 1), (1, 0, 1), (1, 1, 1), (0, 1, 1)]
# Outward-facing triangles of the unit cube.
TRIANGLES = [(0, 2, 1), (0, 3, 2), (4, 5, 6), (4, 6, 7), (0, 1, 5), (0, 5, 4),
             (1, 2, 6), (1, 6, 5), (2, 3, 7), (2, 7, 6), (3, 0, 4), (3, 4, 7)]
EDGES = sorted({tuple(sorted((t[i], t[(i + 1) % 3]))) for t in TRIANGLES for i in range(3)})


def cube_at(x, y, size):
    return [(x + cx * size, y + cy * size, cz * size) for cx, cy, cz in CORNERS]


def geometry_entry(vertices, size):
    """The geometry format: head, vertices, one shell, edges (little-endian)."""
    lo = [min(v[k] for v in vertices) for k in range(3)]
    hi = [max(v[k] for v in vertices) for k in range(3)]
    out = bytearray(256)
    out += struct.pack('<I', len(TRIANGLES))
    out += struct.pack('<6f', *lo, *hi)
    out += bytes(256)
    out += struct.pack('<I', len(vertices))
    for v in vertices:
        out += struct.pack('<3f', *v)
    out += bytes(256)
    out += struct.pack('<I', 1)
    out += bytes(3) + struct.pack('<ffI', 6 * size * size, size ** 3, len(TRIANGLES))
    for t in TRIANGLES:
        out += struct.pack('<3I', *t)
    out += struct.pack('<I', 0)
    out += bytes(256)
    out += struct.pack('<I', len(EDGES))
    for e in EDGES:
        out += struct.pack('<2I', *e)
    return bytes(out)


def descriptor(n):
    head = ('<?xml version="1.0" encoding="UTF-8"?>\n<Project>\n'
            '    <Header>\n        <DocName>Velar Project Description</DocName>\n'
            '        <DocVersion>1.0</DocVersion>\n    </Header>\n'
            '    <Application Name="Velar3D" Version="1.0.0.0"/>\n'
            '    <General>\n        <ViewPort RenderScale="2" ModelViewMatrix="1;0;0;0;0;1;0;0;0;0;1;0;0;0;0;1" '
            'LastPosX="0" LastPosY="0" RenderCenter="0;0;0"/>\n    </General>\n'
            '    <Objects TotalObjectNo="%d">\n' % n)
    record = ('        <Object Type="0" Name="cube" ID="%d" ViewMode="0" Transparency="false" Selected="true" '
              'Visible="true" Pointed="false" Locked="false" TransparentValue="1" ShadeColor="#06cbd4" '
              'NumberTriangles="12"/>\n')
    return head + ''.join(record % k for k in range(n)) + '    </Objects>\n</Project>\n'


def model_3mf(places):
    parts = ['<?xml version="1.0" encoding="UTF-8"?>\n<model unit="millimeter" xml:lang="en-US" '
             'xmlns="http://schemas.microsoft.com/3dmanufacturing/core/2015/02">\n<resources>\n']
    for k, vertices in enumerate(places):
        parts.append('<object id="%d" type="model"><mesh><vertices>' % (k + 1))
        parts.extend('<vertex x="%g" y="%g" z="%g"/>' % v for v in vertices)
        parts.append('</vertices><triangles>')
        parts.extend('<triangle v1="%d" v2="%d" v3="%d"/>' % t for t in TRIANGLES)
        parts.append('</triangles></mesh></object>\n')
    parts.append('</resources>\n<build>\n')
    parts.extend('<item objectid="%d"/>\n' % (k + 1) for k in range(len(places)))
    parts.append('</build>\n</model>\n')
    return ''.join(parts)


CONTENT_TYPES = ('<?xml version="1.0" encoding="UTF-8"?>\n'
                 '<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types">'
                 '<Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml"/>'
                 '<Default Extension="model" ContentType="application/vnd.ms-package.3dmanufacturing-3dmodel+xml"/>'
                 '</Types>\n')
RELS = ('<?xml version="1.0" encoding="UTF-8"?>\n'
        '<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">'
        '<Relationship Target="/3D/3dmodel.model" Id="rel0" '
        'Type="http://schemas.microsoft.com/3dmanufacturing/2013/01/3dmodel"/></Relationships>\n')


def main():
    if len(sys.argv) < 4:
        sys.exit(__doc__)
    n = int(sys.argv[1])
    size = float(sys.argv[4]) if len(sys.argv) > 4 else 10.0
    side = max(1, math.ceil(math.sqrt(n)))
    pitch = size + 3.0
    places = [cube_at((k % side) * pitch, (k // side) * pitch, size) for k in range(n)]
    with zipfile.ZipFile(sys.argv[2], 'w', zipfile.ZIP_DEFLATED) as z:
        z.writestr('VlrProDesc.xml', descriptor(n))
        for k, vertices in enumerate(places):
            z.writestr('ObjGeo/%d.vsg' % k, geometry_entry(vertices, size))
    with zipfile.ZipFile(sys.argv[3], 'w', zipfile.ZIP_DEFLATED) as z:
        z.writestr('[Content_Types].xml', CONTENT_TYPES)
        z.writestr('_rels/.rels', RELS)
        z.writestr('3D/3dmodel.model', model_3mf(places))
    print('objects=%d triangles=%d' % (n, n * len(TRIANGLES)))


if __name__ == '__main__':
    main()
