// The resident program: its instance, main window, menu and the flags that
// say which services could be started.
#pragma once
#include <windows.h>

// System button colours, taken once at start for the dialogs' drawing.
struct SystemLookRecord {
    COLORREF ButtonFaceColor;
    COLORREF ButtonHighlightColor;
    COLORREF ButtonShadowColor;
};

enum : UINT_PTR { PollTimerId = 4660 };
// Room for the message that ends a start without a device.
enum : int { StartFailureTextSize = 80 };

extern HINSTANCE AppInstance;       // the program's module instance
extern HWND MainWindow;             // main window, target of all panel messages
extern HMENU MainMenu;              // the main window's menu
extern HACCEL Accelerators;         // menu accelerators, may be empty
extern UINT_PTR PollTimer;          // the 100 ms panel poll timer, 0 when not running
extern char AppTitle[40];           // "Varnel Keypad Program": window and message box caption
extern HHOOK MessageHook;           // the dialogs' get-message hook, empty when not installed
extern int FaxAvailable;            // the fax service could be started
extern int CopyAvailable;           // the copy service could be started
extern SystemLookRecord SystemLook; // button colours for the dialogs

extern const char *const MainWindowClass; // "Fax Configuration"
extern const char *const ProgramFileName; // "KEYPAD32.EXE"

int InitializeApp();
void ReleaseLibraries();
LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Registers (1) or unregisters (0) the 26 panel keys with the driver, so that
// it posts WM_USER with the key index to the main window.
void RegisterPanelKeys(int on);
// Writes the settings that the main window owns, at shutdown.
void SaveShutdownSettings();
