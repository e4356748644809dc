// The virtual scanner end to end: VNLSCN32.DLL loaded from the product's
// library directory and driven through its entry (ordinal 2), the device
// program it starts, and the control channel.
#include "device_client.h"
#include "abi/driver_abi.h"
#include "scanner_pages.h"
#include <gtest/gtest.h>
#include <string.h>

namespace {

const char DriverPath[] = "C:\\Varnel\\DLL32\\VNLSCN32.DLL";
const char ConfigPath[] = "C:\\Varnel\\DLL32\\VNLSCAN.INI";
const char CtlPath[] = "C:\\Varnel\\DLL32\\vnlctl.exe";

HMODULE Library;       // the driver library under test
DriverEntryProc Entry; // its ordinal-2 entry
HWND Sink;             // receives the panel messages the device posts

struct Result {
    WORD Status;
    DWORD Value;
};

Result Request(WORD command, const void *buffer = nullptr, DWORD value = 0) {
    DriverRequest request = {};
    request.Command = command;
    request.Buffer = (ULONG_PTR)buffer;
    request.Value = value;
    request.LastStatus = 0xBEEF;
    WORD returned = Entry(&request);
    EXPECT_EQ(returned, request.Status);
    EXPECT_EQ(request.LastStatus, 0xBEEF) << "the driver never touches LastStatus";
    return {request.Status, request.Value};
}

WORD Call(WORD command, const void *buffer = nullptr, DWORD value = 0) {
    return Request(command, buffer, value).Status;
}

// Sends a control command that must succeed; returns the reply.
std::string Ask(const std::string &command) {
    static char reply[256 * 1024];
    EXPECT_EQ(DeviceCommand(command.c_str(), reply, sizeof(reply)), DeviceReplyOk)
        << command << ": " << reply;
    return reply;
}

int Pages() {
    return atoi(Ask("pages").c_str() + 3);
}

void WaitUntilDeviceGone() {
    for (int i = 0; i < 300 && DeviceIsRunning(); i++)
        Sleep(50);
    ASSERT_FALSE(DeviceIsRunning());
}

void QuitDevice() {
    Ask("quit");
    WaitUntilDeviceGone();
}

int RunCtl(const char *arguments) {
    char line[512];
    snprintf(line, sizeof(line), "\"%s\" %s", CtlPath, arguments);
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(NULL, line, NULL, NULL, FALSE, CREATE_NO_WINDOW, NULL, NULL, &startup,
                        &process))
        return -1;
    WaitForSingleObject(process.hProcess, 30000);
    DWORD code = 99;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return (int)code;
}

// Panel messages posted to the sink: waits until `wanted` arrived or a few seconds passed.
std::vector<MSG> Collect(size_t wanted) {
    std::vector<MSG> got;
    DWORD start = GetTickCount();
    MSG message;
    while (GetTickCount() - start < 5000) {
        while (PeekMessageA(&message, Sink, WM_USER, WM_USER, PM_REMOVE))
            got.push_back(message);
        if (got.size() >= wanted)
            break;
        MsgWaitForMultipleObjects(0, NULL, FALSE, 50, QS_POSTMESSAGE);
    }
    return got;
}

// The device posts before it replies, so after any round trip nothing more is on its way.
void ExpectNoMessage() {
    Ask("ping");
    MSG message;
    EXPECT_FALSE(PeekMessageA(&message, Sink, WM_USER, WM_USER, PM_REMOVE))
        << "unexpected wParam " << message.wParam;
}

KeyNotification NotifySink(WORD value) {
    return {(ULONG_PTR)Sink, WM_USER, value};
}

// Replaces VNLSCAN.INI beside the driver for one test and puts the old one back.
struct DeviceConfig {
    std::string Saved;
    bool Existed;
    explicit DeviceConfig(const std::string &text) {
        HANDLE file = CreateFileA(ConfigPath, GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL);
        Existed = file != INVALID_HANDLE_VALUE;
        if (Existed) {
            char buffer[4096];
            DWORD got = 0;
            ReadFile(file, buffer, sizeof(buffer), &got, NULL);
            Saved.assign(buffer, got);
            CloseHandle(file);
        }
        WriteBytes(ConfigPath, text);
    }
    ~DeviceConfig() {
        if (Existed)
            WriteBytes(ConfigPath, Saved);
        else
            DeleteFileA(ConfigPath);
    }
};

// Grey page whose line y has the level y * 5 (on a 300 dpi page, read at 300 dpi).
Rgb LevelPerLine(LONG, LONG y) {
    BYTE v = (BYTE)(y * 5);
    return Rgb{v, v, v};
}

ScanParameterRecord GreyWindow(WORD width, WORD height, WORD flags) {
    ScanParameterRecord p = {};
    p.Width = width, p.Height = height;
    p.ResolutionX = p.ResolutionY = 300;
    p.DataType = 2;
    p.ScanFlags = flags;
    return p;
}

// A scan read made on a thread of its own.
struct Reader {
    DriverRequest Block;
    BYTE Lines[64 * 40];
    volatile LONG Done;
};

DWORD WINAPI ReadOnThread(LPVOID parameter) {
    Reader *reader = (Reader *)parameter;
    Entry(&reader->Block);
    reader->Done = 1;
    return 0;
}

class ScannerDevice : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        Library = LoadLibraryA(DriverPath);
        ASSERT_NE(Library, nullptr);
        Entry = (DriverEntryProc)(void *)GetProcAddress(Library, MAKEINTRESOURCEA(2));
        ASSERT_NE(Entry, nullptr);
        Sink =
            CreateWindowA("STATIC", "scanner test sink", 0, 0, 0, 10, 10, NULL, NULL, NULL, NULL);
        ASSERT_NE(Sink, nullptr);
    }
    static void TearDownTestSuite() {
        if (DeviceIsRunning())
            QuitDevice(); // the next run starts a fresh device
        DestroyWindow(Sink);
        FreeLibrary(Library);
    }
    void SetUp() override {
        ASSERT_NE(Entry, nullptr);
        DeviceInfoRecord info;
        ASSERT_EQ(Call(DrvBind, &info), 0);
        Ask("fault clear");
        Ask("clear");
        Call(DrvClose);
        Call(DrvJobNotification, nullptr, 0);
        for (DWORD key = 0; key < PanelMessageKeyCount; key++)
            Call(DrvRegisterKey, nullptr, key);
        Collect(0);
        Ask("log clear");
        PagePath = TempPath("ScannerTests_device.bmp");
    }
    void TearDown() override {
        Call(DrvPrepareScan); // the driver lets go of the page file
        DeleteFileA(PagePath.c_str());
    }

    void LoadLevelPage(LONG width, LONG height) {
        WriteColourPage(PagePath, width, height, 300, LevelPerLine);
        Ask("load " + PagePath);
    }

    std::string PagePath;
};

TEST_F(ScannerDevice, BindStartsTheDeviceAndDescribesIt) {
    QuitDevice();
    EXPECT_EQ(DeviceCommand("ping", nullptr, 0), DeviceNotRunning);
    DeviceInfoRecord info;
    memset(&info, 0xAA, sizeof(info));
    ASSERT_EQ(Call(DrvBind, &info), 0);
    EXPECT_TRUE(DeviceIsRunning());
    EXPECT_EQ(info.Capabilities & (CapAnswersReady | CapFrontPanel),
              CapAnswersReady | CapFrontPanel);
    EXPECT_EQ(info.IoPort, 0x278);
    EXPECT_EQ(RunCtl("ping"), 0);
    EXPECT_EQ(RunCtl("no-such-command"), 1);
}

TEST_F(ScannerDevice, AutoStartOffWithoutADeviceFailsTheBind) {
    {
        DeviceConfig config("[Device]\r\nAutoStart=0\r\n");
        QuitDevice();
        DeviceInfoRecord info;
        EXPECT_NE(Call(DrvBind, &info), 0);
        EXPECT_FALSE(DeviceIsRunning());
        EXPECT_EQ(RunCtl("ping"), 2);
    }
    DeviceInfoRecord info;
    EXPECT_EQ(Call(DrvBind, &info), 0);
    EXPECT_TRUE(DeviceIsRunning());
}

TEST_F(ScannerDevice, TestIoPortAnswersOnlyAtTheConfiguredPort) {
    EXPECT_EQ(Call(DrvTestIoPort, nullptr, 0x278), 0);
    EXPECT_NE(Call(DrvTestIoPort, nullptr, 0x378), 0);
    const char *configs[] = {"[Device]\r\nIoPort=0x3BC\r\n", "[Device]\r\nIoPort=956\r\n"};
    for (const char *text : configs) {
        DeviceConfig config(text);
        DeviceInfoRecord info;
        ASSERT_EQ(Call(DrvBind, &info), 0);
        EXPECT_EQ(info.IoPort, 0x3BC) << text;
        EXPECT_EQ(Call(DrvTestIoPort, nullptr, 0x3BC), 0) << text;
        EXPECT_EQ(Call(DrvTestIoPort, nullptr, 0x7F0003BC), 0) << "only the low 16 bits count";
        EXPECT_NE(Call(DrvTestIoPort, nullptr, 0x278), 0) << text;
    }
    DeviceInfoRecord info;
    ASSERT_EQ(Call(DrvBind, &info), 0);
    EXPECT_EQ(Call(DrvTestIoPort, nullptr, 0x278), 0);
}

// The control channel moves the card to another port (the binding's
// DeviceInfo follows) and back to the configured one, and holds the device
// as another program would.
TEST_F(ScannerDevice, TheControlChannelSetsThePortAndHoldsTheDevice) {
    EXPECT_EQ("OK\n0\n", Ask("port"));
    Ask("port 330");
    EXPECT_EQ(Call(DrvTestIoPort, nullptr, 0x330), 0);
    EXPECT_NE(Call(DrvTestIoPort, nullptr, 0x278), 0);
    DeviceInfoRecord info;
    ASSERT_EQ(Call(DrvBind, &info), 0);
    EXPECT_EQ(info.IoPort, 0x330);
    EXPECT_EQ(DeviceCommand("port 10000", nullptr, 0), DeviceReplyError);
    Ask("port config");
    EXPECT_EQ(Call(DrvTestIoPort, nullptr, 0x278), 0);
    Ask("hold on");
    EXPECT_NE(Call(DrvOpen), 0) << "held by the device program";
    Ask("hold off");
    EXPECT_EQ(Call(DrvOpen), 0);
    EXPECT_EQ(DeviceCommand("hold on", nullptr, 0), DeviceReplyError) << "we hold it now";
    Call(DrvClose);
}

TEST_F(ScannerDevice, EveryKeyNameReachesItsRegisteredWindow) {
    // The names of the control channel, by key index; the spare keys have none.
    const char *names[] = {"fax",     "copy",        nullptr,   "mode",    "resolution",
                           "stop",    "destination", nullptr,   "paper",   "speed1",
                           "speed2",  "speed3",      "speed4",  "speed5",  "speed6",
                           "speed7",  "speed8",      "speed9",  "speed10", "speed11",
                           "speed12", "speed13",     "speed14", "up",      "down"};
    for (WORD key = 0; key < PanelMessageKeyCount; key++) {
        KeyNotification note = NotifySink((WORD)(100 + key));
        Call(DrvRegisterKey, &note, key | 0xFF00);
    }
    for (int key = 0; key < 25; key++) {
        std::string press = "press " + (names[key] ? std::string(names[key]) : std::to_string(key));
        Ask(press);
        std::vector<MSG> got = Collect(1);
        ASSERT_EQ(got.size(), 1u) << press;
        EXPECT_EQ(got[0].wParam, (WPARAM)(100 + key)) << press;
        EXPECT_EQ(got[0].lParam, 0) << press;
    }
    ExpectNoMessage();
}

TEST_F(ScannerDevice, OnlyRegisteredKeysArePostedAndDigitsCarryTheirCharacter) {
    for (WORD key : {1, 3, 25}) {
        KeyNotification note = NotifySink(key);
        Call(DrvRegisterKey, &note, key | 0xFF00);
    }
    EXPECT_NE(Ask("registered").find("keys=1 3 25\njob=off"), std::string::npos);
    Ask("press copy");
    Ask("press resolution");
    Ask("digits 407");
    std::vector<MSG> got = Collect(4);
    ASSERT_EQ(got.size(), 4u);
    EXPECT_EQ(got[0].wParam, 1u);
    const char digits[] = "407";
    for (int i = 0; i < 3; i++) {
        EXPECT_EQ(got[1 + i].wParam, 25u);
        EXPECT_EQ(got[1 + i].lParam & 0xFF, digits[i]);
    }
    Call(DrvRegisterKey, nullptr, 3);
    Ask("press mode");
    ExpectNoMessage();
    char reply[256];
    EXPECT_EQ(DeviceCommand("press 26", reply, sizeof(reply)), DeviceReplyError);
    EXPECT_EQ(DeviceCommand("press shutter", reply, sizeof(reply)), DeviceReplyError);
    EXPECT_EQ(strncmp(reply, "ERR ", 4), 0);
}

TEST_F(ScannerDevice, LcdTextIsShownCutAndCleared) {
    EXPECT_EQ(Call(DrvShowText, "Copy 300 Text", 0), 0);
    EXPECT_EQ(Call(DrvShowText, "A message that is too long", 2), 0);
    EXPECT_NE(Ask("lcd").find("status=Copy 300 Text\nmessage=A message that i\n"),
              std::string::npos);
    EXPECT_EQ(Call(DrvShowText, "", 2), 0);
    EXPECT_NE(Ask("lcd").find("message=\n"), std::string::npos);
    EXPECT_NE(Call(DrvShowText, "line one", 1), 0);
    Ask("show 0 Bench");
    EXPECT_NE(Ask("lcd").find("status=Bench\n"), std::string::npos);
}

TEST_F(ScannerDevice, StopDuringASlowReadAbortsItAndOtherRequestsDoNotWait) {
    LoadLevelPage(40, 50);
    ASSERT_EQ(Call(DrvOpen), 0);
    KeyNotification job = NotifySink(PanelJobEvent), stop = NotifySink(5);
    Call(DrvJobNotification, &job, 255);
    Call(DrvRegisterKey, &stop, 5 | 0xFF00);
    EXPECT_NE(Ask("registered").find("job=on"), std::string::npos);
    ScanParameterRecord p = GreyWindow(40, 50, 10);
    ASSERT_EQ(Call(DrvSetScanParameters, &p), 0);
    Ask("fault slow 60000");
    Reader reader = {};
    reader.Block.Command = DrvReadScanData;
    reader.Block.Buffer = (ULONG_PTR)reader.Lines;
    reader.Block.Value = sizeof(reader.Lines);
    HANDLE thread = CreateThread(NULL, 0, ReadOnThread, &reader, 0, NULL);
    ASSERT_NE(thread, nullptr);
    for (int i = 0; i < 500 && Ask("counters").find("slow=1\n") == std::string::npos; i++)
        Sleep(10);
    ASSERT_NE(Ask("counters").find("slow=1\n"), std::string::npos) << "the read is not held";
    EXPECT_EQ(Call(DrvShowText, "Still here", 2), 0);
    EXPECT_EQ(Call(DrvQueryReady), 0);
    EXPECT_FALSE(reader.Done) << "the read was not slow, or the text waited for it";
    EXPECT_NE(Ask("lcd").find("message=Still here"), std::string::npos);
    Ask("press stop");
    EXPECT_EQ(WaitForSingleObject(thread, 15000), WAIT_OBJECT_0) << "Stop did not end the read";
    CloseHandle(thread);
    EXPECT_EQ(reader.Block.Status, ReadFailed);
    EXPECT_EQ(reader.Block.Value, 0u);
    std::vector<MSG> got = Collect(2);
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].wParam, 5u);
    EXPECT_EQ(got[1].wParam, (WPARAM)PanelJobEvent);
    EXPECT_EQ(got[1].lParam & 0xFF, PanelEventAbort);
    Call(DrvJobNotification, nullptr, 0);
    Call(DrvReleasePage);
    Call(DrvClose);
    EXPECT_EQ(Pages(), 0);
}

TEST_F(ScannerDevice, StopBeforeAReadAbortsTheNextReadOnlyDuringAJob) {
    LoadLevelPage(40, 50);
    ASSERT_EQ(Call(DrvOpen), 0);
    ScanParameterRecord p = GreyWindow(40, 50, 10);
    ASSERT_EQ(Call(DrvSetScanParameters, &p), 0);
    BYTE lines[10 * 40];
    Ask("press stop"); // no job notification: only a key press
    EXPECT_EQ(Request(DrvReadScanData, lines, sizeof(lines)).Status, ReadMore);
    KeyNotification job = NotifySink(PanelJobEvent);
    Call(DrvJobNotification, &job, 255);
    Ask("press stop");
    Result r = Request(DrvReadScanData, lines, sizeof(lines));
    EXPECT_EQ(r.Status, ReadFailed);
    EXPECT_EQ(r.Value, 0u);
    std::vector<MSG> got = Collect(1);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].wParam, (WPARAM)PanelJobEvent);
    EXPECT_EQ(got[0].lParam & 0xFF, PanelEventAbort);
    Call(DrvJobNotification, nullptr, 0);
}

TEST_F(ScannerDevice, PagesAreReadInTopDownLinesOrBottomUpBandsAndThenLeave) {
    LoadLevelPage(40, 50);
    LoadLevelPage(40, 50);
    ASSERT_EQ(Pages(), 2);
    ASSERT_EQ(Call(DrvOpen), 0);
    const DWORD stride = 40, capacity = 32 * stride;
    for (WORD flags : {10, 42}) {
        ScanParameterRecord p = GreyWindow(40, 50, flags);
        ASSERT_EQ(Call(DrvSetScanParameters, &p), 0);
        ASSERT_EQ(p.BytesPerLine, stride);
        ASSERT_EQ(p.Lines, 50u);
        DWORD first = 0;
        const struct {
            DWORD Lines;
            WORD Status;
        } reads[] = {{32, ReadMore}, {18, ReadEndOfPage}, {0, ReadEndOfPage}};
        for (const auto &expected : reads) {
            std::vector<BYTE> band(capacity, 0xCD);
            Result r = Request(DrvReadScanData, band.data(), capacity);
            ASSERT_EQ(r.Value, expected.Lines) << flags;
            ASSERT_EQ(r.Status, expected.Status) << flags;
            for (DWORD i = 0; i < r.Value; i++) {
                DWORD row = flags & ScanFlagDibBands ? 31 - i : i;
                EXPECT_EQ(band[row * stride], (first + i) * 5) << flags << " line " << first + i;
            }
            first += r.Value;
        }
        EXPECT_EQ(Pages(), flags == 10 ? 1 : 0) << "a finished page leaves the feeder";
    }
    EXPECT_NE(Call(DrvQueryPaper), 0);
    Call(DrvClose);
}

TEST_F(ScannerDevice, ScanParametersAreCheckedAgainstTheLoadedPage) {
    ScanParameterRecord p = GreyWindow(300, 300, 10);
    p.Lines = 77;
    // The sizes follow from the window even without a sheet; there is just nothing to read.
    EXPECT_NE(Call(DrvSetScanParameters, &p), 0) << "no page loaded";
    EXPECT_EQ(p.Lines, 300u);
    LoadLevelPage(20, 20);
    p.ResolutionX = 1300;
    EXPECT_NE(Call(DrvSetScanParameters, &p), 0);
    p.ResolutionX = 150;
    ASSERT_EQ(Call(DrvSetScanParameters, &p), 0);
    EXPECT_EQ(p.PixelsPerLine, 150u);
    EXPECT_EQ(p.BytesPerLine, 152u);
    EXPECT_EQ(p.Lines, 300u);
    EXPECT_EQ(p.TableRequest, 4);
    EXPECT_EQ(Call(DrvSendTable, DriverFixedTable, 4), 0);
    BYTE altered[64];
    memcpy(altered, DriverFixedTable, sizeof(altered));
    altered[63] ^= 1;
    EXPECT_NE(Call(DrvSendTable, altered, 4), 0);
}

TEST_F(ScannerDevice, ReadErrorAndAbortFaultsCutThePageAtTheirLine) {
    const struct {
        const char *Fault;
        WORD Status;
    } faults[] = {{"fault read-error 20", 5}, {"fault abort 20", ReadFailed}};
    for (const auto &fault : faults) {
        LoadLevelPage(40, 50);
        ASSERT_EQ(Call(DrvOpen), 0);
        ScanParameterRecord p = GreyWindow(40, 50, 10);
        ASSERT_EQ(Call(DrvSetScanParameters, &p), 0);
        Ask(fault.Fault);
        BYTE lines[32 * 40];
        Result r = Request(DrvReadScanData, lines, sizeof(lines));
        EXPECT_EQ(r.Status, ReadMore) << fault.Fault;
        ASSERT_EQ(r.Value, 20u) << fault.Fault;
        EXPECT_EQ(lines[19 * 40], 19 * 5);
        r = Request(DrvReadScanData, lines, sizeof(lines));
        EXPECT_EQ(r.Status, fault.Status) << fault.Fault;
        EXPECT_EQ(r.Value, 0u);
        EXPECT_EQ(Pages(), 1) << "an unfinished page stays in the feeder";
        EXPECT_EQ(Call(DrvQueryPaper), 0);
        Call(DrvReleasePage);
        EXPECT_EQ(Pages(), 0);
        Call(DrvClose);
    }
}

TEST_F(ScannerDevice, PaperAndFailureFaults) {
    EXPECT_NE(Call(DrvQueryPaper), 0) << "empty feeder";
    LoadLevelPage(10, 10);
    // Requests 5 and 6 answer 0 for a sheet ready to scan; 9 answers non-zero for a failure.
    const struct {
        const char *Fault;
        bool Ready, Paper, Failure;
    } states[] = {{"fault clear", true, true, false},
                  {"fault no-paper on", true, false, false},
                  {"fault no-paper off", true, true, false},
                  {"fault failure on", false, false, true},
                  {"fault clear", true, true, false}};
    for (const auto &state : states) {
        Ask(state.Fault);
        EXPECT_EQ(Call(DrvQueryReady) == 0, state.Ready) << state.Fault;
        EXPECT_EQ(Call(DrvQueryPaper) == 0, state.Paper) << state.Fault;
        EXPECT_EQ(Call(DrvQueryFailure) != 0, state.Failure) << state.Fault;
    }
    char reply[256];
    EXPECT_EQ(DeviceCommand("fault no-paper maybe", reply, sizeof(reply)), DeviceReplyError);
}

class ScannerHolder : public ScannerDevice {
  protected:
    // Starts scanner_holder (beside this test) and waits until it holds the device.
    HANDLE StartHolder(const char *mode) {
        char self[MAX_PATH], line[2 * MAX_PATH];
        GetModuleFileNameA(NULL, self, sizeof(self));
        strrchr(self, '\\')[1] = 0;
        snprintf(line, sizeof(line), "\"%sscanner_holder.exe\" %s %s", self, DriverPath, mode);
        STARTUPINFOA startup = {};
        startup.cb = sizeof(startup);
        PROCESS_INFORMATION process = {};
        EXPECT_TRUE(CreateProcessA(NULL, line, NULL, NULL, FALSE, CREATE_NO_WINDOW, NULL, NULL,
                                   &startup, &process));
        CloseHandle(process.hThread);
        HANDLE waits[2] = {Ready, process.hProcess};
        EXPECT_EQ(WaitForMultipleObjects(2, waits, FALSE, 20000), WAIT_OBJECT_0);
        return process.hProcess;
    }
    void SetUp() override {
        ScannerDevice::SetUp();
        Ready = CreateEventA(NULL, TRUE, FALSE, "ScannerTestsHolderReady");
        Release = CreateEventA(NULL, TRUE, FALSE, "ScannerTestsHolderRelease");
    }
    void TearDown() override {
        CloseHandle(Ready);
        CloseHandle(Release);
        ScannerDevice::TearDown();
    }
    HANDLE Ready, Release;
};

TEST_F(ScannerHolder, OpenIsRefusedWhileAnotherProcessHoldsTheDevice) {
    HANDLE holder = StartHolder("keep");
    EXPECT_NE(Call(DrvOpen), 0);
    Call(DrvClose); // not the holder: does not release it
    EXPECT_NE(Call(DrvOpen), 0);
    SetEvent(Release);
    EXPECT_EQ(WaitForSingleObject(holder, 20000), WAIT_OBJECT_0);
    CloseHandle(holder);
    EXPECT_EQ(Call(DrvOpen), 0);
    EXPECT_EQ(Call(DrvOpen), 0) << "the holder may open again";
    Ask("fault open-refused on");
    EXPECT_NE(Call(DrvOpen), 0);
    Ask("fault open-refused off");
    EXPECT_EQ(Call(DrvOpen), 0);
    Call(DrvClose);
}

TEST_F(ScannerHolder, AHolderThatEndedWithoutClosingNoLongerBlocks) {
    HANDLE holder = StartHolder("exit");
    EXPECT_EQ(WaitForSingleObject(holder, 20000), WAIT_OBJECT_0);
    CloseHandle(holder);
    EXPECT_EQ(Call(DrvOpen), 0);
    Call(DrvClose);
}

TEST_F(ScannerDevice, TheLogRecordsRequestsButOnlyCountsPolls) {
    int polls = atoi(strstr(Ask("counters").c_str(), "polls=") + 6);
    KeyNotification note = NotifySink(3);
    BYTE pollBuffer[16];
    Call(DrvQueryFailure);
    Call(DrvRegisterKey, &note, 3 | 0xFF00);
    Call(DrvPollPanel, pollBuffer);
    Call(DrvShowText, "Logged", 2);
    std::string log = Ask("log");
    unsigned long seq[3], tid[3], command[3], status[3], value[3];
    const char *at = log.c_str() + 3;
    for (int i = 0; i < 3; i++) {
        ASSERT_EQ(
            sscanf(at, "%lu %lu %lu %lu %lu", &seq[i], &tid[i], &command[i], &status[i], &value[i]),
            5)
            << log;
        at = strchr(at, '\n') + 1;
    }
    EXPECT_EQ(*at, 0) << "request 23 is not logged: " << log;
    EXPECT_EQ(command[0], 9u);
    EXPECT_EQ(command[1], 21u);
    EXPECT_EQ(value[1], 3u + (255u << 8));
    EXPECT_EQ(command[2], 24u);
    EXPECT_EQ(value[2], 2u);
    for (int i = 0; i < 3; i++) {
        EXPECT_EQ(tid[i], GetCurrentThreadId());
        EXPECT_EQ(status[i], 0u);
        if (i) {
            EXPECT_EQ(seq[i], seq[i - 1] + 1);
        }
    }
    EXPECT_EQ(atoi(strstr(Ask("counters").c_str(), "polls=") + 6), polls + 1);
}

TEST_F(ScannerDevice, TheLogKeepsTheLast4096RequestsOldestFirst) {
    for (int i = 0; i < 4100; i++)
        Call(DrvErrorNotice);
    std::string log = Ask("log");
    int lines = 0;
    unsigned long first = 0, last = 0, seq;
    for (const char *at = log.c_str() + 3; *at; at = strchr(at, '\n') + 1, lines++) {
        ASSERT_EQ(sscanf(at, "%lu", &seq), 1);
        if (lines == 0)
            first = seq;
        else
            EXPECT_EQ(seq, last + 1);
        last = seq;
    }
    EXPECT_EQ(lines, 4096);
    EXPECT_EQ(last - first, 4095u);
}

TEST_F(ScannerDevice, FoldersLoadTheirPageImagesInNameOrder) {
    std::string folder = TempPath("ScannerTests_feed");
    CreateDirectoryA(folder.c_str(), NULL);
    CreateDirectoryA((folder + "\\d.bmp").c_str(), NULL);
    // Three pages of one grey level each, in three formats; one file that is no page.
    WriteColourPage(folder + "\\a.bmp", 8, 8, 300, [](LONG, LONG) { return Rgb{10, 10, 10}; });
    WriteBytes(folder + "\\C.ppm", "P6 1 1 255\n" + std::string(3, '\x1E'));
    WriteBytes(folder + "\\b.pgm", "P5 1 1 255\n\x14");
    WriteBytes(folder + "\\notes.txt", "not a page");
    Ask("load " + folder);
    EXPECT_EQ(Pages(), 3);
    ASSERT_EQ(Call(DrvOpen), 0);
    for (BYTE level : {10, 20, 30}) {
        ScanParameterRecord p = GreyWindow(1, 1, 10);
        ASSERT_EQ(Call(DrvSetScanParameters, &p), 0);
        BYTE line[4];
        Result r = Request(DrvReadScanData, line, sizeof(line));
        EXPECT_EQ(r.Status, ReadEndOfPage);
        EXPECT_EQ(line[0], level);
    }
    Call(DrvClose);
    {
        DeviceConfig config("[Device]\r\nPageFolder=" + folder + "\r\n");
        QuitDevice();
        DeviceInfoRecord info;
        ASSERT_EQ(Call(DrvBind, &info), 0);
        EXPECT_EQ(Pages(), 3) << "the device loads its page folder at start";
    }
    for (const char *name : {"a.bmp", "b.pgm", "C.ppm", "notes.txt"})
        DeleteFileA((folder + "\\" + name).c_str());
    RemoveDirectoryA((folder + "\\d.bmp").c_str());
    RemoveDirectoryA(folder.c_str());
    char reply[256];
    EXPECT_EQ(DeviceCommand("load C:\\no\\such\\page.bmp", reply, sizeof(reply)), DeviceReplyError);
}

} // namespace
