// The virtual scanner's shared state: one fixed-layout record in a named
// shared-memory section owned by the device program (VNLPANEL.EXE), mapped
// by the driver library in every process that binds it, guarded by a named
// mutex. Also the panel's key table, shared by the panel window and the
// control channel.
#pragma once
#include <windows.h>

#define DEVICE_SECTION_NAME "VarnelVirtualScannerState"
#define DEVICE_LOCK_NAME "VarnelVirtualScannerLock"
#define DEVICE_READY_NAME "VarnelVirtualScannerReady"
#define DEVICE_STOP_NAME "VarnelVirtualScannerStop"
// Owned by the running device for its whole life: it exists only while a device runs.
#define DEVICE_INSTANCE_NAME "VarnelVirtualScannerDevice"
#define DEVICE_PIPE_NAME "\\\\.\\pipe\\VarnelVirtualScanner"

enum : int {
    DeviceKeyCount = 26,
    DeviceDigitKey = 25,
    DeviceStopKey = 5,
    DeviceFeederSize = 128,
    DeviceLogSize = 4096,
    DeviceLcdWidth = 16,
    DeviceNoFaultLine = -1,
};

// Private message to the device window: the LCD or the feeder changed.
#define WM_DEVICE_REFRESH (WM_APP + 1)

#pragma pack(push, 4)

// Windows keeps 32 significant bits in a window handle in every process,
// so the shared state holds windows in 32-bit fields in both builds; they
// are widened again with sign extension, as Windows does.
inline DWORD StoredWindow(HWND window) {
    return (DWORD)HandleToLong(window);
}
inline HWND WindowOf(DWORD stored) {
    return (HWND)LongToHandle((LONG)stored);
}

struct DeviceNotification {
    DWORD Window;
    DWORD Message;
    WORD Value;
    WORD Active; // 1 registered (keys) or on (job notification)
};

struct DeviceLogEntry {
    DWORD Sequence;
    DWORD ThreadId;
    WORD Command;
    WORD Status;
    DWORD Value;
};

struct DeviceFaults {
    LONG OpenRefused;
    LONG NoPaper;
    LONG Failure;
    LONG ReadErrorLine; // DeviceNoFaultLine when not armed
    LONG AbortLine;     // DeviceNoFaultLine when not armed
    LONG SlowMs;
    LONG OutOfMemory; // from the next scan set-up (request 7) until the device is closed
    LONG PortSlowMs;  // each port test (request 11) takes this long
};

struct DeviceState {
    DWORD DeviceProcessId;
    DWORD DeviceWindow;
    char Lcd[2][DeviceLcdWidth + 1]; // [0] status line (line 0), [1] message line (line 2)
    DeviceNotification Keys[DeviceKeyCount];
    DeviceNotification Job;
    DWORD HolderProcessId;
    LONG IoPort;       // the port the card answers at, set by the control channel; 0: VNLSCAN.INI's
    LONG AbortPending; // Stop pressed during a job: the read in progress or the next one aborts
    DeviceFaults Faults;
    LONG PageCount;
    char Pages[DeviceFeederSize][MAX_PATH];
    DWORD NextSequence;
    LONG LogNext;  // ring slot of the next entry
    LONG LogCount; // entries held, at most DeviceLogSize
    DeviceLogEntry Log[DeviceLogSize];
    LONG PollCount;
    LONG RequestCount;
    LONG PagesScanned;
    LONG SlowReads; // reads held by the slow fault right now
};

#pragma pack(pop)

// The process's view of the section and its mutex; empty until opened.
struct DeviceLink {
    HANDLE Section;
    HANDLE Lock;
    HANDLE StopEvent;
    DeviceState *State;
};

// Creates or opens the section, its mutex and the Stop event. 1/0.
int OpenDeviceLink(DeviceLink *link);
void CloseDeviceLink(DeviceLink *link);
void LockDevice(DeviceLink *link);
void UnlockDevice(DeviceLink *link);

// Zeroes the record and clears the faults (device start).
void ResetDeviceState(DeviceState *state);
void ClearDeviceFaults(DeviceFaults *faults);
// Appends one request to the log ring. Caller holds the lock.
void LogDeviceRequest(DeviceState *state, WORD command, WORD status, DWORD value);
// Feeder queue. Caller holds the lock. Append returns 1, or 0 when full.
int AppendFeederPage(DeviceState *state, const char *path);
void RemoveFeederPage(DeviceState *state);
// Stores up to 16 characters on line 0 or 2. 1, or 0 for another line number.
int SetLcdLine(DeviceState *state, DWORD line, const char *text);

// The folder of a module with its trailing backslash, followed by a file name. 1/0.
int PathBesideModule(HMODULE module, const char *name, char *path, int size);
#define DEVICE_CONFIG_FILE "VNLSCAN.INI"
#define DEVICE_PROGRAM_FILE "VNLPANEL.EXE"

int IsDeviceRunning();
int IsProcessAlive(DWORD processId);
// 1 when a live process other than me holds the device open.
int HeldByOther(const DeviceState *state, DWORD me);

// Panel keys: the label on the device's button and the name used by the control channel.
struct PanelKeyInfo {
    const char *Name;  // empty for the spare keys
    const char *Label; // empty for the spare keys
};
extern const PanelKeyInfo PanelKeys[DeviceKeyCount];
// Key index from a decimal index 0..25 or a key name; -1 when unknown.
int FindPanelKey(const char *word);
