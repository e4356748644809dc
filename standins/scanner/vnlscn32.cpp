// VNLSCN32.DLL: the scanner driver library. Its one entry (ordinal 2) answers
// every request from the device's shared state; scan data is converted here,
// in the calling process, straight from the page file at the head of the
// feeder. The poll and LCD-text requests never wait for a scan read: reads
// hold only ScanLock, and the section's mutex is held for short updates.
#include "device_state.h"
#include "memory_hog.h"
#include "scan_convert.h"
#include <stdlib.h>
#include <string.h>

namespace {

HMODULE DriverModule;      // this library; VNLSCAN.INI and VNLPANEL.EXE lie beside it
DeviceLink Link;           // the device's shared state, mapped by the first bind
WORD ConfiguredPort;       // [Device] IoPort, read at each bind
CRITICAL_SECTION ScanLock; // the page being scanned belongs to one reading thread at a time
ScanConversion Scan;       // the page taken by request 7
int ScanActive;            // Scan holds a page
int ScanDibBands;          // the current scan asked for bottom-up bands (ScanFlags bit 32)
int PageFinished;          // status 8 was given for the current page
WORD OwedStatus;           // read status owed by the next read after a fault cut the page

const DWORD BindWaitMs = 10000;

// Read statuses of the device's own: a read error, and a read with no sheet taken.
const WORD ReadDeviceError = 5;
const WORD ReadNoPage = 6;

void ReadConfiguration(int *autoStart) {
    char path[MAX_PATH], port[32];
    ConfiguredPort = 0x278;
    *autoStart = 1;
    if (!PathBesideModule(DriverModule, DEVICE_CONFIG_FILE, path, sizeof(path)))
        return;
    GetPrivateProfileStringA("Device", "IoPort", "0x278", port, sizeof(port), path);
    int hex = port[0] == '0' && (port[1] == 'x' || port[1] == 'X');
    ConfiguredPort = (WORD)strtoul(hex ? port + 2 : port, NULL, hex ? 16 : 10);
    *autoStart = (int)GetPrivateProfileIntA("Device", "AutoStart", 1, path);
}

// Starts VNLPANEL.EXE from this library's folder and waits for it to be ready. 1/0.
int StartDevice(HANDLE ready) {
    char program[MAX_PATH], folder[MAX_PATH];
    if (!PathBesideModule(DriverModule, DEVICE_PROGRAM_FILE, program, sizeof(program)) ||
        !PathBesideModule(DriverModule, "", folder, sizeof(folder)))
        return 0;
    // The device outlives the program that started it, so it takes none of its standard
    // handles: whoever reads that program's output would otherwise wait for the device.
    // Wine still hands every child the starter's Unix standard error, so there a device left
    // running keeps that open until it quits.
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = startup.hStdOutput = startup.hStdError = INVALID_HANDLE_VALUE;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(program, NULL, NULL, NULL, FALSE, DETACHED_PROCESS, NULL, folder, &startup,
                        &process))
        return 0;
    HANDLE waits[2] = {ready, process.hProcess};
    DWORD woke = WaitForMultipleObjects(2, waits, FALSE, BindWaitMs);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return woke == WAIT_OBJECT_0;
}

// Connects to the device, starting it when allowed. 1/0.
int ConnectDevice() {
    int autoStart;
    ReadConfiguration(&autoStart);
    HANDLE ready = CreateEventA(NULL, TRUE, FALSE, DEVICE_READY_NAME);
    if (!ready)
        return 0;
    int up;
    if (IsDeviceRunning())
        up = WaitForSingleObject(ready, BindWaitMs) == WAIT_OBJECT_0;
    else
        up = autoStart && StartDevice(ready);
    CloseHandle(ready);
    return up && OpenDeviceLink(&Link);
}

// The port the card answers at: the control channel's, else the configured one.
WORD CurrentPort() {
    LONG set = Link.State->IoPort;
    return set ? (WORD)set : ConfiguredPort;
}

// Outside the section's mutex, so that a slow test holds up nobody else.
WORD TestPort(const DriverRequest *request) {
    LONG slow = Link.State->Faults.PortSlowMs;
    if (slow > 0)
        Sleep((DWORD)slow);
    return (request->Value & 0xFFFF) == CurrentPort() ? 0 : 1;
}

WORD Bind(DriverRequest *request) {
    if (!ConnectDevice())
        return 1;
    DeviceInfoRecord *info = (DeviceInfoRecord *)(UINT_PTR)request->Buffer;
    if (info) {
        memset(info, 0, sizeof(*info));
        info->IoPort = CurrentPort();
        info->Capabilities = CapAnswersReady | CapFrontPanel;
    }
    return 0;
}

WORD OpenForCaller() {
    DeviceState *state = Link.State;
    DWORD me = GetCurrentProcessId();
    if (state->Faults.OpenRefused || HeldByOther(state, me))
        return 1;
    state->HolderProcessId = me;
    state->AbortPending = 0;
    ResetEvent(Link.StopEvent);
    return 0;
}

void EndScan() {
    if (ScanActive)
        EndPageScan(&Scan);
    ScanActive = 0;
    PageFinished = 0;
    OwedStatus = 0;
}

WORD ReleasePage() {
    EnterCriticalSection(&ScanLock);
    if (!(ScanActive && PageFinished)) {
        LockDevice(&Link);
        RemoveFeederPage(Link.State);
        UnlockDevice(&Link);
        PostMessageA(WindowOf(Link.State->DeviceWindow), WM_DEVICE_REFRESH, 0, 0);
    }
    EndScan();
    LeaveCriticalSection(&ScanLock);
    return 0;
}

WORD SetParameters(DriverRequest *request) {
    ScanParameterRecord *params = (ScanParameterRecord *)(UINT_PTR)request->Buffer;
    if (!params)
        return 1;
    char page[MAX_PATH] = "";
    LockDevice(&Link);
    if (Link.State->PageCount > 0)
        lstrcpynA(page, Link.State->Pages[0], MAX_PATH);
    UnlockDevice(&Link);
    EnterCriticalSection(&ScanLock);
    EndScan();
    // The sizes follow from the window alone, as on the real device; without a sheet there
    // is just nothing to read.
    int valid = CompleteScanParameters(params);
    ScanActive = valid && page[0] && BeginPageScan(&Scan, page, params);
    ScanDibBands = (params->ScanFlags & ScanFlagDibBands) != 0;
    LeaveCriticalSection(&ScanLock);
    return ScanActive ? 0 : 1;
}

// Takes an armed fault line the coming read reaches: the read stops before it and the next
// one answers with the fault's status.
DWORD CutAtFault(LONG *faultLine, WORD status, DWORD limit) {
    LONG line = *faultLine;
    if (line == DeviceNoFaultLine || (DWORD)line >= Scan.NextLine + limit)
        return limit;
    *faultLine = DeviceNoFaultLine;
    OwedStatus = status;
    return (DWORD)line > Scan.NextLine ? (DWORD)line - Scan.NextLine : 0;
}

// Status of a read; request->Value becomes the lines delivered.
WORD ReadLines(DriverRequest *request) {
    DWORD capacity = request->Value;
    request->Value = 0;
    if (!ScanActive || !request->Buffer)
        return ReadNoPage;
    if (OwedStatus) {
        WORD owed = OwedStatus;
        OwedStatus = 0;
        return owed;
    }
    if (PageFinished)
        return ReadEndOfPage;
    DeviceState *state = Link.State;
    if (state->Faults.SlowMs > 0) {
        InterlockedIncrement(&state->SlowReads);
        WaitForSingleObject(Link.StopEvent, (DWORD)state->Faults.SlowMs);
        InterlockedDecrement(&state->SlowReads);
    }
    LockDevice(&Link);
    int aborted = state->AbortPending;
    state->AbortPending = 0;
    ResetEvent(Link.StopEvent);
    DWORD rows = Scan.BytesPerLine ? capacity / Scan.BytesPerLine : 0;
    DWORD limit = CutAtFault(&state->Faults.ReadErrorLine, ReadDeviceError, rows);
    limit = CutAtFault(&state->Faults.AbortLine, ReadFailed, limit);
    UnlockDevice(&Link);
    if (aborted)
        return ReadFailed;
    LONG delivered =
        DeliverScanLines(&Scan, (BYTE *)(UINT_PTR)request->Buffer, capacity, ScanDibBands, limit);
    if (delivered < 0)
        return ReadDeviceError;
    request->Value = (DWORD)delivered;
    if (OwedStatus || Scan.NextLine < Scan.Lines)
        return ReadMore;
    PageFinished = 1;
    LockDevice(&Link);
    RemoveFeederPage(state);
    state->PagesScanned++;
    UnlockDevice(&Link);
    PostMessageA(WindowOf(state->DeviceWindow), WM_DEVICE_REFRESH, 0, 0);
    return ReadEndOfPage;
}

WORD SetNotification(DeviceNotification *slot, const DriverRequest *request, int on) {
    const KeyNotification *note = (const KeyNotification *)(UINT_PTR)request->Buffer;
    if (on && !note)
        return 1;
    if (on) {
        slot->Window = StoredWindow((HWND)note->Window);
        slot->Message = note->Message;
        slot->Value = note->PostValue;
    }
    slot->Active = on ? 1 : 0;
    return 0;
}

WORD ShowText(const DriverRequest *request) {
    const char *text = (const char *)(UINT_PTR)request->Buffer;
    if (!SetLcdLine(Link.State, request->Value & 0xFFFF, text ? text : ""))
        return 1;
    PostMessageA(WindowOf(Link.State->DeviceWindow), WM_DEVICE_REFRESH, 0, 0);
    return 0;
}

// Requests answered from the shared state under its mutex.
WORD AnswerFromState(DriverRequest *request) {
    DeviceState *state = Link.State;
    const DeviceFaults *faults = &state->Faults;
    BYTE low = (BYTE)request->Value, high = (BYTE)(request->Value >> 8);
    switch (request->Command) {
    case DrvOpen:
        return OpenForCaller();
    case DrvClose:
        if (state->HolderProcessId == GetCurrentProcessId())
            state->HolderProcessId = 0;
        return 0;
    case DrvQueryFailure:
        return faults->Failure ? 1 : 0;
    case DrvQueryReady: // ready to scan: a sheet waits in the feeder and nothing failed
        return state->PageCount > 0 && !faults->Failure ? 0 : 1;
    case DrvQueryPaper: // the paper sensor, which the no-paper fault blinds
        return state->PageCount > 0 && !faults->NoPaper && !faults->Failure ? 0 : 1;
    case DrvRegisterKey:
        return low < DeviceKeyCount ? SetNotification(&state->Keys[low], request, high != 0) : 1;
    case DrvJobNotification:
        state->AbortPending = 0;
        ResetEvent(Link.StopEvent);
        return SetNotification(&state->Job, request, low != 0);
    case DrvShowText:
        return ShowText(request);
    case DrvErrorNotice:
        return 0;
    }
    return 1;
}

const int FromState = -1;

// Requests answered outside the section's mutex: their status, or FromState.
int AnswerOutsideState(DriverRequest *request) {
    switch (request->Command) {
    case DrvBind:
        return Bind(request);
    case DrvPrepareScan:
        EnterCriticalSection(&ScanLock);
        EndScan();
        LeaveCriticalSection(&ScanLock);
        return 0;
    case DrvReleasePage:
        return ReleasePage();
    case DrvTestIoPort:
        return TestPort(request);
    case DrvSetScanParameters: {
        WORD status = SetParameters(request);
        if (Link.State->Faults.OutOfMemory)
            TakeAllMemory();
        return status;
    }
    case DrvSendTable:
        return request->Buffer &&
                       memcmp((const void *)(UINT_PTR)request->Buffer, DriverFixedTable, 64) == 0
                   ? 0
                   : 1;
    case DrvReadScanData: {
        EnterCriticalSection(&ScanLock);
        WORD status = ReadLines(request);
        LeaveCriticalSection(&ScanLock);
        return status;
    }
    case DrvClose:
        GiveMemoryBack();
        break;
    }
    return FromState;
}

// Answers a request and logs it. A request answered from the state is
// logged under the same hold of the mutex: each wait on it and each release
// is a trip to the system, and the 26 key registrations of the program's
// start are requests of that kind.
WORD Dispatch(DriverRequest *request) {
    int status = AnswerOutsideState(request);
    if (!Link.State)
        return (WORD)status; // a bind that failed: no device to log to
    LockDevice(&Link);
    if (status == FromState)
        status = AnswerFromState(request);
    LogDeviceRequest(Link.State, request->Command, (WORD)status, request->Value);
    Link.State->RequestCount++;
    UnlockDevice(&Link);
    return (WORD)status;
}

} // namespace

extern "C" WORD WINAPI ScannerDriverEntry(DriverRequest *request) {
    WORD status;
    if (request->Command == DrvPollPanel && Link.State) {
        InterlockedIncrement(&Link.State->PollCount);
        status = 0;
    } else if (request->Command != DrvBind && !Link.State) {
        status = 1; // not bound: there is no device to ask
    } else {
        status = Dispatch(request);
    }
    request->Status = status;
    return status;
}

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    if (reason == DLL_PROCESS_ATTACH) {
        DriverModule = instance;
        InitializeCriticalSection(&ScanLock);
        DisableThreadLibraryCalls(instance);
    } else if (reason == DLL_PROCESS_DETACH && !reserved) {
        // Only on FreeLibrary: at process exit other threads may have died holding locks.
        EndScan();
        CloseDeviceLink(&Link);
        DeleteCriticalSection(&ScanLock);
    }
    return TRUE;
}
