// Contacts of a vCard file (RFC 6350) as the address book lists them: one
// entry per fax number (TEL;TYPE=FAX), e-mail address (EMAIL) or messaging
// address (IMPP) of every card, named by the card's FN.
#pragma once
#include <windows.h>

enum : int {
    ContactNameSize = 128,
    ContactAddressSize = 160,
    ContactIdSize = 96,
    AddressBookCapacity = 512,
};

struct AddressEntry {
    char Name[ContactNameSize];       // FN, unescaped, control characters as blanks
    char Address[ContactAddressSize]; // "FAX:...", "SMTP:...", or the IMPP scheme upper-cased
    char EntryId[ContactIdSize]; // "VCF:" with the card's UID (or number) and the address number
};

struct AddressBookRecord {
    DWORD Count;
    AddressEntry Entries[AddressBookCapacity];
};

// Parses NUL-terminated vCard text into book; entries beyond the capacity
// are dropped. Returns the number of entries.
DWORD ParseVCards(const char *text, AddressBookRecord *book);
