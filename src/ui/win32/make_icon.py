#!/usr/bin/env python3
"""Draws the program's icon: one 32 x 32 image in 16 colours (4 bits per pixel), written
as a .ico file. The picture is a memory chip with a downward arrow (new firmware going
in) on a blue tile; drawn here so that the program carries no borrowed artwork.

    make_icon.py OUT.ico
"""
import struct
import sys

# The standard 16-colour palette as (red, green, blue); written out as BGR0 quads.
PALETTE = [
    (0x00, 0x00, 0x00), (0x80, 0x00, 0x00), (0x00, 0x80, 0x00), (0x80, 0x80, 0x00),
    (0x00, 0x00, 0x80), (0x80, 0x00, 0x80), (0x00, 0x80, 0x80), (0xC0, 0xC0, 0xC0),
    (0x80, 0x80, 0x80), (0xFF, 0x00, 0x00), (0x00, 0xFF, 0x00), (0xFF, 0xFF, 0x00),
    (0x00, 0x00, 0xFF), (0xFF, 0x00, 0xFF), (0x00, 0xFF, 0xFF), (0xFF, 0xFF, 0xFF),
]
BLACK, NAVY, SILVER, GREY, YELLOW, BLUE, WHITE = 0, 4, 7, 8, 11, 12, 15
TRANSPARENT = None
SIZE = 32


def draw():
    px = [[TRANSPARENT] * SIZE for _ in range(SIZE)]

    def rect(x0, y0, x1, y1, colour):
        for y in range(y0, y1 + 1):
            for x in range(x0, x1 + 1):
                px[y][x] = colour

    # Tile with cut corners.
    rect(1, 1, 30, 30, BLUE)
    for (x, y) in [(1, 1), (30, 1), (1, 30), (30, 30)]:
        px[y][x] = TRANSPARENT
    rect(1, 29, 30, 30, NAVY)
    rect(29, 1, 30, 30, NAVY)
    # Chip body with pins on both sides.
    rect(8, 12, 23, 26, BLACK)
    rect(9, 13, 22, 25, GREY)
    for y in range(14, 26, 3):
        rect(5, y, 7, y + 1, SILVER)
        rect(24, y, 26, y + 1, SILVER)
    px[14][10] = WHITE  # pin-1 mark
    # Arrow coming down into the chip.
    rect(14, 3, 17, 10, YELLOW)
    for i in range(5):
        rect(11 + i, 11 + i, 20 - i, 11 + i, YELLOW)
    return px


def ico(px):
    xor = bytearray()
    mask = bytearray()
    for row in reversed(px):  # bottom-up
        for x in range(0, SIZE, 2):
            hi = row[x] if row[x] is not None else 0
            lo = row[x + 1] if row[x + 1] is not None else 0
            xor.append((hi << 4) | lo)
        bits = 0
        for x in range(SIZE):
            bits = (bits << 1) | (1 if row[x] is None else 0)
        mask += struct.pack(">I", bits)
    palette = b"".join(struct.pack("BBBB", b, g, r, 0) for (r, g, b) in PALETTE)
    header = struct.pack("<IiiHHIIiiII", 40, SIZE, SIZE * 2, 1, 4, 0, len(xor) + len(mask),
                         0, 0, 16, 0)
    image = header + palette + bytes(xor) + bytes(mask)
    directory = struct.pack("<HHH", 0, 1, 1) + struct.pack(
        "<BBBBHHII", SIZE, SIZE, 16, 0, 1, 4, len(image), 6 + 16)
    return directory + image


if __name__ == "__main__":
    with open(sys.argv[1], "wb") as f:
        f.write(ico(draw()))
