#include "ui/dialog_tools.h"

#include <commctrl.h>

#include "app/app.h"
#include "help/contexts.h"
#include "panel/panel_state.h"
#include "res/resource.h"

HWND ActiveSettingsDialog;
HWND ActiveSettingsTips;
HWND SpeedDialPage;
HWND SpeedDialTips;
UINT NextAreaTipId = 0x4000;

int CenterWindowOver(HWND parent, HWND window) {
    if (!parent)
        parent = GetDesktopWindow();
    RECT outer, inner;
    if (!GetWindowRect(parent, &outer) || !GetWindowRect(window, &inner))
        return 0;
    int width = inner.right - inner.left;
    int height = inner.bottom - inner.top;
    // Signed halving: a window larger than its parent gets a negative offset.
    int x = outer.left + ((outer.right - outer.left) - width) / 2;
    int y = outer.top + ((outer.bottom - outer.top) - height) / 2;
    // A minimised parent lies far off-screen; never move a window there.
    if (x < 0 || y < 0)
        return 0;
    MoveWindow(window, x, y, width, height, FALSE);
    return 1;
}

// Wine makes a window of a common-control class by loading COMCTL32 itself;
// Windows without a manifest does not, so each such control is bound first.
int BindCommonControls() {
    static int bound;
    if (!bound) {
        HMODULE library = LoadLibraryA("COMCTL32.DLL");
        // InitCommonControls, which takes nothing and returns nothing.
        FARPROC initialize = library ? GetProcAddress(library, MAKEINTRESOURCEA(17)) : NULL;
        if (initialize) {
            initialize();
            bound = 1;
        }
    }
    return bound;
}

// The tool record as the 32-bit common controls know it (40 bytes there),
// whatever the headers' version asks for.
static TOOLINFOA NewTool(HWND owner, UINT flags, UINT_PTR id) {
    TOOLINFOA tool = {};
    tool.cbSize = TTTOOLINFOA_V1_SIZE;
    tool.uFlags = flags;
    tool.hwnd = owner;
    tool.uId = id;
    return tool;
}

void CreateDialogTips(HINSTANCE instance, HWND dialog, HWND *slot, const TipTableEntry *table) {
    BindCommonControls();
    *slot =
        CreateWindowExA(0, TOOLTIPS_CLASSA, NULL, TTS_ALWAYSTIP | TTS_NOPREFIX, CW_USEDEFAULT,
                        CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, dialog, NULL, instance, NULL);
    if (!*slot)
        return;
    for (const TipTableEntry *entry = table; entry->Kind != TipTableEnd; entry++) {
        HWND control = GetDlgItem(dialog, entry->ControlId);
        RECT area;
        GetWindowRect(control, &area);
        MapWindowPoints(NULL, dialog, (POINT *)&area, 2);
        TOOLINFOA tool;
        if (entry->Kind == TipAreaTool) {
            // An area of the dialog shows its tip also while the control is disabled.
            tool = NewTool(dialog, 0, NextAreaTipId++);
            tool.rect = area;
        } else {
            tool = NewTool(dialog, TTF_IDISHWND, (UINT_PTR)control);
        }
        tool.hinst = instance;
        tool.lpszText = MAKEINTRESOURCEA(entry->TextId);
        SendMessageA(*slot, TTM_ADDTOOLA, 0, (LPARAM)&tool);
    }
}

WORD ListLineTipCount(WORD clientHeight, WORD itemHeight) {
    if (itemHeight == 0)
        return 0;
    return (WORD)((WORD)(itemHeight / 2 + clientHeight - 1) / itemHeight);
}

int AddListLineTips(HWND tips, HWND dialog, int listId, UINT firstId) {
    HWND list = GetDlgItem(dialog, listId);
    RECT client;
    GetClientRect(list, &client);
    WORD itemHeight = (WORD)SendMessageA(list, LB_GETITEMHEIGHT, 0, 0);
    WORD lines = ListLineTipCount((WORD)client.bottom, itemHeight);
    for (WORD k = 0; k < lines; k++) {
        TOOLINFOA tool = NewTool(list, 0, firstId + k);
        // The scroll bar has no tip.
        tool.rect.right = client.right - GetSystemMetrics(SM_CXVSCROLL);
        tool.rect.top = k * itemHeight;
        tool.rect.bottom = tool.rect.top + itemHeight;
        if (tool.rect.bottom > client.bottom)
            tool.rect.bottom = client.bottom;
        tool.lpszText = LPSTR_TEXTCALLBACKA;
        SendMessageA(tips, TTM_ADDTOOLA, 0, (LPARAM)&tool);
    }
    return lines;
}

int CountListLines(HWND list, int *lineHeight) {
    RECT client;
    GetClientRect(list, &client);
    *lineHeight = (int)SendMessageA(list, LB_GETITEMHEIGHT, 0, 0);
    return *lineHeight > 0 ? client.bottom / *lineHeight : 0;
}

void RelayTipMessage(HWND tips, HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (!tips)
        return;
    MSG relayed = {};
    relayed.hwnd = window;
    relayed.message = message;
    relayed.wParam = wParam;
    relayed.lParam = lParam;
    SendMessageA(tips, TTM_RELAYEVENT, 0, (LPARAM)&relayed);
}

// Controls with a help topic: ids First..Last, context for fax and e-mail.
struct HelpRow {
    WORD First;
    WORD Last;
    WORD Fax;
    WORD Mail;
};

static const HelpRow HelpRows[] = {
    {IDOK, IDOK, IDH_OK_BUTTON, IDH_OK_BUTTON},
    {IDC_FAX_PROFILE_LIST, IDC_FAX_PROFILE_LIST, IDH_FAX_PROFILE, IDH_FAX_PROFILE},
    {IDC_FAX_PROFILE_BUTTON, IDC_FAX_PROFILE_BUTTON, IDH_FAX_PROFILE, IDH_FAX_PROFILE},
    {IDC_MAIL_PROFILE_LIST, IDC_MAIL_PROFILE_LIST, IDH_MAIL_PROFILE, IDH_MAIL_PROFILE},
    {IDC_MAIL_PROFILE_BUTTON, IDC_MAIL_PROFILE_BUTTON, IDH_MAIL_PROFILE, IDH_MAIL_PROFILE},
    {IDC_DETAIL_FIRST, IDC_DETAIL_FIRST, IDH_FAX_USER, IDH_MAIL_FULL_NAME},
    {IDC_DETAIL_LABEL_FIRST, IDC_DETAIL_LABEL_FIRST, IDH_FAX_USER, IDH_MAIL_FULL_NAME},
    {IDC_DETAIL_FIRST + 1, IDC_DETAIL_FIRST + 1, IDH_FAX_NUMBER, IDH_MAIL_LOGIN},
    {IDC_DETAIL_LABEL_FIRST + 1, IDC_DETAIL_LABEL_FIRST + 1, IDH_FAX_NUMBER, IDH_MAIL_LOGIN},
    {IDC_DETAIL_FIRST + 2, IDC_DETAIL_FIRST + 2, IDH_FAX_PAPER_SIZE, IDH_MAIL_ADDRESS},
    {IDC_DETAIL_LABEL_FIRST + 2, IDC_DETAIL_LABEL_FIRST + 2, IDH_FAX_PAPER_SIZE, IDH_MAIL_ADDRESS},
    {IDC_DETAIL_FIRST + 3, IDC_DETAIL_FIRST + 3, IDH_FAX_RESOLUTION, IDH_MAIL_SERVER},
    {IDC_DETAIL_LABEL_FIRST + 3, IDC_DETAIL_LABEL_FIRST + 3, IDH_FAX_RESOLUTION, IDH_MAIL_SERVER},
    {IDC_DETAIL_FIRST + 4, IDC_DETAIL_FIRST + 4, IDH_FAX_COVER_PAGE, IDH_MAIL_CONNECTION},
    {IDC_DETAIL_LABEL_FIRST + 4, IDC_DETAIL_LABEL_FIRST + 4, IDH_FAX_COVER_PAGE,
     IDH_MAIL_CONNECTION},
    {IDC_SPEED_DIAL_KEY_FIRST, IDC_SPEED_DIAL_KEY_FIRST + 13, IDH_SPEED_DIAL_KEYS,
     IDH_SPEED_DIAL_KEYS},
    {IDC_KEY_LABEL, IDC_KEY_LABEL, IDH_KEY_LABEL, IDH_KEY_LABEL},
    {IDC_KEY_LABEL_CAPTION, IDC_KEY_LABEL_CAPTION, IDH_KEY_LABEL, IDH_KEY_LABEL},
    {IDC_ADDRESS_BOOK, IDC_ADDRESS_BOOK, IDH_ADDRESS_BOOK, IDH_ADDRESS_BOOK},
    {IDC_REMOVE_RECIPIENTS, IDC_REMOVE_RECIPIENTS, IDH_REMOVE_NUMBERS, IDH_REMOVE_NUMBERS},
    {IDC_REMOVE_ALL_RECIPIENTS, IDC_REMOVE_ALL_RECIPIENTS, IDH_REMOVE_ALL_NUMBERS,
     IDH_REMOVE_ALL_NUMBERS},
    {IDC_BRIGHTNESS_ICON, IDC_BRIGHTNESS_ICON, IDH_BRIGHTNESS, IDH_BRIGHTNESS},
    {IDC_DARK_ICON, IDC_DARK_ICON, IDH_BRIGHTNESS, IDH_BRIGHTNESS},
    {IDC_LIGHT_ICON, IDC_LIGHT_ICON, IDH_BRIGHTNESS, IDH_BRIGHTNESS},
    {IDC_BRIGHTNESS_SLIDER, IDC_BRIGHTNESS_VALUE, IDH_BRIGHTNESS, IDH_BRIGHTNESS},
    {IDC_CONTRAST_ICON, IDC_CONTRAST_ICON, IDH_CONTRAST, IDH_CONTRAST},
    {IDC_BLUR_ICON, IDC_BLUR_ICON, IDH_CONTRAST, IDH_CONTRAST},
    {IDC_SHARP_ICON, IDC_SHARP_ICON, IDH_CONTRAST, IDH_CONTRAST},
    {IDC_CONTRAST_SLIDER, IDC_CONTRAST_VALUE, IDH_CONTRAST, IDH_CONTRAST},
    {IDC_MODE_TEXT, IDC_MODE_TEXT, IDH_MODE_TEXT, IDH_MODE_TEXT},
    {IDC_MODE_PHOTO, IDC_MODE_PHOTO, IDH_MODE_PHOTO, IDH_MODE_PHOTO},
    {IDC_MODE_COLOR_PHOTO, IDC_MODE_COLOR_PHOTO, IDH_MODE_COLOR_PHOTO, IDH_MODE_COLOR_PHOTO},
    {IDC_VERIFY_PORT, IDC_VERIFY_PORT, IDH_IO_VERIFY, IDH_IO_VERIFY},
    {IDC_APPLY_PORT, IDC_APPLY_PORT, IDH_IO_APPLY, IDH_IO_APPLY},
    {IDC_PORT_FIRST, IDC_PORT_LAST, IDH_IO_ADDRESSES, IDH_IO_ADDRESSES},
    {IDC_PORT_FRAME, IDC_PORT_FRAME, IDH_IO_ADDRESSES, IDH_IO_ADDRESSES},
    {IDC_COPY_PRINTER_GROUP, IDC_COPY_PRINTER_GROUP, IDH_COPY_PRINTER, IDH_COPY_PRINTER},
    {IDC_COPY_ALWAYS_DEFAULT, IDC_COPY_PRINTER_LIST, IDH_COPY_PRINTER, IDH_COPY_PRINTER},
    {IDC_COPY_PROPERTIES_GROUP, IDC_COPY_PROPERTIES_GROUP, IDH_COPY_PROPERTIES,
     IDH_COPY_PROPERTIES},
    {IDC_COPY_PORT, IDC_COPY_PRINTABLE_AREA, IDH_COPY_PROPERTIES, IDH_COPY_PROPERTIES},
    {IDC_COPY_FIT_IN_PAGE, IDC_COPY_FIT_IN_PAGE, IDH_COPY_FIT_IN_PAGE, IDH_COPY_FIT_IN_PAGE},
    {IDC_PAGES_AS_LIST, IDC_PAGES_AS_LIST, IDH_PAGES_AS, IDH_PAGES_AS},
    {IDC_PAGES_AS_LABEL, IDC_PAGES_AS_LABEL, IDH_PAGES_AS, IDH_PAGES_AS},
    {IDC_SEARCHABLE_TEXT, IDC_SEARCHABLE_TEXT, IDH_SEARCHABLE_TEXT, IDH_SEARCHABLE_TEXT},
};

int HelpContextFor(int controlId, int destination, DWORD *context) {
    for (const HelpRow &row : HelpRows) {
        if (controlId >= row.First && controlId <= row.Last) {
            *context = destination ? row.Mail : row.Fax;
            return 1;
        }
    }
    return 0;
}

int LookupHelpContext(HWND control, DWORD *context) {
    return HelpContextFor(GetDlgCtrlID(control), Destination, context);
}

void DrawEdgeFrame(HDC dc, HPEN topLeft, HPEN bottomRight, const RECT *rect) {
    HGDIOBJ old = SelectObject(dc, topLeft);
    MoveToEx(dc, rect->left, rect->top, NULL);
    LineTo(dc, rect->right - 1, rect->top);
    SelectObject(dc, bottomRight);
    LineTo(dc, rect->right - 1, rect->bottom - 1);
    LineTo(dc, rect->left, rect->bottom - 1);
    SelectObject(dc, topLeft);
    LineTo(dc, rect->left, rect->top);
    SelectObject(dc, old);
}

void Draw3DFrame(HDC dc, int left, int top, int right, int bottom, int style) {
    HPEN black = (HPEN)GetStockObject(BLACK_PEN);
    HPEN face = CreatePen(PS_SOLID, 1, SystemLook.ButtonFaceColor);
    HPEN light = CreatePen(PS_SOLID, 1, SystemLook.ButtonHighlightColor);
    HPEN shadow = CreatePen(PS_SOLID, 1, SystemLook.ButtonShadowColor);
    RECT outer = {left, top, right, bottom};
    RECT inner = {left + 1, top + 1, right - 1, bottom - 1};
    if (style == FrameSunken) {
        DrawEdgeFrame(dc, black, light, &outer);
        DrawEdgeFrame(dc, shadow, face, &inner);
    } else {
        DrawEdgeFrame(dc, face, black, &outer);
        DrawEdgeFrame(dc, light, shadow, &inner);
    }
    DeleteObject(face);
    DeleteObject(light);
    DeleteObject(shadow);
}

void DrawTransparentBitmap(HDC dc, HBITMAP bitmap, COLORREF transparent, int x, int y, int width,
                           int height, int stretch) {
    BITMAP info;
    if (!GetObjectA(bitmap, sizeof info, &info))
        return;
    int bw = info.bmWidth;
    int bh = info.bmHeight;
    if (width == -1)
        width = bw;
    if (height == -1)
        height = bh;
    if (!stretch && (bw < width || bh < height)) {
        x += (width - bw) / 2;
        y += (height - bh) / 2;
        width = bw;
        height = bh;
    }
    COLORREF oldText = SetTextColor(dc, RGB(0, 0, 0));
    COLORREF oldBack = SetBkColor(dc, RGB(255, 255, 255));
    HDC source = CreateCompatibleDC(dc);
    HDC maskDc = CreateCompatibleDC(dc);
    HGDIOBJ oldSource = SelectObject(source, bitmap);
    HBITMAP mask = CreateBitmap(bw, bh, 1, 1, NULL);
    HGDIOBJ oldMask = SelectObject(maskDc, mask);
    // The mask is 1 where the bitmap has the transparent colour.
    SetBkColor(source, transparent);
    BitBlt(maskDc, 0, 0, bw, bh, source, 0, 0, SRCCOPY);
    StretchBlt(dc, x, y, width, height, source, 0, 0, bw, bh, SRCINVERT);
    StretchBlt(dc, x, y, width, height, maskDc, 0, 0, bw, bh, SRCAND);
    StretchBlt(dc, x, y, width, height, source, 0, 0, bw, bh, SRCINVERT);
    SelectObject(maskDc, oldMask);
    SelectObject(source, oldSource);
    DeleteDC(maskDc);
    DeleteDC(source);
    DeleteObject(mask);
    SetTextColor(dc, oldText);
    SetBkColor(dc, oldBack);
}

void DrawItemBitmap(const DRAWITEMSTRUCT *item, WORD bitmapId) {
    HBITMAP bitmap = LoadBitmapA(AppInstance, MAKEINTRESOURCEA(bitmapId));
    if (!bitmap)
        return;
    const RECT &r = item->rcItem;
    DrawTransparentBitmap(item->hDC, bitmap, TransparentColor, r.left, r.top, r.right - r.left,
                          r.bottom - r.top, 0);
    DeleteObject(bitmap);
}
