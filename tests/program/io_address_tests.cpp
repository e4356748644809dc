// The I/O address verification dialog of KEYPAD32.EXE end to end, against the
// virtual scanner answering at the port its control channel gives: which
// ports are tested in which order (the request log), what the dialog and its
// boxes show, what lands in SYSTEM.INI, and a verification during a copy job.
#include <gtest/gtest.h>

#include <vector>

#include "abi/driver_abi.h"
#include "program_fixture.h"
#include "res/resource.h"

namespace {

const char Title[] = "I/O Addresses Verification";
const char AppTitle[] = "Varnel Keypad Program";
const char SystemIni[] = "C:\\windows\\system.ini";

class IoAddress : public ProgramFixture {
  protected:
    FileBackup System{SystemIni};
    FileBackup Store{ProductFile("TELVEX.INI")}; // the mail profiles of the fax/e-mail key

    void SetUp() override {
        WriteFileText(SettingsFile, "[Varnel]\r\nFaxService=0\r\nCopyService=1\r\n"
                                    "[Varnel COPY]\r\nAlwaysDefault=1\r\nFitInPage=1\r\n");
        // The program reads the device's port when it starts.
        ASSERT_TRUE(StartDevice());
        ProgramFixture::SetUp();
        Device("hold off");
    }
    void TearDown() override {
        Device("hold off");
        Device("port config");
        ProgramFixture::TearDown();
    }
    // Starts the program with the device at port ("330", or "config" for its
    // own 278h, which is not in the table) and opens the dialog.
    void Open(const char *port) {
        ASSERT_EQ("", Device(std::string("port ") + port));
        Start();
        OpenDialog();
    }
    // The menu command that Ctrl+V sends.
    void OpenDialog() { ProgramFixture::OpenDialog(IDM_IO_ADDRESS_VERIFY, Title); }
    std::vector<int> CheckedButtons() {
        std::vector<int> checked;
        for (int id = IDC_PORT_FIRST; id <= IDC_PORT_LAST; id++) {
            if (Checked(id)) {
                checked.push_back(id);
            }
        }
        return checked;
    }
    bool ApplyEnabled() { return Enabled(IDC_APPLY_PORT); }
    std::string Line() { return ControlText(Dialog, IDC_VERIFY_LINE); }
    // A box of the program captioned caption, other than the dialog itself; null when none came.
    HWND WaitForBox(const char *caption) {
        HWND box = NULL;
        WaitUntil([&] {
            do {
                box = FindWindowExA(NULL, box, "#32770", caption);
            } while (box == Dialog);
            return box != NULL;
        });
        return box;
    }
    // Presses a button that brings a box captioned caption: AnswerBox of it,
    // and *log the requests made up to its showing.
    std::string PressForBox(int id, const char *caption, std::vector<LoggedRequest> *log) {
        PressButton(Dialog, id);
        HWND box = WaitForBox(caption);
        *log = RequestLog();
        return AnswerBox(box);
    }
    // Presses a verification button and waits until the line shows the text.
    void Verify(int id, const std::string &line) {
        PressButton(Dialog, id);
        EXPECT_TRUE(WaitUntil([&] { return Line() == line; })) << Line();
    }
};

// The ports request 11 was asked about, in order.
std::vector<unsigned> TestedPorts(const std::vector<LoggedRequest> &log) {
    std::vector<unsigned> ports;
    for (const LoggedRequest &request : log) {
        if (request.Command == DrvTestIoPort) {
            ports.push_back(request.Value & 0xFFFF);
        }
    }
    return ports;
}

// The device was opened and its last request (LCD texts aside) closed it.
bool ClosedLast(const std::vector<LoggedRequest> &log) {
    unsigned last = 0xFFFF;
    for (const LoggedRequest &request : log) {
        if (request.Command != DrvShowText) {
            last = request.Command;
        }
    }
    return CountRequests(log, DrvOpen) == 1 && last == DrvClose;
}

TEST_F(IoAddress, AutoVerifyTestsOnlyTheSelectedPortWhenItAnswers) {
    ASSERT_EQ("", Device("port 330"));
    Start();
    ShowWindow(Keypad.Window, SW_RESTORE);
    ASSERT_TRUE(WaitUntil([&] { return !IsIconic(Keypad.Window); }));
    MoveWindow(Keypad.Window, 100, 100, 600, 500, TRUE);
    OpenDialog();
    RECT main, dialog;
    GetWindowRect(Keypad.Window, &main);
    GetWindowRect(Dialog, &dialog);
    EXPECT_EQ(main.left + ((main.right - main.left) - (dialog.right - dialog.left)) / 2,
              dialog.left);
    EXPECT_EQ(main.top + ((main.bottom - main.top) - (dialog.bottom - dialog.top)) / 2, dialog.top);
    EXPECT_EQ(std::vector<int>{608}, CheckedButtons());
    EXPECT_FALSE(ApplyEnabled());
    Device("log clear");
    Verify(IDOK, "Port 330h has been successfully verified!");
    std::vector<LoggedRequest> log = RequestLog();
    EXPECT_EQ(std::vector<unsigned>{0x330}, TestedPorts(log));
    EXPECT_TRUE(ClosedLast(log));
    EXPECT_FALSE(ApplyEnabled()) << "the port the device already has";
    CloseDialog(IDCANCEL);
    EXPECT_EQ("(missing)", IniValue(SystemIni, "386Enh", "Varnel_IO"));
}

// The panel's fax/e-mail key sends the profile page's button ids to whichever
// settings dialog is open: here they choose no port.
TEST_F(IoAddress, ThePanelsFaxMailKeyChoosesNoPort) {
    WriteFileText(ProductFile("TELVEX.INI"), "[Telvex]\r\n[Profile:Varnel Fax]\r\nServices=25\r\n"
                                             "[Profile:Varnel Mail]\r\nServices=28\r\n");
    WriteFileText(SettingsFile, "[Varnel]\r\nFaxService=1\r\nCopyService=0\r\n[Varnel FAX]\r\n"
                                "MS Exchange Fax=Varnel Fax\r\nMS Exchange Email=Varnel Mail\r\n"
                                "UseProfile=0\r\n");
    Open("330");
    PressKey("destination");
    EXPECT_EQ(" I", WaitForLcd(0, "LT TXT DFT 050 I").substr(14));
    PressKey("destination");
    EXPECT_EQ(" F", WaitForLcd(0, "LT TXT DFT 050 F").substr(14));
    ASSERT_TRUE(SettlePanel());
    EXPECT_FALSE(ApplyEnabled());
    EXPECT_EQ(std::vector<int>{608}, CheckedButtons());
    CloseDialog(IDCANCEL);
}

// The device's 278h is not in the table: no button is checked, so a chosen
// one enables Apply; the keyboard reaches the buttons all the same. Auto.
// Verify tries the chosen port first, then the table in order, and the
// device is closed by the time the outcome shows. F1 on a control opens its
// topic.
TEST_F(IoAddress, APortNotInTheTableChecksNoneAndAutoVerifyTriesTheChosenFirst) {
    Open("config");
    EXPECT_TRUE(CheckedButtons().empty());
    int tabStops = 0;
    for (int id = IDC_PORT_FIRST; id <= IDC_PORT_LAST; id++) {
        tabStops += (GetWindowLongA(Item(id), GWL_STYLE) & WS_TABSTOP) != 0;
    }
    EXPECT_EQ(1, tabStops) << "address buttons the Tab key stops at";
    EXPECT_FALSE(ApplyEnabled());
    Click(608);
    EXPECT_TRUE(ApplyEnabled());
    Device("log clear");
    std::vector<LoggedRequest> log;
    EXPECT_EQ("Can't find any available ports!", PressForBox(IDOK, Title, &log));
    EXPECT_EQ((std::vector<unsigned>{0x330, 0x220, 0x230, 0x260, 0x270, 0x320, 0x360, 0x370}),
              TestedPorts(log));
    EXPECT_TRUE(ClosedLast(log)) << "the device was still open under the box";
    EXPECT_EQ("", Line());
    EXPECT_EQ(std::vector<int>{608}, CheckedButtons());
    EXPECT_TRUE(ApplyEnabled());
    for (int id : {IDOK, IDC_VERIFY_PORT, IDC_APPLY_PORT, 608}) {
        AskContextHelp(Dialog, id);
    }
    EXPECT_EQ((std::vector<DWORD>{19, 20, 21, 18}), Help.Contexts()) << "the topics of F1";
    CloseDialog(IDCANCEL);
}

// The device moved after the program read its port: Verify of a port that
// does not answer says so and leaves Apply disabled or enabled as it was.
TEST_F(IoAddress, VerifyOfAPortThatDoesNotAnswerLeavesApplyAsItWas) {
    Open("330");
    ASSERT_EQ("", Device("port 360"));
    std::vector<LoggedRequest> log;
    EXPECT_EQ("Port is invalid, please try another one!",
              PressForBox(IDC_VERIFY_PORT, Title, &log));
    EXPECT_EQ(std::vector<unsigned>{0x330}, TestedPorts(log));
    EXPECT_FALSE(ApplyEnabled());
    Click(603);
    Device("log clear");
    EXPECT_EQ("Port is invalid, please try another one!",
              PressForBox(IDC_VERIFY_PORT, Title, &log));
    EXPECT_EQ(std::vector<unsigned>{0x220}, TestedPorts(log));
    EXPECT_TRUE(ApplyEnabled());
    EXPECT_EQ(std::vector<int>{603}, CheckedButtons());
    // Auto. Verify finds it and checks its button.
    Verify(IDOK, "Port 360h has been successfully verified!");
    EXPECT_EQ(std::vector<int>{609}, CheckedButtons());
    CloseDialog(IDCANCEL);
}

// Each port's line shows while the driver is still testing that port.
TEST_F(IoAddress, TheLineIsPaintedWhileEachPortIsTested) {
    Open("config");
    Click(605);
    HWND line = Item(IDC_VERIFY_LINE);
    ASSERT_TRUE(WaitUntil(
        [&] { return !GetUpdateRect(Dialog, NULL, FALSE) && !GetUpdateRect(line, NULL, FALSE); }));
    Device("fault slow-port 1500");
    PressButton(Dialog, IDC_VERIFY_PORT);
    EXPECT_TRUE(WaitUntil([&] {
        return CountRequests(RequestLog(), DrvTestIoPort) == 0 &&
               WindowText(line) == "Verifying port 260h..." && !GetUpdateRect(line, NULL, FALSE);
    })) << "the line waited for the end of the verification";
    HWND box = WaitForBox(Title);
    ASSERT_NE((HWND)NULL, box);
    PostMessageA(box, WM_COMMAND, IDOK, 0);
    ASSERT_TRUE(WaitForWindowGone(box));
    CloseDialog(IDCANCEL);
}

// Apply writes the chosen port, verified or not, and ends the dialog.
TEST_F(IoAddress, ApplyWritesSystemIniAndSaysSo) {
    Open("220");
    EXPECT_EQ(std::vector<int>{603}, CheckedButtons());
    Click(608);
    std::vector<LoggedRequest> log;
    EXPECT_EQ("I/O address has been changed to 330h!", PressForBox(IDC_APPLY_PORT, AppTitle, &log));
    EXPECT_TRUE(WaitForWindowGone(Dialog));
    EXPECT_EQ("330", IniValue(SystemIni, "386Enh", "Varnel_IO"));
}

// A SYSTEM.INI that cannot be written is reported, and the dialog stays.
TEST_F(IoAddress, AnUnwritableSystemIniIsReportedNotTheChange) {
    Open("220");
    Click(608);
    EXPECT_EQ("The I/O address could not be written to SYSTEM.INI.",
              PressWhileUnwritable(Dialog, IDC_APPLY_PORT, SystemIni));
    EXPECT_TRUE(IsWindow(Dialog));
    CloseDialog(IDCANCEL);
    EXPECT_EQ("(missing)", IniValue(SystemIni, "386Enh", "Varnel_IO"));
}

TEST_F(IoAddress, ADeviceHeldByAnotherProgramIsReportedAndNothingTested) {
    Open("330");
    ASSERT_EQ("", Device("hold on"));
    Device("log clear");
    std::vector<LoggedRequest> log;
    EXPECT_EQ("Scanner is in use by another program!", PressForBox(IDOK, Title, &log));
    EXPECT_EQ(1, CountRequests(log, DrvOpen));
    EXPECT_TRUE(TestedPorts(log).empty());
    EXPECT_EQ("", Line());
    CloseDialog(IDCANCEL);
}

// The dialog opened during a copy job refuses to verify: the job keeps the
// device and ends as it would have.
TEST_F(IoAddress, VerifyDuringACopyJobTestsNothingAndTheJobEndsNormally) {
    ASSERT_EQ("", Device("port 330"));
    Start();
    std::string page = WriteSourcePage(TextPage, TempPath("io-address-copy.bmp"));
    ASSERT_NE("", page);
    Device("load " + page);
    Device("fault slow 500");
    ASSERT_TRUE(PressJobKey("copy"));
    ASSERT_TRUE(WaitUntil([] { return CountRequests(RequestLog(), DrvReadScanData) > 0; }));
    OpenDialog();
    std::vector<LoggedRequest> log;
    EXPECT_EQ("Scanner is in use by another program!", PressForBox(IDOK, Title, &log));
    CloseDialog(IDCANCEL);
    Device("fault clear");
    const char *const ends[] = {"Print Completed", "User cancelled!", "Scanner in use!",
                                "Scanning error!", "Printer error!"};
    EXPECT_EQ("Print Completed", WaitForJobEnd(ends, sizeof ends / sizeof *ends, 120000));
    log = RequestLog();
    EXPECT_TRUE(TestedPorts(log).empty());
    EXPECT_TRUE(ClosedLast(log)) << "the job's open and close, and no other";
}

} // namespace
