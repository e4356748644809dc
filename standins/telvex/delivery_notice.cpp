#include "delivery_notice.h"

#include <stdio.h>
#include <string.h>

#include "abi/telvex_abi.h"
#include "outbox_queue.h"

// Who NotifyDelivery named last; read and written only while FollowLock is 1,
// held for the few instructions that copy them.
static volatile LONG FollowLock;
static HWND FollowWindow;
static UINT FollowMessage;
static DWORD FollowJob;

static void LockFollow() {
    while (InterlockedExchange(&FollowLock, 1)) {
        Sleep(0);
    }
}

static void UnlockFollow() {
    InterlockedExchange(&FollowLock, 0);
}

int RegisteredMessage(UINT message) {
    return message >= 0xC000 && message <= 0xFFFF;
}

void FollowDeliveries(HWND window, UINT message, DWORD job) {
    LockFollow();
    FollowWindow = window;
    FollowMessage = message;
    FollowJob = job;
    UnlockFollow();
}

// The note's one line: window, message, job, process, and 1 once the
// message was told to wait.
struct DeliveryNote {
    unsigned long long Window;
    unsigned long Message, Job, Process, ToldKept;
};
enum : int { NoteSize = 128 };

static int WriteNote(const char *path, const DeliveryNote *note) {
    char text[NoteSize];
    int length = snprintf(text, sizeof text, "%llu %lu %lu %lu %lu\r\n", note->Window,
                          note->Message, note->Job, note->Process, note->ToldKept);
    return WriteNewFile(path, text, (DWORD)length);
}

int WriteDeliveryNote(const char *path) {
    LockFollow();
    DeliveryNote note = {(ULONG_PTR)FollowWindow, FollowMessage, FollowJob, GetCurrentProcessId(),
                         0};
    UnlockFollow();
    return !note.Window || WriteNote(path, &note);
}

// The outcome of a message filed in folder: the filed record holds every
// attempt's, and one that refused a recipient for good has a "Refused:" line.
static DWORD FiledOutcome(const char *outbox, const char *message, const char *folder) {
    if (strcmp(folder, "Sent\\") != 0) {
        return DeliveryFailed;
    }
    enum : DWORD { RecordLimit = 64 * 1024 };
    char path[MAX_PATH];
    char *record = (char *)HeapAlloc(GetProcessHeap(), 0, RecordLimit);
    QueuePath(path, outbox, folder, message, ".txt");
    int refused =
        record && ReadFileInto(path, record, RecordLimit) >= 0 && strstr(record, "\nRefused:\r\n");
    if (record) {
        HeapFree(GetProcessHeap(), 0, record);
    }
    return refused ? DeliveryPartlySent : DeliverySent;
}

// Tells whoever asked about the message: that it waits (folder NULL), or
// what its filing in folder says. Without a note, nothing more is read.
static void Tell(const char *outbox, const QueuedMessage *queued, const char *folder) {
    char path[MAX_PATH], text[NoteSize];
    const char *message = queued->Name;
    QueuePath(path, outbox, "", message, ".who");
    if (!queued->MayHaveNote || ReadFileInto(path, text, sizeof text) < 0) {
        return; // no one asked
    }
    DWORD outcome = folder ? FiledOutcome(outbox, message, folder) : DeliveryDelayed;
    DeliveryNote note;
    int whole = sscanf(text, "%llu %lu %lu %lu %lu", &note.Window, &note.Message, &note.Job,
                       &note.Process, &note.ToldKept) == 5;
    if (whole && outcome == DeliveryDelayed && note.ToldKept) {
        return;
    }
    // A window of another process now (the program has ended, its handle
    // reused) is not told, and only a registered message is ever posted: a
    // note written by anyone else cannot make the agent close a window.
    HWND window = (HWND)(ULONG_PTR)note.Window;
    DWORD process = 0;
    if (whole && RegisteredMessage(note.Message) && IsWindow(window) &&
        GetWindowThreadProcessId(window, &process) && process == note.Process) {
        PostMessageA(window, note.Message, note.Job, outcome);
    }
    if (whole && outcome == DeliveryDelayed) {
        note.ToldKept = 1;
        WriteNote(path, &note);
    } else {
        DeleteFileA(path);
    }
}

void TellFiled(const char *outbox, const QueuedMessage *message, const char *folder) {
    Tell(outbox, message, folder);
}

void TellKept(const char *outbox, const QueuedMessage *message) {
    Tell(outbox, message, NULL);
}
