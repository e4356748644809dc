#include "outbox_filing.h"

#include <stdio.h>
#include <string.h>

#include "outbox_queue.h"

int AddToList(char *list, const char *first, const char *second) {
    int used = lstrlenA(list), room = ListSize - used;
    int length = snprintf(list + used, room, second ? "%s: %s\r\n" : "%s\n", first, second);
    if (length < 0 || length >= room) {
        list[used] = 0;
        return 0;
    }
    return 1;
}

// "server:port", or what stands for it when the message names no profile
// with a server.
static void ServerText(const MailProfile *mail, char *out, int size) {
    if (mail && mail->Server[0]) {
        snprintf(out, size, "%s:%u", mail->Server, mail->Port);
    } else {
        lstrcpynA(out, "(no server)", size);
    }
}

// What an attempt did, as the lines of a delivery record; the records of
// earlier partial deliveries come before it, as far as they fit.
enum : int { RecordSize = ReplySize + 2 * ListSize + 512, EarlierSize = 4 * RecordSize };
static int AtLeastNone(int length) {
    return length > 0 ? length : 0;
}
static void RecordText(char *out, const MailProfile *mail, const DeliveryResult *result) {
    char time[32], server[StoreTextSize + 16];
    UtcTimeText(time, sizeof time);
    ServerText(mail, server, sizeof server);
    snprintf(out, RecordSize, "Time: %s\r\nServer: %s\r\nReply: %s\r\n%s%s%s%s", time, server,
             result->Reply, result->Refused[0] ? "Refused:\r\n" : "", result->Refused,
             result->Deferred[0] ? "Deferred:\r\n" : "", result->Deferred);
}

// The record comes first and the message leaves the outbox last, so that a
// message that has left it always says why. The folder may be on another
// disk: what cannot be moved there is copied, and a full disk cuts a copy
// short.
DWORD FileMessage(const char *outbox, const QueuedMessage *queued, const char *folder,
                  const MailProfile *mail, const DeliveryResult *result) {
    static char record[EarlierSize + RecordSize];
    char path[MAX_PATH], target[MAX_PATH], earlier[MAX_PATH];
    const char *message = queued->Name;
    QueuePath(earlier, outbox, "", message, ".txt");
    int earlierLength = queued->MayHaveRecord ? ReadFileInto(earlier, record, EarlierSize) : -1;
    RecordText(record + AtLeastNone(earlierLength), mail, result);
    QueuePath(target, outbox, folder, message, ".txt");
    int ok = WriteNewFile(target, record, lstrlenA(record));
    if (!ok && GetLastError() == ERROR_PATH_NOT_FOUND) {
        // The folder is made with the first message filed in it.
        snprintf(path, sizeof path, "%s%s", outbox, folder);
        ok = CreateDirectoryA(path, NULL) && WriteNewFile(target, record, lstrlenA(record));
    }
    QueuePath(path, outbox, "", message, ".env");
    QueuePath(target, outbox, folder, message, ".env");
    // A message without an envelope (a damaged one is kept) files without it.
    // The envelope of one the server took goes ahead of it (its note says
    // it was taken); any other's is copied, so that until the message has
    // gone the outbox still holds it for the agent.
    int taken = result->Outcome == Delivered;
    if (ok) {
        ok = (taken ? MoveFileExA(path, target, MOVEFILE_COPY_ALLOWED | MOVEFILE_REPLACE_EXISTING)
                    : CopyFileA(path, target, FALSE)) ||
             GetLastError() == ERROR_FILE_NOT_FOUND;
    }
    QueuePath(path, outbox, "", message, ".eml");
    QueuePath(target, outbox, folder, message, ".eml");
    ok = ok &&
         MoveFileExA(path, target,
                     MOVEFILE_COPY_ALLOWED | MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
    if (ok) {
        QueuePath(path, outbox, "", message, ".env");
        if (!taken) {
            DeleteFileA(path);
        }
        if (earlierLength >= 0) {
            DeleteFileA(earlier);
        }
        return 0;
    }
    DWORD error = GetLastError();
    if (GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES) {
        static const char *const Written[] = {".txt", ".env", ".eml"};
        for (const char *extension : Written) {
            QueuePath(target, outbox, folder, message, extension);
            if (taken && strcmp(extension, ".env") == 0) {
                QueuePath(path, outbox, "", message, ".env");
                // Back beside the message, which stays whole in the outbox.
                MoveFileExA(target, path, MOVEFILE_COPY_ALLOWED | MOVEFILE_REPLACE_EXISTING);
            } else {
                DeleteFileA(target);
            }
        }
    }
    return error ? error : ERROR_DISK_FULL; // none: a write cut short
}

int KeepForLater(const char *outbox, QueuedMessage *queued, const Envelope *envelope,
                 const MailProfile *mail, const DeliveryResult *result) {
    static char text[EarlierSize + RecordSize];
    char path[MAX_PATH], temporary[MAX_PATH];
    const char *message = queued->Name;
    QueuePath(path, outbox, "", message, ".txt");
    int earlierLength = queued->MayHaveRecord ? ReadFileInto(path, text, EarlierSize) : -1;
    RecordText(text + AtLeastNone(earlierLength), mail, result);
    queued->MayHaveRecord = 1;
    int ok = WriteNewFile(path, text, lstrlenA(text));
    snprintf(text, sizeof text, "%s\r\n%s\r\n", envelope->Profile, envelope->Sender);
    for (const char *address = result->Later; ok && *address;) {
        const char *end = strchr(address, '\n');
        int used = lstrlenA(text);
        snprintf(text + used, sizeof text - used, "%.*s\r\n", (int)(end - address), address);
        address = end + 1;
    }
    QueuePath(temporary, outbox, "", message, ".new");
    QueuePath(path, outbox, "", message, ".env");
    ok = ok && WriteNewFile(temporary, text, lstrlenA(text)) &&
         MoveFileExA(temporary, path, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
    DeleteFileA(temporary);
    return ok;
}

void LogAttempt(const char *outbox, const char *message, const MailProfile *mail,
                const DeliveryResult *result, DWORD pause) {
    static const char *const Words[] = {"delivered", "kept", "failed", "stopped",
                                        "partly delivered"};
    char server[StoreTextSize + 16], line[ReplySize + 2 * ListSize + 256];
    ServerText(mail, server, sizeof server);
    int used = snprintf(line, sizeof line, "%s %s %s", message, server, Words[result->Outcome]);
    if (result->Outcome == Temporary || result->Outcome == Partial) {
        used += snprintf(line + used, sizeof line - used, " (next try in %lu s)",
                         (unsigned long)(pause + 999) / 1000);
    }
    used += snprintf(line + used, sizeof line - used, ": %s", result->Reply);
    // Refused and deferred recipients on the same line, each as "; address: reply".
    const char *lists[2][2] = {{"refused", result->Refused}, {"deferred", result->Deferred}};
    for (const auto &list : lists) {
        if (list[1][0] && used < (int)sizeof line - 1) {
            used += snprintf(line + used, sizeof line - used, "; %s", list[0]);
        }
        const char *item = list[1];
        while (*item && used < (int)sizeof line - 1) {
            const char *end = strstr(item, "\r\n");
            used += snprintf(line + used, sizeof line - used, " %.*s%s", (int)(end - item), item,
                             end[2] ? ";" : "");
            item = end + 2;
        }
    }
    AppendOutboxLog(outbox, line);
}

void ErrorText(DWORD error, char *out, int size) {
    DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, NULL,
                                  error, 0, out, size, NULL);
    while (length && (out[length - 1] == '\r' || out[length - 1] == '\n')) {
        length--;
    }
    out[length] = 0;
}
