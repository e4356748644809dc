// One SMTP session with a profile's server (RFC 5321): the connection, tried
// on each address the server's name has; the greeting; EHLO, or HELO where
// the server knows no EHLO; TLS as the profile asks (RFC 3207) and the
// account inside it (RFC 4954); then one message after another, the
// envelope's commands pipelined where the server offers it (RFC 2920),
// until the session is closed. The agent holds one session at a time.
#pragma once
#include <windows.h>

#include "outbox_filing.h"

// Opens a session: 1, or 0 with the result saying why (Temporary: to be
// tried again later; Stopped: not until the profile's settings change).
// note gets what the log should say of a session that opened (or "").
int OpenSmtpSession(const MailProfile *mail, const char *profile, DeliveryResult *result,
                    char *note);
// A message for the session: its file, measured, and its envelope.
struct SmtpMessage {
    HANDLE File;
    const Envelope *Envelope;
    DataFacts Facts;
    int Announced; // its envelope went with the end of the message before it
    int InMemory;  // the file was read whole into Memory, and is sent from there
    char *Memory;  // kept from one message to the next
    DWORD Capacity;
};

// Measures a message file for the open session, reading it whole into
// memory where it fits: 1, or 0 with the result saying why it cannot go
// (Temporary: it cannot be read; Permanent: refused).
int PrepareSmtpMessage(SmtpMessage *message, HANDLE file, const Envelope *envelope,
                       DeliveryResult *result);
// Gives back the memory a message kept for the next one: at the session's end,
// so that an agent waiting out a pause holds none.
void ReleaseSmtpMessage(SmtpMessage *message);
// Sends a prepared message over the open session; the result says what
// became of it, and whether the session goes on. Where the server takes
// pipelining, the envelope of next (prepared, or NULL) goes with this one's
// end: next must then be the message sent next, or the session ends unsent.
// Once the message's data has begun to go (all of it, when it goes in one
// write), meanwhile (where given) is called with context, before the reply
// to its end is waited for.
void SendSmtpMessage(SmtpMessage *message, SmtpMessage *next, DeliveryResult *result,
                     void (*meanwhile)(void *), void *context);
// Ends the session: QUIT while the server still answers, then the connection.
void CloseSmtpSession();
