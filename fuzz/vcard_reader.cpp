// vCard text as an address book file holds it: every entry the reader lists
// is named, has a typed address with something behind its type, an entry
// identifier of its own kind, and no control character a list or a message
// header could trip on.
#include "fuzz/exercise.h"
#include "vcard.h"

#include <ctype.h>
#include <stdlib.h>
#include <string.h>

namespace {

int Ends(const char *field, size_t size) {
    return memchr(field, 0, size) != NULL;
}

int HasControl(const char *text) {
    for (const char *p = text; *p; p++) {
        if ((BYTE)*p < 0x20 || *p == 0x7F) {
            return 1;
        }
    }
    return 0;
}

// "TYPE:rest": an upper-case type of URI-scheme characters, and a rest.
int TypedAddress(const char *address) {
    const char *colon = strchr(address, ':');
    if (!colon || colon == address || !colon[1]) {
        return 0;
    }
    for (const char *p = address; p < colon; p++) {
        if (!isupper((BYTE)*p) && !isdigit((BYTE)*p) && !strchr("+-.", *p)) {
            return 0;
        }
    }
    return 1;
}

} // namespace

const char *ExerciseVCardReader(const BYTE *data, DWORD size) {
    static AddressBookRecord book;
    char *text = (char *)malloc(size + 1);
    if (!text) {
        return NULL;
    }
    memcpy(text, data, size);
    text[size] = 0;
    DWORD count = ParseVCards(text, &book);
    free(text);
    if (count != book.Count || count > AddressBookCapacity) {
        return "the entry count is wrong";
    }
    for (DWORD i = 0; i < count; i++) {
        const AddressEntry &entry = book.Entries[i];
        if (!Ends(entry.Name, sizeof entry.Name) || !Ends(entry.Address, sizeof entry.Address) ||
            !Ends(entry.EntryId, sizeof entry.EntryId)) {
            return "an entry's text runs past its field";
        }
        if (!entry.Name[0]) {
            return "an entry has no name";
        }
        if (!TypedAddress(entry.Address)) {
            return "an entry's address has no type or nothing behind it";
        }
        if (strncmp(entry.EntryId, "VCF:", 4) != 0) {
            return "an entry identifier is not a vCard one";
        }
        if (HasControl(entry.Name) || HasControl(entry.Address) || HasControl(entry.EntryId)) {
            return "an entry holds a control character";
        }
    }
    return NULL;
}
