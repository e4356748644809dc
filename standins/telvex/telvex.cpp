// Telvex.dll stand-in: the fifteen named entries, ordinal 16, and two
// optional entries a caller looks up if it wants them.
#include <windows.h>

#include "address_book.h"
#include "delivery_notice.h"
#include "link_blocks.h"
#include "outbox_queue.h"
#include "outbox_window.h"
#include "store.h"
#include "transport.h"

#define TELVEX_ENTRY extern "C" DWORD WINAPI

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        LibraryInstance = instance;
        StartTransport();
    } else if (reason == DLL_PROCESS_DETACH) {
        StopTransport();
    }
    return TRUE;
}

TELVEX_ENTRY QueryDefaultProfile() {
    return 0;
}

// The profile count and the largest name with its NUL, gathered over the store.
struct ProfileCensus {
    DWORD Longest;
    DWORD Copied;
    DWORD Capacity;
    char **Slots;
    DWORD SlotSize;
};

// The slot size QueryAllProfileInfo last reported: the caller's slots are this
// large even when a longer name has appeared in the store since.
static DWORD MeasuredSlotSize;

static void MeasureProfile(const char *name, void *context) {
    ProfileCensus *census = (ProfileCensus *)context;
    DWORD size = lstrlenA(name) + 1;
    census->Longest = size > census->Longest ? size : census->Longest;
}

// A name too long for the caller's slot is left out: cut, it would name
// another profile.
static void CopyProfile(const char *name, void *context) {
    ProfileCensus *census = (ProfileCensus *)context;
    if (census->Copied < census->Capacity && (DWORD)lstrlenA(name) < census->SlotSize) {
        lstrcpynA(census->Slots[census->Copied++], name, census->SlotSize);
    }
}

// Mail queued before the machine last stopped goes once the program starts:
// its start-up asks for the profiles (and for the services the menu shows),
// whichever comes first wakes the delivery agent where an outbox holds mail.
static void WakeAgentOnce() {
    static LONG woken;
    if (!InterlockedExchange(&woken, 1)) {
        WakeAgentForWaitingMail();
    }
}

TELVEX_ENTRY QueryAllProfileInfo(DWORD *count, DWORD *slotSize) {
    WakeAgentOnce();
    ProfileCensus census = {};
    *count = ForEachProfile(MeasureProfile, &census);
    *slotSize = census.Longest ? census.Longest : 1;
    MeasuredSlotSize = *slotSize;
    return *count;
}

TELVEX_ENTRY QueryAllProfile(DWORD *count, char **slots) {
    ProfileCensus census = {};
    census.Capacity = *count;
    census.Slots = slots;
    census.SlotSize = MeasuredSlotSize;
    ForEachProfile(CopyProfile, &census);
    *count = census.Copied;
    return census.Copied != 0;
}

TELVEX_ENTRY QueryProfileEnableTelvex(DWORD service, const char *profile) {
    // One read of the store: a profile with the service is one that exists.
    return profile && ValidProfileName(profile) && (ProfileServices(profile) & service) != 0;
}

TELVEX_ENTRY InstallTelvex(HWND owner, DWORD kind, const char *profile) {
    return profile ? RunNewProfile(owner, kind, profile) : 0;
}

TELVEX_ENTRY RegistryGetSetting(const char *profile, SettingRequest *request) {
    return profile && request ? GetSetting(profile, request->SettingId, request->Value) : 0;
}

TELVEX_ENTRY RegistrySetSetting(const char *profile, SettingRequest *request) {
    return profile && request ? SetSetting(profile, request->SettingId, request->Value) : 0;
}

TELVEX_ENTRY OpenAddressBook(HWND owner, RecipientLink *link, const char *caption, DWORD) {
    return link ? RunAddressBook(owner, link, caption) : TelvexFailure;
}

TELVEX_ENTRY FreeAndLogoff(DWORD, DWORD session) {
    Logoff(session);
    return TelvexOk;
}

TELVEX_ENTRY InitialMAPIandLogon(DWORD, const char *profile, RecipientLink *link) {
    return Logon(profile, link);
}

// A store may name a failure that linking gives instead, so that a caller's
// answer to records it cannot use can be brought about.
TELVEX_ENTRY BuildRecipientLink(RecipientLink *link) {
    DWORD fault = StoreNumber("LinkFault", TelvexOk);
    return fault != TelvexOk ? fault : link ? BuildLink(link) : TelvexFailure;
}

TELVEX_ENTRY AddRecipient(const RecipientRecord *record, RecipientLink *link) {
    return record && link ? SetLinkRecords(link, record, 1, 0) : TelvexFailure;
}

TELVEX_ENTRY TelvexLockUnlock(DWORD take) {
    return LockTransport(take);
}

TELVEX_ENTRY DeleteRecipient(RecipientLink *link, DWORD, DWORD, DWORD index) {
    return link ? DeleteLinkRecord(link, index) : TelvexFailure;
}

TELVEX_ENTRY SendTelvex(DWORD, RecipientLink *link) {
    return SendMessageFiles(link);
}

TELVEX_ENTRY QueryServiceAvailable(DWORD service) {
    WakeAgentOnce();
    return StoreNumber(service == 0 ? "InternetService" : "MSNService", 1);
}

TELVEX_ENTRY NotifyDelivery(HWND window, UINT message, DWORD job) {
    if (window && !RegisteredMessage(message)) {
        return 0;
    }
    FollowDeliveries(window, message, job);
    return 1;
}

TELVEX_ENTRY OpenOutbox(HWND owner) {
    return RunOutboxWindow(owner);
}
