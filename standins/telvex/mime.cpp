#include "mime.h"

#include <ctype.h>
#include <stdio.h>
#include <string.h>

static const char Base64Digits[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

void WriteBytes(MessageWriter *writer, const char *bytes, DWORD length) {
    while (length && writer->Ok) {
        DWORD room = sizeof writer->Buffer - writer->Used;
        DWORD part = length < room ? length : room;
        memcpy(writer->Buffer + writer->Used, bytes, part);
        writer->Used += part;
        bytes += part;
        length -= part;
        if (writer->Used == sizeof writer->Buffer) {
            FlushWriter(writer);
        }
    }
}

void WriteText(MessageWriter *writer, const char *text) {
    WriteBytes(writer, text, (DWORD)strlen(text));
}

int FlushWriter(MessageWriter *writer) {
    DWORD written = 0;
    if (writer->Ok && writer->Used &&
        (!WriteFile(writer->File, writer->Buffer, writer->Used, &written, NULL) ||
         written != writer->Used)) {
        writer->Ok = 0;
    }
    writer->Used = 0;
    return writer->Ok;
}

void EncodeBase64(const BYTE *bytes, DWORD length, char *out) {
    for (DWORD i = 0; i < length; i += 3) {
        DWORD left = length - i;
        DWORD group = (DWORD)bytes[i] << 16 | (left > 1 ? (DWORD)bytes[i + 1] << 8 : 0) |
                      (left > 2 ? bytes[i + 2] : 0);
        *out++ = Base64Digits[group >> 18 & 63];
        *out++ = Base64Digits[group >> 12 & 63];
        *out++ = left > 1 ? Base64Digits[group >> 6 & 63] : '=';
        *out++ = left > 2 ? Base64Digits[group & 63] : '=';
    }
    *out = 0;
}

int WriteBase64File(MessageWriter *writer, HANDLE source) {
    enum : DWORD { LineBytes = 57, ChunkBytes = LineBytes * 64 };
    static_assert(ChunkBytes % LineBytes == 0, "chunks hold whole lines");
    BYTE chunk[ChunkBytes];
    char line[LineBytes / 3 * 4 + 3];
    DWORD read = 0;
    do {
        if (!ReadFile(source, chunk, ChunkBytes, &read, NULL)) {
            return 0;
        }
        for (DWORD at = 0; at < read; at += LineBytes) {
            DWORD length = read - at < LineBytes ? read - at : LineBytes;
            EncodeBase64(chunk + at, length, line);
            WriteText(writer, line);
            WriteText(writer, "\r\n");
        }
    } while (read == ChunkBytes);
    return writer->Ok;
}

void HeaderPhrase(const char *name, char *out, int size) {
    enum : int { NameLimit = 200, WordBytes = 30 };
    char clean[NameLimit + 1];
    int length = 0;
    int plain = 1;
    for (const char *p = name ? name : ""; *p && length < NameLimit; p++) {
        unsigned char c = (unsigned char)*p;
        clean[length++] = c < 0x20 || c == 0x7F ? ' ' : (char)c;
        plain = plain && c < 0x80;
    }
    clean[length] = 0;
    int used = 0;
    if (plain) {
        out[used++] = '"';
        for (int i = 0; i < length && used < size - 3; i++) {
            if (clean[i] == '"' || clean[i] == '\\') {
                out[used++] = '\\';
            }
            out[used++] = clean[i];
        }
        out[used++] = '"';
        out[used] = 0;
        return;
    }
    // RFC 2047 encoded words of at most 30 bytes each, blank-separated.
    out[0] = 0;
    for (int at = 0; at < length; at += WordBytes) {
        char word[WordBytes / 3 * 4 + 4];
        int part = length - at < WordBytes ? length - at : WordBytes;
        EncodeBase64((const BYTE *)clean + at, part, word);
        used += snprintf(out + used, size - used, "%s=?windows-1252?B?%s?=", at ? " " : "", word);
        if (used >= size) {
            break;
        }
    }
}

static int IsAtomCharacter(unsigned char c) {
    return isalnum(c) || (c && strchr("!#$%&'*+-/=?^_`{|}~", c));
}

int ValidMailbox(const char *mailbox) {
    const char *at = strchr(mailbox, '@');
    if (!at || at == mailbox || strchr(at + 1, '@') || !at[1] || strlen(mailbox) >= MailboxSize) {
        return 0;
    }
    for (const char *p = mailbox; p < at; p++) {
        if (!IsAtomCharacter((unsigned char)*p) && *p != '.') {
            return 0;
        }
    }
    for (const char *p = at + 1; *p; p++) {
        if (!isalnum((unsigned char)*p) && *p != '-' && *p != '.') {
            return 0;
        }
    }
    return 1;
}

// A fax number's digits (and a leading plus) at the gateway domain.
static int FaxMailbox(const char *number, const char *gateway, char *out, int size) {
    char digits[64];
    int used = 0;
    for (const char *p = number; *p && used < (int)sizeof digits - 1; p++) {
        if (isdigit((unsigned char)*p) || (*p == '+' && used == 0)) {
            digits[used++] = *p;
        }
    }
    digits[used] = 0;
    if (!used || digits[used - 1] == '+') {
        return 0;
    }
    snprintf(out, size, "%s@%s", digits, gateway ? gateway : "");
    return ValidMailbox(out);
}

int RecipientMailbox(const char *address, const char *faxGateway, char *out, int size) {
    const char *colon = address ? strchr(address, ':') : NULL;
    if (!colon) {
        return 0;
    }
    const char *rest = colon + 1;
    if (colon - address == 3 && _strnicmp(address, "FAX", 3) == 0) {
        const char *number = strchr(rest, '@');
        return FaxMailbox(number ? number + 1 : rest, faxGateway, out, size);
    }
    if (!ValidMailbox(rest)) {
        return 0;
    }
    lstrcpynA(out, rest, size);
    return 1;
}

void AttachmentName(const char *name, char *out, int size) {
    int used = 0;
    for (const char *p = name ? name : ""; *p && used < size - 1; p++) {
        unsigned char c = (unsigned char)*p;
        out[used++] = c < 0x20 || c >= 0x7F || strchr("\"\\/:", c) ? '_' : (char)c;
    }
    out[used] = 0;
    if (!used) {
        lstrcpynA(out, "page", size);
    }
}

const char *AttachmentType(const char *name) {
    const char *dot = strrchr(name, '.');
    if (dot && (_stricmp(dot, ".TIF") == 0 || _stricmp(dot, ".TIFF") == 0)) {
        return "image/tiff";
    }
    if (dot && (_stricmp(dot, ".JPG") == 0 || _stricmp(dot, ".JPEG") == 0)) {
        return "image/jpeg";
    }
    return "application/octet-stream";
}

void FormatMessageDate(const SYSTEMTIME *time, char *out, int size) {
    static const char *const Days[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char *const Months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    snprintf(out, size, "%s, %02u %s %04u %02u:%02u:%02u +0000", Days[time->wDayOfWeek % 7],
             time->wDay, Months[(time->wMonth + 11) % 12], time->wYear, time->wHour, time->wMinute,
             time->wSecond);
}
