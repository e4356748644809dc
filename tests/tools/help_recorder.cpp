// A recording hhctrl.ocx for the tests that run the real program: laid
// beside KEYPAD32.EXE, it is the viewer the program loads, and it hands each
// request to the test's recording window instead of showing anything.
#include "tests/tools/help_record.h"

extern "C" HWND WINAPI HtmlHelpA(HWND caller, LPCSTR file, UINT command, DWORD_PTR data) {
    HWND recorder = FindWindowA(HelpRecorderClass, NULL);
    if (!recorder)
        return NULL;
    HelpRecord record = {};
    record.Data = data;
    record.Command = command;
    record.HasFile = file != NULL;
    if (file)
        lstrcpynA(record.File, file, sizeof record.File);
    COPYDATASTRUCT copy = {HelpRecordTag, sizeof record, &record};
    DWORD_PTR taken = 0;
    if (!SendMessageTimeoutA(recorder, WM_COPYDATA, (WPARAM)caller, (LPARAM)&copy, SMTO_ABORTIFHUNG,
                             5000, &taken) ||
        !taken)
        return NULL;
    // The real viewer answers with its window; the recorder is the one here.
    return recorder;
}
