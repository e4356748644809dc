// InstallTelvex's dialog: the values a new profile of each kind needs.
#include <stdio.h>

#include "address_book.h"
#include "mail_settings.h"
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

// The delivery fields in the order of their settings, and what a refusal of
// each tells the user.
struct DeliveryField {
    int Id;
    const char *Name;
    const char *Refusal;
};

static const DeliveryField DeliveryFields[] = {
    {IDC_SMTP_SERVER, "server", "The server's name cannot hold blanks."},
    {IDC_SMTP_PORT, "port", "The port must be a number from 1 to 65535."},
    {IDC_SMTP_SECURITY, "security", ""},
    {IDC_SMTP_USER, "user", "The user name cannot hold blanks."},
    {IDC_SMTP_PASSWORD, "password", "The password is too long."},
    {IDC_SMTP_SENDER, "sender", "The sender must be an e-mail address, name@domain."},
};
enum : int { DeliveryFieldCount = sizeof DeliveryFields / sizeof DeliveryFields[0] };
static const char *const SecurityChoices[] = {"STARTTLS", "TLS from the first byte",
                                              "None (this computer only)"};

// The delivery fields as "name=value" settings, an empty password left out:
// how many, 0 when no server is named.
struct DeliverySettings {
    char Text[DeliveryFieldCount][StoreTextSize + 16];
    char *Pointers[DeliveryFieldCount];
    int Fields[DeliveryFieldCount]; // the field of each setting
};

static int ReadDeliverySettings(HWND dialog, DeliverySettings *out) {
    int count = 0;
    for (int i = 0; i < DeliveryFieldCount; i++) {
        char value[StoreTextSize] = "";
        if (DeliveryFields[i].Id == IDC_SMTP_SECURITY) {
            LRESULT chosen = SendDlgItemMessageA(dialog, IDC_SMTP_SECURITY, CB_GETCURSEL, 0, 0);
            lstrcpynA(value, SecurityName((int)chosen), sizeof value);
        } else {
            GetDlgItemTextA(dialog, DeliveryFields[i].Id, value, sizeof value);
        }
        if (DeliveryFields[i].Id == IDC_SMTP_SERVER && !value[0]) {
            return 0;
        }
        if (DeliveryFields[i].Id != IDC_SMTP_PASSWORD || value[0]) {
            snprintf(out->Text[count], sizeof out->Text[count], "%s=%s", DeliveryFields[i].Name,
                     value);
            out->Pointers[count] = out->Text[count];
            out->Fields[count++] = i;
        }
    }
    return count;
}

// 1 when the delivery fields can be stored; otherwise says why and puts the
// focus on the field to mend.
static int DeliveryAccepted(HWND dialog, const DeliverySettings *settings, int count) {
    MailProfile blank = {};
    int refused = CheckMailSettings(&blank, count, settings->Pointers);
    if (!refused) {
        return 1;
    }
    const char *why = "Without security, mail can only go to a server on this computer.";
    int id = IDC_SMTP_SECURITY;
    if (refused <= count) {
        why = DeliveryFields[settings->Fields[refused - 1]].Refusal;
        id = DeliveryFields[settings->Fields[refused - 1]].Id;
    }
    MessageBoxA(dialog, why, "Delivery Settings", MB_OK | MB_ICONEXCLAMATION);
    SetFocus(GetDlgItem(dialog, id));
    return 0;
}

// The dialog's state while it is open.
struct NewProfileDialog {
    const KindRecord *Kind;
    const char *Profile;
};

static int SaveProfile(HWND dialog, const NewProfileDialog *state) {
    char services[16], texts[3][StoreTextSize];
    snprintf(services, sizeof services, "%lu", (unsigned long)state->Kind->Services);
    const char *keys[4] = {"Services"}, *values[4] = {services};
    for (int i = 0; i < 3; i++) {
        GetDlgItemTextA(dialog, ValueIds[i], texts[i], sizeof texts[i]);
        keys[i + 1] = state->Kind->Keys[i];
        values[i + 1] = texts[i];
    }
    return SetProfileTexts(state->Profile, keys, values, 4);
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
        for (int i = 0; i < DeliveryFieldCount; i++) {
            SendDlgItemMessageA(dialog, DeliveryFields[i].Id, EM_LIMITTEXT,
                                DeliveryFields[i].Id == IDC_SMTP_PASSWORD ? PasswordSize - 1
                                                                          : StoreTextSize - 1,
                                0);
        }
        for (const char *choice : SecurityChoices) {
            SendDlgItemMessageA(dialog, IDC_SMTP_SECURITY, CB_ADDSTRING, 0, (LPARAM)choice);
        }
        SendDlgItemMessageA(dialog, IDC_SMTP_SECURITY, CB_SETCURSEL, SecurityStartTls, 0);
        SetDlgItemTextA(dialog, IDC_FIRST_VALUE, state->Profile);
        return TRUE;
    }
    if (message == WM_COMMAND && LOWORD(wParam) == IDOK) {
        DeliverySettings delivery;
        int count = ReadDeliverySettings(dialog, &delivery);
        int accepted = !count || DeliveryAccepted(dialog, &delivery, count);
        int saved = 1, stored = 1;
        if (accepted) {
            saved = SaveProfile(dialog, state);
            stored = !saved || !count || !SetMailSettings(state->Profile, count, delivery.Pointers);
        }
        SecureZeroMemory(&delivery, sizeof delivery);
        if (!saved || !stored) {
            MessageBoxA(dialog,
                        saved ? "The delivery settings could not be stored."
                              : "The profile could not be stored: nothing was changed.",
                        "Delivery Settings", MB_OK | MB_ICONEXCLAMATION);
        }
        if (accepted && saved) {
            EndDialog(dialog, 1);
        }
        return TRUE;
    }
    if (message == WM_COMMAND && LOWORD(wParam) == IDCANCEL) {
        EndDialog(dialog, 0);
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
