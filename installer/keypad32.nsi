; Setup and uninstaller of the Varnel keypad program. makensis is given
; TARGET (x86-unicode or amd64-unicode), BIN (the build's bin folder),
; LIBRARIES (the list of files for DLL32\), LICENCES (the folder of the
; licences of the libraries built in) and OUTFILE.
;
; Switches: /S silent, /LOGON also starts the program at logon,
; /D=<folder> (last, quoted or not) installs there. UNINSTALL.EXE: /S silent,
; /PURGE also removes the settings, the recipient files and what the mail
; library wrote. Exit codes: 0 done, 1 cancelled, 2 refused while a program
; of the product runs, 3 VARNEL.INI cannot be written, 4 the folder cannot
; be used; after 2, 3 and 4 nothing was changed.
Target ${TARGET}

!include LogicLib.nsh
!include FileFunc.nsh
!include Sections.nsh
!include ${LIBRARIES}

!define PRODUCT "Varnel Keypad Program"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\KEYPAD32"
!define SHORTCUT "$SMPROGRAMS\${PRODUCT}.lnk"

Name "${PRODUCT}"
OutFile "${OUTFILE}"
; Installed for the user who runs Setup, in a folder where the program can
; write its settings and recipient files as that user.
RequestExecutionLevel user
InstallDir "$LOCALAPPDATA\Varnel"
InstallDirRegKey HKCU "${UNINSTALL_KEY}" "InstallLocation"
SetCompressor /SOLID lzma
ShowInstDetails show
ShowUninstDetails show

Page components
Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage components
UninstPage instfiles

; The product directory as VARNEL.INI names it, without a trailing backslash.
Var ProductDir
; 1 when Setup made the installation's folder, which a refusal takes away again.
Var MadeFolder

!macro InstallLibrary Name
    File "${BIN}\${Name}"
!macroend

!macro RemoveLibrary Name
    Delete "$INSTDIR\DLL32\${Name}"
!macroend

; Each kept file is put there only when the user has none.
!macro InstallUnlessPresent Name
    ${IfNot} ${FileExists} "$INSTDIR\${Name}"
        File "${Name}"
    ${EndIf}
!macroend

; A helper program of the build, laid into the plug-ins folder.
!macro Helper Name
    InitPluginsDir
    File "/oname=$PLUGINSDIR\${Name}" "${BIN}\${Name}"
!macroend

; runentry.exe run with Arguments: the program's own rule for its item in
; the list of programs started at logon.
!macro RunEntry Arguments
    !insertmacro Helper runentry.exe
    ExecWait '"$PLUGINSDIR\runentry.exe" ${Arguments}'
!macroend

; Ends Setup with the message and the exit code, taking away the folder it
; made; nothing else was changed yet.
!macro Refuse Code Text
    MessageBox MB_OK|MB_ICONSTOP "${Text}" /SD IDOK
    ${If} $MadeFolder == 1
        RMDir "$INSTDIR"
    ${EndIf}
    SetErrorLevel ${Code}
    Quit
!macroend

; The functions that Setup and the uninstaller both need (un is "" or "un.").
!macro SharedFunctions un
; A program of the product that runs would keep its files, or write its
; settings and its item at logon again when it ends: each is named.
Function ${un}RefuseWhileRunning
    !insertmacro Helper running.exe
    nsExec::ExecToStack '"$PLUGINSDIR\running.exe" "$INSTDIR"'
    Pop $0
    Pop $1
    ${If} $0 > 0
        !insertmacro Refuse 2 "These programs of the Varnel keypad program are running: $1.$\r$\nExit KEYPAD32 from its File menu and end the others, then start this again."
    ${EndIf}
FunctionEnd

; $1 is 1 when the string on the stack, which is taken, holds a blank.
Function ${un}HasBlank
    Exch $0
    StrCpy $1 0
    StrCpy $3 0
    ${Do}
        StrCpy $2 $0 1 $3
        ${If} $2 == " "
            StrCpy $1 1
            ${Break}
        ${EndIf}
        IntOp $3 $3 + 1
    ${LoopUntil} $2 == ""
    Pop $0
FunctionEnd

; The run list separates its items by blanks, so a folder with a blank in
; its name goes into VARNEL.INI (and so into the run entry) in short form.
; $1 is 1 when $ProductDir still holds a blank: the volume keeps no short
; names.
Function ${un}FindProductDir
    StrCpy $ProductDir $INSTDIR
    Push $INSTDIR
    Call ${un}HasBlank
    ${If} $1 == 1
        GetFullPathName /SHORT $ProductDir $INSTDIR
        ${If} $ProductDir == ""
            StrCpy $ProductDir $INSTDIR
        ${EndIf}
        Push $ProductDir
        Call ${un}HasBlank
    ${EndIf}
FunctionEnd
!macroend
!insertmacro SharedFunctions ""
!insertmacro SharedFunctions "un."

; The folder is made, and refused when the list of programs at logon could
; not name it.
Function CheckFolder
    StrCpy $MadeFolder ""
    ${IfNot} ${FileExists} "$INSTDIR\*.*"
        ClearErrors
        CreateDirectory "$INSTDIR"
        ${If} ${Errors}
            !insertmacro Refuse 4 "Setup cannot make the folder $INSTDIR.$\r$\nChoose another folder."
        ${EndIf}
        StrCpy $MadeFolder 1
    ${EndIf}
    Call FindProductDir
    ${If} $1 == 1
        !insertmacro Refuse 4 "The folder $INSTDIR has a blank in its name, and its drive keeps no short names without one; the list of programs started at logon could not name the program.$\r$\nChoose a folder without blanks."
    ${EndIf}
FunctionEnd

; VARNEL.INI, through which the program finds its folders, must be writable
; before anything is copied.
Function CheckVarnelIni
    StrCpy $1 ""
    ${IfNot} ${FileExists} "$WINDIR\VARNEL.INI"
        StrCpy $1 1
    ${EndIf}
    ClearErrors
    FileOpen $0 "$WINDIR\VARNEL.INI" a
    ${If} ${Errors}
        !insertmacro Refuse 3 "Setup cannot write VARNEL.INI in $WINDIR, through which the program finds its folders, and installed nothing.$\r$\nRun Setup as administrator (right-click it, Run as administrator) while signed in as the user who will use the scanner: it installs for the user who runs it."
    ${EndIf}
    FileClose $0
    ${If} $1 == 1
        Delete "$WINDIR\VARNEL.INI"
    ${EndIf}
FunctionEnd

Section "KEYPAD32 (required)" SecProgram
    SectionIn RO
    Call RefuseWhileRunning
    Call CheckFolder
    Call CheckVarnelIni
    SetOutPath "$INSTDIR\EXE32"
    File "${BIN}\KEYPAD32.EXE"
    SetOutPath "$INSTDIR\DLL32"
    !insertmacro ForEachLibrary InstallLibrary
    ; The OCR library's English data, and the licences of what it is built of.
    SetOutPath "$INSTDIR\DLL32\tessdata"
    File "${BIN}\tessdata\eng.traineddata"
    SetOutPath "$INSTDIR\LICENCES"
    File "${LICENCES}\*.txt"
    SetOutPath "$INSTDIR"
    File "${BIN}\KELBO.CHM"
    !insertmacro InstallUnlessPresent SYS.INI
    !insertmacro InstallUnlessPresent TELVEX.INI
    !insertmacro InstallUnlessPresent ADDRESS.VCF

    ClearErrors
    FileOpen $0 "$WINDIR\VARNEL.INI" w
    ${If} ${Errors}
        !insertmacro Refuse 3 "VARNEL.INI cannot be written in $WINDIR."
    ${EndIf}
    FileWrite $0 "[VarnelSystem]$\r$\nVarnel=$ProductDir\$\r$\nDLL32=$ProductDir\DLL32\$\r$\n"
    FileWrite $0 "[ScanDLL]$\r$\nDLL32=$ProductDir\DLL32\VNLSCN32.DLL$\r$\n"
    FileClose $0

    CreateShortcut "${SHORTCUT}" "$INSTDIR\EXE32\KEYPAD32.EXE"
    ; UNINSTALL.EXE waits for the uninstaller proper and returns its exit code.
    WriteUninstaller "$INSTDIR\UNINSTALL.DAT"
    File "/oname=UNINSTALL.EXE" "${BIN}\uninstall.exe"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "Varnel"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\EXE32\KEYPAD32.EXE"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\UNINSTALL.EXE"'
    WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\UNINSTALL.EXE" /S'
    WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

; The same entry the program's menu item "Execute When Windows Starts" keeps.
Section /o "Start at logon" SecLogon
    !insertmacro RunEntry '"$ProductDir\EXE32\KEYPAD32.EXE"'
    WriteINIStr "$INSTDIR\SYS.INI" "Varnel" "StartRun" "1"
SectionEnd

; Start at logon unchecked for an installation that starts at logon: its
; item goes, those of the program's other installations stay.
Section "-Logon off"
    ${IfNot} ${SectionIsSelected} ${SecLogon}
        ReadINIStr $0 "$INSTDIR\SYS.INI" "Varnel" "StartRun"
        ${If} $0 == 1
            !insertmacro RunEntry '/remove "$ProductDir\EXE32\KEYPAD32.EXE"'
            WriteINIStr "$INSTDIR\SYS.INI" "Varnel" "StartRun" "0"
        ${EndIf}
    ${EndIf}
SectionEnd

; Only what names this folder goes: another installation keeps its
; registration, its Start menu item, its item at logon and VARNEL.INI.
Section "un.KEYPAD32" UnProgram
    SectionIn RO
    Call un.RefuseWhileRunning
    Call un.FindProductDir
    !insertmacro RunEntry '/remove "$ProductDir\EXE32\KEYPAD32.EXE"'
    ${If} ${FileExists} "$INSTDIR\SYS.INI"
        WriteINIStr "$INSTDIR\SYS.INI" "Varnel" "StartRun" "0"
    ${EndIf}
    Delete "$INSTDIR\EXE32\KEYPAD32.EXE"
    RMDir "$INSTDIR\EXE32"
    !insertmacro ForEachLibrary RemoveLibrary
    Delete "$INSTDIR\DLL32\tessdata\eng.traineddata"
    RMDir "$INSTDIR\DLL32\tessdata"
    RMDir "$INSTDIR\DLL32"
    Delete "$INSTDIR\LICENCES\*.txt"
    RMDir "$INSTDIR\LICENCES"
    Delete "$INSTDIR\KELBO.CHM"
    ReadINIStr $0 "$WINDIR\VARNEL.INI" "VarnelSystem" "Varnel"
    ${If} $0 == "$ProductDir\"
        Delete "$WINDIR\VARNEL.INI"
    ${EndIf}
    ReadRegStr $0 HKCU "${UNINSTALL_KEY}" "InstallLocation"
    GetFullPathName /SHORT $0 $0
    GetFullPathName /SHORT $1 $INSTDIR
    ${If} $0 == $1
        Delete "${SHORTCUT}"
        DeleteRegKey HKCU "${UNINSTALL_KEY}"
    ${EndIf}
    Delete "$INSTDIR\UNINSTALL.DAT"
    ; UNINSTALL.EXE, which waits for this, moves itself away afterwards.
    Delete "$INSTDIR\UNINSTALL.EXE"
SectionEnd

; What the mail library writes beside its store goes too: the outbox and
; its log; and the program's own log.
Section /o "un.Settings and recipient files" UnSettings
    Delete "$INSTDIR\SYS.INI"
    Delete "$INSTDIR\TELVEX.INI"
    Delete "$INSTDIR\ADDRESS.VCF"
    Delete "$INSTDIR\*.DES"
    Delete "$INSTDIR\*.INF"
    RMDir /r "$INSTDIR\OUTBOX"
    Delete "$INSTDIR\OUTBOX.log"
    Delete "$INSTDIR\KEYPAD32.LOG"
SectionEnd

Section "-un.Folder"
    RMDir "$INSTDIR"
SectionEnd

; A switch chooses a section that is off unless asked for.
!macro SelectOnSwitch Switch Section
    ${GetOptions} $R0 "${Switch}" $R1
    ${IfNot} ${Errors}
        !insertmacro SelectSection ${Section}
    ${EndIf}
!macroend

; NSIS takes /D= only unquoted, and drops a quoted one for the default
; folder: the command line is read again, /D= taking the rest of it without
; its quotes. A folder that is not a full path is refused.
Function TakeFolderSwitch
    System::Call 'kernel32::GetCommandLine() t .r0'
    StrCpy $1 0
    ${Do}
        StrCpy $2 $0 3 $1
        ${If} $2 == ""
            Return
        ${EndIf}
        ${If} $2 == "/D="
        ${AndIf} $1 > 0
            IntOp $3 $1 - 1
            StrCpy $3 $0 1 $3
            ${If} $3 == " "
            ${OrIf} $3 == '"'
                ${Break}
            ${EndIf}
        ${EndIf}
        IntOp $1 $1 + 1
    ${Loop}
    IntOp $1 $1 + 3
    StrCpy $0 $0 "" $1
    StrCpy $2 ""
    ${Do}
        StrCpy $3 $0 1
        StrCpy $0 $0 "" 1
        ${If} $3 != '"'
            StrCpy $2 "$2$3"
        ${EndIf}
    ${LoopUntil} $0 == ""
    ${Do}
        StrCpy $3 $2 1 -1
        ${If} $3 != " "
            ${Break}
        ${EndIf}
        StrCpy $2 $2 -1
    ${Loop}
    StrCpy $3 $2 2 1
    StrCpy $4 $2 2
    ${If} $3 != ":\"
    ${AndIf} $4 != "\\"
        !insertmacro Refuse 4 "The folder given with /D= is not a full path: $2"
    ${EndIf}
    StrCpy $INSTDIR $2
FunctionEnd

Function .onInit
    Call TakeFolderSwitch
    Call RefuseWhileRunning
    ${GetParameters} $R0
    !insertmacro SelectOnSwitch "/LOGON" ${SecLogon}
    ; An installation that starts at logon shows it and keeps it unless unchecked.
    ReadINIStr $0 "$INSTDIR\SYS.INI" "Varnel" "StartRun"
    ${If} $0 == 1
        !insertmacro SelectSection ${SecLogon}
    ${EndIf}
FunctionEnd

Function un.onInit
    Call un.RefuseWhileRunning
    ${GetParameters} $R0
    !insertmacro SelectOnSwitch "/PURGE" ${UnSettings}
FunctionEnd
