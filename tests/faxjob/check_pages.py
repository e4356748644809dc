#!/usr/bin/python3
"""Decodes natively the attachments of the messages that FaxJobProgramTests
kept and compares them with the pages the virtual scanner was given.

Group 4 TIFF pages must pass libtiff's decoder (tiffcp) without a warning,
carry the scan resolution and equal bit for bit the black-and-white source
page scaled to the scan size (whole-number factors, so nothing is blurred).
JPEG pages must stay within a mean difference of 12 levels per channel. The short page that
FaxJobTests wrote must be 10 black lines followed by 30 white ones, exactly.

A PDF attachment, and the document FaxJobTests wrote from page files kept
beside it (pages.pdf, pages-N.tif or .jpg), must pass `qpdf --check`; `pdfimages
-list` must show one image a page, coded ccitt or jpeg, of the page's pixels;
pikepdf must find PDF/A-2B in the XMP and an sRGB output intent; every page
measures its pixels at their resolution (Letter: 612 x 792 points); each page
rendered by pdftoppm at that resolution equals its Group 4 page exactly, and a
JPEG page the JPEG's own decoding (within 8 levels). The document's images
are its page files' data byte for byte.

A searchable document (searchable.eml, three pages of text_pages.py scanned at
300 dpi) must also give back its text to `pdftotext -raw -bbox`: at least 99 %
of each page's words, in order, each within 2 points of where it stands in
the image (its ink across, its line's extent down). (-raw reads the words in
the order the document lays them, the order of reading; without it poppler
takes the higher right ends of a skewed page's lines for another column.)
`pdffonts` must list its one
font as embedded, and its text layer, the font counted whole to each page,
must take at most 8 KiB a page of 40 lines. The documents that went without
the OCR library's data or the library, or with another library in its place
(no-data.eml, no-library.eml, other-library.eml) must have
no text and no font. The document FaxJobTests wrote with words of its own
(words.pdf) must give each back as words.txt says it reads, where its box is
(within a pixel and a half at its 100 dpi: a word's width is laid with a whole
percent of scaling), on its first page, and nothing on the second.

Usage: check_pages.py FOLDER (C:\\Varnel\\FAXJOB of the test prefix)."""
import email
import email.policy
import html
import io
import json
import os
import re
import subprocess
import sys
import tempfile

import pikepdf
from PIL import Image, ImageChops, ImageStat

from text_pages import matched, normal

folder = sys.argv[1]
failures = []
checked = 0
SCRATCH = tempfile.TemporaryDirectory()  # the documents, for the tools that read files

# message -> (source page, expected names, dpi, kind)
CASES = {
    "text.eml": ("source-text.bmp", ["FX-00040.TIF", "FX-00041.TIF", "FX-00042.TIF"], (100, 100), "1"),
    "photo.eml": ("source-grey.bmp", ["FX-00040.VKZ", "FX-00041.VKZ"], (200, 100), "L"),
    "colour.eml": ("source-colour.bmp", ["FX-00040.JPG"], (200, 200), "RGB"),
    "typed.eml": ("source-text.bmp", ["FX-00040.VKZ"], (200, 100), "1"),
    "text-pdf.eml": ("source-text.bmp", ["FX-00040.PDF"], (100, 100), "1"),
    "colour-pdf.eml": ("source-colour.bmp", ["FX-00041.PDF"], (200, 200), "RGB"),
    "fax-pdf.eml": ("source-text.bmp", ["FX-00042.PDF"], (200, 100), "1"),
}
PDF_PAGES = 3  # pages of each PDF attachment
LETTER = (612, 792)
# message of one PDF document -> the document, its pages: text_pages.py's,
# scanned at 300 dpi, whose text it must give back; or a count of
# source-text.bmp pages at 100 dpi, when it went without text
OCR_CASES = {
    "searchable.eml": ("FX-00040.PDF", ["sans", "serif-skewed", "sans-skewed"]),
    "no-library.eml": ("FX-00040.PDF", 1),
    "other-library.eml": ("FX-00041.PDF", 1),
    "no-data.eml": ("FX-00042.PDF", 2),
}
WORDS_FOUND = 0.99
BOX_POINTS = 2.0
TEXT_LAYER_BYTES = 8192




def tool(*command):
    """What a tool prints; a tool that fails fails the check."""
    return subprocess.run(command, capture_output=True, text=True, check=True).stdout


def saved(name, data, extension=".pdf"):
    """A document in a file of its own, for the tools that read files."""
    path = os.path.join(SCRATCH.name, name + extension)
    with open(path, "wb") as f:
        f.write(data)
    return path


def libtiff_problems(data):
    run = subprocess.run(["tiffcp", "-c", "none", saved("page", data, ".tif"),
                          os.path.join(SCRATCH.name, "plain.tif")], capture_output=True, text=True)
    if run.returncode != 0 or run.stderr.strip():
        return run.stderr.strip() or "exit %d" % run.returncode
    return None


def render(path, number, dpi, mode):
    with tempfile.TemporaryDirectory() as scratch:
        subprocess.run(["pdftoppm", "-f", str(number), "-l", str(number), "-rx", str(dpi[0]),
                        "-ry", str(dpi[1])] + (["-gray"] if mode != "RGB" else []) +
                       [path, os.path.join(scratch, "page")], check=True)
        return Image.open(os.path.join(scratch, os.listdir(scratch)[0])).convert(mode)


def check_pdf(name, path, pages):
    """The document against its pages: (expected pixels or None, dpi, size in
    points or None, the page file's image data or None) for each."""
    run = subprocess.run(["qpdf", "--check", path], capture_output=True, text=True)
    if run.returncode != 0 or "WARNING" in run.stdout + run.stderr:
        failures.append("%s: qpdf --check: %s" % (name, (run.stdout + run.stderr).strip()))
    listed = [line.split() for line in tool("pdfimages", "-list", path).splitlines()[2:]]
    pdf = pikepdf.open(path)
    meta = pdf.open_metadata()
    if meta.pdfa_status != "2B" or not meta.get("dc:title") or not meta.get("xmp:CreateDate"):
        failures.append("%s: XMP %s" % (name, dict(meta)))
    intents = pdf.Root.get("/OutputIntents", [])
    if len(intents) != 1 or intents[0].S != "/GTS_PDFA1" or intents[0].DestOutputProfile.N != 3 \
            or len(intents[0].DestOutputProfile.read_bytes()) < 128:
        failures.append("%s: output intents %r" % (name, intents))
    if "/Encrypt" in pdf.trailer or len(pdf.trailer.ID) != 2:
        failures.append("%s: encrypted or without an ID" % name)
    if len(pdf.pages) != len(pages) or len(listed) != len(pages):
        failures.append("%s: %d pages, %d images, not %d" % (name, len(pdf.pages), len(listed),
                                                             len(pages)))
        return
    for number, (page, line, (expected, dpi, points, raw)) in enumerate(
            zip(pdf.pages, listed, pages), 1):
        image = next(iter(page.images.values()))
        encoding = "ccitt" if image.Filter == "/CCITTFaxDecode" else "jpeg"
        if line[2] != "image" or line[8] != encoding or (int(line[3]), int(line[4])) != \
                (image.Width, image.Height):
            failures.append("%s page %d: pdfimages lists %s" % (name, number, line))
        size = tuple(round(float(v), 2) for v in list(page.mediabox)[2:])
        want = points or (round(image.Width * 72 / dpi[0], 2), round(image.Height * 72 / dpi[1], 2))
        if size != want:
            failures.append("%s page %d: %s points, not %s" % (name, number, size, want))
        if raw is not None and image.read_raw_bytes() != raw:
            failures.append("%s page %d: the image is not the page file's data" % (name, number))
        if encoding == "jpeg":
            # Rendered as the JPEG decodes (decoders differ by a level or
            # two), which keeps to the source within the JPEG's loss.
            decoded = Image.open(io.BytesIO(image.read_raw_bytes()))
            got = render(path, number, dpi, decoded.mode)
            wrong = max(e[1] for e in ImageStat.Stat(ImageChops.difference(got, decoded)).extrema) \
                if got.size == decoded.size else 255
            lossy = 0 if expected is None else max(ImageStat.Stat(ImageChops.difference(
                decoded.convert("RGB"), expected.convert("RGB"))).mean)
            bad = wrong > 8 or lossy > 12
        else:
            got = render(path, number, dpi, "L")
            want = expected.convert("L").point(lambda v: 255 if v >= 128 else 0)
            wrong = ImageStat.Stat(ImageChops.difference(got, want)).mean[0] \
                if got.size == want.size else 255
            bad = wrong > 0
        if bad:
            failures.append("%s page %d: rendered %s unlike its page (%.3f)" % (
                name, number, got.size, wrong))
        print("%s page %d: %s %dx%d, %s points, rendered at %s dpi, difference %.3f" % (
            name, number, encoding, image.Width, image.Height, size, dpi, wrong))


def attachments(message_name, names):
    """The kept message and its attachments, (name, bytes) each, once they
    are found to be the ones named, a PDF as application/pdf; None, None
    when it is missing."""
    path = os.path.join(folder, message_name)
    if not os.path.exists(path):
        failures.append("%s is missing" % message_name)
        return None, None
    with open(path, "rb") as f:
        message = email.message_from_bytes(f.read(), policy=email.policy.default)
    if message.defects:
        failures.append("%s: defects %s" % (message_name, message.defects))
    parts = list(message.iter_attachments())
    if [p.get_filename() for p in parts] != names:
        failures.append("%s: attachments %s, not %s" % (
            message_name, [p.get_filename() for p in parts], names))
    for p in parts:
        if p.get_filename().endswith(".PDF") and p.get_content_type() != "application/pdf":
            failures.append("%s: %s as %s" % (message_name, p.get_filename(), p.get_content_type()))
    return message, [(p.get_filename(), p.get_payload(decode=True)) for p in parts]


def bbox_words(path):
    """pdftotext -raw -bbox: each page's words, (text, xMin, yMin, xMax, yMax) in points."""
    out = tool("pdftotext", "-raw", "-bbox", path, "-")
    pages = []
    for page in out.split("<page ")[1:]:
        pages.append([(html.unescape(m.group(5)),) + tuple(float(m.group(i)) for i in range(1, 5))
                      for m in re.finditer(r'<word xMin="([\d.]+)" yMin="([\d.]+)" xMax="([\d.]+)"'
                                           r' yMax="([\d.]+)">([^<]*)</word>', page)])
    return pages


def object_sizes(path):
    """Bytes of each object of a document as written (number -> size), from
    qpdf's account of where each begins."""
    out = tool("qpdf", "--show-xref", path)
    starts = sorted((int(m.group(2)), int(m.group(1)))
                    for m in re.finditer(r"^(\d+)/0: uncompressed; offset = (\d+)", out, re.M))
    with open(path, "rb") as f:
        data = f.read()
    table = int(data[data.rindex(b"startxref") + 10:].split()[0])
    ends = [s for s, _ in starts[1:]] + [table]
    return {number: end - start for (start, number), end in zip(starts, ends)}


def font_objects(font):
    """The objects of a Type 0 font: itself, its CID font, descriptor, program and maps."""
    cid = font.DescendantFonts[0]
    return [font, font.ToUnicode, cid, cid.CIDToGIDMap, cid.FontDescriptor,
            cid.FontDescriptor.FontFile2]


def check_text(name, path, page_names, truth):
    fonts = tool("pdffonts", path).splitlines()[2:]
    if len(fonts) != 1 or fonts[0].split()[-5] != "yes":
        failures.append("%s: pdffonts lists %s, not one embedded font" % (name, fonts))
    sizes = object_sizes(path)
    pdf = pikepdf.open(path)
    found = bbox_words(path)
    if len(found) != len(page_names):
        failures.append("%s: pdftotext read %d pages" % (name, len(found)))
        return
    for number, (page, words, page_name) in enumerate(zip(pdf.pages, found, page_names), 1):
        want = truth[page_name]
        scale = 72.0 / want["dpi"]
        expected = [normal(w[0]) for w in want["words"]]
        pairs = matched(expected, [w[0] for w in words])
        share = len(pairs) / len(expected)
        worst, worst_word = 0.0, None
        for a, b in pairs:
            w = want["words"][a]
            wanted = (w[1] * scale, w[5] * scale, w[3] * scale, w[6] * scale)
            off = max(abs(x - y) for x, y in zip(wanted, words[b][1:]))
            if off > worst:
                worst, worst_word = off, (w[0], [round(v, 1) for v in wanted],
                                          [round(v, 1) for v in words[b][1:]])
        if share < WORDS_FOUND:
            missed = [expected[i] for i in range(len(expected)) if i not in dict(pairs)]
            failures.append("%s page %d: %.1f %% of the words found; missed %s" % (
                name, number, share * 100, missed[:20]))
        if worst > BOX_POINTS:
            failures.append("%s page %d: a word %.1f points off: %s" % (name, number, worst,
                                                                      worst_word))
        # The text layer: the page's text stream, its share of the page
        # object and the whole font, against the page's image.
        contents = page.obj.Contents
        font = page.Resources.get("/Font", {}).get("/T")
        if not isinstance(contents, pikepdf.Array) or len(contents) != 2 or font is None:
            failures.append("%s page %d: no text layer" % (name, number))
            continue
        font_bytes = sum(sizes[o.objgen[0]] for o in font_objects(font))
        page_entries = "/Font<</T %d 0 R>>[ %d 0 R]" % (font.objgen[0], contents[1].objgen[0])
        layer = sizes[contents[1].objgen[0]] + font_bytes + len(page_entries)
        image = sizes[next(iter(page.images.values())).objgen[0]]
        if layer > TEXT_LAYER_BYTES:
            failures.append("%s page %d: a text layer of %d bytes" % (name, number, layer))
        print("%s page %d (%s): %d of %d words found (%.1f %%), the farthest %.2f points off; "
              "text layer %d bytes (font %d) beside the image's %d bytes" % (
                  name, number, page_name, len(pairs), len(expected), share * 100, worst,
                  layer, font_bytes, image))


def check_no_text(name, path):
    text, fonts = tool("pdftotext", path, "-").strip(), tool("pdffonts", path).splitlines()[2:]
    if text or fonts:
        failures.append("%s: text %r, fonts %s in a document without text" % (name, text[:80], fonts))


def compare(name, data, source, dpi, kind):
    image = Image.open(io.BytesIO(data))
    got_dpi = tuple(round(float(v)) for v in image.info.get("dpi", (0, 0)))
    if got_dpi != dpi:
        failures.append("%s: %s dpi, not %s" % (name, got_dpi, dpi))
    want = source.resize(image.size, Image.NEAREST)
    if kind == "1":
        if image.format != "TIFF" or image.tag_v2.get(259) != 4:
            failures.append("%s: not a Group 4 TIFF" % name)
            return
        problem = libtiff_problems(data)
        if problem:
            failures.append("%s: libtiff: %s" % (name, problem))
        got = image.convert("L").point(lambda v: 255 if v >= 128 else 0)
        want = want.convert("L").point(lambda v: 255 if v >= 128 else 0)
        wrong = ImageStat.Stat(ImageChops.difference(got, want)).mean[0] / 255
        if wrong > 0:
            failures.append("%s: %.2f %% of the pixels differ" % (name, wrong * 100))
        print("%s: %dx%d G4, %.3f %% pixels differ" % (name, image.width, image.height, wrong * 100))
    else:
        if image.format != "JPEG" or image.mode != kind:
            failures.append("%s: %s %s, not a %s JPEG" % (name, image.format, image.mode, kind))
            return
        means = ImageStat.Stat(ImageChops.difference(image, want.convert(kind))).mean
        if max(means) > 12:
            failures.append("%s: mean difference %s" % (name, means))
        print("%s: %dx%d JPEG %s, mean difference %s" % (name, image.width, image.height, kind,
                                                       [round(m, 2) for m in means]))


def letter(page, dpi):
    """A source page (Letter at 100 dpi) scaled as scanned at dpi: what a PDF page shows."""
    source = Image.open(os.path.join(folder, page)).convert("RGB")
    return (source.resize((LETTER[0] * dpi[0] // 72, LETTER[1] * dpi[1] // 72), Image.NEAREST),
            dpi, LETTER, None)


for message_name, (page, names, dpi, kind) in CASES.items():
    message, parts = attachments(message_name, names)
    for name, data in parts or []:
        name = "%s/%s" % (message_name, name)
        if name.endswith(".PDF"):
            if "%d page(s) attached." % PDF_PAGES not in message.get_body().get_content():
                failures.append("%s: the text does not count %d pages" % (message_name, PDF_PAGES))
            check_pdf(name, saved(message_name, data), [letter(page, dpi)] * PDF_PAGES)
        else:
            compare(name, data, Image.open(os.path.join(folder, page)).convert("RGB"), dpi, kind)
        checked += 1

text_folder = os.path.join(folder, "text")
for message_name, (document, pages) in OCR_CASES.items():
    _, parts = attachments(message_name, [document])
    for name, data in parts or []:
        name, path = "%s/%s" % (message_name, name), saved(message_name, data)
        if isinstance(pages, int):
            check_pdf(name, path, [letter("source-text.bmp", (100, 100))] * pages)
            check_no_text(name, path)
        else:
            with open(os.path.join(text_folder, "truth.json")) as f:
                truth = json.load(f)
            check_pdf(name, path, [(Image.open(os.path.join(text_folder, page + ".bmp")), (300, 300),
                                    LETTER, None) for page in pages])
            check_text(name, path, pages, truth)
        checked += 1

# Words of the writer's own, where their boxes say (100 dpi).
words_pdf = os.path.join(folder, "words.pdf")
if os.path.exists(words_pdf):
    with open(os.path.join(folder, "words.txt"), encoding="utf-8") as f:
        wanted = [line.rstrip("\n").split(" ", 4) for line in f if line.strip()]
    pages = bbox_words(words_pdf)
    got = pages[0] if pages else []
    if [w[0] for w in got] != [w[4] for w in wanted] or len(pages) != 2 or pages[1]:
        failures.append("words.pdf: read %s, not %s" % (pages, [w[4] for w in wanted]))
    else:
        for w, g in zip(wanted, got):
            box = [float(v) * 0.72 for v in w[:4]]
            if max(abs(a - b) for a, b in zip(box, g[1:])) > 1.5 * 0.72:
                failures.append("words.pdf: %r at %s, not %s" % (w[4], g[1:], box))
    print("words.pdf: %d words read back: %s" % (len(got), [w[0] for w in got]))
    checked += 1
else:
    failures.append("words.pdf is missing")

short = os.path.join(folder, "shortpage.tif")
if os.path.exists(short):
    image = Image.open(short).convert("L")
    rows = [set(image.crop((0, y, image.width, y + 1)).getdata()) for y in range(image.height)]
    if image.size != (64, 40) or rows[:10] != [{0}] * 10 or rows[10:] != [{255}] * 30:
        failures.append("shortpage.tif: %s, rows %s" % (image.size, rows))
    checked += 1
else:
    failures.append("shortpage.tif is missing")

# The document written from page files: each page against its file.
document = os.path.join(folder, "pages.pdf")
if os.path.exists(document):
    pages = []
    for number in range(1, 6):
        page_file = [os.path.join(folder, "pages-%d.%s" % (number, e)) for e in ("tif", "jpg")]
        page_file = next(p for p in page_file if os.path.exists(p))
        image = Image.open(page_file)
        dpi = tuple(round(float(v)) for v in image.info["dpi"])
        with open(page_file, "rb") as f:
            raw = f.read()
        if image.format == "TIFF":
            raw = raw[image.tag_v2[273][0]:image.tag_v2[273][0] + image.tag_v2[279][0]]
            pages.append((image.convert("L"), dpi, None, raw))
        else:
            pages.append((None, dpi, None, raw))
    check_pdf("pages.pdf", document, pages)
    checked += 1
else:
    failures.append("pages.pdf is missing")

for failure in failures:
    print("FAIL", failure)
print("%d pages checked, %d failures" % (checked, len(failures)))
sys.exit(1 if failures else 0)
