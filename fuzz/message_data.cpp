// A message file as the delivery agent sends it as DATA, whatever its line
// ends and dots: read in pieces, it becomes lines ended by CR LF, each
// starting dot doubled, then the line of one dot; undone as a server undoes
// it, that gives the file's lines back. What is measured of the file (8-bit
// bytes, NULs, the longest line) is what the lines hold.
//
// Input: a byte choosing the size of the pieces, then the file.
#include "fuzz/exercise.h"

#include <stdlib.h>
#include <string.h>

#include "smtp_reply.h"

namespace {

// The file's lines, each ended by CR LF: a CR LF, a lone CR or a lone LF
// ends a line; a last line without an end gets one. Returns the length.
DWORD Lines(const BYTE *in, DWORD length, BYTE *out, DWORD *longest) {
    DWORD used = 0, line = 0;
    *longest = 0;
    for (DWORD i = 0; i < length; i++) {
        if (in[i] == '\r' || in[i] == '\n') {
            i += in[i] == '\r' && i + 1 < length && in[i + 1] == '\n';
            out[used++] = '\r';
            out[used++] = '\n';
            line = 0;
            continue;
        }
        out[used++] = in[i];
        *longest = ++line > *longest ? line : *longest;
    }
    if (line) {
        out[used++] = '\r';
        out[used++] = '\n';
    }
    return used;
}

} // namespace

const char *ExerciseMessageData(const BYTE *data, DWORD size) {
    InputCursor in = {data, size};
    DWORD piece = 1 + TakeByte(&in) % 37;
    BYTE *sent = (BYTE *)malloc(2 * in.Left + 16), *expected = (BYTE *)malloc(2 * in.Left + 4);
    char *out = (char *)malloc(2 * piece + 8);
    const char *fault = NULL;
    DataEncoder encoder;
    DataFacts facts = {};
    StartData(&encoder);
    DWORD used = 0;
    for (DWORD at = 0; at < in.Left; at += piece) {
        DWORD part = in.Left - at < piece ? in.Left - at : piece;
        DWORD written = EncodeData(&encoder, (const char *)in.Data + at, part, out);
        if (written > 2 * part + 2) {
            fault = "a piece grew past the room it is given";
        }
        memcpy(sent + used, out, written);
        used += written;
        MeasureData(&facts, (const char *)in.Data + at, part);
    }
    DWORD end = EndData(&encoder, out);
    memcpy(sent + used, out, end);
    used += end;
    // Undone as a server undoes it: up to the line of one dot, a doubled dot halved.
    DWORD longest = 0, length = Lines(in.Data, in.Left, expected, &longest), read = 0, line = 0;
    for (DWORD i = 0; !fault && i < used; i = line) {
        const BYTE *lf = (const BYTE *)memchr(sent + i, '\n', used - i);
        if (!lf || lf == sent + i || lf[-1] != '\r') {
            fault = "a line does not end with CR LF";
            break;
        }
        line = (DWORD)(lf - sent) + 1;
        if (memchr(sent + i, '\r', line - i - 2) || memchr(sent + i, '\n', line - i - 2)) {
            fault = "a CR or LF is sent alone";
        } else if (line - i == 3 && sent[i] == '.') {
            fault = line == used ? NULL : "a line of one dot ends the data early";
            if (!fault && read != length) {
                fault = "the data ends before the file does";
            }
            break;
        } else {
            DWORD skip = sent[i] == '.';
            if (skip && (line - i < 4 || sent[i + 1] != '.')) {
                fault = "a starting dot is not doubled";
            } else if (read + line - i - skip > length ||
                       memcmp(expected + read, sent + i + skip, line - i - skip) != 0) {
                fault = "a line arrives changed";
            }
            read += line - i - skip;
        }
    }
    int eightBit = 0, nul = 0;
    for (DWORD i = 0; i < in.Left; i++) {
        eightBit |= in.Data[i] >= 0x80;
        nul |= in.Data[i] == 0;
    }
    if (!fault && (facts.LongestLine != longest || facts.Size != in.Left ||
                   facts.EightBit != eightBit || facts.Nul != nul)) {
        fault = "what was measured is not what the file holds";
    }
    // Bytes said to be DATA already are sent as they are, then the end.
    if (!fault && InDataForm(&facts) &&
        (used != in.Left + 3 || memcmp(sent, in.Data, in.Left) != 0)) {
        fault = "bytes said to need no encoding would have been changed";
    }
    free(out);
    free(expected);
    free(sent);
    return fault;
}
