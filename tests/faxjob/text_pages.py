#!/usr/bin/python3
"""Writes pages of text for reading back a searchable PDF: 40 lines of 12-point
DejaVu text at 300 dpi on a Letter page (8-bit grey BMP), and beside each page
what it says and where: truth.json, with every word's text, the box of its
ink and its line's extent (from the top of the font's tallest letters to the
bottom of its descenders), in pixels of the page.

Pages: sans.bmp and serif.bmp (clean), sans-skewed.bmp and serif-skewed.bmp
(turned by 1 degree, a little blurred, with grey noise and specks of dust).

Usage: text_pages.py FOLDER (FOLDER/done is written last)"""
import difflib
import json
import math
import os
import random
import sys
import unicodedata

from PIL import Image, ImageChops, ImageDraw, ImageFilter, ImageFont

DPI = 300
SIZE = (2550, 3300)
POINTS = 12
PIXELS = POINTS * DPI // 72  # 50
LEADING = 60
LINES = 40
MARGIN = (300, 330)
WIDTH = SIZE[0] - 2 * MARGIN[0]
FONTS = "/usr/share/fonts/truetype/dejavu/"

TEXT = """\
A desk scanner earns its place when it saves the people beside it a walk to the
copier and a stack of paper in a drawer. Each press of a key on its front panel
has to do the right thing at once, and has to say on its small display what it
did. The pages it reads go out as a fax, as an e-mail to a list of people, or as
a copy on the printer down the hall. Many offices keep what they send as well,
and a page that was scanned is of little use later if nobody can find it again.
That is why the pages may now travel as one document whose text can be searched:
the picture of each page stays exactly as it was scanned, and an invisible layer
of words lies over it, so that a reader can find a name, a date or an amount and
copy a sentence into a reply without typing it again. The words are read from
the picture by a recognition engine while the next page is being scanned, so the
whole job takes hardly longer than before. A page of forty lines gains no more
than a few thousand bytes, which keeps the message small enough for any mailbox
and any fax gateway. If the engine or its language data cannot be found on the
computer, the document is sent as before, without the hidden text, and a single
line in the log says why. Nothing else changes for the person at the scanner:
the same key sends the pages, the display shows the same messages, and the Stop
key still ends a job at any moment, leaving no file behind on the disk. Invoice
number 4471 of March 12 was paid on April 3; the order for 250 sheets of paper,
two toner cartridges and a box of envelopes arrived the following Tuesday. The
meeting about the new branch office moved from room 114 to the library on the
second floor, and the minutes of that meeting list seven questions that are
still open. Please send the signed contract back before the end of the month,
together with a copy of the insurance certificate and the delivery address for
the furniture. Our accountant asked whether the quarterly figures include the
rent for the storage unit, which rose by nine percent in January. The answer is
yes: the figures on page three of the report show the new rent from the first
of January onward. A short note for the reception desk: visitors who arrive
before eight should wait in the lobby until someone from the team meets them.
The parking garage closes at ten in the evening during the summer months, and
the side entrance is locked on weekends. Whoever leaves last switches off the
lights, the coffee machine and the scanner, which otherwise keeps its lamp warm
for the next morning. The quick brown fox jumps over the lazy dog, while five
boxing wizards jump quickly and a large fawn jumped quite over white zinc boxes.
Sphinx of black quartz, judge my vow; pack my box with five dozen liquor jugs.
These sentences use every letter of the alphabet and are a fair test of a page
reader, together with the numbers 0123456789 and a few marks of punctuation.
The last lines of this page repeat what matters most: the text layer is small,
it is placed on the words where they stand in the picture, and a document with
such a layer remains an archival PDF that any reader can open and search years
from now, on whatever computer the office then has on its desks and shelves."""


def normal(word):
    """A word as compared: compatibility forms folded, typographic quotes and dashes plain."""
    word = unicodedata.normalize("NFKC", word)
    return word.translate(str.maketrans("\u2018\u2019\u201c\u201d\u2013\u2014", "''\"\"--"))


def matched(expected, got):
    """The words of `expected` found in `got`, in order: (index in expected,
    index in got) for each."""
    matcher = difflib.SequenceMatcher(None, [normal(w) for w in expected],
                                      [normal(w) for w in got], autojunk=False)
    return [(block.a + k, block.b + k) for block in matcher.get_matching_blocks()
            for k in range(block.size)]


def lines_for(font):
    """The text wrapped to the page's width: words of each line."""
    words = TEXT.split()
    lines, line = [], []
    for word in words:
        trial = " ".join(line + [word])
        if line and font.getlength(trial) > WIDTH:
            lines.append(line)
            line = [word]
        else:
            line.append(word)
    lines.append(line)
    return lines[:LINES]


def ink_box(font, word):
    """The box of a word's ink about its origin on the baseline."""
    left, top, right, bottom = font.getbbox(word, anchor="ls")
    scratch = Image.new("L", (right - left + 8, bottom - top + 8), 255)
    ImageDraw.Draw(scratch).text((4 - left, 4 - top), word, font=font, fill=0, anchor="ls")
    inverted = scratch.point(lambda v: 255 - v).point(lambda v: 255 if v > 64 else 0)
    box = inverted.getbbox()
    return (box[0] - 4 + left, box[1] - 4 + top, box[2] - 4 + left, box[3] - 4 + top)


def render(font_file):
    font = ImageFont.truetype(FONTS + font_file, PIXELS)
    # The line's extent: the tallest letters to the deepest descenders.
    ascent = -ink_box(font, "bdfhklt")[1]
    descent = ink_box(font, "gjpqy")[3]
    page = Image.new("L", SIZE, 255)
    draw = ImageDraw.Draw(page)
    words = []
    for number, line in enumerate(lines_for(font)):
        base = MARGIN[1] + ascent + number * LEADING
        x = MARGIN[0]
        text = " ".join(line)
        draw.text((x, base), text, font=font, fill=0, anchor="ls")
        at = 0
        for word in line:
            start = text.index(word, at)
            at = start + len(word)
            origin = x + font.getlength(text[:start])
            box = ink_box(font, word)
            words.append([word, origin + box[0], base + box[1], origin + box[2], base + box[3],
                          base - ascent, base + descent])
    return page, words


def skew(page, words, degrees, seed):
    """The page turned about its centre, a little blurred, with grey noise
    and specks of dust; the words' boxes as they are turned."""
    turned = page.rotate(degrees, resample=Image.BICUBIC, fillcolor=255)
    turned = turned.filter(ImageFilter.GaussianBlur(0.7))
    noise = Image.effect_noise(SIZE, 40)  # centred on 128
    turned = ImageChops.add(turned, noise, scale=1.0, offset=-128)
    rng = random.Random(seed)
    pixels = turned.load()
    for _ in range(60):
        x, y = rng.randrange(SIZE[0] - 2), rng.randrange(SIZE[1] - 2)
        for dx, dy in ((0, 0), (1, 0), (0, 1), (1, 1)):
            pixels[x + dx, y + dy] = 40
    # PIL turns counter-clockwise about the centre, y down.
    angle = math.radians(degrees)
    cx, cy = SIZE[0] / 2, SIZE[1] / 2

    def turn(x, y):
        dx, dy = x - cx, y - cy
        return (cx + dx * math.cos(angle) + dy * math.sin(angle),
                cy - dx * math.sin(angle) + dy * math.cos(angle))

    turned_words = []
    for word, left, top, right, bottom, line_top, line_bottom in words:
        ink = [turn(x, y) for x in (left, right) for y in (top, bottom)]
        line = [turn(x, y) for x in (left, right) for y in (line_top, line_bottom)]
        turned_words.append([word, min(p[0] for p in ink), min(p[1] for p in ink),
                             max(p[0] for p in ink), max(p[1] for p in ink),
                             min(p[1] for p in line), max(p[1] for p in line)])
    return turned, turned_words


def main():
    folder = sys.argv[1]
    os.makedirs(folder, exist_ok=True)
    truth = {}
    for name, font_file in (("sans", "DejaVuSans.ttf"), ("serif", "DejaVuSerif.ttf")):
        page, words = render(font_file)
        pages = {name: (page, words), name + "-skewed": skew(page, words, 1.0, len(name))}
        for page_name, (image, page_words) in pages.items():
            image.save(os.path.join(folder, page_name + ".bmp"), dpi=(DPI, DPI))
            truth[page_name] = {"size": SIZE, "dpi": DPI,
                                "words": [[w[0]] + [round(v, 1) for v in w[1:]] for w in page_words]}
    with open(os.path.join(folder, "truth.json"), "w") as f:
        json.dump(truth, f)
    open(os.path.join(folder, "done"), "w").close()


if __name__ == "__main__":
    main()
