// An outbox as a queue: its messages oldest first, their envelopes, and the
// queue's state in queue.ini. The delivery agent, the settings tool and
// whatever shows the queue change the state under one lock, each change
// read, made and written back whole, so none undoes another's.
#pragma once
#include <windows.h>

#include "queue_state.h"

enum : int { QueueSize = 1024 };

// One message waiting in an outbox.
struct QueuedMessage {
    char Name[MessageNameSize]; // "<stem>.eml"
    ULONGLONG Queued;           // when it was written, milliseconds since 1601 (UTC)
    // 0 when the outbox is known to have held no record of earlier attempts
    // ("<stem>.txt") or no note of whom to tell ("<stem>.who") as it was
    // listed (MarkFilesBeside), so that nobody looks for them in vain.
    int MayHaveRecord, MayHaveNote;
    // 1 when its envelope ("<stem>.env") was listed beside it; 0 when it may
    // be missing, so that whoever needs to know reads it.
    int HasEnvelope;
};

ULONGLONG QueueNow();
// Reads a file whole into out, NUL-terminated: its length, or -1 (out
// empty) when it cannot be read or does not fit in size bytes.
int ReadFileInto(const char *path, char *out, DWORD size);
// Writes the whole of text to a new file at path, through to the disk: 1, or
// 0 with the system's error (none for a write cut short by a full disk).
int WriteNewFile(const char *path, const char *text, DWORD length);
// The pause after failures in a row: the first pause ("RetryPauseMs", a
// minute) doubled for each further failure, at most LongestPause.
DWORD QueuePause(DWORD failures);
// An hour, or 64 first pauses where that is shorter: no wait is longer,
// whatever queue.ini says (a damaged file, the clock set back).
DWORD LongestPause();

// The outbox's messages, oldest first (their names begin with the time they
// were queued): how many, at most QueueSize.
int ListQueuedMessages(const char *outbox, QueuedMessage *out);
// Learns which of the count messages listed have a record, a note or an
// envelope beside them, for whoever files or sends them.
void MarkFilesBeside(const char *outbox, QueuedMessage *listed, int count);
// A path in the outbox: folder ("" for the outbox itself, else "Sent\" or
// "Failed\"), the message's name without ".eml", and an extension.
void QueuePath(char *out, const char *outbox, const char *folder, const char *message,
               const char *extension);
// The message's envelope: EnvelopeWhole, EnvelopeMissing (a message for a
// pickup service, not for the agent), EnvelopeBusy (another program holds
// it for now), or EnvelopeDamaged with why. Release it with FreeEnvelope.
enum : int { EnvelopeWhole, EnvelopeMissing, EnvelopeBusy, EnvelopeDamaged };
int LoadEnvelope(const char *outbox, const char *message, Envelope *envelope, const char **why);
void FreeEnvelope(Envelope *envelope);

// An empty state of its own, and its release.
QueueState *NewQueueState();
void FreeQueueState(QueueState *state);
// The outbox's state as queue.ini holds it (empty without one).
void LoadQueueState(const char *outbox, QueueState *state);
// Writes state in place of what queue.ini holds, under the lock; 1, or 0
// when it cannot be written whole (queue.ini is then as it was).
int SaveQueueState(const char *outbox, const QueueState *state);
// Sets a message's or a profile's entry (kind) to a copy of entry, or
// forgets it (entry NULL), in what queue.ini holds; 1/0 as SaveQueueState.
int ChangeQueueEntry(const char *outbox, int kind, const char *name, const QueueEntry *entry);
// Forgets the entries of these messages in one change; 1/0 as SaveQueueState.
int ForgetQueuedMessages(const char *outbox, const char *const *names, int count);

// For whoever shows the queue (and the settings tool):
// Makes a waiting message due now, with its profile if that was paused or
// stopped, and wakes the agent; 1/0.
int RetryQueuedMessage(const char *outbox, const char *message);
// Takes a message the server has not taken out of the outbox with its
// envelope, records and state: 1, or 0 while it is being sent, or once taken.
int RemoveQueuedMessage(const char *outbox, const char *message);
// Lets a profile's messages be tried at once (its settings changed) and wakes
// the agent where any waits; 1/0.
int RestartProfileQueue(const char *outbox, const char *profile);
// Wakes the delivery agent when an outbox of a profile with a server holds a
// message for it (none runs after a restart): 1 when one does.
int WakeAgentForWaitingMail();
