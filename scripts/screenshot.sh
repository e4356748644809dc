#!/usr/bin/env bash
# Saves a picture of KEYPAD32's main window beside the virtual scanner's front
# panel, taken on a private Xvfb, as docs/keypad32.png (or the path given),
# the copy configuration dialog with its printer list dropped and the scanner
# settings dialog beside it as copy-config.png and scanner-settings.png, the
# fax configuration sheet's
# two tabs as fax-profiles.png and fax-speed-dial.png, and the I/O address
# dialog after an Auto. Verify as io-address.png.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
out=${1:-$here/../docs/keypad32.png}
source "$here/env.sh"
KP_FORCE_XVFB=1 kp_setup
export KP_KEEP_MANAGED=1
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
# Opens a dialog with its menu command, presses the buttons given after the
# picture's name (drop:<id> drops a combo box down, into the picture too),
# saves the picture and cancels the dialog.
shoot_dialog() {
    local command=$1 caption=$2 picture=$3 rect id
    shift 3
    wine "$KP_BUILD/bin/winctl.exe" menu "$command"
    rect=$(wine "$KP_BUILD/bin/winctl.exe" dialog "$caption" | tr -d '\r')
    for id in "$@"; do
        case $id in
        drop:*) rect=$(wine "$KP_BUILD/bin/winctl.exe" drop "$caption" "${id#drop:}" | tr -d '\r') ;;
        *) wine "$KP_BUILD/bin/winctl.exe" press "$caption" "$id" ;;
        esac
    done
    sleep 1
    import -window root -crop "$rect" "$(dirname "$out")/$picture"
    wine "$KP_BUILD/bin/winctl.exe" cancel "$caption"
}
# A printer of its own, so that the list of printers can drop down.
shoot_dialog 1005 "Varnel: Copy Configuration" copy-config.png 702 drop:704
shoot_dialog 1011 "Scanner Settings" scanner-settings.png
# The card moved to 330h since the program started: Auto. Verify finds it there.
ctl port 330
shoot_dialog 1012 "I/O Addresses Verification" io-address.png 1
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
