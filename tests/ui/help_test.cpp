// The help layer through a recording viewer: the file and command of each
// kind of help request, one outcome for one F1 press in the fax sheet, the
// message when the help file is missing, and the help file's map against
// the numbers that the controls of every dialog ask for.
#include <gtest/gtest.h>
#include <windows.h>
#include <ostream>
#include <set>
#include <string>
#include <vector>
#include "app/app.h"
#include "program_harness.h"
#include "app/settings.h"
#include "help/contexts.h"
#include "panel/panel_state.h"
#include "res/resource.h"
#include "ui/dialog_tools.h"
#include "ui/create_profile.h"
#include "ui/fax_sheet.h"
#include "ui/help.h"
#include "ui/tab_library.h"

namespace {

// The context numbers of the help file's map, from help/contexts.h.
const std::set<DWORD> MapNumbers = {
#include "help_contexts.inc"
};

struct ViewerCall {
    HWND Caller;
    std::string File;
    UINT Command;
    DWORD_PTR Data;
    bool operator==(const ViewerCall &o) const {
        return Caller == o.Caller && File == o.File && Command == o.Command && Data == o.Data;
    }
};
void PrintTo(const ViewerCall &call, std::ostream *out) {
    *out << "{" << call.Caller << ", \"" << call.File << "\", " << call.Command << ", " << call.Data
         << "}";
}
std::vector<ViewerCall> Calls; // every request the viewer received, in order

HWND WINAPI RecordingViewer(HWND caller, LPCSTR file, UINT command, DWORD_PTR data) {
    Calls.push_back({caller, file ? file : "", command, data});
    return caller;
}

// A help file that exists, the recording viewer and the fax sheet with the
// program's message hook, as the program has them while the sheet is open.
class HelpRequests : public ::testing::Test {
  protected:
    void SetUp() override {
        AppInstance = GetModuleHandleA(nullptr);
        lstrcpynA(AppTitle, "Varnel Keypad Program", sizeof AppTitle);
        char folder[MAX_PATH];
        GetTempPathA(sizeof folder, folder);
        snprintf(HelpFilePath, sizeof HelpFilePath, "%sKELBO.CHM", folder);
        CloseHandle(
            CreateFileA(HelpFilePath, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
        HelpViewer = RecordingViewer;
        HelpFailureTold = 0;
        Calls.clear();
        MessageHook =
            SetWindowsHookExA(WH_GETMESSAGE, DialogMessageHook, nullptr, GetCurrentThreadId());
        ASSERT_EQ(1, RegisterTabLibrary(AppInstance));
        sheet = CreateDialogParamA(AppInstance, MAKEINTRESOURCEA(IDD_FAX_CONFIG), nullptr,
                                   FaxSheetProc, 0);
        ASSERT_NE(nullptr, sheet);
        ShowWindow(sheet, SW_SHOW);
        Pump();
    }
    void TearDown() override {
        DestroyWindow(sheet);
        UnregisterTabLibrary(AppInstance);
        UnhookWindowsHookEx(MessageHook);
        MessageHook = nullptr;
        DeleteFileA(HelpFilePath);
        HelpViewer = nullptr;
        HelpFailureTold = 0;
        Destination = 0;
    }
    void Pump() { PumpDialog(sheet); }
    // Presses F1 on the keyboard with the focus on window and handles every
    // message until the key's release has come through the sheet's loop.
    void PressF1(HWND window) {
        SetForegroundWindow(sheet);
        Pump();
        SetFocus(window);
        Pump();
        ASSERT_EQ(window, GetFocus());
        Calls.clear();
        keybd_event(VK_F1, 0, 0, 0);
        keybd_event(VK_F1, 0, KEYEVENTF_KEYUP, 0);
        bool released = false;
        DWORD start = GetTickCount();
        while (!released && GetTickCount() - start < 5000) {
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 100, QS_ALLINPUT);
            MSG msg;
            while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
                released |= msg.message == WM_KEYUP && msg.wParam == VK_F1;
                if (!IsDialogMessageA(sheet, &msg)) {
                    TranslateMessage(&msg);
                    DispatchMessageA(&msg);
                }
            }
        }
        Pump();
        ASSERT_TRUE(released) << "F1 never reached the sheet";
    }
    ViewerCall Contents(HWND caller) { return {caller, HelpFilePath, HelpShowContents, 0}; }
    ViewerCall Context(HWND caller, DWORD number) {
        return {caller, HelpFilePath, HelpShowContext, number};
    }
    HWND sheet = nullptr;
};

TEST_F(HelpRequests, EachKindOfRequestGivesTheViewerTheFileAndItsCommand) {
    DialogAnswer box(AppTitle, ReadAndPressOk);
    HWND window = CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                                  AppInstance, nullptr);
    HWND create = CreateDialogParamA(AppInstance, MAKEINTRESOURCEA(IDD_CREATE_PROFILE), window,
                                     CreateProfileDialogProc, IDM_CREATE_FAX_PROFILE);
    HELPINFO onCreate = {sizeof onCreate, HELPINFO_WINDOW, IDOK, GetDlgItem(create, IDOK), 0, {}};
    MainWindowProc(window, WM_COMMAND, IDM_HELP_TOPICS, 0);
    MainWindowProc(window, WM_COMMAND, IDM_WIZARD_HELP, 0);
    SendMessageA(sheet, WM_COMMAND, IDC_SHEET_HELP, 0);
    HWND field = FindControl(sheet, IDC_DETAIL_FIRST);
    ASSERT_NE(nullptr, field);
    HELPINFO help = {sizeof help, HELPINFO_WINDOW, IDC_DETAIL_FIRST, field, 0, {0, 0}};
    Destination = 1;
    SendMessageA(GetParent(field), WM_HELP, 0, (LPARAM)&help);
    Destination = 0;
    SendMessageA(GetParent(field), WM_HELP, 0, (LPARAM)&help);
    SendMessageA(create, WM_HELP, 0, (LPARAM)&onCreate);
    CloseHelp();
    std::vector<ViewerCall> expected = {Contents(window),
                                        Contents(window),
                                        Contents(sheet),
                                        Context(GetParent(field), IDH_MAIL_FULL_NAME),
                                        Context(GetParent(field), IDH_FAX_USER),
                                        Context(create, IDH_OK_BUTTON),
                                        {nullptr, "", HelpCloseAll, 0}};
    EXPECT_EQ(expected, Calls);
    EXPECT_FALSE(box.Stop()) << "a message box came";
    DestroyWindow(create);
    DestroyWindow(window);
}

// F1 also brings WM_HELP: the control's topic when it has one, else the
// contents, never both.
TEST_F(HelpRequests, OneF1PressInTheSheetGivesOneViewerCall) {
    HWND field = FindControl(sheet, IDC_DETAIL_FIRST);
    ASSERT_NE(nullptr, field);
    PressF1(field);
    EXPECT_EQ(std::vector<ViewerCall>{Context(GetParent(field), IDH_FAX_USER)}, Calls);
    PressF1(GetDlgItem(sheet, IDOK));
    EXPECT_EQ(std::vector<ViewerCall>{Context(sheet, IDH_OK_BUTTON)}, Calls);
    PressF1(GetDlgItem(sheet, IDCANCEL));
    EXPECT_EQ(std::vector<ViewerCall>{Contents(sheet)}, Calls);
    HWND pages = FindControl(sheet, IDC_PAGES_AS_LIST);
    PressF1(pages);
    EXPECT_EQ(std::vector<ViewerCall>{Context(GetParent(pages), IDH_PAGES_AS)}, Calls);
}

TEST_F(HelpRequests, AMissingHelpFileIsToldOnceNamingIt) {
    DeleteFileA(HelpFilePath);
    std::string text;
    DialogAnswer told(AppTitle, ReadAndPressOk, &text);
    SendMessageA(sheet, WM_COMMAND, IDC_SHEET_HELP, 0);
    ASSERT_TRUE(told.Wait());
    EXPECT_NE(std::string::npos, text.find(HelpFilePath)) << text;
    DialogAnswer again(AppTitle, ReadAndPressOk);
    PressF1(FindControl(sheet, IDC_DETAIL_FIRST));
    SendMessageA(sheet, WM_COMMAND, IDC_SHEET_HELP, 0);
    EXPECT_FALSE(again.Stop()) << "told twice";
    EXPECT_TRUE(Calls.empty());
}

BOOL CALLBACK CollectControl(HWND control, LPARAM controls) {
    ((std::vector<HWND> *)controls)->push_back(control);
    return TRUE;
}

// Every control of every dialog the program carries, for both destinations:
// the number it asks for has a topic. And every number of the map but the
// panel guide's (Wizard Help shows it from the contents) is asked for.
TEST(HelpMap, EveryDialogControlsNumberIsInTheMapAndEveryNumberIsAskedFor) {
    HINSTANCE self = GetModuleHandleA(nullptr);
    ASSERT_EQ(1, RegisterTabLibrary(self));
    int asked = 0;
    ForEachDialog(self, [&](UINT_PTR name, HWND dialog) {
        ASSERT_NE(nullptr, dialog) << name;
        std::vector<HWND> controls;
        EnumChildWindows(dialog, CollectControl, (LPARAM)&controls);
        for (HWND control : controls) {
            for (WORD destination = 0; destination < 2; destination++) {
                Destination = destination;
                DWORD context;
                if (LookupHelpContext(control, &context)) {
                    asked++;
                    EXPECT_EQ(1u, MapNumbers.count(context))
                        << "dialog " << name << " control " << GetDlgCtrlID(control);
                }
            }
        }
    });
    Destination = 0;
    UnregisterTabLibrary(self);
    EXPECT_GT(asked, 40);
    // Beside the dialogs' numbers: the panel's page, and the outbox window's (the main window's).
    std::set<DWORD> numbers = {IDH_USING_THE_PANEL, IDH_OUTBOX};
    for (int id = 0; id <= 0xFFFF; id++) {
        DWORD context;
        for (int destination = 0; destination < 2; destination++)
            if (HelpContextFor(id, destination, &context))
                numbers.insert(context);
    }
    EXPECT_EQ(MapNumbers, numbers);
}

} // namespace
