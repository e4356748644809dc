// The Group 4 coder on any lines: it takes every line of a usual width and
// codes it so that another decoder gives the same pixels back; a width whose
// line buffers would pass 4 GiB is refused.
//
// Input: two bytes of width (the top bit asks for such a huge width
// instead), an ink bit and a line count, then the lines' bytes.
#include "fuzz/exercise.h"
#include "g4_encode.h"

#include <stdlib.h>
#include <string.h>

namespace {

enum : LONG { WidestTried = 4096, MostLines = 64 };

// The code bytes as they come out of the coder.
struct CodeBytes {
    BYTE *Bytes;
    DWORD Size;
    DWORD Capacity;
};

int Collect(void *context, const BYTE *bytes, DWORD count) {
    CodeBytes *code = (CodeBytes *)context;
    if (code->Size + count > code->Capacity) {
        DWORD capacity = (code->Size + count) * 2;
        BYTE *grown = (BYTE *)realloc(code->Bytes, capacity);
        if (!grown) {
            return 0;
        }
        code->Bytes = grown;
        code->Capacity = capacity;
    }
    memcpy(code->Bytes + code->Size, bytes, count);
    code->Size += count;
    return 1;
}

// Codes the lines, decodes them again and compares the pixels (1 = black).
const char *RoundTrip(LONG width, BYTE inkBit, LONG lines, const BYTE *pixels) {
    const LONG rowBytes = (width + 7) / 8;
    CodeBytes code = {NULL, 0, 0};
    G4Coder coder;
    if (!G4Begin(&coder, width, inkBit, Collect, &code)) {
        return "the coder refused a usual width";
    }
    const char *fault = NULL;
    BYTE *line = (BYTE *)malloc(rowBytes);
    for (LONG y = 0; y < lines && !fault && line; y++) {
        for (LONG b = 0; b < rowBytes; b++) {
            line[b] = inkBit ? pixels[y * rowBytes + b] : (BYTE)~pixels[y * rowBytes + b];
        }
        if (!G4EncodeLine(&coder, line)) {
            fault = "the coder refused a line";
        }
    }
    if (!fault && line && !G4Finish(&coder)) {
        fault = "the coder could not finish";
    }
    G4End(&coder);
    BYTE *decoded = (BYTE *)calloc((size_t)rowBytes * lines, 1);
    int result =
        fault || !decoded ? -1 : DecodeG4Reference(code.Bytes, code.Size, width, lines, decoded);
    if (result == 0) {
        fault = "the reference decoder refused the code";
    }
    // Bits past the width are not part of the image.
    BYTE lastMask = (BYTE)(0xFF << (rowBytes * 8 - width));
    for (LONG y = 0; result == 1 && !fault && y < lines; y++) {
        for (LONG b = 0; b < rowBytes; b++) {
            BYTE mask = b == rowBytes - 1 ? lastMask : 0xFF;
            if ((decoded[y * rowBytes + b] ^ pixels[y * rowBytes + b]) & mask) {
                fault = "the decoded pixels differ from the coded ones";
                break;
            }
        }
    }
    free(decoded);
    free(line);
    free(code.Bytes);
    return fault;
}

} // namespace

const char *ExerciseG4Coder(const BYTE *data, DWORD size) {
    InputCursor in = {data, size};
    DWORD choice = (DWORD)TakeByte(&in) << 8 | TakeByte(&in);
    BYTE inkBit = TakeByte(&in) & 1;
    if (choice & 0x8000) {
        // From 2^30 - 4 pixels to the largest width.
        LONG width = (LONG)(0x3FFFFFFC + (choice & 0x7FFF) * 0x8000);
        G4Coder coder;
        int begun = G4Begin(&coder, width, inkBit, Collect, NULL);
        G4End(&coder);
        return begun ? "a width whose line buffers pass 4 GiB was taken" : NULL;
    }
    LONG width = (LONG)(choice % WidestTried) + 1;
    LONG lines = TakeByte(&in) % MostLines + 1;
    const LONG rowBytes = (width + 7) / 8;
    BYTE *pixels = (BYTE *)calloc((size_t)rowBytes * lines, 1);
    if (!pixels) {
        return NULL;
    }
    for (LONG i = 0; i < rowBytes * lines && in.Left; i++) {
        pixels[i] = TakeByte(&in);
    }
    const char *fault = RoundTrip(width, inkBit, lines, pixels);
    free(pixels);
    return fault;
}
