#!/usr/bin/env bash
# Makes the private Wine prefix (once) and lays the product out in it as an
# installation would: VARNEL.INI in the Windows directory, the product
# directory C:\Varnel\ with EXE32\ and SYS.INI, the library directory
# C:\Varnel\DLL32\ with the scanner driver and the other libraries.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/env.sh"

if [ ! -f "$WINEPREFIX/system.reg" ]; then
    mkdir -p "$WINEPREFIX"
    wineboot -i >/dev/null 2>&1
    wineserver -w
fi

drive_c="$WINEPREFIX/drive_c"
product="$drive_c/Varnel"
mkdir -p "$product/EXE32" "$product/DLL32" "$drive_c/pages"

crlf() { sed 's/$/\r/'; }

# The installation file is rewritten every time: tests may have changed it.
crlf >"$drive_c/windows/VARNEL.INI" <<'INI'
[VarnelSystem]
Varnel=C:\Varnel\
DLL32=C:\Varnel\DLL32\
[ScanDLL]
DLL32=C:\Varnel\DLL32\VNLSCN32.DLL
INI

[ -f "$product/SYS.INI" ] || crlf >"$product/SYS.INI" <<'INI'
[Varnel]
FaxService=1
CopyService=1
INI

shopt -s nullglob nocaseglob
for f in "$KP_BUILD"/bin/*.dll "$KP_BUILD"/bin/VNL*.EXE "$KP_BUILD"/bin/vnlctl*.exe; do
    case "$(basename "$f")" in
        lib*|*test*|*bench*) continue ;;
    esac
    cp -f "$f" "$product/DLL32/"
done
[ -f "$KP_BUILD/bin/KEYPAD32.EXE" ] && cp -f "$KP_BUILD/bin/KEYPAD32.EXE" "$product/EXE32/"
exit 0
