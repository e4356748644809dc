// Drives the program's main window from scripts, as a user would with the
// menu: `winctl exit` chooses Exit and waits until the window is gone,
// `winctl menu <id>` chooses any menu command, `winctl restore` shows the
// minimised window at a given place (`winctl restore x y width height`),
// `winctl wait` waits until the window exists, `winctl sheet` waits for the
// fax configuration sheet and prints its screen rectangle as WxH+X+Y,
// `winctl tab <n>` shows tab n of the open sheet, `winctl dialog <caption>`
// waits for a dialog of that caption and prints its rectangle the same way,
// `winctl cancel <caption>` closes that dialog with its Cancel button and
// waits until it is gone, `winctl press <caption> <id>` presses its button id,
// `winctl drop <caption> <id>` drops its combo box id down and prints the
// rectangle of the dialog and the dropped list together.
// Exit code 0 on success, 1 when the window is not found.
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <commctrl.h>

#include "res/resource.h"

static HWND WaitForMainWindow(int present, DWORD timeout) {
    DWORD start = GetTickCount();
    for (;;) {
        HWND window = FindWindowA("Fax Configuration", NULL);
        if ((window != NULL) == (present != 0) || GetTickCount() - start > timeout) {
            return window;
        }
        Sleep(50);
    }
}

static HWND WaitForDialog(const char *windowClass, const char *caption) {
    HWND dialog = NULL;
    for (int i = 0; i < 200 && !dialog; i++, Sleep(dialog ? 0 : 50)) {
        dialog = FindWindowA(windowClass, caption);
    }
    return dialog;
}

static void Print(const RECT &r) {
    printf("%ldx%ld+%ld+%ld\n", r.right - r.left, r.bottom - r.top, r.left, r.top);
}

static int PrintRect(HWND window) {
    RECT r;
    if (!window || !GetWindowRect(window, &r)) {
        return 1;
    }
    Print(r);
    return 0;
}

// The dropped list is a window of its own, beside the dialog.
static int DropAndPrint(HWND dialog, int id) {
    RECT r, list;
    if (!dialog || !GetWindowRect(dialog, &r)) {
        return 1;
    }
    SendMessageA(GetDlgItem(dialog, id), CB_SHOWDROPDOWN, TRUE, 0);
    HWND dropped = NULL;
    for (int i = 0; i < 200 && !dropped; i++, Sleep(dropped ? 0 : 50)) {
        dropped = FindWindowA("ComboLBox", NULL);
        dropped = dropped && IsWindowVisible(dropped) ? dropped : NULL;
    }
    if (!dropped || !GetWindowRect(dropped, &list)) {
        return 1;
    }
    UnionRect(&r, &r, &list);
    Print(r);
    return 0;
}

int main(int argc, char **argv) {
    if (argc < 2) {
        fprintf(stderr,
                "usage: winctl exit | menu <id> | restore [x y w h] | wait | sheet | tab <n> | "
                "dialog <caption> | cancel <caption> | press <caption> <id> | "
                "drop <caption> <id>\n");
        return 2;
    }
    HWND window = WaitForMainWindow(1, 10000);
    if (!window) {
        fprintf(stderr, "winctl: the program's window was not found\n");
        return 1;
    }
    if (strcmp(argv[1], "exit") == 0) {
        PostMessageA(window, WM_COMMAND, IDM_EXIT, 0);
        return WaitForMainWindow(0, 10000) ? 1 : 0;
    }
    if (strcmp(argv[1], "restore") == 0) {
        ShowWindow(window, SW_RESTORE);
        if (argc > 5) {
            SetWindowPos(window, HWND_TOP, atoi(argv[2]), atoi(argv[3]), atoi(argv[4]),
                         atoi(argv[5]), 0);
        }
        return 0;
    }
    if (strcmp(argv[1], "sheet") == 0 || strcmp(argv[1], "tab") == 0) {
        HWND sheet = WaitForDialog("SoftelGrayDialog32", "Varnel: Fax Configuration");
        if (!sheet) {
            return 1;
        }
        if (argv[1][0] == 't' && argc > 2) {
            HWND tabs = FindWindowExA(GetDlgItem(sheet, 103), NULL, WC_TABCONTROLA, NULL);
            SendMessageA(tabs, TCM_SETCURFOCUS, (WPARAM)atoi(argv[2]), 0);
            return 0;
        }
        return PrintRect(sheet);
    }
    if (strcmp(argv[1], "dialog") == 0 && argc > 2) {
        return PrintRect(WaitForDialog("#32770", argv[2]));
    }
    if (strcmp(argv[1], "cancel") == 0 && argc > 2) {
        // Gone before the caller opens the next one.
        HWND dialog = WaitForDialog("#32770", argv[2]);
        if (!dialog || !PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0)) {
            return 1;
        }
        for (int i = 0; i < 200 && IsWindow(dialog); i++) {
            Sleep(50);
        }
        return IsWindow(dialog) ? 1 : 0;
    }
    if (strcmp(argv[1], "press") == 0 && argc > 3) {
        HWND dialog = WaitForDialog("#32770", argv[2]);
        return dialog && PostMessageA(dialog, WM_COMMAND, (WPARAM)atoi(argv[3]), 0) ? 0 : 1;
    }
    if (strcmp(argv[1], "drop") == 0 && argc > 3) {
        return DropAndPrint(WaitForDialog("#32770", argv[2]), atoi(argv[3]));
    }
    if (strcmp(argv[1], "menu") == 0 && argc > 2) {
        PostMessageA(window, WM_COMMAND, (WPARAM)atoi(argv[2]), 0);
    }
    return 0;
}
