// The library's own dialogs: the address book over the vCard file and the
// few values a new profile needs.
#pragma once
#include <windows.h>

#include "abi/telvex_abi.h"

extern HINSTANCE LibraryInstance; // the library's module, for its dialog templates

// Lets the user pick addresses and adds them to the link: 0, 1 cancelled,
// 7 out of memory, 2 when the address book cannot be read.
DWORD RunAddressBook(HWND owner, RecipientLink *link, const char *caption);
// Asks for the new profile's values and writes the profile: 1 created, 0 not.
DWORD RunNewProfile(HWND owner, DWORD kind, const char *profile);
