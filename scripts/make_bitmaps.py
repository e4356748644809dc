#!/usr/bin/env python3
"""Draws the button and mode bitmaps (resources 1 to 20) into res/bitmaps/.

Run by hand after changing a picture; the build uses the committed files.
Every bitmap is a 16-colour DIB in the standard Windows palette on the teal
background (0,128,128) that the program draws transparent. Grey variants
are the enabled pictures with every colour turned to its grey.
"""
import struct
import sys
from pathlib import Path

from PIL import Image, ImageDraw

PALETTE = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]
TEAL = (0, 128, 128)
BLACK, MAROON, GREEN, OLIVE, NAVY, PURPLE, _, SILVER, GREY, RED, LIME, YELLOW, BLUE, FUCHSIA, AQUA, WHITE = PALETTE


def canvas(size):
    image = Image.new("RGB", (size, size), TEAL)
    return image, ImageDraw.Draw(image)


def page(pen, lines):
    """A sheet of paper with a folded corner, holding whatever lines draws."""
    pen.polygon([(6, 2), (21, 2), (26, 7), (26, 29), (6, 29)], fill=WHITE, outline=BLACK)
    pen.polygon([(21, 2), (21, 7), (26, 7)], fill=SILVER, outline=BLACK)
    lines(pen)


def text_mode(size):
    image, pen = canvas(32)
    page(pen, lambda p: [p.line([(9, y), (23 if y % 8 else 18, y)], fill=BLACK) for y in range(9, 28, 3)])
    return image


def photo_scene(pen, sky, hill, sun):
    pen.rectangle([9, 10, 23, 25], fill=sky, outline=BLACK)
    pen.ellipse([17, 12, 21, 16], fill=sun)
    pen.polygon([(10, 24), (14, 17), (18, 22), (20, 19), (22, 24)], fill=hill)


def photo_mode(size):
    image, pen = canvas(32)
    page(pen, lambda p: photo_scene(p, SILVER, GREY, WHITE))
    return image


def colour_mode(size):
    image, pen = canvas(32)
    page(pen, lambda p: photo_scene(p, AQUA, GREEN, YELLOW))
    return image


def brightness(size):
    """A sun: a yellow disc with rays."""
    image, pen = canvas(32)
    for (x0, y0, x1, y1) in [(16, 2, 16, 8), (16, 24, 16, 30), (2, 16, 8, 16), (24, 16, 30, 16),
                             (6, 6, 10, 10), (22, 22, 26, 26), (6, 26, 10, 22), (22, 10, 26, 6)]:
        pen.line([(x0, y0), (x1, y1)], fill=OLIVE, width=2)
    pen.ellipse([9, 9, 23, 23], fill=YELLOW, outline=OLIVE)
    return image


def contrast(size):
    """A disc half black, half white."""
    image, pen = canvas(32)
    pen.ellipse([4, 4, 27, 27], fill=WHITE, outline=BLACK)
    pen.pieslice([4, 4, 27, 27], 90, 270, fill=BLACK)
    return image


def sharp(size):
    """A crisp black diamond."""
    image, pen = canvas(16)
    pen.polygon([(8, 2), (13, 8), (8, 13), (3, 8)], fill=BLACK)
    return image


def blur(size):
    """The same diamond with a soft grey rim."""
    image, pen = canvas(16)
    pen.polygon([(8, 1), (14, 8), (8, 14), (2, 8)], fill=SILVER)
    pen.polygon([(8, 3), (12, 8), (8, 12), (4, 8)], fill=GREY)
    return image


def dark(size):
    """A crescent moon."""
    image, pen = canvas(16)
    pen.ellipse([2, 2, 13, 13], fill=NAVY)
    pen.ellipse([6, 0, 15, 10], fill=TEAL)
    return image


def light(size):
    """A small sun."""
    image, pen = canvas(16)
    for (x0, y0, x1, y1) in [(8, 0, 8, 15), (0, 8, 15, 8), (2, 2, 13, 13), (2, 13, 13, 2)]:
        pen.line([(x0, y0), (x1, y1)], fill=OLIVE)
    pen.ellipse([4, 4, 11, 11], fill=YELLOW, outline=OLIVE)
    return image


def address_book(size):
    """A closed book with an @ on its cover and a tabbed edge."""
    image, pen = canvas(32)
    pen.rectangle([7, 3, 25, 28], fill=MAROON, outline=BLACK)
    pen.rectangle([25, 5, 27, 27], fill=WHITE, outline=BLACK)
    for y in (8, 13, 18, 23):
        pen.rectangle([26, y, 28, y + 2], fill=RED)
    pen.rectangle([8, 3, 9, 28], fill=BLACK)
    pen.ellipse([11, 9, 22, 20], outline=WHITE, width=2)
    pen.ellipse([14, 12, 19, 17], fill=WHITE)
    pen.line([(19, 14), (22, 17)], fill=WHITE, width=2)
    return image


def scissors(size):
    image, pen = canvas(32)
    pen.line([(8, 3), (21, 21)], fill=SILVER, width=3)
    pen.line([(24, 3), (11, 21)], fill=SILVER, width=3)
    pen.line([(8, 3), (21, 21)], fill=GREY)
    pen.ellipse([15, 14, 17, 16], fill=BLACK)
    pen.ellipse([4, 20, 13, 29], outline=RED, width=2)
    pen.ellipse([19, 20, 28, 29], outline=RED, width=2)
    return image


def card_and_bin(size):
    """A card dropping into a waste bin."""
    image, pen = canvas(32)
    pen.polygon([(8, 14), (24, 14), (22, 30), (10, 30)], fill=GREY, outline=BLACK)
    for x in (12, 16, 20):
        pen.line([(x, 17), (x - (x - 16) // 4, 27)], fill=BLACK)
    pen.rectangle([6, 12, 26, 14], fill=SILVER, outline=BLACK)
    pen.polygon([(10, 2), (22, 4), (20, 12), (8, 10)], fill=WHITE, outline=BLACK)
    pen.line([(11, 5), (19, 6)], fill=BLUE)
    pen.line([(11, 8), (17, 9)], fill=BLUE)
    return image


def grey(draw):
    """The disabled look of a picture: its colours as greys, teal kept."""
    def make(size):
        image = draw(size)
        for y in range(image.height):
            for x in range(image.width):
                c = image.getpixel((x, y))
                if c == TEAL:
                    continue
                level = (c[0] * 30 + c[1] * 59 + c[2] * 11) // 100
                image.putpixel((x, y), WHITE if level > 224 else SILVER if level > 150 else GREY)
        return image
    return make


BITMAPS = {
    1: (text_mode, 32), 2: (photo_mode, 32), 3: (colour_mode, 32), 4: (brightness, 32),
    5: (contrast, 32), 6: (sharp, 16), 7: (blur, 16), 8: (dark, 16), 9: (light, 16),
    11: (address_book, 32), 12: (scissors, 32), 13: (card_and_bin, 32),
    15: (grey(scissors), 32), 16: (grey(card_and_bin), 32),
    18: (grey(contrast), 32), 19: (grey(sharp), 16), 20: (grey(blur), 16),
}


def write_bmp(path, image):
    """A bottom-up 4-bit DIB with the 16-colour palette."""
    w, h = image.size
    row = ((w * 4 + 31) // 32) * 4
    pixels = bytearray()
    for y in range(h - 1, -1, -1):
        line = bytearray(row)
        for x in range(w):
            index = PALETTE.index(image.getpixel((x, y)))
            line[x // 2] |= index << (4 if x % 2 == 0 else 0)
        pixels += line
    palette = b"".join(bytes((b, g, r, 0)) for r, g, b in PALETTE)
    offset = 14 + 40 + len(palette)
    header = struct.pack("<2sIHHI", b"BM", offset + len(pixels), 0, 0, offset)
    info = struct.pack("<IiiHHIIiiII", 40, w, h, 1, 4, 0, len(pixels), 0, 0, 16, 16)
    Path(path).write_bytes(header + info + palette + bytes(pixels))


if __name__ == "__main__":
    folder = Path(sys.argv[1]) if len(sys.argv) > 1 else Path(__file__).resolve().parent.parent / "res" / "bitmaps"
    folder.mkdir(parents=True, exist_ok=True)
    for number, (draw, size) in BITMAPS.items():
        image = draw(size)
        assert image.size == (size, size), number
        write_bmp(folder / f"bitmap{number:02d}.bmp", image)
