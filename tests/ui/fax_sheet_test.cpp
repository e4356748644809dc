// The sheet's tabs through the tab library stand-in, in this process: the
// veto on leaving a page, Ctrl+Tab, and the dialog keys across sheet and page.
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>
#include <set>
#include <vector>
#include "app/app.h"
#include "program_harness.h"
#include "res/resource.h"
#include "ui/fax_sheet.h"
#include "ui/tab_library.h"

namespace {

std::set<WORD> Commands; // OK and Cancel as the sheet received them

// The sheet's procedure, with OK and Cancel only recorded.
INT_PTR CALLBACK RecordingSheetProc(HWND sheet, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_COMMAND && (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)) {
        Commands.insert(LOWORD(wParam));
        return TRUE;
    }
    return FaxSheetProc(sheet, message, wParam, lParam);
}

WNDPROC PageProcedure; // the profile page's own window procedure

// A profile page that will not be left.
LRESULT CALLBACK KeepingPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == TabQueryKeepPage)
        return 1;
    return CallWindowProcA(PageProcedure, page, message, wParam, lParam);
}

class SheetTabs : public ::testing::Test {
  protected:
    void SetUp() override {
        AppInstance = GetModuleHandleA(nullptr);
        ASSERT_EQ(1, RegisterTabLibrary(AppInstance));
        Commands.clear();
        sheet = CreateDialogParamA(AppInstance, MAKEINTRESOURCEA(IDD_FAX_CONFIG), nullptr,
                                   RecordingSheetProc, 0);
        ASSERT_NE(nullptr, sheet);
        ShowWindow(sheet, SW_SHOW);
        strip = FindWindowExA(GetDlgItem(sheet, IDC_SHEET_TABS), nullptr, WC_TABCONTROLA, nullptr);
        ASSERT_NE(nullptr, strip);
        Pump();
    }
    void TearDown() override {
        DestroyWindow(sheet);
        UnregisterTabLibrary(AppInstance);
    }
    void Pump() { PumpDialog(sheet); }
    HWND Control(int id) {
        HWND page = FindWindowExA(sheet, nullptr, TAB_DIALOG_CLASS, nullptr);
        for (; page; page = FindWindowExA(sheet, page, TAB_DIALOG_CLASS, nullptr))
            if (GetDlgItem(page, id))
                return GetDlgItem(page, id);
        return nullptr;
    }
    void ClickTab(int index) {
        RECT r;
        TabCtrl_GetItemRect(strip, index, &r);
        LPARAM at = MAKELPARAM((r.left + r.right) / 2, (r.top + r.bottom) / 2);
        PostMessageA(strip, WM_LBUTTONDOWN, MK_LBUTTON, at);
        PostMessageA(strip, WM_LBUTTONUP, 0, at);
        Pump();
    }
    void Key(HWND window, WORD key, bool control, bool shift = false) {
        BYTE state[256] = {};
        state[VK_CONTROL] = control ? 0x80 : 0;
        state[VK_SHIFT] = shift ? 0x80 : 0;
        SetKeyboardState(state);
        PostMessageA(window, WM_KEYDOWN, key, 1);
        Pump();
        BYTE none[256] = {};
        SetKeyboardState(none);
    }
    HWND sheet = nullptr;
    HWND strip = nullptr;
};

TEST_F(SheetTabs, ARefusedChangeKeepsThePageAndTheTab) {
    HWND profiles = GetParent(Control(IDC_FAX_PROFILE_BUTTON));
    ASSERT_NE(nullptr, profiles);
    PageProcedure = (WNDPROC)SetWindowLongPtrA(profiles, GWLP_WNDPROC, (LONG_PTR)KeepingPageProc);
    ClickTab(1);
    EXPECT_EQ(0, TabCtrl_GetCurSel(strip));
    EXPECT_TRUE(IsWindowVisible(profiles));
    EXPECT_EQ(nullptr, Control(IDC_SPEED_DIAL_KEY_FIRST));
    SetWindowLongPtrA(profiles, GWLP_WNDPROC, (LONG_PTR)PageProcedure);
    ClickTab(1);
    EXPECT_EQ(1, TabCtrl_GetCurSel(strip));
    EXPECT_FALSE(IsWindowVisible(profiles));
    ASSERT_NE(nullptr, Control(IDC_SPEED_DIAL_KEY_FIRST));
    EXPECT_TRUE(IsWindowVisible(GetParent(Control(IDC_SPEED_DIAL_KEY_FIRST))));
}

// Records the keys that reach it.
std::vector<WPARAM> KeysReceived;
LRESULT CALLBACK RecordKeys(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_KEYDOWN)
        KeysReceived.push_back(wParam);
    return DefWindowProcA(window, message, wParam, lParam);
}

// The focus goes to the page shown, on its first control that takes it (the
// checked key), and the arrow keys stay on controls across page and sheet; a
// window that a page owns (as the address book) keeps its Ctrl+Tab to itself.
TEST_F(SheetTabs, ControlTabAndControlShiftTabChangeTabWhereverTheFocusIs) {
    HWND button = Control(IDC_FAX_PROFILE_BUTTON);
    SetFocus(Control(IDC_FAX_PROFILE_LIST));
    Key(Control(IDC_FAX_PROFILE_LIST), VK_TAB, true);
    EXPECT_EQ(1, TabCtrl_GetCurSel(strip));
    ASSERT_NE(nullptr, Control(IDC_SPEED_DIAL_KEY_FIRST));
    EXPECT_TRUE(IsWindowVisible(GetParent(Control(IDC_SPEED_DIAL_KEY_FIRST))));
    EXPECT_EQ(Control(IDC_SPEED_DIAL_KEY_FIRST), GetFocus());
    EXPECT_EQ("", ArrowsOntoStatics(sheet)) << "on the speed-dial page";
    Key(GetDlgItem(sheet, IDOK), VK_TAB, true, true);
    EXPECT_EQ(0, TabCtrl_GetCurSel(strip));
    EXPECT_TRUE(IsWindowVisible(GetParent(button)));
    EXPECT_EQ(GetParent(button), GetParent(GetFocus()));
    EXPECT_EQ("", ArrowsOntoStatics(sheet)) << "on the profile page";

    WNDCLASSA recorder = {};
    recorder.lpfnWndProc = RecordKeys;
    recorder.hInstance = AppInstance;
    recorder.lpszClassName = "KeyRecorder";
    RegisterClassA(&recorder);
    HWND owned = CreateWindowExA(0, "KeyRecorder", "", WS_POPUP | WS_VISIBLE, 0, 0, 50, 50,
                                 GetParent(button), nullptr, AppInstance, nullptr);
    KeysReceived.clear();
    Key(owned, VK_TAB, true);
    EXPECT_EQ(0, TabCtrl_GetCurSel(strip)) << "the sheet under an owned window changed tab";
    EXPECT_EQ(std::vector<WPARAM>{VK_TAB}, KeysReceived);
    DestroyWindow(owned);
    UnregisterClassA("KeyRecorder", AppInstance);
}

TEST_F(SheetTabs, TabWalksPageAndSheetEnterIsOkEscapeIsCancel) {
    SetFocus(GetDlgItem(sheet, IDOK));
    std::set<HWND> reached;
    for (int i = 0; i < 12; i++) {
        Key(GetFocus(), VK_TAB, false);
        reached.insert(GetFocus());
    }
    EXPECT_TRUE(reached.count(GetDlgItem(sheet, IDCANCEL)));
    EXPECT_TRUE(reached.count(strip));
    bool inPage = false;
    for (HWND w : reached)
        inPage |= GetParent(w) == GetParent(Control(IDC_FAX_PROFILE_BUTTON));
    EXPECT_TRUE(inPage) << "Tab never reached the profile page";
    // Enter and Escape with the focus on a field of the page, wherever the walk ended.
    HWND field = Control(IDC_DETAIL_FIRST);
    SetFocus(field);
    Pump();
    Key(field, VK_RETURN, false);
    Key(field, VK_ESCAPE, false);
    EXPECT_EQ((std::set<WORD>{IDOK, IDCANCEL}), Commands);
}

} // namespace
