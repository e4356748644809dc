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

// Each message's bytes pass here and through MeasureData: the state is kept
// in locals, which the bytes written cannot alias, and the bytes of a line
// between its first and its end are copied as a run.
DWORD EncodeData(DataEncoder *encoder, const char *in, DWORD length, char *out) {
    int lineStart = encoder->LineStart, pendingCr = encoder->PendingCr;
    DWORD used = 0;
    for (DWORD i = 0; i < length; i++) {
        if (!lineStart && !pendingCr) {
            DWORD end = i;
            while (end < length && in[end] != '\r' && in[end] != '\n') {
                end++;
            }
            memcpy(out + used, in + i, end - i);
            used += end - i;
            i = end;
            if (i == length) {
                break;
            }
        }
        char c = in[i];
        if (pendingCr) {
            // A CR alone ends a line as a CR LF does.
            pendingCr = 0;
            out[used++] = '\r';
            out[used++] = '\n';
            lineStart = 1;
            if (c == '\n') {
                continue;
            }
        }
        if (c == '\r') {
            pendingCr = 1;
            continue;
        }
        if (c == '\n') {
            out[used++] = '\r';
            out[used++] = '\n';
            lineStart = 1;
            continue;
        }
        if (lineStart && c == '.') {
            out[used++] = '.';
        }
        out[used++] = c;
        lineStart = 0;
    }
    encoder->LineStart = lineStart;
    encoder->PendingCr = pendingCr;
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
    DWORD line = facts->LineLength, longest = facts->LongestLine;
    int eightBit = 0, nul = 0, lastCr = facts->LastCr, irregular = facts->Irregular;
    for (DWORD i = 0; i < length; i++) {
        BYTE c = (BYTE)in[i];
        irregular |= c == '\n' ? !lastCr : lastCr;
        lastCr = c == '\r';
        if (c == '\r' || c == '\n') {
            longest = line > longest ? line : longest;
            line = 0;
            continue;
        }
        eightBit |= c >= 0x80;
        nul |= c == 0;
        irregular |= c == '.' && line == 0;
        line++;
    }
    facts->LastCr = lastCr;
    facts->Irregular = irregular;
    facts->LineLength = line;
    facts->LongestLine = line > longest ? line : longest;
    facts->EightBit |= eightBit;
    facts->Nul |= nul;
    facts->Size += length;
}

int InDataForm(const DataFacts *facts) {
    return !facts->Irregular && !facts->LastCr && facts->LineLength == 0;
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
