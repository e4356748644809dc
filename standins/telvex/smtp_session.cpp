#include "smtp_session.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <ctype.h>
#include <stdio.h>
#include <string.h>

#include "tls_channel.h"

enum : int { CommandSize = 1024, PipelineWindow = 64, ChunkSize = 64 * 1024 };
// A message up to this size is read once, into memory, and sent from there.
enum : DWORD { MemoryLimit = 4 * 1024 * 1024 };

// The session, and what the server sent that is not read yet.
static struct SmtpSession {
    SOCKET Socket;
    DWORD Timeout;     // milliseconds for the connection, and for each reply as a whole
    DWORD DataTimeout; // for the reply to the end of the data
    int Secure;        // 1 inside TLS
    int Answering;     // 1 while the server answers: the session ends with QUIT
    DWORD Extensions;  // what the last EHLO named
    int Start, Used;   // Buffer[Start..Used) is read and not yet taken
    char Buffer[4096];
    int Pending; // commands not yet sent, sent together
    char Commands[8 * 1024];
    int Announced; // an envelope went ahead of its message: no QUIT before it
} Session;

// A failure of the session: why, and whether to try again later (the
// connection is then of no more use) or not until the settings change.
static int SessionFails(DeliveryResult *result, int outcome, const char *why) {
    result->Outcome = outcome;
    result->Session = SessionLost;
    if (why) {
        lstrcpynA(result->Reply, why, ReplySize);
    }
    return 0;
}

static int Loopback(const addrinfo *address) {
    const sockaddr_in *v4 = (const sockaddr_in *)address->ai_addr;
    const sockaddr_in6 *v6 = (const sockaddr_in6 *)address->ai_addr;
    return address->ai_family == AF_INET ? (ntohl(v4->sin_addr.s_addr) >> 24) == 127
                                         : IN6_IS_ADDR_LOOPBACK(&v6->sin6_addr);
}

// Connects to one address within the timeout; 1, or 0 with why.
static int ConnectAddress(const addrinfo *address, const MailProfile *mail, char *why) {
    SOCKET link = socket(address->ai_family, SOCK_STREAM, IPPROTO_TCP);
    u_long nonBlocking = 1;
    int connected = link != INVALID_SOCKET && ioctlsocket(link, FIONBIO, &nonBlocking) == 0 &&
                    (connect(link, address->ai_addr, (int)address->ai_addrlen) == 0 ||
                     WSAGetLastError() == WSAEWOULDBLOCK);
    snprintf(why, ReplySize, "no connection to %s:%u (error %d)", mail->Server, mail->Port,
             WSAGetLastError());
    if (connected) {
        fd_set writable, failed;
        FD_ZERO(&writable);
        FD_ZERO(&failed);
        FD_SET(link, &writable);
        FD_SET(link, &failed);
        timeval wait = {(long)(Session.Timeout / 1000), (long)(Session.Timeout % 1000) * 1000};
        int error = 0, length = sizeof error;
        connected = select(0, NULL, &writable, &failed, &wait) == 1 && FD_ISSET(link, &writable) &&
                    getsockopt(link, SOL_SOCKET, SO_ERROR, (char *)&error, &length) == 0 &&
                    error == 0;
        snprintf(why, ReplySize, "no connection to %s:%u (%s)", mail->Server, mail->Port,
                 FD_ISSET(link, &writable) || FD_ISSET(link, &failed) ? "refused" : "timed out");
    }
    nonBlocking = 0;
    if (!connected || ioctlsocket(link, FIONBIO, &nonBlocking) != 0) {
        if (link != INVALID_SOCKET) {
            closesocket(link);
        }
        return 0;
    }
    DWORD timeout = Session.Timeout;
    setsockopt(link, SOL_SOCKET, SO_SNDTIMEO, (const char *)&timeout, sizeof timeout);
    // Commands and the end of the data go at once, not held back until the
    // server acknowledges what came before.
    BOOL noDelay = TRUE;
    setsockopt(link, IPPROTO_TCP, TCP_NODELAY, (const char *)&noDelay, sizeof noDelay);
    Session.Socket = link;
    return 1;
}

// Each address the server's name has, in turn, until one answers.
static int Connect(const MailProfile *mail, DeliveryResult *result) {
    char port[8];
    snprintf(port, sizeof port, "%u", mail->Port);
    addrinfo hints = {}, *found = NULL;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    if (getaddrinfo(mail->Server, port, &hints, &found) != 0 || !found) {
        snprintf(result->Reply, ReplySize, "no address for %s", mail->Server);
        return SessionFails(result, Temporary, NULL);
    }
    int tried = 0, connected = 0;
    for (const addrinfo *address = found; address && !connected; address = address->ai_next) {
        if (mail->Security == SecurityNone && !Loopback(address)) {
            continue; // no account or message goes unprotected off this computer
        }
        tried++;
        connected = ConnectAddress(address, mail, result->Reply);
    }
    freeaddrinfo(found);
    if (!tried) {
        return SessionFails(result, Stopped, "security none is only for a server on this computer");
    }
    return connected ? 1 : SessionFails(result, Temporary, NULL);
}

static int SendBytes(const char *data, int length) {
    return Session.Secure ? TlsSend(Session.Socket, data, length)
                          : SendAll(Session.Socket, data, length);
}

// Sends the commands gathered, then forgets them (one may hold the account).
static int Flush() {
    int sent = !Session.Pending || SendBytes(Session.Commands, Session.Pending);
    SecureZeroMemory(Session.Commands, Session.Pending);
    Session.Pending = 0;
    return sent;
}

// Adds bytes to those to send together; 1/0.
static int QueueBytes(const char *bytes, int length) {
    if (Session.Pending + length > (int)sizeof Session.Commands && !Flush()) {
        return 0;
    }
    memcpy(Session.Commands + Session.Pending, bytes, length);
    Session.Pending += length;
    return 1;
}

// Sends bytes after those gathered: a piece that fits goes with what
// follows it (a small message with its end and the next envelope); 1/0.
static int SendAfterQueued(const char *bytes, int length) {
    if (Session.Pending + length <= (int)sizeof Session.Commands) {
        return QueueBytes(bytes, length);
    }
    return Flush() && SendBytes(bytes, length);
}

// Adds a command line to those to send together; 1/0.
static int QueueCommand(const char *command) {
    return QueueBytes(command, lstrlenA(command)) && QueueBytes("\r\n", 2);
}

// One reply, read whole within timeout: its code, or 0 with why in text (the
// session is then lost). extensions, when given, gets those an EHLO names.
static int ReadReply(DWORD timeout, char *text, DWORD *extensions) {
    static ReplyReader reader;
    StartReply(&reader);
    DWORD deadline = GetTickCount() + timeout;
    for (;;) {
        Session.Start +=
            TakeReply(&reader, Session.Buffer + Session.Start, Session.Used - Session.Start);
        if (reader.Whole) {
            lstrcpynA(text, reader.Text, ReplySize);
            if (extensions) {
                *extensions = reader.Extensions;
            }
            Session.Answering = reader.Code != 0 && reader.Code != 421;
            return reader.Code;
        }
        Session.Start = Session.Used = 0;
        int got =
            Session.Secure
                ? TlsReceive(Session.Socket, deadline, Session.Buffer, sizeof Session.Buffer)
                : ReceiveBefore(Session.Socket, deadline, Session.Buffer, sizeof Session.Buffer);
        if (got <= 0) {
            lstrcpynA(text,
                      got == 0                                 ? "connection closed by the server"
                      : (LONG)(deadline - GetTickCount()) <= 0 ? "no whole reply in time"
                                                               : "the connection was lost",
                      ReplySize);
            Session.Answering = 0;
            return 0;
        }
        Session.Used = got;
    }
}

// Sends a command line and reads its reply: the reply's code, 0 for none.
static int Command(const char *command, char *reply, DWORD *extensions = NULL) {
    if (!QueueCommand(command) || !Flush()) {
        lstrcpynA(reply, "the connection was lost", ReplySize);
        Session.Answering = 0;
        return 0;
    }
    return ReadReply(Session.Timeout, reply, extensions);
}

// TLS on the connection: 1, or 0 with the result saying why (an untrusted
// certificate stops the profile's queue); note gets what the log should say.
static int Secure(const MailProfile *mail, DeliveryResult *result, char *note) {
    int state = StartTls(Session.Socket, GetTickCount() + Session.Timeout, mail->Server,
                         mail->Certificate, result->Reply, ReplySize);
    Session.Secure = state == TlsOpen;
    if (Session.Secure) {
        lstrcpynA(note, result->Reply, ReplySize);
        return 1;
    }
    return SessionFails(result, state == TlsUntrusted ? Stopped : Temporary, NULL);
}

// AUTH PLAIN, or AUTH LOGIN where the server offers only that: the last
// reply's code. Neither offered: the server asks for no account (250).
static int Authenticate(const MailProfile *mail, const char *profile, char *reply) {
    if (!(Session.Extensions & (SmtpAuthPlain | SmtpAuthLogin))) {
        return 250;
    }
    static char password[PasswordSize], secret[StoreTextSize + PasswordSize + 2],
        command[CommandSize];
    if (!MailPassword(profile, password, sizeof password)) {
        password[0] = 0;
    }
    int user = lstrlenA(mail->User), length = lstrlenA(password);
    int code = 504;
    if (Session.Extensions & SmtpAuthPlain) {
        secret[0] = 0;
        memcpy(secret + 1, mail->User, user + 1);
        memcpy(secret + user + 2, password, length);
        lstrcpynA(command, "AUTH PLAIN ", sizeof command);
        EncodeBase64((const BYTE *)secret, user + length + 2, command + 11);
        code = Command(command, reply);
    }
    if ((code == 504 || code == 502) && (Session.Extensions & SmtpAuthLogin)) {
        code = Command("AUTH LOGIN", reply);
        if (code == 334) {
            EncodeBase64((const BYTE *)mail->User, user, command);
            code = Command(command, reply);
        }
        if (code == 334) {
            EncodeBase64((const BYTE *)password, length, command);
            code = Command(command, reply);
        }
    }
    SecureZeroMemory(password, sizeof password);
    SecureZeroMemory(secret, sizeof secret);
    SecureZeroMemory(command, sizeof command);
    return code == 235 ? 250 : code;
}

// The name given in EHLO: the machine's name where it is a domain name, else
// the address literal of the connection's own end. Windows names may hold
// characters, such as "_", for which servers refuse the greeting.
static void HelloName(char *out, int size) {
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
    if (getsockname(Session.Socket, (sockaddr *)&own, &ownLength) == 0) {
        getnameinfo((sockaddr *)&own, ownLength, host, sizeof host, NULL, 0, NI_NUMERICHOST);
    }
    snprintf(out, size, own.ss_family == AF_INET6 ? "[IPv6:%s]" : "[%s]", host);
}

// EHLO, and HELO where the server knows no EHLO (then without extensions):
// 250, or the code that ended it.
static int Hello(DeliveryResult *result) {
    char command[NI_MAXHOST + 16];
    lstrcpynA(command, "EHLO ", sizeof command);
    HelloName(command + 5, sizeof command - 5);
    int code = Command(command, result->Reply, &Session.Extensions);
    if (code >= 500) {
        memcpy(command, "HELO", 4);
        Session.Extensions = 0;
        code = Command(command, result->Reply);
    }
    return code;
}

// The outcome of a reply that ends the session: a refusal of the account or
// of TLS waits for new settings; anything else is tried again later.
static int SessionRefused(DeliveryResult *result, int code, int stops) {
    return SessionFails(result, code >= 500 && stops ? Stopped : Temporary, NULL);
}

int OpenSmtpSession(const MailProfile *mail, const char *profile, DeliveryResult *result,
                    char *note) {
    note[0] = 0;
    Session.Socket = INVALID_SOCKET;
    Session.Timeout = StoreNumber("SmtpTimeoutMs", 60 * 1000);
    // RFC 5321, 4.5.3.2.6: ten minutes for the reply to the end of the data.
    Session.DataTimeout = StoreNumber("SmtpDataTimeoutMs", 10 * 60 * 1000);
    if (Session.DataTimeout < Session.Timeout) {
        Session.DataTimeout = Session.Timeout;
    }
    Session.Secure = Session.Answering = Session.Start = Session.Used = Session.Pending = 0;
    Session.Announced = 0;
    Session.Extensions = 0;
    const char *problem = MailProfileProblem(mail);
    if (problem) {
        return SessionFails(result, Stopped, problem);
    }
    if (!Connect(mail, result) || (mail->Security == SecurityTls && !Secure(mail, result, note))) {
        return 0;
    }
    int code = ReadReply(Session.Timeout, result->Reply, NULL);
    if (code != 220) {
        // A server that refuses the session (554) refuses it now, not the
        // messages: they wait, as for a server that is down.
        return SessionFails(result, Temporary, NULL);
    }
    code = Hello(result);
    if (code != 250) {
        return SessionFails(result, Temporary, NULL);
    }
    if (mail->Security == SecurityStartTls) {
        if (!(Session.Extensions & SmtpStartTls)) {
            // Never on without the TLS the profile asks for.
            return SessionFails(result, Stopped, "the server does not offer STARTTLS");
        }
        code = Command("STARTTLS", result->Reply);
        if (code != 220) {
            return SessionRefused(result, code, 1); // 454 and a dropped connection are temporary
        }
        if (Session.Start != Session.Used) {
            // RFC 3207, 4.2: nothing said before TLS may count inside it.
            Session.Answering = 0;
            return SessionFails(result, Temporary,
                                "the server sent more after its 220 to STARTTLS");
        }
        code = Secure(mail, result, note) ? Hello(result) : 0;
        if (code != 250) {
            return code ? SessionFails(result, Temporary, NULL) : 0;
        }
    }
    if (mail->User[0] && Session.Secure) {
        code = Authenticate(mail, profile, result->Reply);
        if (code != 250) {
            return SessionRefused(result, code, 1); // wrong credentials: no use trying again
        }
    }
    result->Session = SessionGoesOn;
    return 1;
}

// The data of a transaction the server does not expect: the session ends
// here, without QUIT, which the server would take as data.
static void EndHere(DeliveryResult *result) {
    result->Session = SessionEndedHere;
    Session.Answering = 0;
}

// The envelope's command number index: MAIL, each RCPT (recipient is the
// next one's address, moved on), then DATA; 1/0 as QueueCommand.
static int QueueEnvelopeCommand(const Envelope *envelope, int eightBit, int index,
                                const char **recipient) {
    char command[CommandSize];
    if (index == 0) {
        snprintf(command, sizeof command, "MAIL FROM:<%s>%s", envelope->Sender,
                 eightBit ? " BODY=8BITMIME" : "");
    } else if (index <= envelope->Count) {
        snprintf(command, sizeof command, "RCPT TO:<%s>", *recipient);
        *recipient += strlen(*recipient) + 1;
    } else {
        lstrcpynA(command, "DATA", sizeof command);
    }
    return QueueCommand(command);
}

// 1 when the message's envelope can go ahead with the end of the one before.
static int CanAnnounce(const SmtpMessage *message) {
    return (Session.Extensions & SmtpPipelining) &&
           message->Envelope->Count + 2 <= PipelineWindow &&
           !DataRefusal(&message->Facts, Session.Extensions);
}

// Queues the whole envelope of a message that goes next; 1/0.
static int Announce(SmtpMessage *message) {
    const char *recipient = message->Envelope->Recipients;
    int ok = 1;
    for (int i = 0; ok && i < message->Envelope->Count + 2; i++) {
        ok = QueueEnvelopeCommand(message->Envelope, message->Facts.EightBit, i, &recipient);
    }
    message->Announced = Session.Announced = ok;
    return ok;
}

// MAIL, each RCPT and DATA: sent as one group where the server takes
// pipelining (or already sent, announced), else one at a time; each reply
// read in turn. 354 when the data may follow; otherwise the result says what
// became of the message.
static int SendEnvelope(const SmtpMessage *message, DeliveryResult *result) {
    const Envelope *envelope = message->Envelope;
    int pipelined = (Session.Extensions & SmtpPipelining) != 0;
    int total = envelope->Count + 2, read = 0, stop = 0;
    int sent = message->Announced ? total : 0;
    int mail = 0, data = 0, accepted = 0, waits = 0, decisive = 0;
    const char *next = envelope->Recipients, *answered = envelope->Recipients;
    static char mailReply[ReplySize], decisiveReply[ReplySize];
    while (read < total) {
        while (!stop && sent < total &&
               (sent == read || (pipelined && sent - read < PipelineWindow))) {
            // One at a time: nothing after a refused MAIL, no DATA without a recipient.
            if (!pipelined && sent &&
                (mail != 250 || (sent == total - 1 && (!accepted || waits)))) {
                stop = 1;
                break;
            }
            if (!QueueEnvelopeCommand(envelope, message->Facts.EightBit, sent, &next)) {
                return SessionFails(result, Temporary, "the connection was lost");
            }
            sent++;
        }
        if (read == sent) {
            break;
        }
        if (!Flush()) {
            return SessionFails(result, Temporary, "the connection was lost");
        }
        int answer = ReadReply(Session.Timeout, result->Reply, NULL);
        if (!answer || answer == 421) {
            return SessionFails(result, Temporary, NULL);
        }
        if (read == 0) {
            mail = answer;
            lstrcpynA(mailReply, result->Reply, ReplySize);
        } else if (read < total - 1) {
            if (answer / 100 == 2) {
                accepted++;
            } else if (answer >= 500) {
                // Refused for good: the others still get the message.
                AddToList(result->Refused, answered, result->Reply);
                decisive = decisive ? decisive : answer;
            } else if (answer < 400 || !AddToList(result->Later, answered, NULL)) {
                waits = answer; // no such reply, or more than the list holds: all of it waits
                decisive = answer;
                lstrcpynA(decisiveReply, result->Reply, ReplySize);
            } else {
                // Busy for now: the others get the message, this one is tried later.
                AddToList(result->Deferred, answered, result->Reply);
                decisive = answer;
            }
            if (!waits) {
                lstrcpynA(decisiveReply, result->Reply, ReplySize);
            }
            answered += strlen(answered) + 1;
        } else {
            data = answer;
        }
        read++;
    }
    if (mail == 250 && accepted && !waits && data == 354) {
        return 354;
    }
    int code = mail != 250 ? mail : (!accepted || waits) ? decisive : data;
    if (mail != 250) {
        lstrcpynA(result->Reply, mailReply, ReplySize);
    } else if (!accepted || waits) {
        lstrcpynA(result->Reply, decisiveReply, ReplySize);
    }
    result->Outcome = code == 530 ? Stopped : code >= 500 ? Permanent : Temporary;
    if (data == 354) {
        EndHere(result);
    } else if (mail == 250) {
        char reply[ReplySize];
        if (Command("RSET", reply) != 250) {
            result->Session = SessionLost;
        }
    }
    return code;
}

// The next piece of the message, of at most most bytes: from memory, or
// read from its file into in; *got 0 at its end. 0 when it cannot be read.
static BOOL NextPiece(const SmtpMessage *message, ULONGLONG sent, DWORD most, char *in,
                      const char **piece, DWORD *got) {
    if (!message->InMemory) {
        *piece = in;
        return ReadFile(message->File, in, most, got, NULL);
    }
    ULONGLONG left = message->Facts.Size - sent;
    *piece = message->Memory + sent;
    *got = left < most ? (DWORD)left : most;
    return TRUE;
}

// The message file as DATA, then its end (with the envelope of the next
// message where it can go ahead), then the reply to the end. Bytes already
// in that form, measured as they are sent, go as they are, in one piece.
static void SendData(const SmtpMessage *message, SmtpMessage *next, DeliveryResult *result,
                     void (*meanwhile)(void *), void *context) {
    static char in[ChunkSize], out[2 * ChunkSize + 8];
    DataEncoder encoder;
    StartData(&encoder);
    int asTheyAre = message->InMemory && InDataForm(&message->Facts);
    ULONGLONG sent = 0;
    DWORD got = 0;
    const char *piece;
    BOOL read;
    int ok = 1;
    while (ok &&
           (read = NextPiece(message, sent, asTheyAre ? MemoryLimit : (DWORD)ChunkSize, in, &piece,
                             &got)) &&
           got) {
        sent += got;
        ok = asTheyAre ? SendAfterQueued(piece, (int)got)
                       : SendAfterQueued(out, (int)EncodeData(&encoder, piece, got, out));
        if (ok && meanwhile && !Session.Pending) {
            // The data goes: the server is busy with it while the rest follows.
            meanwhile(context);
            meanwhile = NULL;
        }
    }
    if (ok && (!read || sent != message->Facts.Size)) {
        // Cut short: without its end the server cannot take it for whole.
        snprintf(result->Reply, ReplySize, "the message file could not be read whole (error %lu)",
                 read ? (unsigned long)ERROR_HANDLE_EOF : (unsigned long)GetLastError());
        result->Outcome = Temporary;
        EndHere(result);
        return;
    }
    DWORD end = EndData(&encoder, out);
    ok = ok && QueueBytes(out, (int)end) && (!next || !CanAnnounce(next) || Announce(next)) &&
         Flush();
    if (!ok) {
        SessionFails(result, Temporary, "connection lost while sending the message");
        return;
    }
    if (meanwhile) {
        meanwhile(context);
    }
    int code = ReadReply(Session.DataTimeout, result->Reply, NULL);
    if (!code || code == 421) {
        SessionFails(result, Temporary, NULL);
    } else {
        result->Outcome = code == 250   ? (result->Later[0] ? Partial : Delivered)
                          : code >= 500 ? Permanent
                                        : Temporary;
    }
}

// Reads the whole file into the message's memory, one byte more asked for
// than it holds so that its end is seen: 1, or 0 when it is too large, the
// memory cannot be had, or it changed meanwhile (then read as a stream).
static int ReadWhole(SmtpMessage *message) {
    DWORD size = GetFileSize(message->File, NULL), got = 0;
    if (size >= MemoryLimit) {
        return 0;
    }
    if (message->Capacity < size + 1) {
        char *memory =
            (char *)(message->Memory ? HeapReAlloc(GetProcessHeap(), 0, message->Memory, size + 1)
                                     : HeapAlloc(GetProcessHeap(), 0, size + 1));
        if (!memory) {
            return 0;
        }
        message->Memory = memory;
        message->Capacity = size + 1;
    }
    if (!ReadFile(message->File, message->Memory, size + 1, &got, NULL) || got != size) {
        SetFilePointer(message->File, 0, NULL, FILE_BEGIN);
        return 0;
    }
    MeasureData(&message->Facts, message->Memory, size);
    return 1;
}

void ReleaseSmtpMessage(SmtpMessage *message) {
    if (message->Memory) {
        HeapFree(GetProcessHeap(), 0, message->Memory);
    }
    message->Memory = NULL;
    message->Capacity = 0;
    message->InMemory = 0;
}

int PrepareSmtpMessage(SmtpMessage *message, HANDLE file, const Envelope *envelope,
                       DeliveryResult *result) {
    static char chunk[ChunkSize];
    char *memory = message->Memory;
    DWORD capacity = message->Capacity;
    memset(message, 0, sizeof *message);
    message->Memory = memory;
    message->Capacity = capacity;
    message->File = file;
    message->Envelope = envelope;
    message->InMemory = ReadWhole(message);
    DWORD got = 0;
    BOOL read = TRUE;
    while (!message->InMemory && (read = ReadFile(file, chunk, ChunkSize, &got, NULL)) && got) {
        MeasureData(&message->Facts, chunk, got);
    }
    if (!read || (!message->InMemory &&
                  SetFilePointer(file, 0, NULL, FILE_BEGIN) == INVALID_SET_FILE_POINTER)) {
        result->Outcome = Temporary;
        snprintf(result->Reply, ReplySize, "the message file cannot be read (error %lu)",
                 (unsigned long)GetLastError());
        return 0;
    }
    const char *refusal = DataRefusal(&message->Facts, Session.Extensions);
    if (refusal) {
        result->Outcome = Permanent;
        lstrcpynA(result->Reply, refusal, ReplySize);
        return 0;
    }
    return 1;
}

void SendSmtpMessage(SmtpMessage *message, SmtpMessage *next, DeliveryResult *result,
                     void (*meanwhile)(void *), void *context) {
    result->Outcome = Temporary;
    result->Session = SessionGoesOn;
    Session.Announced = 0;
    if (SendEnvelope(message, result) == 354) {
        SendData(message, next, result, meanwhile, context);
    }
}

void CloseSmtpSession() {
    if (Session.Socket == INVALID_SOCKET) {
        return;
    }
    char ignored[ReplySize];
    if (Session.Answering && !Session.Announced) {
        Command("QUIT", ignored);
    }
    EndTls();
    closesocket(Session.Socket);
    Session.Socket = INVALID_SOCKET;
    Session.Secure = 0;
}
