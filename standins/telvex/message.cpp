#include "message.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

int MakeSender(const char *name, const char *address, const char *faxNumber, const char *gateway,
               UINT codePage, Sender *sender) {
    lstrcpynA(sender->Gateway, gateway, sizeof sender->Gateway);
    sender->CodePage = codePage;
    HeaderPhrase(name, codePage, sender->Phrase, sizeof sender->Phrase);
    if (address[0]) {
        lstrcpynA(sender->Mailbox, address, MailboxSize);
        return ValidMailbox(address);
    }
    // A fax profile sends from its own number at the gateway.
    char number[StoreTextSize + 8];
    snprintf(number, sizeof number, "FAX:%s", faxNumber);
    return RecipientMailbox(number, gateway, sender->Mailbox, MailboxSize);
}

// Up to size - 1 bytes of a file from offset, NUL-terminated (a NUL in them ends the text).
static void ReadTextAt(HANDLE file, DWORD offset, char *out, DWORD size) {
    DWORD got = 0;
    if (SetFilePointer(file, (LONG)offset, NULL, FILE_BEGIN) != offset ||
        !ReadFile(file, out, size - 1, &got, NULL)) {
        got = 0;
    }
    out[got] = 0;
}

// The whole number after the first key in text (blanks and line ends between), or -1.
static long NumberAfter(const char *text, const char *key) {
    const char *at = strstr(text, key);
    if (!at) {
        return -1;
    }
    at += strlen(key);
    at += strspn(at, " \r\n");
    return *at >= '0' && *at <= '9' && strspn(at, "0123456789") <= 9 ? strtol(at, NULL, 10) : -1;
}

// The text of object number (the first bytes of it) by a cross-reference
// table of one section from object 0 whose entries start at entries.
static int ReadObject(HANDLE file, DWORD entries, long objects, long number, char *out,
                      DWORD size) {
    char entry[21];
    if (number <= 0 || number >= objects) {
        return 0;
    }
    ReadTextAt(file, entries + (DWORD)number * 20, entry, sizeof entry);
    if (strlen(entry) < 18 || entry[17] != 'n') {
        return 0;
    }
    ReadTextAt(file, (DWORD)strtoul(entry, NULL, 10), out, size);
    return 1;
}

// The pages of a PDF document: the count of its page tree, found from the
// trailer through the catalogue; 1 when that cannot be told.
static DWORD DocumentPages(const char *path) {
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE) {
        return 1;
    }
    char text[1024];
    DWORD size = GetFileSize(file, NULL);
    ReadTextAt(file, size > 64 ? size - 64 : 0, text, sizeof text);
    long table = NumberAfter(text, "startxref"), count = -1;
    if (table >= 0) {
        // "xref", the section's first object (0) and its count, then the entries.
        ReadTextAt(file, (DWORD)table, text, 64);
        char *end = text + 4;
        long first = strncmp(text, "xref", 4) == 0 ? strtol(end, &end, 10) : -1;
        long objects = first == 0 ? strtol(end, &end, 10) : 0;
        if (objects > 0 && objects < 10000000) {
            DWORD entries = (DWORD)table + (DWORD)(end - text) + (DWORD)strspn(end, " \r\n");
            ReadTextAt(file, entries + (DWORD)objects * 20, text, sizeof text);
            if (ReadObject(file, entries, objects, NumberAfter(text, "/Root"), text, sizeof text) &&
                ReadObject(file, entries, objects, NumberAfter(text, "/Pages"), text,
                           sizeof text)) {
                count = NumberAfter(text, "/Count");
            }
        }
    }
    CloseHandle(file);
    return count > 0 ? (DWORD)count : 1;
}

// The pages the attachments hold: one an image, a document's own count.
static DWORD AttachedPages(const RecipientLink *link) {
    DWORD pages = 0;
    const char *path = link->PagePaths, *name = link->PageNames;
    for (DWORD i = 0; i < link->PageCount; i++) {
        int document = strcmp(AttachmentType(name ? name : path), "application/pdf") == 0;
        pages += document ? DocumentPages(path) : 1;
        path += strlen(path) + 1;
        name = name ? name + strlen(name) + 1 : NULL;
    }
    return pages;
}

static void WriteHeaders(MessageWriter *writer, const Sender *sender, const RecipientLink *link,
                         const char *boundary) {
    char line[PhraseSize + MailboxSize + 16];
    snprintf(line, sizeof line, "From: %s <%s>\r\nTo: ", sender->Phrase, sender->Mailbox);
    WriteText(writer, line);
    for (DWORD i = 0; i < link->RecipientCount; i++) {
        char phrase[PhraseSize], mailbox[MailboxSize];
        const RecipientRecord *record = &link->Recipients[i];
        HeaderPhrase(record->Name, sender->CodePage, phrase, sizeof phrase);
        RecipientMailbox(record->Address, sender->Gateway, mailbox, sizeof mailbox);
        snprintf(line, sizeof line, "%s%s <%s>", i ? ",\r\n " : "", phrase, mailbox);
        WriteText(writer, line);
    }
    SYSTEMTIME now;
    GetSystemTime(&now);
    char date[40];
    FormatMessageDate(&now, date, sizeof date);
    const char *domain = strchr(sender->Mailbox, '@') + 1;
    snprintf(line, sizeof line,
             "\r\nSubject: Scanned document\r\nDate: %s\r\nMessage-ID: <%s@%s>\r\n"
             "MIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=\"%s\"\r\n\r\n"
             "This is a message in MIME format.\r\n",
             date, boundary + 2, domain, boundary);
    WriteText(writer, line);
    snprintf(line, sizeof line,
             "\r\n--%s\r\nContent-Type: text/plain; charset=us-ascii\r\n\r\n"
             "%lu page(s) attached.\r\n",
             boundary, (unsigned long)AttachedPages(link));
    WriteText(writer, line);
}

// One page as a base64 attachment; 1/0.
static int WriteAttachment(MessageWriter *writer, const char *path, const char *name,
                           const char *boundary) {
    HANDLE page = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, NULL);
    if (page == INVALID_HANDLE_VALUE) {
        return 0;
    }
    char safe[AttachmentNameSize];
    AttachmentName(name, safe, sizeof safe);
    char line[3 * AttachmentNameSize + 160];
    snprintf(line, sizeof line,
             "\r\n--%s\r\nContent-Type: %s; name=\"%s\"\r\nContent-Transfer-Encoding: base64\r\n"
             "Content-Disposition: attachment; filename=\"%s\"\r\n\r\n",
             boundary, AttachmentType(safe), safe, safe);
    WriteText(writer, line);
    int ok = WriteBase64File(writer, page);
    CloseHandle(page);
    return ok;
}

int LinkHasPages(const RecipientLink *link) {
    return link->RecipientCount && link->Recipients && link->PageCount && link->PagePaths;
}

DWORD UnaddressableRecipient(const RecipientLink *link, const Sender *sender) {
    for (DWORD i = 0; i < link->RecipientCount; i++) {
        char mailbox[MailboxSize];
        if (!RecipientMailbox(link->Recipients[i].Address, sender->Gateway, mailbox,
                              sizeof mailbox)) {
            return i + 1;
        }
    }
    return 0;
}

int WriteMessageFile(HANDLE file, const RecipientLink *link, const Sender *sender,
                     const char *boundary) {
    static MessageWriter NoWriter;
    MessageWriter *writer = (MessageWriter *)HeapAlloc(GetProcessHeap(), 0, sizeof NoWriter);
    if (!writer) {
        return 0;
    }
    *writer = NoWriter;
    writer->File = file;
    writer->Ok = 1;
    WriteHeaders(writer, sender, link, boundary);
    const char *path = link->PagePaths;
    const char *name = link->PageNames;
    int ok = 1;
    for (DWORD i = 0; i < link->PageCount && ok; i++) {
        const char *base = strrchr(path, '\\');
        ok = WriteAttachment(writer, path, name ? name : (base ? base + 1 : path), boundary);
        path += strlen(path) + 1;
        name = name ? name + strlen(name) + 1 : NULL;
    }
    char end[96];
    snprintf(end, sizeof end, "\r\n--%s--\r\n", boundary);
    WriteText(writer, end);
    ok = FlushWriter(writer) && ok;
    HeapFree(GetProcessHeap(), 0, writer);
    return ok;
}
