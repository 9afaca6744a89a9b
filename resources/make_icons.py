#!/usr/bin/env python3
"""Draws the application icon (a stylised resin drop over a build platform)
and writes it as a Windows icon file with 16, 32 and 48 pixel images.
Run from this folder: python3 make_icons.py"""
import math
import struct


def pixel(x, y, size):
    """RGBA of one pixel of the icon at the given size."""
    s = float(size)
    u, v = (x + 0.5) / s, (y + 0.5) / s
    # Platform: a dark bar along the bottom.
    if 0.78 <= v <= 0.90 and 0.12 <= u <= 0.88:
        return (40, 48, 60, 255)
    # Drop: a circle with a pointed top.
    cx, cy, r = 0.5, 0.52, 0.24
    d = math.hypot(u - cx, v - cy)
    inside = d <= r
    if not inside and v < cy:
        # The tip: between two lines from (0.5, 0.08) tangent-ish to the circle.
        half = (v - 0.08) / (cy - 0.08) * r
        inside = v >= 0.08 and abs(u - cx) <= half
    if inside:
        shade = 1.0 - 0.45 * min(1.0, d / r)
        return (int(30 * shade), int(140 * shade + 40), int(230 * shade + 20), 255)
    return (0, 0, 0, 0)


def bmp_entry(size):
    """A 32-bit BMP image as stored inside an .ico (bottom-up, with AND mask)."""
    header = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    rows = bytearray()
    for y in range(size - 1, -1, -1):
        for x in range(size):
            r, g, b, a = pixel(x, y, size)
            rows += bytes((b, g, r, a))
    mask_row = ((size + 31) // 32) * 4
    mask = bytes(mask_row * size)  # all opaque; alpha decides
    return header + bytes(rows) + mask


def write_ico(path, sizes):
    images = [bmp_entry(s) for s in sizes]
    out = bytearray(struct.pack('<HHH', 0, 1, len(sizes)))
    offset = 6 + 16 * len(sizes)
    for s, data in zip(sizes, images):
        out += struct.pack('<BBBBHHII', s % 256, s % 256, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    for data in images:
        out += data
    with open(path, 'wb') as f:
        f.write(out)


if __name__ == '__main__':
    write_ico('Velar.ico', [16, 32, 48])
