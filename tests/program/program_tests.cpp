// KEYPAD32.EXE end to end: started in the test prefix against the virtual
// scanner, driven through the scanner's control channel and the menu, judged
// by the LCD, the driver's request log and the INI files it leaves.
#include <gtest/gtest.h>

#include <algorithm>

#include "abi/driver_abi.h"
#include "program_fixture.h"

#include <htmlhelp.h>
#include "help/contexts.h"
#include "res/resource.h"

namespace {

class Program : public ProgramFixture {
  protected:
    void SetUp() override {
        // Both services on, as a user left them.
        WriteFileText(SettingsFile, "[Varnel]\r\nFaxService=1\r\nCopyService=1\r\n");
        ProgramFixture::SetUp();
    }
};

// The libraries the start binds, and nothing that only a dialog or a job
// needs: the tab library, the common controls, the spooler, the CryptoAPI.
TEST_F(Program, StartShowsTheStatusLineAndRegistersEveryKey) {
    Start();
    std::vector<std::string> modules = LoadedModules(Keypad);
    auto loaded = [&](const char *name) {
        return std::find(modules.begin(), modules.end(), name) != modules.end();
    };
    for (const char *bound : {"VNLSCN32.DLL", "TELVEX.DLL", "DORLAN.DLL"}) {
        EXPECT_TRUE(loaded(bound)) << bound;
    }
    for (const char *later : {"SFTTB32.DLL", "COMCTL32.DLL", "WINSPOOL.DRV", "CRYPT32.DLL"}) {
        EXPECT_FALSE(loaded(later)) << later << " is loaded before it is needed";
    }
    EXPECT_EQ("LT TXT DFT 050 F", WaitForLcd(0, "LT TXT DFT 050 F"));
    EXPECT_EQ("", LcdMessage());
    std::vector<LoggedRequest> log = RequestLog();
    ASSERT_EQ(26, CountRequests(log, DrvRegisterKey, 255));
    bool seen[26] = {};
    for (const LoggedRequest &request : log) {
        if (request.Command == DrvRegisterKey) {
            seen[request.Value & 0xFF] = true;
        }
    }
    for (int key = 0; key < 26; key++) {
        EXPECT_TRUE(seen[key]) << "key " << key;
    }
    EXPECT_TRUE(IsIconic(Keypad.Window));
}

TEST_F(Program, ASecondStartRaisesTheFirstAndLeavesTheDriverAlone) {
    Start();
    Device("log clear");
    RunningProgram second = {};
    std::string failure;
    EXPECT_EQ(0, StartProgram(&second, &failure));
    EXPECT_EQ(0, WaitForExit(&second, 10000));
    EXPECT_TRUE(CloseProgram(&second));
    EXPECT_TRUE(RequestLog().empty()) << "the second instance made driver requests";
    EXPECT_NE(std::string::npos, failure.find("still running")) << failure;
    EXPECT_FALSE(IsIconic(Keypad.Window));
}

TEST_F(Program, LevelKeysWrapAndStopRestoresTheSavedLevels) {
    WriteFileText(SettingsFile, "[Varnel]\r\nBrightText=100\r\n");
    Start();
    EXPECT_EQ("LT TXT DFT 100 F", WaitForLcd(0, "LT TXT DFT 100 F"));
    PressKey("up");
    EXPECT_EQ("LT TXT DFT 000 F", WaitForLcd(0, "LT TXT DFT 000 F"));
    PressKey("down");
    EXPECT_EQ("LT TXT DFT 100 F", WaitForLcd(0, "LT TXT DFT 100 F"));
    PressKey("down");
    PressKey("down");
    EXPECT_EQ("LT TXT DFT 090 F", WaitForLcd(0, "LT TXT DFT 090 F"));
    Device("show 2 leftover");
    PressKey("stop");
    EXPECT_EQ("LT TXT DFT 100 F", WaitForLcd(0, "LT TXT DFT 100 F"));
    EXPECT_EQ("", WaitForLcd(2, ""));
}

TEST_F(Program, WithBothServicesOffOnlyStopLevelsDigitsAndJobKeysAct) {
    WriteFileText(SettingsFile, "[Varnel]\r\nFaxService=0\r\nCopyService=0\r\n");
    Start();
    EXPECT_EQ("LT TXT DFT 050 F", WaitForLcd(0, "LT TXT DFT 050 F"));
    PressKey("mode");
    PressKey("paper");
    PressKey("resolution");
    PressKey("destination");
    PressKey("speed3");
    PressKey("up");
    EXPECT_EQ("LT TXT DFT 055 F", WaitForLcd(0, "LT TXT DFT 055 F"));
    EXPECT_EQ("", LcdMessage());

    // A device that is not ready makes the key do nothing at all: no sheet,
    // or a sheet and a device failure.
    PressKey("copy");
    ASSERT_TRUE(SettlePanel());
    EXPECT_EQ("", LcdMessage());
    Device("load " + WriteSourcePage(TextPage, TempPath("keypad-test-page.bmp")));
    Device("fault failure on");
    PressKey("fax");
    ASSERT_TRUE(SettlePanel());
    EXPECT_EQ("", LcdMessage());

    Device("fault failure off");
    PressKey("copy");
    EXPECT_EQ("Copy Disabled!", WaitForLcd(2, "Copy Disabled!"));
    PressKey("fax");
    EXPECT_EQ("Fax Disabled!", WaitForLcd(2, "Fax Disabled!"));
}

TEST_F(Program, ExitSavesTheSettingsAndUnregistersTheKeys) {
    Start();
    ShowWindow(Keypad.Window, SW_RESTORE);
    SetWindowPos(Keypad.Window, NULL, 123, 77, 400, 300, SWP_NOZORDER);
    // The copy service switched off from the Options menu.
    PostMessageA(Keypad.Window, WM_COMMAND, IDM_COPY_SERVICE, 0);
    Device("log clear");
    EXPECT_EQ(0, ExitProgram(&Keypad));
    EXPECT_EQ(26, CountRequests(RequestLog(), DrvRegisterKey, 0));
    EXPECT_EQ("123", IniValue(SettingsFile, "Varnel", "Win-X"));
    EXPECT_EQ("77", IniValue(SettingsFile, "Varnel", "Win-Y"));
    EXPECT_EQ("400", IniValue(SettingsFile, "Varnel", "Win-Width"));
    EXPECT_EQ("300", IniValue(SettingsFile, "Varnel", "Win-Height"));
    EXPECT_EQ("0", IniValue(SettingsFile, "Varnel", "StartRun"));
    EXPECT_EQ("0", IniValue(SettingsFile, "Varnel", "JobID"));
    EXPECT_EQ("1", IniValue(SettingsFile, "Varnel", "FaxService"));
    EXPECT_EQ("0", IniValue(SettingsFile, "Varnel", "CopyService"));
    EXPECT_EQ("0", IniValue(SettingsFile, "Varnel FAX", "UseProfile"));
    CloseProgram(&Keypad);

    // The next start puts the window back where it was.
    Start();
    ShowWindow(Keypad.Window, SW_RESTORE);
    RECT rect;
    GetWindowRect(Keypad.Window, &rect);
    EXPECT_EQ(123, rect.left);
    EXPECT_EQ(77, rect.top);
    EXPECT_EQ(523, rect.right);
    EXPECT_EQ(377, rect.bottom);
    // A run without any move saves the same placement again.
    EXPECT_EQ(0, ExitProgram(&Keypad));
    EXPECT_EQ("400", IniValue(SettingsFile, "Varnel", "Win-Width"));
}

class RunAtLogon : public Program {
  protected:
    char Saved[1024] = "";
    void SetUp() override {
        Program::SetUp();
        GetProfileStringA("windows", "run", "", Saved, sizeof Saved);
        WriteProfileStringA("windows", "run", "a.exe c:\\old\\keypad32.exe b.exe");
    }
    void TearDown() override {
        Program::TearDown();
        WriteProfileStringA("windows", "run", Saved[0] ? Saved : NULL);
    }
    std::string Run() {
        char value[1024];
        GetProfileStringA("windows", "run", "", value, sizeof value);
        return value;
    }
};

TEST_F(RunAtLogon, TheMenuItemPutsTheProgramInTheListAtExit) {
    Start();
    PostMessageA(Keypad.Window, WM_COMMAND, IDM_RUN_AT_START, 0);
    EXPECT_EQ(0, ExitProgram(&Keypad));
    EXPECT_EQ("a.exe b.exe C:\\Varnel\\EXE32\\KEYPAD32.EXE", Run());
    EXPECT_EQ("1", IniValue(SettingsFile, "Varnel", "StartRun"));
}

TEST_F(RunAtLogon, TogglingTwiceLeavesTheListUntouched) {
    Start();
    PostMessageA(Keypad.Window, WM_COMMAND, IDM_RUN_AT_START, 0);
    PostMessageA(Keypad.Window, WM_COMMAND, IDM_RUN_AT_START, 0);
    EXPECT_EQ(0, ExitProgram(&Keypad));
    EXPECT_EQ("a.exe c:\\old\\keypad32.exe b.exe", Run());
}

// F1 in each dialog of the program, the mail library's profile dialog
// included: the topic of the control with the focus when it has one, else
// the help file's contents (0 below); one request for each press.
class HelpKey : public Program {
  protected:
    std::vector<DWORD> Expected;
    // F1 on each control of the dialog in turn, each after the request of
    // the one before has come; what the viewer was asked for so far.
    std::vector<DWORD> PressF1(std::initializer_list<int> ids) {
        for (int id : ids) {
            size_t before = Help.Commands().size();
            EXPECT_TRUE(PressHelpKey(Dialog, FindControl(Dialog, id))) << "no focus on " << id;
            EXPECT_TRUE(WaitUntil([&] { return Help.Commands().size() > before; }))
                << "F1 on " << id << " brought nothing";
        }
        std::vector<DWORD> asked, contexts = Help.Contexts();
        size_t next = 0;
        for (UINT command : Help.Commands()) {
            if (command == HH_DISPLAY_TOC) {
                asked.push_back(0);
            } else if (command == HH_HELP_CONTEXT && next < contexts.size()) {
                asked.push_back(contexts[next++]);
            }
        }
        return asked;
    }
    // The requests that PressF1 should have brought by now, these included.
    std::vector<DWORD> AndThen(std::initializer_list<DWORD> requests) {
        Expected.insert(Expected.end(), requests);
        return Expected;
    }
};

TEST_F(HelpKey, InEachDialog) {
    Start();
    const struct {
        int Command;
        const char *Caption, *Class;
        int Control; // one with a topic, or 0
        DWORD Topic;
    } dialogs[] = {
        {IDM_FAX_SETUP, "Varnel: Fax Configuration", "SoftelGrayDialog32", IDC_FAX_PROFILE_LIST,
         IDH_FAX_PROFILE},
        {IDM_COPY_SETUP, "Varnel: Copy Configuration", "#32770", IDC_COPY_FIT_IN_PAGE,
         IDH_COPY_FIT_IN_PAGE},
        {IDM_SCANNER_DEFAULTS, "Scanner Settings", "#32770", IDC_MODE_COLOR_PHOTO,
         IDH_MODE_COLOR_PHOTO},
        {IDM_IO_ADDRESS_VERIFY, "I/O Addresses Verification", "#32770", IDC_VERIFY_PORT,
         IDH_IO_VERIFY},
        {IDM_ABOUT, "About Varnel Keypad Program", "#32770", 0, 0},
    };
    for (const auto &d : dialogs) {
        OpenDialog(d.Command, d.Caption, d.Class);
        if (d.Control) {
            EXPECT_EQ(AndThen({d.Topic, 0}), PressF1({d.Control, IDCANCEL})) << d.Caption;
            CloseDialog(IDCANCEL);
        } else {
            EXPECT_EQ(AndThen({0}), PressF1({IDOK})) << d.Caption;
            CloseDialog(IDOK);
        }
    }

    // The library's dialog passes F1 on to Create New Profile, which owns it
    // and shows the contents for it.
    OpenDialog(IDM_CREATE_FAX_PROFILE, "Create New Profile");
    EXPECT_EQ(AndThen({0, IDH_OK_BUTTON}), PressF1({IDC_PROFILE_NAME, IDOK}));
    HWND create = Dialog;
    SendMessageA(Item(IDC_PROFILE_NAME), WM_SETTEXT, 0, (LPARAM) "Help Key Fax");
    PostMessageA(create, WM_COMMAND, IDOK, 0);
    Dialog = WaitForWindow("#32770", "New Profile");
    ASSERT_NE((HWND)NULL, Dialog) << "the library's dialog did not open";
    ASSERT_TRUE(WaitUntil([&] { return IsWindowVisible(Dialog); }));
    // Its second field has the id of a control of the program's with a topic.
    EXPECT_EQ(AndThen({0, 0}), PressF1({IDCANCEL, IDC_MAIL_PROFILE_LIST}));
    CloseDialog(IDCANCEL);
    EXPECT_TRUE(WaitForWindowGone(create));
}

// The start's message box: its text, and whether a main window stood beside it.
void ReadStartFailure(HWND box, void *text) {
    ReadAndPressOk(box, text);
    if (FindWindowA("Fax Configuration", NULL)) {
        *(std::string *)text += " (with a main window)";
    }
}

TEST_F(Program, WithoutADeviceItSaysSoAndEnds) {
    std::string config = ProductFile("DLL32\\VNLSCAN.INI");
    FileBackup keepConfig(config);
    WritePrivateProfileStringA("Device", "AutoStart", "0", config.c_str());
    WritePrivateProfileStringA(NULL, NULL, NULL, config.c_str());
    ASSERT_TRUE(QuitDevice());

    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    char commandLine[MAX_PATH];
    lstrcpynA(commandLine, ProductFile("EXE32\\KEYPAD32.EXE").c_str(), sizeof commandLine);
    std::string text;
    DialogAnswer box("Varnel", ReadStartFailure, &text, DialogAnswer::AnyProcess);
    ASSERT_TRUE(CreateProcessA(NULL, commandLine, NULL, NULL, FALSE, 0, NULL, NULL, &startup,
                               &Keypad.Process));
    Started = true;
    ASSERT_EQ(1, box.Wait());
    EXPECT_EQ("Cannot find Varnel!", text);
    EXPECT_EQ(0, WaitForExit(&Keypad, 10000));
}

} // namespace
