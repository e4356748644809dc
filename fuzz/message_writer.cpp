// A message as SendTelvex writes it, from any sender, recipients and pages:
// refused when an address is no mailbox, else lines of at most 998 octets
// ended by CRLF and a header of 7-bit text with exactly the fields the
// writer puts there, so no name or address can add one. The message and
// what it should hold are kept for check_messages.py, which reads them back
// with Python's e-mail parser.
//
// Input: a code-page choice, the sender's name, address, fax number and fax
// gateway, then a count and each recipient's name and address, then a count
// and each page's name, length and bytes (texts NUL-separated).
#include "fuzz/exercise.h"
#include "message.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

namespace {

enum : DWORD { MostRecipients = 6, MostPages = 3, TextSize = 320 };
const int ExpectSize = 16 * 1024; // the expectation text of one message

const UINT CodePages[] = {1252, 1250, 1251, 932, 936, 949, 950, CP_UTF8, 437};
const char *const HeaderFields[] = {"From",       "To",           "Subject",     "Date",
                                    "Message-ID", "MIME-Version", "Content-Type"};

struct MessageInput {
    char SenderName[TextSize], SenderAddress[TextSize], FaxNumber[TextSize], Gateway[TextSize];
    UINT CodePage;
    DWORD RecipientCount;
    char Names[MostRecipients][TextSize];
    char Addresses[MostRecipients][TextSize];
    RecipientRecord Records[MostRecipients];
    DWORD PageCount;
    char PageNames[MostPages][AttachmentNameSize];
    DWORD PageSizes[MostPages];
    BYTE Pages[MostPages][512];
};

void TakeMessageInput(const BYTE *data, DWORD size, MessageInput *input) {
    InputCursor in = {data, size};
    input->CodePage = CodePages[TakeByte(&in) % (sizeof CodePages / sizeof CodePages[0])];
    TakeText(&in, input->SenderName, TextSize);
    TakeText(&in, input->SenderAddress, TextSize);
    TakeText(&in, input->FaxNumber, TextSize);
    TakeText(&in, input->Gateway, TextSize);
    input->RecipientCount = TakeByte(&in) % (MostRecipients + 1);
    for (DWORD i = 0; i < input->RecipientCount; i++) {
        TakeText(&in, input->Names[i], TextSize);
        TakeText(&in, input->Addresses[i], TextSize);
        input->Records[i] = {0, 1, input->Names[i], input->Addresses[i], 0, NULL};
    }
    input->PageCount = TakeByte(&in) % (MostPages + 1);
    for (DWORD i = 0; i < input->PageCount; i++) {
        TakeText(&in, input->PageNames[i], AttachmentNameSize);
        input->PageSizes[i] = (TakeByte(&in) << 8 | TakeByte(&in)) % (sizeof input->Pages[i] + 1);
        for (DWORD b = 0; b < input->PageSizes[i]; b++) {
            input->Pages[i][b] = TakeByte(&in);
        }
    }
}

// Lines, header fields and header bytes of a written message.
const char *CheckMessage(const BYTE *text, DWORD size) {
    int seen[sizeof HeaderFields / sizeof HeaderFields[0]] = {};
    int inHeader = 1;
    for (DWORD at = 0; at < size;) {
        DWORD end = at;
        while (end < size && text[end] != '\r' && text[end] != '\n') {
            end++;
        }
        if (end + 1 >= size || text[end] != '\r' || text[end + 1] != '\n') {
            return "a line does not end with CRLF";
        }
        if (end - at > 998) {
            return "a line is longer than 998 octets";
        }
        if (inHeader && end == at) {
            inHeader = 0;
        } else if (inHeader) {
            for (DWORD i = at; i < end; i++) {
                if (text[i] >= 0x80 || !text[i]) {
                    return "the header holds a byte that is not 7-bit text";
                }
            }
            if (text[at] != ' ' && text[at] != '\t') {
                size_t field = 0;
                while (field < sizeof seen / sizeof seen[0] &&
                       !(strncmp((const char *)text + at, HeaderFields[field],
                                 strlen(HeaderFields[field])) == 0 &&
                         text[at + strlen(HeaderFields[field])] == ':')) {
                    field++;
                }
                if (field == sizeof seen / sizeof seen[0] || seen[field]++) {
                    return "the header has a field the writer does not write, or one twice";
                }
            }
        }
        at = end + 2;
    }
    for (int count : seen) {
        if (count != 1) {
            return "the header lacks a field";
        }
    }
    return inHeader ? "the message has no body" : NULL;
}

// What check_messages.py compares the parsed message with: the code page,
// the sender's mailbox, each recipient's mailbox and name (hexadecimal bytes),
// each attachment's name and bytes.
void KeepExpectation(const MessageInput *input, const Sender *sender, const BYTE *message,
                     DWORD size) {
    char *expect = (char *)malloc(ExpectSize);
    if (!expect) {
        return;
    }
    int used =
        snprintf(expect, ExpectSize, "codepage %u\nfrom %s\n", input->CodePage, sender->Mailbox);
    for (DWORD i = 0; i < input->RecipientCount && used < ExpectSize; i++) {
        char mailbox[MailboxSize];
        RecipientMailbox(input->Addresses[i], sender->Gateway, mailbox, sizeof mailbox);
        used += snprintf(expect + used, ExpectSize - used, "to %s ", mailbox);
        for (const char *p = input->Names[i]; *p && used < ExpectSize; p++) {
            used += snprintf(expect + used, ExpectSize - used, "%02x", (BYTE)*p);
        }
        used += snprintf(expect + used, ExpectSize - used, "\n");
    }
    for (DWORD i = 0; i < input->PageCount && used < ExpectSize; i++) {
        char safe[AttachmentNameSize];
        AttachmentName(input->PageNames[i], safe, sizeof safe);
        used += snprintf(expect + used, ExpectSize - used, "page %s ", safe);
        for (DWORD b = 0; b < input->PageSizes[i] && used < ExpectSize; b++) {
            used += snprintf(expect + used, ExpectSize - used, "%02x", input->Pages[i][b]);
        }
        used += snprintf(expect + used, ExpectSize - used, "\n");
    }
    if (used < ExpectSize) {
        KeepFuzzOutput(".eml", message, size);
        KeepFuzzOutput(".expect", expect, (DWORD)used);
    }
    free(expect);
}

// Writes the pages and the message; the message's bytes, or NULL when it
// was refused or not written.
BYTE *WriteMessage(const MessageInput *input, const Sender *sender, DWORD *size) {
    char paths[MostPages * MAX_PATH + 1], names[MostPages * AttachmentNameSize + 1];
    DWORD pathsUsed = 0, namesUsed = 0;
    for (DWORD i = 0; i < input->PageCount; i++) {
        char file[32];
        snprintf(file, sizeof file, "fuzz_page%lu.bin", (unsigned long)i);
        if (!WriteInputFile(file, input->Pages[i], input->PageSizes[i], paths + pathsUsed)) {
            return NULL;
        }
        pathsUsed += (DWORD)strlen(paths + pathsUsed) + 1;
        lstrcpynA(names + namesUsed, input->PageNames[i], AttachmentNameSize);
        namesUsed += (DWORD)strlen(names + namesUsed) + 1;
    }
    RecipientLink link = RecipientLink();
    link.RecipientCount = input->RecipientCount;
    link.Recipients = (RecipientRecord *)input->Records;
    link.PageCount = input->PageCount;
    link.PagePaths = paths;
    link.PageNames = names;
    BYTE *message = NULL;
    char path[MAX_PATH];
    if (LinkHasPages(&link) && !UnaddressableRecipient(&link, sender) &&
        TempFilePath("fuzz_message.eml", path)) {
        HANDLE file =
            CreateFileA(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
        if (file != INVALID_HANDLE_VALUE) {
            int written = WriteMessageFile(file, &link, sender, "=_fuzz");
            CloseHandle(file);
            message = written ? ReadBackFile(path, size) : NULL;
            DeleteFileA(path);
        }
    }
    for (const char *page = paths; page < paths + pathsUsed; page += strlen(page) + 1) {
        DeleteFileA(page);
    }
    return message;
}

} // namespace

const char *ExerciseMessageWriter(const BYTE *data, DWORD size) {
    static MessageInput input;
    TakeMessageInput(data, size, &input);
    Sender sender;
    if (!MakeSender(input.SenderName, input.SenderAddress, input.FaxNumber, input.Gateway,
                    input.CodePage, &sender)) {
        return NULL;
    }
    DWORD messageSize = 0;
    BYTE *message = WriteMessage(&input, &sender, &messageSize);
    if (!message) {
        return NULL;
    }
    const char *fault = CheckMessage(message, messageSize);
    if (!fault) {
        KeepExpectation(&input, &sender, message, messageSize);
    }
    free(message);
    return fault;
}
