// The copy job end to end: the real KEYPAD32.EXE scans pages from the virtual
// scanner and prints them on the prefix's PostScript printers, on the one
// chosen in its copy configuration dialog. Judged by the
// LCD, the driver's request log, the temporary directory and the PostScript
// each printer received. Every printed case is kept under C:\printed\cases
// with a manifest line, and check_prints.py renders them with Ghostscript and
// compares them with the source pages.
#include <gtest/gtest.h>

#include <windows.h>
#include <psapi.h>
#include <winspool.h>

#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

#include "abi/driver_abi.h"
#include "program_fixture.h"

namespace {

const char *const PrintedDirectory = "C:\\printed\\";
const char *const ColorOutput = "C:\\printed\\color.ps";
const char *const GrayOutput = "C:\\printed\\gray.ps";
const char *const ColorPrinter = "Varnel Color PS";
const char *const GrayPrinter = "Varnel Gray PS";
const char *const OfflinePrinter = "Varnel Offline PS";
const char *const LongPrinter = "Varnel PostScript Printer Of The Second Floor Copy Room Shared By "
                                "Accounts Sales And The Front Desk";
const char *const LongOutput = "C:\\printed\\long.ps";

const std::string &SourcePage(PageKind kind) {
    static const char *const names[3] = {"copy-text.bmp", "copy-grey.bmp", "copy-colour.bmp"};
    static std::string paths[3];
    if (paths[kind].empty()) {
        paths[kind] = WriteSourcePage(kind, TempPath(names[kind]));
    }
    return paths[kind];
}

// What a printer received: its PostScript documents, in order.
struct PrintedDocument {
    int Copies;
    int Pages;
};

std::vector<PrintedDocument> Documents(const std::string &postscript) {
    std::vector<PrintedDocument> documents;
    size_t at = 0;
    while ((at = postscript.find("%!PS-Adobe-3.0", at)) != std::string::npos) {
        size_t next = postscript.find("%!PS-Adobe-3.0", at + 1);
        std::string one =
            postscript.substr(at, next == std::string::npos ? std::string::npos : next - at);
        PrintedDocument document = {1, 0};
        size_t copies = one.find("%cupsJobTicket: copies=");
        if (copies != std::string::npos) {
            document.Copies = atoi(one.c_str() + copies + 23);
        }
        for (size_t page = one.find("\n%%Page: "); page != std::string::npos;
             page = one.find("\n%%Page: ", page + 1)) {
            document.Pages++;
        }
        documents.push_back(document);
        at = next == std::string::npos ? postscript.size() : next;
    }
    return documents;
}

std::string CopiesOf(const std::vector<PrintedDocument> &documents) {
    std::string copies;
    for (const PrintedDocument &document : documents) {
        copies += std::to_string(document.Copies) + (document.Pages == 1 ? " " : "(pages?) ");
    }
    return copies;
}

const char *const FinalTexts[] = {"Print Completed", "User cancelled!", "Not enough mem!",
                                  "Printer error!",  "Scanner in use!", "Scanning error!",
                                  "File I/O Error!"};

class CopyJob : public ProgramFixture {
  protected:
    void SetUp() override {
        UseSettings("AlwaysDefault=1\r\nFitInPage=1\r\n");
        ProgramFixture::SetUp();
        DeleteFileA(ColorOutput);
        DeleteFileA(GrayOutput);
        DeleteFileA(LongOutput);
    }
    void UseSettings(const std::string &copySection) {
        WriteFileText(SettingsFile,
                      "[Varnel]\r\nFaxService=0\r\nCopyService=1\r\n[Varnel COPY]\r\n" +
                          copySection);
    }
    void UsePrinter(const char *name, int fit, const std::string &more = "") {
        UseSettings("Printer=" + Description(name) +
                    "\r\nAlwaysDefault=0\r\nFitInPage=" + std::to_string(fit) + "\r\n" + more);
    }
    // A printer as the copy settings describe it.
    static std::string Description(const char *name) {
        char port[2 * MAX_PATH];
        GetProfileStringA("devices", name, "", port, sizeof port);
        std::string entry = port;
        size_t comma = entry.find(',');
        return std::string(name) + ", " + entry.substr(0, comma) + ", " + entry.substr(comma + 1);
    }
    // Starts the program, answering the message box of a service that cannot start.
    void Start() {
        DialogAnswer box("Varnel Keypad Program", ReadAndPressOk, nullptr,
                         DialogAnswer::AnyProcess);
        ProgramFixture::Start();
    }
    void Load(PageKind kind, int count = 1) {
        for (int i = 0; i < count; i++) {
            Device("load " + SourcePage(kind));
        }
    }
    void Mode(int presses) {
        for (int i = 0; i < presses; i++) {
            PressKey("mode");
        }
    }
    // Presses Copy and waits for the job's last text and the device's closing.
    std::string Copy(DWORD timeout = 120000) {
        return RunJob("copy", FinalTexts, sizeof FinalTexts / sizeof *FinalTexts, timeout);
    }
    std::string WaitForJobEnd(DWORD timeout) {
        return ::WaitForJobEnd(FinalTexts, sizeof FinalTexts / sizeof *FinalTexts, timeout);
    }
    // The job's last requests: notification off, then the device closed.
    static bool DeviceClosedLast() {
        std::vector<LoggedRequest> log = RequestLog();
        std::vector<LoggedRequest> job;
        for (const LoggedRequest &request : log) {
            if (request.Command != DrvShowText) {
                job.push_back(request);
            }
        }
        size_t n = job.size();
        return n >= 2 && job[n - 2].Command == DrvJobNotification &&
               (job[n - 2].Value & 0xFF) == 0 && job[n - 1].Command == DrvClose;
    }
    // The job handed the panel back: the next key acts at once.
    void ExpectPanelBack() {
        std::vector<LoggedRequest> log = RequestLog();
        bool opened = false;
        for (const LoggedRequest &request : log) {
            opened = opened || (request.Command == DrvOpen && request.Status == 0);
        }
        if (opened) {
            EXPECT_TRUE(DeviceClosedLast()) << "the device was left open";
        }
        std::string before = LcdStatus();
        PressKey("paper");
        EXPECT_TRUE(WaitUntil([&] { return LcdStatus() != before; }, 2000))
            << "the panel still refuses keys";
        PressKey("paper");
        PressKey("paper");
        EXPECT_TRUE(FilesMatching(TempPath("CPY*.tmp")).empty());
    }
    // Keeps what a printer received for the rendering check.
    void KeepCase(const char *name, const char *output, PageKind kind, const char *paper, int fit,
                  int expectColour, int docs) {
        CreateDirectoryA("C:\\printed\\cases", NULL);
        std::string kept = std::string(PrintedDirectory) + "cases\\" + name + ".ps";
        ASSERT_TRUE(CopyFileA(output, kept.c_str(), FALSE));
        std::string source = std::string("cases\\") + name + ".bmp";
        CopyFileA(SourcePage(kind).c_str(), (std::string(PrintedDirectory) + source).c_str(),
                  FALSE);
        char line[256];
        snprintf(line, sizeof line, "%s %s.ps %s.bmp %s %d %d %d\n", name, name, name, paper, fit,
                 expectColour, docs);
        // One line per case: a case printed again replaces its line.
        std::string manifest = std::string(PrintedDirectory) + "cases\\manifest.txt";
        std::string keptLines = ReadFileText(manifest), others;
        for (size_t at = 0; at < keptLines.size();) {
            size_t end = keptLines.find('\n', at);
            end = end == std::string::npos ? keptLines.size() : end + 1;
            std::string other = keptLines.substr(at, end - at);
            if (other.compare(0, strlen(name) + 1, std::string(name) + " ") != 0) {
                others += other;
            }
            at = end;
        }
        WriteFileText(manifest, others + line);
    }
};

TEST_F(CopyJob, AFittedTextPageFillsThePrintableArea) {
    Start();
    Load(TextPage);
    ASSERT_EQ("Print Completed", Copy());
    std::vector<PrintedDocument> printed = Documents(ReadFileText(ColorOutput));
    EXPECT_EQ("1 ", CopiesOf(printed));
    KeepCase("fit-text", ColorOutput, TextPage, "letter", 1, 0, 1);
    ExpectPanelBack();
}

TEST_F(CopyJob, GreyAndColourPhotosArePrintedFitted) {
    Start();
    Load(GreyPage);
    Mode(1);
    ASSERT_EQ("Print Completed", Copy());
    EXPECT_EQ("1 ", CopiesOf(Documents(ReadFileText(ColorOutput))));
    KeepCase("fit-grey", ColorOutput, GreyPage, "letter", 1, 0, 1);
    DeleteFileA(ColorOutput);

    Load(ColourPage);
    Mode(1);
    ASSERT_EQ("Print Completed", Copy());
    EXPECT_EQ("1 ", CopiesOf(Documents(ReadFileText(ColorOutput))));
    KeepCase("fit-colour", ColorOutput, ColourPage, "letter", 1, 1, 1);
    ExpectPanelBack();
}

TEST_F(CopyJob, WithoutFitThePageIsPrintedAtItsOwnSize) {
    UsePrinter(ColorPrinter, 0);
    Start();
    Load(GreyPage);
    Mode(1);
    ASSERT_EQ("Print Completed", Copy());
    KeepCase("nofit-grey", ColorOutput, GreyPage, "letter", 0, 0, 1);
}

TEST_F(CopyJob, ColourPhotoOnAGreyPrinterPrintsGreyAndAZeroCopyLimitStillEnds) {
    // The grey printer's library reports a copy limit of 0: each copy is a document.
    UsePrinter(GrayPrinter, 1);
    Start();
    Load(ColourPage);
    Mode(2);
    Device("digits 2");
    ASSERT_EQ("Print Completed", Copy());
    EXPECT_EQ("1 1 ", CopiesOf(Documents(ReadFileText(GrayOutput))));
    KeepCase("grey-printer", GrayOutput, ColourPage, "letter", 1, 0, 2);
}

TEST_F(CopyJob, TwelveCopiesOnAPrinterOfFiveMakeDocumentsOfFiveFiveAndTwo) {
    Start();
    Load(TextPage);
    Device("digits 12");
    ASSERT_EQ("Print Completed", Copy());
    EXPECT_EQ("5 5 2 ", CopiesOf(Documents(ReadFileText(ColorOutput))));
}

TEST_F(CopyJob, EveryPageInTheFeederIsPrinted) {
    Start();
    Load(TextPage, 3);
    ASSERT_EQ("Print Completed", Copy());
    EXPECT_EQ("1 1 1 ", CopiesOf(Documents(ReadFileText(ColorOutput))));
    EXPECT_EQ("0", Device("pages").substr(0, 1));
    ExpectPanelBack();
}

TEST_F(CopyJob, PrinterFailuresSayPrinterError) {
    UseSettings("Printer=\r\nAlwaysDefault=0\r\n");
    Start();
    Load(TextPage);
    EXPECT_EQ("Printer error!", Copy());
    // Nothing was held: the device was never opened.
    EXPECT_EQ(0, CountRequests(RequestLog(), DrvOpen));
    ExpectPanelBack();
    CloseProgram(&Keypad);

    UseSettings("Printer=No Such Printer, wineps.drv, LPT1:\r\nAlwaysDefault=0\r\n");
    Start();
    EXPECT_EQ("Printer error!", Copy());
    ExpectPanelBack();
    CloseProgram(&Keypad);

    // A printer that cannot deliver fails the document at its end.
    UsePrinter(OfflinePrinter, 1);
    Start();
    EXPECT_EQ("Printer error!", Copy());
    ExpectPanelBack();
}

TEST_F(CopyJob, DeviceFailuresEndTheJobWithTheirTexts) {
    Start();
    Load(TextPage);
    Device("fault open-refused on");
    EXPECT_EQ("Scanner in use!", Copy());
    EXPECT_EQ(0, CountRequests(RequestLog(), DrvJobNotification));
    ExpectPanelBack();
    Device("fault open-refused off");

    // The device is ready but reports no paper when the job asks.
    Device("fault no-paper on");
    EXPECT_EQ("Scanner in use!", Copy());
    ExpectPanelBack();
    Device("fault no-paper off");

    Load(TextPage);
    Device("fault read-error 500");
    EXPECT_EQ("Scanning error!", Copy());
    ExpectPanelBack();

    Device("clear");
    Load(TextPage);
    Device("fault abort 500");
    EXPECT_EQ("User cancelled!", Copy());
    ExpectPanelBack();

    // The process has no memory left for a band when the scan is set up; the
    // device gives it back when the job closes it, and the next copy prints.
    Device("fault clear");
    Device("clear");
    Load(TextPage);
    Device("fault out-of-memory on");
    EXPECT_EQ("Not enough mem!", Copy());
    ExpectPanelBack();
    // The sheet the job had taken in went out with the failure.
    Device("fault clear");
    Load(TextPage);
    EXPECT_EQ("Print Completed", Copy());
}

TEST_F(CopyJob, AnUnusableTemporaryDirectorySaysFileError) {
    char saved[MAX_PATH] = "", savedTmp[MAX_PATH] = "";
    GetEnvironmentVariableA("TEMP", saved, sizeof saved);
    GetEnvironmentVariableA("TMP", savedTmp, sizeof savedTmp);
    SetEnvironmentVariableA("TEMP", "C:\\no-such-directory");
    SetEnvironmentVariableA("TMP", "C:\\no-such-directory");
    Start();
    SetEnvironmentVariableA("TEMP", saved);
    SetEnvironmentVariableA("TMP", savedTmp);
    Load(TextPage);
    EXPECT_EQ("File I/O Error!", Copy());
    ExpectPanelBack();
}

TEST_F(CopyJob, StopWhilePrintingAbandonsTheDocument) {
    Start();
    Load(ColourPage);
    Mode(2);
    ASSERT_TRUE(PressJobKey("copy"));
    ASSERT_EQ("Printing...", WaitForLcd(2, "Printing...", 60000));
    PressKey("stop");
    EXPECT_EQ("User cancelled!", WaitForJobEnd(60000));
    // The abandoned document never reached the printer whole.
    for (const PrintedDocument &document : Documents(ReadFileText(ColorOutput))) {
        EXPECT_EQ(0, document.Pages);
    }
    ExpectPanelBack();
}

TEST_F(CopyJob, FiftyJobsLeaveHandlesAndMemoryWhereTheyStarted) {
    Start();
    // One of each kind first, so that what stays for the whole run is in place.
    Load(TextPage);
    ASSERT_EQ("Print Completed", Copy());
    Load(TextPage);
    Device("fault no-paper on");
    EXPECT_EQ("Scanner in use!", Copy());
    Device("fault no-paper off");
    DWORD handlesBefore, handlesAfter;
    SIZE_T memoryBefore, memoryAfter;
    ProcessUsage(Keypad, &handlesBefore, &memoryBefore);
    int completed = 0;
    for (int job = 0; job < 50; job++) {
        if (Device("pages").substr(0, 1) == "0") {
            Load(TextPage);
        }
        // Every third job finds no paper and fails; its page stays for the next.
        bool failing = job % 3 == 2;
        Device(failing ? "fault no-paper on" : "fault no-paper off");
        completed += Copy() == "Print Completed";
    }
    Device("fault no-paper off");
    ProcessUsage(Keypad, &handlesAfter, &memoryAfter);
    printf("50 copy jobs (%d completed): handles %lu -> %lu, private memory %lu -> %lu KiB\n",
           completed, handlesBefore, handlesAfter, (unsigned long)(memoryBefore / 1024),
           (unsigned long)(memoryAfter / 1024));
    EXPECT_EQ(34, completed);
    EXPECT_LE(handlesAfter, handlesBefore + 2);
    EXPECT_LT(memoryAfter, memoryBefore + 1024 * 1024);
    EXPECT_GT(handlesBefore, 0u);
}

const char ConfigTitle[] = "Varnel: Copy Configuration";
const char KeypadTitle[] = "Varnel Keypad Program";

// Sets a printer of the prefix to work offline while it lives.
class WorkingOffline {
  public:
    explicit WorkingOffline(const char *name) : Name(name) { Applied = Set(true); }
    ~WorkingOffline() { Set(false); }
    bool Applied;

  private:
    bool Set(bool offline) {
        PRINTER_DEFAULTSA access = {NULL, NULL, PRINTER_ALL_ACCESS};
        HANDLE printer;
        if (!OpenPrinterA((LPSTR)Name, &printer, &access)) {
            return false;
        }
        DWORD needed = 0;
        GetPrinterA(printer, 2, NULL, 0, &needed);
        std::vector<BYTE> buffer(needed + 1);
        bool done = needed && GetPrinterA(printer, 2, buffer.data(), needed, &needed);
        if (done) {
            PRINTER_INFO_2A *info = (PRINTER_INFO_2A *)buffer.data();
            info->Attributes = offline ? info->Attributes | PRINTER_ATTRIBUTE_WORK_OFFLINE
                                       : info->Attributes & ~PRINTER_ATTRIBUTE_WORK_OFFLINE;
            info->pSecurityDescriptor = NULL;
            done = SetPrinterA(printer, 2, buffer.data(), 0) != 0;
        }
        ClosePrinter(printer);
        return done;
    }
    const char *Name;
};

// The copy configuration dialog of the running program, opened from its menu.
class CopyConfig : public CopyJob {
  protected:
    void Open() { OpenDialog(1005, ConfigTitle); }
    std::string Text(int id) { return ControlText(Dialog, id); }
    // Picks a printer in the list as a user would, so that the dialog hears of it.
    void Choose(const char *printer) {
        HWND list = Item(704);
        LRESULT count = SendMessageA(list, CB_GETCOUNT, 0, 0);
        for (LRESULT i = 0; i < count; i++) {
            // Asked across processes, which Wine answers in UTF-16.
            WCHAR wide[2 * MAX_PATH] = L"";
            char name[2 * MAX_PATH] = "";
            if (SendMessageW(list, CB_GETLBTEXTLEN, i, 0) < 2 * MAX_PATH) {
                SendMessageW(list, CB_GETLBTEXT, i, (LPARAM)wide);
            }
            WideCharToMultiByte(CP_ACP, 0, wide, -1, name, sizeof name, NULL, NULL);
            if (printer == std::string(name)) {
                SendMessageA(list, CB_SETCURSEL, i, 0);
                SendMessageA(Dialog, WM_COMMAND, MAKEWPARAM(704, CBN_SELCHANGE), (LPARAM)list);
                return;
            }
        }
        ADD_FAILURE() << printer << " is not listed";
    }
    static std::string PortOf(const char *printer) {
        std::string description = Description(printer);
        return description.substr(description.rfind(", ") + 2);
    }
    std::string Stored(const char *key) { return IniValue(SettingsFile, "Varnel COPY", key); }
};

// A stored printer that is gone shows the default; Cancel writes nothing, and
// OK with no printer selected keeps the stored one, once SYS.INI takes it: a
// failed write is told and keeps the dialog. F1 on a control opens its topic.
TEST_F(CopyConfig, AGonePrinterShowsTheDefaultAndCancelWritesNothing) {
    UseSettings("Printer=Gone Printer, wineps.drv, LPT1:\r\nAlwaysDefault=0\r\nFitInPage=0\r\n");
    Start();
    ShowWindow(Keypad.Window, SW_RESTORE);
    Open();
    std::string stored = ReadFileText(SettingsFile);
    EXPECT_EQ(ColorPrinter, Text(703));
    EXPECT_EQ(ColorPrinter, Text(704));
    EXPECT_TRUE(Checked(702));
    EXPECT_TRUE(Enabled(704));
    EXPECT_FALSE(Checked(709));
    EXPECT_EQ(PortOf(ColorPrinter), Text(705));
    EXPECT_EQ("Yes", Text(706));
    EXPECT_EQ("300x300 dpi", Text(707));
    EXPECT_EQ("8.00x10.50  inch", Text(708));
    RECT main, dialog;
    GetWindowRect(Keypad.Window, &main);
    GetWindowRect(Dialog, &dialog);
    EXPECT_NEAR(main.left + main.right, dialog.left + dialog.right, 2) << "centred across";
    EXPECT_NEAR(main.top + main.bottom, dialog.top + dialog.bottom, 2) << "centred down";
    for (int id : {702, 704, 706, 709}) {
        AskContextHelp(Dialog, id);
    }
    EXPECT_EQ((std::vector<DWORD>{2, 2, 22, 23}), Help.Contexts()) << "the topics of F1";
    Choose(GrayPrinter);
    EXPECT_EQ("No", Text(706));
    EXPECT_EQ(PortOf(GrayPrinter), Text(705));
    Click(701);
    Click(709);
    CloseDialog(IDCANCEL);
    EXPECT_EQ(stored, ReadFileText(SettingsFile));

    Open();
    EXPECT_TRUE(Checked(702)) << "the settings in use after a Cancel";
    SendMessageA(Item(704), CB_SETCURSEL, (WPARAM)-1, 0);
    Click(709);
    EXPECT_EQ("The copy settings could not be written to SYS.INI.",
              PressWhileUnwritable(Dialog, IDOK, SettingsFile));
    EXPECT_TRUE(IsWindowVisible(Dialog));
    CloseDialog(IDOK);
    EXPECT_EQ("1", Stored("FitInPage")) << "OK wrote";
    EXPECT_EQ("Gone Printer, wineps.drv, LPT1:", Stored("Printer"));
    EXPECT_EQ("0", Stored("AlwaysDefault"));
}

// The default printer is shown and used, while OK keeps the listed printer
// for when the choice is turned back; centimetres on Letter paper.
TEST_F(CopyConfig, AlwaysDefaultShowsTheDefaultAndOkStoresTheListedPrinter) {
    UsePrinter(GrayPrinter, 1, "Unit=1\r\n");
    Start();
    // Centimetres start the panel on A4; Letter is one press on.
    PressKey("paper");
    ASSERT_TRUE(WaitUntil([] { return LcdStatus().substr(0, 2) == "LT"; })) << LcdStatus();
    Open();
    EXPECT_EQ(GrayPrinter, Text(704));
    EXPECT_EQ("No", Text(706));
    EXPECT_EQ("20.33x26.68  cm", Text(708));
    Click(701);
    EXPECT_TRUE(Checked(701));
    EXPECT_FALSE(Checked(702));
    EXPECT_FALSE(Enabled(704));
    EXPECT_EQ("Yes", Text(706));
    EXPECT_EQ(PortOf(ColorPrinter), Text(705));
    CloseDialog(IDOK);
    EXPECT_EQ(Description(GrayPrinter), Stored("Printer"));
    EXPECT_EQ("1", Stored("AlwaysDefault"));
    EXPECT_EQ("1", Stored("FitInPage"));
    Load(TextPage);
    ASSERT_EQ("Print Completed", Copy());
    EXPECT_EQ("1 ", CopiesOf(Documents(ReadFileText(ColorOutput))));
    EXPECT_TRUE(ReadFileText(GrayOutput).empty());
}

// Its name, cut in the box, reads whole in the list when it drops down.
TEST_F(CopyConfig, ALongNamedPrinterChosenAndStoredIsTheOneACopyPrintsOn) {
    UsePrinter(ColorPrinter, 1);
    Start();
    Open();
    RECT box;
    GetWindowRect(Item(704), &box);
    EXPECT_GT(SendMessageA(Item(704), CB_GETDROPPEDWIDTH, 0, 0), box.right - box.left);
    Choose(LongPrinter);
    EXPECT_EQ("No", Text(706));
    CloseDialog(IDOK);
    EXPECT_GT(Description(LongPrinter).size(), 80u);
    EXPECT_EQ(Description(LongPrinter), Stored("Printer"));
    Load(TextPage);
    ASSERT_EQ("Print Completed", Copy());
    EXPECT_EQ("1 ", CopiesOf(Documents(ReadFileText(LongOutput))));
    EXPECT_TRUE(ReadFileText(ColorOutput).empty());
    // The next run finds it again.
    ASSERT_TRUE(CloseProgram(&Keypad));
    Start();
    Open();
    EXPECT_EQ(LongPrinter, Text(704));
    CloseDialog(IDCANCEL);
}

TEST_F(CopyConfig, APrinterThatCannotBeQueriedTurnsCopyingOff) {
    WorkingOffline offline(OfflinePrinter);
    ASSERT_TRUE(offline.Applied);
    UsePrinter(OfflinePrinter, 1);
    Start();
    std::string text;
    DialogAnswer box(KeypadTitle, ReadAndPressOk, &text, DialogAnswer::AnyProcess);
    PostMessageA(Keypad.Window, WM_COMMAND, 1005, 0);
    ASSERT_TRUE(box.Wait());
    EXPECT_EQ("Failed to initiate the print driver,\nCopy function will be disabled!", text);
    EXPECT_TRUE(WaitUntil([] { return !FindWindowA("#32770", ConfigTitle); }));
    Load(TextPage);
    ASSERT_TRUE(SettlePanel());
    PressKey("copy");
    EXPECT_EQ("Copy Disabled!", WaitForLcd(2, "Copy Disabled!"));
    EXPECT_EQ(0, ExitProgram(&Keypad));
    EXPECT_EQ("0", IniValue(SettingsFile, "Varnel", "CopyService"));
}

// Wine keeps printer handles out of the process's handle table: the dialog's
// own context is watched in process by the CopyDialog tests.
TEST_F(CopyConfig, TenSwitchesLeaveHandlesAndGdiObjectsWhereTheyWere) {
    UsePrinter(GrayPrinter, 1);
    Start();
    Open();
    auto switches = [&] {
        Click(701);
        Click(702);
        Choose(ColorPrinter);
        Choose(GrayPrinter);
    };
    switches();
    DWORD handlesBefore, handlesAfter;
    SIZE_T memoryBefore, memoryAfter;
    ProcessUsage(Keypad, &handlesBefore, &memoryBefore);
    DWORD gdiBefore = GetGuiResources(Keypad.Process.hProcess, GR_GDIOBJECTS);
    for (int i = 0; i < 10; i++) {
        switches();
    }
    ProcessUsage(Keypad, &handlesAfter, &memoryAfter);
    DWORD gdiAfter = GetGuiResources(Keypad.Process.hProcess, GR_GDIOBJECTS);
    EXPECT_EQ(GrayPrinter, Text(704));
    EXPECT_LE(handlesAfter, handlesBefore);
    EXPECT_LE(gdiAfter, gdiBefore);
    EXPECT_GT(handlesBefore, 0u);
    CloseDialog(IDCANCEL);
}

TEST_F(CopyConfig, WithoutThePrinterLibraryCtrlCSaysSo) {
    std::string library = ProductFile("DLL32\\Dorlan.DLL");
    std::string away = library + ".away";
    ASSERT_TRUE(MoveFileA(library.c_str(), away.c_str()));
    Start();
    MoveFileA(away.c_str(), library.c_str());
    std::string text;
    DialogAnswer box(KeypadTitle, ReadAndPressOk, &text, DialogAnswer::AnyProcess);
    PostMessageA(Keypad.Window, WM_COMMAND, 1005, 0);
    ASSERT_TRUE(box.Wait());
    EXPECT_EQ("Cannot completely initiate COPY resource,\nCopy function will be disabled!", text);
    EXPECT_EQ((HWND)NULL, FindWindowA("#32770", ConfigTitle));
    EXPECT_EQ(0, ExitProgram(&Keypad));
}

} // namespace
