// What the recording hhctrl.ocx hands to the test that records the
// program's help requests: one record per HtmlHelpA call, by WM_COPYDATA to
// the window of class HelpRecorderClass. Fixed layout, the same in the
// 32-bit and 64-bit builds.
#pragma once
#include <windows.h>

#define HelpRecorderClass "KeypadHelpRecorder"
// COPYDATASTRUCT.dwData of a record.
enum : DWORD { HelpRecordTag = 0x48485243 };

struct HelpRecord {
    DWORD64 Data; // the call's data: a context number, or 0
    DWORD Command;
    DWORD HasFile; // 0 when the call named no file (HH_CLOSE_ALL)
    char File[MAX_PATH];
};
