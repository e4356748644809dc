// Sessions on a profile, the transport lock, and sending a message into the
// profile's outbox folder.
#pragma once
#include <windows.h>

#include "abi/telvex_abi.h"

void StartTransport();
void StopTransport();
// 0 with the link's Session written, or TelvexLogonFailed.
DWORD Logon(const char *profile, RecipientLink *link);
void Logoff(DWORD session);
// Take (1): 1 when this program now holds the lock, 0 when another holds it.
DWORD LockTransport(DWORD take);
// Writes the message with every page of the link: 0, or TelvexFailure.
DWORD SendMessageFiles(const RecipientLink *link);
// The envelope sender of the profile's messages as its settings say now:
// 1, or 0 when the profile has no server or no valid sender.
int ProfileEnvelopeSender(const char *profile, char *out, int size);
// A new message's file name without its extension: the time (UTC), then
// what makes it unique; names sort in the order messages were queued.
void NewMessageStem(char *out, int size);
