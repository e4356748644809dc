// The readers of the page files a PDF document is made from: the directory
// of a Group 4 TIFF here, a JPEG's segments in pdf_jpeg.cpp. They take only
// what the document needs and refuse whatever they do not expect, so that
// nothing a reader would refuse reaches the document.
#include "fax/pdf_pages.h"

namespace {

enum : DWORD { TiffMaxEntries = 1000, HeadSize = 32 * 1024 };
const double PointsPerInch = 72.0, CentimetresPerInch = 2.54;
const double SmallestSide = 3.0, LargestSide = 14400.0; // points

// A page file and its first bytes, read in one call: a text page's
// directory lies within them, and its entries then need no read of their own.
struct PageFile {
    HANDLE File;
    DWORD Held; // bytes in Head
    BYTE Head[HeadSize];
};

int ReadAt(const PageFile *file, DWORD offset, void *out, DWORD size) {
    if (offset <= file->Held && size <= file->Held - offset) {
        memcpy(out, file->Head + offset, size);
        return 1;
    }
    DWORD got = 0;
    return offset <= 0x7FFFFFFF &&
           SetFilePointer(file->File, (LONG)offset, NULL, FILE_BEGIN) == offset &&
           ReadFile(file->File, out, size, &got, NULL) && got == size;
}

DWORD Number(const BYTE *at, int bytes, int bigEndian) {
    DWORD value = 0;
    for (int i = 0; i < bytes; i++) {
        value |= (DWORD)at[bigEndian ? i : bytes - 1 - i] << (8 * (bytes - 1 - i));
    }
    return value;
}

// The TIFF directory's entries the document needs, with TIFF's defaults; a
// photometric of 2 and a strip at 0 stand for absent ones.
struct TiffFields {
    DWORD Width, Height, Bits, Samples, Compression, Photometric, FillOrder, Orientation;
    DWORD RowsPerStrip, StripOffset, StripBytes, T6Options, Unit;
    DWORD Resolution[2][2]; // x and y: numerator, denominator
};

// The field a single SHORT or LONG entry fills, or null for a tag not needed.
DWORD *ScalarField(TiffFields *f, WORD tag) {
    switch (tag) {
    case 256:
        return &f->Width;
    case 257:
        return &f->Height;
    case 258:
        return &f->Bits; // one count a sample: more samples are not black and white
    case 259:
        return &f->Compression;
    case 262:
        return &f->Photometric;
    case 266:
        return &f->FillOrder;
    case 273:
        return &f->StripOffset;
    case 274:
        return &f->Orientation;
    case 277:
        return &f->Samples;
    case 278:
        return &f->RowsPerStrip;
    case 279:
        return &f->StripBytes;
    case 293:
        return &f->T6Options;
    case 296:
        return &f->Unit;
    }
    return NULL;
}

// One directory entry into the fields: 0, or why the file is refused.
int TakeEntry(const PageFile *file, const BYTE *entry, int big, TiffFields *f) {
    WORD tag = (WORD)Number(entry, 2, big), type = (WORD)Number(entry + 2, 2, big);
    DWORD count = Number(entry + 4, 4, big);
    if (((tag == 273 || tag == 279) && count > 1) || (tag >= 322 && tag <= 325)) {
        return PdfTiffNotOneStrip; // strips or tiles
    }
    if (tag == 282 || tag == 283) {
        BYTE rational[8];
        if (type != 5 || count != 1 || !ReadAt(file, Number(entry + 8, 4, big), rational, 8)) {
            return PdfPageDamaged;
        }
        f->Resolution[tag - 282][0] = Number(rational, 4, big);
        f->Resolution[tag - 282][1] = Number(rational + 4, 4, big);
        return 0;
    }
    DWORD *field = ScalarField(f, tag);
    if (!field) {
        return 0;
    }
    // Single SHORT and LONG values lie in the entry itself.
    if (count != 1 || (type != 3 && type != 4)) {
        return tag == 258 || tag == 277 ? PdfTiffNotBilevel : PdfPageDamaged;
    }
    *field = Number(entry + 8, type == 3 ? 2 : 4, big);
    return 0;
}

int ReadTiff(const PageFile *file, DWORD size, PdfPageImage *page) {
    int big = file->Head[0] == 'M';
    DWORD directory = Number(file->Head + 4, 4, big);
    BYTE countBytes[2];
    if (!ReadAt(file, directory, countBytes, 2)) {
        return PdfPageDamaged;
    }
    DWORD entries = Number(countBytes, 2, big);
    if (entries == 0 || entries > TiffMaxEntries) {
        return PdfPageDamaged;
    }
    DWORD bytes = entries * 12 + 4;
    BYTE *table = (BYTE *)HeapAlloc(GetProcessHeap(), 0, bytes);
    if (!table) {
        return PdfNoMemory;
    }
    TiffFields f = {};
    f.Bits = f.Samples = f.Compression = f.FillOrder = f.Orientation = 1;
    f.Photometric = 2;
    f.RowsPerStrip = 0xFFFFFFFF;
    f.Unit = 2;
    int refusal = ReadAt(file, directory + 2, table, bytes) ? 0 : (int)PdfPageDamaged;
    for (DWORD i = 0; i < entries && !refusal; i++) {
        refusal = TakeEntry(file, table + i * 12, big, &f);
    }
    DWORD next = refusal ? 0 : Number(table + entries * 12, 4, big);
    HeapFree(GetProcessHeap(), 0, table);
    if (refusal) {
        return refusal;
    }
    if (next != 0 || f.RowsPerStrip < f.Height) {
        return PdfTiffNotOneStrip; // another image, or more rows than its strip holds
    }
    if (f.Compression != 4 || (f.T6Options & 2)) {
        return PdfTiffNotGroup4; // another compression, or T.6 with uncompressed runs
    }
    if (f.Width == 0 || f.Height == 0 || f.StripOffset < 8 || f.StripBytes == 0 ||
        f.StripOffset > size || f.StripBytes > size - f.StripOffset) {
        return PdfPageDamaged;
    }
    if (f.Bits != 1 || f.Samples != 1 || f.Photometric > 1 || f.FillOrder != 1 ||
        f.Orientation != 1) {
        return PdfTiffNotBilevel;
    }
    if ((f.Unit != 2 && f.Unit != 3) || !f.Resolution[0][0] || !f.Resolution[0][1] ||
        !f.Resolution[1][0] || !f.Resolution[1][1]) {
        return PdfPageNoResolution;
    }
    double perInch = f.Unit == 3 ? CentimetresPerInch : 1.0;
    page->Kind = PdfPageG4;
    page->Components = 1;
    // The code has black and white runs; a TIFF whose 0 is black shows the
    // coded white as black, which the document's decoder does with BlackIs1.
    page->BlackIs1 = f.Photometric == 1;
    page->Width = f.Width;
    page->Height = f.Height;
    page->DotsX = (double)f.Resolution[0][0] / f.Resolution[0][1] * perInch;
    page->DotsY = (double)f.Resolution[1][0] / f.Resolution[1][1] * perInch;
    page->DataOffset = f.StripOffset;
    page->DataSize = f.StripBytes;
    return 0;
}

// 1 when both sides of the page lie within what a PDF page may measure.
int SidesAllowed(const PdfPageImage *page) {
    double width = page->Width * PointsPerInch / page->DotsX;
    double height = page->Height * PointsPerInch / page->DotsY;
    return width >= SmallestSide && width <= LargestSide && height >= SmallestSide &&
           height <= LargestSide;
}

} // namespace

int ReadPageImage(HANDLE file, PdfPageImage *page) {
    ZeroMemory(page, sizeof *page);
    DWORD high = 0, size = GetFileSize(file, &high);
    if (size == INVALID_FILE_SIZE || high || size > 0x7FFFFFFF) {
        return PdfPageUnreadable;
    }
    PageFile f;
    f.File = file;
    f.Held = 0;
    if (size < 8 || SetFilePointer(file, 0, NULL, FILE_BEGIN) != 0 ||
        !ReadFile(file, f.Head, size < HeadSize ? size : HeadSize, &f.Held, NULL) || f.Held < 8) {
        return PdfPageDamaged;
    }
    const BYTE *head = f.Head;
    int refusal;
    if ((memcmp(head, "II*\0", 4) == 0 || memcmp(head, "MM\0*", 4) == 0)) {
        refusal = ReadTiff(&f, size, page);
    } else if (head[0] == 0xFF && head[1] == 0xD8 && head[2] == 0xFF) {
        refusal = ReadJpegPage(file, size, page);
    } else {
        refusal = PdfPageUnknown;
    }
    return refusal ? refusal : SidesAllowed(page) ? 0 : (int)PdfPageSizeRefused;
}
