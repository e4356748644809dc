#!/usr/bin/python3
"""Decodes, natively, the image files that ImageFileTests wrote under Wine and
compares them with the raw references written beside them.

TIFF files must be CCITT Group 4, WhiteIsZero, one strip, carry the
resolution given, pass libtiff's own decoder (tiffcp) without a warning and
match their PBM reference bit for bit. JPEG files must carry the resolution,
stay within the listed mean difference of their PGM/PPM reference, and be
byte for byte what Debian's cjpeg makes of that reference at the listed
quality as baseline JPEG, which every reader takes (the JFIF density aside:
cjpeg writes none).

Usage: check_tiff.py [--prefix WINEPREFIX] [FOLDER]
Without FOLDER the Wine prefix's temporary folder ImageFileTests is used
(the WINEPREFIX environment variable wins over --prefix).
"""
import argparse
import glob
import os
import subprocess
import sys
import tempfile

from PIL import Image, ImageChops, ImageStat


def output_folder(args):
    if args.folder:
        return args.folder
    prefix = os.environ.get("WINEPREFIX") or args.prefix
    patterns = ["users/*/AppData/Local/Temp", "users/*/Temp", "windows/temp"]
    found = []
    for pattern in patterns:
        found += glob.glob(os.path.join(prefix, "drive_c", pattern, "ImageFileTests", "manifest.txt"))
    if not found:
        sys.exit("no ImageFileTests output under %s" % prefix)
    return os.path.dirname(max(found, key=os.path.getmtime))


def first_difference(got, want):
    for y in range(want.height):
        for x in range(want.width):
            if got.getpixel((x, y)) != want.getpixel((x, y)):
                return x, y
    return None


def check_tiff(path, reference, dpi):
    problems = []
    with tempfile.TemporaryDirectory() as scratch:
        plain = os.path.join(scratch, "plain.tif")
        run = subprocess.run(["tiffcp", "-c", "none", path, plain], capture_output=True, text=True)
        if run.returncode != 0 or run.stderr.strip():
            problems.append("libtiff: %s" % (run.stderr.strip() or "exit %d" % run.returncode))
    image = Image.open(path)
    tags = image.tag_v2
    if tags.get(259) != 4:
        problems.append("compression %s, not 4 (CCITT T.6)" % tags.get(259))
    if tags.get(262) != 0:
        problems.append("photometric %s, not 0 (WhiteIsZero)" % tags.get(262))
    if len(tags.get(273, ())) != 1:
        problems.append("%d strips, not one" % len(tags.get(273, ())))
    if tuple(round(float(v)) for v in image.info.get("dpi", (0, 0))) != dpi:
        problems.append("resolution %s, not %s" % (image.info.get("dpi"), dpi))
    got = image.convert("1")
    want = Image.open(reference).convert("1")
    if got.size != want.size:
        problems.append("size %s, not %s" % (got.size, want.size))
    elif ImageChops.difference(got.convert("L"), want.convert("L")).getbbox() is not None:
        problems.append("pixels differ, first at %s" % (first_difference(got, want),))
    return problems


def without_density(data):
    """The file less the density fields (units, X, Y) of its JFIF segment."""
    if data[2:4] == b"\xff\xe0" and data[6:11] == b"JFIF\0":
        return data[:13] + data[18:]
    return data


def check_jpeg(path, reference, dpi, tolerance, quality):
    problems = []
    run = subprocess.run(["cjpeg", "-baseline", "-quality", str(quality), reference], capture_output=True)
    with open(path, "rb") as ours:
        got, want = without_density(ours.read()), without_density(run.stdout)
    if run.returncode != 0 or not want:
        problems.append("cjpeg: %s" % (run.stderr.decode().strip() or "exit %d" % run.returncode))
    elif got != want:
        at = next((i for i, (a, b) in enumerate(zip(got, want)) if a != b), min(len(got), len(want)))
        problems.append("not cjpeg -baseline -quality %d's coding: %d bytes against %d, first difference at %d"
                        % (quality, len(got), len(want), at))
    image = Image.open(path)
    want = Image.open(reference)
    if image.format != "JPEG":
        problems.append("not a JPEG file")
    if image.mode != want.mode:
        problems.append("mode %s, not %s" % (image.mode, want.mode))
    if tuple(round(float(v)) for v in image.info.get("dpi", (0, 0))) != dpi:
        problems.append("resolution %s, not %s" % (image.info.get("dpi"), dpi))
    if image.size != want.size:
        problems.append("size %s, not %s" % (image.size, want.size))
    elif image.mode == want.mode:
        mean = ImageStat.Stat(ImageChops.difference(image, want)).mean
        if max(mean) > tolerance:
            problems.append("mean difference %s over %d" % (["%.2f" % m for m in mean], tolerance))
        print("  %s: mean difference %s" % (os.path.basename(path), ["%.2f" % m for m in mean]))
    return problems


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--prefix", default=os.path.expanduser("~/.wine"))
    parser.add_argument("folder", nargs="?")
    args = parser.parse_args()
    folder = output_folder(args)
    with open(os.path.join(folder, "manifest.txt")) as manifest:
        entries = [line.split() for line in manifest if line.strip()]
    if not entries:
        sys.exit("empty manifest in %s" % folder)
    failures = 0
    for name, reference, dpi_x, dpi_y, tolerance, quality in entries:
        path = os.path.join(folder, name)
        dpi = (int(dpi_x), int(dpi_y))
        if name.lower().endswith(".tif"):
            problems = check_tiff(path, os.path.join(folder, reference), dpi)
        else:
            problems = check_jpeg(path, os.path.join(folder, reference), dpi, int(tolerance),
                                  int(quality))
        print("%-16s %s" % (name, "ok" if not problems else "FAILED"))
        for problem in problems:
            print("  " + problem)
        failures += bool(problems)
    print("%d of %d files checked, %d failed" % (len(entries), len(entries), failures))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
