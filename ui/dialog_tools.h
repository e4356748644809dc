// Helpers shared by the set-up dialogs.
#pragma once
#include <windows.h>

// Moves window to the centre of parent (the desktop when parent is null),
// keeping its size. Returns 1 when moved, 0 when the centred position would
// be negative and the window was left where it was.
int CenterWindowOver(HWND parent, HWND window);

// The set-up dialog now open (the panel keeps its destination radio buttons
// in step) and its tooltip window; empty when none is open.
extern HWND ActiveSettingsDialog;
extern HWND ActiveSettingsTips;
