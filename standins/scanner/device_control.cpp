#include "device_control.h"
#include "abi/driver_abi.h"
#include <algorithm>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

DeviceLink Device;

namespace {

const int CommandBytes = 4096;
const int ReplyBytes = 256 * 1024; // the whole request log fits

struct ReplyText {
    char *Text;
    int Size;
    int Used;
};

void Reply(ReplyText *reply, const char *format, ...) {
    if (reply->Used >= reply->Size - 1)
        return;
    va_list args;
    va_start(args, format);
    int n = vsnprintf(reply->Text + reply->Used, (size_t)(reply->Size - reply->Used), format, args);
    va_end(args);
    if (n > 0)
        reply->Used += std::min(n, reply->Size - 1 - reply->Used);
}

int Refuse(ReplyText *reply, const char *reason) {
    Reply(reply, "ERR %s\n", reason);
    return CommandFailed;
}

void RefreshPanel() {
    PostMessageA(WindowOf(Device.State->DeviceWindow), WM_DEVICE_REFRESH, 0, 0);
}

void Post(const DeviceNotification *note, LPARAM lParam) {
    if (note->Active)
        PostMessageA(WindowOf(note->Window), note->Message, note->Value, lParam);
}

int IsPageFile(const char *name) {
    static const char *const Kinds[] = {".bmp", ".pbm", ".pgm", ".ppm", ".pnm"};
    const char *dot = strrchr(name, '.');
    for (const char *kind : Kinds) {
        if (dot && lstrcmpiA(dot, kind) == 0)
            return 1;
    }
    return 0;
}

int AppendPages(const char *const *paths, int count) {
    int added = 0;
    LockDevice(&Device);
    while (added < count && AppendFeederPage(Device.State, paths[added]))
        added++;
    UnlockDevice(&Device);
    RefreshPanel();
    return added;
}

int OnOff(const char *word, LONG *flag) {
    if (lstrcmpiA(word, "on") == 0 || lstrcmpiA(word, "off") == 0) {
        *flag = lstrcmpiA(word, "on") == 0;
        return 1;
    }
    return 0;
}

int Number(const char *word, LONG *value) {
    char *end;
    long n = strtol(word, &end, 10);
    if (!word[0] || *end || n < 0)
        return 0;
    *value = n;
    return 1;
}

struct FaultSwitch {
    const char *Name;
    LONG DeviceFaults::*Field;
    int (*Parse)(const char *, LONG *);
};

const FaultSwitch FaultSwitches[] = {
    {"open-refused", &DeviceFaults::OpenRefused, OnOff},
    {"no-paper", &DeviceFaults::NoPaper, OnOff},
    {"failure", &DeviceFaults::Failure, OnOff},
    {"read-error", &DeviceFaults::ReadErrorLine, Number},
    {"abort", &DeviceFaults::AbortLine, Number},
    {"slow", &DeviceFaults::SlowMs, Number},
    {"out-of-memory", &DeviceFaults::OutOfMemory, OnOff},
    {"slow-port", &DeviceFaults::PortSlowMs, Number},
};

int SetFault(char *args, ReplyText *reply) {
    char *name = strtok(args, " "), *value = strtok(NULL, " ");
    if (name && lstrcmpiA(name, "clear") == 0) {
        ClearDeviceFaults(&Device.State->Faults);
        // A read that "slow" holds goes on at once (no abort is pending, so it is not failed).
        SetEvent(Device.StopEvent);
        return CommandDone;
    }
    for (const FaultSwitch &fault : FaultSwitches) {
        LONG parsed;
        if (!name || lstrcmpiA(name, fault.Name) != 0)
            continue;
        if (!value || !fault.Parse(value, &parsed))
            return Refuse(reply, "bad fault value");
        Device.State->Faults.*fault.Field = parsed;
        return CommandDone;
    }
    return Refuse(reply, "unknown fault");
}

// "port" reports the port the card answers at (0 for VNLSCAN.INI's), "port 330" moves
// it there (hexadecimal, as the keypad manager writes ports), "port config" back.
int SetPort(const char *args, ReplyText *reply) {
    DeviceState *state = Device.State;
    if (!args[0]) {
        Reply(reply, "OK\n%lx\n", (unsigned long)state->IoPort);
        return CommandDone;
    }
    if (lstrcmpiA(args, "config") == 0) {
        state->IoPort = 0;
    } else {
        char *end;
        unsigned long port = strtoul(args, &end, 16);
        if (*end || port == 0 || port > 0xFFFF)
            return Refuse(reply, "bad port");
        state->IoPort = (LONG)port;
    }
    Reply(reply, "OK\n");
    return CommandDone;
}

// "hold on": the device program itself holds the device, as another program would, so
// every open is refused until "hold off".
int HoldDevice(const char *args, ReplyText *reply) {
    DeviceState *state = Device.State;
    DWORD me = GetCurrentProcessId();
    LONG on;
    if (!OnOff(args, &on))
        return Refuse(reply, "hold on or off");
    if (on && HeldByOther(state, me))
        return Refuse(reply, "held by a program");
    if (on)
        state->HolderProcessId = me;
    else if (state->HolderProcessId == me)
        state->HolderProcessId = 0;
    Reply(reply, "OK\n");
    return CommandDone;
}

void ListLog(ReplyText *reply) {
    const DeviceState *state = Device.State;
    LONG first = (state->LogNext - state->LogCount + DeviceLogSize) % DeviceLogSize;
    for (LONG i = 0; i < state->LogCount; i++) {
        const DeviceLogEntry *e = &state->Log[(first + i) % DeviceLogSize];
        Reply(reply, "%lu %lu %u %u %lu\n", (unsigned long)e->Sequence, (unsigned long)e->ThreadId,
              e->Command, e->Status, (unsigned long)e->Value);
    }
}

void ListRegistrations(ReplyText *reply) {
    Reply(reply, "keys=");
    const char *separator = "";
    for (int key = 0; key < DeviceKeyCount; key++) {
        if (Device.State->Keys[key].Active) {
            Reply(reply, "%s%d", separator, key);
            separator = " ";
        }
    }
    Reply(reply, "\njob=%s\n", Device.State->Job.Active ? "on" : "off");
}

// Commands that only read or change the shared state; run under its mutex.
int ExecuteStateCommand(const char *word, char *args, ReplyText *reply) {
    DeviceState *state = Device.State;
    if (lstrcmpiA(word, "clear") == 0) {
        state->PageCount = 0;
    } else if (lstrcmpiA(word, "pages") == 0) {
        Reply(reply, "OK\n%ld\n", state->PageCount);
        return CommandDone;
    } else if (lstrcmpiA(word, "lcd") == 0) {
        Reply(reply, "OK\nstatus=%s\nmessage=%s\n", state->Lcd[0], state->Lcd[1]);
        return CommandDone;
    } else if (lstrcmpiA(word, "counters") == 0) {
        Reply(reply, "OK\npolls=%ld\nrequests=%ld\nscanned=%ld\nslow=%ld\n", state->PollCount,
              state->RequestCount, state->PagesScanned, state->SlowReads);
        return CommandDone;
    } else if (lstrcmpiA(word, "show") == 0) {
        char *text = args;
        long line = strtol(args, &text, 10);
        if (text == args || !SetLcdLine(state, (DWORD)line, text[0] == ' ' ? text + 1 : text))
            return Refuse(reply, "bad line");
    } else if (lstrcmpiA(word, "log") == 0 && lstrcmpiA(args, "clear") == 0) {
        state->LogCount = state->LogNext = 0;
    } else if (lstrcmpiA(word, "log") == 0) {
        Reply(reply, "OK\n");
        ListLog(reply);
        return CommandDone;
    } else if (lstrcmpiA(word, "registered") == 0) {
        Reply(reply, "OK\n");
        ListRegistrations(reply);
        return CommandDone;
    } else if (lstrcmpiA(word, "fault") == 0) {
        if (!SetFault(args, reply))
            return CommandFailed;
    } else if (lstrcmpiA(word, "port") == 0) {
        return SetPort(args, reply);
    } else if (lstrcmpiA(word, "hold") == 0) {
        return HoldDevice(args, reply);
    } else {
        return Refuse(reply, "unknown command");
    }
    Reply(reply, "OK\n");
    return CommandDone;
}

int ExecuteInput(const char *word, const char *args, ReplyText *reply) {
    if (lstrcmpiA(word, "press") == 0) {
        int key = FindPanelKey(args);
        if (key < 0)
            return Refuse(reply, "unknown key");
        PressPanelKey(key, 0);
    } else if (lstrcmpiA(word, "digits") == 0) {
        if (!args[0])
            return Refuse(reply, "no digits");
        for (const char *c = args; *c; c++)
            PressPanelKey(DeviceDigitKey, (BYTE)*c);
    } else if (lstrcmpiA(word, "load") == 0) {
        if (LoadFeeder(args) == 0)
            return Refuse(reply, "no page loaded");
    } else {
        return -1;
    }
    Reply(reply, "OK\n");
    return CommandDone;
}

} // namespace

void PressPanelKey(int key, BYTE character) {
    if (key < 0 || key >= DeviceKeyCount)
        return;
    DeviceState *state = Device.State;
    LockDevice(&Device);
    Post(&state->Keys[key], key == DeviceDigitKey ? character : 0);
    if (key == DeviceStopKey && state->Job.Active) {
        state->AbortPending = 1;
        SetEvent(Device.StopEvent);
        Post(&state->Job, PanelEventAbort);
    }
    UnlockDevice(&Device);
}

int LoadFeeder(const char *path) {
    DWORD attributes = GetFileAttributesA(path);
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return 0;
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY))
        return AppendPages(&path, 1);
    static char names[DeviceFeederSize][MAX_PATH]; // one load at a time: start-up, then the pipe
    const char *order[DeviceFeederSize];
    char pattern[MAX_PATH];
    snprintf(pattern, sizeof(pattern), "%s\\*", path);
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(pattern, &found);
    int count = 0;
    for (BOOL more = search != INVALID_HANDLE_VALUE; more && count < DeviceFeederSize;
         more = FindNextFileA(search, &found)) {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && IsPageFile(found.cFileName)) {
            snprintf(names[count], MAX_PATH, "%s\\%s", path, found.cFileName);
            order[count] = names[count];
            count++;
        }
    }
    if (search != INVALID_HANDLE_VALUE)
        FindClose(search);
    std::sort(order, order + count,
              [](const char *a, const char *b) { return lstrcmpiA(a, b) < 0; });
    return AppendPages(order, count);
}

int ExecuteDeviceCommand(char *command, char *text, int size) {
    ReplyText reply = {text, size, 0};
    text[0] = 0;
    size_t length = strlen(command);
    while (length && (command[length - 1] == '\r' || command[length - 1] == '\n' ||
                      command[length - 1] == ' '))
        command[--length] = 0;
    char *word = command + strspn(command, " ");
    char *args = word + strcspn(word, " ");
    if (*args)
        *args++ = 0;
    if (lstrcmpiA(word, "ping") == 0) {
        Reply(&reply, "OK\n");
        return CommandDone;
    }
    if (lstrcmpiA(word, "quit") == 0) {
        Reply(&reply, "OK\n");
        return CommandQuit;
    }
    int result = ExecuteInput(word, args, &reply);
    if (result >= 0)
        return result;
    LockDevice(&Device);
    result = ExecuteStateCommand(word, args, &reply);
    UnlockDevice(&Device);
    RefreshPanel();
    return result;
}

HANDLE CreateControlPipe() {
    HANDLE pipe = CreateNamedPipeA(DEVICE_PIPE_NAME, PIPE_ACCESS_DUPLEX,
                                   PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT, 1,
                                   ReplyBytes, CommandBytes, 0, NULL);
    return pipe == INVALID_HANDLE_VALUE ? NULL : pipe;
}

DWORD WINAPI ServeControlChannel(LPVOID parameter) {
    HANDLE pipe = (HANDLE)parameter;
    static char command[CommandBytes], reply[ReplyBytes]; // this thread's own buffers
    for (;;) {
        if (!ConnectNamedPipe(pipe, NULL) && GetLastError() != ERROR_PIPE_CONNECTED)
            continue;
        DWORD got = 0, written;
        int result = CommandFailed;
        if (ReadFile(pipe, command, sizeof(command) - 1, &got, NULL)) {
            command[got] = 0;
            result = ExecuteDeviceCommand(command, reply, sizeof(reply));
        } else {
            snprintf(reply, sizeof(reply), "ERR command too long\n");
        }
        WriteFile(pipe, reply, (DWORD)strlen(reply), &written, NULL);
        // The client closes its end once it has the whole reply; disconnecting earlier
        // would discard what it has not read yet.
        while (ReadFile(pipe, command, sizeof(command), &got, NULL) ||
               GetLastError() == ERROR_MORE_DATA)
            ;
        DisconnectNamedPipe(pipe);
        if (result == CommandQuit)
            PostMessageA(WindowOf(Device.State->DeviceWindow), WM_CLOSE, 0, 0);
    }
}
