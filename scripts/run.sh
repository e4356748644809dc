#!/usr/bin/env bash
# Builds KEYPAD32 and starts it against the virtual scanner, with a demo text
# page in the feeder (more demo pages wait in C:\pages). On a display the program (minimised) and the scanner's
# front panel appear there; use the panel's keys and close the program from
# its menu. Without a display a short scripted session runs on a private Xvfb
# and says what happened and where the outputs are.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source "$here/env.sh"
user_display=${DISPLAY:-}
kp_setup
# The product where the host runs it, else the 64-bit build.
kp_use "$(kp_builds | head -1)"
# Each demo starts from the installation's settings: both services on.
rm -f "$WINEPREFIX/drive_c/Varnel/SYS.INI" "$KP_BUILD"/fax-document.pdf "$KP_BUILD"/fax-page.png \
    "$KP_BUILD"/fax-message.eml
kp_prepare "$KP_ARCH_NOW"
echo "== running the $KP_ARCH_NOW build"

pages="$WINEPREFIX/drive_c/pages"
[ -f "$pages/page1-text.bmp" ] || /usr/bin/python3 "$here/make_pages.py" "$pages"
ctl() { wine "$KP_BUILD/bin/vnlctl.exe" "$@"; }
say() { printf '\n== %s\n' "$*"; }

# The scripted session's fax step sends the pages as one PDF document.
[ -n "$user_display" ] || printf '[Varnel FAX]\r\nSendPagesAs=1\r\n' >>"$WINEPREFIX/drive_c/Varnel/SYS.INI"
wine 'C:\Varnel\EXE32\KEYPAD32.EXE' &
program=$!
wine "$KP_BUILD/bin/winctl.exe" wait
ctl clear >/dev/null
ctl load 'C:\pages\page1-text.bmp' >/dev/null

if [ -n "$user_display" ]; then
    echo "KEYPAD32 is running (minimised) with the virtual scanner's front panel on $DISPLAY."
    if [ -n "${KP_NO_WINDOW_MANAGER:-}" ]; then
        echo "Without a window manager KEYPAD32, minimised, is the bar at the bottom left: click it to restore the window."
    fi
    echo "A text page is in the feeder; load more with: wine $KP_BUILD/bin/vnlctl.exe load C:\\pages"
    echo "Exit the program from its File menu."
    wait "$program" || true
    ctl quit >/dev/null 2>&1 || true
    exit 0
fi

say "The LCD after start-up"
ctl lcd
say "Mode (Photo) and Level up"
ctl press mode >/dev/null
ctl press up >/dev/null
sleep 0.5
ctl lcd
say "Copy: the text page is scanned and printed on the default printer"
printed="$WINEPREFIX/drive_c/printed/color.ps"
before=$(stat -c %s "$printed" 2>/dev/null || echo 0)
ctl press copy >/dev/null
for _ in $(seq 120); do
    message=$(ctl lcd | tr -d '\r' | sed -n 's/^message=//p')
    case "$message" in Scanning...|Printing...|"") sleep 0.5 ;; *) break ;; esac
done
ctl lcd
say "Stop resets the levels and clears the message line"
ctl press stop >/dev/null
sleep 0.5
ctl lcd
say "Fax: three text pages to a typed number, sent as one PDF document"
ctl press mode >/dev/null # Photo to Color Photo, then Text again
ctl press mode >/dev/null
outbox="$WINEPREFIX/drive_c/Varnel/OUTBOX"
messages() { local f n=0; for f in "$outbox"/*.eml; do [ -e "$f" ] && n=$((n + 1)); done; echo "$n"; }
messages_before=$(messages)
for _ in 1 2 3; do ctl load 'C:\pages\page1-text.bmp' >/dev/null; done
ctl digits 5550199 >/dev/null
ctl press fax >/dev/null
for _ in $(seq 240); do
    message=$(ctl lcd | tr -d '\r' | sed -n 's/^message=//p')
    case "$message" in "Scanning to File" | Translating... | "") sleep 0.5 ;; *) break ;; esac
done
ctl lcd
if [ "$(messages)" -gt "$messages_before" ] && document=$(ls -t "$outbox"/*.eml | head -1) &&
    /usr/bin/python3 - "$document" "$KP_BUILD/fax-document.pdf" <<'PY'; then
import email, email.policy, sys
message = email.message_from_binary_file(open(sys.argv[1], "rb"), policy=email.policy.default)
part = next(p for p in message.iter_attachments() if p.get_filename().endswith(".PDF"))
open(sys.argv[2], "wb").write(part.get_payload(decode=True))
print("%s: %s, %s" % (sys.argv[1], part.get_filename(), message.get_body().get_content().strip()))
PY
    pdftoppm -r 50 -png -f 1 -l 1 -singlefile "$KP_BUILD/fax-document.pdf" "$KP_BUILD/fax-page" 2>/dev/null || true
    # The message leaves the prefix, as the printed copy does: the outbox keeps nothing of the demo.
    mv -f "$document" "$KP_BUILD/fax-message.eml"
fi
say "Exit from the menu"
wine "$KP_BUILD/bin/winctl.exe" exit
wait "$program" || true
say "Requests the driver received (by request number)"
ctl log | awk 'NR > 1 { n[$3]++ } END { for (c in n) printf "request %s: %d\n", c, n[c] }' | sort -n -k2
ctl quit >/dev/null 2>&1 || true
say "Outputs"
echo "settings file: $WINEPREFIX/drive_c/Varnel/SYS.INI"
sed 's/\r$//' "$WINEPREFIX/drive_c/Varnel/SYS.INI"
if [ "$(stat -c %s "$printed" 2>/dev/null || echo 0)" -gt "$before" ]; then
    page="$KP_BUILD/copy-page.png"
    tail -c +"$((before + 1))" "$printed" >"$KP_BUILD/copy.ps"
    gs -q -sDEVICE=png16m -r50 -o "$page" "$KP_BUILD/copy.ps" >/dev/null 2>&1 || true
    echo "printed copy (PostScript): $KP_BUILD/copy.ps, all copies so far: $printed"
    [ -f "$page" ] && echo "the printed page rendered: $page"
fi
if [ -f "$KP_BUILD/fax-document.pdf" ]; then
    echo "the faxed document: $KP_BUILD/fax-document.pdf (its message: $KP_BUILD/fax-message.eml)"
    [ -f "$KP_BUILD/fax-page.png" ] && echo "its first page rendered: $KP_BUILD/fax-page.png"
fi
