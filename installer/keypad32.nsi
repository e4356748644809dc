; Setup and uninstaller of the Varnel keypad program. makensis is given
; TARGET (x86-unicode or amd64-unicode), BIN (the build's bin folder),
; LIBRARIES (the list of files for DLL32\) and OUTFILE.
;
; Switches: /S silent, /LOGON also starts the program at logon,
; /D=<folder> (last) installs there. The uninstaller: /S silent, /PURGE also
; removes the settings and recipient files.
Target ${TARGET}

!include LogicLib.nsh
!include FileFunc.nsh
!include Sections.nsh
!include ${LIBRARIES}

!define PRODUCT "Varnel Keypad Program"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\KEYPAD32"
!define UNINSTALLER "UNINSTALL.EXE"
!define SHORTCUT "$SMPROGRAMS\${PRODUCT}.lnk"
; The class of the program's main window: while it exists the program runs,
; and its exit would write SYS.INI and the run entry again.
!define WINDOW_CLASS "Fax Configuration"

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

; runentry.exe in the plug-ins folder, run with Arguments: the program's own
; rule for its item in the list of programs started at logon.
!macro RunEntry Arguments
    InitPluginsDir
    File "/oname=$PLUGINSDIR\runentry.exe" "${BIN}\runentry.exe"
    ExecWait '"$PLUGINSDIR\runentry.exe" ${Arguments}'
!macroend

; The functions that Setup and the uninstaller both need (un is "" or "un.").
!macro SharedFunctions un
Function ${un}RefuseWhileRunning
    FindWindow $0 "${WINDOW_CLASS}"
    ${If} $0 != 0
        MessageBox MB_OK|MB_ICONSTOP "The Varnel keypad program (KEYPAD32) is running.$\r$\nExit it from its File menu, then start this again." /SD IDOK
        SetErrorLevel 2
        Quit
    ${EndIf}
FunctionEnd

; The run list separates its items by blanks, so a folder with a blank in
; its name goes into VARNEL.INI (and so into the run entry) in short form.
Function ${un}FindProductDir
    StrCpy $ProductDir $INSTDIR
    StrCpy $1 0
    ${Do}
        StrCpy $2 $INSTDIR 1 $1
        ${If} $2 == " "
            GetFullPathName /SHORT $ProductDir $INSTDIR
            ${Break}
        ${EndIf}
        IntOp $1 $1 + 1
    ${LoopUntil} $2 == ""
FunctionEnd
!macroend
!insertmacro SharedFunctions ""
!insertmacro SharedFunctions "un."

Section "KEYPAD32 (required)" SecProgram
    SectionIn RO
    Call RefuseWhileRunning
    SetOutPath "$INSTDIR\EXE32"
    File "${BIN}\KEYPAD32.EXE"
    SetOutPath "$INSTDIR\DLL32"
    !insertmacro ForEachLibrary InstallLibrary
    SetOutPath "$INSTDIR"
    File "${BIN}\KELBO.CHM"
    !insertmacro InstallUnlessPresent SYS.INI
    !insertmacro InstallUnlessPresent TELVEX.INI
    !insertmacro InstallUnlessPresent ADDRESS.VCF

    Call FindProductDir
    ClearErrors
    FileOpen $0 "$WINDIR\VARNEL.INI" w
    ${If} ${Errors}
        MessageBox MB_OK|MB_ICONSTOP "VARNEL.INI cannot be written in $WINDIR: the program finds its folders through it.$\r$\nRun Setup as a user who may write there." /SD IDOK
        SetErrorLevel 3
        Quit
    ${EndIf}
    FileWrite $0 "[VarnelSystem]$\r$\nVarnel=$ProductDir\$\r$\nDLL32=$ProductDir\DLL32\$\r$\n"
    FileWrite $0 "[ScanDLL]$\r$\nDLL32=$ProductDir\DLL32\VNLSCN32.DLL$\r$\n"
    FileClose $0

    CreateShortcut "${SHORTCUT}" "$INSTDIR\EXE32\KEYPAD32.EXE"
    WriteUninstaller "$INSTDIR\${UNINSTALLER}"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "Varnel"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\EXE32\KEYPAD32.EXE"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\${UNINSTALLER}"'
    WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\${UNINSTALLER}" /S'
    WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

; The same entry the program's menu item "Execute When Windows Starts" keeps.
Section /o "Start at logon" SecLogon
    !insertmacro RunEntry '"$ProductDir\EXE32\KEYPAD32.EXE"'
    WriteINIStr "$INSTDIR\SYS.INI" "Varnel" "StartRun" "1"
SectionEnd

Section "un.KEYPAD32" UnProgram
    SectionIn RO
    Call un.RefuseWhileRunning
    !insertmacro RunEntry ""
    ${If} ${FileExists} "$INSTDIR\SYS.INI"
        WriteINIStr "$INSTDIR\SYS.INI" "Varnel" "StartRun" "0"
    ${EndIf}
    Delete "$INSTDIR\EXE32\KEYPAD32.EXE"
    RMDir "$INSTDIR\EXE32"
    !insertmacro ForEachLibrary RemoveLibrary
    RMDir "$INSTDIR\DLL32"
    Delete "$INSTDIR\KELBO.CHM"
    ; Another installation may have taken VARNEL.INI over since.
    Call un.FindProductDir
    ReadINIStr $0 "$WINDIR\VARNEL.INI" "VarnelSystem" "Varnel"
    ${If} $0 == "$ProductDir\"
        Delete "$WINDIR\VARNEL.INI"
    ${EndIf}
    Delete "${SHORTCUT}"
    DeleteRegKey HKCU "${UNINSTALL_KEY}"
    Delete "$INSTDIR\${UNINSTALLER}"
SectionEnd

Section /o "un.Settings and recipient files" UnSettings
    Delete "$INSTDIR\SYS.INI"
    Delete "$INSTDIR\TELVEX.INI"
    Delete "$INSTDIR\ADDRESS.VCF"
    Delete "$INSTDIR\*.DES"
    Delete "$INSTDIR\*.INF"
    RMDir /r "$INSTDIR\OUTBOX"
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

Function .onInit
    Call RefuseWhileRunning
    ${GetParameters} $R0
    !insertmacro SelectOnSwitch "/LOGON" ${SecLogon}
FunctionEnd

Function un.onInit
    Call un.RefuseWhileRunning
    ${GetParameters} $R0
    !insertmacro SelectOnSwitch "/PURGE" ${UnSettings}
FunctionEnd
