#include "device_state.h"
#include <string.h>
#include <stdlib.h>
#include <stdio.h>

const PanelKeyInfo PanelKeys[DeviceKeyCount] = {
    {"fax", "Fax"},
    {"copy", "Copy"},
    {"", ""},
    {"mode", "Mode"},
    {"resolution", "Resolution"},
    {"stop", "Stop"},
    {"destination", "Fax/E-mail"},
    {"", ""},
    {"paper", "Paper"},
    {"speed1", "Speed 1"},
    {"speed2", "Speed 2"},
    {"speed3", "Speed 3"},
    {"speed4", "Speed 4"},
    {"speed5", "Speed 5"},
    {"speed6", "Speed 6"},
    {"speed7", "Speed 7"},
    {"speed8", "Speed 8"},
    {"speed9", "Speed 9"},
    {"speed10", "Speed 10"},
    {"speed11", "Speed 11"},
    {"speed12", "Speed 12"},
    {"speed13", "Speed 13"},
    {"speed14", "Speed 14"},
    {"up", "Level up"},
    {"down", "Level down"},
    {"", ""},
};

int OpenDeviceLink(DeviceLink *link) {
    if (link->State)
        return 1;
    link->Section = CreateFileMappingA(INVALID_HANDLE_VALUE, NULL, PAGE_READWRITE, 0,
                                       sizeof(DeviceState), DEVICE_SECTION_NAME);
    link->Lock = CreateMutexA(NULL, FALSE, DEVICE_LOCK_NAME);
    link->StopEvent = CreateEventA(NULL, TRUE, FALSE, DEVICE_STOP_NAME);
    if (link->Section)
        link->State = (DeviceState *)MapViewOfFile(link->Section, FILE_MAP_WRITE, 0, 0, 0);
    if (link->State && link->Lock && link->StopEvent)
        return 1;
    CloseDeviceLink(link);
    return 0;
}

void CloseDeviceLink(DeviceLink *link) {
    if (link->State)
        UnmapViewOfFile(link->State);
    if (link->Section)
        CloseHandle(link->Section);
    if (link->Lock)
        CloseHandle(link->Lock);
    if (link->StopEvent)
        CloseHandle(link->StopEvent);
    memset(link, 0, sizeof(*link));
}

void LockDevice(DeviceLink *link) {
    // An abandoned mutex (the device died holding it) is still ours now.
    WaitForSingleObject(link->Lock, INFINITE);
}

void UnlockDevice(DeviceLink *link) {
    ReleaseMutex(link->Lock);
}

void ClearDeviceFaults(DeviceFaults *faults) {
    memset(faults, 0, sizeof(*faults));
    faults->ReadErrorLine = DeviceNoFaultLine;
    faults->AbortLine = DeviceNoFaultLine;
}

void ResetDeviceState(DeviceState *state) {
    memset(state, 0, sizeof(*state));
    ClearDeviceFaults(&state->Faults);
}

void LogDeviceRequest(DeviceState *state, WORD command, WORD status, DWORD value) {
    DeviceLogEntry *entry = &state->Log[state->LogNext];
    entry->Sequence = ++state->NextSequence;
    entry->ThreadId = GetCurrentThreadId();
    entry->Command = command;
    entry->Status = status;
    entry->Value = value;
    state->LogNext = (state->LogNext + 1) % DeviceLogSize;
    if (state->LogCount < DeviceLogSize)
        state->LogCount++;
}

int AppendFeederPage(DeviceState *state, const char *path) {
    if (state->PageCount >= DeviceFeederSize)
        return 0;
    lstrcpynA(state->Pages[state->PageCount], path, MAX_PATH);
    state->PageCount++;
    return 1;
}

void RemoveFeederPage(DeviceState *state) {
    if (state->PageCount <= 0)
        return;
    state->PageCount--;
    memmove(state->Pages[0], state->Pages[1], (size_t)state->PageCount * MAX_PATH);
}

int SetLcdLine(DeviceState *state, DWORD line, const char *text) {
    if (line != 0 && line != 2)
        return 0;
    lstrcpynA(state->Lcd[line / 2], text, DeviceLcdWidth + 1);
    return 1;
}

int PathBesideModule(HMODULE module, const char *name, char *path, int size) {
    char own[MAX_PATH];
    DWORD length = GetModuleFileNameA(module, own, sizeof(own));
    if (length == 0 || length >= sizeof(own))
        return 0;
    char *slash = strrchr(own, '\\');
    if (slash)
        slash[1] = 0;
    else
        own[0] = 0;
    return snprintf(path, (size_t)size, "%s%s", own, name) < size;
}

int IsDeviceRunning() {
    HANDLE instance = OpenMutexA(SYNCHRONIZE, FALSE, DEVICE_INSTANCE_NAME);
    if (!instance)
        return 0;
    CloseHandle(instance);
    return 1;
}

int IsProcessAlive(DWORD processId) {
    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, processId);
    if (!process)
        return 0;
    int alive = WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
    CloseHandle(process);
    return alive;
}

int HeldByOther(const DeviceState *state, DWORD me) {
    DWORD holder = state->HolderProcessId;
    return holder && holder != me && IsProcessAlive(holder);
}

int FindPanelKey(const char *word) {
    if (word[0] >= '0' && word[0] <= '9') {
        char *end;
        long key = strtol(word, &end, 10);
        return (*end == 0 && key < DeviceKeyCount) ? (int)key : -1;
    }
    for (int key = 0; key < DeviceKeyCount; key++) {
        if (PanelKeys[key].Name[0] && lstrcmpiA(PanelKeys[key].Name, word) == 0)
            return key;
    }
    return -1;
}
