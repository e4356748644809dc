#include "driver/driver.h"
#include "app/settings.h"
#include "panel/panel_state.h"

HMODULE LibraryHandle;
DriverEntryProc DriverEntry;
volatile LONG DeviceOpen;
DeviceInfoRecord DeviceInfo;
ScanParameterRecord ScanParameters;

// The request block of every request except the panel poll and LCD texts.
static DriverRequest SharedRequest;

// The panel poll's own block, with the buffer the driver expects right behind it.
static struct PollBlockRecord {
    DriverRequest Request;
    BYTE Buffer[16];
} PollBlock;
static_assert(offsetof(PollBlockRecord, Buffer) == sizeof(DriverRequest),
              "the poll buffer follows its block");

// Keeps the main thread and the job thread from sharing SharedRequest at once.
// Built before main, so it exists before any request.
static struct RequestLockRecord {
    CRITICAL_SECTION Section;
    RequestLockRecord() { InitializeCriticalSection(&Section); }
} RequestLock;

static ULONG_PTR AddressOf(const void *p) {
    return (ULONG_PTR)p;
}

// Calls the entry; without a bound library every request fails.
static WORD Invoke(DriverRequest *block) {
    if (!DriverEntry) {
        block->Status = ReadFailed;
        return 0;
    }
    return DriverEntry(block);
}

// Makes a request on the shared block; Value goes in and comes back.
static WORD Exchange(WORD command, const void *buffer, DWORD *value) {
    EnterCriticalSection(&RequestLock.Section);
    SharedRequest.Command = command;
    SharedRequest.Buffer = AddressOf(buffer);
    SharedRequest.Value = *value;
    Invoke(&SharedRequest);
    *value = SharedRequest.Value;
    WORD status = SharedRequest.Status;
    LeaveCriticalSection(&RequestLock.Section);
    return status;
}

WORD CallDriver(WORD command) {
    EnterCriticalSection(&RequestLock.Section);
    SharedRequest.Command = command;
    Invoke(&SharedRequest);
    WORD status = SharedRequest.Status;
    LeaveCriticalSection(&RequestLock.Section);
    return status;
}

WORD CallDriverWith(WORD command, const void *buffer, DWORD value) {
    return Exchange(command, buffer, &value);
}

static void ReleaseLibrary() {
    if (LibraryHandle)
        FreeLibrary(LibraryHandle);
    LibraryHandle = nullptr;
    DriverEntry = nullptr;
}

int BindDriver() {
    char path[128];
    GetPrivateProfileStringA("ScanDLL", "DLL32", "", path, sizeof(path), "VARNEL.INI");
    if (!FileExists(path))
        return 0;
    LibraryHandle = LoadLibraryA(path);
    if (!LibraryHandle)
        return 0;
    // Through void* because FARPROC has no parameters to match.
    DriverEntry = reinterpret_cast<DriverEntryProc>(
        reinterpret_cast<void *>(GetProcAddress(LibraryHandle, MAKEINTRESOURCEA(2))));
    if (!DriverEntry || CallDriverWith(DrvBind, &DeviceInfo, 0) != 0) {
        ReleaseLibrary();
        return 0;
    }
    return 1;
}

void UnbindDriver() {
    CloseDevice();
    ReleaseLibrary();
}

int OpenDevice() {
    DeviceOpen = CallDriver(DrvOpen) == 0;
    return DeviceOpen;
}

void CloseDevice() {
    if (!DeviceOpen)
        return;
    CallDriver(DrvClose);
    DeviceOpen = 0;
}

int IsDeviceReady() {
    if ((DeviceInfo.Capabilities & CapAnswersReady) && CallDriver(DrvQueryReady) == 0)
        return 1;
    return CallDriver(DrvQueryPaper) == 0;
}

WORD ReportNotReady() {
    const char *text;
    WORD result;
    if (CallDriver(DrvQueryPaper) != 0) {
        text = "Paper not ready!";
        result = 10;
    } else if (CallDriver(DrvQueryFailure) != 0) {
        text = "Action failed!";
        result = 5;
    } else {
        return 0;
    }
    CallDriver(DrvErrorNotice);
    CallDriverWith(DrvShowText, text, 2);
    return result;
}

void SetScanParameters() {
    CallDriver(DrvPrepareScan);
    CallDriverWith(DrvSetScanParameters, &ScanParameters, 0);
    if (ScanParameters.TableRequest == 4)
        CallDriverWith(DrvSendTable, DriverFixedTable, 4);
}

// One scan-data read into the request's buffer; a failed read cancels the job.
static WORD ReadOnce(const ReadRequest *request, DWORD *lines) {
    *lines = request->Capacity;
    WORD status = Exchange(DrvReadScanData, request->Buffer, lines);
    if (status == ReadFailed)
        CancelRequested = 1;
    return status;
}

WORD ReadScanLines(ReadRequest *request) {
    WORD status;
    do {
        DWORD lines;
        status = ReadOnce(request, &lines);
        if (status != ReadFailed && lines != 0 && request->LineCallback)
            status = request->LineCallback(lines);
    } while (request->LineCallback && status == ReadMore);
    if (status == ReadEndOfPage)
        status = ReadPageComplete;
    SharedRequest.LastStatus = status;
    return status;
}

WORD ReadScanChunk(ReadRequest *request) {
    DWORD lines;
    WORD status = ReadOnce(request, &lines);
    request->Delivered = status == ReadFailed ? 0 : lines;
    // Lines that came with the end of the page are taken first; the next read ends it.
    if (status == ReadEndOfPage)
        status = lines != 0 ? ReadMore : ReadPageComplete;
    SharedRequest.LastStatus = status;
    return status;
}

void FinishPage() {
    if (!DeviceOpen || SharedRequest.LastStatus == ReadPageComplete)
        return;
    if (CallDriver(DrvQueryPaper) == 0)
        CallDriver(DrvReleasePage);
    SharedRequest.LastStatus = ReadMore;
}

WORD PollPanel() {
    PollBlock.Request.Command = DrvPollPanel;
    PollBlock.Request.Buffer = AddressOf(PollBlock.Buffer);
    return Invoke(&PollBlock.Request);
}

WORD ShowPanelText(WORD line, const char *text) {
    DriverRequest block = {};
    block.Command = DrvShowText;
    block.Buffer = AddressOf(text);
    block.Value = line;
    return Invoke(&block);
}
