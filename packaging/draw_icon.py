#!/usr/bin/env python3
"""Draws the program's 32 x 32 icon (16 colours at most) and writes it as XPM to stdout:
a microcontroller with its pins, and a green arrow writing into it."""

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

print("/* XPM */")
print("static const char* const deruruzud_icon_xpm[] = {")
print(f'"{W} {H} {len(palette)} 1",')
for k, v in palette.items():
    print(f'"{k} c {v}",')
for y, row in enumerate(px):
    print('"' + "".join(row) + '"' + ("," if y < H - 1 else ""))
print("};")
