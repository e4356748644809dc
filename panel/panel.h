// The meaning of every front-panel key, the LCD status line and the hand-over
// of a Fax or Copy key press to a job thread and back.
#pragma once
#include <windows.h>

// Panel message codes: wParam of the WM_USER messages the driver posts (and
// PanelJobEvent of the driver's job notification), and the two job starts the
// panel posts to itself.
enum PanelCode : WORD {
    KeyFax = 0,
    KeyCopy = 1,
    KeyScanMode = 3,
    KeyResolution = 4,
    KeyStop = 5,
    KeyDestination = 6,
    KeyPaperSize = 8,
    KeyFirstSpeedDial = 9,
    KeyLastSpeedDial = 22,
    KeyLevelUp = 23,
    KeyLevelDown = 24,
    KeyDigit = 25,
    PanelStartCopy = 4096,
    PanelStartFax = 4097,
};

enum : WORD { LcdStatusLine = 0, LcdMessageLine = 2 };

// Composes the status line ("LT TXT DFT 050 F") into out; never more than 16
// characters, whatever the levels hold.
void ComposeStatusLine(char *out, int size);
void ShowStatusLine();
void ClearMessageLine();
void ResetPanel();
// Shows the selected speed-dial key's label for the destination in force.
void ShowSpeedDialLabel();
// Set while the address book is open: the fax/e-mail key then waits, as its
// picks belong to the destination it was opened for.
extern int DestinationSwitchHeld;
// Clears the hold and applies the presses of the key that waited.
void ReleaseDestinationSwitch();
// The job thread's last step: hands the panel back to the main thread.
void EndJob();
// Creates a job thread (CreateThread); tests put one in its place that fails.
extern decltype(&CreateThread) CreateJobThread;
// The WM_USER branch of the main window.
LRESULT HandlePanelMessage(WPARAM wParam, LPARAM lParam);
