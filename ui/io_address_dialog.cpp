#include "ui/io_address_dialog.h"

#include "app/app.h"
#include "app/settings.h"
#include "driver/driver.h"
#include "driver/io_address.h"
#include "panel/panel_state.h"
#include "res/resource.h"
#include "ui/dialog_tools.h"
#include "ui/help.h"

WORD InitialPortIndex;
WORD SelectedPortIndex;
WORD VerifyMode;

// Room for the dialog's title, the loaded strings and the lines made from them.
enum : int { LineSize = 80, VerifyingPrefixSize = 40 };

static void ShowLine(HWND dialog, const char *text) {
    HWND line = GetDlgItem(dialog, IDC_VERIFY_LINE);
    SetWindowTextA(line, text);
    // The dialog's messages wait while the ports are tested: paint the line now.
    UpdateWindow(line);
}

static void ShowDialogMessage(HWND dialog, WORD id) {
    char title[LineSize];
    GetWindowTextA(dialog, title, sizeof title);
    ShowStringMessage(AppInstance, dialog, title, id);
}

int TestPort(HWND dialog, WORD index) {
    char prefix[VerifyingPrefixSize], text[LineSize];
    if (LoadStringA(AppInstance, IDS_VERIFYING_PORT, prefix, sizeof prefix) <= 0)
        prefix[0] = 0;
    FormatVerifyingLine(prefix, PortAddresses[index], text, sizeof text);
    ShowLine(dialog, text);
    return CallDriverWith(DrvTestIoPort, NULL, PortAddresses[index]) == 0;
}

void VerifyPorts(HWND dialog) {
    // A job holds the device, and closing it here would take it from the job.
    // Jobs are admitted on this thread, so none starts while the ports are tested.
    if (JobBusy || !OpenDevice()) {
        ShowLine(dialog, "");
        ShowDialogMessage(dialog, IDS_SCANNER_IN_USE);
        return;
    }
    WORD order[PortCount];
    int count = VerifyOrder(VerifyMode == IDOK, SelectedPortIndex, order);
    WORD found = NoPortIndex;
    for (int i = 0; i < count && found == NoPortIndex; i++) {
        if (TestPort(dialog, order[i]))
            found = order[i];
    }
    // Closed before anything is shown, so no box keeps the device from others.
    CloseDevice();
    if (found == NoPortIndex) {
        ShowLine(dialog, "");
        ShowDialogMessage(dialog, VerifyMode == IDOK ? IDS_NO_PORT_AVAILABLE : IDS_PORT_INVALID);
        return;
    }
    CheckRadioButton(dialog, IDC_PORT_FIRST, IDC_PORT_LAST, IDC_PORT_FIRST + found);
    if (found != InitialPortIndex)
        EnableWindow(GetDlgItem(dialog, IDC_APPLY_PORT), TRUE);
    SelectedPortIndex = found;
    char text[LineSize], line[LineSize];
    if (LoadStringA(AppInstance, IDS_PORT_VERIFIED, text, sizeof text) <= 0)
        text[0] = 0;
    FormatVerifiedLine(text, PortAddresses[found], line, sizeof line);
    ShowLine(dialog, line);
}

int ApplyPort(HWND dialog) {
    // Apply is enabled only with a port chosen; a command sent to it regardless writes nothing.
    if (SelectedPortIndex >= PortCount)
        return 0;
    WORD port = PortAddresses[SelectedPortIndex];
    char digits[8];
    FormatPortDigits(port, digits, sizeof digits);
    // A standard user often may not write to the Windows directory.
    if (!WritePrivateProfileStringA("386Enh", "Varnel_IO", digits, "system.ini")) {
        ShowStringMessage(AppInstance, dialog, AppTitle, IDS_ADDRESS_NOT_CHANGED);
        return 0;
    }
    char prefix[LineSize], text[MessageTextSize];
    if (LoadStringA(AppInstance, IDS_ADDRESS_CHANGED, prefix, sizeof prefix) <= 0)
        prefix[0] = 0;
    FormatChangedMessage(prefix, port, text, sizeof text);
    MessageBoxA(dialog, text, AppTitle, MB_OK);
    return 1;
}

static void CloseDialog(HWND dialog) {
    EndDialog(dialog, 0);
    ActiveSettingsDialog = NULL;
}

static void OnInitDialog(HWND dialog) {
    ActiveSettingsDialog = dialog;
    CenterWindowOver(MainWindow, dialog);
    InitialPortIndex = SelectedPortIndex = PortIndexOf(DeviceInfo.IoPort);
    // Only the checked button of the group is a tab stop. A port not in the
    // table names no button, so none is checked: the first is the tab stop.
    CheckRadioButton(dialog, IDC_PORT_FIRST, IDC_PORT_LAST, IDC_PORT_FIRST + InitialPortIndex);
    if (InitialPortIndex >= PortCount) {
        HWND first = GetDlgItem(dialog, IDC_PORT_FIRST);
        SetWindowLongA(first, GWL_STYLE, GetWindowLongA(first, GWL_STYLE) | WS_TABSTOP);
    }
    EnableWindow(GetDlgItem(dialog, IDC_APPLY_PORT), FALSE);
}

static void OnCommand(HWND dialog, int id) {
    WORD index;
    switch (id) {
    case IDOK:
    case IDC_VERIFY_PORT:
        VerifyMode = (WORD)id;
        VerifyPorts(dialog);
        break;
    case IDC_APPLY_PORT:
        // The dialog stays after a failed write, for another try or Cancel.
        if (ApplyPort(dialog))
            CloseDialog(dialog);
        break;
    case IDCANCEL:
        CloseDialog(dialog);
        break;
    default:
        // The panel's fax/e-mail key sends its own button ids to whichever
        // settings dialog is open; only the address buttons are ours.
        if (PortButtonIndex(id, &index)) {
            SelectedPortIndex = index;
            EnableWindow(GetDlgItem(dialog, IDC_APPLY_PORT), index != InitialPortIndex);
        }
        break;
    }
}

INT_PTR CALLBACK IoAddressDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG:
        OnInitDialog(dialog);
        return TRUE;
    case WM_COMMAND:
        OnCommand(dialog, LOWORD(wParam));
        return TRUE;
    case WM_HELP:
        AnswerHelpRequest(dialog, (const HELPINFO *)lParam);
        return TRUE;
    }
    return FALSE;
}
