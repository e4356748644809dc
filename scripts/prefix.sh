#!/usr/bin/env bash
# Makes the private Wine prefix (once) and installs the product in it with
# the build's Setup: VARNEL.INI in the Windows directory, the product
# directory C:\Varnel\ with EXE32\ and SYS.INI, the library directory
# C:\Varnel\DLL32\ with the scanner driver and the other libraries; then
# what the tests add: demo pages and printers.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/env.sh"
kp_use_default

if [ ! -f "$WINEPREFIX/system.reg" ]; then
    mkdir -p "$WINEPREFIX"
    if ! wine wineboot.exe -i >"$KP_BUILD/prefix.log" 2>&1 || ! wineserver -w; then
        tail -5 "$KP_BUILD/prefix.log" >&2
        rm -rf "$WINEPREFIX"
        kp_fail "Wine could not make the $KP_ARCH_NOW prefix" \
            "check that $(command -v wine) runs (bash scripts/setup.sh installs Wine); the log is $KP_BUILD/prefix.log"
    fi
    # A crash ends the crashing program with its address on its output; no
    # crash dialog waits for a person.
    wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1
fi

# A private Xvfb has no window manager, nor has a user's display where none
# runs. Wine waits up to two seconds for one whenever it hides a window that
# a manager would own, and its windows are not drawn again: there Wine
# manages its windows itself. On a user's display the window manager keeps
# them, and the screenshots keep the windows' plain look (KP_KEEP_MANAGED).
if [ -n "${KP_PRIVATE_DISPLAY:-}${KP_NO_WINDOW_MANAGER:-}" ] && [ -z "${KP_KEEP_MANAGED:-}" ]; then
    wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
else
    wine reg delete 'HKCU\Software\Wine\X11 Driver' /v Managed /f >/dev/null 2>&1 || true
fi

drive_c="$WINEPREFIX/drive_c"
mkdir -p "$drive_c/pages"

# The product is installed as a user installs it: by Setup, in silent mode,
# into C:\Varnel\ (the folder the tests and scripts name). Setup rewrites
# VARNEL.INI, which tests may have changed, and keeps the settings and
# recipient files that are there.
setup=KEYPAD32-setup.exe
[ "$KP_ARCH_NOW" = x86_64 ] && setup=KEYPAD32-setup-x64.exe
cmake --build "$KP_BUILD" --target installer >>"$KP_BUILD/prefix.log" 2>&1 ||
    kp_fail "Setup ($setup) could not be built in $KP_BUILD/bin" \
        "run bash scripts/setup.sh (it installs nsis), then bash scripts/build.sh; the log is $KP_BUILD/prefix.log"
wine "$KP_BUILD/bin/$setup" /S "/D=C:\\Varnel" </dev/null >>"$KP_BUILD/prefix.log" 2>&1 ||
    kp_fail "Setup ($setup) failed in $WINEPREFIX (exit code $?)" \
        "end any KEYPAD32 still running in that prefix (Setup refuses while it runs), or remove the prefix and run again"

# PostScript printers for the copy job, driven by Wine's PostScript driver.
# Each document a printer prints is appended to C:\printed\<name>.ps through
# a small shell script that is the printer's port. The colour printer is the
# Windows default and makes up to 5 copies per document; the grey one reports
# a copy limit of 0; the offline one cannot deliver (its port is unwritable);
# the long-named one has a description longer than the settings once held.
printed="$drive_c/printed"
mkdir -p "$printed"
for name in color gray long; do
    printf '#!/bin/sh\ncat >> "${0%%.sh}.ps"\n' >"$printed/$name.sh"
    chmod +x "$printed/$name.sh"
done
if [ -f "$KP_BUILD/bin/addprinter.exe" ]; then
    wine "$KP_BUILD/bin/addprinter.exe" "Varnel Offline PS" grey 300 1 /nonexistent/offline.ps </dev/null >/dev/null
    wine "$KP_BUILD/bin/addprinter.exe" "Varnel Gray PS" grey 300 0 "|$printed/gray.sh" </dev/null >/dev/null
    wine "$KP_BUILD/bin/addprinter.exe" "Varnel PostScript Printer Of The Second Floor Copy Room Shared By Accounts Sales And The Front Desk" \
        grey 300 1 "|$printed/long.sh" </dev/null >/dev/null
    wine "$KP_BUILD/bin/addprinter.exe" "Varnel Color PS" colour 300 5 "|$printed/color.sh" default </dev/null >/dev/null
fi
exit 0
