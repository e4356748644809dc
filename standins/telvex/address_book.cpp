#include "address_book.h"

#include <stdio.h>
#include <string.h>

#include "link_blocks.h"
#include "store.h"
#include "telvex_ids.h"
#include "vcard.h"

HINSTANCE LibraryInstance;

enum : DWORD { AddressBookFileLimit = 1024 * 1024 };

// The whole vCard file named in the store, NUL-terminated, on the process
// heap; null when it cannot be read.
static char *ReadAddressBookText() {
    char name[MAX_PATH], path[MAX_PATH], store[MAX_PATH];
    GetPrivateProfileStringA(TELVEX_SECTION, "AddressBook", "ADDRESS.VCF", name, sizeof name,
                             StorePath(store, sizeof store));
    ProductFilePath(path, sizeof path, name);
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE) {
        return NULL;
    }
    DWORD size = GetFileSize(file, NULL);
    char *text =
        size < AddressBookFileLimit ? (char *)HeapAlloc(GetProcessHeap(), 0, size + 1) : NULL;
    DWORD read = 0;
    if (text && (!ReadFile(file, text, size, &read, NULL) || read != size)) {
        HeapFree(GetProcessHeap(), 0, text);
        text = NULL;
    }
    CloseHandle(file);
    if (text) {
        text[size] = 0;
    }
    return text;
}

// The dialog's state while it is open.
struct AddressBookDialog {
    const AddressBookRecord *Book;
    const char *Caption;
    RecipientLink *Link;
    DWORD Result;
};

// The link's records followed by the picked entries, in new blocks.
static DWORD AddPicks(HWND list, AddressBookDialog *state) {
    int picked = (int)SendMessageA(list, LB_GETSELCOUNT, 0, 0);
    if (picked <= 0) {
        return TelvexOk;
    }
    DWORD old = state->Link->Recipients ? state->Link->RecipientCount : 0;
    DWORD total = old + (DWORD)picked;
    RecipientRecord *records =
        (RecipientRecord *)HeapAlloc(GetProcessHeap(), 0, total * sizeof(RecipientRecord));
    int *items = (int *)HeapAlloc(GetProcessHeap(), 0, picked * sizeof(int));
    DWORD result = TelvexNoMemory;
    if (records && items) {
        memcpy(records, state->Link->Recipients, old * sizeof(RecipientRecord));
        SendMessageA(list, LB_GETSELITEMS, picked, (LPARAM)items);
        for (int i = 0; i < picked; i++) {
            const AddressEntry *entry = &state->Book->Entries[items[i]];
            RecipientRecord *record = &records[old + i];
            record->Reserved = 0;
            record->RecipientClass = 1;
            record->Name = (char *)entry->Name;
            record->Address = (char *)entry->Address;
            record->EntryIdSize = lstrlenA(entry->EntryId);
            record->EntryId = (BYTE *)entry->EntryId;
        }
        result = SetLinkRecords(state->Link, records, total, old != 0);
    }
    HeapFree(GetProcessHeap(), 0, records);
    HeapFree(GetProcessHeap(), 0, items);
    return result;
}

static INT_PTR CALLBACK AddressBookProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    AddressBookDialog *state = (AddressBookDialog *)GetWindowLongPtrA(dialog, DWLP_USER);
    if (message == WM_INITDIALOG) {
        state = (AddressBookDialog *)lParam;
        SetWindowLongPtrA(dialog, DWLP_USER, lParam);
        SetWindowTextA(dialog, state->Caption);
        HWND list = GetDlgItem(dialog, IDC_ADDRESS_LIST);
        for (DWORD i = 0; i < state->Book->Count; i++) {
            char line[ContactNameSize + ContactAddressSize + 4];
            snprintf(line, sizeof line, "%s (%s)", state->Book->Entries[i].Name,
                     state->Book->Entries[i].Address);
            SendMessageA(list, LB_ADDSTRING, 0, (LPARAM)line);
        }
        return TRUE;
    }
    if (message == WM_COMMAND && (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)) {
        state->Result = LOWORD(wParam) == IDOK
                            ? AddPicks(GetDlgItem(dialog, IDC_ADDRESS_LIST), state)
                            : TelvexCancelled;
        EndDialog(dialog, 1);
        return TRUE;
    }
    return FALSE;
}

DWORD RunAddressBook(HWND owner, RecipientLink *link, const char *caption) {
    // A store may name the result the address book gives instead of opening,
    // so that a caller's answer to every result can be brought about.
    DWORD fault = StoreNumber("AddressBookFault", TelvexOk);
    if (fault != TelvexOk) {
        return fault;
    }
    char *text = ReadAddressBookText();
    if (!text) {
        return TelvexFailure;
    }
    AddressBookRecord *book = (AddressBookRecord *)HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY,
                                                             sizeof(AddressBookRecord));
    AddressBookDialog state = {book, caption ? caption : "", link, TelvexNoMemory};
    if (book) {
        ParseVCards(text, book);
        if (DialogBoxParamA(LibraryInstance, MAKEINTRESOURCEA(IDD_ADDRESS_BOOK), owner,
                            AddressBookProc, (LPARAM)&state) <= 0) {
            state.Result = TelvexFailure;
        }
        HeapFree(GetProcessHeap(), 0, book);
    }
    HeapFree(GetProcessHeap(), 0, text);
    return state.Result;
}
