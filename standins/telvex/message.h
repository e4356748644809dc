// The message SendTelvex leaves in the outbox: the sender's header values,
// the check that every recipient has a mailbox, and the MIME text with every
// page attached. Works on file handles alone, without the profile store.
#pragma once
#include <windows.h>

#include "abi/telvex_abi.h"
#include "mime.h"
#include "store.h"

// What the message header needs from the profile.
struct Sender {
    char Phrase[PhraseSize];
    char Mailbox[MailboxSize];
    char Gateway[StoreTextSize];
    UINT CodePage; // the code page of the names in the header
};

// The sender named name (text in codePage), sending from address or, without
// one, from its fax number at the gateway. 1 when it has a valid mailbox.
int MakeSender(const char *name, const char *address, const char *faxNumber, const char *gateway,
               UINT codePage, Sender *sender);
// 1 when the link has recipients and names its page files.
int LinkHasPages(const RecipientLink *link);
// 0 when every recipient has a mailbox, else the number (from 1) of the first without.
DWORD UnaddressableRecipient(const RecipientLink *link, const Sender *sender);
// The message into a file of its own; 1 when all of it was written.
int WriteMessageFile(HANDLE file, const RecipientLink *link, const Sender *sender,
                     const char *boundary);
