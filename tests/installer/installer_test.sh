#!/usr/bin/env bash
# Setup and its uninstaller, as a user meets them, in a Wine prefix of their
# own that is removed at the end: the README's scripted session from a fresh
# prefix made by Setup, a second install over a used one, both refused while
# a program of the product runs (with the documented commands and exit
# codes), a Windows folder that cannot take VARNEL.INI, the uninstall with
# and without the user's files, the default folder, a quoted /D=, and two
# installations, each uninstalled without touching the other's registration.
# Arguments: the build folder, its build (i686 or x86_64).
set -u
export KP_BUILD=$1 KP_ARCH=$2
root=$(cd "$(dirname "$0")/../.." && pwd)
source "$root/scripts/env.sh"
work=$(mktemp -d /tmp/keypad-installer.XXXXXX)
export KP_PREFIX=$work/prefix
kp_use "$KP_ARCH"
kp_display
setup=KEYPAD32-setup.exe
[ "$KP_ARCH" = x86_64 ] && setup=KEYPAD32-setup-x64.exe
setup="$KP_BUILD/bin/$setup"
log=$work/wine.log
bare= # the Xvfb without a window manager
finish() {
    kp_cleanup
    if [ -n "$bare" ]; then kill "$bare" 2>/dev/null; fi
    rm -rf "$work"
}
trap finish EXIT

failed=0
check() { # description, command...
    local what=$1
    shift
    if "$@"; then echo "ok: $what"; else
        echo "FAILED: $what"
        failed=$((failed + 1))
    fi
}
win() { wine "$@" </dev/null >>"$log" 2>&1; }
windows_key='HKCU\Software\Microsoft\Windows NT\CurrentVersion\Windows'
uninstall_key='HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\KEYPAD32'
run_list() { wine reg query "$windows_key" /v run 2>/dev/null | tr -d '\r' | sed -n 's/^ *run *REG_SZ    //p'; }
set_run_list() { win reg add "$windows_key" /v run /d "$1" /f; }
# Its items, one blank between them: the program's rule keeps a blank for an
# empty item.
run_items() { run_list | tr -s ' ' | sed 's/^ //; s/ $//'; }
has_uninstall_key() { wine reg query "$uninstall_key" >/dev/null 2>&1; }
ini_value() { sed -n "s/^$2=//p" "$1" | tr -d '\r'; }
same() { [ "$1" = "$2" ] || { echo "  got '$1', expected '$2'"; return 1; }; }
# The files under a folder, one relative path a line, sorted.
files_in() { (cd "$1" 2>/dev/null && find . -type f | sed 's#^\./##' | sort | tr '\n' ' '); }
# The documented command: UNINSTALL.EXE waits for the uninstaller and
# returns its exit code.
uninstall() { win "$1\\UNINSTALL.EXE" /S "${@:2}"; }
# A command line typed at the Windows prompt, as it stands: its exit code.
typed() {
    printf '%s\r\nexit /b %%ERRORLEVEL%%\r\n' "$1" >"$WINEPREFIX/drive_c/typed.bat"
    win cmd /c 'C:\typed.bat'
}
# Waits until a process started by this script has ended, and gives its exit
# code. Bounded only so that a program that never ends fails the check rather
# than the whole test: a loaded machine may take long to end it. What every
# thread of the product's programs was doing is then in the output.
ended() { # pid
    local _
    for _ in $(seq 1800); do
        if ! kill -0 "$1" 2>/dev/null; then
            wait "$1"
            return
        fi
        sleep 0.1
    done
    echo "  process $1 has not ended; its threads and the other programs':"
    WINEDLLOVERRIDES= timeout 120 wine winedbg --command "bt all" </dev/null 2>&1 | tr -d '\r' |
        sed -n '/KEYPAD32\|VNLPANEL/,/^$/p' | head -120
    kill "$1"
    return 124
}
registered() { wine reg query "$uninstall_key" /v "$1" 2>/dev/null | tr -d '\r' | sed -n "s/^ *$1 *REG_SZ    //p"; }

# 1. The README's scripted session, in a fresh prefix that Setup made.
output=$(DISPLAY= bash "$root/scripts/run.sh" 2>&1)
rc=$?
echo "$output" | tail -20
check "the scripted session runs from a prefix made by Setup" same "$rc" 0
check "the session printed its copy" grep -q 'printed copy (PostScript)' <<<"$output"
product=$WINEPREFIX/drive_c/Varnel
check "the product is in C:\\Varnel" same "$(files_in "$product/EXE32") $(files_in "$product/DLL32" | wc -w)" "KEYPAD32.EXE  11"
check "with the OCR library, its data and the licences of the libraries built in" same \
    "$(files_in "$product/DLL32" | tr ' ' '\n' | grep -ci -e kpocr32.dll -e tessdata/eng.traineddata) $(files_in "$product/LICENCES")" \
    "2 leptonlib.txt libjpeg-turbo.txt tesseract.txt "
check "VARNEL.INI names it" same "$(ini_value "$WINEPREFIX/drive_c/windows/VARNEL.INI" DLL32 | head -1)" 'C:\Varnel\DLL32\'
check "registered with Windows" has_uninstall_key

# 1b. The session on a display without a window manager (an Xvfb of the
# test's own): said first, and the scanner's panel is drawn again when a
# key changes its LCD.
Xvfb -displayfd 9 -screen 0 1024x768x24 -nolisten tcp 9>"$work/display" >/dev/null 2>&1 &
bare=$!
for _ in $(seq 600); do [ -s "$work/display" ] && break; sleep 0.1; done
screen=":$(cat "$work/display")"
env -u KP_PRIVATE_DISPLAY -u KP_NO_WINDOW_MANAGER DISPLAY="$screen" bash "$root/scripts/run.sh" \
    >"$work/session.log" 2>&1 &
session=$!
for _ in $(seq 600); do grep -q 'KEYPAD32 is running' "$work/session.log" && break; sleep 0.5; done
check "the session says first that the display has no window manager" \
    grep -q "^KEYPAD32: the display $screen has no window manager" <(head -1 "$work/session.log")
shot() { DISPLAY=$screen import -window root rgb:- 2>/dev/null | md5sum; }
drawn=$(shot)
win "$KP_BUILD/bin/vnlctl.exe" press mode
# Bounded only so that a panel never drawn again fails: a loaded machine may
# take long to paint.
redrawn() { for _ in $(seq 300); do [ "$(shot)" != "$drawn" ] && return 0; sleep 0.2; done; return 1; }
check "the panel is drawn again after a key" redrawn
check "Exit closes the program's window" win "$KP_BUILD/bin/winctl.exe" exit
ended "$session"
check "the session ends when the program does" same "$?" 0
kill "$bare"
bare=

# 2. A second install over a used one, asked to start at logon, next to
# another program's item at logon and an earlier one of this program.
printf '[Varnel]\r\nFaxService=0\r\nCopyService=1\r\nBrightText=77\r\n' >"$product/SYS.INI"
echo fax-recipients >"$product/1.DES"
echo fax-recipients >"$product/1.INF"
set_run_list 'C:\Other\tool.exe D:\OLD\KEYPAD32.EXE'
win "$setup" /S /LOGON
check "the settings are kept" same "$(ini_value "$product/SYS.INI" BrightText) $(ini_value "$product/SYS.INI" FaxService)" "77 0"
check "the recipient files are kept" same "$(cat "$product/1.DES")" fax-recipients
check "the program starts at logon, the other program too" same "$(run_list)" 'C:\Other\tool.exe C:\Varnel\EXE32\KEYPAD32.EXE'
check "and knows it" same "$(ini_value "$product/SYS.INI" StartRun)" 1

# 3. Neither Setup nor the uninstaller while the program runs.
wine 'C:\Varnel\EXE32\KEYPAD32.EXE' </dev/null >>"$log" 2>&1 &
program=$!
check "the program runs" win "$KP_BUILD/bin/winctl.exe" wait
set_run_list 'C:\Other\tool.exe'
win "$setup" /S /LOGON
check "Setup refuses while it runs" same "$?" 2
check "and leaves the list at logon alone" same "$(run_list)" 'C:\Other\tool.exe'
uninstall 'C:\Varnel'
check "UNINSTALL.EXE /S refuses while it runs" same "$?" 2
eval "set -- $(registered QuietUninstallString | sed 's/\\/\\\\/g')"
win "$@"
check "so does the registered quiet uninstall ($*)" same "$?" 2
check "and leaves the product" same "$(files_in "$product/EXE32")" "KEYPAD32.EXE "
check "Exit closes its window" win "$KP_BUILD/bin/winctl.exe" exit
ended "$program"
check "and the program ends" same "$?" 0
# The scanner's device program, which the program started, still runs.
check "the device program runs" same "$(wine "$KP_BUILD/bin/running.exe" 'C:\Varnel' 2>/dev/null)" VNLPANEL.EXE
win "$setup" /S /LOGON
check "Setup refuses while the device program runs" same "$?" 2
uninstall 'C:\Varnel'
check "and so does the uninstaller" same "$?" 2
win "$KP_BUILD/bin/vnlctl.exe" quit
wineserver -w # the scanner's device program has ended too
win "$setup" /S /LOGON

# A Windows folder where VARNEL.INI cannot be written: nothing is installed.
windir=$WINEPREFIX/drive_c/windows
mv "$windir/VARNEL.INI" "$work/VARNEL.INI"
mkdir "$windir/VARNEL.INI"
win "$setup" /S '/D=C:\Third'
check "Setup that cannot write VARNEL.INI ends with 3" same "$?" 3
check "and installs nothing" test ! -e "$WINEPREFIX/drive_c/Third"
check "the registration stays" same "$(registered InstallLocation)" 'C:\Varnel'
rmdir "$windir/VARNEL.INI"
mv "$work/VARNEL.INI" "$windir/VARNEL.INI"

# 4. The uninstall keeps the user's files and every other program's item.
uninstall 'C:\Varnel'
check "the uninstall ends with 0" same "$?" 0
check "only the user's files are left" same "$(files_in "$product")" "1.DES 1.INF ADDRESS.VCF SYS.INI TELVEX.INI "
check "no VARNEL.INI" test ! -e "$WINEPREFIX/drive_c/windows/VARNEL.INI"
check "no uninstall key" eval '! has_uninstall_key'
check "the program's item at logon is gone, the other is kept" same "$(run_list)" 'C:\Other\tool.exe '
check "the kept settings say so" same "$(ini_value "$product/SYS.INI" StartRun)" 0
start_menu=$(find "$WINEPREFIX/drive_c/users" -path '*Start Menu/Programs' | head -1)
check "no Start menu shortcut" test ! -e "$start_menu/Varnel Keypad Program.lnk"

# 5. With no earlier installation, the user's local application data; asked,
# the uninstaller takes the user's files too.
win "$setup" /S
folder=$(wine cmd /c 'echo %LOCALAPPDATA%\Varnel' </dev/null 2>/dev/null | tr -d '\r')
unix_folder=$(wine winepath -u "$folder" </dev/null 2>/dev/null | tr -d '\r')
check "the default folder is $folder" test -f "$unix_folder/EXE32/KEYPAD32.EXE"
check "VARNEL.INI names it" same "$(ini_value "$WINEPREFIX/drive_c/windows/VARNEL.INI" Varnel)" "$folder\\"
check "the Start menu has the program" test -f "$start_menu/Varnel Keypad Program.lnk"
check "both services on" same "$(ini_value "$unix_folder/SYS.INI" FaxService)$(ini_value "$unix_folder/SYS.INI" CopyService)" 11

# 6. A newer installation in a folder given quoted, started at logon; a
# folder that is no full path is refused.
cp "$setup" "$WINEPREFIX/drive_c/setup.exe"
set_run_list 'C:\Other\tool.exe'
typed 'C:\setup.exe /S /D=Some\Relative'
check "a folder that is no full path is refused with 4" same "$?" 4
typed 'C:\setup.exe /S /LOGON /D="C:\Some Folder\"'
check "a quoted /D= installs there" test -f "$WINEPREFIX/drive_c/Some Folder/EXE32/KEYPAD32.EXE"
newer=$(ini_value "$windir/VARNEL.INI" Varnel | head -1)
check "VARNEL.INI names it in short form" eval '[[ "$newer" != *" "* && -n "$newer" ]]'
check "it starts at logon" same "$(run_items)" "C:\Other\tool.exe ${newer}EXE32\KEYPAD32.EXE"

# 7. The older installation, with what the mail library wrote, is purged:
# nothing of it is left, and the newer one keeps everything that names it.
mkdir -p "$unix_folder/OUTBOX/Sent"
echo message >"$unix_folder/OUTBOX/Sent/1.eml"
echo attempt >"$unix_folder/OUTBOX.log"
uninstall "$folder" /PURGE
check "/PURGE leaves nothing" test ! -e "$unix_folder"
check "and the first folder's files are kept" test -f "$product/SYS.INI"
check "the newer installation stays registered" same "$(registered InstallLocation)" 'C:\Some Folder'
check "in the Start menu" test -f "$start_menu/Varnel Keypad Program.lnk"
check "at logon" same "$(run_items)" "C:\Other\tool.exe ${newer}EXE32\KEYPAD32.EXE"
check "and in VARNEL.INI" same "$(ini_value "$windir/VARNEL.INI" Varnel | head -1)" "$newer"

# 8. An upgrade that is not asked to start at logon keeps the item it had;
# the last uninstall takes everything.
win "$setup" /S
check "an upgrade keeps the item at logon" same "$(run_items)" "C:\Other\tool.exe ${newer}EXE32\KEYPAD32.EXE"
uninstall 'C:\Some Folder' /PURGE
check "the last uninstall ends with 0" same "$?" 0
check "and leaves nothing" test ! -e "$WINEPREFIX/drive_c/Some Folder"
check "no registration" eval '! has_uninstall_key'
check "no Start menu item" test ! -e "$start_menu/Varnel Keypad Program.lnk"
check "no VARNEL.INI" test ! -e "$windir/VARNEL.INI"
check "only the other program at logon" same "$(run_items)" 'C:\Other\tool.exe'

[ "$failed" = 0 ] || {
    echo "$failed checks failed; Wine's output:"
    tail -30 "$log"
}
exit "$failed"
