// Turns a page image into scan lines the way the scanner delivers them: cut
// to the scan window, resampled to the requested resolution (box average
// when shrinking, nearest when enlarging), tone-adjusted by brightness and
// contrast and converted to line art, grey or colour DIB rows.
#pragma once
#include "abi/driver_abi.h"
#include "page_image.h"

struct ScanConversion {
    PageImage Page;
    WORD DataType;
    DWORD PixelsPerLine;
    DWORD BytesPerLine;
    DWORD Lines;
    DWORD NextLine; // scanned lines already delivered
    // Where the window starts on the page and the page-to-output scales, for rows.
    LONG WindowTop;
    LONG OutputDpiY;
    LONG *ColumnStart; // first source column of each output pixel
    LONG *ColumnCount; // source columns averaged into it
    int DirectColumns; // every output pixel takes exactly one source column
    int PlainCopy;     // ...and they follow one another, with a neutral tone curve
    LONG RowWidth;     // decoded source row width, white beyond the page
    BYTE *SourceRow;
    LONG SourceRowIndex; // page row held in SourceRow, -1 for none
    DWORD *Sums;
    BYTE *Line; // one output row as B,G,R before packing
    BYTE Tone[256];
};

// Validates the request 7 record and completes PixelsPerLine, BytesPerLine, Lines and
// TableRequest. 1 valid; 0 invalid with the three sizes 0.
int CompleteScanParameters(ScanParameterRecord *params);
// The 256-entry brightness/contrast curve (both -127..127, 0 neutral).
void MakeToneTable(int brightness, int contrast, BYTE *tone);
// The page rows [first, first + count) one output row averages (count 1 when enlarging).
void SourceSpan(LONG windowOffset, LONG index, LONG pageDpi, LONG outputDpi, LONG *first,
                LONG *count);

// Opens the page and prepares the conversion for a completed, valid record. 1/0.
int BeginPageScan(ScanConversion *scan, const char *path, const ScanParameterRecord *params);
// Fills min(capacity / BytesPerLine, limit, lines left) lines into the buffer and returns
// the count. Top-down from the buffer's start, or with dibBands as a bottom-up band whose
// first line is the buffer's last row (capacity / BytesPerLine rows). -1 when the page
// file cannot be read.
LONG DeliverScanLines(ScanConversion *scan, BYTE *buffer, DWORD capacity, int dibBands,
                      DWORD limit);
void EndPageScan(ScanConversion *scan);
