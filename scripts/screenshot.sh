#!/usr/bin/env bash
# Saves a picture of KEYPAD32's main window beside the virtual scanner's front
# panel, taken on a private Xvfb, as docs/keypad32.png (or the path given),
# and the fax configuration sheet's two tabs beside it as fax-profiles.png
# and fax-speed-dial.png, and the I/O address dialog after an Auto. Verify as
# io-address.png.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
out=${1:-$here/../docs/keypad32.png}
source "$here/env.sh"
KP_FORCE_XVFB=1 kp_setup
kp_prepare "$(kp_builds | head -1)"
ctl() { wine "$KP_BUILD/bin/vnlctl.exe" "$@" >/dev/null; }

wine 'C:\Varnel\EXE32\KEYPAD32.EXE' &
wine "$KP_BUILD/bin/winctl.exe" wait
wine "$KP_BUILD/bin/winctl.exe" restore 10 290 420 160
ctl press up
ctl press up
ctl show 2 "Ready to scan"
sleep 1
mkdir -p "$(dirname "$out")"
import -window root -crop 830x470+0+0 "$out"
wine "$KP_BUILD/bin/winctl.exe" restore 100 100 600 500
# The card moved to 330h since the program started: Auto. Verify finds it there.
ctl port 330
wine "$KP_BUILD/bin/winctl.exe" menu 1012
wine "$KP_BUILD/bin/winctl.exe" press "I/O Addresses Verification" 1
io=$(wine "$KP_BUILD/bin/winctl.exe" dialog "I/O Addresses Verification" | tr -d '\r')
sleep 1
import -window root -crop "$io" "$(dirname "$out")/io-address.png"
wine "$KP_BUILD/bin/winctl.exe" cancel "I/O Addresses Verification"
wine "$KP_BUILD/bin/winctl.exe" menu 1004
sheet=$(wine "$KP_BUILD/bin/winctl.exe" sheet | tr -d '\r')
sleep 1
import -window root -crop "$sheet" "$(dirname "$out")/fax-profiles.png"
wine "$KP_BUILD/bin/winctl.exe" tab 1
sleep 1
import -window root -crop "$sheet" "$(dirname "$out")/fax-speed-dial.png"
wine "$KP_BUILD/bin/winctl.exe" exit || true
ctl quit || true
echo "saved $out"
