#!/usr/bin/env bash
# Builds KEYPAD32 and starts it against the virtual scanner, with three demo
# pages in the feeder. On a display the program (minimised) and the scanner's
# front panel appear there; use the panel's keys and close the program from
# its menu. Without a display a short scripted session runs on a private Xvfb
# and says what happened and where the outputs are.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source "$here/env.sh"
user_display=${DISPLAY:-}
kp_prepare

pages="$WINEPREFIX/drive_c/pages"
[ -f "$pages/page1-text.bmp" ] || /usr/bin/python3 "$here/make_pages.py" "$pages"
ctl() { wine "$KP_BUILD/bin/vnlctl.exe" "$@"; }
say() { printf '\n== %s\n' "$*"; }

wine 'C:\Varnel\EXE32\KEYPAD32.EXE' &
program=$!
wine "$KP_BUILD/bin/winctl.exe" wait
ctl clear >/dev/null
ctl load 'C:\pages' >/dev/null

if [ -n "$user_display" ]; then
    echo "KEYPAD32 is running (minimised) with the virtual scanner's front panel on $DISPLAY."
    echo "Three pages are in the feeder (C:\\pages). Exit the program from its File menu."
    wait "$program" || true
    ctl quit >/dev/null 2>&1 || true
    exit 0
fi

say "The LCD after start-up"
ctl lcd
say "Mode, Paper, Level up, then the digits 12"
ctl press mode >/dev/null
ctl press paper >/dev/null
ctl press up >/dev/null
ctl digits 12 >/dev/null
sleep 0.5
ctl lcd
say "Copy (the copy service is not part of this build yet)"
ctl press copy >/dev/null
sleep 0.5
ctl lcd
say "Stop resets the levels and clears the message line"
ctl press stop >/dev/null
sleep 0.5
ctl lcd
say "Exit from the menu"
wine "$KP_BUILD/bin/winctl.exe" exit
wait "$program" || true
say "Requests the driver received (key registrations, LCD texts, unregistrations)"
ctl log | awk 'NR > 1 { n[$3]++ } END { for (c in n) printf "request %s: %d\n", c, n[c] }' | sort -n -k2
ctl quit >/dev/null 2>&1 || true
say "Outputs"
echo "settings file: $WINEPREFIX/drive_c/Varnel/SYS.INI"
sed 's/\r$//' "$WINEPREFIX/drive_c/Varnel/SYS.INI"
