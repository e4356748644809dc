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

// The MIME name of a Windows ANSI code page into out; 0 for another code page.
static int CharsetName(UINT codePage, char *out, int size) {
    static const struct {
        UINT CodePage;
        const char *Name;
    } Charsets[] = {
        {874, "windows-874"},    {932, "Shift_JIS"}, {936, "GBK"},
        {949, "KS_C_5601-1987"}, {950, "Big5"},      {CP_UTF8, "UTF-8"},
    };
    if (codePage >= 1250 && codePage <= 1258) {
        snprintf(out, size, "windows-%u", codePage);
        return 1;
    }
    for (const auto &charset : Charsets) {
        if (charset.CodePage == codePage) {
            lstrcpynA(out, charset.Name, size);
            return 1;
        }
    }
    return 0;
}

// Bytes of the character that text starts with in the code page: two for a
// double-byte character, a UTF-8 sequence's length, else one; never past the NUL.
static int CharacterBytes(const char *text, UINT codePage) {
    BYTE c = (BYTE)text[0];
    int bytes = 1;
    if (codePage == CP_UTF8) {
        bytes = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
    } else if (IsDBCSLeadByteEx(codePage, c)) {
        bytes = 2;
    }
    for (int i = 1; i < bytes; i++) {
        if (!text[i]) {
            return i;
        }
    }
    return bytes;
}

void HeaderPhrase(const char *name, UINT codePage, char *out, int size) {
    enum : int { NameLimit = 200, WordBytes = 30 };
    char charset[24];
    int labelled = CharsetName(codePage, charset, sizeof charset);
    char clean[NameLimit + 1];
    int length = 0;
    int plain = 1;
    // Whole characters only; without a known charset 8-bit text cannot be labelled.
    for (const char *p = name ? name : ""; *p;) {
        int bytes = CharacterBytes(p, codePage);
        if (length + bytes > NameLimit) {
            break;
        }
        for (int i = 0; i < bytes; i++, p++) {
            BYTE c = (BYTE)*p;
            clean[length++] = c < 0x20 || c == 0x7F ? ' ' : c >= 0x80 && !labelled ? '?' : (char)c;
            plain = plain && (BYTE)clean[length - 1] < 0x80;
        }
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
    // RFC 2047 encoded words of at most 30 bytes each, blank-separated; a
    // character is never split between two words.
    out[0] = 0;
    for (int at = 0; at < length && used < size;) {
        int part = 0;
        while (at + part < length) {
            int bytes = CharacterBytes(clean + at + part, codePage);
            if (part + bytes > WordBytes) {
                break;
            }
            part += bytes;
        }
        char word[WordBytes / 3 * 4 + 4];
        EncodeBase64((const BYTE *)clean + at, part, word);
        used += snprintf(out + used, size - used, "%s=?%s?B?%s?=", at ? " " : "", charset, word);
        at += part;
    }
}

static int IsAtomCharacter(unsigned char c) {
    return isalnum(c) || (c && strchr("!#$%&'*+-/=?^_`{|}~", c));
}

// 1 when [from, to) is runs of atom characters (labels: letters, digits and
// inner hyphens) joined by single dots.
static int DotSeparated(const char *from, const char *to, int labels) {
    const char *run = from;
    for (const char *p = from; p <= to; p++) {
        if (p == to || *p == '.') {
            if (p == run || (labels && (*run == '-' || p[-1] == '-'))) {
                return 0;
            }
            run = p + 1;
        } else if (labels ? !isalnum((unsigned char)*p) && *p != '-'
                          : !IsAtomCharacter((unsigned char)*p)) {
            return 0;
        }
    }
    return 1;
}

int ValidMailbox(const char *mailbox) {
    const char *at = strchr(mailbox, '@');
    size_t length = strlen(mailbox);
    return at && length < MailboxSize && DotSeparated(mailbox, at, 0) &&
           DotSeparated(at + 1, mailbox + length, 1);
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
    const char *p = name ? name : "";
    p += strspn(p, " "); // readers drop the blanks around a file name
    for (; *p && used < size - 1; p++) {
        unsigned char c = (unsigned char)*p;
        out[used++] = c < 0x20 || c >= 0x7F || strchr("\"\\/:", c) ? '_' : (char)c;
    }
    while (used && out[used - 1] == ' ') {
        used--;
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
    if (dot && _stricmp(dot, ".PDF") == 0) {
        return "application/pdf";
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
