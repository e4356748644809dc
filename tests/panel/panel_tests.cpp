// The panel keys against a recording driver entry: what the LCD shows and
// which state each key changes, with every guard.
#include <gtest/gtest.h>

#include <string.h>
#include <string>
#include <vector>

#include "app/settings.h"
#include "driver/driver.h"
#include "fax/profiles.h"
#include "panel/panel.h"
#include "panel/panel_state.h"

namespace {

struct LcdText {
    WORD Line;
    std::string Text;
};

CRITICAL_SECTION RecordLock;
std::vector<LcdText> Shown; // LCD texts in the order the driver got them
WORD ReadyStatus;           // answer to requests 5 and 6

WORD WINAPI RecordingEntry(DriverRequest *request) {
    request->Status = 0;
    if (request->Command == DrvShowText) {
        EnterCriticalSection(&RecordLock);
        Shown.push_back({(WORD)request->Value, (const char *)(UINT_PTR)request->Buffer});
        LeaveCriticalSection(&RecordLock);
    } else if (request->Command == DrvQueryReady || request->Command == DrvQueryPaper) {
        request->Status = ReadyStatus;
    }
    return 0;
}

std::string LastOnLine(WORD line) {
    for (auto it = Shown.rbegin(); it != Shown.rend(); ++it) {
        if (it->Line == line) {
            return it->Text;
        }
    }
    return "(nothing)";
}

class PanelKeys : public ::testing::Test {
  protected:
    void SetUp() override {
        InitializeCriticalSection(&RecordLock);
        DriverEntry = RecordingEntry;
        DeviceInfo.Capabilities = CapFrontPanel;
        ReadyStatus = 0;
        Shown.clear();
        ScanMode = PaperSize = FaxResolution = MailResolution = Destination = 0;
        for (int i = 0; i < ScanModeCount; i++) {
            LevelDefaults[i] = {50, 50};
            ModeLevels[i] = LevelDefaults[i];
        }
        SpeedDialKey = 0;
        ClearTypedNumber();
        JobBusy = 0;
        CancelRequested = 0;
        FaxServiceEnabled = CopyServiceEnabled = 1;
        FaxProfileCount = MailProfileCount = 1;
        for (int i = 1; i <= 28; i++) {
            snprintf(SpeedDialLabels[i], SpeedDialLabelSize, "label %d", i);
        }
        MSG drop;
        while (PeekMessageA(&drop, NULL, WM_USER, WM_USER, PM_REMOVE)) {
        }
    }
    void TearDown() override {
        DriverEntry = NULL;
        DeleteCriticalSection(&RecordLock);
    }

    void Press(WORD code, LPARAM lParam = 0) { HandlePanelMessage(code, lParam); }
    std::string Status() { return LastOnLine(0); }
    std::string Message() { return LastOnLine(2); }
    // The job start the panel posted to its own window (thread queue here).
    WPARAM PostedStart() {
        MSG message;
        return PeekMessageA(&message, NULL, WM_USER, WM_USER, PM_REMOVE) ? message.wParam : 0;
    }
};

TEST_F(PanelKeys, StatusLineShowsEveryTag) {
    ShowStatusLine();
    EXPECT_EQ("LT TXT DFT 050 F", Status());
    Press(KeyPaperSize);
    Press(KeyScanMode);
    Press(KeyResolution);
    EXPECT_EQ("LG PHT FNE 050 F", Status());
    Press(KeyPaperSize);
    Press(KeyScanMode);
    Press(KeyDestination);
    EXPECT_EQ("A4 CPH DFT 050 I", Status());
    Press(KeyResolution);
    Press(KeyResolution);
    EXPECT_EQ("A4 CPH SPR 050 I", Status());
    Press(KeyResolution);
    Press(KeyPaperSize);
    Press(KeyScanMode);
    EXPECT_EQ("LT TXT DFT 050 I", Status());
}

TEST_F(PanelKeys, BrightnessWrapsOnlyPastTheEnds) {
    ModeLevels[0].Brightness = 100;
    Press(KeyLevelUp);
    EXPECT_EQ("LT TXT DFT 000 F", Status());
    Press(KeyLevelDown);
    EXPECT_EQ("LT TXT DFT 100 F", Status());
    ModeLevels[0].Brightness = 98;
    Press(KeyLevelUp);
    EXPECT_EQ(0, ModeLevels[0].Brightness);
    ModeLevels[0].Brightness = 3;
    Press(KeyLevelDown);
    EXPECT_EQ(100, ModeLevels[0].Brightness);
    // Only the current mode's level moves.
    EXPECT_EQ(50, ModeLevels[1].Brightness);
}

TEST_F(PanelKeys, LevelsFromADamagedSettingsFileKeepTheLineAt16) {
    for (SHORT level : {(SHORT)-32768, (SHORT)-1, (SHORT)101, (SHORT)32767}) {
        ModeLevels[0].Brightness = level;
        ShowStatusLine();
        EXPECT_EQ(16u, Status().size()) << level;
    }
    char line[20];
    ScanMode = 7; // out of range: must not read outside the tables
    PaperSize = 9;
    ComposeStatusLine(line, sizeof line);
    EXPECT_EQ(16u, strlen(line));
}

TEST_F(PanelKeys, FaxServiceOffLeavesOnlyModeAndPaper) {
    FaxServiceEnabled = 0;
    Press(KeyScanMode);
    Press(KeyPaperSize);
    EXPECT_EQ(1, ScanMode);
    EXPECT_EQ(1, PaperSize);
    size_t before = Shown.size();
    Press(KeyResolution);
    Press(KeyDestination);
    Press(KeyFirstSpeedDial + 2);
    EXPECT_EQ(0, FaxResolution);
    EXPECT_EQ(0, Destination);
    EXPECT_EQ(0, SpeedDialKey);
    EXPECT_EQ(before, Shown.size());
}

TEST_F(PanelKeys, BothServicesOffLeaveStopLevelsDigitsAndDisabledTexts) {
    FaxServiceEnabled = CopyServiceEnabled = 0;
    Press(KeyScanMode);
    Press(KeyPaperSize);
    EXPECT_EQ(0, ScanMode);
    EXPECT_EQ(0, PaperSize);
    Press(KeyLevelUp);
    EXPECT_EQ(55, ModeLevels[0].Brightness);
    Press(KeyDigit, '4');
    EXPECT_STREQ("4", TypedNumber);

    Press(KeyFax);
    EXPECT_EQ(1, JobBusy);
    WPARAM start = PostedStart();
    EXPECT_EQ((WPARAM)PanelStartFax, start);
    Press((WORD)start);
    EXPECT_EQ("Fax Disabled!", Message());
    EXPECT_EQ(0, JobBusy);

    Press(KeyCopy);
    start = PostedStart();
    EXPECT_EQ((WPARAM)PanelStartCopy, start);
    Press((WORD)start);
    EXPECT_EQ("Copy Disabled!", Message());
    EXPECT_EQ(0, JobBusy);
}

HANDLE WINAPI RefuseThread(LPSECURITY_ATTRIBUTES, SIZE_T, LPTHREAD_START_ROUTINE, LPVOID, DWORD,
                           LPDWORD) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return NULL;
}

TEST_F(PanelKeys, AJobThreadThatCannotStartSaysSoAndFreesTheKeys) {
    CreateJobThread = RefuseThread;
    for (WORD key : {KeyCopy, KeyFax}) {
        Press(key);
        WPARAM start = PostedStart();
        ASSERT_NE(0u, start);
        Press((WORD)start);
        EXPECT_EQ("Job Not Started!", Message()) << key;
        EXPECT_EQ(0, JobBusy) << key;
    }
    CreateJobThread = CreateThread;
    Press(KeyScanMode);
    EXPECT_EQ(1, ScanMode);
}

TEST_F(PanelKeys, JobKeysNeedAReadyDeviceAndAnIdlePanel) {
    ReadyStatus = 1;
    Press(KeyCopy);
    EXPECT_EQ(0, JobBusy);
    EXPECT_EQ(0u, PostedStart());

    ReadyStatus = 0;
    CancelRequested = 1;
    Press(KeyCopy);
    EXPECT_EQ(1, JobBusy);
    EXPECT_EQ(0, CancelRequested);
    // A second press before the start message is handled is ignored, and so
    // is every guarded key.
    Press(KeyFax);
    Press(KeyScanMode);
    Press(KeyPaperSize);
    EXPECT_EQ((WPARAM)PanelStartCopy, PostedStart());
    EXPECT_EQ(0u, PostedStart());
    EXPECT_EQ(0, ScanMode);
    EXPECT_EQ(0, PaperSize);
}

TEST_F(PanelKeys, StopDuringAJobCancelsAndIdleStopResets) {
    JobBusy = 1;
    Press(KeyStop);
    EXPECT_EQ(1, CancelRequested);

    CancelRequested = 0;
    Press(PanelJobEvent, 0x106); // only the low byte is the event
    EXPECT_EQ(1, CancelRequested);
    CancelRequested = 0;
    Press(PanelJobEvent, 5);
    EXPECT_EQ(0, CancelRequested);

    JobBusy = 0;
    ScanMode = 1;
    PaperSize = 2;
    Destination = 1;
    ModeLevels[0].Brightness = 5;
    ModeLevels[1].Brightness = 95;
    ModeLevels[2].Contrast = 10;
    Press(KeyDigit, '9');
    Press(KeyStop);
    EXPECT_EQ(50, ModeLevels[0].Brightness);
    EXPECT_EQ(50, ModeLevels[1].Brightness);
    EXPECT_EQ(50, ModeLevels[2].Contrast);
    EXPECT_EQ(0, TypedLength);
    EXPECT_EQ("", Message());
    EXPECT_EQ(1, ScanMode);
    EXPECT_EQ(2, PaperSize);
    EXPECT_EQ(1, Destination);
    EXPECT_EQ("A4 PHT DFT 050 I", Status());
}

TEST_F(PanelKeys, DigitsStopAtSixteen) {
    for (int i = 0; i < 17; i++) {
        Press(KeyDigit, '0' + i % 10);
    }
    EXPECT_EQ(16, TypedLength);
    EXPECT_STREQ("0123456789012345", TypedNumber);
}

TEST_F(PanelKeys, SpeedDialAndDigitsExcludeEachOther) {
    Press(KeyDigit, '5');
    Press(KeyFirstSpeedDial + 3);
    EXPECT_EQ(4, SpeedDialKey);
    EXPECT_EQ(0, TypedLength);
    EXPECT_EQ("label 4", Message());

    Press(KeyDestination);
    EXPECT_EQ("label 18", Message());
    EXPECT_EQ(1, Destination);
    Press(KeyLastSpeedDial);
    EXPECT_EQ("label 28", Message());

    Press(KeyDigit, '7');
    EXPECT_EQ(0, SpeedDialKey);
    EXPECT_EQ("label 28", Message()); // the label stays on the message line
}

TEST_F(PanelKeys, DestinationNeedsBothKindsOfProfile) {
    FaxProfileCount = 0;
    Press(KeyDestination);
    EXPECT_EQ("No FAX Profile!", Message());
    FaxProfileCount = 2;
    MailProfileCount = 0;
    Press(KeyDestination);
    EXPECT_EQ("No MAIL Profile!", Message());
    EXPECT_EQ(0, Destination);
}

TEST_F(PanelKeys, EndJobHandsThePanelBack) {
    JobBusy = 1;
    SpeedDialKey = 3;
    Press(KeyDigit, '1');
    EndJob();
    EXPECT_EQ(0, JobBusy);
    EXPECT_EQ(0, SpeedDialKey);
    EXPECT_EQ(0, TypedLength);
    EXPECT_EQ("LT TXT DFT 050 F", Status());
}

DWORD WINAPI EndJobLoop(void *) {
    for (int i = 0; i < 500; i++) {
        ShowStatusLine();
    }
    return 0;
}

TEST_F(PanelKeys, TwoThreadsComposingNeverMixTheirLines) {
    ModeLevels[0].Brightness = 50;
    HANDLE job = CreateThread(NULL, 0, EndJobLoop, NULL, 0, NULL);
    for (int i = 0; i < 500; i++) {
        Press(i % 2 ? KeyLevelUp : KeyLevelDown);
    }
    WaitForSingleObject(job, INFINITE);
    CloseHandle(job);
    for (const LcdText &shown : Shown) {
        ASSERT_EQ(0, shown.Line);
        ASSERT_EQ(16u, shown.Text.size()) << shown.Text;
        ASSERT_TRUE(shown.Text == "LT TXT DFT 050 F" || shown.Text == "LT TXT DFT 045 F")
            << shown.Text;
    }
}

} // namespace
