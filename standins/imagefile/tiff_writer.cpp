// TIFF of a 1-bit page: header and directory first, then the Group 4 strip as
// the coder makes it; the strip's byte count is filled in at the end.
#include "g4_encode.h"
#include "image_writers.h"

namespace {

enum TiffType : WORD { TiffShort = 3, TiffLong = 4, TiffRational = 5 };

// The directory holds at most this many entries.
const int MaxTags = 14;

struct TiffHead {
    BYTE Bytes[8 + 2 + MaxTags * 12 + 4 + 16]; // header, directory, two resolutions
    DWORD Used;                                // bytes in front of the strip
    WORD Tags;                                 // directory entries so far
};

void PutLe(BYTE *at, DWORD value, int bytes) {
    for (int i = 0; i < bytes; i++)
        at[i] = (BYTE)(value >> (8 * i));
}

void AddTag(TiffHead *head, WORD tag, WORD type, DWORD value) {
    BYTE *entry = head->Bytes + 10 + head->Tags * 12;
    PutLe(entry, tag, 2);
    PutLe(entry + 2, type, 2);
    PutLe(entry + 4, 1, 4);
    PutLe(entry + 8, value, type == TiffShort ? 2 : 4);
    head->Tags++;
}

// Lays out header, directory and resolutions; the strip follows at head->Used.
// countOffset receives where the strip's byte count goes.
void BuildHead(TiffHead *head, const BITMAPINFOHEADER *header, DWORD *countOffset) {
    ZeroMemory(head, sizeof *head);
    BYTE *b = head->Bytes;
    b[0] = b[1] = 'I';
    PutLe(b + 2, 42, 2);
    PutLe(b + 4, 8, 4);
    bool resolution = header->biXPelsPerMeter > 0 && header->biYPelsPerMeter > 0;
    WORD tags = resolution ? MaxTags : MaxTags - 3;
    DWORD rationals = 10 + tags * 12 + 4;
    DWORD data = rationals + (resolution ? 16 : 0);
    AddTag(head, 256, TiffLong, (DWORD)header->biWidth);
    AddTag(head, 257, TiffLong, (DWORD)header->biHeight);
    AddTag(head, 258, TiffShort, 1);   // BitsPerSample
    AddTag(head, 259, TiffShort, 4);   // Compression: CCITT T.6
    AddTag(head, 262, TiffShort, 0);   // PhotometricInterpretation: WhiteIsZero
    AddTag(head, 266, TiffShort, 1);   // FillOrder: first pixel in the high bit
    AddTag(head, 273, TiffLong, data); // StripOffsets
    AddTag(head, 277, TiffShort, 1);   // SamplesPerPixel
    AddTag(head, 278, TiffLong, (DWORD)header->biHeight);
    *countOffset = 10 + head->Tags * 12 + 8;
    AddTag(head, 279, TiffLong, 0); // StripByteCounts, patched at the end
    if (resolution) {
        AddTag(head, 282, TiffRational, rationals);
        AddTag(head, 283, TiffRational, rationals + 8);
    }
    AddTag(head, 293, TiffLong, 0); // T6Options: no uncompressed mode
    if (resolution)
        AddTag(head, 296, TiffShort, 2); // ResolutionUnit: inch
    PutLe(b + 8, head->Tags, 2);
    PutLe(b + 10 + head->Tags * 12, 0, 4); // no further directory
    if (resolution) {
        PutLe(b + rationals, (DWORD)header->biXPelsPerMeter, 4);
        PutLe(b + rationals + 4, 1, 4);
        PutLe(b + rationals + 8, (DWORD)header->biYPelsPerMeter, 4);
        PutLe(b + rationals + 12, 1, 4);
    }
    head->Used = data;
}

// The darker of the two palette entries marks black (on the scanner's pages
// entry 0 is black, so bit 1 is white).
BYTE InkBit(const BITMAPINFOHEADER *header) {
    const RGBQUAD *palette = (const RGBQUAD *)((const BYTE *)header + header->biSize);
    int dark0 = palette[0].rgbRed + palette[0].rgbGreen + palette[0].rgbBlue;
    int dark1 = palette[1].rgbRed + palette[1].rgbGreen + palette[1].rgbBlue;
    return dark1 < dark0 ? 1 : 0;
}

int WriteToFile(void *context, const BYTE *bytes, DWORD count) {
    return WriteBytes((HANDLE)context, bytes, count);
}

} // namespace

int WriteTiffG4(HANDLE file, const BITMAPINFOHEADER *header, ImageLineProc callback, void *source) {
    if (header->biBitCount != 1)
        return ImageBadArguments;
    TiffHead head;
    DWORD countOffset = 0;
    BuildHead(&head, header, &countOffset);
    if (!WriteBytes(file, head.Bytes, head.Used))
        return ImageWriteFailed;
    BYTE *line = (BYTE *)HeapAlloc(GetProcessHeap(), 0, RowBytes(header));
    G4Coder coder;
    if (!line || !G4Begin(&coder, header->biWidth, InkBit(header), WriteToFile, file)) {
        if (line)
            HeapFree(GetProcessHeap(), 0, line);
        return ImageNoMemory;
    }
    int result = ImageWritten;
    for (LONG y = 0; y < header->biHeight && result == ImageWritten; y++) {
        if (callback(source, line, (int)y) < 0)
            result = ImageLineRefused;
        else if (!G4EncodeLine(&coder, line))
            result = ImageWriteFailed;
    }
    if (result == ImageWritten && !G4Finish(&coder))
        result = ImageWriteFailed;
    if (result == ImageWritten) {
        BYTE count[4];
        PutLe(count, coder.BytesOut, 4);
        if (!WriteBytesAt(file, countOffset, count, 4))
            result = ImageWriteFailed;
    }
    G4End(&coder);
    HeapFree(GetProcessHeap(), 0, line);
    return result;
}
