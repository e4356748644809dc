// Records and messages of the tab-control library SFTTB32.dll, as the
// program and the library's stand-in both build them.
#pragma once
#include <windows.h>
#include <stddef.h>

// Creates (create nonzero), keeps (create zero, parent set) or destroys
// (create zero, no parent) the page of one tab; returns the page, or null.
typedef HWND(CALLBACK *TabPageCallback)(BOOL create, HWND parent, HWND page, LPARAM parameter);

// One tab's page, handed over with TabSetPage. Only the callback has a
// meaning the program relies on; the words are the library's.
struct TabPageRecord {
    DWORD Words[8];           // 0, 1, 2 = 0xFFFFFFFF; 3 = 0x00FF0000; 6 = 1
    TabPageCallback Callback; // word 8: an address, pointer-sized in 64-bit builds
    DWORD MoreWords[13];
};

// The tab control's options, handed over once with TabSetControl.
struct TabControlRecord {
    DWORD Words[40]; // 0 = 17, 1 = 1, 6 = 1, 8 = 1
};

#if defined(_WIN64)
static_assert(offsetof(TabPageRecord, Callback) == 32 && sizeof(TabPageRecord) == 96,
              "a tab page record with a 64-bit callback");
#else
static_assert(offsetof(TabPageRecord, Callback) == 32 && sizeof(TabPageRecord) == 88,
              "a tab page record is 22 words");
#endif
static_assert(sizeof(TabControlRecord) == 160, "a tab control record is 40 words");

// Messages to the tab control.
enum : UINT {
    TabAddTab = 1034,     // lParam the text; result the new tab's index
    TabSetControl = 1050, // lParam the TabControlRecord
    TabSetPage = 1052,    // wParam the index, lParam the TabPageRecord
    // Asked of the page being left; a nonzero answer keeps it.
    TabQueryKeepPage = WM_APP + 0x5F0,
};

// Notifications the tab control sends its parent with WM_COMMAND.
enum : WORD { TabLeavingPage = 4, TabEnteredPage = 5 };

#define TAB_CONTROL_CLASS "SoftelTabControl32"
#define TAB_DIALOG_CLASS "SoftelGrayDialog32"
