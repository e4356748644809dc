#!/usr/bin/env bash
# Compiles the help sources in folder $1 into the help file $3 with the
# compiler $4, staging them in folder $2 (emptied first).
#
# chmcmd 3.2 records the topic of each context number under the project's
# absolute folder (/stage/topic.htm) while the archive holds /topic.htm, so
# the viewer would find no page for a context number. The pages are
# therefore also stored under that folder inside the archive; a chmcmd that
# records the plain name finds the first copy.
set -euo pipefail
src=$1
stage=$2
out=$3
chmcmd=$4
rm -rf "$stage"
mkdir -p "$stage"
cp "$src"/KELBO.hhp "$src"/KELBO.hhc "$src"/KELBO.hhk "$src"/contexts.h "$src"/aliases.ali "$stage"/
mirror=${stage#/}
mkdir -p "$stage/$mirror"
# [FILES] is the project's last section: the copies are added to it.
for page in $(sed -n '/^\[FILES\]/,$p' "$src/KELBO.hhp" | tail -n +2); do
    cp "$src/$page" "$stage/"
    cp "$src/$page" "$stage/$mirror/"
    echo "$mirror/$page" >>"$stage/KELBO.hhp"
done
# Its link check takes the two copies for one page; the tests check the links.
cd "$stage"
if ! log=$("$chmcmd" --no-html-scan "$stage/KELBO.hhp" 2>&1) || grep -q '^Error' <<<"$log"; then
    echo "$log" >&2
    echo "KEYPAD32: chmcmd could not compile the help file $out" >&2
    exit 1
fi
cp -f KELBO.CHM "$out"
