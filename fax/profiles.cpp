#include "fax/profiles.h"

#include <stdio.h>

#include "app/app.h"
#include "app/settings.h"
#include "fax/speed_dial.h"
#include "fax/telvex.h"
#include "panel/panel_state.h"
#include "res/resource.h"

DWORD FaxProfileCount;
DWORD MailProfileCount;
ProfileList FaxProfiles;
ProfileList MailProfiles;
char FaxProfileName[ProfileNameSize];
char MailProfileName[ProfileNameSize];
char SettingsProfileName[ProfileNameSize];
int FaxServiceStarted;
WORD PagesAsDocument;
WORD SearchableText;
char SpeedDialLabels[2 * SpeedDialKeyCount + 1][SpeedDialLabelSize];

static volatile LONG ProfileChoiceHeld;

void LockProfileChoice() {
    HoldLock(&ProfileChoiceHeld);
}

void UnlockProfileChoice() {
    FreeLock(&ProfileChoiceHeld);
}

void TakeProfileChoice(ProfileChoice *choice) {
    LockProfileChoice();
    choice->Destination = Destination;
    lstrcpynA(choice->FaxProfile, FaxProfileName, ProfileNameSize);
    lstrcpynA(choice->MailProfile, MailProfileName, ProfileNameSize);
    lstrcpynA(choice->SettingsProfile, SettingsProfileName, ProfileNameSize);
    choice->AsDocument = PagesAsDocument;
    choice->SearchableText = PagesAsDocument && SearchableText;
    UnlockProfileChoice();
}

static const char FaxSection[] = "Varnel FAX";

int InitFaxService() {
    if (FaxServiceStarted) {
        return 1;
    }
    // The section is read once for the settings and the speed-dial keys.
    IniSection fax;
    ReadIniSection(&fax, SettingsPathFor("SYS.INI"), FaxSection);
    LoadFaxSettingsFrom(&fax);
    WORD id = BindTelvex();
    if (id == 0) {
        LoadSpeedDials(&fax);
    }
    FreeIniSection(&fax);
    if (id == 0) {
        id = DiscoverProfiles();
        if (id != IDS_NO_PROFILES) {
            FaxServiceStarted = 1;
            return 1;
        }
    }
    UnbindTelvex();
    char text[MessageTextSize];
    int used = LoadStringA(AppInstance, id, text, sizeof text);
    LoadStringA(AppInstance, IDS_FAX_DISABLED, text + used, sizeof text - used);
    MessageBoxA(MainWindow, text, AppTitle, MB_TASKMODAL | MB_ICONERROR);
    FaxServiceEnabled = 0;
    return 0;
}

WORD LoadFaxSettings() {
    IniSection fax;
    ReadIniSection(&fax, SettingsPathFor("SYS.INI"), FaxSection);
    LoadFaxSettingsFrom(&fax);
    FreeIniSection(&fax);
    return Destination;
}

WORD LoadFaxSettingsFrom(const IniSection *fax) {
    for (int i = 1; i <= 2 * SpeedDialKeyCount; i++) {
        char key[24];
        if (i <= SpeedDialKeyCount) {
            snprintf(key, sizeof key, "FaxAlias%d", i);
        } else {
            snprintf(key, sizeof key, "EmailAlias%d", i - SpeedDialKeyCount);
        }
        IniText(fax, key, "", SpeedDialLabels[i], SpeedDialLabelSize);
    }
    IniText(fax, "MS Exchange Fax", "", FaxProfileName, ProfileNameSize);
    IniText(fax, "MS Exchange Email", "", MailProfileName, ProfileNameSize);
    Destination = (WORD)IniInt(fax, "UseProfile", 0);
    // Without the key every page goes as an image file of its own.
    PagesAsDocument = IniInt(fax, "SendPagesAs", 0) == 1;
    SearchableText = IniInt(fax, "SearchableText", 0) == 1;
    return Destination;
}

static void ReleaseList(ProfileList *list, DWORD *count) {
    ReleaseBlock(&list->Block);
    list->Names = NULL;
    *count = 0;
}

void ReleaseProfileLists() {
    ReleaseList(&FaxProfiles, &FaxProfileCount);
    ReleaseList(&MailProfiles, &MailProfileCount);
}

// Allocates a list of n slots of slotSize bytes, locked, each address set.
static int AllocateList(ProfileList *list, DWORD n, DWORD slotSize) {
    list->Block = GlobalAlloc(GMEM_MOVEABLE, (slotSize + sizeof(char *)) * n);
    if (!list->Block) {
        return 0;
    }
    list->Names = (char **)GlobalLock(list->Block);
    char *slots = (char *)(list->Names + n);
    for (DWORD i = 0; i < n; i++) {
        list->Names[i] = slots + i * slotSize;
    }
    return 1;
}

static int Has(DWORD service, const char *profile) {
    return TelvexBinding.QueryProfileEnableTelvex(service, profile) != 0;
}

// Each question is a read of the mail library's store: a profile's fax
// service is asked once, for both lists.
static int IsFaxCapable(int fax, const char *profile) {
    return fax && !Has(ServiceInternetMail, profile) && Has(ServiceRequiredFirst, profile) &&
           Has(ServiceRequiredSecond, profile);
}

static int IsMailCapable(int fax, const char *profile) {
    return !fax && (Has(ServiceMsn, profile) || Has(ServiceInternetMail, profile)) &&
           Has(ServiceRequiredFirst, profile) && Has(ServiceRequiredSecond, profile);
}

// A profile name not yet chosen becomes the first of its list.
static void ChooseFirst(char *chosen, const ProfileList *list) {
    if (!chosen[0]) {
        lstrcpynA(chosen, list->Names[0], ProfileNameSize);
    }
}

// Sorts the profile names, which QueryAllProfile left in the fax list, into
// the fax list (compacted in place) and the mail list.
static void SortProfiles(DWORD n, DWORD slotSize) {
    for (DWORD i = 0; i < n; i++) {
        const char *name = FaxProfiles.Names[i];
        int fax = Has(ServiceFax, name);
        if (IsFaxCapable(fax, name)) {
            if (FaxProfileCount != i) {
                lstrcpynA(FaxProfiles.Names[FaxProfileCount], name, slotSize);
            }
            FaxProfileCount++;
        } else if (IsMailCapable(fax, name)) {
            lstrcpynA(MailProfiles.Names[MailProfileCount++], name, slotSize);
        }
    }
}

WORD DiscoverProfiles() {
    DWORD n = 0;
    DWORD slotSize = 0;
    if (!TelvexBinding.Library) {
        return IDS_NO_PROFILES;
    }
    TelvexBinding.QueryAllProfileInfo(&n, &slotSize);
    if (n == 0) {
        return IDS_NO_PROFILES;
    }
    ReleaseProfileLists();
    int fax = AllocateList(&FaxProfiles, n, slotSize);
    int mail = AllocateList(&MailProfiles, n, slotSize);
    if (!fax || !mail) {
        return IDS_OUT_OF_MEMORY;
    }
    DWORD listed = n;
    if (!TelvexBinding.QueryAllProfile(&listed, FaxProfiles.Names) || listed == 0) {
        ReleaseProfileLists();
        return IDS_NO_PROFILES;
    }
    SortProfiles(listed < n ? listed : n, slotSize);
    if (FaxProfileCount && MailProfileCount) {
        ChooseFirst(FaxProfileName, &FaxProfiles);
        ChooseFirst(MailProfileName, &MailProfiles);
        return 0;
    }
    if (MailProfileCount) {
        ChooseFirst(MailProfileName, &MailProfiles);
        Destination = 1;
        ReleaseList(&FaxProfiles, &FaxProfileCount);
        return IDS_NO_FAX_PROFILE;
    }
    if (FaxProfileCount) {
        ChooseFirst(FaxProfileName, &FaxProfiles);
        Destination = 0;
        ReleaseList(&MailProfiles, &MailProfileCount);
        return IDS_NO_MAIL_PROFILE;
    }
    ReleaseProfileLists();
    return IDS_NO_PROFILES;
}

int FillProfileCombo(HWND combo, int which) {
    DWORD count = which ? MailProfileCount : FaxProfileCount;
    if (count == 0) {
        EnableWindow(combo, FALSE);
        EnableWindow(
            GetDlgItem(GetParent(combo), which ? IDC_MAIL_PROFILE_BUTTON : IDC_FAX_PROFILE_BUTTON),
            FALSE);
        Destination = which ? 0 : 1;
        return 0;
    }
    char **names = (which ? MailProfiles : FaxProfiles).Names;
    for (DWORD i = 0; i < count; i++) {
        SendMessageA(combo, CB_ADDSTRING, 0, (LPARAM)names[i]);
    }
    const char *chosen = which ? MailProfileName : FaxProfileName;
    LRESULT found = SendMessageA(combo, CB_FINDSTRINGEXACT, (WPARAM)-1, (LPARAM)chosen);
    SendMessageA(combo, CB_SETCURSEL, found == CB_ERR ? 0 : found, 0);
    return found == CB_ERR ? -1 : (int)found;
}
