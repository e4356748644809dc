// Control side of the scripted test driver: the tests queue the answers the
// driver gives and read back the log of every request it was handed.
#pragma once
#include <windows.h>
#include "abi/driver_abi.h"

// One request as the driver saw it.
struct ScriptRecord {
    WORD Command;
    WORD Status;      // the status the driver answered
    ULONG_PTR Buffer; // Buffer as handed in
    DWORD Value;      // Value as handed in
    ULONG_PTR Block;  // address of the request block
    DWORD Thread;     // calling thread
    BYTE Data[64];    // the table of request 8, the text of request 24
};

extern "C" {
typedef void (*ScriptResetProc)();
typedef void (*ScriptAnswerProc)(WORD command, WORD status, DWORD value, BYTE fill);
typedef void (*ScriptDefaultProc)(WORD command, WORD status);
typedef void (*ScriptDeviceProc)(BYTE capabilities, WORD tableRequest);
typedef void (*ScriptWaitProc)(DWORD microseconds);
typedef int (*ScriptLogEntryProc)(DWORD index, ScriptRecord *record);
typedef DWORD (*ScriptCountProc)();
}
