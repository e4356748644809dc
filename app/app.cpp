// The program's process-wide state and its initialisation and release.
#include <windows.h>

#include "app/app.h"
#include "app/settings.h"
#include "app/startup_marks.h"
#include "copy/copy_settings.h"
#include "driver/driver.h"
#include "fax/profiles.h"
#include "fax/telvex.h"
#include "panel/panel_state.h"
#include "ui/fax_sheet.h"

HINSTANCE AppInstance;
HWND MainWindow;
HMENU MainMenu;
HACCEL Accelerators;
UINT_PTR PollTimer;
char AppTitle[40];
HHOOK MessageHook;
int FaxAvailable;
int CopyAvailable;
SystemLookRecord SystemLook;

const char *const MainWindowClass = "Fax Configuration";
const char *const ProgramFileName = "KEYPAD32.EXE";

int InitializeApp() {
    LoadSettings();
    StartupMark("settings read (SYS.INI, VARNEL.INI, telephon.ini)");
    if (InitFaxService()) {
        lstrcpynA(SettingsProfileName, FaxProfileName, ProfileNameSize);
        FaxAvailable = 1;
    } else {
        FaxServiceEnabled = 0;
        FaxAvailable = 0;
    }
    StartupMark("fax service: mail library Telvex.dll, fax settings, speed dials, profiles");
    if (LoadCopySettings()) {
        CopySettings = WorkingCopySettings;
        CopyAvailable = 1;
    } else {
        CopyServiceEnabled = 0;
        CopyAvailable = 0;
    }
    StartupMark("copy settings: printer library Dorlan.DLL");
    PaperSize = CopyUnit ? 2 : 0;
    SystemLook.ButtonFaceColor = GetSysColor(COLOR_BTNFACE);
    SystemLook.ButtonHighlightColor = GetSysColor(COLOR_BTNHIGHLIGHT);
    SystemLook.ButtonShadowColor = GetSysColor(COLOR_BTNSHADOW);
    MessageHook = SetWindowsHookExA(WH_GETMESSAGE, DialogMessageHook, NULL, GetCurrentThreadId());
    // The common controls are bound by the first dialog that makes one.
    StartupMark("system colours, message hook");
    return 1;
}

void ReleaseLibraries() {
    UnbindTelvex();
    UnbindDriver();
    UnbindPrinterLibrary();
}
