#!/usr/bin/env python3
"""Draws the launcher's icon: one 40x40 32-bit image of a study disc with a blue "L".

Usage: make_icon.py <out.ico>
The result is committed as resources/lumidra.ico; run this again only to change the drawing.
"""
import math
import struct
import sys

SIZE = 40


def pixel(x, y):
    """Returns (r, g, b, a) for the pixel centre (x + 0.5, y + 0.5)."""
    cx = cy = SIZE / 2
    px, py = x + 0.5, y + 0.5
    r = math.hypot(px - cx, py - cy)
    outer, hole = 19.0, 4.0
    # The letter L, blue, drawn over the disc.
    in_stem = 11 <= px <= 17 and 9 <= py <= 31
    in_foot = 11 <= px <= 29 and 25 <= py <= 31
    if in_stem or in_foot:
        return (24, 78, 168, 255)
    if r > outer + 0.5 or r < hole - 0.5:
        return (0, 0, 0, 0)
    # Anti-aliased rims: partial coverage at the outer edge and the hole.
    alpha = 255
    if r > outer - 0.5:
        alpha = int(255 * (outer + 0.5 - r))
    elif r < hole + 0.5:
        alpha = int(255 * (r - (hole - 0.5)))
    # Silver disc with a soft rainbow sheen that turns with the angle.
    angle = math.atan2(py - cy, px - cx)
    sheen = 0.5 + 0.5 * math.cos(2 * angle)
    base = 190 + int(40 * sheen)
    tint = (int(20 * math.sin(angle)), int(20 * math.sin(angle + 2.1)), int(20 * math.sin(angle + 4.2)))
    if r < hole + 3:
        base, tint = 150, (0, 0, 0)
    rgb = tuple(max(0, min(255, base + t)) for t in tint)
    return rgb + (alpha,)


def build_ico():
    xor = bytearray()
    for y in reversed(range(SIZE)):  # DIB rows are stored bottom-up
        for x in range(SIZE):
            r, g, b, a = pixel(x, y)
            xor += bytes((b, g, r, a))
    mask_stride = ((SIZE + 31) // 32) * 4
    and_mask = bytearray()
    for y in reversed(range(SIZE)):
        row = bytearray(mask_stride)
        for x in range(SIZE):
            if pixel(x, y)[3] == 0:
                row[x // 8] |= 0x80 >> (x % 8)
        and_mask += row
    header = struct.pack("<IiiHHIIiiII", 40, SIZE, SIZE * 2, 1, 32, 0, len(xor) + len(and_mask), 0, 0, 0, 0)
    image = header + xor + and_mask
    icondir = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", SIZE, SIZE, 0, 0, 1, 32, len(image), 6 + 16)
    return icondir + entry + image


if __name__ == "__main__":
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    with open(sys.argv[1], "wb") as out:
        out.write(build_ico())
