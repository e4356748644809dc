// Telling the program that queued a message what became of it. As the
// library queues a message for a process that asked (NotifyDelivery), it
// leaves "<message>.who" beside it in the outbox: the window, its message,
// the job and the window's process. The delivery agent posts the outcome to
// that window when it first keeps the message for a later try, and again
// when it files it; the note goes with the filing.
#pragma once
#include <windows.h>

#include "outbox_queue.h"

// 1 for a message number RegisterWindowMessage gives, the only kind posted.
int RegisteredMessage(UINT message);
// Library side: the window told about each message queued from now on
// (none when window is NULL).
void FollowDeliveries(HWND window, UINT message, DWORD job);
// Writes the note for a message being queued at path, when a window is to be
// told: 1, or 0 when it cannot be written.
int WriteDeliveryNote(const char *path);

// Agent side, for a message ("<stem>.eml") of the outbox: it was filed in
// folder ("Sent\" or "Failed\"); it waits for a later try (told only once).
void TellFiled(const char *outbox, const QueuedMessage *message, const char *folder);
void TellKept(const char *outbox, const QueuedMessage *message);
