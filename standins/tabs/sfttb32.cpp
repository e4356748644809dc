// SFTTB32.dll stand-in: the tab control "SoftelTabControl32" wraps the
// common controls' tab strip and owns one page per tab, which the program's
// page callbacks make, keep and destroy; "SoftelGrayDialog32" is the plain
// dialog class of the sheet and its pages.
#include <windows.h>
#include <commctrl.h>

#include "abi/tabs_abi.h"

#define TABS_ENTRY extern "C" BOOL WINAPI

enum : int { MaxTabs = 16, MaxSheets = 8 };

// One tab: its page record and the page once made.
struct TabSlot {
    TabPageRecord Record;
    HWND Page;
};

// State of one tab control, kept in its window.
struct TabState {
    HWND Strip;  // the common controls' tab strip filling the control
    int Count;   // tabs added
    BOOL Vetoed; // the parent refused the change of tab now being made
    TabSlot Tabs[MaxTabs];
    TabControlRecord Options;
};

static HWND RegisteredSheets[MaxSheets]; // sheets whose keys the library handles
static HHOOK KeyHook;                    // catches Ctrl+Tab for registered sheets

static TabState *StateOf(HWND control) {
    return (TabState *)GetWindowLongPtrA(control, GWLP_USERDATA);
}

static void Notify(HWND control, WORD code) {
    SendMessageA(GetParent(control), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(control), code),
                 (LPARAM)control);
}

// Leaving the current page: 1 when the parent let it go.
static BOOL AskToLeave(HWND control, TabState *state) {
    state->Vetoed = FALSE;
    Notify(control, TabLeavingPage);
    return !state->Vetoed;
}

// Moves to tab index as a click would: ask, switch, tell.
static void ChangeTab(HWND control, int index) {
    TabState *state = StateOf(control);
    if (!state || index == TabCtrl_GetCurSel(state->Strip) || !AskToLeave(control, state))
        return;
    TabCtrl_SetCurSel(state->Strip, index);
    Notify(control, TabEnteredPage);
}

static LRESULT OnNotify(HWND control, TabState *state, const NMHDR *header) {
    if (header->hwndFrom != state->Strip)
        return 0;
    if (header->code == TCN_SELCHANGING)
        return !AskToLeave(control, state);
    if (header->code == TCN_SELCHANGE)
        Notify(control, TabEnteredPage);
    return 0;
}

static LRESULT CALLBACK TabControlProc(HWND control, UINT message, WPARAM wParam, LPARAM lParam) {
    TabState *state = StateOf(control);
    switch (message) {
    case WM_CREATE: {
        state = (TabState *)HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(TabState));
        if (!state)
            return -1;
        RECT client;
        GetClientRect(control, &client);
        state->Strip = CreateWindowExA(
            0, WC_TABCONTROLA, "", WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_CLIPSIBLINGS, 0, 0,
            client.right, client.bottom, control, NULL, ((CREATESTRUCTA *)lParam)->hInstance, NULL);
        SetWindowLongPtrA(control, GWLP_USERDATA, (LONG_PTR)state);
        // The dialog's Tab key reaches the strip inside.
        SetWindowLongA(control, GWL_EXSTYLE,
                       GetWindowLongA(control, GWL_EXSTYLE) | WS_EX_CONTROLPARENT);
        return state->Strip ? 0 : -1;
    }
    case WM_NCDESTROY:
        SetWindowLongPtrA(control, GWLP_USERDATA, 0);
        HeapFree(GetProcessHeap(), 0, state);
        break;
    case WM_SETFONT:
        if (state)
            SendMessageA(state->Strip, WM_SETFONT, wParam, lParam);
        return 0;
    case WM_SETFOCUS:
        if (state)
            SetFocus(state->Strip);
        return 0;
    case WM_SIZE:
        if (state)
            MoveWindow(state->Strip, 0, 0, LOWORD(lParam), HIWORD(lParam), TRUE);
        return 0;
    case WM_CANCELMODE:
        // The parent's refusal of the change of tab in progress.
        if (state)
            state->Vetoed = TRUE;
        break;
    case WM_NOTIFY:
        return state ? OnNotify(control, state, (const NMHDR *)lParam) : 0;
    case TabAddTab: {
        if (!state || state->Count >= MaxTabs)
            return -1;
        TCITEMA item = {};
        item.mask = TCIF_TEXT;
        item.pszText = (char *)lParam;
        int index = (int)SendMessageA(state->Strip, TCM_INSERTITEMA, state->Count, (LPARAM)&item);
        if (index >= 0)
            state->Count++;
        return index;
    }
    case TabSetPage:
        if (!state || wParam >= (WPARAM)state->Count || !lParam)
            return 0;
        state->Tabs[wParam].Record = *(const TabPageRecord *)lParam;
        return 1;
    case TabSetControl:
        if (!state || !lParam)
            return 0;
        state->Options = *(const TabControlRecord *)lParam;
        return 1;
    }
    return DefWindowProcA(control, message, wParam, lParam);
}

static int SheetIndex(HWND sheet) {
    for (int i = 0; i < MaxSheets; i++)
        if (sheet && RegisteredSheets[i] == sheet)
            return i;
    return -1;
}

// The registered sheet that window is or lies in, or null. Only child
// windows lie in a sheet: a window it owns, such as a dialog opened from a
// page, is a window of its own.
static HWND SheetOf(HWND window) {
    for (HWND sheet : RegisteredSheets)
        if (sheet && (window == sheet || IsChild(sheet, window)))
            return sheet;
    return NULL;
}

// The focus goes to the first control of the page shown that takes it, as
// the Tab key would give it, so that no key works a control of the page
// just hidden.
static void FocusShownPage(HWND sheet, TabState *state) {
    int current = TabCtrl_GetCurSel(state->Strip);
    HWND page = current >= 0 ? state->Tabs[current].Page : NULL;
    if (!page || !IsWindowVisible(page))
        return;
    for (HWND child = GetWindow(page, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        LONG style = GetWindowLongA(child, GWL_STYLE);
        if ((style & (WS_TABSTOP | WS_VISIBLE | WS_DISABLED)) == (WS_TABSTOP | WS_VISIBLE)) {
            SendMessageA(sheet, WM_NEXTDLGCTL, (WPARAM)child, TRUE);
            return;
        }
    }
}

// Ctrl+Tab and Ctrl+Shift+Tab anywhere in a registered sheet change tab and
// give the focus to the page shown; the key then reaches nobody else.
static LRESULT CALLBACK KeyHookProc(int code, WPARAM wParam, LPARAM lParam) {
    MSG *msg = (MSG *)lParam;
    if (code == HC_ACTION && wParam == PM_REMOVE && msg->message == WM_KEYDOWN &&
        msg->wParam == VK_TAB && GetKeyState(VK_CONTROL) < 0) {
        HWND sheet = SheetOf(msg->hwnd);
        HWND control = sheet ? FindWindowExA(sheet, NULL, TAB_CONTROL_CLASS, NULL) : NULL;
        TabState *state = control ? StateOf(control) : NULL;
        if (state && state->Count > 0) {
            int step = GetKeyState(VK_SHIFT) < 0 ? state->Count - 1 : 1;
            int before = TabCtrl_GetCurSel(state->Strip);
            ChangeTab(control, (before + step) % state->Count);
            if (TabCtrl_GetCurSel(state->Strip) != before)
                FocusShownPage(sheet, state);
            msg->message = WM_NULL;
        }
    }
    return CallNextHookEx(KeyHook, code, wParam, lParam);
}

TABS_ENTRY SftTabs_RegisterApp(HINSTANCE instance) {
    INITCOMMONCONTROLSEX common = {sizeof common, ICC_TAB_CLASSES};
    InitCommonControlsEx(&common);
    WNDCLASSA tabClass = {};
    tabClass.lpfnWndProc = TabControlProc;
    tabClass.hInstance = instance;
    tabClass.hCursor = LoadCursorA(NULL, (LPCSTR)IDC_ARROW);
    tabClass.hbrBackground = (HBRUSH)(COLOR_BTNFACE + 1);
    tabClass.lpszClassName = TAB_CONTROL_CLASS;
    WNDCLASSA dialogClass = {};
    dialogClass.lpfnWndProc = DefDlgProcA;
    dialogClass.cbWndExtra = DLGWINDOWEXTRA;
    dialogClass.hInstance = instance;
    dialogClass.hCursor = LoadCursorA(NULL, (LPCSTR)IDC_ARROW);
    dialogClass.hbrBackground = (HBRUSH)(COLOR_BTNFACE + 1);
    dialogClass.lpszClassName = TAB_DIALOG_CLASS;
    if (!RegisterClassA(&tabClass))
        return FALSE;
    if (!RegisterClassA(&dialogClass)) {
        UnregisterClassA(TAB_CONTROL_CLASS, instance);
        return FALSE;
    }
    return TRUE;
}

TABS_ENTRY SftTabs_UnregisterApp(HINSTANCE instance) {
    BOOL tabs = UnregisterClassA(TAB_CONTROL_CLASS, instance);
    BOOL dialogs = UnregisterClassA(TAB_DIALOG_CLASS, instance);
    return tabs && dialogs;
}

// The tab strip's display area in the sheet's client coordinates.
static void DisplayArea(HWND sheet, TabState *state, RECT *area) {
    GetClientRect(state->Strip, area);
    TabCtrl_AdjustRect(state->Strip, FALSE, area);
    MapWindowPoints(state->Strip, sheet, (POINT *)area, 2);
}

TABS_ENTRY SftTabs_ActivatePage(HWND sheet, HWND control, DWORD, BOOL) {
    TabState *state = StateOf(control);
    if (!state)
        return FALSE;
    int current = TabCtrl_GetCurSel(state->Strip);
    for (int i = 0; i < state->Count; i++) {
        TabSlot &tab = state->Tabs[i];
        if (i != current && tab.Page && IsWindowVisible(tab.Page)) {
            tab.Record.Callback(FALSE, sheet, tab.Page, (LPARAM)control);
            ShowWindow(tab.Page, SW_HIDE);
        }
    }
    if (current < 0 || !state->Tabs[current].Record.Callback)
        return FALSE;
    TabSlot &tab = state->Tabs[current];
    if (!tab.Page)
        tab.Page = tab.Record.Callback(TRUE, sheet, NULL, (LPARAM)control);
    if (!tab.Page)
        return FALSE;
    RECT area;
    DisplayArea(sheet, state, &area);
    SetWindowPos(tab.Page, HWND_TOP, area.left, area.top, area.right - area.left,
                 area.bottom - area.top, SWP_SHOWWINDOW);
    return TRUE;
}

TABS_ENTRY SftTabs_DeactivatePage(HWND, HWND control) {
    TabState *state = StateOf(control);
    if (!state)
        return TRUE;
    int current = TabCtrl_GetCurSel(state->Strip);
    HWND page = current >= 0 ? state->Tabs[current].Page : NULL;
    return !(page && SendMessageA(page, TabQueryKeepPage, 0, 0));
}

TABS_ENTRY SftTabs_RegisterDialog(HWND sheet) {
    if (!sheet || SheetIndex(sheet) >= 0)
        return sheet != NULL;
    for (HWND &slot : RegisteredSheets) {
        if (!slot) {
            slot = sheet;
            if (!KeyHook)
                KeyHook = SetWindowsHookExA(WH_GETMESSAGE, KeyHookProc, NULL, GetCurrentThreadId());
            return TRUE;
        }
    }
    return FALSE;
}

TABS_ENTRY SftTabs_UnregisterDialog(HWND sheet) {
    int i = SheetIndex(sheet);
    if (i < 0)
        return FALSE;
    RegisteredSheets[i] = NULL;
    for (HWND other : RegisteredSheets)
        if (other)
            return TRUE;
    if (KeyHook) {
        UnhookWindowsHookEx(KeyHook);
        KeyHook = NULL;
    }
    return TRUE;
}

TABS_ENTRY SftTabs_IsRegisteredDialog(HWND window) {
    return SheetIndex(window) >= 0;
}

// A page takes part in its sheet's keyboard navigation.
TABS_ENTRY SftTabs_SetPageActive(HWND page, LPARAM, DWORD) {
    SetWindowLongA(page, GWL_EXSTYLE, GetWindowLongA(page, GWL_EXSTYLE) | WS_EX_CONTROLPARENT);
    return TRUE;
}

// The pages draw on the sheet's face colour; nothing else needs the library.
TABS_ENTRY SftTabs_HandleDialogMessage(HWND, UINT, WPARAM, LPARAM) {
    return FALSE;
}

TABS_ENTRY SftTabs_Destroy(HWND, HWND control) {
    TabState *state = StateOf(control);
    if (!state)
        return FALSE;
    for (int i = 0; i < state->Count; i++) {
        TabSlot &tab = state->Tabs[i];
        if (tab.Page)
            tab.Record.Callback(FALSE, NULL, tab.Page, (LPARAM)control);
        tab.Page = NULL;
    }
    return TRUE;
}
