// The fax configuration sheet (dialog 100): the profile page, the speed-dial
// page made by the tab library on demand, and the get-message hook that
// gives F1 and the tooltips their meaning in the set-up dialogs.
#pragma once
#include <windows.h>

#include "abi/telvex_abi.h"

enum : int { ProfileDetailCount = 5, ProfileDetailSize = 80 };

extern HWND FaxConfigSheet;       // the open sheet, null when none
extern char ShownProfileName[80]; // the profile the details show

// Reads one profile setting (the mail library's RegistryGetSetting).
typedef DWORD(WINAPI *SettingReader)(const char *profile, SettingRequest *request);

// The five detail texts of a profile for destination (0 fax, 1 e-mail); a
// setting the library has no value for gives an empty text.
void ComposeProfileDetails(SettingReader read, const char *profile, WORD destination,
                           char details[ProfileDetailCount][ProfileDetailSize]);
void SetProfileLabels(HWND page);
void ShowProfileInfo(HWND page, const char *profile);
// Takes the page's profile choice and, on OK, writes it: 0 when a write failed.
int SaveProfileChoice(int ok);

INT_PTR CALLBACK FaxSheetProc(HWND sheet, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK ProfilePageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam);
HWND CALLBACK CreateProfilePage(BOOL create, HWND parent, HWND page, LPARAM parameter);
HWND CALLBACK CreateSpeedDialPage(BOOL create, HWND parent, HWND page, LPARAM parameter);

// Runs the sheet modally over owner: 1 OK, 0 Cancel, or 0 after telling the
// user that it could not be opened.
int OpenFaxSheet(HWND owner);

LRESULT CALLBACK DialogMessageHook(int code, WPARAM wParam, LPARAM lParam);
