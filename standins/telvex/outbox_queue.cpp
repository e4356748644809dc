#include "outbox_queue.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "delivery.h"
#include "mail_settings.h"
#include "telvex_ids.h"

static const ULONGLONG HourMs = 3600 * 1000;
// Whoever reads a file of the queue lets the others write, move, replace and
// delete it meanwhile: a reader (the outbox window, the agent) never makes
// another's filing or state change fail.
static const DWORD ReadersShare = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

ULONGLONG QueueNow() {
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    return (((ULONGLONG)now.dwHighDateTime << 32) | now.dwLowDateTime) / 10000;
}

// The first pause; never none, or a failure would be tried again at once.
static ULONGLONG FirstPause() {
    DWORD pause = StoreNumber("RetryPauseMs", 60 * 1000);
    return pause > 10 ? pause : 10;
}

DWORD LongestPause() {
    ULONGLONG longest = 64 * FirstPause();
    return (DWORD)(longest < HourMs ? longest : HourMs);
}

DWORD QueuePause(DWORD failures) {
    if (!failures) {
        return 0;
    }
    ULONGLONG pause = FirstPause() << (failures < 21 ? failures - 1 : 20);
    return pause < LongestPause() ? (DWORD)pause : LongestPause();
}

static int CompareNames(const void *a, const void *b) {
    return strcmp(((const QueuedMessage *)a)->Name, ((const QueuedMessage *)b)->Name);
}

int ListQueuedMessages(const char *outbox, QueuedMessage *out) {
    char pattern[MAX_PATH];
    snprintf(pattern, sizeof pattern, "%s*.eml", outbox);
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(pattern, &found);
    int count = 0;
    while (search != INVALID_HANDLE_VALUE) {
        if (count < QueueSize && lstrlenA(found.cFileName) < MessageNameSize &&
            !(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
            lstrcpynA(out[count].Name, found.cFileName, MessageNameSize);
            // Written once, whole, when it was queued: its time is the queue's.
            out[count].Queued = (((ULONGLONG)found.ftLastWriteTime.dwHighDateTime << 32) |
                                 found.ftLastWriteTime.dwLowDateTime) /
                                10000;
            // Not known yet: whoever needs them looks.
            out[count].MayHaveRecord = out[count].MayHaveNote = 1;
            out[count].HasEnvelope = 0;
            count++;
        }
        if (!FindNextFileA(search, &found)) {
            FindClose(search);
            break;
        }
    }
    qsort(out, count, sizeof *out, CompareNames);
    return count;
}

// One listing of the outbox for the files beside the messages. A file
// whose message is not found by its exact name (its name in other letters,
// say) may still be one's, as the system would open it: then every message
// may have a record or a note, and none is known to have its envelope.
void MarkFilesBeside(const char *outbox, QueuedMessage *listed, int count) {
    static const struct {
        const char *Extension;
        int QueuedMessage::*Mark;
    } Beside[] = {{".txt", &QueuedMessage::MayHaveRecord},
                  {".who", &QueuedMessage::MayHaveNote},
                  {".env", &QueuedMessage::HasEnvelope}};
    int unsure[3] = {};
    for (int i = 0; i < count; i++) {
        listed[i].MayHaveRecord = listed[i].MayHaveNote = listed[i].HasEnvelope = 0;
    }
    char pattern[MAX_PATH];
    snprintf(pattern, sizeof pattern, "%s*", outbox);
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(pattern, &found);
    while (search != INVALID_HANDLE_VALUE) {
        int stem = lstrlenA(found.cFileName) - 4;
        for (int kind = 0; kind < 3 && stem > 0; kind++) {
            if (_stricmp(found.cFileName + stem, Beside[kind].Extension) != 0) {
                continue;
            }
            QueuedMessage key;
            snprintf(key.Name, sizeof key.Name, "%.*s.eml", stem, found.cFileName);
            QueuedMessage *message =
                (QueuedMessage *)bsearch(&key, listed, count, sizeof key, CompareNames);
            if (message) {
                message->*Beside[kind].Mark = 1;
            }
            for (int i = 0; !message && i < count && !unsure[kind]; i++) {
                unsure[kind] = _stricmp(listed[i].Name, key.Name) == 0;
            }
        }
        if (!FindNextFileA(search, &found)) {
            FindClose(search);
            break;
        }
    }
    for (int i = 0; i < count; i++) {
        listed[i].MayHaveRecord |= unsure[0];
        listed[i].MayHaveNote |= unsure[1];
        listed[i].HasEnvelope &= !unsure[2];
    }
}

void QueuePath(char *out, const char *outbox, const char *folder, const char *message,
               const char *extension) {
    int stem = lstrlenA(message) - 4;
    snprintf(out, MAX_PATH, "%s%s%.*s%s", outbox, folder, stem > 0 ? stem : 0, message, extension);
}

int LoadEnvelope(const char *outbox, const char *message, Envelope *envelope, const char **why) {
    enum : DWORD { EnvelopeLimit = 256 * 1024 };
    char path[MAX_PATH];
    QueuePath(path, outbox, "", message, ".env");
    memset(envelope, 0, sizeof *envelope);
    *why = "its envelope cannot be read";
    HANDLE file = CreateFileA(path, GENERIC_READ, ReadersShare, NULL, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE) {
        DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? EnvelopeMissing
                                                                              : EnvelopeBusy;
    }
    DWORD size = GetFileSize(file, NULL), got = 0;
    char *text = size < EnvelopeLimit ? (char *)HeapAlloc(GetProcessHeap(), 0, size + 1) : NULL;
    int read = text && ReadFile(file, text, size, &got, NULL) && got == size;
    CloseHandle(file);
    if (!read) {
        if (text) {
            HeapFree(GetProcessHeap(), 0, text);
        }
        if (size >= EnvelopeLimit) {
            *why = "its envelope is larger than any the library writes";
            return EnvelopeDamaged;
        }
        return EnvelopeBusy;
    }
    text[size] = 0;
    *why = ParseEnvelope(text, size, envelope);
    return *why ? EnvelopeDamaged : EnvelopeWhole;
}

void FreeEnvelope(Envelope *envelope) {
    if (envelope->Text) {
        HeapFree(GetProcessHeap(), 0, envelope->Text);
    }
    memset(envelope, 0, sizeof *envelope);
}

QueueState *NewQueueState() {
    QueueState *state = (QueueState *)HeapAlloc(GetProcessHeap(), 0, sizeof(QueueState));
    if (state) {
        state->Count[MessageEntry] = state->Count[ProfileEntry] = 0;
    }
    return state;
}

void FreeQueueState(QueueState *state) {
    if (state) {
        HeapFree(GetProcessHeap(), 0, state);
    }
}

static void StatePath(char *out, const char *outbox, const char *name) {
    snprintf(out, MAX_PATH, "%s%s", outbox, name);
}

void LoadQueueState(const char *outbox, QueueState *state) {
    enum : DWORD { StateLimit = 8 * 1024 * 1024 };
    char path[MAX_PATH];
    StatePath(path, outbox, TELVEX_QUEUE_FILE);
    state->Count[MessageEntry] = state->Count[ProfileEntry] = 0;
    HANDLE file = CreateFileA(path, GENERIC_READ, ReadersShare, NULL, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE) {
        return;
    }
    DWORD size = GetFileSize(file, NULL), got = 0;
    char *text = size < StateLimit ? (char *)HeapAlloc(GetProcessHeap(), 0, size + 1) : NULL;
    if (text && ReadFile(file, text, size, &got, NULL) && got == size) {
        ReadQueueState(text, size, state);
    }
    CloseHandle(file);
    if (text) {
        HeapFree(GetProcessHeap(), 0, text);
    }
}

// The one lock over every outbox's queue.ini, held while a change is read,
// made and written; opened once a process. 0 when it cannot be had.
static HANDLE QueueLock;

static int LockQueues() {
    if (!QueueLock) {
        HANDLE lock = CreateMutexA(NULL, FALSE, TELVEX_QUEUE_MUTEX);
        if (lock && InterlockedCompareExchangePointer(&QueueLock, lock, NULL) != NULL) {
            CloseHandle(lock); // another thread opened it first
        }
    }
    DWORD wait = QueueLock ? WaitForSingleObject(QueueLock, 30 * 1000) : WAIT_FAILED;
    return wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED;
}

static void UnlockQueues() {
    ReleaseMutex(QueueLock);
}

// The state a change reads and writes back: used only under the lock.
static QueueState Scratch;

// Writes the state whole beside queue.ini, then puts it in its place: a full
// disk leaves queue.ini as it was, and says so. No state, no file.
static int WriteState(const char *outbox, const QueueState *state) {
    char path[MAX_PATH], temporary[MAX_PATH];
    StatePath(path, outbox, TELVEX_QUEUE_FILE);
    if (!state->Count[MessageEntry] && !state->Count[ProfileEntry]) {
        return DeleteFileA(path) || GetLastError() == ERROR_FILE_NOT_FOUND;
    }
    StatePath(temporary, outbox, "queue.new");
    DWORD size = QueueStateTextSize(state);
    char *text = (char *)HeapAlloc(GetProcessHeap(), 0, size);
    int length = text ? WriteQueueState(state, text, size) : -1;
    int ok = length >= 0 && WriteNewFile(temporary, text, (DWORD)length) &&
             MoveFileExA(temporary, path, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
    if (text) {
        HeapFree(GetProcessHeap(), 0, text);
    }
    if (!ok) {
        DWORD error = GetLastError();
        DeleteFileA(temporary);
        SetLastError(error);
    }
    return ok;
}

int SaveQueueState(const char *outbox, const QueueState *state) {
    if (!LockQueues()) {
        return 0;
    }
    int ok = WriteState(outbox, state);
    UnlockQueues();
    return ok;
}

// What queue.ini holds, changed by edit, written back; 1/0.
static int ChangeState(const char *outbox, int (*edit)(QueueState *, const void *),
                       const void *context) {
    if (!LockQueues()) {
        return 0;
    }
    LoadQueueState(outbox, &Scratch);
    int ok = edit(&Scratch, context) && WriteState(outbox, &Scratch);
    UnlockQueues();
    return ok;
}

struct EntryChange {
    int Kind;
    const char *Name;
    const QueueEntry *Entry;
};

static int SetEntry(QueueState *state, const void *context) {
    const EntryChange *change = (const EntryChange *)context;
    if (!change->Entry) {
        ForgetQueueEntry(state, change->Kind, change->Name);
        return 1;
    }
    QueueEntry *entry = FindQueueEntry(state, change->Kind, change->Name, 1);
    if (entry) {
        *entry = *change->Entry;
    }
    return entry != NULL;
}

int ChangeQueueEntry(const char *outbox, int kind, const char *name, const QueueEntry *entry) {
    EntryChange change = {kind, name, entry};
    return ChangeState(outbox, SetEntry, &change);
}

struct Forgetting {
    const char *const *Names;
    int Count;
};

static int ForgetAll(QueueState *state, const void *context) {
    const Forgetting *forgetting = (const Forgetting *)context;
    for (int i = 0; i < forgetting->Count; i++) {
        ForgetQueueEntry(state, MessageEntry, forgetting->Names[i]);
    }
    return 1;
}

int ForgetQueuedMessages(const char *outbox, const char *const *names, int count) {
    Forgetting forgetting = {names, count};
    return !count || ChangeState(outbox, ForgetAll, &forgetting);
}

// The message (and its profile, named in its envelope) due at once.
struct RetryChange {
    const char *Message;
    const char *Profile;
};

static int MakeDue(QueueState *state, const void *context) {
    const RetryChange *change = (const RetryChange *)context;
    QueueEntry *message = FindQueueEntry(state, MessageEntry, change->Message, 0);
    QueueEntry *profile =
        change->Profile ? FindQueueEntry(state, ProfileEntry, change->Profile, 0) : NULL;
    if (message) {
        message->NextTry = 0;
    }
    if (profile) {
        profile->NextTry = 0;
        profile->Held = 0;
    }
    return 1;
}

int RetryQueuedMessage(const char *outbox, const char *message) {
    char path[MAX_PATH];
    QueuePath(path, outbox, "", message, ".eml");
    if (GetFileAttributesA(path) == INVALID_FILE_ATTRIBUTES) {
        return 0;
    }
    Envelope envelope;
    const char *why;
    LoadEnvelope(outbox, message, &envelope, &why);
    RetryChange change = {message, envelope.Profile};
    int ok = ChangeState(outbox, MakeDue, &change);
    FreeEnvelope(&envelope);
    if (ok) {
        WakeDeliveryAgent();
    }
    return ok;
}

struct Removal {
    const char *Outbox, *Message;
};

// Takes the message's files away; 0 when it cannot go (nothing is changed).
static int Remove(QueueState *state, const void *context) {
    const Removal *removal = (const Removal *)context;
    QueueEntry *entry = FindQueueEntry(state, MessageEntry, removal->Message, 0);
    char path[MAX_PATH];
    QueuePath(path, removal->Outbox, "", removal->Message, ".eml");
    // The agent holds the file open while it sends it: it cannot go then.
    if ((entry && entry->Held) || !DeleteFileA(path)) {
        return 0;
    }
    static const char *const Beside[] = {".env", ".txt"};
    for (const char *extension : Beside) {
        QueuePath(path, removal->Outbox, "", removal->Message, extension);
        DeleteFileA(path);
    }
    ForgetQueueEntry(state, MessageEntry, removal->Message);
    return 1;
}

int RemoveQueuedMessage(const char *outbox, const char *message) {
    Removal removal = {outbox, message};
    return ChangeState(outbox, Remove, &removal);
}

static int Restart(QueueState *state, const void *context) {
    ForgetQueueEntry(state, ProfileEntry, (const char *)context);
    return 1;
}

// 1 when the outbox holds a message for the agent (one with an envelope).
static int HoldsMail(const char *outbox) {
    char pattern[MAX_PATH];
    snprintf(pattern, sizeof pattern, "%s*.env", outbox);
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(pattern, &found);
    if (search != INVALID_HANDLE_VALUE) {
        FindClose(search);
    }
    return search != INVALID_HANDLE_VALUE;
}

int RestartProfileQueue(const char *outbox, const char *profile) {
    int ok = ChangeState(outbox, Restart, profile);
    if (HoldsMail(outbox)) {
        WakeDeliveryAgent();
    }
    return ok;
}

// Mail waits where an outbox holds some and its profile names a server. The
// outbox is looked at first: it is mostly empty, and the profile's settings
// take several reads of the store, made at the program's start.
static void FindWaitingMail(const char *profile, void *context) {
    MailProfile mail;
    char outbox[MAX_PATH];
    if (*(int *)context) {
        return;
    }
    ProfileOutbox(profile, outbox, sizeof outbox);
    *(int *)context = HoldsMail(outbox) && LoadMailProfile(profile, &mail);
}

int WakeAgentForWaitingMail() {
    int waiting = 0;
    ForEachProfile(FindWaitingMail, &waiting);
    if (waiting) {
        WakeDeliveryAgent();
    }
    return waiting;
}

int ReadFileInto(const char *path, char *out, DWORD size) {
    out[0] = 0;
    HANDLE file = CreateFileA(path, GENERIC_READ, ReadersShare, NULL, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE) {
        return -1;
    }
    DWORD length = GetFileSize(file, NULL), got = 0;
    int ok = length < size && ReadFile(file, out, length, &got, NULL) && got == length;
    CloseHandle(file);
    out[ok ? length : 0] = 0;
    return ok ? (int)length : -1;
}

int WriteNewFile(const char *path, const char *text, DWORD length) {
    SetLastError(0); // a write cut short sets none
    HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_WRITE_THROUGH, NULL);
    DWORD written = 0;
    int ok = file != INVALID_HANDLE_VALUE && WriteFile(file, text, length, &written, NULL) &&
             written == length;
    return file != INVALID_HANDLE_VALUE && CloseHandle(file) && ok;
}
