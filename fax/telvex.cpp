#include "fax/telvex.h"

#include "app/settings.h"
#include "fax/profiles.h"
#include "res/resource.h"

TelvexBindingRecord TelvexBinding;
TelvexOptionalEntries TelvexOptional;
RecipientLink EditLink;
RecipientLink JobLink;

// Names of the entries resolved by name, in the order of the binding record.
static const char *const EntryNames[] = {
    "QueryDefaultProfile", "QueryAllProfileInfo", "QueryAllProfile",    "QueryProfileEnableTelvex",
    "InstallTelvex",       "RegistryGetSetting",  "RegistrySetSetting", "OpenAddressBook",
    "FreeAndLogoff",       "InitialMAPIandLogon", "BuildRecipientLink", "AddRecipient",
    "TelvexLockUnlock",    "DeleteRecipient",     "SendTelvex",
};
enum : int { NamedEntryCount = sizeof EntryNames / sizeof EntryNames[0], ServiceOrdinal = 16 };

// The entry slots as one array: the record holds nothing but the handle and them.
static FARPROC *EntrySlot(int index) {
    return (FARPROC *)&TelvexBinding.QueryDefaultProfile + index;
}
static_assert(sizeof(TelvexBindingRecord) ==
                  sizeof(HMODULE) + (NamedEntryCount + 1) * sizeof(FARPROC),
              "one slot per entry");

WORD BindTelvex() {
    if (TelvexBinding.Library) {
        return 0;
    }
    HMODULE library = NULL;
    if (!LoadProductLibrary(&library, "Telvex.dll")) {
        return IDS_FAX_DLL_MISSING;
    }
    for (int i = 0; i <= NamedEntryCount; i++) {
        LPCSTR name = i < NamedEntryCount ? EntryNames[i] : MAKEINTRESOURCEA(ServiceOrdinal);
        *EntrySlot(i) = GetProcAddress(library, name);
        if (!*EntrySlot(i)) {
            FreeLibrary(library);
            return IDS_FAX_DLL_MISSING;
        }
    }
    TelvexBinding.Library = library;
    TelvexOptional.NotifyDelivery =
        (NotifyDeliveryEntry)(void (*)())GetProcAddress(library, "NotifyDelivery");
    TelvexOptional.OpenOutbox = (OpenOutboxEntry)(void (*)())GetProcAddress(library, "OpenOutbox");
    return 0;
}

void UnbindTelvex() {
    ReleaseProfileLists();
    if (TelvexBinding.Library) {
        TelvexOptional = TelvexOptionalEntries();
        FreeLibrary(TelvexBinding.Library);
        TelvexBinding.Library = NULL;
    }
}

void QueryMailServices(DWORD *internet, DWORD *msn) {
    // Without the library the entries are not callable: no service is usable.
    *internet = TelvexBinding.Library ? TelvexBinding.QueryServiceAvailable(0) : 0;
    *msn = TelvexBinding.Library ? TelvexBinding.QueryServiceAvailable(1) : 0;
}
