// The tab-control library SFTTB32.dll, loaded from the product's library
// directory. Without it the fax configuration sheet cannot be made.
#pragma once
#include <windows.h>

#include "abi/tabs_abi.h"

struct TabLibraryBinding {
    HMODULE Library; // 0 while not bound
    BOOL(WINAPI *RegisterApp)(HINSTANCE instance);
    BOOL(WINAPI *UnregisterApp)(HINSTANCE instance);
    BOOL(WINAPI *ActivatePage)(HWND sheet, HWND tabs, DWORD reserved, BOOL initial);
    BOOL(WINAPI *DeactivatePage)(HWND sheet, HWND tabs);
    BOOL(WINAPI *RegisterDialog)(HWND sheet);
    BOOL(WINAPI *UnregisterDialog)(HWND sheet);
    BOOL(WINAPI *IsRegisteredDialog)(HWND window);
    BOOL(WINAPI *SetPageActive)(HWND page, LPARAM parameter, DWORD reserved);
    BOOL(WINAPI *HandleDialogMessage)(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    BOOL(WINAPI *Destroy)(HWND sheet, HWND tabs);
};

extern TabLibraryBinding TabLibrary; // bound by the fax sheet's first opening
extern int TabClassesRegistered;     // the window classes of the sheet exist

// Loads the library and registers its window classes for the program: 1/0.
int RegisterTabLibrary(HINSTANCE instance);
// Undoes the registration and releases the library.
void UnregisterTabLibrary(HINSTANCE instance);
