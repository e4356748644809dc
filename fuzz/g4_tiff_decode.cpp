// The reference decoder of the Group 4 round trip: libtiff, reading the code
// as the one strip of a bilevel TIFF held in memory.
#include "fuzz/exercise.h"

#include <stdlib.h>
#include <string.h>
#include <tiffio.h>

namespace {

struct MemoryTiff {
    BYTE *Bytes;
    toff_t Size;
    toff_t Position;
};

tsize_t ReadTiff(thandle_t handle, tdata_t out, tsize_t size) {
    MemoryTiff *tiff = (MemoryTiff *)handle;
    toff_t left = tiff->Size > tiff->Position ? tiff->Size - tiff->Position : 0;
    tsize_t count = (toff_t)size < left ? size : (tsize_t)left;
    memcpy(out, tiff->Bytes + tiff->Position, count);
    tiff->Position += count;
    return count;
}

tsize_t WriteTiff(thandle_t, tdata_t, tsize_t) {
    return 0;
}

toff_t SeekTiff(thandle_t handle, toff_t offset, int whence) {
    MemoryTiff *tiff = (MemoryTiff *)handle;
    tiff->Position = whence == SEEK_SET   ? offset
                     : whence == SEEK_CUR ? tiff->Position + offset
                                          : tiff->Size + offset;
    return tiff->Position;
}

int CloseTiff(thandle_t) {
    return 0;
}

toff_t TiffSize(thandle_t handle) {
    return ((MemoryTiff *)handle)->Size;
}

void PutValue(BYTE *at, DWORD value, int bytes) {
    for (int i = 0; i < bytes; i++) {
        at[i] = (BYTE)(value >> (8 * i));
    }
}

} // namespace

int DecodeG4Reference(const BYTE *code, DWORD size, LONG width, LONG height, BYTE *rows) {
    // Header, then an IFD of eight entries (1 = black: WhiteIsZero), then the strip.
    const WORD Tags[8][2] = {{256, 4}, {257, 4}, {258, 3}, {259, 3},
                             {262, 3}, {273, 4}, {278, 4}, {279, 4}};
    const DWORD ifd = 8, strip = ifd + 2 + 8 * 12 + 4;
    const DWORD values[8] = {(DWORD)width, (DWORD)height, 1, 4, 0, strip, (DWORD)height, size};
    MemoryTiff tiff = {(BYTE *)calloc(strip + size, 1), strip + size, 0};
    if (!tiff.Bytes) {
        return -1;
    }
    memcpy(tiff.Bytes, "II*\0", 4);
    PutValue(tiff.Bytes + 4, ifd, 4);
    PutValue(tiff.Bytes + ifd, 8, 2);
    for (int i = 0; i < 8; i++) {
        BYTE *entry = tiff.Bytes + ifd + 2 + 12 * i;
        PutValue(entry, Tags[i][0], 2);
        PutValue(entry + 2, Tags[i][1], 2);
        PutValue(entry + 4, 1, 4);
        PutValue(entry + 8, values[i], Tags[i][1] == 3 ? 2 : 4);
    }
    memcpy(tiff.Bytes + strip, code, size);
    TIFFSetErrorHandler(NULL);
    TIFFSetWarningHandler(NULL);
    TIFF *in = TIFFClientOpen("g4", "rm", &tiff, ReadTiff, WriteTiff, SeekTiff, CloseTiff, TiffSize,
                              NULL, NULL);
    tsize_t expected = (tsize_t)((width + 7) / 8) * height;
    int decoded = in && TIFFReadEncodedStrip(in, 0, rows, expected) == expected;
    if (in) {
        TIFFClose(in);
    }
    free(tiff.Bytes);
    return decoded;
}
