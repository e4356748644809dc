// The outbox queue's two texts, apart from any file: the envelope beside each
// message, and the queue's state (queue.ini) with each message's and each
// profile's tries, pauses, stops and notes of delivery.
#pragma once
#include <windows.h>

#include "smtp_reply.h"
#include "store.h"

enum : int { MessageNameSize = 80, StateMessages = 1024, StateProfiles = 32 };
static_assert((int)StoreNameSize <= (int)MessageNameSize, "a profile's name fits an entry");

// A message's envelope, read from its .env file: lines made strings.
struct Envelope {
    char *Text;
    const char *Profile;
    const char *Sender;
    const char *Recipients; // one after another, each ended by a NUL
    int Count;
};

// Reads an envelope's text in place (length bytes, then a NUL): NULL when it
// is whole (a profile, a sender, then one recipient a line, every line
// ended, every address a plain mailbox), else why it is not.
const char *ParseEnvelope(char *text, DWORD length, Envelope *envelope);

enum : int { MessageEntry, ProfileEntry };

// A message's or a profile's state.
struct QueueEntry {
    char Name[MessageNameSize]; // the message's file name, or the profile's name
    DWORD Failures;             // tries (or sessions) in a row that failed
    ULONGLONG NextTry;          // milliseconds since 1601 (UTC)
    // A message: the server took it, only its filing is left ("Taken").
    // A profile: not tried until its settings change or a retry is asked ("Stopped").
    int Held;
    char Reply[ReplySize]; // the server's last reply, or why there was none
};

struct QueueState {
    int Count[2]; // of messages and of profiles
    QueueEntry Message[StateMessages];
    QueueEntry Profile[StateProfiles];
};

// Reads queue.ini's text (length bytes) into state; what cannot be read is
// left out.
void ReadQueueState(const char *text, DWORD length, QueueState *state);
// The state as queue.ini's text: its length in out (a NUL after it), or -1
// when out (size bytes) cannot hold it. QueueStateTextSize is always enough.
int WriteQueueState(const QueueState *state, char *out, DWORD size);
DWORD QueueStateTextSize(const QueueState *state);
// The entry of a message or a profile (kind); a new empty one when add is 1
// and there is room; NULL otherwise.
QueueEntry *FindQueueEntry(QueueState *state, int kind, const char *name, int add);
void ForgetQueueEntry(QueueState *state, int kind, const char *name);
