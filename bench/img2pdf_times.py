#!/usr/bin/python3
"""Times Debian's `img2pdf --pdfa` (with the same sRGB profile as ours) on the
page files PdfBench wrote, natively beside Wine: each run a process of its
own, and then the same documents made by its library in this one process
(what a document costs it without the interpreter's start-up, measured and
not subtracted). Arguments: the folder (text01.tif..., photo01.jpg...) and
the runs. Writes img2pdf.txt into it, one line: the least milliseconds of the
command on one text page (its start-up), on the ten text pages and on the
ten photo pages, the bytes of the two documents, and the least milliseconds
of the library on the ten text and the ten photo pages; then the file done."""
import glob
import os
import subprocess
import sys
import time

folder, runs = sys.argv[1], int(sys.argv[2])
PROFILE = "--pdfa=/usr/share/color/icc/sRGB.icc"


def least_ms_in_process(pages, out):
    import img2pdf

    times = []
    for _ in range(runs + 1):  # the first call also loads what the library imports
        start = time.perf_counter()
        with open(out, "wb") as f:
            img2pdf.convert(pages, pdfa=PROFILE.split("=", 1)[1], outputstream=f)
        times.append((time.perf_counter() - start) * 1000)
    return min(times[1:])


def least_ms(pages, out):
    times = []
    for _ in range(runs):
        start = time.perf_counter()
        subprocess.run(["img2pdf", PROFILE] + pages + ["-o", out], check=True)
        times.append((time.perf_counter() - start) * 1000)
    return min(times)


text = sorted(glob.glob(os.path.join(folder, "text*.tif")))
photo = sorted(glob.glob(os.path.join(folder, "photo*.jpg")))
one = least_ms(text[:1], os.path.join(folder, "img2pdf-one.pdf"))
text_ms = least_ms(text, os.path.join(folder, "img2pdf-text.pdf"))
photo_ms = least_ms(photo, os.path.join(folder, "img2pdf-photo.pdf"))
sizes = [os.path.getsize(os.path.join(folder, "img2pdf-%s.pdf" % kind)) for kind in ("text", "photo")]
text_library = least_ms_in_process(text, os.path.join(folder, "library-text.pdf"))
photo_library = least_ms_in_process(photo, os.path.join(folder, "library-photo.pdf"))
with open(os.path.join(folder, "img2pdf.txt"), "w") as f:
    f.write("%.3f %.3f %.3f %d %d %.3f %.3f\n" % (one, text_ms, photo_ms, sizes[0], sizes[1],
                                                  text_library, photo_library))
open(os.path.join(folder, "done"), "w").close()
