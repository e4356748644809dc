#!/usr/bin/python3
"""The native side of OcrBench: Debian's `tesseract` (one thread, the same
English data as the OCR library) on the page files that OcrBench listed in
FOLDER/pages.txt ("name form file" a line; OcrBench lists the page it has
just read itself), each read RUNS times, the least time kept; its start-up
(a blank 64 x 64 page, the least of three runs) is measured apart, each time. Both its words and OcrBench's (FOLDER/ours-NAME-FORM.txt, a
word a line) are counted against the page's truth (truth.json of
tests/faxjob/text_pages.py): the share of the page's words found, in order.

Writes FOLDER/native.txt: "startup SECONDS", then "NAME FORM SECONDS
NATIVE_SHARE OURS_SHARE" a page; and FOLDER/done last.

Usage: ocr_native.py FOLDER RUNS"""
import json
import os
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests",
                                "faxjob"))
from text_pages import matched  # noqa: E402

DATA = "/usr/share/tesseract-ocr/5/tessdata"
folder, runs = sys.argv[1], int(sys.argv[2])
environment = dict(os.environ, OMP_THREAD_LIMIT="1", TESSDATA_PREFIX=DATA)


def read(path, times):
    """tesseract's words of a page and the least time of `times` runs."""
    best, out = None, ""
    for _ in range(times):
        start = time.perf_counter()
        out = subprocess.run(["tesseract", path, "stdout", "--oem", "1", "--psm", "3", "--dpi",
                              "300", "-l", "eng"], capture_output=True, text=True,
                             env=environment, check=True).stdout
        spent = time.perf_counter() - start
        best = spent if best is None or spent < best else best
    return out.split(), best


blank = os.path.join(folder, "blank.pgm")
with open(blank, "wb") as f:
    f.write(b"P5\n64 64\n255\n" + b"\xff" * 64 * 64)
lines = []
try:
    _, startup = read(blank, 3)
    lines.append("startup %.4f" % startup)
    with open(os.path.join(folder, "truth.json")) as f:
        truth = json.load(f)
    with open(os.path.join(folder, "pages.txt")) as f:
        pages = [line.split() for line in f if line.strip()]
    for name, form, path in pages:
        words, spent = read(path, runs)
        with open(os.path.join(folder, "ours-%s-%s.txt" % (name, form)), encoding="utf-8") as f:
            ours = f.read().split()
        expected = [w[0] for w in truth[name]["words"]]
        native_share = len(matched(expected, words)) / len(expected)
        ours_share = len(matched(expected, ours)) / len(expected)
        lines.append("%s %s %.4f %.4f %.4f" % (name, form, spent, native_share, ours_share))
finally:
    with open(os.path.join(folder, "native.txt"), "w") as f:
        f.write("\n".join(lines) + "\n")
    open(os.path.join(folder, "done"), "w").close()
