#!/usr/bin/python3
"""Writes demonstration pages for the virtual scanner's feeder: a Letter text
page (1-bit), a grey photo (8-bit) and a colour photo (24-bit), all 300 dpi
BMP files, into the folder given as the only argument."""
import math
import os
import sys

from PIL import Image, ImageDraw, ImageFont

DPI = 300
LETTER = (2550, 3300)


def text_page(path):
    page = Image.new("1", LETTER, 1)
    draw = ImageDraw.Draw(page)
    font = ImageFont.load_default()
    draw.rectangle([150, 150, LETTER[0] - 150, 420], outline=0, width=8)
    for row in range(60):
        y = 500 + row * 45
        draw.text((200, y), f"Line {row + 1:02d}  The quick brown fox jumps over the lazy dog.", fill=0, font=font)
        draw.rectangle([1400, y, 1400 + (row * 37) % 900, y + 20], fill=0)
    page.save(path, dpi=(DPI, DPI))


def photo(size, colour):
    w, h = size
    img = Image.new("RGB", size)
    px = img.load()
    for y in range(0, h):
        for x in range(0, w):
            r = int(127 + 127 * math.sin(x / 180.0))
            g = int(255 * y / h)
            b = int(127 + 127 * math.cos((x + y) / 240.0))
            px[x, y] = (r, g, b)
    return img if colour else img.convert("L")


def main():
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    text_page(os.path.join(out, "page1-text.bmp"))
    small = (LETTER[0] // 4, LETTER[1] // 4)
    photo(small, False).resize(LETTER).save(os.path.join(out, "page2-grey.bmp"), dpi=(DPI, DPI))
    photo(small, True).resize(LETTER).save(os.path.join(out, "page3-colour.bmp"), dpi=(DPI, DPI))


if __name__ == "__main__":
    main()
