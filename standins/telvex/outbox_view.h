// What the outbox window shows: every message waiting in the outbox of any
// profile, and every one filed as failed, with its recipients, attachments,
// state, the server's last reply and its next try; and what Retry Now and
// Remove do to one. Apart from any window.
#pragma once
#include <windows.h>

#include "outbox_queue.h"

enum : int { ViewCapacity = 2048, SummarySize = 256, OutboxLimit = 32 };
// Sent: the server took it, it is being filed.
enum : int { ViewQueued, ViewDelayed, ViewStopped, ViewSent, ViewFailed };
enum : int { ViewColumnCount = 6 };

struct OutboxViewItem {
    char Outbox[MAX_PATH];
    char Name[MessageNameSize]; // "<stem>.eml", in the outbox or in its Failed\ folder
    int State;
    int Delivers;      // 1 when the agent delivers it (it has an envelope)
    ULONGLONG Queued;  // milliseconds since 1601 (UTC)
    ULONGLONG NextTry; // the same, 0 for none
    char Recipients[SummarySize];
    char Attachments[SummarySize];
    char Reply[ReplySize];
};

struct OutboxView {
    int Count;
    OutboxViewItem Items[ViewCapacity];
};

// The outbox folders of every profile, each once: how many.
int ListOutboxes(char (*outboxes)[MAX_PATH], int capacity);
// Reads every outbox into view: waiting messages oldest first, then failed
// ones. What earlier (a view read before, or NULL) holds of a message's
// recipients and attachments is taken from there rather than read again.
void ReadOutboxView(OutboxView *view, const OutboxView *earlier);
// A column of an item as the window shows it: queued, recipients,
// attachments, state, last reply, next try.
void ViewColumnText(const OutboxViewItem *item, int column, char *out, int size);
// Whether Retry Now and Remove apply to an item in its state.
int CanRetry(const OutboxViewItem *item);
int CanRemove(const OutboxViewItem *item);
// Retry Now: a waiting message is tried at once, its profile too; a failed one
// goes back into its outbox under a new name with a fresh envelope and its
// record. NULL when done, else why not.
const char *RetryViewItem(const OutboxViewItem *item);
// Remove: the message, its envelope and its record go. NULL when done, else
// why not.
const char *RemoveViewItem(const OutboxViewItem *item);
