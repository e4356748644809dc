#!/usr/bin/env bash
# Saves a picture of KEYPAD32's main window beside the virtual scanner's front
# panel, taken on a private Xvfb, as docs/keypad32.png (or the path given),
# the copy configuration dialog with its printer list dropped and the scanner
# settings dialog beside it as copy-config.png and scanner-settings.png, the
# fax configuration sheet's
# two tabs as fax-profiles.png and fax-speed-dial.png, the I/O address
# dialog after an Auto. Verify as io-address.png, and the mail library's
# outbox window with a failed and a delayed message as outbox.png.
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
# Two faxes to typed numbers through the scripted SMTP server, which fails
# the first message's data (554) and puts off the second's (451); the store
# is put back afterwards.
store="$WINEPREFIX/drive_c/Varnel/TELVEX.INI"
outbox="$WINEPREFIX/drive_c/Varnel/OUTBOX"
cp "$store" "$KP_BUILD/TELVEX.INI.kept"
server="$KP_BUILD/outbox-server"
rm -rf "$server" && mkdir -p "$server"
port=$(/usr/bin/python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
/usr/bin/python3 "$here/../tests/fax/smtp_server.py" "$server" "$port" --data-replies 554,451 &
for _ in $(seq 100); do [ -e "$server/ready" ] && break; sleep 0.1; done
sed -i 's/^\[Telvex\]\r$/&\nRetryPauseMs=3600000\r/' "$store" # the delayed one waits an hour
wine "C:\\Varnel\\DLL32\\TelvexMail.exe" "Varnel Fax" server=127.0.0.1 port="$port" security=none
pages="$WINEPREFIX/drive_c/pages"
[ -f "$pages/page1-text.bmp" ] || /usr/bin/python3 "$here/make_pages.py" "$pages"
lcd() { wine "$KP_BUILD/bin/vnlctl.exe" lcd | tr -d '\r'; }
lcd | grep -q '^status=.* I$' && ctl press destination # the fax destination
queued() { find "$outbox" -name '*.eml' | wc -l; }
expected=$(queued)
for number in 5550111 5550122; do
    ctl load 'C:\pages\page1-text.bmp'
    ctl digits "$number"
    ctl press fax
    expected=$((expected + 1))
    for _ in $(seq 240); do
        [ "$(queued)" -ge "$expected" ] && break
        sleep 0.5
    done
    sleep 1 # the job's end, after its message
done
for _ in $(seq 240); do
    ls "$outbox"/Failed/*.eml >/dev/null 2>&1 && grep -q ' kept ' "$outbox.log" 2>/dev/null && break
    sleep 0.5
done
shoot_dialog 1019 "Outbox" outbox.png
touch "$server/stop"
rm -rf "$outbox"/*.eml "$outbox"/*.env "$outbox"/*.who "$outbox"/queue.ini "$outbox/Failed" "$outbox/Sent"
cp "$KP_BUILD/TELVEX.INI.kept" "$store"
wine "$KP_BUILD/bin/winctl.exe" exit || true
ctl quit || true
echo "saved $out"
