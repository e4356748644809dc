#include "outbox_view.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "delivery.h"
#include "mail_settings.h"
#include "store.h"
#include "transport.h"

enum : int { LineSize = 1024 };
enum : DWORD { RecordLimit = 64 * 1024 };

// What one reading of every outbox works with.
struct ViewReading {
    OutboxView *View;
    const OutboxView *Earlier;
    QueueState *State;
    QueuedMessage *Files; // QueueSize of them
    char *Record;         // RecordLimit bytes
    char Outboxes[OutboxLimit][MAX_PATH];
    int OutboxCount;
};

// Adds text to a summary list, "; " between items; what does not fit is cut.
static void AddSummary(char *list, const char *text, int length) {
    int used = lstrlenA(list);
    snprintf(list + used, SummarySize - used, "%s%.*s", used ? "; " : "", length, text);
}

// One line of a message's file: in its header, the To: field (with its
// continuation lines); after it, the file names of the attachments.
struct MessageScan {
    int InHeader, InTo;
    char *Recipients, *Attachments;
};

static void ScanLine(MessageScan *scan, const char *line) {
    if (scan->InHeader) {
        if (!line[0]) {
            scan->InHeader = 0;
            return;
        }
        int continued = line[0] == ' ' || line[0] == '\t';
        scan->InTo = continued ? scan->InTo : _strnicmp(line, "To:", 3) == 0;
        // The mailboxes between angle brackets.
        for (const char *open = strchr(line, '<'); scan->InTo && open; open = strchr(open, '<')) {
            const char *close = strchr(++open, '>');
            if (close) {
                AddSummary(scan->Recipients, open, (int)(close - open));
            }
        }
        return;
    }
    const char *name =
        _strnicmp(line, "Content-Disposition:", 20) == 0 ? strstr(line, "filename=\"") : NULL;
    if (name) {
        name += 10;
        const char *end = strchr(name, '"');
        AddSummary(scan->Attachments, name, end ? (int)(end - name) : lstrlenA(name));
    }
}

// Reads a message's file line by line (a large one a block at a time).
static void ScanMessage(const char *path, char *recipients, char *attachments) {
    recipients[0] = attachments[0] = 0;
    HANDLE file =
        CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    NULL, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, NULL);
    if (file == INVALID_HANDLE_VALUE) {
        return;
    }
    MessageScan scan = {1, 0, recipients, attachments};
    static char block[64 * 1024];
    char line[LineSize];
    int used = 0;
    DWORD got;
    while (ReadFile(file, block, sizeof block, &got, NULL) && got) {
        for (DWORD i = 0; i < got; i++) {
            if (block[i] == '\n') {
                used -= used && line[used - 1] == '\r';
                line[used] = 0;
                ScanLine(&scan, line);
                used = 0;
            } else if (used < LineSize - 1) {
                line[used++] = block[i];
            }
        }
    }
    CloseHandle(file);
}

static int CompareItems(const void *a, const void *b) {
    const OutboxViewItem *x = (const OutboxViewItem *)a, *y = (const OutboxViewItem *)b;
    int failed = (x->State == ViewFailed) - (y->State == ViewFailed);
    if (failed || x->Queued != y->Queued) {
        return failed ? failed : x->Queued < y->Queued ? -1 : 1;
    }
    int name = strcmp(x->Name, y->Name);
    return name ? name : _stricmp(x->Outbox, y->Outbox);
}

// The item's recipients and attachments: taken from the earlier reading
// when that has the message, else read from its file.
static void Summarize(const ViewReading *reading, OutboxViewItem *item, const char *path,
                      const Envelope *envelope) {
    const OutboxViewItem *known =
        reading->Earlier
            ? (const OutboxViewItem *)bsearch(item, reading->Earlier->Items,
                                              reading->Earlier->Count, sizeof *item, CompareItems)
            : NULL;
    if (known) {
        lstrcpynA(item->Recipients, known->Recipients, SummarySize);
        lstrcpynA(item->Attachments, known->Attachments, SummarySize);
    } else {
        ScanMessage(path, item->Recipients, item->Attachments);
    }
    // Where the envelope is whole it names those still to get the message.
    if (envelope) {
        item->Recipients[0] = 0;
        const char *recipient = envelope->Recipients;
        for (int i = 0; i < envelope->Count; i++) {
            AddSummary(item->Recipients, recipient, lstrlenA(recipient));
            recipient += strlen(recipient) + 1;
        }
    }
}

static ULONGLONG Later(ULONGLONG a, ULONGLONG b) {
    return a > b ? a : b;
}

// The outbox's messages (folder "") or its failed ones (folder "Failed\").
static void ReadFolder(ViewReading *reading, const char *outbox, const char *folder) {
    char directory[MAX_PATH], path[MAX_PATH];
    snprintf(directory, sizeof directory, "%s%s", outbox, folder);
    int failed = folder[0] != 0;
    int count = ListQueuedMessages(directory, reading->Files);
    for (int i = 0; i < count && reading->View->Count < ViewCapacity; i++) {
        OutboxViewItem *item = &reading->View->Items[reading->View->Count++];
        memset(item, 0, sizeof *item);
        lstrcpynA(item->Outbox, outbox, MAX_PATH);
        lstrcpynA(item->Name, reading->Files[i].Name, MessageNameSize);
        item->Queued = reading->Files[i].Queued;
        Envelope envelope;
        const char *why;
        int kind = LoadEnvelope(directory, item->Name, &envelope, &why);
        item->Delivers = kind != EnvelopeMissing;
        item->State = failed ? ViewFailed : ViewQueued;
        QueuePath(path, outbox, folder, item->Name, ".eml");
        Summarize(reading, item, path, kind == EnvelopeWhole ? &envelope : NULL);
        if (failed) {
            // The last attempt's reply ends the record.
            QueuePath(path, outbox, folder, item->Name, ".txt");
            const char *reply = NULL;
            if (ReadFileInto(path, reading->Record, RecordLimit) >= 0) {
                for (const char *at = strstr(reading->Record, "\nReply: "); at;
                     at = strstr(at + 1, "\nReply: ")) {
                    reply = at + 8;
                }
            }
            if (reply) {
                lstrcpynA(item->Reply, reply, (int)(strcspn(reply, "\r\n") + 1));
            }
        } else {
            const QueueEntry *entry = FindQueueEntry(reading->State, MessageEntry, item->Name, 0);
            const QueueEntry *profile =
                kind == EnvelopeWhole
                    ? FindQueueEntry(reading->State, ProfileEntry, envelope.Profile, 0)
                    : NULL;
            const QueueEntry *last = entry && entry->Reply[0] ? entry : profile;
            if (last) {
                lstrcpynA(item->Reply, last->Reply, ReplySize);
            } else if (kind == EnvelopeDamaged) {
                lstrcpynA(item->Reply, why, ReplySize);
            }
            if (entry && entry->Held) {
                item->State = ViewSent;
            } else if (profile && profile->Held) {
                item->State = ViewStopped;
            } else if (entry || profile) {
                item->State = ViewDelayed;
                item->NextTry = Later(entry ? entry->NextTry : 0, profile ? profile->NextTry : 0);
            }
        }
        FreeEnvelope(&envelope);
    }
}

struct OutboxList {
    char (*Folders)[MAX_PATH];
    int Count, Capacity;
};

static void AddOutbox(const char *profile, void *context) {
    OutboxList *list = (OutboxList *)context;
    char outbox[MAX_PATH];
    ProfileOutbox(profile, outbox, sizeof outbox);
    for (int i = 0; i < list->Count; i++) {
        if (_stricmp(list->Folders[i], outbox) == 0) {
            return;
        }
    }
    if (list->Count < list->Capacity) {
        lstrcpynA(list->Folders[list->Count++], outbox, MAX_PATH);
    }
}

int ListOutboxes(char (*outboxes)[MAX_PATH], int capacity) {
    OutboxList list = {outboxes, 0, capacity};
    ForEachProfile(AddOutbox, &list);
    return list.Count;
}

void ReadOutboxView(OutboxView *view, const OutboxView *earlier) {
    static ViewReading reading;
    reading.View = view;
    reading.Earlier = earlier;
    view->Count = 0;
    if (!reading.State) {
        reading.State = NewQueueState();
        reading.Files =
            (QueuedMessage *)HeapAlloc(GetProcessHeap(), 0, QueueSize * sizeof(QueuedMessage));
        reading.Record = (char *)HeapAlloc(GetProcessHeap(), 0, RecordLimit);
    }
    if (!reading.State || !reading.Files || !reading.Record) {
        return;
    }
    reading.OutboxCount = ListOutboxes(reading.Outboxes, OutboxLimit);
    for (int i = 0; i < reading.OutboxCount; i++) {
        LoadQueueState(reading.Outboxes[i], reading.State);
        ReadFolder(&reading, reading.Outboxes[i], "");
        ReadFolder(&reading, reading.Outboxes[i], "Failed\\");
    }
    qsort(view->Items, view->Count, sizeof view->Items[0], CompareItems);
}

// A time as the window shows it, local: "2024-03-05 10:07".
static void TimeText(ULONGLONG milliseconds, char *out, int size) {
    ULONGLONG ticks = milliseconds * 10000;
    FILETIME utc = {(DWORD)ticks, (DWORD)(ticks >> 32)};
    SYSTEMTIME universal, local;
    if (!FileTimeToSystemTime(&utc, &universal) ||
        !SystemTimeToTzSpecificLocalTime(NULL, &universal, &local)) {
        lstrcpynA(out, "", size);
        return;
    }
    snprintf(out, size, "%04u-%02u-%02u %02u:%02u", local.wYear, local.wMonth, local.wDay,
             local.wHour, local.wMinute);
}

void ViewColumnText(const OutboxViewItem *item, int column, char *out, int size) {
    static const char *const States[] = {"Queued", "Delayed", "Stopped", "Sent, being filed",
                                         "Failed"};
    out[0] = 0;
    switch (column) {
    case 0:
        TimeText(item->Queued, out, size);
        break;
    case 1:
        lstrcpynA(out, item->Recipients, size);
        break;
    case 2:
        lstrcpynA(out, item->Attachments, size);
        break;
    case 3:
        lstrcpynA(out, States[item->State], size);
        break;
    case 4:
        lstrcpynA(out, item->Reply, size);
        break;
    default:
        // A message without an envelope waits for a pickup service, not for the agent.
        if (item->State == ViewStopped) {
            lstrcpynA(out, "when its settings change", size);
        } else if (item->State == ViewDelayed && item->NextTry > QueueNow()) {
            TimeText(item->NextTry, out, size);
        } else if ((item->State == ViewQueued || item->State == ViewDelayed) && item->Delivers) {
            lstrcpynA(out, "now", size);
        }
        break;
    }
}

int CanRetry(const OutboxViewItem *item) {
    return item->State == ViewDelayed || item->State == ViewStopped ||
           (item->State == ViewFailed && item->Delivers);
}

int CanRemove(const OutboxViewItem *item) {
    return item->State != ViewSent;
}

// Back into the profile's outbox under a new name, so that it counts as
// queued now: its envelope anew (the sender as the profile says now), its
// record, then the message itself.
static const char *SendFailedAgain(const OutboxViewItem *item) {
    char failed[MAX_PATH], outbox[MAX_PATH], stem[64], message[MessageNameSize];
    char from[MAX_PATH], to[MAX_PATH], envelopePath[MAX_PATH], sender[MailboxSize];
    snprintf(failed, sizeof failed, "%sFailed\\", item->Outbox);
    Envelope envelope;
    const char *why;
    if (LoadEnvelope(failed, item->Name, &envelope, &why) != EnvelopeWhole) {
        FreeEnvelope(&envelope);
        return "Its envelope is missing or damaged, so it cannot be sent again.";
    }
    if (!ProfileExists(envelope.Profile) ||
        !ProfileEnvelopeSender(envelope.Profile, sender, sizeof sender)) {
        FreeEnvelope(&envelope);
        return "Its profile no longer exists or has no server to deliver to.";
    }
    ProfileOutbox(envelope.Profile, outbox, sizeof outbox);
    NewMessageStem(stem, sizeof stem);
    snprintf(message, sizeof message, "%s.eml", stem);
    QueuePath(envelopePath, outbox, "", message, ".env");
    DWORD size = (DWORD)lstrlenA(envelope.Profile) + MailboxSize + 8;
    const char *recipient = envelope.Recipients;
    for (int i = 0; i < envelope.Count; i++) {
        size += lstrlenA(recipient) + 2;
        recipient += strlen(recipient) + 1;
    }
    char *text = (char *)HeapAlloc(GetProcessHeap(), 0, size);
    int ok = text != NULL;
    if (ok) {
        int used = snprintf(text, size, "%s\r\n%s\r\n", envelope.Profile, sender);
        recipient = envelope.Recipients;
        for (int i = 0; i < envelope.Count; i++) {
            used += snprintf(text + used, size - used, "%s\r\n", recipient);
            recipient += strlen(recipient) + 1;
        }
        ok = WriteNewFile(envelopePath, text, (DWORD)used);
        HeapFree(GetProcessHeap(), 0, text);
    }
    FreeEnvelope(&envelope);
    QueuePath(from, item->Outbox, "Failed\\", item->Name, ".txt");
    QueuePath(to, outbox, "", message, ".txt");
    int record = ok && MoveFileExA(from, to, MOVEFILE_COPY_ALLOWED | MOVEFILE_REPLACE_EXISTING);
    ok = ok && (record || GetLastError() == ERROR_FILE_NOT_FOUND);
    // Queued now: the agent gives up a message by the time its file was written.
    QueuePath(from, item->Outbox, "Failed\\", item->Name, ".eml");
    HANDLE file = ok ? CreateFileA(from, FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, NULL,
                                   OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL)
                     : INVALID_HANDLE_VALUE;
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    ok = file != INVALID_HANDLE_VALUE && SetFileTime(file, NULL, NULL, &now);
    if (file != INVALID_HANDLE_VALUE) {
        CloseHandle(file);
    }
    QueuePath(to, outbox, "", message, ".eml");
    ok = ok && MoveFileExA(from, to, MOVEFILE_COPY_ALLOWED | MOVEFILE_WRITE_THROUGH);
    if (!ok) {
        if (record) {
            QueuePath(from, outbox, "", message, ".txt");
            QueuePath(to, item->Outbox, "Failed\\", item->Name, ".txt");
            MoveFileExA(from, to, MOVEFILE_COPY_ALLOWED | MOVEFILE_REPLACE_EXISTING);
        }
        DeleteFileA(envelopePath);
        return "It cannot be moved back into its outbox.";
    }
    QueuePath(from, item->Outbox, "Failed\\", item->Name, ".env");
    DeleteFileA(from);
    if (!RetryQueuedMessage(outbox, message)) {
        WakeDeliveryAgent();
    }
    return NULL;
}

const char *RetryViewItem(const OutboxViewItem *item) {
    if (item->State == ViewFailed) {
        return SendFailedAgain(item);
    }
    if (item->State != ViewDelayed && item->State != ViewStopped) {
        return "Only a delayed, stopped or failed message can be tried again.";
    }
    return RetryQueuedMessage(item->Outbox, item->Name) ? NULL
                                                        : "It is no longer waiting in its outbox.";
}

const char *RemoveViewItem(const OutboxViewItem *item) {
    char path[MAX_PATH];
    if (item->State == ViewFailed) {
        QueuePath(path, item->Outbox, "Failed\\", item->Name, ".eml");
        if (!DeleteFileA(path)) {
            return "It cannot be removed from the Failed folder.";
        }
        static const char *const Beside[] = {".env", ".txt"};
        for (const char *extension : Beside) {
            QueuePath(path, item->Outbox, "Failed\\", item->Name, extension);
            DeleteFileA(path);
        }
        return NULL;
    }
    if (item->State == ViewSent || !RemoveQueuedMessage(item->Outbox, item->Name)) {
        return "It is being sent or filed now, or has already left its outbox.";
    }
    QueuePath(path, item->Outbox, "", item->Name, ".who");
    DeleteFileA(path);
    return NULL;
}
