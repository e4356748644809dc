#!/usr/bin/env bash
# Times accugnt5.dll's writers (under Wine, ImageFileBench) against the native
# coders on the same pixels in the same run: Group 4 against libtiff's
# `tiffcp -c g4` (one strip), JPEG against libjpeg-turbo's `cjpeg -quality 80`; prints
# the ratios. Expects the build, the prefix and a running wineserver (as
# scripts/bench.sh leaves them); PAGES (default 10) pages of each kind.
set -euo pipefail
here=$(dirname "${BASH_SOURCE[0]}")
source "$here/env.sh"
pages=${PAGES:-10}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

echo "== accugnt5.dll against the native coders ($pages pages of each kind)"
/usr/bin/python3 "$here/make_pages.py" "$work" >/dev/null
ours=$(wine "$KP_BUILD/bin/ImageFileBench.exe" "$(wine winepath.exe -w "$work" | tr -d '\r')" "$pages" | tr -d '\r')
echo "$ours" | grep -v '^RESULT'

result() { echo "$ours" | awk -v n="$1" '$1 == "RESULT" && $2 == n { print $'"$2"' }'; }
now() { date +%s.%N; }

# Milliseconds per page of a native command run `pages` times; $1 is a label.
time_native() {
    local start end
    start=$(now)
    for _ in $(seq "$pages"); do "$@" >/dev/null 2>&1; done
    end=$(now)
    echo "($end - $start) * 1000 / $pages" | bc -l
}

# tiffcp reads an uncompressed WhiteIsZero TIFF, whose rows are the PBM's
# rows as they are; made outside the timing.
raw_tiff() {
    /usr/bin/python3 - "$1" "$2" <<'PY'
import re, struct, sys
data = open(sys.argv[1], "rb").read()
head = re.match(rb"P4\s+(\d+)\s+(\d+)\s", data)
width, height, rows = int(head[1]), int(head[2]), data[head.end():]
tags = [(256, 4, width), (257, 4, height), (258, 3, 1), (259, 3, 1), (262, 3, 0),
        (273, 4, 8 + 2 + 12 * 9 + 4), (277, 3, 1), (278, 4, height), (279, 4, len(rows))]
out = b"II*\0" + struct.pack("<IH", 8, len(tags))
out += b"".join(struct.pack("<HHII", tag, kind, 1, value) for tag, kind, value in tags)
open(sys.argv[2], "wb").write(out + struct.pack("<I", 0) + rows)
PY
}
# The Group 4 data of two TIFF files, compared byte for byte.
same_strips() {
    /usr/bin/python3 - "$1" "$2" <<'PY'
import sys
from PIL import Image
def strip(path):
    tags, data = Image.open(path).tag_v2, open(path, "rb").read()
    return b"".join(data[o:o + n] for o, n in zip(tags[273], tags[279]))
print("identical" if strip(sys.argv[1]) == strip(sys.argv[2]) else "DIFFERENT")
PY
}
raw_tiff "$work/page1-text.pbm" "$work/page1-text.tif"
raw_tiff "$work/page2-dither.pbm" "$work/page2-dither.tif"

compare() { # name, label, native ms, native output file[, what the native time holds]
    local ms bytes native_bytes
    ms=$(result "$1" 3)
    bytes=$(result "$1" 4)
    native_bytes=$(stat -c %s "$4")
    printf '%-13s %-22s ours %8.2f ms/page %9d bytes | native %8.2f ms/page %9d bytes | time ratio %.2f, size ratio %.3f\n' \
        "$1" "$2" "$ms" "$bytes" "$3" "$native_bytes" "$(echo "$ms / $3" | bc -l)" \
        "$(echo "$bytes / $native_bytes" | bc -l)"
    echo "FIGURE $1: $2${5:+ ($5)}|$ms|$3|ms/page"
}

# A 1x1 image shows what each native run spends on starting the process.
printf 'P4\n1 1\n\0' >"$work/dot.pbm"
raw_tiff "$work/dot.pbm" "$work/dot.tif"
start_tiff=$(time_native tiffcp -c g4 -r 1000000 "$work/dot.tif" "$work/dot-g4.tif")
start_jpeg=$(time_native cjpeg -quality 80 -outfile "$work/dot.jpg" "$work/dot.pbm")

tiff_ms=$(time_native tiffcp -c g4 -r 1000000 "$work/page1-text.tif" "$work/native.tif")
dither_ms=$(time_native tiffcp -c g4 -r 1000000 "$work/page2-dither.tif" "$work/native-dither.tif")
grey_ms=$(time_native cjpeg -quality 80 -outfile "$work/native-grey.jpg" "$work/page2-grey.pgm")
colour_ms=$(time_native cjpeg -quality 80 -outfile "$work/native-colour.jpg" "$work/page3-colour.ppm")

echo "== accugnt5.dll (Wine, in process) against native coders (process per page, start-up included)"
compare page1-text "G4 vs tiffcp -c g4" "$tiff_ms" "$work/native.tif" "native start-up included"
compare page2-dither "G4 vs tiffcp -c g4" "$dither_ms" "$work/native-dither.tif" "native start-up included"
compare page2-grey "JPEG vs cjpeg -q 80" "$grey_ms" "$work/native-grey.jpg" "native start-up included"
compare page3-colour "JPEG vs cjpeg -q 80" "$colour_ms" "$work/native-colour.jpg" "native start-up included"
echo "Group 4 data against libtiff's: page1-text $(same_strips "$work/ours-page1-text.tif" "$work/native.tif")," \
    "page2-dither $(same_strips "$work/ours-page2-dither.tif" "$work/native-dither.tif")"
printf 'native process start-up on a 1x1 image: tiffcp %.2f ms, cjpeg %.2f ms\n' "$start_tiff" "$start_jpeg"
echo "== the same, native start-up taken off"
compare page1-text "G4 vs tiffcp -c g4" "$(echo "$tiff_ms - $start_tiff" | bc -l)" "$work/native.tif"
compare page2-dither "G4 vs tiffcp -c g4" "$(echo "$dither_ms - $start_tiff" | bc -l)" "$work/native-dither.tif"
compare page2-grey "JPEG vs cjpeg -q 80" "$(echo "$grey_ms - $start_jpeg" | bc -l)" "$work/native-grey.jpg"
compare page3-colour "JPEG vs cjpeg -q 80" "$(echo "$colour_ms - $start_jpeg" | bc -l)" "$work/native-colour.jpg"
