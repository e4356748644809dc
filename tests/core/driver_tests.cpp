// The driver binding and its requests, driven against the scripted test
// driver: the test queues the driver's answers and checks the requests it was
// handed, in order, with their buffers, values and threads.
#include <gtest/gtest.h>
#include <string.h>
#include <vector>
#include "driver/driver.h"
#include "panel/panel_state.h"
#include "scripted_driver.h"
#include "test_support.h"

namespace {

const char ScriptedName[] = "scripted_test_driver.dll";

template <typename Proc> Proc Export(HMODULE module, const char *name) {
    return reinterpret_cast<Proc>(reinterpret_cast<void *>(GetProcAddress(module, name)));
}

// The scripted driver as the test holds it, loaded beside the test executable.
struct Script {
    HMODULE Module = nullptr;
    ScriptResetProc Reset = nullptr;
    ScriptAnswerProc Answer = nullptr;
    ScriptDefaultProc Default = nullptr;
    ScriptDeviceProc Device = nullptr;
    ScriptWaitProc WaitForCompany = nullptr;
    ScriptCountProc LogCount = nullptr;
    ScriptLogEntryProc LogEntry = nullptr;
    ScriptCountProc Overlaps = nullptr;
    ScriptCountProc MostInside = nullptr;

    bool Load() {
        char path[MAX_PATH];
        BesideTestExe(path, sizeof(path), ScriptedName);
        Module = LoadLibraryA(path);
        if (!Module)
            return false;
        Reset = Export<ScriptResetProc>(Module, "ScriptReset");
        Answer = Export<ScriptAnswerProc>(Module, "ScriptAnswer");
        Default = Export<ScriptDefaultProc>(Module, "ScriptDefault");
        Device = Export<ScriptDeviceProc>(Module, "ScriptDevice");
        WaitForCompany = Export<ScriptWaitProc>(Module, "ScriptWaitForCompany");
        LogCount = Export<ScriptCountProc>(Module, "ScriptLogCount");
        LogEntry = Export<ScriptLogEntryProc>(Module, "ScriptLogEntry");
        Overlaps = Export<ScriptCountProc>(Module, "ScriptOverlaps");
        MostInside = Export<ScriptCountProc>(Module, "ScriptMostInside");
        Reset();
        return true;
    }
    void Unload() {
        if (Module)
            FreeLibrary(Module);
        Module = nullptr;
    }
    std::vector<ScriptRecord> Log() const {
        std::vector<ScriptRecord> records(LogCount());
        for (DWORD i = 0; i < records.size(); ++i)
            LogEntry(i, &records[i]);
        return records;
    }
    std::vector<WORD> Commands() const {
        std::vector<WORD> commands;
        for (const ScriptRecord &record : Log())
            commands.push_back(record.Command);
        return commands;
    }
};

ULONG_PTR AddressOf(const void *p) {
    return (ULONG_PTR)p;
}

// Points VARNEL.INI's driver entry somewhere for one test and puts it back.
class DriverPathTest : public ::testing::Test {
  protected:
    IniKeyGuard DriverKey{"VARNEL.INI", "ScanDLL", "DLL32"};
    Script Driver;

    void UseDriverBesideExe(const char *name) const {
        char path[MAX_PATH];
        BesideTestExe(path, sizeof(path), name);
        DriverKey.Set(path);
    }
    void TearDown() override {
        UnbindDriver();
        Driver.Unload();
    }
};

using BindDriverTest = DriverPathTest;

void ExpectNothingBound() {
    EXPECT_EQ(nullptr, LibraryHandle);
    EXPECT_EQ(nullptr, DriverEntry);
    // An unbound driver refuses every request instead of calling nowhere.
    EXPECT_EQ(0, OpenDevice());
}

TEST_F(BindDriverTest, MissingIniEntryFails) {
    DriverKey.Remove();
    EXPECT_EQ(0, BindDriver());
    ExpectNothingBound();
}

TEST_F(BindDriverTest, MissingFileFails) {
    UseDriverBesideExe("no_such_driver.dll");
    EXPECT_EQ(0, BindDriver());
    ExpectNothingBound();
}

TEST_F(BindDriverTest, FileThatIsNoLibraryFails) {
    char temp[MAX_PATH], path[MAX_PATH];
    GetTempPathA(sizeof(temp), temp);
    snprintf(path, sizeof(path), "%skp_not_a_driver.dll", temp);
    ASSERT_TRUE(WriteTextFile(path, "MZ but not really a library"));
    DriverKey.Set(path);
    EXPECT_EQ(0, BindDriver());
    ExpectNothingBound();
    EXPECT_EQ(nullptr, GetModuleHandleA("kp_not_a_driver.dll"));
    DeleteFileA(path);
}

TEST_F(BindDriverTest, LibraryWithoutOrdinal2IsReleased) {
    UseDriverBesideExe("scripted_test_noentry.dll");
    EXPECT_EQ(0, BindDriver());
    ExpectNothingBound();
    EXPECT_EQ(nullptr, GetModuleHandleA("scripted_test_noentry.dll"));
}

TEST_F(BindDriverTest, RefusedBindRequestReleasesTheLibrary) {
    UseDriverBesideExe(ScriptedName);
    ASSERT_TRUE(Driver.Load());
    Driver.Answer(DrvBind, 3, 0, 0);
    EXPECT_EQ(0, BindDriver());
    std::vector<ScriptRecord> log = Driver.Log();
    ASSERT_EQ(1u, log.size());
    EXPECT_EQ(DrvBind, log[0].Command);
    EXPECT_EQ(AddressOf(&DeviceInfo), log[0].Buffer);
    ExpectNothingBound();
    // Once the test lets go of its own reference, nothing keeps the library.
    Driver.Unload();
    EXPECT_EQ(nullptr, GetModuleHandleA(ScriptedName));
}

TEST_F(BindDriverTest, AcceptedBindFillsDeviceInfo) {
    UseDriverBesideExe(ScriptedName);
    ASSERT_TRUE(Driver.Load());
    Driver.Device(CapFrontPanel | CapAnswersReady, 0);
    ASSERT_EQ(1, BindDriver());
    EXPECT_EQ(Driver.Module, LibraryHandle);
    EXPECT_EQ(CapFrontPanel | CapAnswersReady, DeviceInfo.Capabilities);
    std::vector<ScriptRecord> log = Driver.Log();
    ASSERT_EQ(1u, log.size());
    EXPECT_EQ(AddressOf(&DeviceInfo), log[0].Buffer);
    UnbindDriver();
    EXPECT_EQ(nullptr, LibraryHandle);
    Driver.Unload();
    EXPECT_EQ(nullptr, GetModuleHandleA(ScriptedName));
}

// A bound scripted driver with the device closed; the log starts empty.
class DriverTest : public DriverPathTest {
  protected:
    void SetUp() override {
        UseDriverBesideExe(ScriptedName);
        ASSERT_TRUE(Driver.Load());
        ASSERT_EQ(1, BindDriver());
        Driver.Reset();
        CancelRequested = 0;
    }
    void OpenScripted() {
        ASSERT_EQ(1, OpenDevice());
        Driver.Reset();
    }
};

TEST_F(DriverTest, OpenAndCloseDevice) {
    Driver.Answer(DrvOpen, 1, 0, 0);
    EXPECT_EQ(0, OpenDevice());
    EXPECT_EQ(0, DeviceOpen);
    CloseDevice(); // not open: no request
    EXPECT_EQ(1, OpenDevice());
    EXPECT_EQ(1, DeviceOpen);
    CloseDevice();
    EXPECT_EQ(0, DeviceOpen);
    CloseDevice();
    EXPECT_EQ((std::vector<WORD>{DrvOpen, DrvOpen, DrvClose}), Driver.Commands());
}

TEST_F(DriverTest, UnbindClosesAnOpenDevice) {
    OpenScripted();
    UnbindDriver();
    EXPECT_EQ((std::vector<WORD>{DrvClose}), Driver.Commands());
    EXPECT_EQ(0, DeviceOpen);
    EXPECT_EQ(nullptr, LibraryHandle);
}

TEST_F(DriverTest, ReadinessAsksRequest5OnlyWhenTheDeviceAnswersIt) {
    DeviceInfo.Capabilities = CapFrontPanel;
    Driver.Answer(DrvQueryPaper, 0, 0, 0);
    EXPECT_EQ(1, IsDeviceReady());
    Driver.Answer(DrvQueryPaper, 1, 0, 0);
    EXPECT_EQ(0, IsDeviceReady());
    EXPECT_EQ((std::vector<WORD>{DrvQueryPaper, DrvQueryPaper}), Driver.Commands());

    Driver.Reset();
    DeviceInfo.Capabilities = CapFrontPanel | CapAnswersReady;
    EXPECT_EQ(1, IsDeviceReady());
    Driver.Answer(DrvQueryReady, 1, 0, 0);
    Driver.Answer(DrvQueryPaper, 0, 0, 0);
    EXPECT_EQ(1, IsDeviceReady());
    Driver.Answer(DrvQueryReady, 1, 0, 0);
    Driver.Answer(DrvQueryPaper, 1, 0, 0);
    EXPECT_EQ(0, IsDeviceReady());
    EXPECT_EQ((std::vector<WORD>{DrvQueryReady, DrvQueryReady, DrvQueryPaper, DrvQueryReady,
                                 DrvQueryPaper}),
              Driver.Commands());
}

// The error text goes last, through the shared block, on the message line.
void ExpectErrorText(const Script &driver, const char *text) {
    std::vector<ScriptRecord> log = driver.Log();
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(2u, log.back().Value);
    EXPECT_STREQ(text, (const char *)log.back().Data);
    EXPECT_EQ(log.front().Block, log.back().Block);
}

TEST_F(DriverTest, ReportNotReadyNoPaper) {
    Driver.Answer(DrvQueryPaper, 1, 0, 0);
    EXPECT_EQ(10, ReportNotReady());
    EXPECT_EQ((std::vector<WORD>{DrvQueryPaper, DrvErrorNotice, DrvShowText}), Driver.Commands());
    ExpectErrorText(Driver, "Paper not ready!");
}

TEST_F(DriverTest, ReportNotReadyDeviceFailure) {
    Driver.Answer(DrvQueryFailure, 4, 0, 0);
    EXPECT_EQ(5, ReportNotReady());
    EXPECT_EQ((std::vector<WORD>{DrvQueryPaper, DrvQueryFailure, DrvErrorNotice, DrvShowText}),
              Driver.Commands());
    ExpectErrorText(Driver, "Action failed!");
}

TEST_F(DriverTest, ReportNotReadyShowsNothingWhenReady) {
    EXPECT_EQ(0, ReportNotReady());
    EXPECT_EQ((std::vector<WORD>{DrvQueryPaper, DrvQueryFailure}), Driver.Commands());
}

TEST_F(DriverTest, ScanParametersSendTheTableOnlyForExactly4) {
    const WORD answers[] = {0, 5, 0x0104, 4};
    for (WORD tableRequest : answers) {
        Driver.Reset();
        Driver.Device(CapFrontPanel, tableRequest);
        SetScanParameters();
        std::vector<ScriptRecord> log = Driver.Log();
        ASSERT_GE(log.size(), 2u);
        EXPECT_EQ(DrvPrepareScan, log[0].Command);
        EXPECT_EQ(DrvSetScanParameters, log[1].Command);
        EXPECT_EQ(AddressOf(&ScanParameters), log[1].Buffer);
        EXPECT_EQ(tableRequest, ScanParameters.TableRequest);
        if (tableRequest != 4) {
            EXPECT_EQ(2u, log.size()) << "TableRequest " << tableRequest;
            continue;
        }
        ASSERT_EQ(3u, log.size());
        EXPECT_EQ(DrvSendTable, log[2].Command);
        EXPECT_EQ(4u, log[2].Value);
        EXPECT_EQ(0, memcmp(DriverFixedTable, log[2].Data, 64));
        EXPECT_EQ(57, log[2].Data[0]);
        EXPECT_EQ(191, log[2].Data[63]);
    }
}

// What a line callback was handed, and what it answers in turn.
std::vector<DWORD> CallbackLines;
std::vector<BYTE> CallbackFirstBytes;
std::vector<WORD> CallbackAnswers;
BYTE LineBuffer[64];

WORD RecordLines(DWORD lines) {
    CallbackLines.push_back(lines);
    CallbackFirstBytes.push_back(LineBuffer[0]);
    if (CallbackAnswers.empty())
        return ReadMore;
    WORD answer = CallbackAnswers.front();
    CallbackAnswers.erase(CallbackAnswers.begin());
    return answer;
}

class ReaderTest : public DriverTest {
  protected:
    ReadRequest Request = {};
    void SetUp() override {
        DriverTest::SetUp();
        CallbackLines.clear();
        CallbackFirstBytes.clear();
        CallbackAnswers.clear();
        Request.Buffer = LineBuffer;
        Request.Capacity = sizeof(LineBuffer);
        Request.Delivered = 99;
    }
};

TEST_F(ReaderTest, WithoutCallbackOneReadIsMade) {
    Driver.Answer(DrvReadScanData, 0, 5, 0x11);
    Driver.Answer(DrvReadScanData, 8, 0, 0);
    EXPECT_EQ(0, ReadScanLines(&Request));
    std::vector<ScriptRecord> log = Driver.Log();
    ASSERT_EQ(1u, log.size());
    EXPECT_EQ(AddressOf(LineBuffer), log[0].Buffer);
    EXPECT_EQ(sizeof(LineBuffer), log[0].Value);
    EXPECT_EQ(0x11, LineBuffer[0]);
}

TEST_F(ReaderTest, EmptyReadsAreRepeatedWithoutCallingBack) {
    Request.LineCallback = RecordLines;
    Driver.Answer(DrvReadScanData, 0, 0, 0);
    Driver.Answer(DrvReadScanData, 0, 3, 0x21);
    Driver.Answer(DrvReadScanData, 0, 0, 0);
    Driver.Answer(DrvReadScanData, 0, 2, 0x22);
    Driver.Answer(DrvReadScanData, 8, 0, 0);
    EXPECT_EQ(ReadPageComplete, ReadScanLines(&Request));
    EXPECT_EQ((std::vector<DWORD>{3, 2}), CallbackLines);
    EXPECT_EQ((std::vector<BYTE>{0x21, 0x22}), CallbackFirstBytes);
    EXPECT_EQ(5u, Driver.LogCount());
    EXPECT_EQ(0, CancelRequested);
}

TEST_F(ReaderTest, CallbackEndsTheReading) {
    Request.LineCallback = RecordLines;
    CallbackAnswers = {ReadMore, ReadPageComplete};
    Driver.Answer(DrvReadScanData, 0, 4, 1);
    Driver.Answer(DrvReadScanData, 0, 4, 2);
    Driver.Answer(DrvReadScanData, 0, 4, 3);
    EXPECT_EQ(ReadPageComplete, ReadScanLines(&Request));
    EXPECT_EQ(2u, Driver.LogCount());

    CallbackAnswers = {ReadFailed};
    EXPECT_EQ(ReadFailed, ReadScanLines(&Request));
    EXPECT_EQ(0, CancelRequested); // the caller's own failure is not an abort
}

TEST_F(ReaderTest, OtherStatusStopsReading) {
    Request.LineCallback = RecordLines;
    Driver.Answer(DrvReadScanData, 3, 0, 0);
    EXPECT_EQ(3, ReadScanLines(&Request));
    EXPECT_EQ(1u, Driver.LogCount());
}

TEST_F(ReaderTest, FailedReadCancelsTheJob) {
    Request.LineCallback = RecordLines;
    Driver.Answer(DrvReadScanData, ReadFailed, 6, 0);
    EXPECT_EQ(ReadFailed, ReadScanLines(&Request));
    EXPECT_EQ(1, CancelRequested);
    EXPECT_TRUE(CallbackLines.empty());

    CancelRequested = 0;
    Driver.Answer(DrvReadScanData, ReadFailed, 6, 0);
    EXPECT_EQ(ReadFailed, ReadScanChunk(&Request));
    EXPECT_EQ(1, CancelRequested);
    EXPECT_EQ(0u, Request.Delivered);
}

TEST_F(ReaderTest, ChunkReportsLinesDelivered) {
    Driver.Answer(DrvReadScanData, 0, 5, 0x31);
    EXPECT_EQ(ReadMore, ReadScanChunk(&Request));
    EXPECT_EQ(5u, Request.Delivered);
    EXPECT_EQ(0x31, LineBuffer[0]);
    Driver.Answer(DrvReadScanData, 3, 2, 0);
    EXPECT_EQ(3, ReadScanChunk(&Request));
    EXPECT_EQ(2u, Request.Delivered);
    std::vector<ScriptRecord> log = Driver.Log();
    ASSERT_EQ(2u, log.size());
    EXPECT_EQ(AddressOf(LineBuffer), log[1].Buffer);
    EXPECT_EQ(sizeof(LineBuffer), log[1].Value);
}

TEST_F(ReaderTest, ChunkTakesLinesThatCameWithTheEndOfPage) {
    Driver.Answer(DrvReadScanData, 8, 4, 0);
    EXPECT_EQ(ReadMore, ReadScanChunk(&Request));
    EXPECT_EQ(4u, Request.Delivered);
    Driver.Answer(DrvReadScanData, 8, 0, 0);
    EXPECT_EQ(ReadPageComplete, ReadScanChunk(&Request));
    EXPECT_EQ(0u, Request.Delivered);
}

TEST_F(ReaderTest, FinishPageAfterACompletedPageDoesNothing) {
    OpenScripted();
    Driver.Answer(DrvReadScanData, 8, 0, 0);
    EXPECT_EQ(ReadPageComplete, ReadScanLines(&Request));
    FinishPage();
    FinishPage();
    EXPECT_EQ((std::vector<WORD>{DrvReadScanData}), Driver.Commands());
}

TEST_F(ReaderTest, FinishPageReleasesALoadedPage) {
    OpenScripted();
    Driver.Answer(DrvReadScanData, ReadFailed, 0, 0);
    ReadScanChunk(&Request);
    FinishPage();
    EXPECT_EQ((std::vector<WORD>{DrvReadScanData, DrvQueryPaper, DrvReleasePage}),
              Driver.Commands());
    // With no page left only the paper is asked.
    Driver.Reset();
    Driver.Answer(DrvQueryPaper, 1, 0, 0);
    FinishPage();
    EXPECT_EQ((std::vector<WORD>{DrvQueryPaper}), Driver.Commands());
}

TEST_F(ReaderTest, FinishPageWithTheDeviceClosedDoesNothing) {
    Driver.Answer(DrvReadScanData, ReadFailed, 0, 0);
    ReadScanChunk(&Request);
    Driver.Reset();
    FinishPage();
    EXPECT_EQ(0u, Driver.LogCount());
}

TEST_F(DriverTest, PollUsesItsOwnBlockWithTheBufferBehindIt) {
    CallDriver(DrvQueryPaper);
    PollPanel();
    PollPanel();
    std::vector<ScriptRecord> log = Driver.Log();
    ASSERT_EQ(3u, log.size());
    EXPECT_EQ(DrvPollPanel, log[1].Command);
    EXPECT_NE(log[0].Block, log[1].Block);
    EXPECT_EQ(log[1].Block + sizeof(DriverRequest), log[1].Buffer);
    EXPECT_EQ(log[1].Block, log[2].Block);
}

TEST_F(DriverTest, PanelTextLeavesTheSharedBlockAlone) {
    static const char Text[] = "Scanning...";
    EXPECT_EQ(1, CallDriverWith(DrvTestIoPort, Text, 0x330) == 0);
    ShowPanelText(2, "");
    ShowPanelText(0, "LT TXT DFT  F");
    CallDriver(DrvTestIoPort);
    std::vector<ScriptRecord> log = Driver.Log();
    ASSERT_EQ(4u, log.size());
    EXPECT_EQ(DrvShowText, log[1].Command);
    EXPECT_NE(log[0].Block, log[1].Block);
    EXPECT_EQ(2u, log[1].Value);
    EXPECT_STREQ("", (const char *)log[1].Data);
    EXPECT_EQ(0u, log[2].Value);
    EXPECT_STREQ("LT TXT DFT  F", (const char *)log[2].Data);
    // The shared block still carries what its last user put there.
    EXPECT_EQ(log[0].Block, log[3].Block);
    EXPECT_EQ(AddressOf(Text), log[3].Buffer);
    EXPECT_EQ(0x330u, log[3].Value);
}

// Two threads making requests at once, as the main thread and a job thread do.
struct Hammer {
    int Rounds;
    void (*Step)();
};

DWORD WINAPI RunHammer(LPVOID parameter) {
    const Hammer *hammer = (const Hammer *)parameter;
    for (int i = 0; i < hammer->Rounds; ++i)
        hammer->Step();
    return 0;
}

DWORD RunTogether(const Hammer &first, const Hammer &second) {
    HANDLE threads[2];
    DWORD ids[2];
    threads[0] = CreateThread(nullptr, 0, RunHammer, (LPVOID)&first, CREATE_SUSPENDED, &ids[0]);
    threads[1] = CreateThread(nullptr, 0, RunHammer, (LPVOID)&second, CREATE_SUSPENDED, &ids[1]);
    ResumeThread(threads[0]);
    ResumeThread(threads[1]);
    WaitForMultipleObjects(2, threads, TRUE, INFINITE);
    CloseHandle(threads[0]);
    CloseHandle(threads[1]);
    return ids[0];
}

void ShowStatus() {
    ShowPanelText(0, "STATUS LINE");
}
void ShowMessage() {
    ShowPanelText(2, "MESSAGE LINE");
}

TEST_F(DriverTest, PanelTextFromTwoThreadsKeepsEachCallsOwnText) {
    Driver.WaitForCompany(2000);
    DWORD statusThread = RunTogether(Hammer{200, ShowStatus}, Hammer{200, ShowMessage});
    std::vector<ScriptRecord> log = Driver.Log();
    // Each call has its own block, so the two threads were inside together.
    EXPECT_EQ(2u, Driver.MostInside());
    ASSERT_EQ(400u, log.size());
    for (const ScriptRecord &record : log) {
        const char *text = (const char *)record.Data;
        if (record.Thread == statusThread) {
            EXPECT_EQ(0u, record.Value);
            EXPECT_STREQ("STATUS LINE", text);
        } else {
            EXPECT_EQ(2u, record.Value);
            EXPECT_STREQ("MESSAGE LINE", text);
        }
    }
}

void ReportPaper() {
    ReportNotReady();
}
void SetWindow() {
    SetScanParameters();
}

TEST_F(DriverTest, SharedBlockCarriesOneRequestAtATime) {
    Driver.WaitForCompany(1000);
    Driver.Default(DrvQueryPaper, 1);
    Driver.Device(CapFrontPanel, 4);
    RunTogether(Hammer{150, ReportPaper}, Hammer{150, SetWindow});
    EXPECT_EQ(0u, Driver.Overlaps());
    std::vector<ScriptRecord> log = Driver.Log();
    ASSERT_EQ(900u, log.size());
    for (const ScriptRecord &record : log) {
        if (record.Command == DrvShowText) {
            EXPECT_EQ(2u, record.Value);
            EXPECT_STREQ("Paper not ready!", (const char *)record.Data);
        } else if (record.Command == DrvSetScanParameters) {
            EXPECT_EQ(AddressOf(&ScanParameters), record.Buffer);
        } else if (record.Command == DrvSendTable) {
            EXPECT_EQ(AddressOf(DriverFixedTable), record.Buffer);
            EXPECT_EQ(4u, record.Value);
        }
    }
}

} // namespace
