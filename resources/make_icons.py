#!/usr/bin/env python3
"""Draws the application's images: the icon (a stylised resin drop over a
build platform) as a Windows icon file with 16, 32 and 48 pixel images, the
tool-bar icons, the view's cursors and the background and platform textures
as PNG files. Every image is drawn here from simple shapes.
Run from this folder: python3 make_icons.py"""
import math
import os
import struct
import zlib


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


def write_png(path, width, height, pixel_fn):
    """An RGBA PNG whose pixel (x, y) (y down) is pixel_fn(x, y)."""
    raw = bytearray()
    for y in range(height):
        raw.append(0)
        for x in range(width):
            raw += bytes(pixel_fn(x, y))
    def chunk(tag, data):
        body = tag + data
        return struct.pack('>I', len(data)) + body + struct.pack('>I', zlib.crc32(body) & 0xffffffff)
    png = b'\x89PNG\r\n\x1a\n'
    png += chunk(b'IHDR', struct.pack('>IIBBBBB', width, height, 8, 6, 0, 0, 0))
    png += chunk(b'IDAT', zlib.compress(bytes(raw), 9))
    png += chunk(b'IEND', b'')
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, 'wb') as f:
        f.write(png)


def seg_dist(px, py, ax, ay, bx, by):
    """Distance from p to the segment ab."""
    dx, dy = bx - ax, by - ay
    L = dx * dx + dy * dy
    t = 0.0 if L == 0 else max(0.0, min(1.0, ((px - ax) * dx + (py - ay) * dy) / L))
    return math.hypot(px - ax - t * dx, py - ay - t * dy)


def glyph(strokes, colour, size=32, width=2.2, discs=()):
    """A pixel function drawing line strokes and filled discs (in 0..1 units)."""
    def fn(x, y):
        u, v = (x + 0.5) / size, (y + 0.5) / size
        d = min([seg_dist(u, v, *s) for s in strokes] + [1.0]) * size
        for cx, cy, r in discs:
            d = min(d, max(0.0, (math.hypot(u - cx, v - cy) - r) * size))
        a = max(0.0, min(1.0, width / 2 + 0.5 - d))
        return (colour[0], colour[1], colour[2], int(255 * a))
    return fn


BLUE = (30, 110, 200)
ORANGE = (230, 120, 30)
GREEN = (40, 150, 70)
RED = (200, 40, 40)
DARK = (50, 55, 65)

ARROW_UP = [(0.5, 0.15, 0.5, 0.7), (0.5, 0.15, 0.3, 0.35), (0.5, 0.15, 0.7, 0.35)]
BOX = [(0.2, 0.8, 0.8, 0.8), (0.2, 0.8, 0.2, 0.55), (0.8, 0.8, 0.8, 0.55)]
ARROW_DOWN = [(0.5, 0.15, 0.5, 0.65), (0.5, 0.65, 0.3, 0.45), (0.5, 0.65, 0.7, 0.45)]

TOOLBAR = {
    'ImportObject.png': (BOX + ARROW_DOWN, BLUE, ()),
    'translate_32.png': ([(0.15, 0.5, 0.85, 0.5), (0.5, 0.15, 0.5, 0.85), (0.85, 0.5, 0.72, 0.38),
                          (0.85, 0.5, 0.72, 0.62), (0.5, 0.15, 0.38, 0.28), (0.5, 0.15, 0.62, 0.28)], BLUE, ()),
    'rotate_32.png': ([(0.25 + 0.25 * math.cos(a / 8.0), 0.5 + 0.25 * math.sin(a / 8.0),
                        0.25 + 0.25 * math.cos((a + 1) / 8.0), 0.5 + 0.25 * math.sin((a + 1) / 8.0))
                       for a in range(0, 40)], BLUE, ()),
    'rescale_32.png': ([(0.2, 0.8, 0.8, 0.2), (0.8, 0.2, 0.55, 0.2), (0.8, 0.2, 0.8, 0.45),
                        (0.2, 0.8, 0.2, 0.55), (0.2, 0.8, 0.45, 0.8)], BLUE, ()),
    'Hollow_32.png': ([(0.2, 0.2, 0.8, 0.2), (0.8, 0.2, 0.8, 0.8), (0.8, 0.8, 0.2, 0.8), (0.2, 0.8, 0.2, 0.2),
                       (0.38, 0.38, 0.62, 0.38), (0.62, 0.38, 0.62, 0.62), (0.62, 0.62, 0.38, 0.62),
                       (0.38, 0.62, 0.38, 0.38)], ORANGE, ()),
    'generateSupport.png': ([(0.15, 0.25, 0.85, 0.25), (0.3, 0.25, 0.3, 0.85), (0.5, 0.25, 0.5, 0.85),
                             (0.7, 0.25, 0.7, 0.85), (0.15, 0.85, 0.85, 0.85)], ORANGE, ()),
    'Export.png': (BOX + ARROW_UP, GREEN, ()),
    'Export_Gcode.png': (BOX + ARROW_UP + [(0.1, 0.1, 0.3, 0.1)], DARK, ()),
    'ZSliceView.png': ([(0.15, 0.3, 0.85, 0.3), (0.15, 0.5, 0.85, 0.5), (0.15, 0.7, 0.85, 0.7)], BLUE, ()),
    'remove.png': ([(0.25, 0.25, 0.75, 0.75), (0.75, 0.25, 0.25, 0.75)], RED, ()),
    'recentObject.png': ([(0.5, 0.5, 0.5, 0.25), (0.5, 0.5, 0.68, 0.6)] + [(0.5 + 0.33 * math.cos(a / 5.0), 0.5 + 0.33 * math.sin(a / 5.0), 0.5 + 0.33 * math.cos((a + 1) / 5.0), 0.5 + 0.33 * math.sin((a + 1) / 5.0)) for a in range(0, 32)], DARK,
                         ()),
    'Print.png': ([(0.2, 0.4, 0.8, 0.4), (0.2, 0.4, 0.2, 0.75), (0.8, 0.4, 0.8, 0.75), (0.2, 0.75, 0.8, 0.75),
                   (0.3, 0.4, 0.3, 0.15), (0.7, 0.4, 0.7, 0.15), (0.3, 0.15, 0.7, 0.15)], DARK, ()),
}

CURSORS = {
    'object_rotate_left.png': ([(0.5 + 0.3 * math.cos(a / 6.0), 0.5 + 0.3 * math.sin(a / 6.0),
                                 0.5 + 0.3 * math.cos((a + 1) / 6.0), 0.5 + 0.3 * math.sin((a + 1) / 6.0))
                                for a in range(0, 30)] + [(0.8, 0.5, 0.7, 0.35), (0.8, 0.5, 0.9, 0.35)], DARK, ()),
    'panning_m_24.png': (TOOLBAR['translate_32.png'][0], DARK, ()),
    'delete_column_support.png': ([(0.15, 0.15, 0.45, 0.45), (0.45, 0.15, 0.15, 0.45), (0.7, 0.3, 0.7, 0.9)],
                                  RED, ()),
    'add_column_support.png': ([(0.3, 0.1, 0.3, 0.5), (0.1, 0.3, 0.5, 0.3), (0.7, 0.3, 0.7, 0.9)], GREEN, ()),
}


# Panel buttons and marks (24 pixels).
DIALOG = {
    'close.png': ([(0.25, 0.25, 0.75, 0.75), (0.75, 0.25, 0.25, 0.75)], DARK, ()),
    'CircleSupport24.png': ([(0.35, 0.2, 0.35, 0.85), (0.65, 0.2, 0.65, 0.85), (0.35, 0.2, 0.65, 0.2),
                             (0.35, 0.85, 0.65, 0.85)], ORANGE, ()),
    'CrossSupport24.png': ([(0.5, 0.15, 0.5, 0.85), (0.25, 0.3, 0.75, 0.7), (0.75, 0.3, 0.25, 0.7)], ORANGE, ()),
    'SupportNoBase.png': ([(0.5, 0.15, 0.5, 0.85)], ORANGE, ()),
    'SupportBaseFull.png': ([(0.5, 0.15, 0.5, 0.75), (0.1, 0.82, 0.9, 0.82)], ORANGE, ()),
    'SupportBaseCircle.png': ([(0.5, 0.15, 0.5, 0.75), (0.3, 0.82, 0.7, 0.82)], ORANGE, ()),
    'TriangleShow.png': ([(0.25, 0.4, 0.5, 0.65), (0.5, 0.65, 0.75, 0.4)], DARK, ()),
    'TriangleHide.png': ([(0.25, 0.6, 0.5, 0.35), (0.5, 0.35, 0.75, 0.6)], DARK, ()),
    'Slice_ViewHatching.png': ([(0.15, 0.55, 0.55, 0.15), (0.3, 0.7, 0.7, 0.3), (0.45, 0.85, 0.85, 0.45)], BLUE, ()),
    'Slice_ViewPart.png': ([(0.2, 0.2, 0.8, 0.2), (0.8, 0.2, 0.8, 0.8), (0.8, 0.8, 0.2, 0.8), (0.2, 0.8, 0.2, 0.2),
                            (0.1, 0.5, 0.9, 0.5)], BLUE, ()),
    'ScaleDialog.png': (TOOLBAR['rescale_32.png'][0], BLUE, ()),
}


def logo(x, y):
    """The maker's mark for the About box: the icon's drop beside three bars."""
    if 4 <= x < 60 and 4 <= y < 60:
        return pixel(x - 4, y - 4, 56)
    if 72 <= x < 188 and y in range(14, 22) or 72 <= x < 160 and y in range(28, 36) or 72 <= x < 130 and \
            y in range(42, 50):
        return (40, 48, 60, 255)
    return (0, 0, 0, 0)


def gradient(top, bottom, radial=False):
    """A 256 x 256 gradient, vertical or radial from the centre."""
    def fn(x, y):
        t = min(1.0, math.hypot(x - 128, y - 128) / 181.0) if radial else y / 255.0
        return tuple(int(a + (b - a) * t) for a, b in zip(top, bottom)) + (255,)
    return fn


def stone(tint):
    """A dark graphite background: a vertical gradient with a faint grain."""
    def fn(x, y):
        g = 70 - int(40 * y / 255.0)
        n = ((x * 7919 + y * 104729) % 13) - 6
        return (max(0, g + n + tint[0]), max(0, g + n + tint[1]), max(0, g + 8 + n + tint[2]), 255)
    return fn


def platform(border):
    """A light build plate with a darker rim (the rim marks the plate's edge)."""
    def fn(x, y):
        e = min(x, y, 255 - x, 255 - y)
        if e < 8:
            return border + (255,)
        shade = 200 + (((x // 16) + (y // 16)) % 2) * 6
        return (shade, shade + 4, shade + 8, 255)
    return fn


def write_qrc(path):
    """The resource list: every image under the names the program asks for."""
    lines = ['<!DOCTYPE RCC>', '<RCC version="1.0">']

    def group(prefix, entries):
        lines.append('  <qresource prefix="%s">' % prefix)
        for alias, source in entries:
            lines.append('    <file alias="%s">%s</file>' % (alias, source))
        lines.append('  </qresource>')

    def folder(alias_dir, source_dir, names=None):
        return [('%s/%s' % (alias_dir, f), '%s/%s' % (source_dir, f))
                for f in sorted(names or os.listdir(source_dir))]

    group('/MainWindow', [('Resources/Velar.ico', 'Velar.ico')] + folder('Resources/toolbar', 'toolbar'))
    group('/cursors', folder('Resources/cursor', 'cursor'))
    group('/bkground', folder('Resources/bkground', 'bkground'))
    group('/Dialog', folder('Resources/Dialog', 'dialog'))
    group('/Velar3D', folder('Resources/Dialog', 'dialog', ['ScaleDialog.png', 'close.png']))
    lines.append('</RCC>')
    with open(path, 'w') as f:
        f.write('\n'.join(lines) + '\n')


if __name__ == '__main__':
    write_ico('Velar.ico', [16, 32, 48])
    for name, (strokes, colour, discs) in TOOLBAR.items():
        write_png(os.path.join('toolbar', name), 32, 32, glyph(strokes, colour, 32, 2.6, discs))
    for name, (strokes, colour, discs) in DIALOG.items():
        write_png(os.path.join('dialog', name), 24, 24, glyph(strokes, colour, 24, 2.0, discs))
    write_png(os.path.join('dialog', 'logo_norvane.png'), 192, 64, logo)
    CURSORS['object_rescale.png'] = (TOOLBAR['rescale_32.png'][0], DARK, ())
    for name, (strokes, colour, discs) in CURSORS.items():
        write_png(os.path.join('cursor', name), 24, 24, glyph(strokes, colour, 24, 2.0, discs))
    backgrounds = {
        'stone_graphite_tarn.png': stone((0, 0, 6)),
        'stone_graphite_tarn_200.png': stone((4, 0, 0)),
        'stone_graphite.png': stone((0, 0, 0)),
        'platformBgr_tarn.png': platform((90, 100, 115)),
        'platformBgr_tarn200.png': platform((110, 95, 90)),
        'platformBgr.png': platform((95, 95, 95)),
        'black_gradient.png': gradient((60, 60, 66), (0, 0, 0)),
        'RadGrad.png': gradient((120, 125, 135), (30, 32, 38), radial=True),
    }
    for name, fn in backgrounds.items():
        write_png(os.path.join('bkground', name), 256, 256, fn)
    write_qrc('velar.qrc')
