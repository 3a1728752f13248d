#!/usr/bin/env python3
"""Draws tavlo.png (256 x 256) with the shapes of tavlo.svg, for desktops that want a bitmap.
Rounded rectangles and the vertical gradient only, 4 x 4 supersampled; run it after changing
the SVG's shapes here too."""
import struct
import zlib

SIZE, SAMPLES = 256, 4

def hex_rgb(text):
    return tuple(int(text[i:i + 2], 16) for i in (1, 3, 5))

# (x, y, width, height, radius, colour or None for the gradient, opacity), in SVG order.
SHAPES = [
    (16, 16, 224, 224, 44, None, 1.0),
    (40, 60, 56, 14, 7, "#ffffff", 0.9), (52, 86, 44, 14, 7, "#ffd84a", 1.0),
    (52, 112, 44, 14, 7, "#ffffff", 0.7), (52, 138, 44, 14, 7, "#ffffff", 0.7),
    (40, 164, 56, 14, 7, "#ffffff", 0.9),
    (110, 48, 110, 160, 12, "#ffffff", 1.0), (124, 66, 70, 10, 5, "#1c4a97", 1.0),
    (124, 88, 82, 8, 4, "#b8c4d6", 1.0), (124, 104, 74, 8, 4, "#b8c4d6", 1.0),
    (124, 124, 82, 34, 6, "#eef2f8", 1.0), (132, 133, 50, 6, 3, "#3b7be0", 1.0),
    (132, 145, 62, 6, 3, "#8aa2c6", 1.0), (124, 168, 66, 8, 4, "#b8c4d6", 1.0),
    (124, 184, 50, 8, 4, "#b8c4d6", 1.0),
]
TOP, BOTTOM = hex_rgb("#3b7be0"), hex_rgb("#1c4a97")

def inside(px, py, x, y, w, h, r):
    if px < x or px > x + w or py < y or py > y + h:
        return False
    cx = min(max(px, x + r), x + w - r)
    cy = min(max(py, y + r), y + h - r)
    return (px - cx) ** 2 + (py - cy) ** 2 <= r * r

def colour_at(px, py):
    rgba = [0.0, 0.0, 0.0, 0.0]
    for x, y, w, h, r, colour, opacity in SHAPES:
        if not inside(px, py, x, y, w, h, r):
            continue
        if colour is None:
            t = (py - y) / h
            rgb = tuple(TOP[i] + (BOTTOM[i] - TOP[i]) * t for i in range(3))
        else:
            rgb = hex_rgb(colour)
        a = opacity
        out_a = a + rgba[3] * (1 - a)
        for i in range(3):
            rgba[i] = (rgb[i] * a + rgba[i] * rgba[3] * (1 - a)) / out_a if out_a else 0
        rgba[3] = out_a
    return rgba

rows = []
for row in range(SIZE):
    line = bytearray([0])
    for column in range(SIZE):
        total = [0.0, 0.0, 0.0, 0.0]
        for sy in range(SAMPLES):
            for sx in range(SAMPLES):
                r, g, b, a = colour_at(column + (sx + 0.5) / SAMPLES, row + (sy + 0.5) / SAMPLES)
                total = [total[0] + r * a, total[1] + g * a, total[2] + b * a, total[3] + a]
        n = SAMPLES * SAMPLES
        alpha = total[3] / n
        rgb = [int(round(total[i] / total[3])) if total[3] else 0 for i in range(3)]
        line += bytes(rgb + [int(round(alpha * 255))])
    rows.append(bytes(line))

def chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)

png = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", SIZE, SIZE, 8, 6, 0, 0, 0))
png += chunk(b"IDAT", zlib.compress(b"".join(rows), 9)) + chunk(b"IEND", b"")
with open("tavlo.png", "wb") as out:
    out.write(png)
