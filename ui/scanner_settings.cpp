#include "ui/scanner_settings.h"

#include <commctrl.h>

#include "app/app.h"
#include "app/settings.h"
#include "res/resource.h"
#include "ui/dialog_tools.h"
#include "ui/help.h"

LevelSlider LevelSliders[LevelSliderCount] = {
    {0, NULL, IDC_BRIGHTNESS_SLIDER, IDC_BRIGHTNESS_VALUE, 0, 100, 10, 0},
    {0, NULL, IDC_CONTRAST_SLIDER, IDC_CONTRAST_VALUE, 0, 100, 10, 0},
};
LevelPair WorkingLevels[ScanModeCount];
WORD SelectedModeButton;
int UseTrackbars;

// The contrast icons have a grey bitmap for the Text mode, which has no contrast.
static const OwnerDrawEntry OwnerDrawn[] = {
    {IDC_MODE_TEXT, ModeButtonKind, IDB_MODE_TEXT, IDB_MODE_TEXT},
    {IDC_MODE_PHOTO, ModeButtonKind, IDB_MODE_PHOTO, IDB_MODE_PHOTO},
    {IDC_MODE_COLOR_PHOTO, ModeButtonKind, IDB_MODE_COLOR_PHOTO, IDB_MODE_COLOR_PHOTO},
    {IDC_BRIGHTNESS_ICON, IconKind, IDB_BRIGHTNESS, IDB_BRIGHTNESS},
    {IDC_CONTRAST_ICON, IconKind, IDB_CONTRAST, IDB_CONTRAST_GREY},
    {IDC_SHARP_ICON, IconKind, IDB_SHARP, IDB_SHARP_GREY},
    {IDC_BLUR_ICON, IconKind, IDB_BLUR, IDB_BLUR_GREY},
    {IDC_DARK_ICON, IconKind, IDB_DARK, IDB_DARK},
    {IDC_LIGHT_ICON, IconKind, IDB_LIGHT, IDB_LIGHT},
    {0, OwnerDrawEnd, 0, 0},
};

// The icons have area tools too, so that their tips show while they are disabled.
static const TipTableEntry SettingsTips[] = {
    {IDS_TIP_TEXT, IDC_MODE_TEXT, TipWindowTool},
    {IDS_TIP_PHOTO, IDC_MODE_PHOTO, TipWindowTool},
    {IDS_TIP_COLOR_PHOTO, IDC_MODE_COLOR_PHOTO, TipWindowTool},
    {IDS_TIP_BRIGHTNESS, IDC_BRIGHTNESS_ICON, TipWindowTool},
    {IDS_TIP_CONTRAST, IDC_CONTRAST_ICON, TipWindowTool},
    {IDS_TIP_LIGHT, IDC_LIGHT_ICON, TipWindowTool},
    {IDS_TIP_DARK, IDC_DARK_ICON, TipWindowTool},
    {IDS_TIP_BLUR, IDC_BLUR_ICON, TipWindowTool},
    {IDS_TIP_SHARP, IDC_SHARP_ICON, TipWindowTool},
    {IDS_TIP_BRIGHTNESS, IDC_BRIGHTNESS_ICON, TipAreaTool},
    {IDS_TIP_CONTRAST, IDC_CONTRAST_ICON, TipAreaTool},
    {IDS_TIP_LIGHT, IDC_LIGHT_ICON, TipAreaTool},
    {IDS_TIP_DARK, IDC_DARK_ICON, TipAreaTool},
    {IDS_TIP_BLUR, IDC_BLUR_ICON, TipAreaTool},
    {IDS_TIP_SHARP, IDC_SHARP_ICON, TipAreaTool},
    {0, 0, TipTableEnd},
};

SHORT ScrolledLevel(const LevelSlider *slider, SHORT value, WORD code, SHORT thumb) {
    int step = slider->PageStep;
    int next = value;
    switch (code) {
    case SB_LINELEFT:
        next = value - 1;
        break;
    case SB_LINERIGHT:
        next = value + 1;
        break;
    case SB_PAGELEFT:
        // Division truncates toward zero: from 5 a page left gives 0.
        next = (SHORT)(value - step) / step * step;
        break;
    case SB_PAGERIGHT:
        next = (SHORT)(value + step) / step * step;
        break;
    case SB_THUMBPOSITION:
        next = thumb;
        break;
    case SB_LEFT:
        next = slider->Minimum;
        break;
    case SB_RIGHT:
        next = slider->Maximum;
        break;
    }
    if (next < slider->Minimum) {
        next = slider->Minimum;
    }
    if (next > slider->Maximum) {
        next = slider->Maximum;
    }
    return (SHORT)next;
}

int ParseLevel(const LevelSlider *slider, const char *text, SHORT *value) {
    const char *at = text;
    while (*at == ' ') {
        at++;
    }
    int negative = slider->Signed && *at == '-';
    at += negative;
    long number = 0;
    int digits = 0;
    for (; *at >= '0' && *at <= '9'; at++, digits++) {
        // Anything this large is out of range already; stop it growing.
        if (number < 100000) {
            number = number * 10 + (*at - '0');
        }
    }
    while (*at == ' ') {
        at++;
    }
    if (!digits || *at) {
        return 0;
    }
    number = negative ? -number : number;
    if (number < slider->Minimum || number > slider->Maximum) {
        return 0;
    }
    *value = (SHORT)number;
    return 1;
}

// Moves a slider's control to its Position and writes its edit box.
static void ShowSliderPosition(HWND dialog, const LevelSlider *slider) {
    if (UseTrackbars) {
        SendMessageA(slider->Control, TBM_SETPOS, TRUE, slider->Position);
    } else {
        SetScrollPos(slider->Control, SB_CTL, slider->Position, TRUE);
    }
    SetDlgItemInt(dialog, slider->EditId, (UINT)(int)slider->Position, slider->Signed);
}

// The window class of the sliders. A test names a class that does not exist
// in KEYPAD32_SLIDER_CLASS to see the dialog fall back to its scroll bars.
static void SliderClassName(char *name, DWORD size) {
    DWORD length = GetEnvironmentVariableA("KEYPAD32_SLIDER_CLASS", name, size);
    if (length == 0 || length >= size) {
        lstrcpynA(name, TRACKBAR_CLASSA, size);
    }
}

int CreateLevelTrackbars(HINSTANCE instance, HWND dialog, LevelSlider *sliders, int last) {
    char className[64];
    SliderClassName(className, sizeof className);
    BindCommonControls();
    if (last >= LevelSliderCount) {
        last = LevelSliderCount - 1;
    }
    HWND placeholders[LevelSliderCount] = {};
    int made = 0;
    for (; made <= last; made++) {
        LevelSlider *slider = &sliders[made];
        placeholders[made] = GetDlgItem(dialog, slider->PlaceholderId);
        RECT r;
        GetWindowRect(placeholders[made], &r);
        MapWindowPoints(NULL, dialog, (POINT *)&r, 2);
        slider->Control = CreateWindowExA(0, className, "",
                                          WS_CHILD | WS_VISIBLE | WS_TABSTOP | TBS_ENABLESELRANGE,
                                          r.left, r.top, r.right - r.left, r.bottom - r.top, dialog,
                                          (HMENU)(INT_PTR)slider->PlaceholderId, instance, NULL);
        if (!slider->Control) {
            break;
        }
        // Right behind its scroll bar, so that it takes the scroll bar's
        // place in the tab order when the scroll bar goes.
        SetWindowPos(slider->Control, placeholders[made], 0, 0, 0, 0,
                     SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
        SendMessageA(slider->Control, TBM_SETRANGE, TRUE,
                     MAKELPARAM(slider->Minimum, slider->Maximum));
        SendMessageA(slider->Control, TBM_SETPOS, TRUE, slider->Position);
        SetDlgItemInt(dialog, slider->EditId, (UINT)(int)slider->Position, slider->Signed);
    }
    if (made > last) {
        for (int i = 0; i <= last; i++) {
            // The scroll bar goes, so that its id (and its help topic) is the trackbar's.
            DestroyWindow(placeholders[i]);
            for (int tick = sliders[i].Minimum; tick <= sliders[i].Maximum;
                 tick += sliders[i].PageStep) {
                SendMessageA(sliders[i].Control, TBM_SETTIC, 0, tick);
            }
        }
        return 1;
    }
    for (int i = 0; i < made; i++) {
        DestroyWindow(sliders[i].Control);
    }
    InitLevelScrollBars(dialog, sliders, last);
    return 0;
}

void InitLevelScrollBars(HWND dialog, LevelSlider *sliders, int last) {
    for (int i = 0; i <= last; i++) {
        LevelSlider *slider = &sliders[i];
        slider->Control = GetDlgItem(dialog, slider->PlaceholderId);
        // The place is a trackbar's, with room for its ticks: a scroll bar
        // keeps its own height, in the middle of it.
        RECT r;
        GetWindowRect(slider->Control, &r);
        MapWindowPoints(NULL, dialog, (POINT *)&r, 2);
        int height = GetSystemMetrics(SM_CYHSCROLL);
        MoveWindow(slider->Control, r.left, (r.top + r.bottom - height) / 2, r.right - r.left,
                   height, TRUE);
        SetScrollRange(slider->Control, SB_CTL, slider->Minimum, slider->Maximum, FALSE);
        SetScrollPos(slider->Control, SB_CTL, slider->Position, TRUE);
        SetDlgItemInt(dialog, slider->EditId, (UINT)(int)slider->Position, slider->Signed);
    }
}

static int ContrastEnabled() {
    return IsWindowEnabled(LevelSliders[ContrastSlider].Control) != 0;
}

void ShowModeLevels(HWND dialog) {
    const LevelPair &levels = WorkingLevels[SelectedModeButton - IDC_MODE_TEXT];
    LevelSliders[BrightnessSlider].Position = levels.Brightness;
    LevelSliders[ContrastSlider].Position = levels.Contrast;
    for (const LevelSlider &slider : LevelSliders) {
        ShowSliderPosition(dialog, &slider);
    }
    int contrast = SelectedModeButton != IDC_MODE_TEXT;
    if (contrast == ContrastEnabled()) {
        return;
    }
    // The icons pick their bitmap by the slider's state when they paint;
    // erased first, so that no part of the other bitmap stays.
    static const WORD ContrastIcons[] = {IDC_CONTRAST_ICON, IDC_SHARP_ICON, IDC_BLUR_ICON};
    for (WORD id : ContrastIcons) {
        InvalidateRect(GetDlgItem(dialog, id), NULL, TRUE);
    }
    const LevelSlider *slider = &LevelSliders[ContrastSlider];
    EnableWindow(slider->Control, contrast);
    EnableWindow(GetDlgItem(dialog, slider->EditId), contrast);
    if (contrast) {
        ShowSliderPosition(dialog, slider);
    }
}

void DrawModeButton(const OwnerDrawEntry *entry, const DRAWITEMSTRUCT *item) {
    DrawItemBitmap(item, entry->Bitmap);
    const RECT &r = item->rcItem;
    Draw3DFrame(item->hDC, r.left, r.top, r.right, r.bottom,
                entry->ControlId == SelectedModeButton ? FrameSunken : FrameRaised);
}

// The dotted rectangle inverts, so drawing it again takes it away.
static void DrawModeFocus(const DRAWITEMSTRUCT *item) {
    RECT dots = item->rcItem;
    InflateRect(&dots, -4, -4);
    DrawFocusRect(item->hDC, &dots);
}

static void StoreShownLevels() {
    LevelPair *levels = &WorkingLevels[SelectedModeButton - IDC_MODE_TEXT];
    levels->Brightness = LevelSliders[BrightnessSlider].Position;
    levels->Contrast = LevelSliders[ContrastSlider].Position;
}

// A mode button pressed: the shown levels go back to their mode, the old
// button rises and this one's levels show.
static void SelectModeButton(HWND dialog, const DRAWITEMSTRUCT *item) {
    StoreShownLevels();
    HWND old = GetDlgItem(dialog, SelectedModeButton);
    RECT r;
    GetClientRect(old, &r);
    HDC dc = GetDC(old);
    Draw3DFrame(dc, r.left, r.top, r.right, r.bottom, FrameRaised);
    ReleaseDC(old, dc);
    SelectedModeButton = (WORD)item->CtlID;
    ShowModeLevels(dialog);
    const RECT &own = item->rcItem;
    Draw3DFrame(item->hDC, own.left, own.top, own.right, own.bottom, FrameSunken);
}

static BOOL OnDrawItem(HWND dialog, const DRAWITEMSTRUCT *item) {
    // The two statics are the sunken frames around the sliders.
    if (item->CtlType == ODT_STATIC) {
        const RECT &r = item->rcItem;
        Draw3DFrame(item->hDC, r.left, r.top, r.right, r.bottom, FrameSunken);
        return TRUE;
    }
    const OwnerDrawEntry *entry = OwnerDrawn;
    while (entry->Kind != OwnerDrawEnd && entry->ControlId != item->CtlID) {
        entry++;
    }
    if (entry->Kind == OwnerDrawEnd) {
        return FALSE;
    }
    int mode = entry->Kind == ModeButtonKind;
    if (item->itemAction & ODA_DRAWENTIRE) {
        if (!mode) {
            DrawItemBitmap(item, ContrastEnabled() ? entry->Bitmap : entry->TextModeBitmap);
            return TRUE;
        }
        DrawModeButton(entry, item);
        if (item->itemState & ODS_FOCUS) {
            DrawModeFocus(item);
        }
    } else if (item->itemAction & ODA_FOCUS) {
        if (mode) {
            DrawModeFocus(item);
        }
        return TRUE;
    } else if (!(item->itemAction & ODA_SELECT)) {
        return TRUE;
    }
    if (mode && (item->itemState & ODS_SELECTED)) {
        SelectModeButton(dialog, item);
    }
    return TRUE;
}

void OnLevelScroll(HWND dialog, LevelSlider *sliders, int count, WPARAM code, HWND control) {
    for (int i = 0; i < count; i++) {
        LevelSlider *slider = &sliders[i];
        if (slider->Control != control) {
            continue;
        }
        SHORT next = ScrolledLevel(slider, slider->Position, LOWORD(code), (SHORT)HIWORD(code));
        if (next != slider->Position) {
            slider->Position = next;
            ShowSliderPosition(dialog, slider);
        }
        return;
    }
}

// The leave-the-box rule: a number in range becomes the position, anything
// else gives way to the position again.
static void ApplyLevelEdit(HWND dialog, LevelSlider *slider) {
    HWND edit = GetDlgItem(dialog, slider->EditId);
    // A text too long for the buffer is no level; it is not cut into one.
    char text[16] = "";
    if (GetWindowTextLengthA(edit) < (int)sizeof text) {
        GetWindowTextA(edit, text, sizeof text);
    }
    SHORT value = 0;
    if (ParseLevel(slider, text, &value)) {
        slider->Position = value;
    }
    ShowSliderPosition(dialog, slider);
}

void OnLevelEditKillFocus(HWND dialog, LevelSlider *sliders, int count, WPARAM notification) {
    if (HIWORD(notification) != EN_KILLFOCUS) {
        return;
    }
    for (int i = 0; i < count; i++) {
        if (sliders[i].EditId == LOWORD(notification)) {
            ApplyLevelEdit(dialog, &sliders[i]);
        }
    }
}

void InitScannerSettingsDialog(HWND dialog) {
    for (int i = 0; i < ScanModeCount; i++) {
        WorkingLevels[i] = LevelDefaults[i];
    }
    ActiveSettingsDialog = dialog;
    CenterWindowOver(MainWindow, dialog);
    UseTrackbars = CreateLevelTrackbars(AppInstance, dialog, LevelSliders, LevelSliderCount - 1);
    SelectedModeButton = IDC_MODE_TEXT;
    ShowModeLevels(dialog);
    CreateDialogTips(AppInstance, dialog, &ActiveSettingsTips, SettingsTips);
}

// The tooltip goes with the dialog that owns it.
static void CloseScannerSettings(HWND dialog) {
    EndDialog(dialog, 1);
    ActiveSettingsDialog = NULL;
    ActiveSettingsTips = NULL;
}

// Enter in an edit box comes here while the box still has the focus, so
// both boxes are taken as if left first. A failed write keeps the dialog
// open, for another try or Cancel.
static void OnOk(HWND dialog) {
    for (LevelSlider &slider : LevelSliders) {
        ApplyLevelEdit(dialog, &slider);
    }
    StoreShownLevels();
    if (!SaveLevelDefaults(WorkingLevels, SettingsPathFor("SYS.INI"))) {
        ShowStringMessage(AppInstance, dialog, AppTitle, IDS_LEVELS_NOT_SAVED);
        return;
    }
    for (int i = 0; i < ScanModeCount; i++) {
        LevelDefaults[i] = WorkingLevels[i];
    }
    CloseScannerSettings(dialog);
}

INT_PTR CALLBACK ScannerSettingsDialogProc(HWND dialog, UINT message, WPARAM wParam,
                                           LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG:
        InitScannerSettingsDialog(dialog);
        return 0;
    case WM_DRAWITEM:
        return OnDrawItem(dialog, (const DRAWITEMSTRUCT *)lParam);
    case WM_HSCROLL:
        OnLevelScroll(dialog, LevelSliders, LevelSliderCount, wParam, (HWND)lParam);
        return 0;
    case WM_HELP:
        AnswerHelpRequest(dialog, (const HELPINFO *)lParam);
        return TRUE;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDOK:
            OnOk(dialog);
            break;
        case IDCANCEL:
            CloseScannerSettings(dialog);
            break;
        default:
            OnLevelEditKillFocus(dialog, LevelSliders, LevelSliderCount, wParam);
            break;
        }
        return 0;
    }
    return 0;
}
