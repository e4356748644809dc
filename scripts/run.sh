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
rm -f "$WINEPREFIX/drive_c/Varnel/SYS.INI"
kp_prepare "$KP_ARCH_NOW"
echo "== running the $KP_ARCH_NOW build"

pages="$WINEPREFIX/drive_c/pages"
[ -f "$pages/page1-text.bmp" ] || /usr/bin/python3 "$here/make_pages.py" "$pages"
ctl() { wine "$KP_BUILD/bin/vnlctl.exe" "$@"; }
say() { printf '\n== %s\n' "$*"; }

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
