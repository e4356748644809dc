// The address book and the recipient list of the speed-dial page, over EditLink.
#include <stdio.h>
#include <string.h>

#include "app/app.h"
#include "app/settings.h"
#include "fax/speed_dial.h"
#include "fax/telvex.h"
#include "panel/panel_state.h"

enum : int { AddressTypeSize = 12, RecipientTextSize = 256 };

// The text before the first colon, at most 11 characters; "" when the
// address has no colon or a longer type, which is then of no known type.
static void AddressType(const char *address, char *type) {
    const char *colon = strchr(address, ':');
    type[0] = 0;
    if (colon && colon - address < AddressTypeSize) {
        lstrcpynA(type, address, (int)(colon - address) + 1);
    }
}

AddressFilter RecipientFilter(int destination, int hasMsn, int hasInternetMail) {
    if (destination == 0) {
        return KeepFaxOnly;
    }
    if (hasMsn && hasInternetMail) {
        return KeepAllButFax;
    }
    if (hasInternetMail) {
        return KeepSmtpOnly;
    }
    return hasMsn ? KeepMsnOnly : KeepAll;
}

int AddressSuits(const char *address, AddressFilter filter) {
    char type[AddressTypeSize];
    AddressType(address ? address : "", type);
    switch (filter) {
    case KeepFaxOnly:
        return strcmp(type, "FAX") == 0;
    case KeepAllButFax:
        return strcmp(type, "FAX") != 0;
    case KeepSmtpOnly:
        return strcmp(type, "SMTP") == 0;
    case KeepMsnOnly:
        return strcmp(type, "MSN") == 0 || strcmp(type, "MSNINET") == 0;
    case KeepAll:
        break;
    }
    return 1;
}

// Deletes the records the filter does not keep; the index always names the
// record being looked at, since a deletion moves the rest up one place.
static void FilterEditLink(AddressFilter filter) {
    DWORD count = EditLink.RecipientCount;
    DWORD deleted = 0;
    for (DWORD i = 0; i < count; i++) {
        DWORD index = i - deleted;
        if (!AddressSuits(EditLink.Recipients[index].Address, filter) &&
            TelvexBinding.DeleteRecipient(&EditLink, 0, 0, index) == 0) {
            deleted++;
        }
    }
}

DWORD PickRecipients(HWND owner, DWORD flags) {
    const char *profile = Destination == 0 ? FaxProfileName : MailProfileName;
    DWORD result = TelvexBinding.InitialMAPIandLogon(0, profile, &EditLink);
    if (result) {
        return result;
    }
    result = TelvexBinding.OpenAddressBook(owner, &EditLink, AppTitle, flags);
    // Only a pick brings new records; after a cancel or a failure the list,
    // the entry and the files still agree on what the key holds.
    if (result == TelvexOk) {
        int hasMsn = 0;
        int hasInternetMail = 0;
        if (Destination != 0) {
            hasMsn = TelvexBinding.QueryProfileEnableTelvex(ServiceMsn, MailProfileName) != 0;
            hasInternetMail =
                TelvexBinding.QueryProfileEnableTelvex(ServiceInternetMail, MailProfileName) != 0;
        }
        FilterEditLink(RecipientFilter(Destination, hasMsn, hasInternetMail));
    }
    TelvexBinding.FreeAndLogoff(0, EditLink.Session);
    return result;
}

// The text of a list line, or 0 when it cannot be read.
static int ListLineText(HWND list, int item, char *text) {
    LRESULT length = SendMessageA(list, LB_GETTEXTLEN, item, 0);
    return length != LB_ERR && length < RecipientTextSize &&
           SendMessageA(list, LB_GETTEXT, item, (LPARAM)text) != LB_ERR;
}

WORD FindRecipientIndex(HWND list, int item) {
    char text[RecipientTextSize];
    if (!ListLineText(list, item, text)) {
        return NoRecipient;
    }
    // The list is sorted, so the n-th line of a name up to the item stands
    // for the n-th record of that name. Lines and records are compared the
    // same way, exactly, so "Bob" and "bob" each find their own record.
    int matches = 0;
    char line[RecipientTextSize];
    for (int i = 0; i <= item; i++) {
        matches += ListLineText(list, i, line) && strcmp(line, text) == 0;
    }
    for (DWORD i = 0; matches && i < EditLink.RecipientCount; i++) {
        if (strcmp(EditLink.Recipients[i].Name, text) == 0 && --matches == 0) {
            return (WORD)i;
        }
    }
    return NoRecipient;
}

int RemoveRecipientAt(HWND list, int item) {
    WORD index = FindRecipientIndex(list, item);
    return index != NoRecipient && TelvexBinding.DeleteRecipient(&EditLink, 0, 0, index) == 0;
}

void FormatRecipientDetail(char *out, int size, WORD index) {
    const char *file = SettingsPathFor("SYS.INI");
    char address[152];
    lstrcpynA(address, EditLink.Recipients[index].Address, sizeof address);
    char *rest = strchr(address, ':');
    if (rest) {
        *rest++ = 0;
    } else {
        rest = address + lstrlenA(address);
    }
    char service[150];
    const char *key = "TextIMail";
    const char *fallback = "MS Network";
    char *cut = NULL;
    if (strcmp(address, "FAX") == 0) {
        key = "TextFax";
        fallback = "FAX";
        cut = strchr(rest, '@');
    } else if (strcmp(address, "MS") == 0) {
        key = "TextMSMail";
        fallback = "Microsoft Mail";
        cut = strchr(rest, '/');
    } else if (strcmp(address, "SMTP") == 0) {
        fallback = "Internet Mail";
    }
    if (cut) {
        rest = cut + 1;
    }
    GetPrivateProfileStringA("Fax and Mail", key, fallback, service, sizeof service, file);
    char label[51];
    int msn = strcmp(address, "MSN") == 0;
    GetPrivateProfileStringA("Fax and Mail", msn ? "TextAddrMSN" : "TextAddr",
                             msn ? "Member ID" : "Address", label, sizeof label, file);
    snprintf(out, size, "%s, %s:%s", service, label, rest);
}
