#!/usr/bin/env python3
"""A project whose support entry is flooded with region records that each
carry one cone (contact point only), streamed into the archive.

Usage: regions_with_cones.py BASE.vpf OUT.vpf MEGABYTES [vertex|facet]
BASE: any project of this version (its first object's entry is replaced).
"""
import sys
import zipfile

base_path, out_path, mb = sys.argv[1], sys.argv[2], int(sys.argv[3])
kind = sys.argv[4] if len(sys.argv) > 4 else "vertex"
CONE = ('<ConeSupport ConeID="0" ConeSupportType="1" GenerateBase="false" ContactRadius="0.5" BeamRadius="0.6" '
        'BottomRadius="1" BaseThickness="1" BaseSize="4" HeadExtend="2.5" ContactPoint="0;0;0.1" ContactNormal="0;0;-1"/>')
AREA = {"vertex": '<AreaSupport AreaType="1" AreaID="0" VertexID="7" NumConeShape="1">',
        "facet": '<AreaSupport AreaType="0" AreaID="0" Density="5" NumTriangle="1" TriangleMeshIndexs="5" NumEdge="0" '
                 'NumConeShape="1">'}[kind]
rec = AREA + CONE + "</AreaSupport>\n"
HEAD = ('<?xml version="1.0" encoding="UTF-8"?>\n<SupportGen>\n<Header SupportVersion="1"/>\n'
        '<General BaseType="0" RemoveExternal="false" MaxAngle="46" Density="5"/>\n<AreaList NumberArea="{n}">\n')
count = mb * (1 << 20) // len(rec)
base = zipfile.ZipFile(base_path)
with zipfile.ZipFile(out_path, "w", zipfile.ZIP_DEFLATED) as out:
    for info in base.infolist():
        if info.filename != "Support/0.xml":
            out.writestr(info.filename, base.read(info.filename))
    with out.open("Support/0.xml", "w", force_zip64=True) as e:
        e.write(HEAD.format(n=count).encode())
        block = (rec * 4096).encode()
        for _ in range(count // 4096):
            e.write(block)
        e.write(b"</AreaList>\n</SupportGen>\n")
