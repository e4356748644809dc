// The one door to the help file: every help command and context-help request
// goes through here with the help file path and a context number.
#pragma once
#include <windows.h>

void OpenHelp(HWND owner, UINT command, DWORD data);
// Opens the topic of control when it has one: 1, else 0 and nothing shown.
int OpenContextHelp(HWND owner, HWND control);
