// The fixture of the tests that run KEYPAD32.EXE: the settings file kept and
// put back, the device cleared of pages, faults and its request log, and the
// program closed at the end when a test left it running. The device outlives
// the programs that started it; it goes with the tests.
#pragma once
#include <gtest/gtest.h>

#include <string>

#include "program_harness.h"

class ProgramFixture : public ::testing::Test {
  protected:
    std::string SettingsFile = ProductFile("SYS.INI");
    FileBackup Settings{SettingsFile};
    RunningProgram Keypad = {};
    bool Started = false;
    // What the program asked of the help viewer; it goes after the program is closed.
    HelpViewer Help;
    HWND Dialog = NULL; // the dialog that OpenDialog opened

    void SetUp() override {
        Device("fault clear");
        Device("clear");
        Device("log clear");
    }
    void TearDown() override {
        if (Started) {
            EXPECT_TRUE(CloseProgram(&Keypad)) << "KEYPAD32.EXE did not end";
        }
    }
    void Start() {
        std::string failure;
        Started = StartProgram(&Keypad, &failure) != 0;
        ASSERT_TRUE(Started) << failure;
    }
    // A dialog of the program, opened from the main window's menu: the
    // command is posted and the dialog waited for until it shows itself,
    // which it does once its initialisation is over.
    void OpenDialog(int command, const char *caption, const char *windowClass = "#32770") {
        PostMessageA(Keypad.Window, WM_COMMAND, command, 0);
        Dialog = WaitForWindow(windowClass, caption);
        ASSERT_NE((HWND)NULL, Dialog) << "the dialog did not open";
        ASSERT_TRUE(WaitUntil([&] { return IsWindowVisible(Dialog); }));
    }
    // Ends the dialog with OK (1) or Cancel (2) and waits until it is gone.
    void CloseDialog(int id) {
        PostMessageA(Dialog, WM_COMMAND, id, 0);
        ASSERT_TRUE(WaitForWindowGone(Dialog));
    }
    HWND Item(int id) { return GetDlgItem(Dialog, id); }
    bool Checked(int id) { return SendMessageA(Item(id), BM_GETCHECK, 0, 0) == BST_CHECKED; }
    bool Enabled(int id) { return IsWindowEnabled(Item(id)) != 0; }
    void Click(int id) { SendMessageA(Item(id), BM_CLICK, 0, 0); }
    // Presses a job key and waits for one of the job's final texts; at once
    // when the program is not running, so that a failed start costs no timeouts.
    std::string RunJob(const char *key, const char *const *finalTexts, size_t count,
                       DWORD timeout) {
        if (!Started) {
            return "(program not running)";
        }
        if (!PressJobKey(key)) {
            return "(the panel did not settle)";
        }
        return WaitForJobEnd(finalTexts, count, timeout);
    }
};

class DeviceQuit : public ::testing::Environment {
  public:
    void TearDown() override { EXPECT_EQ(1, QuitDevice()) << "the device did not end"; }
};
inline const ::testing::Environment *const QuitDeviceAtEnd =
    ::testing::AddGlobalTestEnvironment(new DeviceQuit);
