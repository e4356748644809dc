// What a server sends, as the delivery agent reads it: replies of one or
// many lines, lines of any length, bytes that are no reply. Read whole and
// read as the network may split it, the same replies come out, each bounded
// and of visible text, with a code a reply can have or none.
//
// Input: a byte choosing how the rest is split, then the server's bytes.
#include "fuzz/exercise.h"

#include <string.h>

#include "smtp_reply.h"

namespace {

enum : int { MostReplies = 64 };

struct Replies {
    int Count;
    int Codes[MostReplies];
    DWORD Extensions[MostReplies];
    char Texts[MostReplies][ReplySize];
};

// Reads every whole reply from bytes, fed in pieces of at most piece bytes.
const char *ReadReplies(const BYTE *bytes, DWORD length, DWORD piece, Replies *out) {
    static ReplyReader reader;
    StartReply(&reader);
    out->Count = 0;
    for (DWORD at = 0; at < length && out->Count < MostReplies;) {
        DWORD size = length - at < piece ? length - at : piece;
        int taken = TakeReply(&reader, (const char *)bytes + at, (int)size);
        if (taken < 0 || (DWORD)taken > size || (!reader.Whole && (DWORD)taken != size)) {
            return "the reader took more or fewer bytes than it should";
        }
        at += taken;
        if (!reader.Whole) {
            continue;
        }
        size_t text = strnlen(reader.Text, ReplySize);
        if (text == ReplySize) {
            return "a reply's text has no end";
        }
        for (size_t i = 0; i < text; i++) {
            if ((BYTE)reader.Text[i] < 0x20) {
                return "a reply's text holds a control byte";
            }
        }
        if (reader.Code && (reader.Code < 200 || reader.Code > 599)) {
            return "a reply has a code no reply has";
        }
        out->Codes[out->Count] = reader.Code;
        out->Extensions[out->Count] = reader.Extensions;
        memcpy(out->Texts[out->Count++], reader.Text, text + 1);
        StartReply(&reader);
    }
    return NULL;
}

} // namespace

const char *ExerciseSmtpReplies(const BYTE *data, DWORD size) {
    static Replies whole, split;
    InputCursor in = {data, size};
    DWORD piece = 1 + TakeByte(&in) % 23;
    const char *fault = ReadReplies(in.Data, in.Left, in.Left ? in.Left : 1, &whole);
    if (!fault) {
        fault = ReadReplies(in.Data, in.Left, piece, &split);
    }
    if (fault) {
        return fault;
    }
    if (whole.Count != split.Count) {
        return "split otherwise, the bytes gave another number of replies";
    }
    for (int i = 0; i < whole.Count; i++) {
        if (whole.Codes[i] != split.Codes[i] || whole.Extensions[i] != split.Extensions[i] ||
            strcmp(whole.Texts[i], split.Texts[i]) != 0) {
            return "split otherwise, the bytes gave another reply";
        }
    }
    return NULL;
}
