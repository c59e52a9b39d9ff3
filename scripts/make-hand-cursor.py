#!/usr/bin/env python3
"""Writes resources/HAND-M.CUR: a 32 x 32 pointing hand in the Windows cursor format.

The file is an ICO container of type 2 (cursor) with one image: a 32-bit BGRA bitmap followed by
its 1-bit AND mask, the hotspot at the tip of the index finger. Only the standard library is used.

    python3 scripts/make-hand-cursor.py [output path]
"""

import math
import os
import struct
import sys

SIZE = 32
HOTSPOT = (12, 1)


def capsule(ax, ay, bx, by, radius):
    """A stroke of the given radius from (ax, ay) to (bx, by): a finger."""

    def inside(x, y):
        dx, dy = bx - ax, by - ay
        length2 = dx * dx + dy * dy
        t = 0.0 if length2 == 0 else max(0.0, min(1.0, ((x - ax) * dx + (y - ay) * dy) / length2))
        px, py = ax + t * dx, ay + t * dy
        return math.hypot(x - px, y - py) <= radius

    return inside


def rounded_rect(left, top, right, bottom, radius):
    def inside(x, y):
        cx = min(max(x, left + radius), right - radius)
        cy = min(max(y, top + radius), bottom - radius)
        return math.hypot(x - cx, y - cy) <= radius

    return inside


INDEX = capsule(12.0, 3.5, 12.0, 16.0, 2.6)
FINGERS = [
    capsule(16.4, 12.5, 16.4, 17.0, 2.3),
    capsule(20.4, 13.5, 20.4, 18.0, 2.3),
    capsule(24.0, 15.0, 24.0, 19.0, 2.0),
]
THUMB = capsule(5.0, 16.0, 10.0, 22.0, 2.6)
PALM = rounded_rect(9.5, 14.5, 26.0, 27.5, 3.0)
CUFF = rounded_rect(11.5, 26.5, 24.5, 31.0, 0.5)
PARTS = [INDEX, THUMB, PALM, CUFF] + FINGERS


def in_part(part, x, y):
    return part(x + 0.5, y + 0.5)


def in_hand(x, y):
    return 0 <= x < SIZE and 0 <= y < SIZE and any(in_part(p, x, y) for p in PARTS)


def on_edge(part, x, y):
    """A pixel of the part with a 4-neighbour outside it."""
    return in_part(part, x, y) and any(
        not in_part(part, x + dx, y + dy) for dx, dy in ((1, 0), (-1, 0), (0, 1), (0, -1)))


def pixel(x, y):
    """(blue, green, red, alpha) of one pixel, y counted from the top."""
    if not in_hand(x, y):
        return (0, 0, 0, 0)
    outline = any(not in_hand(x + dx, y + dy) for dx, dy in ((1, 0), (-1, 0), (0, 1), (0, -1)))
    # Creases between the fingers, the thumb and the palm, and the cuff's seam.
    crease = (any(on_edge(f, x, y) for f in FINGERS) and y < 17) or (on_edge(INDEX, x, y) and y >= 13)
    crease = crease or (on_edge(THUMB, x, y) and x >= 9) or (y == 27 and in_part(CUFF, x, y))
    if outline or crease:
        return (0, 0, 0, 255)
    return (255, 255, 255, 255)


def cursor_bytes():
    rows = [[pixel(x, y) for x in range(SIZE)] for y in range(SIZE)]
    colour = bytearray()
    mask = bytearray()
    for row in reversed(rows):  # bitmaps are stored bottom-up
        bits = 0
        for x, (b, g, r, a) in enumerate(row):
            colour += bytes((b, g, r, a))
            if a == 0:
                bits |= 1 << (31 - x)  # AND mask: 1 keeps the screen (transparent)
        mask += struct.pack(">I", bits)
    header = struct.pack("<IiiHHIIiiII", 40, SIZE, SIZE * 2, 1, 32, 0, len(colour) + len(mask),
                         0, 0, 0, 0)
    image = header + colour + mask
    directory = struct.pack("<HHH", 0, 2, 1)
    entry = struct.pack("<BBBBHHII", SIZE, SIZE, 0, 0, HOTSPOT[0], HOTSPOT[1], len(image),
                        len(directory) + 16)
    return directory + entry + image


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "..", "resources", "HAND-M.CUR")
    with open(out, "wb") as f:
        f.write(cursor_bytes())
    for y in range(SIZE):  # a preview on standard error
        sys.stderr.write("".join(".#"[pixel(x, y)[0] == 0 and pixel(x, y)[3] != 0] if pixel(x, y)[3] else " "
                                 for x in range(SIZE)) + "\n")


if __name__ == "__main__":
    main()
