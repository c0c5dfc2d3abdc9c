#!/usr/bin/env python3
"""Writes toolbox.bmp, the control's 16 x 15, 16-colour toolbox picture (resource 30000):
a centile curve (the cumulative normal, in blue) over black axes, with a red mark on the curve
and grey guides to the axes. Run it again after changing the picture; the build uses the .bmp."""
import math
import struct
import sys

W, H = 16, 15
# The standard 16-colour palette, as RGB.
PALETTE = [
    (0x00, 0x00, 0x00), (0x80, 0x00, 0x00), (0x00, 0x80, 0x00), (0x80, 0x80, 0x00),
    (0x00, 0x00, 0x80), (0x80, 0x00, 0x80), (0x00, 0x80, 0x80), (0xC0, 0xC0, 0xC0),
    (0x80, 0x80, 0x80), (0xFF, 0x00, 0x00), (0x00, 0xFF, 0x00), (0xFF, 0xFF, 0x00),
    (0x00, 0x00, 0xFF), (0xFF, 0x00, 0xFF), (0x00, 0xFF, 0xFF), (0xFF, 0xFF, 0xFF),
]
BLACK, GREY, SILVER, RED, BLUE = 0, 8, 7, 9, 12


def picture():
    px = [[SILVER] * W for _ in range(H)]
    top, bottom, left = 1, 13, 2
    for y in range(top, bottom + 1):
        px[y][left - 1] = BLACK
    for x in range(left - 1, W):
        px[bottom][x] = BLACK

    def curve_y(x):
        phi = 0.5 * (1 + math.erf((x - 8.5) / 2.2 / math.sqrt(2)))
        return round(bottom - 1 - phi * (bottom - 1 - top))

    mark_x = 10
    mark_y = curve_y(mark_x)
    for y in range(mark_y + 2, bottom, 2):
        px[y][mark_x] = GREY
    for x in range(left, mark_x - 1, 2):
        px[mark_y][x] = GREY
    prev = curve_y(left)
    for x in range(left, W):
        y = curve_y(x)
        # A steep step is drawn as a vertical run so the line stays connected.
        for yy in range(min(y, prev + 1 if y > prev else prev - 1 if y < prev else y),
                        max(y, prev + 1 if y > prev else prev - 1 if y < prev else y) + 1):
            px[yy][x] = BLUE
        prev = y
    for dx in (0, 1):
        for dy in (-1, 0):
            px[mark_y + dy][mark_x + dx] = RED
    return px


def bmp(px):
    row_bytes = ((W * 4 + 31) // 32) * 4
    rows = []
    for y in reversed(range(H)):  # bottom-up
        r = bytearray()
        for x in range(0, W, 2):
            r.append((px[y][x] << 4) | px[y][x + 1])
        rows.append(bytes(r).ljust(row_bytes, b"\0"))
    bits = b"".join(rows)
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for (r, g, b) in PALETTE)
    info = struct.pack("<IiiHHIIiiII", 40, W, H, 1, 4, 0, len(bits), 2835, 2835, 16, 0)
    offset = 14 + len(info) + len(palette)
    header = struct.pack("<2sIHHI", b"BM", offset + len(bits), 0, 0, offset)
    return header + info + palette + bits


if __name__ == "__main__":
    out = sys.argv[1] if len(sys.argv) > 1 else "toolbox.bmp"
    data = bmp(picture())
    with open(out, "wb") as f:
        f.write(data)
    for row in picture():
        print("".join({BLACK: "#", GREY: ":", SILVER: ".", RED: "o", BLUE: "x"}[c] for c in row))
