// The fourteen speed-dial keys of each destination, their recipient lists,
// the recipient files n.DES and n.INF, and the services the speed-dial page
// calls to pick, find, remove and describe recipients.
#pragma once
#include <windows.h>

#include "fax/profiles.h"

// One key for one destination.
struct SpeedDialEntry {
    char Label[SpeedDialLabelSize]; // at most 16 characters
    DWORD Modified;                 // the page changed the recipients
    DWORD RecipientCount;           // records in RecipientBlock; 0 = empty
    HGLOBAL RecipientBlock;         // movable block of recipient records, or null
    HGLOBAL StringBlock;            // their names, addresses and entry identifiers, or null
};

enum : int { SpeedDialEntryCount = 2 * SpeedDialKeyCount };
enum : WORD { NoRecipient = 0xFFFF };

// Fax keys 1..14, then e-mail keys 1..14: entry number n (1..28) is table
// index n - 1, and its files are n.DES and n.INF.
extern SpeedDialEntry SpeedDialTable[SpeedDialEntryCount];
// Moves a recipient file (MoveFileExA); tests put one in its place that fails.
extern decltype(&MoveFileExA) MoveRecipientFile;

// Entry number of key 1..14 for destination 0 (fax) or 1 (e-mail).
int SpeedDialNumber(int destination, int key);

// The labels and recipient lists of the 28 speed-dial entries, from the
// settings file's fax section, read by the caller.
WORD LoadSpeedDials(const IniSection *fax);
// Reads n.DES and n.INF into entry n: 0, 2 (cannot open or read, or the
// files do not hold the entry's records) or 3 (size unknown or out of memory).
// A pair whose replacement stopped half way is first put back as it was.
WORD LoadSpeedDialFiles(int number);
// The whole file in an unlocked movable block and its size; null and code 2 or 3 on failure.
HGLOBAL ReadWholeFile(const char *path, WORD *code, DWORD *size);
// On OK (1) writes every changed key's files and every count and label. A
// key's pair is replaced whole or not at all. 0 when something could not be
// written: a key whose files could not be replaced keeps its old files and
// count, and its new list stays in memory for the next save.
int SaveSpeedDials(int save);
// Points EditLink at the entry's records, both blocks locked once (also when
// it fails); 0 when the records do not fit their strings.
int AttachSpeedDialEntry(SpeedDialEntry *entry);

// Which address types the address-book filter keeps.
enum AddressFilter { KeepFaxOnly, KeepAllButFax, KeepSmtpOnly, KeepMsnOnly, KeepAll };
// The filter for a destination and the services of the mail profile.
AddressFilter RecipientFilter(int destination, int hasMsn, int hasInternetMail);
// 1 when an address ("TYPE:address") passes the filter.
int AddressSuits(const char *address, AddressFilter filter);

// The address book over EditLink for the current destination: 0, 1 cancelled,
// 7 out of memory, or another failure code.
DWORD PickRecipients(HWND owner, DWORD flags);
// The record a line of the sorted recipient list stands for, or NoRecipient.
WORD FindRecipientIndex(HWND list, int item);
// Deletes the record of a list line from EditLink: 1 removed, 0 not.
int RemoveRecipientAt(HWND list, int item);
// "FAX, Address:5551234": the tip text of record index of EditLink.
void FormatRecipientDetail(char *out, int size, WORD index);
