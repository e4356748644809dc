#include "transport.h"

#include <stdio.h>
#include <string.h>

#include "mime.h"
#include "store.h"
#include "telvex_ids.h"

enum : int { SessionCount = 8 };

static CRITICAL_SECTION SessionLock;                      // guards SessionProfiles
static char SessionProfiles[SessionCount][StoreNameSize]; // profile of each open session, "" free
static HANDLE TransportMutex;                             // the named lock, opened on first use
static LONG MessageCounter;                               // makes message file names unique

void StartTransport() {
    InitializeCriticalSection(&SessionLock);
}

void StopTransport() {
    if (TransportMutex) {
        CloseHandle(TransportMutex);
    }
    DeleteCriticalSection(&SessionLock);
}

// A profile marked "Offline=1" stands for one whose server cannot be reached.
static int ProfileOffline(const char *profile) {
    char value[8];
    ProfileText(profile, "Offline", value, sizeof value);
    return strcmp(value, "1") == 0;
}

DWORD Logon(const char *profile, RecipientLink *link) {
    if (!link || !profile || !ProfileExists(profile) || ProfileOffline(profile)) {
        return TelvexLogonFailed;
    }
    EnterCriticalSection(&SessionLock);
    DWORD session = 0;
    for (int i = 0; i < SessionCount && !session; i++) {
        if (!SessionProfiles[i][0]) {
            lstrcpynA(SessionProfiles[i], profile, StoreNameSize);
            session = i + 1;
        }
    }
    LeaveCriticalSection(&SessionLock);
    if (!session) {
        return TelvexLogonFailed;
    }
    link->Session = session;
    return TelvexOk;
}

void Logoff(DWORD session) {
    EnterCriticalSection(&SessionLock);
    if (session >= 1 && session <= SessionCount) {
        SessionProfiles[session - 1][0] = 0;
    }
    LeaveCriticalSection(&SessionLock);
}

// The profile of an open session; 0 when the session is not open.
static int SessionProfile(DWORD session, char *out) {
    EnterCriticalSection(&SessionLock);
    int open = session >= 1 && session <= SessionCount && SessionProfiles[session - 1][0];
    if (open) {
        lstrcpynA(out, SessionProfiles[session - 1], StoreNameSize);
    }
    LeaveCriticalSection(&SessionLock);
    return open;
}

DWORD LockTransport(DWORD take) {
    if (!TransportMutex) {
        HANDLE mutex = CreateMutexA(NULL, FALSE, TELVEX_LOCK_NAME);
        if (mutex && InterlockedCompareExchangePointer(&TransportMutex, mutex, NULL) != NULL) {
            CloseHandle(mutex); // another thread opened it first
        }
    }
    if (!TransportMutex) {
        return 0;
    }
    if (!take) {
        ReleaseMutex(TransportMutex);
        return 1;
    }
    DWORD wait = WaitForSingleObject(TransportMutex, 0);
    return wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED;
}

// What the message header needs from the profile.
struct Sender {
    char Phrase[PhraseSize];
    char Mailbox[MailboxSize];
    char Gateway[StoreTextSize];
    char Outbox[MAX_PATH];
};

static int LoadSender(const char *profile, Sender *sender) {
    char name[StoreTextSize], address[StoreTextSize], number[StoreTextSize + 8];
    ProfileText(profile, "FaxGateway", sender->Gateway, sizeof sender->Gateway);
    ProfileText(profile, "FullName", name, sizeof name);
    if (!name[0]) {
        ProfileText(profile, "UserName", name, sizeof name);
    }
    HeaderPhrase(name[0] ? name : profile, sender->Phrase, sizeof sender->Phrase);
    ProfileText(profile, "EmailAddress", address, sizeof address);
    int known;
    if (address[0]) {
        known = ValidMailbox(address);
        lstrcpynA(sender->Mailbox, address, MailboxSize);
    } else {
        // A fax profile sends from its own number at the gateway.
        snprintf(number, sizeof number, "FAX:");
        ProfileText(profile, "FaxNumber", number + 4, sizeof number - 4);
        known = RecipientMailbox(number, sender->Gateway, sender->Mailbox, MailboxSize);
    }
    ProfileText(profile, "Outbox", sender->Outbox, sizeof sender->Outbox);
    if (!sender->Outbox[0]) {
        ProductFilePath(sender->Outbox, sizeof sender->Outbox, "OUTBOX\\");
    }
    int length = lstrlenA(sender->Outbox);
    if (length && sender->Outbox[length - 1] != '\\' && length < MAX_PATH - 1) {
        lstrcpynA(sender->Outbox + length, "\\", MAX_PATH - length);
    }
    CreateDirectoryA(sender->Outbox, NULL);
    return known;
}

static void WriteHeaders(MessageWriter *writer, const Sender *sender, const RecipientLink *link,
                         const char *boundary) {
    char line[PhraseSize + MailboxSize + 16];
    snprintf(line, sizeof line, "From: %s <%s>\r\nTo: ", sender->Phrase, sender->Mailbox);
    WriteText(writer, line);
    for (DWORD i = 0; i < link->RecipientCount; i++) {
        char phrase[PhraseSize], mailbox[MailboxSize];
        const RecipientRecord *record = &link->Recipients[i];
        HeaderPhrase(record->Name, phrase, sizeof phrase);
        RecipientMailbox(record->Address, sender->Gateway, mailbox, sizeof mailbox);
        snprintf(line, sizeof line, "%s%s <%s>", i ? ",\r\n " : "", phrase, mailbox);
        WriteText(writer, line);
    }
    SYSTEMTIME now;
    GetSystemTime(&now);
    char date[40];
    FormatMessageDate(&now, date, sizeof date);
    const char *domain = strchr(sender->Mailbox, '@') + 1;
    snprintf(line, sizeof line,
             "\r\nSubject: Scanned document\r\nDate: %s\r\nMessage-ID: <%s@%s>\r\n"
             "MIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=\"%s\"\r\n\r\n"
             "This is a message in MIME format.\r\n",
             date, boundary + 2, domain, boundary);
    WriteText(writer, line);
    snprintf(line, sizeof line,
             "\r\n--%s\r\nContent-Type: text/plain; charset=us-ascii\r\n\r\n"
             "%lu page(s) attached.\r\n",
             boundary, (unsigned long)link->PageCount);
    WriteText(writer, line);
}

// One page as a base64 attachment; 1/0.
static int WriteAttachment(MessageWriter *writer, const char *path, const char *name,
                           const char *boundary) {
    HANDLE page = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, NULL);
    if (page == INVALID_HANDLE_VALUE) {
        return 0;
    }
    char safe[AttachmentNameSize];
    AttachmentName(name, safe, sizeof safe);
    char line[3 * AttachmentNameSize + 160];
    snprintf(line, sizeof line,
             "\r\n--%s\r\nContent-Type: %s; name=\"%s\"\r\nContent-Transfer-Encoding: base64\r\n"
             "Content-Disposition: attachment; filename=\"%s\"\r\n\r\n",
             boundary, AttachmentType(safe), safe, safe);
    WriteText(writer, line);
    int ok = WriteBase64File(writer, page);
    CloseHandle(page);
    return ok;
}

// 1 when every recipient can be addressed and every page is named.
static int LinkIsSendable(const RecipientLink *link, const Sender *sender) {
    if (!link->RecipientCount || !link->Recipients || !link->PageCount || !link->PagePaths) {
        return 0;
    }
    for (DWORD i = 0; i < link->RecipientCount; i++) {
        char mailbox[MailboxSize];
        if (!RecipientMailbox(link->Recipients[i].Address, sender->Gateway, mailbox,
                              sizeof mailbox)) {
            return 0;
        }
    }
    return 1;
}

// The message into a file of its own; 1 when all of it was written.
static int WriteMessageFile(HANDLE file, const RecipientLink *link, const Sender *sender,
                            const char *boundary) {
    static MessageWriter NoWriter;
    MessageWriter *writer = (MessageWriter *)HeapAlloc(GetProcessHeap(), 0, sizeof NoWriter);
    if (!writer) {
        return 0;
    }
    *writer = NoWriter;
    writer->File = file;
    writer->Ok = 1;
    WriteHeaders(writer, sender, link, boundary);
    const char *path = link->PagePaths;
    const char *name = link->PageNames;
    int ok = 1;
    for (DWORD i = 0; i < link->PageCount && ok; i++) {
        const char *base = strrchr(path, '\\');
        ok = WriteAttachment(writer, path, name ? name : (base ? base + 1 : path), boundary);
        path += strlen(path) + 1;
        name = name ? name + strlen(name) + 1 : NULL;
    }
    char end[96];
    snprintf(end, sizeof end, "\r\n--%s--\r\n", boundary);
    WriteText(writer, end);
    ok = FlushWriter(writer) && ok;
    HeapFree(GetProcessHeap(), 0, writer);
    return ok;
}

DWORD SendMessageFiles(const RecipientLink *link) {
    char profile[StoreNameSize];
    Sender sender;
    if (!link || !SessionProfile(link->Session, profile) || !LoadSender(profile, &sender) ||
        !LinkIsSendable(link, &sender)) {
        return TelvexFailure;
    }
    SYSTEMTIME now;
    GetSystemTime(&now);
    char unique[64], boundary[80], temporary[MAX_PATH], final[MAX_PATH];
    snprintf(unique, sizeof unique, "%04u%02u%02u%02u%02u%02u%03u-%lu-%ld", now.wYear, now.wMonth,
             now.wDay, now.wHour, now.wMinute, now.wSecond, now.wMilliseconds,
             GetCurrentProcessId(), InterlockedIncrement(&MessageCounter));
    // "=_" never occurs in base64 or in the text part, so the boundary is safe.
    snprintf(boundary, sizeof boundary, "=_%s", unique);
    snprintf(temporary, sizeof temporary, "%s%s.tmp", sender.Outbox, unique);
    snprintf(final, sizeof final, "%s%s.eml", sender.Outbox, unique);
    // A pickup service takes only .eml files: the message gets that name
    // once it is complete.
    HANDLE file = CreateFileA(temporary, GENERIC_WRITE, 0, NULL, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_WRITE_THROUGH, NULL);
    if (file == INVALID_HANDLE_VALUE) {
        return TelvexFailure;
    }
    int ok = WriteMessageFile(file, link, &sender, boundary);
    ok = CloseHandle(file) && ok && MoveFileExA(temporary, final, MOVEFILE_WRITE_THROUGH);
    if (!ok) {
        DeleteFileA(temporary);
        return TelvexFailure;
    }
    return TelvexOk;
}
