#!/usr/bin/env python3
"""Draws the program icon (one 32 x 32, 16-colour image) and writes it as res/tavboot.ico."""
import struct
import sys
from pathlib import Path

SIZE = 32

# The standard 16-colour palette as (red, green, blue), in the platform's order.
PALETTE = [
    (0x00, 0x00, 0x00), (0x80, 0x00, 0x00), (0x00, 0x80, 0x00), (0x80, 0x80, 0x00),
    (0x00, 0x00, 0x80), (0x80, 0x00, 0x80), (0x00, 0x80, 0x80), (0xC0, 0xC0, 0xC0),
    (0x80, 0x80, 0x80), (0xFF, 0x00, 0x00), (0x00, 0xFF, 0x00), (0xFF, 0xFF, 0x00),
    (0x00, 0x00, 0xFF), (0xFF, 0x00, 0xFF), (0x00, 0xFF, 0xFF), (0xFF, 0xFF, 0xFF),
]
BLACK, NAVY, WHITE, GREY, YELLOW, LIME = 0, 4, 15, 8, 11, 10
TRANSPARENT = None


def draw():
    """A chip with pins on both sides and a yellow arrow pointing down into it."""
    pixels = [[TRANSPARENT] * SIZE for _ in range(SIZE)]

    def fill(x0, y0, x1, y1, colour):
        for y in range(y0, y1 + 1):
            for x in range(x0, x1 + 1):
                pixels[y][x] = colour

    fill(7, 10, 24, 29, BLACK)          # chip outline
    fill(8, 11, 23, 28, NAVY)           # chip body
    for y in range(12, 28, 3):          # pins
        fill(3, y, 6, y + 1, GREY)
        fill(25, y, 28, y + 1, GREY)
    fill(10, 26, 21, 27, LIME)          # programmed flash
    fill(14, 1, 17, 14, YELLOW)         # arrow shaft
    for row in range(7):                # arrow head
        fill(10 + row, 15 + row, 21 - row, 15 + row, YELLOW)
    fill(14, 1, 14, 14, WHITE)          # highlight on the shaft
    return pixels


def encode(pixels):
    """ICONDIR, one ICONDIRENTRY, then the DIB: header, palette, XOR bits, AND mask."""
    xor_rows, and_rows = [], []
    for y in reversed(range(SIZE)):     # DIB rows run bottom-up
        row = pixels[y]
        nibbles = [0 if c is TRANSPARENT else c for c in row]
        xor_rows.append(bytes((nibbles[x] << 4) | nibbles[x + 1] for x in range(0, SIZE, 2)))
        mask = 0
        for x, c in enumerate(row):
            if c is TRANSPARENT:
                mask |= 1 << (SIZE - 1 - x)
        and_rows.append(struct.pack(">I", mask))
    header = struct.pack("<IiiHHIIiiII", 40, SIZE, SIZE * 2, 1, 4, 0, 0, 0, 0, 16, 0)
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in PALETTE)
    image = header + palette + b"".join(xor_rows) + b"".join(and_rows)
    directory = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", SIZE, SIZE, 16, 0, 1, 4, len(image), 6 + 16)
    return directory + entry + image


def main():
    target = Path(sys.argv[1]) if len(sys.argv) > 1 else Path(__file__).resolve().parent.parent / "res" / "tavboot.ico"
    target.write_bytes(encode(draw()))


if __name__ == "__main__":
    main()
