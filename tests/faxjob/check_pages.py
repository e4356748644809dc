#!/usr/bin/python3
"""Decodes natively the attachments of the messages that FaxJobProgramTests
kept and compares them with the pages the virtual scanner was given.

Group 4 TIFF pages must pass libtiff's decoder (tiffcp) without a warning,
carry the scan resolution and equal bit for bit the black-and-white source
page scaled to the scan size (whole-number factors, so nothing is blurred).
JPEG pages must stay within a mean difference of 12 levels per channel. The short page that
FaxJobTests wrote must be 10 black lines followed by 30 white ones, exactly.

Usage: check_pages.py FOLDER (C:\\Varnel\\FAXJOB of the test prefix)."""
import email
import email.policy
import io
import os
import subprocess
import sys
import tempfile

from PIL import Image, ImageChops, ImageStat

folder = sys.argv[1]
failures = []
checked = 0

# message -> (source page, expected names, dpi, kind)
CASES = {
    "text.eml": ("source-text.bmp", ["FX-00040.TIF", "FX-00041.TIF", "FX-00042.TIF"], (100, 100), "1"),
    "photo.eml": ("source-grey.bmp", ["FX-00040.VKZ", "FX-00041.VKZ"], (200, 100), "L"),
    "colour.eml": ("source-colour.bmp", ["FX-00040.JPG"], (200, 200), "RGB"),
    "typed.eml": ("source-text.bmp", ["FX-00040.VKZ"], (200, 100), "1"),
}


def libtiff_problems(data):
    with tempfile.TemporaryDirectory() as scratch:
        source = os.path.join(scratch, "page.tif")
        with open(source, "wb") as f:
            f.write(data)
        run = subprocess.run(["tiffcp", "-c", "none", source, os.path.join(scratch, "plain.tif")],
                             capture_output=True, text=True)
        if run.returncode != 0 or run.stderr.strip():
            return run.stderr.strip() or "exit %d" % run.returncode
    return None


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


for message_name, (page, names, dpi, kind) in CASES.items():
    path = os.path.join(folder, message_name)
    if not os.path.exists(path):
        failures.append("%s is missing" % message_name)
        continue
    with open(path, "rb") as f:
        message = email.message_from_bytes(f.read(), policy=email.policy.default)
    if message.defects:
        failures.append("%s: defects %s" % (message_name, message.defects))
    parts = [(p.get_filename(), p.get_payload(decode=True)) for p in message.iter_attachments()]
    if [n for n, _ in parts] != names:
        failures.append("%s: attachments %s, not %s" % (message_name, [n for n, _ in parts], names))
    source = Image.open(os.path.join(folder, page)).convert("RGB")
    for name, data in parts:
        compare("%s/%s" % (message_name, name), data, source, dpi, kind)
        checked += 1

short = os.path.join(folder, "shortpage.tif")
if os.path.exists(short):
    image = Image.open(short).convert("L")
    rows = [set(image.crop((0, y, image.width, y + 1)).getdata()) for y in range(image.height)]
    if image.size != (64, 40) or rows[:10] != [{0}] * 10 or rows[10:] != [{255}] * 30:
        failures.append("shortpage.tif: %s, rows %s" % (image.size, rows))
    checked += 1
else:
    failures.append("shortpage.tif is missing")

for failure in failures:
    print("FAIL", failure)
print("%d pages checked, %d failures" % (checked, len(failures)))
sys.exit(1 if failures else 0)
