#!/usr/bin/env python3
"""Draws the program's 32 x 32 icon (16 colours at most): a microcontroller with its pins,
and a green arrow writing into it.

    draw_icon.py                 the XPM the Qt dialog carries, to stdout
    draw_icon.py --png SIZE OUT  a PNG of SIZE x SIZE pixels (a multiple of 32: the pixels
                                 are repeated, so the drawing stays sharp) for the desktop's
                                 icon theme
"""
import struct
import sys
import zlib

W = H = 32
palette = {
    ".": "None",      # transparent
    "k": "#202020",   # chip body outline
    "b": "#404850",   # chip body
    "s": "#C0C0C0",   # pins
    "d": "#808080",   # pin shade
    "g": "#20A040",   # arrow
    "G": "#106020",   # arrow outline
    "w": "#F0F0F0",   # pin-1 dot
}
px = [["." for _ in range(W)] for _ in range(H)]


def rect(x0, y0, x1, y1, c):
    for y in range(y0, y1 + 1):
        for x in range(x0, x1 + 1):
            px[y][x] = c


# Pins on both long sides, then the body over their inner ends.
for i in range(6):
    y = 12 + i * 3
    rect(4, y, 9, y + 1, "s")
    rect(4, y + 1, 9, y + 1, "d")
    rect(22, y, 27, y + 1, "s")
    rect(22, y + 1, 27, y + 1, "d")
rect(8, 10, 23, 30, "k")
rect(9, 11, 22, 29, "b")
rect(11, 26, 12, 27, "w")

# The arrow: a shaft from the top edge and a head that ends inside the chip.
rect(14, 0, 17, 13, "G")
rect(15, 0, 16, 13, "g")
for r in range(7):
    y = 14 + r
    x0, x1 = 9 + r, 22 - r
    rect(x0, y, x1, y, "G")
    if x1 - x0 >= 2:
        rect(x0 + 1, y, x1 - 1, y, "g")



def write_png(size, path):
    if size % W != 0:
        sys.exit("draw_icon.py: the PNG size must be a multiple of %d" % W)
    scale = size // W
    rgba = {}
    for key, value in palette.items():
        if value == "None":
            rgba[key] = b"\0\0\0\0"
        else:
            rgba[key] = bytes.fromhex(value[1:]) + b"\xff"
    rows = b""
    for row in px:
        line = b"\0" + b"".join(rgba[c] * scale for c in row)  # filter type 0 (none)
        rows += line * scale

    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data +
                struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))

    header = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)  # 8-bit RGBA
    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) +
                chunk(b"IDAT", zlib.compress(rows, 9)) + chunk(b"IEND", b""))


def write_xpm():
    print("/* XPM */")
    print("static const char* const deruruzud_icon_xpm[] = {")
    print(f'"{W} {H} {len(palette)} 1",')
    for k, v in palette.items():
        print(f'"{k} c {v}",')
    for y, row in enumerate(px):
        print('"' + "".join(row) + '"' + ("," if y < H - 1 else ""))
    print("};")


if len(sys.argv) == 4 and sys.argv[1] == "--png":
    write_png(int(sys.argv[2]), sys.argv[3])
elif len(sys.argv) == 1:
    write_xpm()
else:
    sys.exit(__doc__)
