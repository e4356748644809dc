#!/usr/bin/python3
"""Renders what the copy job printed (kept by CopyJobTests under
C:\\printed\\cases with a manifest) with Ghostscript and compares it with the
source pages: number of documents, grey or colour output, the page's margins
and scale (from the source's frame and its one-inch mark) and the correlation
of the whole printed area with the source page mapped the way the copy job
maps it."""
import os
import re
import subprocess
import sys
import tempfile

from PIL import Image, ImageChops, ImageStat

DPI = 100  # render resolution
SOURCE_DPI = 100
PAPER = {"letter": (8.5, 11.0), "legal": (8.5, 14.0)}
MARK = (1.0, 1.0, 0.5)  # the source's black square: left, top, side in inches
MARGIN_TOLERANCE = 2.0 / DPI  # inches
SCALE_TOLERANCE = 0.03
MIN_CORRELATION = 0.9


def documents(postscript):
    starts = [m.start() for m in re.finditer(rb"%!PS-Adobe-3\.0", postscript)]
    return [postscript[a:b] for a, b in zip(starts, starts[1:] + [len(postscript)])]


def render(document):
    with tempfile.TemporaryDirectory() as work:
        ps = os.path.join(work, "doc.ps")
        out = os.path.join(work, "page-%d.ppm")
        with open(ps, "wb") as f:
            f.write(document)
        subprocess.run(["/usr/bin/gs", "-q", "-dSAFER", "-dNOPAUSE", "-dBATCH", "-sDEVICE=ppmraw",
                        "-r%d" % DPI, "-o", out, ps], check=True)
        pages = sorted(p for p in os.listdir(work) if p.startswith("page-"))
        return [Image.open(os.path.join(work, p)).convert("RGB") for p in pages]


def printable_area(document, paper_height):
    """Left, top, width, height in inches, from the imageable area the document declares."""
    x0, y0, x1, y1 = map(float, re.search(rb"%%BoundingBox: (\S+) (\S+) (\S+) (\S+)", document).groups())
    return x0 / 72, paper_height - y1 / 72, (x1 - x0) / 72, (y1 - y0) / 72


def source_window(fit, paper, area):
    """The part of the source page (inches: left, top, width, height) drawn into the printable area."""
    if fit:
        return 0.0, 0.0, paper[0], paper[1]
    left = (paper[0] - area[2]) / 2
    return left, 0.0, area[2], area[3]


def expected_page(source, paper, area, window):
    """The source mapped into the printable area of a white page, at the render resolution."""
    size = (round(paper[0] * DPI), round(paper[1] * DPI))
    page = Image.new("L", size, 255)
    crop = source.crop(tuple(round(v * SOURCE_DPI) for v in
                             (window[0], window[1], window[0] + window[2], window[1] + window[3])))
    drawn = crop.resize((round(area[2] * DPI), round(area[3] * DPI)), Image.BILINEAR)
    page.paste(drawn, (round(area[0] * DPI), round(area[1] * DPI)))
    return page


def correlation(a, b, box):
    a = a.crop(box)
    b = b.crop(box)
    sa, sb = ImageStat.Stat(a), ImageStat.Stat(b)
    product = ImageStat.Stat(ImageChops.multiply(a, b)).mean[0] * 255
    covariance = product - sa.mean[0] * sb.mean[0]
    return covariance / (sa.stddev[0] * sb.stddev[0] + 1e-9)


def dark_box(grey, box):
    """Bounding box (inches) of the dark pixels inside box (pixels)."""
    region = grey.crop(box).point(lambda v: 255 if v < 20 else 0)
    found = region.getbbox()
    if not found:
        return None
    return tuple((found[i] + box[i % 2]) / DPI for i in range(4))


def check_case(directory, name, ps_name, source_name, paper_name, fit, colour, docs):
    failures = []
    with open(os.path.join(directory, ps_name), "rb") as f:
        postscript = f.read()
    printed = documents(postscript)
    if len(printed) != docs:
        failures.append("%d documents, expected %d" % (len(printed), docs))
    if not printed:
        return failures
    paper = PAPER[paper_name]
    pages = render(printed[0])
    if len(pages) != 1:
        failures.append("%d pages in the first document" % len(pages))
        return failures
    page = pages[0]
    grey = page.convert("L")
    area = printable_area(printed[0], paper[1])
    window = source_window(fit, paper, area)
    source = Image.open(os.path.join(directory, source_name)).convert("L")
    scale_x = area[2] / window[2]
    scale_y = area[3] / window[3]

    # Grey or colour: the largest difference between the channels.
    r, g, b = page.split()
    chroma = max(ImageStat.Stat(ImageChops.difference(r, g)).extrema[0][1],
                 ImageStat.Stat(ImageChops.difference(g, b)).extrema[0][1])
    if colour and chroma < 40:
        failures.append("colour expected, largest channel difference %d" % chroma)
    if not colour and chroma > 8:
        failures.append("grey expected, largest channel difference %d" % chroma)

    # The one-inch mark: where it lands tells the margins and the scale.
    mark_left = area[0] + (MARK[0] - window[0]) * scale_x
    mark_top = area[1] + (MARK[1] - window[1]) * scale_y
    search = tuple(round(v * DPI) for v in (mark_left - 0.2, mark_top - 0.2,
                                            mark_left + MARK[2] * scale_x + 0.2, mark_top + MARK[2] * scale_y + 0.2))
    mark = dark_box(grey, search)
    if not mark:
        failures.append("the mark is not where expected")
    else:
        width, height = mark[2] - mark[0], mark[3] - mark[1]
        print("  %s: mark at %.3f, %.3f in (expected %.3f, %.3f), scale %.3f x %.3f (expected %.3f x %.3f)"
              % (name, mark[0], mark[1], mark_left, mark_top, width / MARK[2], height / MARK[2], scale_x, scale_y))
        if abs(mark[0] - mark_left) > MARGIN_TOLERANCE or abs(mark[1] - mark_top) > MARGIN_TOLERANCE:
            failures.append("mark off by %.3f, %.3f in" % (mark[0] - mark_left, mark[1] - mark_top))
        if abs(width / MARK[2] - scale_x) > SCALE_TOLERANCE or abs(height / MARK[2] - scale_y) > SCALE_TOLERANCE:
            failures.append("scale %.3f x %.3f" % (width / MARK[2], height / MARK[2]))

    # Margins: with fit in page the source's edge frame is the printable area's edge.
    if fit:
        inner = (area[0] * DPI - 20, area[1] * DPI - 20, (area[0] + area[2]) * DPI + 20, (area[1] + area[3]) * DPI + 20)
        edges = dark_box(grey, tuple(round(v) for v in inner))
        expected = (area[0], area[1], area[0] + area[2], area[1] + area[3])
        print("  %s: printed edges %s in, printable area %s in"
              % (name, tuple(round(v, 3) for v in edges), tuple(round(v, 3) for v in expected)))
        if any(abs(a - b) > MARGIN_TOLERANCE for a, b in zip(edges, expected)):
            failures.append("margins off")
    # Nothing outside the printable area.
    outside = grey.copy()
    outside.paste(255, tuple(round(v * DPI) for v in (area[0], area[1], area[0] + area[2], area[1] + area[3])))
    if outside.getextrema()[0] < 200:
        failures.append("ink outside the printable area")

    expected_image = expected_page(source, paper, area, window)
    box = tuple(round(v * DPI) for v in (area[0], area[1], area[0] + area[2], area[1] + area[3]))
    score = correlation(grey, expected_image, box)
    print("  %s: correlation with the source %.3f" % (name, score))
    if score < MIN_CORRELATION:
        failures.append("correlation %.3f" % score)
    return failures


def main():
    directory = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.environ["WINEPREFIX"], "drive_c/printed/cases")
    with open(os.path.join(directory, "manifest.txt")) as f:
        cases = [line.split() for line in f if line.strip()]
    if not cases:
        print("no printed cases")
        return 1
    failed = 0
    for name, ps_name, source_name, paper, fit, colour, docs in cases:
        failures = check_case(directory, name, ps_name, source_name, paper, int(fit), int(colour), int(docs))
        print("%s %s%s" % ("FAIL" if failures else "ok  ", name, ": " + "; ".join(failures) if failures else ""))
        failed += bool(failures)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
