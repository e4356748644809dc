#!/usr/bin/env bash
# Times accugnt5.dll's writers (under Wine, ImageFileBench) against the
# native coders on the same pixels in the same run, both in process: Group 4
# against Debian's libtiff (what `tiffcp -c g4` runs), JPEG at quality 80
# against Debian's libjpeg-turbo (what `cjpeg -quality 80` runs), through
# bench/native_coders.c, built here. Prints the ratios and whether the coded
# data are the same. Expects the build, the prefix and a running wineserver
# (as scripts/bench.sh leaves them); PAGES (default 20) pages of each kind, the median page compared.
set -euo pipefail
here=$(dirname "${BASH_SOURCE[0]}")
source "$here/env.sh"
pages=${PAGES:-20}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

echo "== accugnt5.dll against the native coders ($pages pages of each kind, both in process)"
/usr/bin/python3 "$here/make_pages.py" "$work" >/dev/null
ours=$(wine "$KP_BUILD/bin/ImageFileBench.exe" "$(wine winepath.exe -w "$work" | tr -d '\r')" "$pages" | tr -d '\r')
echo "$ours" | grep -v '^RESULT'
gcc -O2 -Wall -o "$work/native_coders" "$KP_ROOT/bench/native_coders.c" -ltiff -ljpeg ||
    kp_fail "the native coders did not build" "bash scripts/setup.sh installs gcc, libtiff-dev and libjpeg62-turbo-dev"
names=(page1-text page2-dither page2-grey page3-colour)
native=$("$work/native_coders" "$pages" 80 "$work" \
    $(for n in "${names[@]}"; do echo "$n:$(echo "$ours" | awk -v n="$n" '$1 == "RESULT" && $2 == n { print $5 }')"; done))

field() { awk -v n="$2" -v f="$3" '$1 == "RESULT" && $2 == n { print $f }' <<<"$1"; }

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

compare() { # name, label
    local ms bytes native_ms native_bytes
    ms=$(field "$ours" "$1" 3)
    bytes=$(field "$ours" "$1" 4)
    native_ms=$(field "$native" "$1" 3)
    native_bytes=$(field "$native" "$1" 4)
    printf '%-13s %-26s ours %8.2f ms/page %9d bytes | native %8.2f ms/page %9d bytes | time ratio %.2f (fastest pages %.2f), size ratio %.3f\n' \
        "$1" "$2" "$ms" "$bytes" "$native_ms" "$native_bytes" "$(echo "$ms / $native_ms" | bc -l)" \
        "$(echo "$(field "$ours" "$1" 6) / $(field "$native" "$1" 5)" | bc -l)" "$(echo "$bytes / $native_bytes" | bc -l)"
    echo "FIGURE $1: $2 (native, in process)|$ms|$native_ms|ms/page"
}

compare page1-text "G4 vs libtiff"
compare page2-dither "G4 vs libtiff"
compare page2-grey "JPEG q80 vs libjpeg-turbo"
compare page3-colour "JPEG q80 vs libjpeg-turbo"
same() { cmp -s "$1" "$2" && echo identical || echo DIFFERENT; }
echo "Group 4 data against libtiff's: page1-text $(same_strips "$work/ours-page1-text.tif" "$work/native-page1-text.tif")," \
    "page2-dither $(same_strips "$work/ours-page2-dither.tif" "$work/native-page2-dither.tif")"
echo "JPEG files against libjpeg-turbo's: page2-grey $(same "$work/ours-page2-grey.jpg" "$work/native-page2-grey.jpg")," \
    "page3-colour $(same "$work/ours-page3-colour.jpg" "$work/native-page3-colour.jpg")"
