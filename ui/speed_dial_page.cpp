#include "ui/speed_dial_page.h"

#include <commctrl.h>
#include <stdio.h>

#include "app/app.h"
#include "app/settings.h"
#include "fax/fax_job.h"
#include "fax/profiles.h"
#include "fax/speed_dial.h"
#include "fax/telvex.h"
#include "panel/panel.h"
#include "panel/panel_state.h"
#include "res/resource.h"
#include "ui/dialog_tools.h"
#include "ui/fax_sheet.h"
#include "ui/help.h"
#include "ui/tab_library.h"

// One owner-drawn button; the table ends with Focus -1.
struct BitmapButtonEntry {
    WORD BitmapId;
    WORD ControlId;
    int Focus; // 1: the focus is drawn
};

static BitmapButtonEntry BitmapButtons[] = {
    {IDB_ADDRESS_BOOK, IDC_ADDRESS_BOOK, 1},
    {IDB_SCISSORS, IDC_REMOVE_RECIPIENTS, 1},
    {IDB_CARD_AND_BIN, IDC_REMOVE_ALL_RECIPIENTS, 1},
    {0, 0, -1},
};

// The Remove buttons have an area tool that shows while they are disabled
// and a window tool that shows while they are enabled.
static const TipTableEntry PageTips[] = {
    {IDS_TIP_ADDRESS_BOOK, IDC_ADDRESS_BOOK, TipWindowTool},
    {IDS_TIP_REMOVE_NUMBERS, IDC_REMOVE_RECIPIENTS, TipAreaTool},
    {IDS_TIP_REMOVE_ALL_NUMBERS, IDC_REMOVE_ALL_RECIPIENTS, TipAreaTool},
    {IDS_TIP_REMOVE_NUMBERS, IDC_REMOVE_RECIPIENTS, TipWindowTool},
    {IDS_TIP_REMOVE_ALL_NUMBERS, IDC_REMOVE_ALL_RECIPIENTS, TipWindowTool},
    {0, 0, TipTableEnd},
};

// The bitmaps of the two Remove buttons, enabled and disabled.
struct RemoveButton {
    WORD ControlId;
    WORD Enabled;
    WORD Disabled;
};
static const RemoveButton RemoveButtons[2] = {
    {IDC_REMOVE_RECIPIENTS, IDB_SCISSORS, IDB_SCISSORS_GREY},
    {IDC_REMOVE_ALL_RECIPIENTS, IDB_CARD_AND_BIN, IDB_CARD_AND_BIN_GREY},
};

enum : int { RecipientNameTipSize = 128 };

static int CurrentKeyId = IDC_SPEED_DIAL_KEY_FIRST;
static WORD PageDestination; // the destination whose set the page shows
static int KeyOpen;          // EditLink holds the shown key's blocks, locked
static WNDPROC ListOwnProc;
static UINT EndListTipId;
static RECT RemoveRects[2];
// The tooltip reads the text after the notification returns: a line's
// recipient name, which may be wider than the list, over its description
// (150 characters at most).
static char LineTip[RecipientNameTipSize + 2 + 150];

static SpeedDialEntry *ShownEntry() {
    return &SpeedDialTable[SpeedDialNumber(PageDestination, CurrentKeyId - 300) - 1];
}

// The entry follows every change of EditLink's storage at once, under the
// lock a fax job takes to copy a key's recipients: the job copies the old
// list or the new one, whole, and never storage released under it.
static void PublishEditLink() {
    SpeedDialEntry *entry = ShownEntry();
    entry->RecipientCount = EditLink.RecipientCount;
    entry->RecipientBlock = EditLink.RecipientBlock;
    entry->StringBlock = EditLink.StringBlock;
}

static void ClearEditLink() {
    EditLink.RecipientCount = 0;
    EditLink.RecipientBlock = EditLink.StringBlock = NULL;
    EditLink.Recipients = NULL;
    EditLink.Strings = NULL;
}

// Unlocks and frees EditLink's blocks; call with the lock held.
static void ReleaseEditLink() {
    ReleaseBlock(&EditLink.RecipientBlock);
    ReleaseBlock(&EditLink.StringBlock);
    ClearEditLink();
}

// A key left empty keeps no blocks, so none are lost on the next load.
static void ReleaseIfEmpty() {
    if (EditLink.RecipientCount == 0) {
        ReleaseEditLink();
    }
}

static void FillRecipientList(HWND page) {
    HWND list = GetDlgItem(page, IDC_RECIPIENT_LIST);
    SendMessageA(list, LB_RESETCONTENT, 0, 0);
    for (DWORD i = 0; i < EditLink.RecipientCount; i++) {
        SendMessageA(list, LB_ADDSTRING, 0, (LPARAM)EditLink.Recipients[i].Name);
    }
    SetRemoveEnabled(page, 0);
    SetRemoveAllEnabled(page, EditLink.RecipientCount != 0);
}

void LoadKeyIntoPage(HWND page) {
    PageDestination = Destination;
    SpeedDialEntry *entry = ShownEntry();
    ClearEditLink();
    if (entry->RecipientCount && !AttachSpeedDialEntry(entry)) {
        // Records that do not fit their strings cannot be shown or sent.
        LockProfileChoice();
        ReleaseEditLink();
        PublishEditLink();
        UnlockProfileChoice();
    }
    KeyOpen = 1;
    FillRecipientList(page);
    SetDlgItemTextA(page, IDC_KEY_LABEL, entry->Label);
}

void StoreKeyFromPage(HWND) {
    if (!KeyOpen) {
        return;
    }
    LockProfileChoice();
    PublishEditLink();
    UnlockProfileChoice();
    if (EditLink.RecipientBlock) {
        GlobalUnlock(EditLink.RecipientBlock);
    }
    if (EditLink.StringBlock) {
        GlobalUnlock(EditLink.StringBlock);
    }
    ClearEditLink();
    KeyOpen = 0;
}

void StoreKeyAndLabel(HWND page) {
    if (KeyOpen) {
        StoreKeyFromPage(page);
        GetDlgItemTextA(page, IDC_KEY_LABEL, ShownEntry()->Label, SpeedDialLabelSize);
    }
}

// Enables or disables a Remove button with the bitmap of its state. A
// button that disables itself while it has the focus hands it to the list.
static void SetRemoveButton(HWND page, int which, int on) {
    const RemoveButton *remove = &RemoveButtons[which];
    HWND button = GetDlgItem(page, remove->ControlId);
    if (!IsWindowEnabled(button) == !on) {
        return;
    }
    BitmapButtons[which + 1].BitmapId = on ? remove->Enabled : remove->Disabled;
    if (!on && GetFocus() == button) {
        SetFocus(GetDlgItem(page, IDC_RECIPIENT_LIST));
    }
    EnableWindow(button, on);
    InvalidateRect(button, &RemoveRects[which], FALSE);
}

void SetRemoveEnabled(HWND page, int on) {
    SetRemoveButton(page, 0, on);
}

void SetRemoveAllEnabled(HWND page, int on) {
    SetRemoveButton(page, 1, on);
}

int RemoveRecipientLine(HWND page, HWND list, int line) {
    LockProfileChoice();
    int removed = RemoveRecipientAt(list, line);
    if (removed) {
        ReleaseIfEmpty();
        PublishEditLink();
    }
    UnlockProfileChoice();
    if (!removed) {
        return 0;
    }
    ShownEntry()->Modified = 1;
    SendMessageA(list, LB_DELETESTRING, line, 0);
    SetRemoveEnabled(page, 0);
    SetRemoveAllEnabled(page, EditLink.RecipientCount != 0);
    return 1;
}

// Removes every selected line; a line that stays is stepped over.
static void RemoveSelectedLines(HWND page) {
    HWND list = GetDlgItem(page, IDC_RECIPIENT_LIST);
    LRESULT left = SendMessageA(list, LB_GETSELCOUNT, 0, 0);
    for (int line = 0; left > 0;) {
        LRESULT selected = SendMessageA(list, LB_GETSEL, line, 0);
        if (selected == LB_ERR) {
            break;
        }
        if (selected > 0) {
            left--;
            if (RemoveRecipientLine(page, list, line)) {
                continue;
            }
        }
        line++;
    }
}

static void RemoveAllRecipients(HWND page) {
    ShownEntry()->Modified = 1;
    LockProfileChoice();
    ReleaseEditLink();
    PublishEditLink();
    UnlockProfileChoice();
    SendDlgItemMessageA(page, IDC_RECIPIENT_LIST, LB_RESETCONTENT, 0, 0);
    SetRemoveEnabled(page, 0);
    SetRemoveAllEnabled(page, 0);
}

// The address book works on copies of the key's blocks: the mail library
// frees the blocks it replaces, while the entry, which a fax job may copy
// at any moment, still names the originals. Gives 0 when no copy could be
// made or linked; EditLink is then as it was.
static int LendCopiesToAddressBook(HGLOBAL *records, HGLOBAL *strings) {
    *records = EditLink.RecipientBlock;
    *strings = EditLink.StringBlock;
    if (!*records) {
        return 1;
    }
    RecipientLink lent = EditLink;
    lent.RecipientBlock = DuplicateBlock(*records);
    lent.StringBlock = DuplicateBlock(*strings);
    if (!lent.RecipientBlock || !lent.StringBlock ||
        TelvexBinding.BuildRecipientLink(&lent) != TelvexOk) {
        ReleaseBlock(&lent.RecipientBlock);
        ReleaseBlock(&lent.StringBlock);
        return 0;
    }
    GlobalUnlock(*records);
    GlobalUnlock(*strings);
    EditLink = lent;
    return 1;
}

static void PickFromAddressBook(HWND page) {
    HGLOBAL records, strings;
    if (!LendCopiesToAddressBook(&records, &strings)) {
        ShowStringMessage(AppInstance, page, AppTitle, IDS_OUT_OF_MEMORY);
        return;
    }
    // The fax/e-mail key waits: the picks belong to the destination the
    // address book was opened for.
    DestinationSwitchHeld = 1;
    DWORD result = PickRecipients(page, 1);
    LockProfileChoice();
    ReleaseIfEmpty();
    PublishEditLink();
    UnlockProfileChoice();
    ReleaseBlock(&records);
    ReleaseBlock(&strings);
    if (result == TelvexOk) {
        ShownEntry()->Modified = 1;
        FillRecipientList(page);
    } else if (result == TelvexNoMemory) {
        ShowStringMessage(AppInstance, page, AppTitle, IDS_OUT_OF_MEMORY);
        PostMessageA(FaxConfigSheet, WM_COMMAND, IDCANCEL, 0);
    } else if (result != TelvexCancelled) {
        ShowStringMessage(AppInstance, page, AppTitle, IDS_ADDRESS_BOOK_FAILED);
    }
    ReleaseDestinationSwitch();
}

static void SwitchKey(HWND page, int id) {
    StoreKeyAndLabel(page);
    CurrentKeyId = id;
    LoadKeyIntoPage(page);
    CheckRadioButton(page, IDC_SPEED_DIAL_KEY_FIRST, IDC_SPEED_DIAL_KEY_FIRST + 13, id);
}

static void OnPageCommand(HWND page, int id, int code) {
    if (id >= IDC_SPEED_DIAL_KEY_FIRST && id < IDC_SPEED_DIAL_KEY_FIRST + SpeedDialKeyCount) {
        if (code == BN_CLICKED) {
            SwitchKey(page, id);
        }
    } else if (id == IDC_RECIPIENT_LIST) {
        HWND list = GetDlgItem(page, id);
        if (code == LBN_SELCHANGE) {
            SetRemoveEnabled(page, SendMessageA(list, LB_GETSELCOUNT, 0, 0) > 0);
        } else if (code == LBN_DBLCLK) {
            RemoveRecipientLine(page, list, (int)SendMessageA(list, LB_GETCARETINDEX, 0, 0));
        }
    } else if (id == IDC_REMOVE_RECIPIENTS) {
        RemoveSelectedLines(page);
    } else if (id == IDC_REMOVE_ALL_RECIPIENTS) {
        RemoveAllRecipients(page);
    } else if (id == IDC_ADDRESS_BOOK) {
        PickFromAddressBook(page);
    }
}

const char *RecipientLineTip(HWND list, UINT toolId) {
    LineTip[0] = 0;
    if (toolId >= FirstListTipId && toolId < EndListTipId && EditLink.RecipientCount) {
        WORD line = (WORD)(toolId - FirstListTipId + SendMessageA(list, LB_GETTOPINDEX, 0, 0));
        WORD index =
            line < EditLink.RecipientCount ? FindRecipientIndex(list, line) : (WORD)NoRecipient;
        if (index != NoRecipient) {
            int used = snprintf(LineTip, sizeof LineTip, "%.*s\r\n", RecipientNameTipSize,
                                EditLink.Recipients[index].Name);
            FormatRecipientDetail(LineTip + used, sizeof LineTip - used, index);
        }
    }
    return LineTip;
}

static LRESULT CALLBACK RecipientListProc(HWND list, UINT message, WPARAM wParam, LPARAM lParam) {
    NMHDR *header = (NMHDR *)lParam;
    if (message == WM_NOTIFY && header->hwndFrom == SpeedDialTips &&
        header->code == TTN_NEEDTEXTA) {
        ((NMTTDISPINFOA *)lParam)->lpszText = (char *)RecipientLineTip(list, (UINT)header->idFrom);
    }
    return CallWindowProcA(ListOwnProc, list, message, wParam, lParam);
}

static void Shrink(RECT *rect, int by) {
    InflateRect(rect, -by, -by);
}

static void DrawBitmapButton(const DRAWITEMSTRUCT *item, const BitmapButtonEntry *entry) {
    RECT r = item->rcItem;
    HBITMAP bitmap = LoadBitmapA(AppInstance, MAKEINTRESOURCEA(entry->BitmapId));
    RECT inner = r;
    Shrink(&inner, 3);
    DrawTransparentBitmap(item->hDC, bitmap, TransparentColor, inner.left, inner.top,
                          inner.right - inner.left, inner.bottom - inner.top, 0);
    HPEN face = CreatePen(PS_SOLID, 1, SystemLook.ButtonFaceColor);
    DrawEdgeFrame(item->hDC, face, face, &r);
    DeleteObject(face);
    Shrink(&r, 1);
    Draw3DFrame(item->hDC, r.left, r.top, r.right, r.bottom, FrameRaised);
    DeleteObject(bitmap);
}

// The dotted rectangle inverts, so drawing it twice takes it away again.
static void DrawButtonFocus(const DRAWITEMSTRUCT *item) {
    RECT r = item->rcItem;
    RECT dots = r;
    Shrink(&dots, 5);
    DrawFocusRect(item->hDC, &dots);
    if (item->itemState & ODS_FOCUS) {
        HPEN black = (HPEN)GetStockObject(BLACK_PEN);
        DrawEdgeFrame(item->hDC, black, black, &r);
    } else {
        HPEN face = CreatePen(PS_SOLID, 1, SystemLook.ButtonFaceColor);
        DrawEdgeFrame(item->hDC, face, face, &r);
        DeleteObject(face);
    }
}

// A held button loses its raised edge and looks flat; the bitmap stays.
static void DrawButtonPressed(const DRAWITEMSTRUCT *item) {
    RECT r = item->rcItem;
    Shrink(&r, 1);
    if (item->itemState & ODS_SELECTED) {
        HPEN face = CreatePen(PS_SOLID, 1, SystemLook.ButtonFaceColor);
        DrawEdgeFrame(item->hDC, face, face, &r);
        Shrink(&r, 1);
        DrawEdgeFrame(item->hDC, face, face, &r);
        DeleteObject(face);
    } else {
        Draw3DFrame(item->hDC, r.left, r.top, r.right, r.bottom, FrameRaised);
    }
}

static BOOL DrawPageItem(const DRAWITEMSTRUCT *item) {
    const BitmapButtonEntry *entry = BitmapButtons;
    while (entry->Focus != -1 && entry->ControlId != item->CtlID) {
        entry++;
    }
    if (entry->Focus == -1) {
        return FALSE;
    }
    if (item->itemAction & ODA_DRAWENTIRE) {
        DrawBitmapButton(item, entry);
        if ((item->itemState & ODS_FOCUS) && entry->Focus == 1) {
            DrawButtonFocus(item);
        }
    } else if (item->itemAction & ODA_SELECT) {
        DrawButtonPressed(item);
    } else if ((item->itemAction & ODA_FOCUS) && entry->Focus == 1) {
        DrawButtonFocus(item);
    }
    return TRUE;
}

static BOOL InitSpeedDialPage(HWND page, LPARAM parameter) {
    SpeedDialPage = page;
    CurrentKeyId = IDC_SPEED_DIAL_KEY_FIRST;
    CheckRadioButton(page, IDC_SPEED_DIAL_KEY_FIRST, IDC_SPEED_DIAL_KEY_FIRST + 13, CurrentKeyId);
    SendDlgItemMessageA(page, IDC_KEY_LABEL, EM_LIMITTEXT, SpeedDialLabelSize - 1, 0);
    for (int i = 0; i < 2; i++) {
        HWND button = GetDlgItem(page, RemoveButtons[i].ControlId);
        GetClientRect(button, &RemoveRects[i]);
        BitmapButtons[i + 1].BitmapId =
            IsWindowEnabled(button) ? RemoveButtons[i].Enabled : RemoveButtons[i].Disabled;
    }
    LoadKeyIntoPage(page);
    HWND list = GetDlgItem(page, IDC_RECIPIENT_LIST);
    ListOwnProc = (WNDPROC)SetWindowLongPtrA(list, GWLP_WNDPROC, (LONG_PTR)RecipientListProc);
    CreateDialogTips(AppInstance, page, &SpeedDialTips, PageTips);
    // Tips that wrap at the list's width, so that a long name reads whole.
    RECT listArea;
    GetClientRect(list, &listArea);
    SendMessageA(SpeedDialTips, TTM_SETMAXTIPWIDTH, 0, listArea.right);
    EndListTipId =
        FirstListTipId + AddListLineTips(SpeedDialTips, page, IDC_RECIPIENT_LIST, FirstListTipId);
    TabLibrary.SetPageActive(page, parameter, 0);
    return !TabLibrary.IsRegisteredDialog(GetParent(page));
}

void CloseSpeedDialPage() {
    if (!SpeedDialPage) {
        return;
    }
    HWND list = GetDlgItem(SpeedDialPage, IDC_RECIPIENT_LIST);
    if (ListOwnProc) {
        SetWindowLongPtrA(list, GWLP_WNDPROC, (LONG_PTR)ListOwnProc);
        ListOwnProc = NULL;
    }
    // Cancel stores the open key too, as the key switches before it did:
    // Remove All and the address book have already replaced the storage
    // the entry named, so the entry must name what the page holds. Nothing
    // is written and Modified stays, so the next OK writes the key.
    StoreKeyAndLabel(SpeedDialPage);
    if (SpeedDialTips) {
        DestroyWindow(SpeedDialTips);
        SpeedDialTips = NULL;
    }
}

INT_PTR CALLBACK SpeedDialPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG:
        return InitSpeedDialPage(page, lParam);
    case WM_DRAWITEM:
        return DrawPageItem((const DRAWITEMSTRUCT *)lParam);
    case WM_COMMAND:
        OnPageCommand(page, LOWORD(wParam), HIWORD(wParam));
        break;
    case WM_HELP:
        AnswerHelpRequest(page, (const HELPINFO *)lParam);
        return TRUE;
    case WM_DESTROY:
        if (SpeedDialPage == page) {
            CloseSpeedDialPage();
            SpeedDialPage = NULL;
        }
        break;
    }
    return TabLibrary.HandleDialogMessage(page, message, wParam, lParam) ? TRUE : FALSE;
}
