// Records exchanged with the mail library Telvex.dll, and the layout of the
// recipient string block that the library and the recipient files share.
// Both the program and the library build from this header.
#pragma once
#include <windows.h>
#include <stddef.h>

// One recipient, laid out as Simple MAPI's MapiRecipDesc.
struct RecipientRecord {
    DWORD Reserved;       // 0
    DWORD RecipientClass; // 1: primary recipient
    char *Name;           // display name
    char *Address;        // address type, a colon, then the address proper
    DWORD EntryIdSize;    // bytes of the entry identifier
    BYTE *EntryId;        // entry identifier bytes
};

// The record through which recipients and page files cross to the library.
struct RecipientLink {
    DWORD Session;               // written by InitialMAPIandLogon
    DWORD Reserved[2];           // zeroed by the fax job before logon
    DWORD RecipientCount;        // records in RecipientBlock
    HGLOBAL RecipientBlock;      // movable block of the records
    RecipientRecord *Recipients; // RecipientBlock locked
    HGLOBAL StringBlock;         // movable block of names, addresses, entry identifiers
    char *Strings;               // StringBlock locked
    DWORD PageCount;             // page files to send
    const char *PagePaths;       // PageCount full paths, packed
    const char *PageNames;       // PageCount attachment names, packed, or null
};

#pragma pack(push, 1)
// A setting of a profile: its number and where its value lies.
struct SettingRequest {
    WORD SettingId;
    void *Value;
};
#pragma pack(pop)

// The 64-bit build has the same fields in the same order, addresses and
// handles 64 bits wide and naturally aligned.
#if defined(_WIN64)
static_assert(sizeof(RecipientRecord) == 40 && offsetof(RecipientRecord, EntryId) == 32,
              "recipient records with 64-bit addresses");
static_assert(sizeof(RecipientLink) == 72 && offsetof(RecipientLink, PageCount) == 48,
              "the recipient link with 64-bit addresses");
static_assert(sizeof(SettingRequest) == 10, "a setting request with a 64-bit value address");
#else
static_assert(sizeof(RecipientRecord) == 24, "recipient records are 24 bytes");
static_assert(sizeof(RecipientLink) == 44, "the recipient link is 44 bytes");
static_assert(sizeof(SettingRequest) == 6, "a setting request is 6 bytes");
#endif

// A recipient as the recipient file n.DES keeps it: the 24-byte record of
// the 32-bit library with its three addresses written as 0, since they
// are pointed into the string file again when it is loaded. The same
// bytes in every build.
struct StoredRecipient {
    DWORD Reserved;
    DWORD RecipientClass;
    DWORD Name;
    DWORD Address;
    DWORD EntryIdSize;
    DWORD EntryId;
};
static_assert(sizeof(StoredRecipient) == 24, "stored recipient records are 24 bytes");

// Services a profile may contain, asked one at a time.
enum : DWORD {
    ServiceFax = 1,
    ServiceInternetMail = 4,
    ServiceRequiredFirst = 8, // every usable profile has both of these
    ServiceRequiredSecond = 16,
    ServiceMsn = 32,
};

// Kinds of profile that InstallTelvex creates.
enum : DWORD {
    ProfileKindFax = 32,
    ProfileKindInternet = 64,
    ProfileKindMsn = 128,
    ProfileKindInternetMsn = 256,
};

// Settings of a profile. String values are copied into the caller's buffer,
// which must hold SettingTextSize bytes; setting 0 points at two such buffers.
enum : WORD {
    SettingUserAndFax = 0,
    SettingCoverPage = 2,
    SettingFullName = 3,
    SettingLogin = 4,
    SettingEmailAddress = 5,
    SettingServer = 6,
    SettingDialing = 7,
    SettingPaperSize = 11,
    SettingResolution = 12,
    SettingCoverPageInUse = 13,
    SettingJobFlag = 14,
    SettingConnection = 16,
};
enum : int { SettingTextSize = 256 };

// Results of the library's calls.
enum : DWORD {
    TelvexOk = 0,
    TelvexCancelled = 1,
    TelvexFailure = 2,
    TelvexLogonFailed = 3,
    TelvexNoMemory = 7,
};

// Two optional entries, looked up by name: a library without them leaves the
// program's panel and menu as they are without.
// NotifyDelivery(window, message, job): from now on, what becomes of each
// message this process queues with SendTelvex is posted to window as message,
// with job as wParam and a DeliveryOutcome as lParam: once when the message is
// first kept for a later try, and once when it is filed. Posting never waits
// for the window, and a window that is gone is passed over. A null window
// stops it. Returns 1, or 0 for a message that RegisterWindowMessage did not give.
typedef DWORD(WINAPI *NotifyDeliveryEntry)(HWND window, UINT message, DWORD job);
// OpenOutbox(owner): the library's own outbox window, modal, owned by owner;
// returns 0 once it is closed, non-zero when it could not be shown.
typedef DWORD(WINAPI *OpenOutboxEntry)(HWND owner);
enum DeliveryOutcome : DWORD {
    DeliverySent = 1,       // every recipient took it
    DeliveryPartlySent = 2, // filed as sent, but some recipient refused it for good
    DeliveryFailed = 3,     // filed as failed
    DeliveryDelayed = 4,    // kept for a later try
};

// The string block starts with one StringOffsets per record, in record
// order, followed by each record's name, address (both NUL-terminated) and
// entry identifier. The offsets let the records be pointed into the block
// again wherever it lies, so two files rebuild the whole list.
struct StringOffsets {
    DWORD Name;
    DWORD Address;
    DWORD EntryId;
};

// 1 when every offset of count records lies inside a block of size bytes,
// every name and address ends inside it and every entry identifier fits.
int CheckRecipientStrings(const RecipientRecord *records, DWORD count, const BYTE *strings,
                          DWORD size);
// Points the three address fields of every record into the block.
void PointRecordsIntoStrings(RecipientRecord *records, DWORD count, char *strings);
// Lays the strings that the records point at out as a string block into out
// (when not null); returns the bytes needed.
DWORD LayOutRecipientStrings(const RecipientRecord *records, DWORD count, BYTE *out);
// The records as n.DES keeps them, and back; the addresses of records read
// back are null until they are pointed into their strings.
void StoreRecipients(const RecipientRecord *records, DWORD count, StoredRecipient *out);
void LoadStoredRecipients(const StoredRecipient *stored, DWORD count, RecipientRecord *out);
