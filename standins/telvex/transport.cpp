#include "transport.h"

#include <stdio.h>
#include <string.h>

#include "delivery.h"
#include "delivery_notice.h"
#include "mail_settings.h"
#include "message.h"
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

// Says why a message was not sent, and for whom, in the log beside the
// outbox and on the debug output: the caller of SendTelvex only learns that
// it failed.
static void ReportRefusal(const char *outbox, const char *reason, const char *what) {
    char text[2 * StoreTextSize + 96];
    snprintf(text, sizeof text, "message not sent: %s: %s", reason, what ? what : "");
    if (AppendOutboxLog(outbox, text)) {
        OutputDebugStringA(text);
    }
}

// The sender as the profile describes it, and its outbox folder (made when
// missing); 1 when the sender can be addressed.
static int LoadSender(const char *profile, Sender *sender, char *outbox) {
    char name[StoreTextSize], address[StoreTextSize], number[StoreTextSize], gateway[StoreTextSize];
    ProfileText(profile, "FaxGateway", gateway, sizeof gateway);
    ProfileText(profile, "FullName", name, sizeof name);
    if (!name[0]) {
        ProfileText(profile, "UserName", name, sizeof name);
    }
    ProfileText(profile, "EmailAddress", address, sizeof address);
    ProfileText(profile, "FaxNumber", number, sizeof number);
    ProfileOutbox(profile, outbox, MAX_PATH);
    CreateDirectoryA(outbox, NULL);
    return MakeSender(name[0] ? name : profile, address, number, gateway, GetACP(), sender);
}

// Whom the server is told the message is from: the delivery settings'
// sender, else the profile's own mailbox.
static const char *EnvelopeSender(const MailProfile *mail, const Sender *sender) {
    return mail->Sender[0] ? mail->Sender : sender->Mailbox;
}

int ProfileEnvelopeSender(const char *profile, char *out, int size) {
    Sender sender;
    MailProfile mail;
    char outbox[MAX_PATH];
    if (!LoadSender(profile, &sender, outbox) || !LoadMailProfile(profile, &mail)) {
        return 0;
    }
    lstrcpynA(out, EnvelopeSender(&mail, &sender), size);
    return 1;
}

void NewMessageStem(char *out, int size) {
    SYSTEMTIME now;
    GetSystemTime(&now);
    snprintf(out, size, "%04u%02u%02u%02u%02u%02u%03u-%lu-%ld", now.wYear, now.wMonth, now.wDay,
             now.wHour, now.wMinute, now.wSecond, now.wMilliseconds, GetCurrentProcessId(),
             InterlockedIncrement(&MessageCounter));
}

DWORD SendMessageFiles(const RecipientLink *link) {
    char profile[StoreNameSize], outbox[MAX_PATH];
    Sender sender;
    if (!link || !SessionProfile(link->Session, profile) || !LinkHasPages(link)) {
        return TelvexFailure;
    }
    if (!LoadSender(profile, &sender, outbox)) {
        ReportRefusal(outbox, "the profile's own address is not a valid mailbox", profile);
        return TelvexFailure;
    }
    DWORD refused = UnaddressableRecipient(link, &sender);
    if (refused) {
        const RecipientRecord *recipient = &link->Recipients[refused - 1];
        char who[2 * StoreTextSize];
        snprintf(who, sizeof who, "%.*s <%.*s>", StoreTextSize - 8,
                 recipient->Name ? recipient->Name : "", StoreTextSize - 8,
                 recipient->Address ? recipient->Address : "");
        ReportRefusal(outbox, "the address of a recipient is not a valid mailbox", who);
        return TelvexFailure;
    }
    char unique[64], boundary[80], temporary[MAX_PATH], final[MAX_PATH], envelope[MAX_PATH],
        note[MAX_PATH];
    NewMessageStem(unique, sizeof unique);
    // "=_" never occurs in base64 or in the text part, so the boundary is safe.
    snprintf(boundary, sizeof boundary, "=_%s", unique);
    snprintf(temporary, sizeof temporary, "%s%s.tmp", outbox, unique);
    snprintf(final, sizeof final, "%s%s.eml", outbox, unique);
    snprintf(envelope, sizeof envelope, "%s%s.env", outbox, unique);
    snprintf(note, sizeof note, "%s%s.who", outbox, unique);
    // A pickup service takes only .eml files: the message gets that name
    // once it is complete, and its envelope is there before it.
    MailProfile mail;
    int deliver = LoadMailProfile(profile, &mail);
    HANDLE file = CreateFileA(temporary, GENERIC_WRITE, 0, NULL, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_WRITE_THROUGH, NULL);
    if (file == INVALID_HANDLE_VALUE) {
        return TelvexFailure;
    }
    int ok = WriteMessageFile(file, link, &sender, boundary);
    ok = CloseHandle(file) && ok &&
         (!deliver ||
          WriteEnvelope(envelope, profile, EnvelopeSender(&mail, &sender), link, sender.Gateway));
    // Who is to be told goes before the message; a note that cannot be
    // written leaves its program untold, the message is sent all the same.
    if (ok && deliver && !WriteDeliveryNote(note)) {
        DeleteFileA(note);
    }
    ok = ok && MoveFileExA(temporary, final, MOVEFILE_WRITE_THROUGH);
    if (!ok) {
        DeleteFileA(temporary);
        if (deliver) {
            DeleteFileA(envelope);
            DeleteFileA(note);
        }
        return TelvexFailure;
    }
    if (deliver) {
        WakeDeliveryAgent();
    }
    return TelvexOk;
}
