// The program's process-wide state and its initialisation and release.
#include <windows.h>
#include <commctrl.h>

#include "app/app.h"
#include "app/settings.h"
#include "driver/driver.h"
#include "panel/panel_state.h"

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
    // The fax and copy services join here once they are part of the program;
    // until then they are unavailable and stay off.
    FaxServiceEnabled = 0;
    FaxAvailable = 0;
    CopyServiceEnabled = 0;
    CopyAvailable = 0;
    PaperSize = 0;
    SystemLook.ButtonFaceColor = GetSysColor(COLOR_BTNFACE);
    SystemLook.ButtonHighlightColor = GetSysColor(COLOR_BTNHIGHLIGHT);
    SystemLook.ButtonShadowColor = GetSysColor(COLOR_BTNSHADOW);
    InitCommonControls();
    return 1;
}

void ReleaseLibraries() { UnbindDriver(); }

