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
// Sends a message file with its envelope over the open session; the result
// says what became of it, and whether the session goes on.
void SendSmtpMessage(HANDLE file, const Envelope *envelope, DeliveryResult *result);
// Ends the session: QUIT while the server still answers, then the connection.
void CloseSmtpSession();
