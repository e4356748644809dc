#!/usr/bin/env bash
# Compiles the help sources in folder $1 into the help file $3 with the
# compiler $4, staging them in folder $2 (emptied first).
#
# chmcmd 3.2 names the page of each context number by the project's folder
# followed by the page, and stamps the file with the time of day. It is given
# the project as /proc/self/cwd/KELBO.hhp from the stage, a name that is the
# same on every build, and finish_chm.py then makes the map name each page as
# the archive holds it (/topic.htm) and clears the time: the help file is the
# same from any folder and from both builds.
set -euo pipefail
src=$1
stage=$2
out=$3
chmcmd=$4
rm -rf "$stage"
mkdir -p "$stage"
cp "$src"/KELBO.hhp "$src"/KELBO.hhc "$src"/KELBO.hhk "$src"/contexts.h "$src"/aliases.ali "$stage"/
for page in $(sed -n '/^\[FILES\]/,/^\[/p' "$src/KELBO.hhp" | grep -v '^\[' | grep -v '^;'); do
    cp "$src/$page" "$stage/"
done
cd "$stage"
if ! log=$("$chmcmd" --no-html-scan /proc/self/cwd/KELBO.hhp 2>&1) || grep -q '^Error' <<<"$log"; then
    echo "$log" >&2
    echo "KEYPAD32: chmcmd could not compile the help file $out" >&2
    exit 1
fi
/usr/bin/python3 "$src/finish_chm.py" KELBO.CHM /proc/self/cwd/
cp -f KELBO.CHM "$out"
