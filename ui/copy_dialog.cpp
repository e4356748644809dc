#include "ui/copy_dialog.h"

#include <stdio.h>

#include "app/app.h"
#include "app/settings.h"
#include "panel/panel_state.h"
#include "res/resource.h"
#include "scanjob/scan_job.h"
#include "ui/dialog_tools.h"
#include "ui/help.h"

PrinterList *DialogPrinterList;
PrinterEntry DialogPrinterEntry;
PrinterInfo DialogPrinterInfo;
char DialogPrinterDescription[PrinterDescriptionSize];

// The unit text behind the printable area is at most this long.
enum : int { UnitTextSize = 10 };

int OpenPrinterList(const char *description) {
    DialogPrinterListHandle = ListPrinters();
    DialogPrinterList =
        DialogPrinterListHandle ? (PrinterList *)GlobalLock(DialogPrinterListHandle) : NULL;
    // A list without a printer offers nothing to choose: it counts as none.
    if (!DialogPrinterList || DialogPrinterList->Count == 0) {
        ClosePrinterList();
        return 0;
    }
    WORD found =
        description[0] ? FindPrinter(description, DialogPrinterList) : (WORD)NoPrinterMatch;
    DialogPrinterList->Current =
        found < DialogPrinterList->Count ? found : DialogPrinterList->Default;
    return 1;
}

void ClosePrinterList() {
    ReleaseBlock(&DialogPrinterListHandle);
    DialogPrinterList = NULL;
}

int OpenDialogPrinter(char *description, WORD paper, WORD option) {
    // The library forgets what a context held when it is opened again.
    CloseDialogPrinter();
    SplitPrinterDescription(description, &DialogPrinterEntry);
    DialogContextOpen = OpenPrinterContext(&DialogPrinterEntry, &DialogPrinterContext);
    if (!DialogContextOpen) {
        ClosePrinterContext(&DialogPrinterContext);
        return 0;
    }
    if (paper) {
        DialogPrinterInfo.PaperCode = PaperFor(paper - 1).Code;
    }
    if (option) {
        DialogPrinterInfo.QueryOption = option;
    }
    return QueryPrinter(&DialogPrinterEntry, &DialogPrinterContext, &DialogPrinterInfo);
}

int OnPrinterSelChange(WORD notification, HWND comboBox) {
    if (notification != CBN_SELCHANGE) {
        return 1;
    }
    LRESULT chosen = SendMessageA(comboBox, CB_GETCURSEL, 0, 0);
    if (chosen < 0 || chosen >= DialogPrinterList->Count || chosen == DialogPrinterList->Current) {
        return 1;
    }
    const PrinterEntry *entry = &DialogPrinterList->Entries[chosen];
    if (SelectPrinter(&DialogPrinterContext, entry)) {
        DialogContextOpen = 1;
        if (QueryPrinter(entry, &DialogPrinterContext, &DialogPrinterInfo)) {
            DialogPrinterList->Current = (WORD)chosen;
            return 2;
        }
        CloseDialogPrinter();
        DialogContextOpen = OpenPrinterContext(
            &DialogPrinterList->Entries[DialogPrinterList->Current], &DialogPrinterContext);
    }
    SendMessageA(comboBox, CB_SETCURSEL, DialogPrinterList->Current, 0);
    return 0;
}

char *FormatPrintableArea(char *buffer, int size, const PrinterInfo *info, int unit) {
    // Rounded to the hundredth by the added 0.005, in single precision.
    float width = info->DpiX > 0 ? (float)info->PrintableWidth / (float)info->DpiX + 0.005f : 0;
    float height = info->DpiY > 0 ? (float)info->PrintableHeight / (float)info->DpiY + 0.005f : 0;
    if (unit) {
        width *= 2.54f;
        height *= 2.54f;
    }
    int wholeWidth = (int)width;
    int wholeHeight = (int)height;
    int written = snprintf(buffer, size, "%d.%.2dx%d.%.2d ", wholeWidth,
                           (int)((width - (float)wholeWidth) * 100), wholeHeight,
                           (int)((height - (float)wholeHeight) * 100));
    return buffer + (written < 0 ? 0 : written < size ? written : size - 1);
}

void ShowPrinterProperties(HWND dialog) {
    char text[64];
    SetDlgItemTextA(dialog, IDC_COPY_PORT, DialogPrinterEntry.PortName);
    LoadStringA(AppInstance, DialogPrinterInfo.ColorMode == PrinterColorCapable ? IDS_YES : IDS_NO,
                text, sizeof text);
    SetDlgItemTextA(dialog, IDC_COPY_COLOR, text);
    snprintf(text, sizeof text, "%dx%d dpi", (int)DialogPrinterInfo.DpiX,
             (int)DialogPrinterInfo.DpiY);
    SetDlgItemTextA(dialog, IDC_COPY_RESOLUTION, text);
    char *unitText =
        FormatPrintableArea(text, sizeof text - UnitTextSize, &DialogPrinterInfo, CopyUnit);
    LoadStringA(AppInstance, CopyUnit ? IDS_UNIT_CM : IDS_UNIT_INCH, unitText, UnitTextSize);
    SetDlgItemTextA(dialog, IDC_COPY_PRINTABLE_AREA, text);
}

static void DescribePrinter(const PrinterEntry *entry, char *description, int size) {
    snprintf(description, size, "%s, %s, %s", entry->DeviceName, entry->DriverName,
             entry->PortName);
}

// Opens the printer the dialog shows, the default one while AlwaysDefault is
// on, and shows its properties; 0 when the library cannot open or query it.
static int ShowChosenPrinter(HWND dialog) {
    const PrinterList *list = DialogPrinterList;
    DescribePrinter(
        &list->Entries[WorkingCopySettings.AlwaysDefault ? list->Default : list->Current],
        DialogPrinterDescription, sizeof DialogPrinterDescription);
    if (!OpenDialogPrinter(DialogPrinterDescription, (WORD)(PaperSize + 1), 1)) {
        return 0;
    }
    ShowPrinterProperties(dialog);
    return 1;
}

// The list drops down as wide as its longest printer name, which the box
// itself may cut.
static void FitDroppedWidth(HWND comboBox, const PrinterList *list) {
    HDC dc = GetDC(comboBox);
    HGDIOBJ oldFont = SelectObject(dc, (HFONT)SendMessageA(comboBox, WM_GETFONT, 0, 0));
    int widest = 0;
    for (WORD i = 0; i < list->Count; i++) {
        SIZE size;
        const char *name = list->Entries[i].DeviceName;
        if (GetTextExtentPoint32A(dc, name, lstrlenA(name), &size) && size.cx > widest) {
            widest = size.cx;
        }
    }
    SelectObject(dc, oldFont);
    ReleaseDC(comboBox, dc);
    int margins = 4 * GetSystemMetrics(SM_CXEDGE) + GetSystemMetrics(SM_CXVSCROLL);
    SendMessageA(comboBox, CB_SETDROPPEDWIDTH, widest + margins, 0);
}

static void EndCopyConfig(HWND dialog, INT_PTR result) {
    ClosePrinterList();
    CloseDialogPrinter();
    EndDialog(dialog, result);
}

static void InitCopyConfig(HWND dialog) {
    CenterWindowOver(MainWindow, dialog);
    if (!OpenPrinterList(WorkingCopySettings.Printer)) {
        ShowStringMessage(AppInstance, dialog, AppTitle, IDS_NO_PRINTERS);
        EndDialog(dialog, 0);
        return;
    }
    const PrinterList *list = DialogPrinterList;
    SetDlgItemTextA(dialog, IDC_COPY_DEFAULT_NAME, list->Entries[list->Default].DeviceName);
    HWND comboBox = GetDlgItem(dialog, IDC_COPY_PRINTER_LIST);
    for (WORD i = 0; i < list->Count; i++) {
        SendMessageA(comboBox, CB_ADDSTRING, 0, (LPARAM)list->Entries[i].DeviceName);
    }
    SendMessageA(comboBox, CB_SETCURSEL, list->Current, 0);
    FitDroppedWidth(comboBox, list);
    CheckRadioButton(dialog, IDC_COPY_ALWAYS_DEFAULT, IDC_COPY_SPECIFY_PRINTER,
                     WorkingCopySettings.AlwaysDefault ? IDC_COPY_ALWAYS_DEFAULT
                                                       : IDC_COPY_SPECIFY_PRINTER);
    EnableWindow(comboBox, !WorkingCopySettings.AlwaysDefault);
    CheckDlgButton(dialog, IDC_COPY_FIT_IN_PAGE,
                   WorkingCopySettings.FitInPage ? BST_CHECKED : BST_UNCHECKED);
    if (ShowChosenPrinter(dialog)) {
        return;
    }
    CopyServiceEnabled = 0;
    CopyAvailable = 0;
    ShowStringMessage(AppInstance, dialog, AppTitle, IDS_PRINT_DRIVER_FAILED);
    EndCopyConfig(dialog, 0);
}

// A click on either radio button; a change that the library refuses is undone.
static void OnDefaultChoice(HWND dialog, int alwaysDefault) {
    if (alwaysDefault != (WorkingCopySettings.AlwaysDefault != 0)) {
        WorkingCopySettings.AlwaysDefault = alwaysDefault;
        if (!ShowChosenPrinter(dialog)) {
            WorkingCopySettings.AlwaysDefault = !alwaysDefault;
        }
    }
    CheckRadioButton(dialog, IDC_COPY_ALWAYS_DEFAULT, IDC_COPY_SPECIFY_PRINTER,
                     WorkingCopySettings.AlwaysDefault ? IDC_COPY_ALWAYS_DEFAULT
                                                       : IDC_COPY_SPECIFY_PRINTER);
    EnableWindow(GetDlgItem(dialog, IDC_COPY_PRINTER_LIST), !WorkingCopySettings.AlwaysDefault);
}

// OK: the printer listed is stored even while the default one is used, so
// that it is there when the user turns AlwaysDefault off. 0 when the
// settings file could not take them.
static int StoreCopyConfig(HWND dialog) {
    LRESULT chosen = SendDlgItemMessageA(dialog, IDC_COPY_PRINTER_LIST, CB_GETCURSEL, 0, 0);
    // Without a selection the stored printer stays.
    if (chosen >= 0 && chosen < DialogPrinterList->Count) {
        DialogPrinterList->Current = (WORD)chosen;
        DescribePrinter(&DialogPrinterList->Entries[chosen], WorkingCopySettings.Printer,
                        sizeof WorkingCopySettings.Printer);
    }
    WorkingCopySettings.FitInPage = IsDlgButtonChecked(dialog, IDC_COPY_FIT_IN_PAGE) == BST_CHECKED;
    return SaveCopySettings();
}

INT_PTR CALLBACK CopyConfigDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG:
        InitCopyConfig(dialog);
        break;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDC_COPY_ALWAYS_DEFAULT:
        case IDC_COPY_SPECIFY_PRINTER:
            if (HIWORD(wParam) == BN_CLICKED) {
                OnDefaultChoice(dialog, LOWORD(wParam) == IDC_COPY_ALWAYS_DEFAULT);
            }
            break;
        case IDC_COPY_PRINTER_LIST:
            if (OnPrinterSelChange(HIWORD(wParam), (HWND)lParam) == 2) {
                ShowChosenPrinter(dialog);
            }
            break;
        case IDOK:
            // The dialog stays after a failed write, for another try or Cancel.
            if (StoreCopyConfig(dialog)) {
                EndCopyConfig(dialog, 1);
            } else {
                ShowStringMessage(AppInstance, dialog, AppTitle, IDS_COPY_SETTINGS_NOT_SAVED);
            }
            break;
        case IDCANCEL:
            EndCopyConfig(dialog, 0);
            break;
        }
        break;
    case WM_HELP:
        AnswerHelpRequest(dialog, (const HELPINFO *)lParam);
        break;
    }
    return 0;
}

int OpenCopyConfig(HWND owner) {
    // A library without one of these entries cannot serve the dialog.
    if (!ListPrinters || !FindPrinter || !OpenPrinterContext || !SelectPrinter || !QueryPrinter ||
        !ClosePrinterContext) {
        ShowStringMessage(AppInstance, owner, AppTitle, IDS_COPY_INIT_FAILED);
        return 0;
    }
    WorkingCopySettings = CopySettings;
    if (DialogBoxParamA(AppInstance, MAKEINTRESOURCEA(IDD_COPY_CONFIG), owner, CopyConfigDialogProc,
                        0) <= 0) {
        return 0;
    }
    PutCopySettings(&WorkingCopySettings);
    return 1;
}
