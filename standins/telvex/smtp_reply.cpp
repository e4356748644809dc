#include "smtp_reply.h"

#include <stdio.h>
#include <string.h>

enum : DWORD { LongestLine = 998 }; // octets of a line of data, without its end

void StartReply(ReplyReader *reader) {
    memset(reader, 0, sizeof *reader);
}

// The extension an EHLO line names ("250-PIPELINING", "250 AUTH PLAIN LOGIN").
static DWORD LineExtensions(const char *keyword) {
    static const struct {
        const char *Name;
        DWORD Flag;
    } Known[] = {
        {"PIPELINING", SmtpPipelining}, {"8BITMIME", SmtpEightBitMime}, {"STARTTLS", SmtpStartTls}};
    size_t length = strcspn(keyword, " =");
    for (const auto &known : Known) {
        if (length == strlen(known.Name) && _strnicmp(keyword, known.Name, length) == 0) {
            return known.Flag;
        }
    }
    if (length != 4 || _strnicmp(keyword, "AUTH", 4) != 0) {
        return 0;
    }
    DWORD flags = 0;
    for (const char *word = keyword + 4; *word;) {
        word += strspn(word, " =");
        size_t size = strcspn(word, " =");
        if (size == 5 && _strnicmp(word, "PLAIN", 5) == 0) {
            flags |= SmtpAuthPlain;
        } else if (size == 5 && _strnicmp(word, "LOGIN", 5) == 0) {
            flags |= SmtpAuthLogin;
        }
        word += size;
    }
    return flags;
}

// A whole line: "ddd text" ends the reply, "ddd-text" goes on; anything else,
// or another code than the first line's, is no reply.
static void EndLine(ReplyReader *reader) {
    const char *line = reader->Line;
    DWORD stored = reader->LineLength < ReplySize ? reader->LineLength : ReplySize - 1;
    int valid = reader->LineLength >= 3 && line[0] >= '2' && line[0] <= '5' && line[1] >= '0' &&
                line[1] <= '9' && line[2] >= '0' && line[2] <= '9' &&
                (reader->LineLength == 3 || line[3] == ' ' || line[3] == '-');
    int code = valid ? (line[0] - '0') * 100 + (line[1] - '0') * 10 + (line[2] - '0') : 0;
    if (!valid || (reader->Lines && code != reader->Code)) {
        snprintf(reader->Text, ReplySize, "the server's reply cannot be read: %.*s", (int)stored,
                 line);
        reader->Code = 0;
        reader->Whole = 1;
        return;
    }
    if (reader->Lines && reader->LineLength > 4) {
        reader->Extensions |= LineExtensions(line + 4);
    }
    reader->Code = code;
    reader->Lines++;
    memcpy(reader->Text, line, stored);
    reader->Text[stored] = 0;
    reader->Whole = reader->LineLength == 3 || line[3] == ' ';
}

int TakeReply(ReplyReader *reader, const char *bytes, int length) {
    int taken = 0;
    while (taken < length && !reader->Whole) {
        char c = bytes[taken++];
        if (c == '\n') {
            reader->LineLength -= reader->LastCr; // the CR of the line's CR LF
            DWORD stored = reader->LineLength < ReplySize ? reader->LineLength : ReplySize - 1;
            reader->Line[stored] = 0;
            EndLine(reader);
            reader->LineLength = reader->LastCr = 0;
            continue;
        }
        if (reader->LineLength < ReplySize - 1) {
            // What a server says goes into the log and the records: one line
            // of visible text.
            reader->Line[reader->LineLength] = (BYTE)c < 0x20 ? '?' : c;
        }
        reader->LineLength++;
        reader->LastCr = c == '\r';
    }
    return taken;
}

void StartData(DataEncoder *encoder) {
    encoder->LineStart = 1;
    encoder->PendingCr = 0;
}

DWORD EncodeData(DataEncoder *encoder, const char *in, DWORD length, char *out) {
    DWORD used = 0;
    for (DWORD i = 0; i < length; i++) {
        char c = in[i];
        if (encoder->PendingCr) {
            // A CR alone ends a line as a CR LF does.
            encoder->PendingCr = 0;
            out[used++] = '\r';
            out[used++] = '\n';
            encoder->LineStart = 1;
            if (c == '\n') {
                continue;
            }
        }
        if (c == '\r') {
            encoder->PendingCr = 1;
            continue;
        }
        if (c == '\n') {
            out[used++] = '\r';
            out[used++] = '\n';
            encoder->LineStart = 1;
            continue;
        }
        if (encoder->LineStart && c == '.') {
            out[used++] = '.';
        }
        out[used++] = c;
        encoder->LineStart = 0;
    }
    return used;
}

DWORD EndData(DataEncoder *encoder, char *out) {
    DWORD used = 0;
    if (encoder->PendingCr || !encoder->LineStart) {
        out[used++] = '\r';
        out[used++] = '\n';
    }
    memcpy(out + used, ".\r\n", 3);
    StartData(encoder);
    return used + 3;
}

void MeasureData(DataFacts *facts, const char *in, DWORD length) {
    for (DWORD i = 0; i < length; i++) {
        BYTE c = (BYTE)in[i];
        if (c == '\r' || c == '\n') {
            facts->LineLength = 0;
            continue;
        }
        facts->EightBit |= c >= 0x80;
        facts->Nul |= c == 0;
        facts->LineLength++;
        if (facts->LineLength > facts->LongestLine) {
            facts->LongestLine = facts->LineLength;
        }
    }
    facts->Size += length;
}

const char *DataRefusal(const DataFacts *facts, DWORD extensions) {
    if (facts->Nul) {
        return "the message holds a NUL byte, which SMTP cannot carry";
    }
    if (facts->LongestLine > LongestLine) {
        return "the message has a line longer than the 998 octets SMTP allows";
    }
    if (facts->EightBit && !(extensions & SmtpEightBitMime)) {
        return "the message holds 8-bit text and the server does not take 8BITMIME";
    }
    return NULL;
}
