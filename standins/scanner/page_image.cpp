#include "page_image.h"
#include <stdlib.h>
#include <string.h>

namespace {

const DWORD HeaderBytes = 2048;      // BMP headers with a full palette and any PNM header fit
const DWORD ChunkTarget = 64 * 1024; // read-ahead: few file reads, little memory

DWORD ReadU32(const BYTE *p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | ((DWORD)p[3] << 24);
}
WORD ReadU16(const BYTE *p) {
    return (WORD)(p[0] | (p[1] << 8));
}

void PutU32(BYTE *p, DWORD v) {
    for (int i = 0; i < 4; i++)
        p[i] = (BYTE)(v >> (8 * i));
}

// A resolution outside the range of real pages is a damaged field: the usual 300 is taken.
LONG DpiFromPelsPerMeter(LONG ppm) {
    LONGLONG dpi = ((LONGLONG)ppm * 254 + 5000) / 10000;
    return dpi >= 50 && dpi <= 2400 ? (LONG)dpi : 300;
}

// Bytes of a row of width pixels, padded to a multiple of align bytes; in 64
// bits, so that a damaged width cannot wrap it.
LONGLONG RowBytes(LONGLONG width, int bitsPerPixel, int align) {
    return (width * bitsPerPixel + 8 * align - 1) / (8 * align) * align;
}

// 1 when a page of these sides has rows a 32-bit process can hold and every
// stored row ends within 32-bit file offsets.
int PageFits(LONGLONG width, LONGLONG height, LONGLONG stride, DWORD dataOffset) {
    return width > 0 && height > 0 && width <= PageSideLimit && height <= PageSideLimit &&
           dataOffset + stride * height <= 0xFFFFFFFF;
}

int ReadAt(HANDLE file, DWORD offset, void *buffer, DWORD size, DWORD *got) {
    if (SetFilePointer(file, (LONG)offset, NULL, FILE_BEGIN) == INVALID_SET_FILE_POINTER)
        return 0;
    return ReadFile(file, buffer, size, got, NULL) ? 1 : 0;
}

int ParseBmp(PageImage *page, const BYTE *head, DWORD got) {
    if (got < 54 || head[0] != 'B' || head[1] != 'M')
        return 0;
    DWORD infoSize = ReadU32(head + 14);
    LONG width = (LONG)ReadU32(head + 18);
    LONG height = (LONG)ReadU32(head + 22);
    int bits = ReadU16(head + 28);
    DWORD compression = ReadU32(head + 30);
    if (infoSize < 40 || infoSize > 124 || ReadU16(head + 26) != 1)
        return 0;
    if (bits != 1 && bits != 4 && bits != 8 && bits != 24 && bits != 32)
        return 0;
    // Bit fields are accepted only when they describe the plain B,G,R,unused layout;
    // they follow the 40-byte header or end a longer one, at bytes 54 to 66.
    int plainFields = bits == 32 && got >= 66 && ReadU32(head + 54) == 0xFF0000 &&
                      ReadU32(head + 58) == 0xFF00 && ReadU32(head + 62) == 0xFF;
    if (compression != BI_RGB && !(compression == BI_BITFIELDS && plainFields))
        return 0;
    LONGLONG rows = height < 0 ? -(LONGLONG)height : height;
    DWORD dataOffset = ReadU32(head + 10);
    if (!PageFits(width, rows, RowBytes(width, bits, 4), dataOffset))
        return 0;
    page->Width = width;
    page->Height = (LONG)rows;
    page->BottomUp = height > 0;
    page->ResolutionX = DpiFromPelsPerMeter((LONG)ReadU32(head + 38));
    page->ResolutionY = DpiFromPelsPerMeter((LONG)ReadU32(head + 42));
    page->StoredBits = bits;
    page->DataOffset = dataOffset;
    page->Stride = DibStride(width, bits);
    if (bits <= 8) {
        DWORD colours = ReadU32(head + 46);
        if (colours == 0 || colours > (1u << bits))
            colours = 1u << bits;
        DWORD at = 14 + infoSize;
        if (at + colours * 4 > got)
            return 0;
        memcpy(page->Palette, head + at, colours * 4);
    }
    return 1;
}

// Next header token of a PNM file; skips blanks and comments. Returns the position after it.
const char *PnmToken(const char *p, const char *end, long *value) {
    while (p < end) {
        if (*p == '#') {
            while (p < end && *p != '\n')
                p++;
        } else if (*p == ' ' || *p == '\t' || *p == '\r' || *p == '\n') {
            p++;
        } else {
            break;
        }
    }
    if (p >= end || *p < '0' || *p > '9')
        return NULL;
    *value = 0;
    while (p < end && *p >= '0' && *p <= '9' && *value < 1000000)
        *value = *value * 10 + (*p++ - '0');
    return p;
}

void SetGrey(RGBQUAD *entry, BYTE level) {
    entry->rgbBlue = entry->rgbGreen = entry->rgbRed = level;
    entry->rgbReserved = 0;
}

BYTE *PixelAt(BYTE *rows, LONG width, LONG x, LONG y) {
    return rows + ((size_t)y * width + x) * 3;
}

// ASCII PNM: every sample is a text number (P1: each 0/1 character is a pixel).
int DecodeAsciiPnm(PageImage *page, int kind, const char *p, const char *end) {
    if ((LONGLONG)page->Width * page->Height > AsciiPagePixelLimit)
        return 0;
    page->Whole = (BYTE *)malloc((size_t)page->Width * page->Height * 3);
    if (!page->Whole)
        return 0;
    for (LONG y = 0; y < page->Height; y++) {
        for (LONG x = 0; x < page->Width; x++) {
            BYTE *out = PixelAt(page->Whole, page->Width, x, y);
            long sample[3] = {0, 0, 0};
            if (kind == 1) {
                while (p < end && *p != '0' && *p != '1')
                    p++;
                if (p >= end)
                    return 0;
                out[0] = out[1] = out[2] = *p++ == '1' ? 0 : 255;
                continue;
            }
            for (int c = 0; c < (kind == 3 ? 3 : 1); c++) {
                p = PnmToken(p, end, &sample[c]);
                if (!p)
                    return 0;
            }
            if (kind == 2)
                sample[1] = sample[2] = sample[0];
            out[0] = page->Levels[sample[2] > 255 ? 255 : sample[2]];
            out[1] = page->Levels[sample[1] > 255 ? 255 : sample[1]];
            out[2] = page->Levels[sample[0] > 255 ? 255 : sample[0]];
        }
    }
    return 1;
}

int ParsePnm(PageImage *page, const BYTE *head, DWORD got) {
    if (got < 3 || head[0] != 'P' || head[1] < '1' || head[1] > '6')
        return 0;
    int kind = head[1] - '0';
    const char *p = (const char *)head + 2, *end = (const char *)head + got;
    long width, height, maximum = 1;
    p = PnmToken(p, end, &width);
    if (p)
        p = PnmToken(p, end, &height);
    if (p && kind != 1 && kind != 4)
        p = PnmToken(p, end, &maximum);
    if (!p || p >= end || maximum < 1 || maximum > 255)
        return 0;
    // Binary rows are whole bytes; the text forms are held as 24-bit rows.
    int bits = kind == 4 ? 1 : kind == 5 ? 8 : 24;
    LONGLONG stride = RowBytes(width, bits, 1);
    DWORD dataOffset = (DWORD)(p + 1 - (const char *)head); // one blank ends the header
    if (!PageFits(width, height, stride, dataOffset))
        return 0;
    page->Width = width;
    page->Height = height;
    page->ResolutionX = page->ResolutionY = 300;
    for (int i = 0; i < 256; i++)
        page->Levels[i] = (BYTE)(i >= maximum ? 255 : (i * 255 + maximum / 2) / maximum);
    page->DataOffset = dataOffset;
    page->StoredBits = bits;
    page->Stride = (DWORD)stride;
    if (kind == 4) {
        SetGrey(&page->Palette[0], 255); // a set bit is black
        SetGrey(&page->Palette[1], 0);
    } else if (kind == 5) {
        for (int i = 0; i < 256; i++)
            SetGrey(&page->Palette[i], page->Levels[i]);
    } else if (kind == 6) {
        page->RgbOrder = 1;
    } else {
        // Text samples have no fixed stride: the page is decoded whole (small test pages).
        DWORD size = GetFileSize(page->File, NULL);
        char *text = (char *)malloc(size ? size : 1);
        DWORD read = 0;
        int ok = text &&
                 ReadAt(page->File, page->DataOffset, text, size - page->DataOffset, &read) &&
                 DecodeAsciiPnm(page, kind, text, text + read);
        free(text);
        return ok;
    }
    return 1;
}

// File row `row` from the read-ahead chunk, reading the chunk that holds it when needed.
// Rows are asked for top to bottom, so a bottom-up file is read ahead backwards.
const BYTE *StoredRow(PageImage *page, LONG row) {
    DWORD need = (DWORD)(page->Width * page->StoredBits + 7) / 8;
    if (page->ChunkBytes == 0 || row < page->ChunkFirst ||
        (DWORD)(row - page->ChunkFirst) * page->Stride + need > page->ChunkBytes) {
        LONG first = page->BottomUp ? row - page->ChunkRows + 1 : row;
        if (first < 0)
            first = 0;
        page->ChunkFirst = first;
        page->ChunkBytes = 0;
        if (!ReadAt(page->File, page->DataOffset + (DWORD)first * page->Stride, page->Chunk,
                    (DWORD)page->ChunkRows * page->Stride, &page->ChunkBytes))
            page->ChunkBytes = 0;
        if ((DWORD)(row - first) * page->Stride + need > page->ChunkBytes)
            return NULL; // the file ends before this row
    }
    return page->Chunk + (size_t)(row - page->ChunkFirst) * page->Stride;
}

} // namespace

DWORD DibStride(LONG width, int bitsPerPixel) {
    return (DWORD)RowBytes(width, bitsPerPixel, 4);
}

int OpenPageImage(const char *path, PageImage *page) {
    memset(page, 0, sizeof(*page));
    page->File = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                             FILE_FLAG_SEQUENTIAL_SCAN, NULL);
    if (page->File == INVALID_HANDLE_VALUE) {
        page->File = NULL;
        return 0;
    }
    BYTE head[HeaderBytes];
    DWORD got = 0;
    int ok = ReadAt(page->File, 0, head, sizeof(head), &got) &&
             (ParseBmp(page, head, got) || ParsePnm(page, head, got)) && page->Width > 0 &&
             page->Height > 0;
    if (ok && !page->Whole) {
        page->ChunkRows = (LONG)(ChunkTarget / page->Stride);
        if (page->ChunkRows < 1)
            page->ChunkRows = 1;
        page->Chunk = (BYTE *)malloc((size_t)page->ChunkRows * page->Stride);
        ok = page->Chunk != NULL;
    }
    if (!ok)
        ClosePageImage(page);
    return ok;
}

int ReadPageRow(PageImage *page, LONG y, BYTE *bgr) {
    if (y < 0 || y >= page->Height)
        return 0;
    if (page->Whole) {
        memcpy(bgr, PixelAt(page->Whole, page->Width, 0, y), (size_t)page->Width * 3);
        return 1;
    }
    const BYTE *s = StoredRow(page, page->BottomUp ? page->Height - 1 - y : y);
    if (!s)
        return 0;
    LONG w = page->Width;
    switch (page->StoredBits) {
    case 32:
        for (LONG x = 0; x < w; x++, s += 4, bgr += 3)
            bgr[0] = s[0], bgr[1] = s[1], bgr[2] = s[2];
        break;
    case 24:
        if (!page->RgbOrder) {
            memcpy(bgr, s, (size_t)w * 3);
            break;
        }
        for (LONG x = 0; x < w; x++, s += 3, bgr += 3) {
            bgr[0] = page->Levels[s[2]];
            bgr[1] = page->Levels[s[1]];
            bgr[2] = page->Levels[s[0]];
        }
        break;
    default: {
        int bits = page->StoredBits, perByte = 8 / bits, mask = (1 << bits) - 1;
        for (LONG x = 0; x < w; x++, bgr += 3) {
            int shift = (perByte - 1 - (int)(x % perByte)) * bits;
            const RGBQUAD *c = &page->Palette[(s[x / perByte] >> shift) & mask];
            bgr[0] = c->rgbBlue, bgr[1] = c->rgbGreen, bgr[2] = c->rgbRed;
        }
    }
    }
    return 1;
}

void ClosePageImage(PageImage *page) {
    if (page->File)
        CloseHandle(page->File);
    free(page->Whole);
    free(page->Chunk);
    memset(page, 0, sizeof(*page));
}

int WriteBmpFile(const char *path, const RasterImage *image) {
    int bits = image->BitsPerPixel;
    if (bits != 1 && bits != 8 && bits != 24 && bits != 32)
        return 0;
    DWORD colours = bits == 1 ? 2 : bits == 8 ? 256 : 0;
    DWORD stride = DibStride(image->Width, bits);
    DWORD offset = 14 + 40 + colours * 4;
    BYTE head[14 + 40 + 256 * 4] = {0};
    head[0] = 'B';
    head[1] = 'M';
    PutU32(head + 2, offset + stride * (DWORD)image->Height);
    PutU32(head + 10, offset);
    PutU32(head + 14, 40);
    PutU32(head + 18, (DWORD)image->Width);
    PutU32(head + 22, (DWORD)(image->TopDown ? -image->Height : image->Height));
    head[26] = 1;
    head[28] = (BYTE)bits;
    PutU32(head + 34, stride * (DWORD)image->Height);
    DWORD ppm = (DWORD)(image->Dpi * 10000 + 127) / 254;
    PutU32(head + 38, ppm);
    PutU32(head + 42, ppm);
    PutU32(head + 46, colours);
    for (DWORD i = 0; i < colours; i++) {
        BYTE level = (BYTE)(bits == 1 ? i * 255 : i);
        memset(head + 54 + i * 4, level, 3);
    }
    HANDLE file =
        CreateFileA(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return 0;
    BYTE *row = (BYTE *)calloc(stride, 1);
    DWORD written = 0, used = (DWORD)(image->Width * bits + 7) / 8;
    int ok = row && WriteFile(file, head, offset, &written, NULL) && written == offset;
    for (LONG i = 0; ok && i < image->Height; i++) {
        LONG y = image->TopDown ? i : image->Height - 1 - i;
        memcpy(row, image->Pixels + (size_t)y * image->Stride, used);
        ok = WriteFile(file, row, stride, &written, NULL) && written == stride;
    }
    free(row);
    CloseHandle(file);
    return ok;
}
