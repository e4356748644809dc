// What an SMTP client reads from its server and what it sends as a
// message's data, apart from any connection: replies taken line by line
// however the bytes arrive, the extensions an EHLO reply names, and a message
// file made into DATA (RFC 5321, 4.2 and 4.5.2).
#pragma once
#include <windows.h>

enum : int { ReplySize = 512 };

// Extensions an EHLO reply names.
enum : DWORD {
    SmtpPipelining = 1,
    SmtpEightBitMime = 2,
    SmtpStartTls = 4,
    SmtpAuthPlain = 8,
    SmtpAuthLogin = 16
};

// One reply while it is read.
struct ReplyReader {
    int Code;  // once whole: the reply's code, 0 when it was not a reply
    int Whole; // 1 once its last line was read, or once it cannot be a reply
    DWORD Extensions;
    int Lines;
    DWORD LineLength;     // bytes of the line being read, however long
    int LastCr;           // its last byte was a CR
    char Line[ReplySize]; // its start
    char Text[ReplySize]; // the last whole line, or why it is not a reply
};

void StartReply(ReplyReader *reader);
// Takes bytes into the reply, up to the end of its last line: how many it
// took; what follows belongs to the next reply.
int TakeReply(ReplyReader *reader, const char *bytes, int length);

// A message file as DATA, whatever its line ends: every line ended by CR LF,
// a dot at the start of a line doubled.
struct DataEncoder {
    int LineStart;
    int PendingCr; // a CR whose LF may follow in the next bytes
};

void StartData(DataEncoder *encoder);
// Encodes length bytes into out, which holds 2 * length + 2: the bytes written.
DWORD EncodeData(DataEncoder *encoder, const char *in, DWORD length, char *out);
// The end: a line end where the last line has none, then the line of one dot
// (out holds 8 bytes): the bytes written.
DWORD EndData(DataEncoder *encoder, char *out);

// What decides whether, and how, a message file can be sent.
struct DataFacts {
    int EightBit;      // a byte over 127: BODY=8BITMIME
    int Nul;           // a NUL byte, which no SMTP data may hold
    DWORD LongestLine; // octets, without the line end
    DWORD LineLength;  // of the line being measured
    ULONGLONG Size;
    int LastCr;    // the last byte measured was a CR
    int Irregular; // a CR or LF alone, or a dot starting a line
};

void MeasureData(DataFacts *facts, const char *in, DWORD length);
// 1 when the bytes measured are already DATA as EncodeData would make it
// (every line ended by CR LF, no line starting with a dot): they can go as
// they are, the end of the data after them.
int InDataForm(const DataFacts *facts);
// Why the message cannot go to a server with these extensions, or NULL.
const char *DataRefusal(const DataFacts *facts, DWORD extensions);
