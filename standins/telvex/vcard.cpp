#include "vcard.h"

#include <ctype.h>
#include <stdio.h>
#include <string.h>

enum : int { LineSize = 1024, CardAddressLimit = 32, CardDepthLimit = 8 };

// What one card has given so far.
struct CardRecord {
    char Name[ContactNameSize];
    char Uid[64];
    int Addresses;    // addresses of this card added to the book
    DWORD FirstEntry; // book entry of its first address
    int Number;       // card number in the file, from 1
};

// Copies the next logical line (folded lines joined, RFC 6350 3.2) into
// line and returns where the following one starts.
static const char *NextLine(const char *at, char *line) {
    int used = 0;
    for (;;) {
        while (*at && *at != '\r' && *at != '\n') {
            if (used < LineSize - 1) {
                line[used++] = *at;
            }
            at++;
        }
        if (*at == '\r') {
            at++;
        }
        if (*at == '\n') {
            at++;
        }
        if (*at != ' ' && *at != '\t') {
            break;
        }
        at++; // a folded line goes on after its one leading blank
    }
    line[used] = 0;
    return at;
}

// Copies a text value, undoing the escapes and turning controls into blanks.
static void CopyText(char *out, int size, const char *value) {
    int used = 0;
    for (const char *p = value; *p && used < size - 1; p++) {
        char c = *p;
        if (c == '\\' && p[1]) {
            c = *++p;
            if (c == 'n' || c == 'N') {
                c = ' ';
            }
        }
        out[used++] = (unsigned char)c < 0x20 || c == 0x7F ? ' ' : c;
    }
    out[used] = 0;
}

// Splits "group.NAME;params:value" at the first colon outside quotes.
static char *SplitProperty(char *line) {
    int quoted = 0;
    for (char *p = line; *p; p++) {
        if (*p == '"') {
            quoted = !quoted;
        } else if (*p == ':' && !quoted) {
            *p = 0;
            return p + 1;
        }
    }
    return NULL;
}

static int NameIs(const char *name, const char *wanted) {
    size_t length = strlen(wanted);
    return _strnicmp(name, wanted, length) == 0 && (name[length] == 0 || name[length] == ';');
}

static int HasParameter(const char *name, const char *word) {
    char upper[LineSize];
    int i = 0;
    for (; name[i] && i < LineSize - 1; i++) {
        upper[i] = (char)toupper((unsigned char)name[i]);
    }
    upper[i] = 0;
    return strstr(upper, word) != NULL;
}

// 1 when text starts with a URI scheme (RFC 3986 3.1) ended by a colon that
// something follows.
static int HasUriScheme(const char *text) {
    if (!isalpha((unsigned char)text[0])) {
        return 0;
    }
    const char *p = text + 1;
    while (isalnum((unsigned char)*p) || *p == '+' || *p == '-' || *p == '.') {
        p++;
    }
    return *p == ':' && p[1];
}

// The address a property gives, "" when it gives none.
static void PropertyAddress(const char *name, const char *value, char *out, int size) {
    char text[ContactAddressSize];
    out[0] = 0;
    CopyText(text, sizeof text, value);
    if (NameIs(name, "EMAIL") && text[0]) {
        snprintf(out, size, "SMTP:%s", text);
    } else if (NameIs(name, "TEL") && HasParameter(name, "FAX")) {
        const char *number = _strnicmp(text, "tel:", 4) == 0 ? text + 4 : text;
        if (number[0]) {
            snprintf(out, size, "FAX:%s", number);
        }
    } else if (NameIs(name, "IMPP") && HasUriScheme(text)) {
        for (char *p = text; *p != ':'; p++) {
            *p = (char)toupper((unsigned char)*p);
        }
        lstrcpynA(out, text, size);
    }
}

static void AddAddress(AddressBookRecord *book, CardRecord *card, const char *address) {
    if (book->Count >= AddressBookCapacity || card->Addresses >= CardAddressLimit) {
        return;
    }
    AddressEntry *entry = &book->Entries[book->Count++];
    lstrcpynA(entry->Address, address, sizeof entry->Address);
    entry->Name[0] = 0;
    card->Addresses++;
    if (card->Uid[0]) {
        snprintf(entry->EntryId, sizeof entry->EntryId, "VCF:%s/%d", card->Uid, card->Addresses);
    } else {
        snprintf(entry->EntryId, sizeof entry->EntryId, "VCF:card%d/%d", card->Number,
                 card->Addresses);
    }
}

// Names the card's entries once its end is reached (FN may come last); a
// card without FN is named by each address. Cards inside it ended first and
// named their own entries, which lie among the card's.
static void FinishCard(AddressBookRecord *book, const CardRecord *card) {
    for (DWORD i = card->FirstEntry; i < book->Count; i++) {
        AddressEntry *entry = &book->Entries[i];
        const char *name = card->Name[0] ? card->Name : strchr(entry->Address, ':') + 1;
        if (!entry->Name[0]) {
            lstrcpynA(entry->Name, name, sizeof entry->Name);
        }
    }
}

DWORD ParseVCards(const char *text, AddressBookRecord *book) {
    static const CardRecord NoCard = {};
    char line[LineSize];
    // The open cards, outermost first: a card may hold another (a vCard 2.1
    // AGENT), whose end takes up the outer card again.
    CardRecord open[CardDepthLimit];
    int depth = 0;
    int cards = 0;
    book->Count = 0;
    for (const char *at = text; *at;) {
        at = NextLine(at, line);
        char *value = SplitProperty(line);
        if (!value) {
            continue;
        }
        char *dot = strchr(line, '.');
        char *semicolon = strchr(line, ';');
        const char *name = dot && (!semicolon || dot < semicolon) ? dot + 1 : line;
        CardRecord *card = depth ? &open[depth - 1] : NULL;
        if (NameIs(name, "BEGIN") && _stricmp(value, "VCARD") == 0) {
            if (depth == CardDepthLimit) {
                FinishCard(book, card); // nested too deep: the innermost card ends here
                depth--;
            }
            card = &open[depth++];
            *card = NoCard;
            card->Number = ++cards;
            card->FirstEntry = book->Count;
        } else if (!card) {
            continue;
        } else if (NameIs(name, "END") && _stricmp(value, "VCARD") == 0) {
            FinishCard(book, card);
            depth--;
        } else if (NameIs(name, "FN")) {
            CopyText(card->Name, sizeof card->Name, value);
        } else if (NameIs(name, "UID")) {
            CopyText(card->Uid, sizeof card->Uid, value);
        } else {
            char address[ContactAddressSize];
            PropertyAddress(name, value, address, sizeof address);
            if (address[0]) {
                AddAddress(book, card, address);
            }
        }
    }
    while (depth > 0) {
        FinishCard(book, &open[--depth]); // a file cut short keeps the cards it ends in
    }
    return book->Count;
}
