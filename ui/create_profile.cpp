#include "ui/create_profile.h"

#include "app/app.h"
#include "app/settings.h"
#include "fax/profiles.h"
#include "fax/telvex.h"
#include "res/resource.h"
#include "ui/dialog_tools.h"
#include "ui/help.h"

WORD ProfileKindCommand;

// What each menu command creates and where its default is kept.
struct ProfileKindRecord {
    WORD Command;
    DWORD Kind;
    const char *CheckText;
    const char *DefaultKey;
    char *ChosenName;
};

static const ProfileKindRecord ProfileKinds[] = {
    {IDM_CREATE_FAX_PROFILE, ProfileKindFax, "Set As Default Fax Profile", "MS Exchange Fax",
     FaxProfileName},
    {IDM_CREATE_MSN_PROFILE, ProfileKindMsn, "Set As Default E-MAIL Profile", "MS Exchange Email",
     MailProfileName},
    {IDM_CREATE_INTERNET_PROFILE, ProfileKindInternet, "Set As Default E-MAIL Profile",
     "MS Exchange Email", MailProfileName},
    {IDM_CREATE_INTERNET_MSN_PROFILE, ProfileKindInternetMsn, "Set As Default E-MAIL Profile",
     "MS Exchange Email", MailProfileName},
};

static const ProfileKindRecord *KindOf(WORD command) {
    for (const ProfileKindRecord &kind : ProfileKinds) {
        if (kind.Command == command) {
            return &kind;
        }
    }
    return NULL;
}

int CreateProfile(HWND owner, WORD command, const char *name, int makeDefault) {
    const ProfileKindRecord *kind = KindOf(command);
    // Without the mail library there is nothing to create the profile with.
    if (!kind || !TelvexBinding.Library) {
        return 0;
    }
    if (makeDefault) {
        WritePrivateProfileStringA("Varnel FAX", kind->DefaultKey, name,
                                   SettingsPathFor("SYS.INI"));
        lstrcpynA(kind->ChosenName, name, ProfileNameSize);
    }
    if (!TelvexBinding.InstallTelvex(owner, kind->Kind, name)) {
        return 0;
    }
    DiscoverProfiles();
    return 1;
}

static void OnCreateClicked(HWND dialog) {
    char name[ProfileNameSize];
    if (GetDlgItemTextA(dialog, IDC_PROFILE_NAME, name, sizeof name) == 0) {
        return; // an empty name keeps the dialog open
    }
    int makeDefault = IsDlgButtonChecked(dialog, IDC_SET_DEFAULT_PROFILE) == BST_CHECKED;
    EndDialog(dialog, CreateProfile(dialog, ProfileKindCommand, name, makeDefault));
}

INT_PTR CALLBACK CreateProfileDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG: {
        ProfileKindCommand = (WORD)lParam;
        const ProfileKindRecord *kind = KindOf(ProfileKindCommand);
        SetDlgItemTextA(dialog, IDC_SET_DEFAULT_PROFILE, kind ? kind->CheckText : "");
        SendDlgItemMessageA(dialog, IDC_PROFILE_NAME, EM_LIMITTEXT, ProfileNameSize - 1, 0);
        CenterWindowOver(GetParent(dialog), dialog);
        return TRUE;
    }
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK) {
            OnCreateClicked(dialog);
        } else if (LOWORD(wParam) == IDCANCEL) {
            EndDialog(dialog, 0);
        }
        return TRUE;
    case WM_HELP:
        AnswerHelpRequest(dialog, (const HELPINFO *)lParam);
        return TRUE;
    }
    return FALSE;
}
