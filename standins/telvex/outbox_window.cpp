// The outbox window: a list of every waiting and failed message, Retry Now,
// Remove and Close. A thread of its own watches the outbox folders and has
// the list read again whenever a file comes or goes there, so the window
// follows the delivery agent while it is open. F1 is left to the owner,
// whose help file has the window's page.
#include "outbox_window.h"

#include <commctrl.h>
#include <stdio.h>

#include "address_book.h"
#include "outbox_view.h"
#include "telvex_ids.h"

enum : UINT { RefreshMessage = WM_APP + 1 };

struct OutboxWindow {
    HWND Dialog;
    OutboxView *Shown, *Spare;
    HANDLE Changes[OutboxLimit + 1]; // [0] stops the watch, the others are the outboxes'
    int ChangeCount;
    HANDLE Watcher;
    volatile LONG RefreshPosted;
};

static DWORD WINAPI WatchOutboxes(void *context) {
    OutboxWindow *window = (OutboxWindow *)context;
    for (;;) {
        DWORD which = WaitForMultipleObjects(window->ChangeCount, window->Changes, FALSE, INFINITE);
        if (which <= WAIT_OBJECT_0 || which >= WAIT_OBJECT_0 + (DWORD)window->ChangeCount) {
            return 0; // stopped, or the watch failed
        }
        FindNextChangeNotification(window->Changes[which - WAIT_OBJECT_0]);
        // One refresh waiting is enough, however many changes come meanwhile.
        if (!InterlockedExchange(&window->RefreshPosted, 1)) {
            PostMessageA(window->Dialog, RefreshMessage, 0, 0);
        }
    }
}

static void StartWatch(OutboxWindow *window) {
    static char outboxes[OutboxLimit][MAX_PATH];
    int count = ListOutboxes(outboxes, OutboxLimit);
    window->Changes[0] = CreateEventA(NULL, TRUE, FALSE, NULL);
    window->ChangeCount = 1;
    for (int i = 0; i < count && window->Changes[0]; i++) {
        // Its Failed\ folder too; an outbox not made yet has nothing to show.
        HANDLE change =
            FindFirstChangeNotificationA(outboxes[i], TRUE, FILE_NOTIFY_CHANGE_FILE_NAME);
        if (change != INVALID_HANDLE_VALUE) {
            window->Changes[window->ChangeCount++] = change;
        }
    }
    if (window->ChangeCount > 1) {
        window->Watcher = CreateThread(NULL, 0, WatchOutboxes, window, 0, NULL);
    }
}

static void StopWatch(OutboxWindow *window) {
    if (window->Watcher) {
        SetEvent(window->Changes[0]);
        WaitForSingleObject(window->Watcher, INFINITE);
        CloseHandle(window->Watcher);
    }
    for (int i = 1; i < window->ChangeCount; i++) {
        FindCloseChangeNotification(window->Changes[i]);
    }
    if (window->Changes[0]) {
        CloseHandle(window->Changes[0]);
    }
}

static HWND List(OutboxWindow *window) {
    return GetDlgItem(window->Dialog, IDC_OUTBOX_LIST);
}

// The item selected in the list, or NULL.
static const OutboxViewItem *Selected(OutboxWindow *window) {
    int index = (int)SendMessageA(List(window), LVM_GETNEXTITEM, (WPARAM)-1, LVNI_SELECTED);
    return index >= 0 && index < window->Shown->Count ? &window->Shown->Items[index] : NULL;
}

// The buttons as the selected message allows; the keyboard's focus never
// stays on one that turned grey.
static void UpdateButtons(OutboxWindow *window) {
    const OutboxViewItem *item = Selected(window);
    const int ids[2] = {IDC_RETRY_NOW, IDC_REMOVE};
    const int allowed[2] = {item && CanRetry(item), item && CanRemove(item)};
    for (int i = 0; i < 2; i++) {
        HWND button = GetDlgItem(window->Dialog, ids[i]);
        if (!allowed[i] && GetFocus() == button) {
            SendMessageA(window->Dialog, WM_NEXTDLGCTL, (WPARAM)List(window), TRUE);
        }
        EnableWindow(button, allowed[i]);
    }
}

static void SelectItem(HWND list, int index) {
    LVITEMA state = {};
    state.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    state.state = LVIS_SELECTED | LVIS_FOCUSED;
    SendMessageA(list, LVM_SETITEMSTATE, index, (LPARAM)&state);
    SendMessageA(list, LVM_ENSUREVISIBLE, index, FALSE);
}

// Reads the outboxes again and shows them, the same message kept selected
// where it is still there.
static void Refresh(OutboxWindow *window) {
    InterlockedExchange(&window->RefreshPosted, 0);
    const OutboxViewItem *selected = Selected(window);
    OutboxViewItem kept = {};
    if (selected) {
        kept = *selected;
    }
    ReadOutboxView(window->Spare, window->Shown);
    OutboxView *shown = window->Spare;
    window->Spare = window->Shown;
    window->Shown = shown;
    HWND list = List(window);
    SendMessageA(list, WM_SETREDRAW, FALSE, 0);
    SendMessageA(list, LVM_DELETEALLITEMS, 0, 0);
    int select = shown->Count ? 0 : -1;
    for (int i = 0; i < shown->Count; i++) {
        const OutboxViewItem *item = &shown->Items[i];
        char text[ReplySize];
        LVITEMA row = {};
        row.mask = LVIF_TEXT;
        row.iItem = i;
        row.pszText = text;
        ViewColumnText(item, 0, text, sizeof text);
        SendMessageA(list, LVM_INSERTITEMA, 0, (LPARAM)&row);
        for (row.iSubItem = 1; row.iSubItem < ViewColumnCount; row.iSubItem++) {
            ViewColumnText(item, row.iSubItem, text, sizeof text);
            SendMessageA(list, LVM_SETITEMTEXTA, i, (LPARAM)&row);
        }
        if (selected && lstrcmpiA(item->Outbox, kept.Outbox) == 0 &&
            lstrcmpA(item->Name, kept.Name) == 0) {
            select = i;
        }
    }
    if (select >= 0) {
        SelectItem(list, select);
    }
    SendMessageA(list, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(list, NULL, TRUE);
    UpdateButtons(window);
}

static void AddColumns(OutboxWindow *window) {
    static const char *const Titles[ViewColumnCount] = {"Queued", "Recipients", "Attachments",
                                                        "State",  "Last reply", "Next try"};
    static const int Widths[ViewColumnCount] = {62, 100, 64, 44, 110, 66}; // dialog units
    HWND list = List(window);
    SendMessageA(list, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_FULLROWSELECT, LVS_EX_FULLROWSELECT);
    for (int i = 0; i < ViewColumnCount; i++) {
        RECT width = {0, 0, Widths[i], 0};
        MapDialogRect(window->Dialog, &width);
        LVCOLUMNA column = {};
        column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM;
        column.pszText = (char *)Titles[i];
        column.cx = width.right;
        column.iSubItem = i;
        SendMessageA(list, LVM_INSERTCOLUMNA, i, (LPARAM)&column);
    }
}

static void Tell(OutboxWindow *window, const char *why) {
    MessageBoxA(window->Dialog, why, "Outbox", MB_OK | MB_ICONEXCLAMATION);
}

static void RetrySelected(OutboxWindow *window) {
    const OutboxViewItem *item = Selected(window);
    const char *why = item && CanRetry(item) ? RetryViewItem(item) : NULL;
    if (why) {
        Tell(window, why);
    }
    Refresh(window);
}

// Asks first: a removed message is never sent.
static void RemoveSelected(OutboxWindow *window) {
    const OutboxViewItem *item = Selected(window);
    if (!item || !CanRemove(item)) {
        return;
    }
    OutboxViewItem asked = *item;
    char queued[32], question[SummarySize + 160];
    ViewColumnText(&asked, 0, queued, sizeof queued);
    snprintf(question, sizeof question, "Remove the message queued %s for %s?\n\n%s", queued,
             asked.Recipients[0] ? asked.Recipients : "(no recipient)",
             asked.State == ViewFailed ? "It goes with its record of what the server said."
                                       : "It will not be sent.");
    if (MessageBoxA(window->Dialog, question, "Remove Message",
                    MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2) == IDYES) {
        const char *why = RemoveViewItem(&asked);
        if (why) {
            Tell(window, why);
        }
    }
    Refresh(window);
}

static INT_PTR CALLBACK OutboxProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    OutboxWindow *window = (OutboxWindow *)GetWindowLongPtrA(dialog, DWLP_USER);
    switch (message) {
    case WM_INITDIALOG:
        window = (OutboxWindow *)lParam;
        SetWindowLongPtrA(dialog, DWLP_USER, lParam);
        window->Dialog = dialog;
        AddColumns(window);
        Refresh(window);
        StartWatch(window);
        SendMessageA(dialog, WM_NEXTDLGCTL, (WPARAM)List(window), TRUE);
        return FALSE;
    case RefreshMessage:
        Refresh(window);
        return TRUE;
    case WM_NOTIFY: {
        const NMHDR *header = (const NMHDR *)lParam;
        if (header->idFrom == IDC_OUTBOX_LIST && header->code == LVN_ITEMCHANGED) {
            UpdateButtons(window);
        } else if (header->idFrom == IDC_OUTBOX_LIST && header->code == LVN_KEYDOWN &&
                   ((const NMLVKEYDOWN *)lParam)->wVKey == VK_DELETE) {
            RemoveSelected(window);
        }
        break;
    }
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDC_RETRY_NOW:
            RetrySelected(window);
            return TRUE;
        case IDC_REMOVE:
            RemoveSelected(window);
            return TRUE;
        case IDCANCEL:
            EndDialog(dialog, 1);
            return TRUE;
        }
        break;
    }
    return FALSE;
}

DWORD RunOutboxWindow(HWND owner) {
    INITCOMMONCONTROLSEX classes = {sizeof classes, ICC_LISTVIEW_CLASSES};
    InitCommonControlsEx(&classes);
    OutboxWindow *window =
        (OutboxWindow *)HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(OutboxWindow));
    if (window) {
        window->Shown = (OutboxView *)HeapAlloc(GetProcessHeap(), 0, sizeof(OutboxView));
        window->Spare = (OutboxView *)HeapAlloc(GetProcessHeap(), 0, sizeof(OutboxView));
    }
    DWORD result = 1;
    if (window && window->Shown && window->Spare) {
        window->Shown->Count = window->Spare->Count = 0;
        result = DialogBoxParamA(LibraryInstance, MAKEINTRESOURCEA(IDD_OUTBOX), owner, OutboxProc,
                                 (LPARAM)window) > 0
                     ? 0
                     : 1;
        // However the window ended: Close, its owner gone, its thread told to quit.
        StopWatch(window);
    }
    if (window) {
        HeapFree(GetProcessHeap(), 0, window->Shown);
        HeapFree(GetProcessHeap(), 0, window->Spare);
        HeapFree(GetProcessHeap(), 0, window);
    }
    return result;
}
