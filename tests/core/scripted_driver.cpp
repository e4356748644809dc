// A scanner driver library for the tests: it answers each request from a
// queue the test fills, logs every request with its thread, and counts calls
// that arrive on a block while another call on the same block is still inside.
#include <string.h>
#include "scripted_driver.h"

enum : int { QueueSize = 256, LogSize = 4096, InFlightSize = 16, CommandCount = 32 };

struct ScriptedAnswer {
    WORD Command;
    WORD Status;
    DWORD Value; // lines delivered, for request 10
    BYTE Fill;   // byte written into the destination, one per line
    BYTE Used;
};

static CRITICAL_SECTION ScriptLock;           // guards everything below
static ScriptedAnswer Queue[QueueSize];       // answers in the order they were queued
static int QueueLength;                       // answers queued so far
static WORD DefaultStatus[CommandCount];      // answer when the queue has none for a request
static BYTE Capabilities;                     // what request 2 reports
static WORD TableRequest;                     // what request 7 leaves in TableRequest
static DWORD CompanyWait;                     // microseconds each call waits for another to come in
static ScriptRecord Log[LogSize];             // every request handed in
static DWORD LogLength;                       // requests logged
static DriverRequest *InFlight[InFlightSize]; // blocks of the calls now inside the entry
static DWORD Overlaps;                        // calls that found their block already inside
static volatile LONG Inside; // calls now inside the entry, read unlocked by the waiting calls
static LONG MostInside;      // most calls inside the entry at once

extern "C" void ScriptReset() {
    EnterCriticalSection(&ScriptLock);
    QueueLength = 0;
    memset(DefaultStatus, 0, sizeof(DefaultStatus));
    DefaultStatus[DrvReadScanData] = ReadFailed; // an unscripted read never loops
    Capabilities = CapFrontPanel;
    TableRequest = 0;
    CompanyWait = 0;
    LogLength = 0;
    Overlaps = 0;
    MostInside = 0;
    LeaveCriticalSection(&ScriptLock);
}

extern "C" void ScriptAnswer(WORD command, WORD status, DWORD value, BYTE fill) {
    EnterCriticalSection(&ScriptLock);
    if (QueueLength < QueueSize)
        Queue[QueueLength++] = ScriptedAnswer{command, status, value, fill, 0};
    LeaveCriticalSection(&ScriptLock);
}

extern "C" void ScriptDefault(WORD command, WORD status) {
    if (command < CommandCount)
        DefaultStatus[command] = status;
}

extern "C" void ScriptDevice(BYTE capabilities, WORD tableRequest) {
    Capabilities = capabilities;
    TableRequest = tableRequest;
}

extern "C" void ScriptWaitForCompany(DWORD microseconds) {
    CompanyWait = microseconds;
}

extern "C" DWORD ScriptLogCount() {
    return LogLength;
}

extern "C" int ScriptLogEntry(DWORD index, ScriptRecord *record) {
    if (index >= LogLength)
        return 0;
    *record = Log[index];
    return 1;
}

extern "C" DWORD ScriptOverlaps() {
    return Overlaps;
}

extern "C" DWORD ScriptMostInside() {
    return MostInside;
}

static void Enter(DriverRequest *block) {
    if (++Inside > MostInside)
        MostInside = Inside;
    for (DriverRequest *other : InFlight)
        if (other == block)
            ++Overlaps;
    for (DriverRequest *&slot : InFlight)
        if (!slot) {
            slot = block;
            break;
        }
}

static void Leave(DriverRequest *block) {
    --Inside;
    for (DriverRequest *&slot : InFlight)
        if (slot == block) {
            slot = nullptr;
            break;
        }
}

static ScriptedAnswer NextAnswer(WORD command) {
    for (int i = 0; i < QueueLength; ++i)
        if (!Queue[i].Used && Queue[i].Command == command) {
            Queue[i].Used = 1;
            return Queue[i];
        }
    return ScriptedAnswer{command, command < CommandCount ? DefaultStatus[command] : WORD(0), 0, 0,
                          1};
}

// Carries out the parts of a request that write into the caller's records.
static void Perform(DriverRequest *block, const ScriptedAnswer &answer, ScriptRecord *record) {
    void *buffer = (void *)(UINT_PTR)block->Buffer;
    switch (block->Command) {
    case DrvBind:
        ((DeviceInfoRecord *)buffer)->Capabilities = Capabilities;
        break;
    case DrvSetScanParameters:
        ((ScanParameterRecord *)buffer)->TableRequest = TableRequest;
        break;
    case DrvSendTable:
        memcpy(record->Data, buffer, sizeof(record->Data));
        break;
    case DrvShowText:
        strncpy((char *)record->Data, (const char *)buffer, sizeof(record->Data) - 1);
        break;
    case DrvReadScanData:
        memset(buffer, answer.Fill, answer.Value < block->Value ? answer.Value : block->Value);
        block->Value = answer.Value;
        break;
    }
}

extern "C" WORD WINAPI ScriptedEntry(DriverRequest *block) {
    EnterCriticalSection(&ScriptLock);
    Enter(block);
    LeaveCriticalSection(&ScriptLock);
    // Holds the call open until another one comes in, or for a moment at most.
    LARGE_INTEGER frequency, start, now;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    now = start;
    while (Inside < 2 &&
           (now.QuadPart - start.QuadPart) * 1000000 / frequency.QuadPart < CompanyWait) {
        SwitchToThread();
        QueryPerformanceCounter(&now);
    }
    EnterCriticalSection(&ScriptLock);
    ScriptRecord record = {};
    record.Command = block->Command;
    record.Buffer = block->Buffer;
    record.Value = block->Value;
    record.Block = (ULONG_PTR)block;
    record.Thread = GetCurrentThreadId();
    ScriptedAnswer answer = NextAnswer(block->Command);
    Perform(block, answer, &record);
    record.Status = answer.Status;
    block->Status = answer.Status;
    if (LogLength < LogSize)
        Log[LogLength++] = record;
    Leave(block);
    LeaveCriticalSection(&ScriptLock);
    return answer.Status;
}

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        InitializeCriticalSection(&ScriptLock);
        ScriptReset();
    } else if (reason == DLL_PROCESS_DETACH) {
        DeleteCriticalSection(&ScriptLock);
    }
    return TRUE;
}
