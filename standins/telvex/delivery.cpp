#include "delivery.h"

#include <stdio.h>
#include <string.h>

#include "mime.h"
#include "telvex_ids.h"

static int WriteLine(HANDLE file, const char *text) {
    DWORD written;
    DWORD length = lstrlenA(text);
    return WriteFile(file, text, length, &written, NULL) && written == length &&
           WriteFile(file, "\r\n", 2, &written, NULL) && written == 2;
}

int WriteEnvelope(const char *path, const char *profile, const char *sender,
                  const RecipientLink *link, const char *gateway) {
    HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_WRITE_THROUGH, NULL);
    if (file == INVALID_HANDLE_VALUE) {
        return 0;
    }
    int ok = WriteLine(file, profile) && WriteLine(file, sender);
    for (DWORD i = 0; ok && i < link->RecipientCount; i++) {
        char mailbox[MailboxSize];
        ok = RecipientMailbox(link->Recipients[i].Address, gateway, mailbox, sizeof mailbox) &&
             WriteLine(file, mailbox);
    }
    ok = CloseHandle(file) && ok;
    if (!ok) {
        DeleteFileA(path);
    }
    return ok;
}

void WakeDeliveryAgent() {
    // The agent holds its mutex while it runs; it looks at the outboxes once
    // more after letting it go, so a message queued meanwhile is not missed.
    HANDLE running = OpenMutexA(SYNCHRONIZE, FALSE, TELVEX_AGENT_MUTEX);
    if (running) {
        CloseHandle(running);
        HANDLE wake = OpenEventA(EVENT_MODIFY_STATE, FALSE, TELVEX_AGENT_WAKE);
        if (wake) {
            SetEvent(wake);
            CloseHandle(wake);
            return;
        }
    }
    HMODULE library = NULL;
    char path[MAX_PATH];
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                           GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       (LPCSTR)&WakeDeliveryAgent, &library);
    DWORD length = GetModuleFileNameA(library, path, sizeof path);
    char *slash = strrchr(path, '\\');
    if (!length || length >= sizeof path || !slash) {
        return;
    }
    lstrcpynA(slash + 1, TELVEX_AGENT_FILE, (int)(path + sizeof path - slash - 1));
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES; // none: it must not hold its starter's output open
    PROCESS_INFORMATION process;
    if (CreateProcessA(path, NULL, NULL, NULL, FALSE, DETACHED_PROCESS, NULL, NULL, &startup,
                       &process)) {
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
}
