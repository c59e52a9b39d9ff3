#!/usr/bin/env python3
"""Writes resources/tessaline-icon.png: the application's 64 x 64 window icon.

Two small tables, one above the other, with an arrow carrying rows from the upper into the lower.
Only the standard library is used.

    python3 scripts/make-app-icon.py [output path]
"""

import os
import struct
import sys
import zlib

SIZE = 64
CLEAR = (0, 0, 0, 0)
BORDER = (40, 60, 90, 255)
HEADER = (52, 110, 180, 255)
CELL = (250, 250, 250, 255)
GRID = (170, 185, 205, 255)
ARROW = (230, 130, 30, 255)


def table(image, left, top, width, height):
    for y in range(top, top + height):
        for x in range(left, left + width):
            edge = x in (left, left + width - 1) or y in (top, top + height - 1)
            if edge:
                colour = BORDER
            elif y < top + 6:
                colour = HEADER
            elif (y - top - 6) % 5 == 4 or (x - left) % 11 == 0:
                colour = GRID
            else:
                colour = CELL
            image[y][x] = colour


def arrow(image):
    # A shaft down the right side and a head pointing into the lower table.
    for y in range(22, 40):
        for x in range(50, 55):
            image[y][x] = ARROW
    for row in range(8):
        y = 40 + row
        for x in range(52 - (7 - row), 53 + (7 - row)):
            image[y][x] = ARROW


def png(image):
    raw = b"".join(b"\x00" + bytes(c for px in row for c in px) for row in image)

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

    header = struct.pack(">IIBBBBB", SIZE, SIZE, 8, 6, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(raw, 9))
            + chunk(b"IEND", b""))


def main():
    image = [[CLEAR] * SIZE for _ in range(SIZE)]
    table(image, 4, 4, 42, 24)
    table(image, 4, 36, 42, 24)
    arrow(image)
    here = os.path.dirname(os.path.abspath(__file__))
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "..", "resources",
                                                             "tessaline-icon.png")
    with open(out, "wb") as f:
        f.write(png(image))


if __name__ == "__main__":
    main()
