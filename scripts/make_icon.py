#!/usr/bin/env python3
"""Draws the program icon (a scanner with its keypad) and writes res/keypad32.ico.

Run once by hand after changing the picture; the build uses the committed .ico.
The images are stored as classic 32-bit DIBs with an AND mask (not PNG), which
every Windows version and both resource compilers accept.
"""
import struct
import sys
from pathlib import Path

from PIL import Image, ImageDraw

TEAL = (0, 128, 128)
BODY = (192, 192, 192)
SHADE = (96, 96, 96)
LID = (232, 232, 232)
GLASS = (40, 40, 64)
LCD = (120, 200, 120)
KEY = (32, 32, 32)


def draw(size):
    """The picture on a 32-unit grid, scaled down for the small size."""
    image = Image.new("RGB", (size, size), TEAL)
    pen = ImageDraw.Draw(image)

    def box(x0, y0, x1, y1, fill):
        s = size / 32.0
        pen.rectangle([round(x0 * s), round(y0 * s), round(x1 * s) - 1, round(y1 * s) - 1], fill=fill)

    box(2, 8, 30, 28, SHADE)  # body with its shadow edge
    box(2, 8, 29, 27, BODY)
    box(2, 4, 29, 9, LID)  # lid
    box(4, 10, 27, 14, GLASS)  # scanning glass seen at the front
    box(4, 17, 14, 21, LCD)  # panel display
    for row in range(2):  # keypad, 3 x 2 keys
        for col in range(3):
            x = 17 + col * 4
            y = 17 + row * 4
            box(x, y, x + 3, y + 3, KEY)
    return image


def dib_entry(image):
    """One icon image: BITMAPINFOHEADER, bottom-up BGRA pixels, AND mask."""
    size = image.width
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    pixels = bytearray()
    for y in range(size - 1, -1, -1):
        for x in range(size):
            r, g, b = image.getpixel((x, y))
            pixels += bytes((b, g, r, 255))
    mask_row = ((size + 31) // 32) * 4
    mask = bytes(mask_row * size)  # all opaque
    return header + bytes(pixels) + mask


def write_ico(path, sizes):
    images = [dib_entry(draw(s)) for s in sizes]
    out = bytearray(struct.pack("<HHH", 0, 1, len(images)))
    offset = 6 + 16 * len(images)
    for s, data in zip(sizes, images):
        out += struct.pack("<BBBBHHII", s, s, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    for data in images:
        out += data
    Path(path).write_bytes(out)


if __name__ == "__main__":
    target = Path(sys.argv[1]) if len(sys.argv) > 1 else Path(__file__).resolve().parent.parent / "res" / "keypad32.ico"
    write_ico(target, (32, 16))
