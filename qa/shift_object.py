#!/usr/bin/env python3
"""Copy a project, moving the vertices of one object by (dx, dy, dz).

Usage: shift_object.py IN.vpf OUT.vpf OBJECT_INDEX DX DY DZ
The support entry is left as it was (its cones stay where they were saved).
"""
import struct
import sys
import zipfile

src, dst, idx, dx, dy, dz = sys.argv[1], sys.argv[2], int(sys.argv[3]), *map(float, sys.argv[4:7])
zin = zipfile.ZipFile(src)
zout = zipfile.ZipFile(dst, "w", zipfile.ZIP_DEFLATED)
for info in zin.infolist():
    data = zin.read(info.filename)
    if info.filename == f"ObjGeo/{idx}.vsg":
        b = bytearray(data)
        mn = struct.unpack_from("<3f", b, 260)
        mx = struct.unpack_from("<3f", b, 272)
        struct.pack_into("<3f", b, 260, mn[0] + dx, mn[1] + dy, mn[2] + dz)
        struct.pack_into("<3f", b, 272, mx[0] + dx, mx[1] + dy, mx[2] + dz)
        v = struct.unpack_from("<I", b, 540)[0]
        for i in range(v):
            x, y, z = struct.unpack_from("<3f", b, 544 + 12 * i)
            struct.pack_into("<3f", b, 544 + 12 * i, x + dx, y + dy, z + dz)
        data = bytes(b)
    zout.writestr(info.filename, data)
zout.close()
