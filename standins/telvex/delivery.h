// What the library leaves for the delivery agent beside each message of a
// profile with a server: its envelope, "<message>.env" (the profile, the
// envelope sender, then one recipient address a line); and waking the agent.
#pragma once
#include <windows.h>

#include "abi/telvex_abi.h"

// Writes the envelope of a message to path; 1/0.
int WriteEnvelope(const char *path, const char *profile, const char *sender,
                  const RecipientLink *link, const char *gateway);
// Starts the delivery agent beside this library, or wakes the one running.
void WakeDeliveryAgent();
