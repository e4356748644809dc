// The "Create New Profile" dialog (template 400) behind the Profiles menu.
#pragma once
#include <windows.h>

extern WORD ProfileKindCommand; // menu command that opened the dialog: the kind to create

// The dialog procedure; the creation parameter is the menu command 1014, 1016, 1017 or 1018.
INT_PTR CALLBACK CreateProfileDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
// Creates profile name of the kind the menu command selects, after making it
// the default of its destination when asked: 1 created, 0 not.
int CreateProfile(HWND owner, WORD command, const char *name, int makeDefault);
