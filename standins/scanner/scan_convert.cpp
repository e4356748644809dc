#include "scan_convert.h"
#include <stdlib.h>
#include <string.h>

namespace {

int BitsForDataType(WORD dataType) {
    return dataType == 0 ? 1 : dataType == 2 ? 8 : 24;
}

int ValidResolution(WORD dpi) {
    return dpi >= 50 && dpi <= 1200;
}

// Makes page row y current in SourceRow; rows below the page are white.
int FetchSourceRow(ScanConversion *scan, LONG y) {
    if (y == scan->SourceRowIndex)
        return 1;
    scan->SourceRowIndex = -1;
    if (y >= scan->Page.Height)
        memset(scan->SourceRow, 255, (size_t)scan->Page.Width * 3);
    else if (!ReadPageRow(&scan->Page, y, scan->SourceRow))
        return 0;
    scan->SourceRowIndex = y;
    return 1;
}

// Averages the source rows [first, first + rows) into one B,G,R output row.
int ResampleRow(ScanConversion *scan, LONG first, LONG rows, BYTE *bgr) {
    DWORD n = scan->PixelsPerLine;
    if (rows == 1 && scan->DirectColumns) {
        if (!FetchSourceRow(scan, first))
            return 0;
        if (scan->PlainCopy) {
            memcpy(bgr, scan->SourceRow + scan->ColumnStart[0] * 3, (size_t)n * 3);
            return 1;
        }
        for (DWORD x = 0; x < n; x++, bgr += 3) {
            const BYTE *s = scan->SourceRow + scan->ColumnStart[x] * 3;
            bgr[0] = scan->Tone[s[0]], bgr[1] = scan->Tone[s[1]], bgr[2] = scan->Tone[s[2]];
        }
        return 1;
    }
    DWORD *sums = scan->Sums;
    memset(sums, 0, n * 3 * sizeof(DWORD));
    for (LONG y = first; y < first + rows; y++) {
        if (!FetchSourceRow(scan, y))
            return 0;
        for (DWORD x = 0; x < n; x++) {
            const BYTE *s = scan->SourceRow + scan->ColumnStart[x] * 3;
            for (LONG k = 0; k < scan->ColumnCount[x]; k++, s += 3) {
                sums[x * 3] += s[0];
                sums[x * 3 + 1] += s[1];
                sums[x * 3 + 2] += s[2];
            }
        }
    }
    for (DWORD x = 0; x < n * 3; x++) {
        DWORD area = (DWORD)(scan->ColumnCount[x / 3] * rows);
        bgr[x] = scan->Tone[(sums[x] + area / 2) / area];
    }
    return 1;
}

BYTE Luma(const BYTE *bgr) {
    return (BYTE)((114 * bgr[0] + 587 * bgr[1] + 299 * bgr[2] + 500) / 1000);
}

// Packs a B,G,R row into the delivered format; the line's padding bytes are zero.
void PackLine(const ScanConversion *scan, const BYTE *bgr, BYTE *out) {
    DWORD n = scan->PixelsPerLine, used;
    if (scan->DataType == 3) {
        used = n * 3;
        if (out != bgr)
            memcpy(out, bgr, used);
    } else if (scan->DataType == 2) {
        used = n;
        for (DWORD x = 0; x < n; x++)
            out[x] = Luma(bgr + x * 3);
    } else {
        used = (n + 7) / 8;
        memset(out, 0, used);
        for (DWORD x = 0; x < n; x++) {
            if (Luma(bgr + x * 3) >= 128)
                out[x / 8] |= (BYTE)(0x80 >> (x % 8));
        }
    }
    memset(out + used, 0, scan->BytesPerLine - used);
}

int ConvertLine(ScanConversion *scan, DWORD line, BYTE *out) {
    LONG first, rows;
    SourceSpan(scan->WindowTop, (LONG)line, scan->Page.ResolutionY, scan->OutputDpiY, &first,
               &rows);
    // Colour lines are built in place; the other formats go through the B,G,R row.
    BYTE *bgr = scan->DataType == 3 ? out : scan->Line;
    if (!ResampleRow(scan, first, rows, bgr))
        return 0;
    PackLine(scan, bgr, out);
    return 1;
}

} // namespace

int CompleteScanParameters(ScanParameterRecord *params) {
    DWORD pixels = (DWORD)params->Width * params->ResolutionX / 300;
    DWORD lines = (DWORD)params->Height * params->ResolutionY / 300;
    WORD type = params->DataType;
    int valid = ValidResolution(params->ResolutionX) && ValidResolution(params->ResolutionY) &&
                (type == 0 || type == 2 || type == 3) && pixels > 0 && lines > 0;
    params->PixelsPerLine = valid ? pixels : 0;
    params->BytesPerLine = valid ? DibStride((LONG)pixels, BitsForDataType(type)) : 0;
    params->Lines = valid ? lines : 0;
    if (valid)
        params->TableRequest = 4;
    return valid;
}

void MakeToneTable(int brightness, int contrast, BYTE *tone) {
    int b = brightness < -127 ? -127 : brightness > 127 ? 127 : brightness;
    int c = contrast < -127 ? -127 : contrast > 127 ? 127 : contrast;
    // Contrast c is a slope of (128 + c) / (128 - c) about mid-grey: 1 at 0, steep at +127.
    for (int v = 0; v < 256; v++) {
        double t = (v - 128) * (128.0 + c) / (128.0 - c) + 128.0 + b;
        tone[v] = (BYTE)(t <= 0 ? 0 : t >= 255 ? 255 : (int)(t + 0.5));
    }
}

void SourceSpan(LONG windowOffset, LONG index, LONG pageDpi, LONG outputDpi, LONG *first,
                LONG *count) {
    // The output pixel covers [offset + index, offset + index + 1) output units, in page pixels.
    LONGLONG unit = 300LL * outputDpi;
    LONGLONG from = (LONGLONG)windowOffset * pageDpi * outputDpi + (LONGLONG)index * 300 * pageDpi;
    LONGLONG to = from + 300LL * pageDpi;
    *first = (LONG)(from / unit);
    *count = (LONG)(to / unit) - *first;
    if (*count < 1) {
        // Enlarging: the page pixel under the output pixel's centre.
        *first = (LONG)((from + to) / 2 / unit);
        *count = 1;
    }
}

int BeginPageScan(ScanConversion *scan, const char *path, const ScanParameterRecord *params) {
    memset(scan, 0, sizeof(*scan));
    if (!OpenPageImage(path, &scan->Page))
        return 0;
    DWORD n = params->PixelsPerLine;
    scan->DataType = params->DataType;
    scan->PixelsPerLine = n;
    scan->BytesPerLine = params->BytesPerLine;
    scan->Lines = params->Lines;
    scan->WindowTop = params->Top;
    scan->OutputDpiY = params->ResolutionY;
    scan->SourceRowIndex = -1;
    scan->ColumnStart = (LONG *)malloc(n * sizeof(LONG));
    scan->ColumnCount = (LONG *)malloc(n * sizeof(LONG));
    scan->Sums = (DWORD *)malloc(n * 3 * sizeof(DWORD));
    scan->Line = (BYTE *)malloc(n * 3);
    if (!scan->ColumnStart || !scan->ColumnCount || !scan->Sums || !scan->Line) {
        EndPageScan(scan);
        return 0;
    }
    scan->DirectColumns = 1;
    scan->RowWidth = scan->Page.Width;
    for (DWORD x = 0; x < n; x++) {
        SourceSpan(params->Left, (LONG)x, scan->Page.ResolutionX, params->ResolutionX,
                   &scan->ColumnStart[x], &scan->ColumnCount[x]);
        scan->DirectColumns &= scan->ColumnCount[x] == 1;
        if (scan->ColumnStart[x] + scan->ColumnCount[x] > scan->RowWidth)
            scan->RowWidth = scan->ColumnStart[x] + scan->ColumnCount[x];
    }
    // Columns right of the page stay white: the decoder only writes the page's own width.
    scan->SourceRow = (BYTE *)malloc((size_t)scan->RowWidth * 3);
    if (!scan->SourceRow) {
        EndPageScan(scan);
        return 0;
    }
    memset(scan->SourceRow, 255, (size_t)scan->RowWidth * 3);
    MakeToneTable(params->Brightness, params->Contrast, scan->Tone);
    scan->PlainCopy = scan->DirectColumns;
    for (DWORD x = 1; x < n; x++)
        scan->PlainCopy &= scan->ColumnStart[x] == scan->ColumnStart[0] + (LONG)x;
    for (int v = 0; v < 256; v++)
        scan->PlainCopy &= scan->Tone[v] == v;
    return 1;
}

LONG DeliverScanLines(ScanConversion *scan, BYTE *buffer, DWORD capacity, int dibBands,
                      DWORD limit) {
    DWORD rows = scan->BytesPerLine ? capacity / scan->BytesPerLine : 0;
    DWORD count = rows;
    if (count > limit)
        count = limit;
    if (count > scan->Lines - scan->NextLine)
        count = scan->Lines - scan->NextLine;
    for (DWORD i = 0; i < count; i++, scan->NextLine++) {
        BYTE *out = buffer + (size_t)(dibBands ? rows - 1 - i : i) * scan->BytesPerLine;
        if (!ConvertLine(scan, scan->NextLine, out))
            return -1;
    }
    return (LONG)count;
}

void EndPageScan(ScanConversion *scan) {
    ClosePageImage(&scan->Page);
    free(scan->ColumnStart);
    free(scan->ColumnCount);
    free(scan->Sums);
    free(scan->Line);
    free(scan->SourceRow);
    memset(scan, 0, sizeof(*scan));
}
