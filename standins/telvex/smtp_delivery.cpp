#include "smtp_delivery.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <ctype.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "mail_settings.h"
#include "telvex_ids.h"
#include "tls_channel.h"

enum : int { MessageNameSize = 80, QueueSize = 1024, OutboxCount = 16, ReplySize = 512 };
enum : int { CommandSize = 1024 };
// Partial: some recipients have it, the others are to be tried again.
enum : int { Delivered, Temporary, Permanent, Stopped, Partial };
enum : int { ListSize = 4 * 1024 };
static const ULONGLONG LongestPause = 3600 * 1000; // the longest pause between tries

// One connection to a server and what it has sent that is not read yet.
struct SmtpConnection {
    SOCKET Socket;
    DWORD Timeout; // milliseconds for the connection and for each reply
    int Secure;    // 1 inside TLS
    int Answering; // 1 while the server answers: the session ends with QUIT
    int Used;
    char Buffer[4096];
};

// What became of one message.
struct DeliveryResult {
    int Outcome;
    char Reply[ReplySize];   // the last reply, or why there was none
    char Refused[ListSize];  // "address: reply" lines of recipients refused for good
    char Deferred[ListSize]; // the same for recipients to try again later
    char Later[ListSize];    // their addresses, one a line, as the envelope lists them
};

// Adds a formatted line to a list; 0 when it does not fit whole.
static int AddToList(char *list, const char *first, const char *second) {
    int used = lstrlenA(list), room = ListSize - used;
    int length = snprintf(list + used, room, second ? "%s: %s\r\n" : "%s\n", first, second);
    if (length < 0 || length >= room) {
        list[used] = 0;
        return 0;
    }
    return 1;
}

// A message's envelope, read from its .env file: lines made strings.
struct Envelope {
    char *Text;
    const char *Profile;
    const char *Sender;
    const char *Recipients; // one after another, each ended by a NUL
    int Count;
};

static char MessageNames[QueueSize][MessageNameSize]; // the outbox being delivered, in order
static char Outboxes[OutboxCount][MAX_PATH];          // the outboxes of profiles with a server
static int OutboxesFound;
static SmtpConnection Connection; // the one connection the agent has open at a time

static ULONGLONG NowMs() {
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    return (((ULONGLONG)now.dwHighDateTime << 32) | now.dwLowDateTime) / 10000;
}

static void TimeText(char *out, int size) {
    SYSTEMTIME now;
    GetSystemTime(&now);
    snprintf(out, size, "%04u-%02u-%02u %02u:%02u:%02u UTC", now.wYear, now.wMonth, now.wDay,
             now.wHour, now.wMinute, now.wSecond);
}

// ---- SMTP over one connection ----

static int ConnectTo(const MailProfile *mail, SmtpConnection *link, char *why, int size) {
    char port[8];
    snprintf(port, sizeof port, "%u", mail->Port);
    addrinfo hints = {}, *found = NULL;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    if (getaddrinfo(mail->Server, port, &hints, &found) != 0 || !found) {
        snprintf(why, size, "no address for %s", mail->Server);
        return 0;
    }
    const sockaddr_in *v4 = (const sockaddr_in *)found->ai_addr;
    const sockaddr_in6 *v6 = (const sockaddr_in6 *)found->ai_addr;
    int loopback = found->ai_family == AF_INET ? (ntohl(v4->sin_addr.s_addr) >> 24) == 127
                                               : IN6_IS_ADDR_LOOPBACK(&v6->sin6_addr);
    if (mail->Security == SecurityNone && !loopback) {
        freeaddrinfo(found);
        snprintf(why, size, "security none is only for a loopback server");
        return 0;
    }
    link->Socket = socket(found->ai_family, SOCK_STREAM, IPPROTO_TCP);
    u_long nonBlocking = 1;
    int connected = link->Socket != INVALID_SOCKET &&
                    ioctlsocket(link->Socket, FIONBIO, &nonBlocking) == 0 &&
                    (connect(link->Socket, found->ai_addr, (int)found->ai_addrlen) == 0 ||
                     WSAGetLastError() == WSAEWOULDBLOCK);
    freeaddrinfo(found);
    snprintf(why, size, "no connection to %s:%u (error %d)", mail->Server, mail->Port,
             WSAGetLastError());
    if (connected) {
        fd_set writable, failed;
        FD_ZERO(&writable);
        FD_ZERO(&failed);
        FD_SET(link->Socket, &writable);
        FD_SET(link->Socket, &failed);
        timeval wait = {(long)(link->Timeout / 1000), (long)(link->Timeout % 1000) * 1000};
        int error = 0, length = sizeof error;
        connected = select(0, NULL, &writable, &failed, &wait) == 1 &&
                    FD_ISSET(link->Socket, &writable) &&
                    getsockopt(link->Socket, SOL_SOCKET, SO_ERROR, (char *)&error, &length) == 0 &&
                    error == 0;
        snprintf(why, size, "no connection to %s:%u (%s)", mail->Server, mail->Port,
                 FD_ISSET(link->Socket, &writable) || FD_ISSET(link->Socket, &failed)
                     ? "refused"
                     : "timed out");
    }
    nonBlocking = 0;
    if (!connected || ioctlsocket(link->Socket, FIONBIO, &nonBlocking) != 0) {
        if (link->Socket != INVALID_SOCKET) {
            closesocket(link->Socket);
        }
        return 0;
    }
    DWORD timeout = link->Timeout;
    setsockopt(link->Socket, SOL_SOCKET, SO_SNDTIMEO, (const char *)&timeout, sizeof timeout);
    // Commands and the end of the data go at once, not held back until the
    // server acknowledges what came before (each message waited for that).
    BOOL noDelay = TRUE;
    setsockopt(link->Socket, IPPROTO_TCP, TCP_NODELAY, (const char *)&noDelay, sizeof noDelay);
    link->Used = 0;
    return 1;
}

// One reply, its last line kept; its code, or 0 when none came in time.
static int ReadReply(SmtpConnection *link, char *reply) {
    for (;;) {
        char *end = (char *)memchr(link->Buffer, '\n', link->Used);
        if (end) {
            int length = (int)(end - link->Buffer) + 1;
            int last = length < 4 || link->Buffer[3] != '-';
            int copy = length - (length >= 2 && end[-1] == '\r' ? 2 : 1);
            lstrcpynA(reply, link->Buffer, (copy < ReplySize ? copy : ReplySize - 1) + 1);
            memmove(link->Buffer, end + 1, link->Used - length);
            link->Used -= length;
            if (last) {
                int code = atoi(reply);
                return code >= 100 && code <= 599 ? code : 0;
            }
            continue;
        }
        if (link->Used == (int)sizeof link->Buffer) {
            link->Used = 0; // a line longer than any reply: keep its end
        }
        int got = 0;
        char *free = link->Buffer + link->Used;
        int room = (int)sizeof link->Buffer - link->Used;
        if (link->Secure) {
            got = TlsReceive(link->Socket, link->Timeout, free, room);
        } else {
            got =
                WaitReadable(link->Socket, link->Timeout) ? recv(link->Socket, free, room, 0) : -1;
        }
        if (got <= 0) {
            lstrcpynA(reply, got == 0 ? "connection closed by the server" : "no reply in time",
                      ReplySize);
            return 0;
        }
        link->Used += got;
    }
}

static int SendBytes(SmtpConnection *link, const char *data, int length) {
    return link->Secure ? TlsSend(link->Socket, data, length) : SendAll(link->Socket, data, length);
}

// Sends a command line and reads its reply: the reply's code, 0 for none.
static int Command(SmtpConnection *link, const char *command, char *reply) {
    char line[CommandSize + 2];
    snprintf(line, sizeof line, "%s\r\n", command);
    if (!SendBytes(link, line, lstrlenA(line))) {
        lstrcpynA(reply, "connection closed by the server", ReplySize);
        return 0;
    }
    return ReadReply(link, reply);
}

// The message file as DATA: a dot at the start of a line doubled, the end
// marked by a line holding one dot.
static int SendMessageData(SmtpConnection *link, HANDLE file) {
    enum : int { ChunkSize = 32 * 1024 };
    static char in[ChunkSize], out[2 * ChunkSize + 8];
    int lineStart = 1, ok = 1;
    DWORD got = 0;
    while (ok && ReadFile(file, in, ChunkSize, &got, NULL) && got) {
        int used = 0;
        for (DWORD i = 0; i < got; i++) {
            if (lineStart && in[i] == '.') {
                out[used++] = '.';
            }
            out[used++] = in[i];
            lineStart = in[i] == '\n';
        }
        ok = SendBytes(link, out, used);
    }
    const char *end = lineStart ? ".\r\n" : "\r\n.\r\n";
    return ok && SendBytes(link, end, lstrlenA(end));
}

static int OutcomeOf(int code) {
    return code >= 500 ? Permanent : Temporary;
}

// TLS on the connection: 1, or 0 with the result saying why not (an
// untrusted certificate stops the profile's queue).
static int Secure(SmtpConnection *link, const MailProfile *mail, DeliveryResult *result) {
    int state = StartTls(link->Socket, link->Timeout, mail->Server, mail->Certificate,
                         result->Reply, sizeof result->Reply);
    link->Secure = state == TlsOpen;
    result->Outcome = state == TlsUntrusted ? Stopped : Temporary;
    return link->Secure;
}

// AUTH PLAIN, or AUTH LOGIN where the server has no PLAIN: the last reply's code.
static int Authenticate(SmtpConnection *link, const MailProfile *mail, const char *profile,
                        char *reply) {
    static char password[PasswordSize], secret[StoreTextSize + PasswordSize + 2],
        command[CommandSize];
    if (!MailPassword(profile, password, sizeof password)) {
        password[0] = 0;
    }
    int user = lstrlenA(mail->User), length = lstrlenA(password);
    secret[0] = 0;
    memcpy(secret + 1, mail->User, user + 1);
    memcpy(secret + user + 2, password, length);
    lstrcpynA(command, "AUTH PLAIN ", sizeof command);
    EncodeBase64((const BYTE *)secret, user + length + 2, command + 11);
    int code = Command(link, command, reply);
    if (code == 504 || code == 502) {
        code = Command(link, "AUTH LOGIN", reply);
        if (code == 334) {
            EncodeBase64((const BYTE *)mail->User, user, command);
            code = Command(link, command, reply);
        }
        if (code == 334) {
            EncodeBase64((const BYTE *)password, length, command);
            code = Command(link, command, reply);
        }
    }
    SecureZeroMemory(password, sizeof password);
    SecureZeroMemory(secret, sizeof secret);
    SecureZeroMemory(command, sizeof command);
    return code;
}

// The name given in EHLO: the machine's name where it is a domain name, else
// the address literal of the connection's own end. Windows names may hold
// characters, such as "_", for which servers refuse the greeting.
static void HelloName(SOCKET socket, char *out, int size) {
    char name[MAX_COMPUTERNAME_LENGTH + 1];
    DWORD length = sizeof name;
    int valid = GetComputerNameA(name, &length) && length && isalnum((BYTE)name[0]) &&
                isalnum((BYTE)name[length - 1]);
    for (DWORD i = 0; valid && i < length; i++) {
        valid = isalnum((BYTE)name[i]) || name[i] == '-';
    }
    if (valid) {
        lstrcpynA(out, name, size);
        return;
    }
    sockaddr_storage own = {};
    int ownLength = sizeof own;
    char host[NI_MAXHOST] = "127.0.0.1";
    if (getsockname(socket, (sockaddr *)&own, &ownLength) == 0) {
        getnameinfo((sockaddr *)&own, ownLength, host, sizeof host, NULL, 0, NI_NUMERICHOST);
    }
    snprintf(out, size, own.ss_family == AF_INET6 ? "[IPv6:%s]" : "[%s]", host);
}

// The session up to the envelope: the greeting, EHLO, TLS as the profile
// asks, and the account inside TLS. 250 when the envelope may follow,
// else the code that ended it (0: no reply, or the result already says).
static int OpenSession(SmtpConnection *link, const MailProfile *mail, const char *profile,
                       DeliveryResult *result) {
    char hello[NI_MAXHOST + 16];
    lstrcpynA(hello, "EHLO ", sizeof hello);
    HelloName(link->Socket, hello + 5, sizeof hello - 5);
    if (mail->Security == SecurityTls && !Secure(link, mail, result)) {
        return 0;
    }
    int code = ReadReply(link, result->Reply);
    if (code == 220) {
        code = Command(link, hello, result->Reply);
    }
    if (code == 250 && mail->Security == SecurityStartTls) {
        code = Command(link, "STARTTLS", result->Reply);
        if (code != 220) {
            result->Outcome = Stopped; // never on without the TLS the profile asks for
            return 0;
        }
        code = Secure(link, mail, result) ? Command(link, hello, result->Reply) : 0;
    }
    if (code == 250 && mail->User[0] && link->Secure) {
        code = Authenticate(link, mail, profile, result->Reply);
        if (code == 535 || code == 534) {
            result->Outcome = Stopped; // wrong credentials: no use trying again
            return 0;
        }
        code = code == 235 ? 250 : code;
    }
    return code;
}

// One message through one session, left open for EndSession; the result
// says what became of it.
static void SendOverSmtp(const MailProfile *mail, HANDLE file, const Envelope *envelope,
                         DeliveryResult *result) {
    SmtpConnection *link = &Connection;
    link->Timeout = StoreNumber("SmtpTimeoutMs", 60 * 1000);
    link->Secure = link->Used = 0;
    result->Outcome = Temporary;
    if (!ConnectTo(mail, link, result->Reply, sizeof result->Reply)) {
        link->Socket = INVALID_SOCKET;
        return;
    }
    char command[CommandSize];
    int code = OpenSession(link, mail, envelope->Profile, result);
    if (code == 250) {
        snprintf(command, sizeof command, "MAIL FROM:<%s>", envelope->Sender);
        code = Command(link, command, result->Reply);
    }
    int accepted = 0, deferred = 0;
    const char *recipient = envelope->Recipients;
    for (int i = 0; code == 250 && i < envelope->Count; i++) {
        snprintf(command, sizeof command, "RCPT TO:<%s>", recipient);
        int answer = Command(link, command, result->Reply);
        if (answer >= 500) {
            // Refused for good: the others still get the message.
            AddToList(result->Refused, recipient, result->Reply);
        } else if (answer / 100 == 2) {
            accepted++;
        } else if (answer < 400 || !AddToList(result->Later, recipient, NULL)) {
            code = answer; // no answer, or more than the list holds: the whole message waits
        } else {
            // Busy for now: the others get the message, this one is tried later.
            AddToList(result->Deferred, recipient, result->Reply);
            deferred = answer;
        }
        recipient += strlen(recipient) + 1;
    }
    if (code == 250 && !accepted) {
        code = deferred ? deferred : 550; // none took it: the reply is the last answer
    } else if (code == 250) {
        code = Command(link, "DATA", result->Reply);
        if (code == 354) {
            if (SendMessageData(link, file)) {
                code = ReadReply(link, result->Reply);
            } else {
                code = 0;
                lstrcpynA(result->Reply, "connection lost while sending the message", ReplySize);
            }
        }
        if (code == 250) {
            result->Outcome = result->Later[0] ? Partial : Delivered;
        }
    }
    if (code && code != 250) {
        result->Outcome = OutcomeOf(code);
    }
    link->Answering = code != 0;
}

// Ends the session SendOverSmtp left open.
static void EndSession(SmtpConnection *link) {
    if (link->Socket == INVALID_SOCKET) {
        return;
    }
    char ignored[ReplySize];
    if (link->Answering) {
        Command(link, "QUIT", ignored);
    }
    EndTls();
    closesocket(link->Socket);
    link->Socket = INVALID_SOCKET;
}

// ---- the outbox ----

// Reads a file whole into out, NUL-terminated: its length, or -1 (out
// empty) when it cannot be read or does not fit in size bytes.
static int ReadWhole(const char *path, char *out, DWORD size) {
    out[0] = 0;
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING,
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

// Reads the envelope beside a message; 1 when it names a profile, a sender
// and a recipient. Free its Text with FreeEnvelope.
static int ReadEnvelope(const char *path, Envelope *envelope) {
    enum : DWORD { EnvelopeLimit = 256 * 1024 };
    *envelope = Envelope();
    WIN32_FILE_ATTRIBUTE_DATA file;
    if (!GetFileAttributesExA(path, GetFileExInfoStandard, &file) || file.nFileSizeHigh ||
        file.nFileSizeLow >= EnvelopeLimit) {
        return 0;
    }
    envelope->Text = (char *)HeapAlloc(GetProcessHeap(), 0, file.nFileSizeLow + 1);
    if (!envelope->Text || ReadWhole(path, envelope->Text, file.nFileSizeLow + 1) < 0) {
        return 0;
    }
    int lines = 0;
    char *write = envelope->Text;
    for (const char *read = envelope->Text; *read; read++) {
        if (*read == '\n') {
            *write++ = 0;
            lines++;
        } else if (*read != '\r') {
            *write++ = *read;
        }
    }
    *write = 0;
    envelope->Profile = envelope->Text;
    envelope->Sender = envelope->Profile + strlen(envelope->Profile) + 1;
    envelope->Recipients = lines >= 2 ? envelope->Sender + strlen(envelope->Sender) + 1 : NULL;
    envelope->Count = lines - 2;
    return envelope->Count > 0;
}

static void FreeEnvelope(Envelope *envelope) {
    if (envelope->Text) {
        HeapFree(GetProcessHeap(), 0, envelope->Text);
    }
    *envelope = Envelope();
}

static int CompareNames(const void *a, const void *b) {
    return strcmp((const char *)a, (const char *)b);
}

// The outbox's messages, oldest first (their names begin with the time they were queued).
static int ListMessages(const char *outbox) {
    char pattern[MAX_PATH];
    snprintf(pattern, sizeof pattern, "%s*.eml", outbox);
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(pattern, &found);
    int count = 0;
    while (search != INVALID_HANDLE_VALUE) {
        if (count < QueueSize && lstrlenA(found.cFileName) < MessageNameSize - 1) {
            lstrcpynA(MessageNames[count++], found.cFileName, MessageNameSize);
        }
        if (!FindNextFileA(search, &found)) {
            FindClose(search);
            break;
        }
    }
    qsort(MessageNames, count, MessageNameSize, CompareNames);
    return count;
}

// A path in the outbox: folder ("" for the outbox itself), the message's
// name without ".eml", and an extension.
static void QueuePath(char *out, const char *outbox, const char *folder, const char *message,
                      const char *extension) {
    int stem = lstrlenA(message) - 4;
    snprintf(out, MAX_PATH, "%s%s%.*s%s", outbox, folder, stem, message, extension);
}

static void AppendLine(const char *path, const char *line) {
    HANDLE file = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ, NULL, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, NULL);
    if (file != INVALID_HANDLE_VALUE) {
        DWORD written;
        WriteFile(file, line, lstrlenA(line), &written, NULL);
        CloseHandle(file);
    }
}

// The attempt as a line of the log beside the outbox.
static void LogAttempt(const char *outbox, const char *message, const MailProfile *mail,
                       const DeliveryResult *result, DWORD pause) {
    static const char *const Words[] = {"delivered", "kept", "failed", "stopped",
                                        "partly delivered"};
    char path[MAX_PATH], time[32], line[ReplySize + 2 * ListSize + 256];
    lstrcpynA(path, outbox, MAX_PATH - 4);
    lstrcpynA(path + lstrlenA(path) - 1, ".log", 5);
    TimeText(time, sizeof time);
    int used = snprintf(line, sizeof line, "%s %s %s:%u %s", time, message, mail->Server,
                        mail->Port, Words[result->Outcome]);
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
    if (used > (int)sizeof line - 3) {
        used = (int)sizeof line - 3;
    }
    lstrcpynA(line + used, "\r\n", 3);
    AppendLine(path, line);
}

// The system's words for an error, on one line ("" when it has none).
static void ErrorText(DWORD error, char *out, int size) {
    DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, NULL,
                                  error, 0, out, size, NULL);
    while (length && (out[length - 1] == '\r' || out[length - 1] == '\n')) {
        length--;
    }
    out[length] = 0;
}

// Writes the whole of text to a new file at path, through to the disk; 1/0.
static int WriteWhole(const char *path, const char *text, DWORD length) {
    SetLastError(0); // a write cut short sets none
    HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_WRITE_THROUGH, NULL);
    DWORD written = 0;
    int ok = file != INVALID_HANDLE_VALUE && WriteFile(file, text, length, &written, NULL) &&
             written == length;
    return file != INVALID_HANDLE_VALUE && CloseHandle(file) && ok;
}

// What an attempt did, as the lines of a delivery record; the records of
// earlier partial deliveries come before it, as far as they fit.
enum : int { RecordSize = ReplySize + 2 * ListSize + 512, EarlierSize = 4 * RecordSize };
static int AtLeastNone(int length) {
    return length > 0 ? length : 0;
}
static void RecordText(char *out, const MailProfile *mail, const DeliveryResult *result) {
    char time[32];
    TimeText(time, sizeof time);
    snprintf(out, RecordSize, "Time: %s\r\nServer: %s:%u\r\nReply: %s\r\n%s%s%s%s", time,
             mail->Server, mail->Port, result->Reply, result->Refused[0] ? "Refused:\r\n" : "",
             result->Refused, result->Deferred[0] ? "Deferred:\r\n" : "", result->Deferred);
}

// Files the message and its envelope in folder ("Sent\" or "Failed\")
// beside its record, which holds the records of earlier partial deliveries
// (the outbox's <message>.txt) first: 0, or the system's error with nothing
// of the message left in folder, the message still whole in the outbox. The
// record comes first and the message leaves the outbox last, so that a
// message that has left it always says why. The folder may be on another
// disk: what cannot be moved there is copied, and a full disk cuts a copy
// short.
static DWORD FileMessage(const char *outbox, const char *message, const char *folder,
                         const MailProfile *mail, const DeliveryResult *result) {
    static char record[EarlierSize + RecordSize];
    char path[MAX_PATH], target[MAX_PATH], earlier[MAX_PATH];
    snprintf(path, sizeof path, "%s%s", outbox, folder);
    CreateDirectoryA(path, NULL);
    QueuePath(earlier, outbox, "", message, ".txt");
    RecordText(record + AtLeastNone(ReadWhole(earlier, record, EarlierSize)), mail, result);
    QueuePath(target, outbox, folder, message, ".txt");
    int ok = WriteWhole(target, record, lstrlenA(record));
    QueuePath(path, outbox, "", message, ".env");
    QueuePath(target, outbox, folder, message, ".env");
    ok = ok && CopyFileA(path, target, FALSE);
    QueuePath(path, outbox, "", message, ".eml");
    QueuePath(target, outbox, folder, message, ".eml");
    ok = ok &&
         MoveFileExA(path, target,
                     MOVEFILE_COPY_ALLOWED | MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
    if (ok) {
        QueuePath(path, outbox, "", message, ".env");
        DeleteFileA(path);
        DeleteFileA(earlier);
        return 0;
    }
    DWORD error = GetLastError();
    if (GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES) {
        static const char *const Written[] = {".txt", ".env", ".eml"};
        for (const char *extension : Written) {
            QueuePath(target, outbox, folder, message, extension);
            DeleteFileA(target);
        }
    }
    return error ? error : ERROR_DISK_FULL; // none: a write cut short
}

// After a partial delivery: the attempt's record joins the message's
// earlier ones in the outbox, then the envelope names only the recipients
// still to get it (replaced whole, so a crash leaves the old or the new
// one); 1/0.
static int KeepForLater(const char *outbox, const char *message, const Envelope *envelope,
                        const MailProfile *mail, const DeliveryResult *result) {
    static char text[EarlierSize + RecordSize];
    char path[MAX_PATH], temporary[MAX_PATH];
    QueuePath(path, outbox, "", message, ".txt");
    RecordText(text + AtLeastNone(ReadWhole(path, text, EarlierSize)), mail, result);
    int ok = WriteWhole(path, text, lstrlenA(text));
    snprintf(text, sizeof text, "%s\r\n%s\r\n", envelope->Profile, envelope->Sender);
    for (const char *address = result->Later; ok && *address;) {
        const char *end = strchr(address, '\n');
        int used = lstrlenA(text);
        snprintf(text + used, sizeof text - used, "%.*s\r\n", (int)(end - address), address);
        address = end + 1;
    }
    QueuePath(temporary, outbox, "", message, ".new");
    QueuePath(path, outbox, "", message, ".env");
    ok = ok && WriteWhole(temporary, text, lstrlenA(text)) &&
         MoveFileExA(temporary, path, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
    DeleteFileA(temporary);
    return ok;
}

// The outbox's pause after failures in a row: kept in its queue.ini.
static void QueueStatePath(char *out, const char *outbox) {
    snprintf(out, MAX_PATH, "%s%s", outbox, TELVEX_QUEUE_FILE);
}

static ULONGLONG NextTry(const char *outbox) {
    char path[MAX_PATH], text[32];
    QueueStatePath(path, outbox);
    GetPrivateProfileStringA("Queue", "NextTry", "0", text, sizeof text, path);
    return _strtoui64(text, NULL, 10);
}

// Records a failure in a row (1) or a delivery (0); the pause now due.
static DWORD RecordTry(const char *outbox, int failed) {
    char path[MAX_PATH], text[32];
    QueueStatePath(path, outbox);
    DWORD before = GetPrivateProfileIntA("Queue", "Failures", 0, path);
    DWORD failures = failed ? before + 1 : 0;
    if (!failures && !before) {
        return 0; // no failure before or now: nothing to write
    }
    ULONGLONG pause = 0;
    if (failures) {
        // 1, 2, 4 ... times the base pause, at most an hour.
        pause = (ULONGLONG)StoreNumber("RetryPauseMs", 60 * 1000)
                << (failures < 20 ? failures - 1 : 19);
        pause = pause < LongestPause ? pause : LongestPause;
    }
    snprintf(text, sizeof text, "%lu", (unsigned long)failures);
    WritePrivateProfileStringA("Queue", "Failures", text, path);
    snprintf(text, sizeof text, "%llu", NowMs() + pause);
    WritePrivateProfileStringA("Queue", "NextTry", text, path);
    return (DWORD)pause;
}

// The message the server took whose filing is still to do (NULL: none), so
// that a second attempt files it without sending it again.
static void NoteDelivery(const char *outbox, const char *message, const char *reply) {
    char path[MAX_PATH];
    QueueStatePath(path, outbox);
    if (message) {
        // Both in one write; the buffer holds both whole and the closing NUL.
        char section[MessageNameSize + ReplySize + 32];
        snprintf(section, sizeof section, "Message=%s%cReply=%s%c", message, 0, reply, 0);
        WritePrivateProfileSectionA("Delivered", section, path);
    } else {
        WritePrivateProfileStringA("Delivered", NULL, NULL, path);
    }
}

// 1 when the server took this message before, with its reply in the result.
static int DeliveredBefore(const char *outbox, const char *message, DeliveryResult *result) {
    char path[MAX_PATH], name[MessageNameSize];
    QueueStatePath(path, outbox);
    GetPrivateProfileStringA("Delivered", "Message", "", name, sizeof name, path);
    if (strcmp(name, message) != 0) {
        return 0;
    }
    result->Outcome = Delivered;
    GetPrivateProfileStringA("Delivered", "Reply", "", result->Reply, sizeof result->Reply, path);
    return 1;
}

// Sends the outbox's message; the result says what became of it. One the
// server took is noted and logged, or kept for the recipients it deferred,
// before the session ends: an agent ended meanwhile (a slow QUIT, a crash)
// files it later, never sends it again.
static void SendQueued(const char *outbox, const char *message, const MailProfile *mail,
                       const Envelope *envelope, DeliveryResult *result) {
    char path[MAX_PATH];
    QueuePath(path, outbox, "", message, ".eml");
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE) {
        // Held by another program for now: tried again, never filed unsent.
        result->Outcome = Temporary;
        lstrcpynA(result->Reply, "the message file cannot be read", ReplySize);
        return;
    }
    SendOverSmtp(mail, file, envelope, result);
    CloseHandle(file);
    if (result->Outcome == Partial && !KeepForLater(outbox, message, envelope, mail, result)) {
        // Filed with the others' delivery rather than sent to them twice;
        // the record names the recipients that are not tried again.
        result->Outcome = Delivered;
    }
    if (result->Outcome == Delivered) {
        NoteDelivery(outbox, message, result->Reply);
        LogAttempt(outbox, message, mail, result, 0);
    }
    EndSession(&Connection);
}

// A message filed by an agent that ended before its envelope (and the
// records of its partial deliveries) left the outbox: they go, and the note
// of its delivery.
static void FinishFiling(const char *outbox) {
    char path[MAX_PATH], name[MessageNameSize];
    QueueStatePath(path, outbox);
    GetPrivateProfileStringA("Delivered", "Message", "", name, sizeof name, path);
    QueuePath(path, outbox, "", name, ".eml");
    if (!name[0] || GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES) {
        return; // none, or still to be filed
    }
    static const char *const Left[] = {".env", ".txt"};
    for (const char *extension : Left) {
        QueuePath(path, outbox, "", name, extension);
        DeleteFileA(path);
    }
    NoteDelivery(outbox, NULL, NULL);
}

// 1 when the profile's queue stopped (wrong credentials, an untrusted
// certificate, no TLS); changing its settings starts it again.
static int ProfileStopped(const char *outbox, const char *profile) {
    char path[MAX_PATH];
    QueueStatePath(path, outbox);
    return GetPrivateProfileIntA("Stopped", profile, 0, path) != 0;
}

// The outbox's messages in order until one must wait: the milliseconds
// until it is due, 0 when none waits.
static DWORD DeliverOutbox(const char *outbox, int deliver) {
    if (deliver) {
        FinishFiling(outbox);
    }
    ULONGLONG due = NextTry(outbox), now = NowMs();
    int count = ListMessages(outbox);
    // The settings of the profile of the message before: most messages of an
    // outbox share one, read once a pass.
    char loaded[StoreNameSize] = "";
    int known = 0;
    MailProfile mail;
    for (int i = 0; i < count; i++) {
        char path[MAX_PATH];
        Envelope envelope;
        QueuePath(path, outbox, "", MessageNames[i], ".env");
        int read = ReadEnvelope(path, &envelope);
        if (read && strcmp(loaded, envelope.Profile) != 0) {
            known = LoadMailProfile(envelope.Profile, &mail);
            lstrcpynA(loaded, envelope.Profile, sizeof loaded);
        }
        int deliverable = read && known && !ProfileStopped(outbox, envelope.Profile);
        if (!deliverable) {
            FreeEnvelope(&envelope);
            continue;
        }
        if (due > now || !deliver) {
            FreeEnvelope(&envelope);
            return due > now ? (DWORD)(due - now) : 1;
        }
        static DeliveryResult result;
        result = DeliveryResult();
        if (!DeliveredBefore(outbox, MessageNames[i], &result)) {
            // One the server took before is only filed.
            SendQueued(outbox, MessageNames[i], &mail, &envelope, &result);
        }
        if (result.Outcome == Stopped) {
            // Not tried again by itself: the server would only refuse again.
            QueueStatePath(path, outbox);
            WritePrivateProfileStringA("Stopped", envelope.Profile, "1", path);
            FreeEnvelope(&envelope);
            LogAttempt(outbox, MessageNames[i], &mail, &result, 0);
            continue;
        }
        FreeEnvelope(&envelope);
        if (result.Outcome != Delivered) { // a delivery is logged once, as it is noted
            int again = result.Outcome == Temporary || result.Outcome == Partial;
            DWORD pause = again ? RecordTry(outbox, 1) : 0;
            LogAttempt(outbox, MessageNames[i], &mail, &result, pause);
            if (again) {
                return pause ? pause : 1;
            }
        }
        DWORD error =
            FileMessage(outbox, MessageNames[i],
                        result.Outcome == Delivered ? "Sent\\" : "Failed\\", &mail, &result);
        if (error) {
            // Tried again after a pause that grows while it fails, without sending it again.
            char why[ReplySize - 64];
            ErrorText(error, why, sizeof why);
            result = DeliveryResult();
            result.Outcome = Temporary;
            snprintf(result.Reply, sizeof result.Reply,
                     "it cannot be moved out of the outbox (error %lu: %s)", (unsigned long)error,
                     why);
            DWORD pause = RecordTry(outbox, 1);
            LogAttempt(outbox, MessageNames[i], &mail, &result, pause);
            return pause ? pause : 1;
        }
        RecordTry(outbox, 0);
        NoteDelivery(outbox, NULL, NULL);
    }
    return 0;
}

static void AddOutbox(const char *profile, void *) {
    MailProfile mail;
    char outbox[MAX_PATH];
    if (!LoadMailProfile(profile, &mail) || OutboxesFound == OutboxCount) {
        return;
    }
    ProfileOutbox(profile, outbox, sizeof outbox);
    for (int i = 0; i < OutboxesFound; i++) {
        if (_stricmp(Outboxes[i], outbox) == 0) {
            return;
        }
    }
    lstrcpynA(Outboxes[OutboxesFound++], outbox, MAX_PATH);
}

DWORD DeliverOutboxes(int deliver) {
    OutboxesFound = 0;
    ForEachProfile(AddOutbox, NULL);
    DWORD soonest = 0;
    for (int i = 0; i < OutboxesFound; i++) {
        DWORD pause = DeliverOutbox(Outboxes[i], deliver);
        soonest = pause && (!soonest || pause < soonest) ? pause : soonest;
    }
    return soonest;
}

int RunDeliveryAgent() {
    HANDLE mutex = CreateMutexA(NULL, TRUE, TELVEX_AGENT_MUTEX);
    if (!mutex || GetLastError() == ERROR_ALREADY_EXISTS) {
        if (mutex) {
            CloseHandle(mutex);
        }
        return 1;
    }
    HANDLE wake = CreateEventA(NULL, FALSE, FALSE, TELVEX_AGENT_WAKE);
    WSADATA winsock;
    WSAStartup(MAKEWORD(2, 2), &winsock);
    for (;;) {
        DWORD pause = DeliverOutboxes(1);
        if (pause) {
            if (!wake || WaitForSingleObject(wake, pause) == WAIT_FAILED) {
                Sleep(pause); // cannot be woken: the pause is kept all the same
            }
            continue;
        }
        // A message queued while the mutex was held found the agent running:
        // look once more after letting it go.
        ReleaseMutex(mutex);
        CloseHandle(mutex);
        if (!DeliverOutboxes(0)) {
            break;
        }
        mutex = CreateMutexA(NULL, TRUE, TELVEX_AGENT_MUTEX);
        if (!mutex || GetLastError() == ERROR_ALREADY_EXISTS) {
            if (mutex) {
                CloseHandle(mutex);
            }
            break; // another agent took over
        }
    }
    WSACleanup();
    if (wake) {
        CloseHandle(wake);
    }
    return 0;
}
