// The binding of the mail library Telvex.dll: its sixteen entries, loaded
// once and released at the end of the run.
#pragma once
#include <windows.h>

#include "abi/telvex_abi.h"

// The library and its entries, in the order they are resolved.
struct TelvexBindingRecord {
    HMODULE Library; // 0 while not bound
    DWORD(WINAPI *QueryDefaultProfile)();
    DWORD(WINAPI *QueryAllProfileInfo)(DWORD *count, DWORD *slotSize);
    DWORD(WINAPI *QueryAllProfile)(DWORD *count, char **slots);
    DWORD(WINAPI *QueryProfileEnableTelvex)(DWORD service, const char *profile);
    DWORD(WINAPI *InstallTelvex)(HWND owner, DWORD kind, const char *profile);
    DWORD(WINAPI *RegistryGetSetting)(const char *profile, SettingRequest *request);
    DWORD(WINAPI *RegistrySetSetting)(const char *profile, SettingRequest *request);
    DWORD(WINAPI *OpenAddressBook)
    (HWND owner, RecipientLink *link, const char *caption, DWORD flags);
    DWORD(WINAPI *FreeAndLogoff)(DWORD reserved, DWORD session);
    DWORD(WINAPI *InitialMAPIandLogon)(DWORD reserved, const char *profile, RecipientLink *link);
    DWORD(WINAPI *BuildRecipientLink)(RecipientLink *link);
    DWORD(WINAPI *AddRecipient)(const RecipientRecord *record, RecipientLink *link);
    DWORD(WINAPI *TelvexLockUnlock)(DWORD take);
    DWORD(WINAPI *DeleteRecipient)(RecipientLink *link, DWORD, DWORD, DWORD index);
    DWORD(WINAPI *SendTelvex)(DWORD reserved, RecipientLink *link);
    DWORD(WINAPI *QueryServiceAvailable)(DWORD service); // ordinal 16
};

// Entries a library may offer beyond the sixteen, looked up by name as it is
// bound; null where it has none (or is not bound), and the program goes
// without: no outcome of a sent message on the panel, no Outbox item.
struct TelvexOptionalEntries {
    NotifyDeliveryEntry NotifyDelivery;
    OpenOutboxEntry OpenOutbox;
};

extern TelvexBindingRecord TelvexBinding; // the mail library, owned by the main thread
extern TelvexOptionalEntries TelvexOptional;
extern RecipientLink EditLink; // the speed-dial page's view of one key
extern RecipientLink JobLink;  // the fax job's recipients and pages

// 0 when bound (or already bound), 8 when the library or an entry is missing.
WORD BindTelvex();
// Releases both profile lists, then the library.
void UnbindTelvex();
// Ordinal 16 asked for the MS Plus Internet service and for the MSN service;
// both 0 while the library is not bound.
void QueryMailServices(DWORD *internet, DWORD *msn);
