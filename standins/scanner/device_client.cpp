#include "device_client.h"
#include "device_state.h"
#include <string.h>

namespace {

const DWORD ConnectWaitMs = 10000; // the device serves one connection at a time

HANDLE ConnectControlChannel() {
    DWORD start = GetTickCount();
    while (GetTickCount() - start < ConnectWaitMs) {
        HANDLE pipe = CreateFileA(DEVICE_PIPE_NAME, GENERIC_READ | GENERIC_WRITE, 0, NULL,
                                  OPEN_EXISTING, 0, NULL);
        if (pipe != INVALID_HANDLE_VALUE)
            return pipe;
        if (GetLastError() == ERROR_PIPE_BUSY)
            WaitNamedPipeA(DEVICE_PIPE_NAME, ConnectWaitMs);
        else if (!IsDeviceRunning())
            return NULL;
        else
            Sleep(10); // the device is starting and has no pipe yet
    }
    return NULL;
}

} // namespace

int DeviceIsRunning() {
    return IsDeviceRunning();
}

int DeviceCommand(const char *command, char *reply, int size) {
    char status[8]; // enough to tell OK from ERR when the caller wants no reply
    if (!reply || size <= 0) {
        reply = status;
        size = sizeof(status);
    }
    reply[0] = 0;
    HANDLE pipe = ConnectControlChannel();
    if (!pipe)
        return DeviceNotRunning;
    DWORD mode = PIPE_READMODE_MESSAGE, done = 0;
    int ok = SetNamedPipeHandleState(pipe, &mode, NULL, NULL) &&
             WriteFile(pipe, command, (DWORD)strlen(command), &done, NULL);
    // Read the whole reply message; what does not fit is read and dropped.
    int used = 0;
    char spill[4096];
    while (ok) {
        char *into = used < size - 1 ? reply + used : spill;
        DWORD room = used < size - 1 ? (DWORD)(size - 1 - used) : sizeof(spill);
        BOOL whole = ReadFile(pipe, into, room, &done, NULL);
        if (into != spill)
            used += (int)done;
        if (whole)
            break;
        ok = GetLastError() == ERROR_MORE_DATA;
    }
    CloseHandle(pipe);
    reply[used] = 0;
    if (!ok)
        return DeviceNotRunning;
    return strncmp(reply, "OK", 2) == 0 && (reply[2] == '\n' || reply[2] == 0) ? DeviceReplyOk
                                                                               : DeviceReplyError;
}
