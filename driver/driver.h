// The binding of the scanner's driver library and every request made of it.
// All requests except the panel poll and LCD texts travel in one shared
// request block; a lock keeps the main thread and the job thread apart on it.
#pragma once
#include <windows.h>
#include "abi/driver_abi.h"

// Called with the lines one read delivered, the whole count the driver gave
// (a claim of more than the buffer holds is the caller's to refuse); returns
// a read status (0 go on, 11 all lines taken, 65535 the caller failed).
typedef WORD (*LineCallbackProc)(DWORD lines);

// What a scan-data reader reads into. Users may extend it with fields of their
// own behind these four; the readers touch only these.
struct ReadRequest {
    BYTE *Buffer;                  // destination of the scan lines
    LineCallbackProc LineCallback; // per-chunk consumer, may be empty (ReadScanLines only)
    DWORD Capacity;                // size of Buffer in bytes, whole lines
    DWORD Delivered;               // lines of the last ReadScanChunk, 0 after an error
};

extern HMODULE LibraryHandle;              // the loaded driver library, empty when unbound
extern DriverEntryProc DriverEntry;        // the library's export by ordinal 2
extern volatile LONG DeviceOpen;           // 1 while request 0 holds the device for us
extern DeviceInfoRecord DeviceInfo;        // filled by the driver with request 2
extern ScanParameterRecord ScanParameters; // scan window of request 7, completed by the driver

int BindDriver();
void UnbindDriver();
// Makes a request with whatever Buffer and Value the shared block holds.
WORD CallDriver(WORD command);
// Fills Buffer and Value of the shared block and makes the request, as one step.
WORD CallDriverWith(WORD command, const void *buffer, DWORD value);
int OpenDevice();
void CloseDevice();
int IsDeviceReady();
WORD ReportNotReady();
void SetScanParameters();
WORD ReadScanLines(ReadRequest *request);
WORD ReadScanChunk(ReadRequest *request);
void FinishPage();
WORD PollPanel();
// Shows up to 16 characters on line 0 (status) or 2 (message); callable from any thread.
WORD ShowPanelText(WORD line, const char *text);
