// Pieces of an RFC 5322 / MIME message: safe header phrases and mailboxes,
// attachment names and types, base64 bodies, and a buffered file writer.
#pragma once
#include <windows.h>

enum : int { MailboxSize = 256, PhraseSize = 512, AttachmentNameSize = 64 };

// Collects output for a file; Ok turns 0 at the first failed write.
struct MessageWriter {
    HANDLE File;
    int Ok;
    DWORD Used;
    char Buffer[4096];
};

void WriteBytes(MessageWriter *writer, const char *bytes, DWORD length);
void WriteText(MessageWriter *writer, const char *text);
// Writes what is buffered; returns Ok.
int FlushWriter(MessageWriter *writer);
// The file's bytes in base64, 76 characters a line; 1/0.
int WriteBase64File(MessageWriter *writer, HANDLE source);
// Base64 of length bytes into out (4 characters for every 3 bytes, and a NUL).
void EncodeBase64(const BYTE *bytes, DWORD length, char *out);

// A display name as a header phrase that can never end the header line:
// control characters become blanks, plain text is quoted, other text is sent
// as encoded words labelled with codePage, the code page the name is in.
void HeaderPhrase(const char *name, UINT codePage, char *out, int size);
// 1 when text is a plain address with nothing a header could trip on: atoms
// joined by single dots, "@", and labels (letters, digits, inner hyphens)
// joined by single dots.
int ValidMailbox(const char *mailbox);
// The mailbox a recipient address ("TYPE:address") is sent to: a fax number
// as its digits at the fax gateway domain, anything else as it is; 1/0.
int RecipientMailbox(const char *address, const char *faxGateway, char *out, int size);
// An attachment name safe inside a quoted parameter, without blanks around
// it, and its content type.
void AttachmentName(const char *name, char *out, int size);
const char *AttachmentType(const char *name);
// "Tue, 05 Mar 2024 10:00:00 +0000"
void FormatMessageDate(const SYSTEMTIME *time, char *out, int size);
