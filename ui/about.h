// The About box, dialog template IDD_ABOUT (98).
#pragma once
#include <windows.h>

// Centres the box over its owner (the main window) and ends it with 1 on any
// command.
INT_PTR CALLBACK AboutDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
