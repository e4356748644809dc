#!/usr/bin/env bash
# Makes the private Wine prefix (once) and lays the product out in it as an
# installation would: VARNEL.INI in the Windows directory, the product
# directory C:\Varnel\ with EXE32\ and SYS.INI, the library directory
# C:\Varnel\DLL32\ with the scanner driver and the other libraries.
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
[ -f "$KP_BUILD/bin/KELBO.CHM" ] && cp -f "$KP_BUILD/bin/KELBO.CHM" "$product/"

# The mail library's own store, a fax and a mail profile for the demo, and
# the address book it shows (kept when present: tests and users change them).
[ -f "$product/TELVEX.INI" ] || crlf >"$product/TELVEX.INI" <<'INI'
[Telvex]
InternetService=1
MSNService=1
AddressBook=ADDRESS.VCF
[Profile:Varnel Fax]
Services=25
UserName=Varnel User
FaxNumber=555 0100
FaxGateway=fax.varnel.example
PaperSize=0
Resolution=1
Setting14=1
Connection=2
Dialing=Default Location
[Profile:Varnel Mail]
Services=28
FullName=Varnel User
EmailAddress=keypad@varnel.example
Server=mail.varnel.example
INI
[ -f "$product/ADDRESS.VCF" ] || crlf >"$product/ADDRESS.VCF" <<'VCF'
BEGIN:VCARD
VERSION:4.0
UID:urn:uuid:6f1c2a10-0001-4000-8000-000000000001
FN:Ada Brandt
TEL;TYPE=fax,work:+1 555 0101
EMAIL;TYPE=work:ada.brandt@example.com
END:VCARD
BEGIN:VCARD
VERSION:4.0
UID:urn:uuid:6f1c2a10-0001-4000-8000-000000000002
FN:Office Front Desk
TEL;TYPE=fax:555 0199
END:VCARD
BEGIN:VCARD
VERSION:4.0
UID:urn:uuid:6f1c2a10-0001-4000-8000-000000000003
FN:Carl Dorn
EMAIL:carl.dorn@example.org
END:VCARD
VCF

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
