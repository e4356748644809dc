// What becomes of a message once the queue is done with it: filed in the
// outbox's Sent\ or Failed\ folder beside a record of its delivery, or kept
// in the outbox for the recipients the server deferred, with the record of
// what went already. Every attempt is a line of the log beside the outbox.
#pragma once
#include <windows.h>

#include "mail_settings.h"
#include "outbox_queue.h"

enum : int { ListSize = 4 * 1024 };
// Partial: some recipients have it, the others are to be tried again.
enum : int { Delivered, Temporary, Permanent, Stopped, Partial };
// Whether a session can carry another message after this one.
enum : int { SessionGoesOn, SessionLost, SessionEndedHere };

// What became of one message (or of a session before any message).
struct DeliveryResult {
    int Outcome;
    int Session;             // SessionGoesOn, SessionLost (a server fault) or SessionEndedHere
    char Reply[ReplySize];   // the last reply, or why there was none
    char Refused[ListSize];  // "address: reply" lines of recipients refused for good
    char Deferred[ListSize]; // the same for recipients to try again later
    char Later[ListSize];    // their addresses, one a line, as the envelope lists them
};

// Adds "first: second" (or "first" alone) as a line of a list; 0 when it
// does not fit whole.
int AddToList(char *list, const char *first, const char *second);

// Files the message and its envelope in folder ("Sent\" or "Failed\")
// beside its record, which holds the records of earlier partial deliveries
// (the outbox's <message>.txt) first: 0, or the system's error with nothing
// of the message left in folder, the message still whole in the outbox.
// mail is NULL for a message that names no usable profile.
DWORD FileMessage(const char *outbox, const QueuedMessage *message, const char *folder,
                  const MailProfile *mail, const DeliveryResult *result);
// After a partial delivery: the attempt's record joins the message's earlier
// ones in the outbox, and the envelope then names only the recipients still
// to get it (replaced whole); 1/0.
int KeepForLater(const char *outbox, QueuedMessage *message, const Envelope *envelope,
                 const MailProfile *mail, const DeliveryResult *result);

// The attempt as a line of that log: the message, its server, what became
// of it (with the pause before the next try), the last reply, and the
// recipients refused and deferred.
void LogAttempt(const char *outbox, const char *message, const MailProfile *mail,
                const DeliveryResult *result, DWORD pause);
// The system's words for an error, on one line ("" when it has none).
void ErrorText(DWORD error, char *out, int size);
