// The JPEG reader of the PDF writer. A JPEG goes into the document as its
// file holds it, so every segment and scan of the file is checked here as a
// decoder will meet it: the tables a scan uses defined and well formed, the
// scans' components and progression possible, no marker a decoder gives up
// on, the end where the file ends. Damage inside a scan's coded data only
// spoils pixels, which decoders tolerate.
#include "fax/pdf_pages.h"

namespace {

enum : DWORD { ReadBlock = 64 * 1024, SegmentMax = 65535, MostSide = 65500 };
const double CentimetresPerInch = 2.54;

// The file read front to back.
struct ByteReader {
    HANDLE File;
    DWORD Held, At; // bytes in Block, the next one to take
    BYTE Block[ReadBlock];
};

int NextByte(ByteReader *r, BYTE *b) {
    if (r->At == r->Held) {
        if (!ReadFile(r->File, r->Block, ReadBlock, &r->Held, NULL) || r->Held == 0) {
            r->Held = r->At = 0;
            return 0;
        }
        r->At = 0;
    }
    *b = r->Block[r->At++];
    return 1;
}

int NextBytes(ByteReader *r, BYTE *out, DWORD count) {
    for (DWORD i = 0; i < count; i++) {
        if (!NextByte(r, out + i)) {
            return 0;
        }
    }
    return 1;
}

struct Component {
    BYTE Id, H, V, Quant;
};

// What the segments so far have set.
struct JpegState {
    BYTE Frame; // the frame's marker, 0 before it
    DWORD Components;
    Component Parts[3];
    BYTE MaxH, MaxV;
    BYTE Quant, Dc, Ac; // defined tables, one bit each
    DWORD Scans;
    BYTE Scanned; // baseline: the components a scan has had, one bit each
};

int TakeFrame(BYTE marker, const BYTE *p, DWORD length, JpegState *s, PdfPageImage *page) {
    if (s->Frame) {
        return PdfPageDamaged; // a second frame
    }
    if ((marker != 0xC0 && marker != 0xC2) || (length >= 1 && p[0] != 8)) {
        return PdfJpegNotDct;
    }
    if (length < 6 || length != 6 + 3 * (DWORD)p[5]) {
        return PdfPageDamaged;
    }
    if (p[5] != 1 && p[5] != 3) {
        return PdfJpegNotGreyOrRgb;
    }
    s->Frame = marker;
    s->Components = p[5];
    for (DWORD c = 0; c < s->Components; c++) {
        Component *part = &s->Parts[c];
        *part = {p[6 + 3 * c], (BYTE)(p[7 + 3 * c] >> 4), (BYTE)(p[7 + 3 * c] & 15), p[8 + 3 * c]};
        for (DWORD other = 0; other < c; other++) {
            if (s->Parts[other].Id == part->Id) {
                return PdfPageDamaged;
            }
        }
        if (part->H < 1 || part->H > 4 || part->V < 1 || part->V > 4 || part->Quant > 3) {
            return PdfPageDamaged;
        }
        s->MaxH = part->H > s->MaxH ? part->H : s->MaxH;
        s->MaxV = part->V > s->MaxV ? part->V : s->MaxV;
    }
    for (DWORD c = 0; c < s->Components; c++) {
        // Decoders scale a component by whole factors only.
        if (s->MaxH % s->Parts[c].H || s->MaxV % s->Parts[c].V) {
            return PdfPageDamaged;
        }
    }
    page->Height = (DWORD)p[1] << 8 | p[2];
    page->Width = (DWORD)p[3] << 8 | p[4];
    page->Components = (WORD)s->Components;
    // A height given only after the scan is not for a document's image.
    return page->Width && page->Height && page->Width <= MostSide && page->Height <= MostSide
               ? 0
               : (int)PdfPageDamaged;
}

// Huffman tables: each a class and number, sixteen counts of codes by length
// that leave room for them all, and their symbols (a DC symbol at most 15).
int TakeHuffman(const BYTE *p, DWORD length, JpegState *s) {
    while (length) {
        if (length < 17 || (p[0] >> 4) > 1 || (p[0] & 15) > 3) {
            return PdfPageDamaged;
        }
        DWORD count = 0, code = 0;
        for (int bits = 1; bits <= 16; bits++) {
            count += p[bits];
            code += p[bits];
            if (count && code >= 1u << bits) {
                return PdfPageDamaged;
            }
            code <<= 1;
        }
        if (count > 256 || count > length - 17) {
            return PdfPageDamaged;
        }
        for (DWORD i = 0; i < count && (p[0] >> 4) == 0; i++) {
            if (p[17 + i] > 15) {
                return PdfPageDamaged;
            }
        }
        BYTE *defined = (p[0] >> 4) ? &s->Ac : &s->Dc;
        *defined |= (BYTE)(1 << (p[0] & 15));
        p += 17 + count;
        length -= 17 + count;
    }
    return 0;
}

// Quantization tables of 64 values of 8 or 16 bits.
int TakeQuantization(const BYTE *p, DWORD length, JpegState *s) {
    while (length) {
        DWORD size = 1 + 64 * ((p[0] >> 4) + 1);
        if ((p[0] >> 4) > 1 || (p[0] & 15) > 3 || length < size) {
            return PdfPageDamaged;
        }
        s->Quant |= (BYTE)(1 << (p[0] & 15));
        p += size;
        length -= size;
    }
    return 0;
}

// A scan's header: its components each once, with their tables, and a
// spectral selection and approximation a decoder of the frame's kind takes.
int TakeScan(const BYTE *p, DWORD length, JpegState *s) {
    if (!s->Frame || length < 1 || p[0] < 1 || p[0] > s->Components ||
        length != 4 + 2 * (DWORD)p[0]) {
        return PdfPageDamaged;
    }
    DWORD count = p[0], blocks = 0;
    BYTE start = p[1 + 2 * count], end = p[2 + 2 * count];
    BYTE high = p[3 + 2 * count] >> 4, low = p[3 + 2 * count] & 15;
    int progressive = s->Frame == 0xC2, dc = start == 0;
    if (progressive && ((dc && end != 0) || (!dc && (start > end || end > 63 || count != 1)) ||
                        (high && low != high - 1) || low > 13)) {
        return PdfPageDamaged;
    }
    BYTE seen = 0;
    for (DWORD i = 0; i < count; i++) {
        BYTE id = p[1 + 2 * i], dcTable = p[2 + 2 * i] >> 4, acTable = p[2 + 2 * i] & 15;
        DWORD c = 0;
        while (c < s->Components && s->Parts[c].Id != id) {
            c++;
        }
        if (c == s->Components || (seen & (1 << c)) || dcTable > 3 || acTable > 3) {
            return PdfPageDamaged;
        }
        seen |= (BYTE)(1 << c);
        blocks += s->Parts[c].H * s->Parts[c].V;
        int needsDc = !progressive || (dc && high == 0), needsAc = !progressive || !dc;
        if (!(s->Quant & (1 << s->Parts[c].Quant)) || (needsDc && !(s->Dc & (1 << dcTable))) ||
            (needsAc && !(s->Ac & (1 << acTable)))) {
            return PdfPageDamaged;
        }
    }
    // A baseline image has each component in one scan, and ends when all have been.
    if (!progressive && (seen & s->Scanned)) {
        return PdfPageDamaged;
    }
    s->Scanned |= seen;
    // Decoders hold at most ten blocks for one unit of an interleaved scan.
    return count > 1 && blocks > 10 ? (int)PdfPageDamaged : 0;
}

// The coded data of a scan, up to the marker that ends it (into marker).
int SkipCodedData(ByteReader *r, BYTE *marker) {
    BYTE b;
    while (NextByte(r, &b)) {
        if (b != 0xFF) {
            // Straight on to the next 0xFF of the block.
            const BYTE *found = (const BYTE *)memchr(r->Block + r->At, 0xFF, r->Held - r->At);
            r->At = found ? (DWORD)(found - r->Block) : r->Held;
            continue;
        }
        do {
            if (!NextByte(r, &b)) {
                return 0;
            }
        } while (b == 0xFF);
        if (b != 0x00 && (b < 0xD0 || b > 0xD7)) {
            *marker = b;
            return 1;
        }
    }
    return 0;
}

// The JFIF density, where it is given in dots per inch or centimetre; a JFIF
// version other than 1 or 2 is refused.
int TakeDensity(const BYTE *p, DWORD length, PdfPageImage *page) {
    if (length >= 12 && memcmp(p, "JFIF", 5) == 0 && p[5] != 1 && p[5] != 2) {
        return PdfPageDamaged;
    }
    if (length >= 12 && memcmp(p, "JFIF", 5) == 0 && (p[7] == 1 || p[7] == 2)) {
        double perInch = p[7] == 2 ? CentimetresPerInch : 1.0;
        page->DotsX = ((DWORD)p[8] << 8 | p[9]) * perInch;
        page->DotsY = ((DWORD)p[10] << 8 | p[11]) * perInch;
    }
    return 0;
}

// One segment or scan from its marker on: 0, or the refusal. At the end of
// the image *done is set.
int TakeSegment(ByteReader *r, BYTE marker, BYTE *segment, JpegState *s, PdfPageImage *page,
                BYTE *next, int *done) {
    if (marker == 0xD9) { // the end: after a scan, and the file's last bytes
        BYTE after;
        *done = 1;
        return s->Scans && !NextByte(r, &after) ? 0 : (int)PdfPageDamaged;
    }
    if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) {
        return 0; // standalone markers that decoders pass over
    }
    int frame =
        marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
    int known = frame || marker == 0xC4 || marker == 0xDB || marker == 0xDA || marker == 0xDD ||
                marker == 0xFE || (marker >= 0xE0 && marker <= 0xEF);
    if (!known) { // arithmetic conditioning, hierarchy, DNL or reserved
        return marker == 0xC8 || marker == 0xCC || marker == 0xDE || marker == 0xDF
                   ? (int)PdfJpegNotDct
                   : (int)PdfPageDamaged;
    }
    BYTE head[2];
    if (!NextBytes(r, head, 2)) {
        return PdfPageDamaged;
    }
    DWORD length = (DWORD)head[0] << 8 | head[1];
    if (length < 2 || !NextBytes(r, segment, length - 2)) {
        return PdfPageDamaged;
    }
    length -= 2;
    int refusal = 0;
    if (frame) {
        refusal = TakeFrame(marker, segment, length, s, page);
    } else if (marker == 0xC4) {
        refusal = TakeHuffman(segment, length, s);
    } else if (marker == 0xDB) {
        refusal = TakeQuantization(segment, length, s);
    } else if (marker == 0xDD) {
        refusal = length == 2 ? 0 : (int)PdfPageDamaged;
    } else if (marker == 0xE0 && page->DotsX == 0) {
        refusal = TakeDensity(segment, length, page);
    } else if (marker == 0xDA) {
        refusal = TakeScan(segment, length, s);
        s->Scans++;
        if (!refusal && !SkipCodedData(r, next)) {
            refusal = PdfPageDamaged; // cut short
        }
    }
    return refusal;
}

} // namespace

int ReadJpegPage(HANDLE file, DWORD size, PdfPageImage *page) {
    ByteReader *r = (ByteReader *)HeapAlloc(GetProcessHeap(), 0, sizeof(ByteReader));
    BYTE *segment = (BYTE *)HeapAlloc(GetProcessHeap(), 0, SegmentMax);
    JpegState s = {};
    int refusal = r && segment ? 0 : (int)PdfNoMemory, done = 0;
    BYTE b = 0, marker = 0;
    if (!refusal) {
        r->File = file;
        r->Held = r->At = 0;
        refusal = SetFilePointer(file, 2, NULL, FILE_BEGIN) == 2 ? 0 : (int)PdfPageUnreadable;
    }
    while (!refusal && !done) {
        if (!marker) { // the next marker, past fill bytes
            if (!NextByte(r, &b) || b != 0xFF) {
                refusal = PdfPageDamaged;
                break;
            }
            while (NextByte(r, &b) && b == 0xFF) {
            }
            marker = b;
        }
        BYTE next = 0;
        refusal = marker == 0xFF || marker == 0x00
                      ? (int)PdfPageDamaged
                      : TakeSegment(r, marker, segment, &s, page, &next, &done);
        marker = next;
    }
    if (segment) {
        HeapFree(GetProcessHeap(), 0, segment);
    }
    if (r) {
        HeapFree(GetProcessHeap(), 0, r);
    }
    if (!refusal && (page->DotsX <= 0 || page->DotsY <= 0)) {
        refusal = PdfPageNoResolution;
    }
    page->Kind = PdfPageJpeg;
    page->DataOffset = 0;
    page->DataSize = size;
    return refusal;
}
