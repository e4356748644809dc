// InstallTelvex's dialog: the values a new profile of each kind needs.
#include <stdio.h>

#include "address_book.h"
#include "store.h"
#include "telvex_ids.h"

// What a profile kind asks for and which services it gets.
struct KindRecord {
    DWORD Kind;
    DWORD Services;
    const char *Labels[3];
    const char *Keys[3];
};

static const DWORD CoreServices = ServiceRequiredFirst | ServiceRequiredSecond;
static const KindRecord Kinds[] = {
    {ProfileKindFax,
     ServiceFax | CoreServices,
     {"User:", "Fax Number:", "Fax Gateway:"},
     {"UserName", "FaxNumber", "FaxGateway"}},
    {ProfileKindInternet,
     ServiceInternetMail | CoreServices,
     {"Full Name:", "E-Mail Address:", "E-Mail Server:"},
     {"FullName", "EmailAddress", "Server"}},
    {ProfileKindMsn,
     ServiceMsn | CoreServices,
     {"Full Name:", "E-Mail Address:", "E-Mail Server:"},
     {"FullName", "EmailAddress", "Server"}},
    {ProfileKindInternetMsn,
     ServiceInternetMail | ServiceMsn | CoreServices,
     {"Full Name:", "E-Mail Address:", "E-Mail Server:"},
     {"FullName", "EmailAddress", "Server"}},
};

static const int LabelIds[3] = {IDC_FIRST_LABEL, IDC_SECOND_LABEL, IDC_THIRD_LABEL};
static const int ValueIds[3] = {IDC_FIRST_VALUE, IDC_SECOND_VALUE, IDC_THIRD_VALUE};

// The dialog's state while it is open.
struct NewProfileDialog {
    const KindRecord *Kind;
    const char *Profile;
};

static void SaveProfile(HWND dialog, const NewProfileDialog *state) {
    char services[16];
    snprintf(services, sizeof services, "%lu", (unsigned long)state->Kind->Services);
    SetProfileText(state->Profile, "Services", services);
    for (int i = 0; i < 3; i++) {
        char value[StoreTextSize];
        GetDlgItemTextA(dialog, ValueIds[i], value, sizeof value);
        SetProfileText(state->Profile, state->Kind->Keys[i], value);
    }
}

static INT_PTR CALLBACK NewProfileProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    NewProfileDialog *state = (NewProfileDialog *)GetWindowLongPtrA(dialog, DWLP_USER);
    if (message == WM_INITDIALOG) {
        state = (NewProfileDialog *)lParam;
        SetWindowLongPtrA(dialog, DWLP_USER, lParam);
        for (int i = 0; i < 3; i++) {
            SetDlgItemTextA(dialog, LabelIds[i], state->Kind->Labels[i]);
            SendDlgItemMessageA(dialog, ValueIds[i], EM_LIMITTEXT, StoreTextSize - 1, 0);
        }
        SetDlgItemTextA(dialog, IDC_FIRST_VALUE, state->Profile);
        return TRUE;
    }
    if (message == WM_COMMAND && (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)) {
        if (LOWORD(wParam) == IDOK) {
            SaveProfile(dialog, state);
        }
        EndDialog(dialog, LOWORD(wParam) == IDOK);
        return TRUE;
    }
    return FALSE;
}

DWORD RunNewProfile(HWND owner, DWORD kind, const char *profile) {
    if (!ValidProfileName(profile) || ProfileExists(profile)) {
        return 0;
    }
    for (const KindRecord &record : Kinds) {
        if (record.Kind == kind) {
            NewProfileDialog state = {&record, profile};
            return DialogBoxParamA(LibraryInstance, MAKEINTRESOURCEA(IDD_NEW_PROFILE), owner,
                                   NewProfileProc, (LPARAM)&state) == 1;
        }
    }
    return 0;
}
