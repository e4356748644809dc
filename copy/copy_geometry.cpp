#include "copy/copy_geometry.h"

#include <stdio.h>

namespace {

// Paper sizes in 1/300 inch, the fit-in-page left edge and the width in inches.
struct PaperRecord {
    WORD Width;
    WORD Height;
    WORD FitLeft;
    float WidthInches; // single precision, as the A4 width has always been held
    WORD Code;
};

const PaperRecord Papers[3] = {
    {2550, 3300, 0, 8.5f, DMPAPER_LETTER},
    {2550, 4200, 0, 8.5f, DMPAPER_LEGAL},
    {2481, 3519, 34, 8.27f, DMPAPER_A4},
};

const PaperRecord &PaperOf(WORD paperSize) {
    return Papers[paperSize < 3 ? paperSize : 0];
}

const WORD DataTypes[3] = {0, 2, 3};
const DWORD ColourBandBytes = 1048576; // grey and colour pages move in bands of 1 MiB
const DWORD BandFloorBytes = 65535;

// The printer's resolution up to the cap; with fit in page the one that puts the whole
// window into the printable pixels.
WORD ScanResolution(LONG dpi, WORD cap, int fit, LONG printable, WORD window) {
    if (dpi > cap) {
        return cap;
    }
    return fit ? (WORD)((DWORD)printable * 300u / window) : (WORD)dpi;
}

} // namespace

WORD PaperCodeFor(WORD paperSize) {
    return PaperOf(paperSize).Code;
}

SHORT LevelToDriver(int level) {
    int value = (level - 50) * 127 / 50;
    return (SHORT)(value < -127 ? -127 : value > 127 ? 127 : value);
}

void ComputeScanWindow(const CopyGeometryInput *input, ScanParameterRecord *scan) {
    const PaperRecord &paper = PaperOf(input->PaperSize);
    WORD mode = input->ScanMode < ScanModeCount ? input->ScanMode : (WORD)ModeText;
    if (mode == ModeColorPhoto && input->ColorMode != 2) {
        mode = ModePhoto;
    }
    scan->DataType = DataTypes[mode];
    scan->ZeroWord = 0;
    scan->Left = paper.FitLeft;
    scan->Top = 0;
    scan->Width = paper.Width;
    scan->Height = paper.Height;
    scan->Brightness = LevelToDriver(input->Levels[mode].Brightness);
    scan->Contrast = LevelToDriver(input->Levels[mode].Contrast);
    scan->ScanFlags = scan->DataType == 3 ? 46 : 42;
    scan->ResolutionX =
        ScanResolution(input->DpiX, 300, input->FitInPage, input->PrintableWidth, scan->Width);
    scan->ResolutionY =
        ScanResolution(input->DpiY, 600, input->FitInPage, input->PrintableHeight, scan->Height);
    if (!input->FitInPage) {
        double inches = (double)input->PrintableWidth / input->DpiX;
        double left = ((double)paper.WidthInches - inches) * 150 + 0.5;
        // A printable width beyond the paper would start left of the glass.
        scan->Left = left > 0 ? (WORD)left : 0;
        scan->Width = (WORD)(inches * 300);
        scan->Height = (WORD)((double)input->PrintableHeight / input->DpiY * 300);
    }
}

double VerticalScaleFor(LONG dpiY, LONG printableHeight, DWORD lines) {
    if (dpiY > 600 && lines > 0) {
        return (double)printableHeight / lines;
    }
    return 1.0;
}

WORD CopyCountFromTyped(const char *typed, int length) {
    if (length < 1 || length > 3) {
        return 1;
    }
    WORD count = 0;
    for (int i = 0; i < length; i++) {
        count = (WORD)(count * 10 + (typed[i] - '0'));
    }
    return count ? count : 1;
}

WORD DocumentCopies(SHORT copyLimit, WORD copiesLeft) {
    SHORT limit = copyLimit < 1 ? 1 : copyLimit;
    return (WORD)limit < copiesLeft ? (WORD)limit : copiesLeft;
}

WORD BitCountFor(WORD dataType) {
    return dataType == 0 ? 1 : dataType == 2 ? 8 : 24;
}

void WriteDibHeader(BITMAPINFOHEADER *header, DWORD headerSize, LONG width, LONG lines,
                    WORD bitCount) {
    ZeroMemory(header, headerSize);
    header->biSize = sizeof(BITMAPINFOHEADER);
    header->biWidth = width;
    header->biHeight = lines;
    header->biPlanes = 1;
    header->biBitCount = bitCount;
    header->biCompression = BI_RGB;
    RGBQUAD *palette = (RGBQUAD *)(header + 1);
    DWORD entries = (headerSize - sizeof(BITMAPINFOHEADER)) / sizeof(RGBQUAD);
    for (DWORD i = 0; i < entries; i++) {
        BYTE level = (BYTE)(entries == 2 ? i * 255 : i);
        palette[i].rgbBlue = palette[i].rgbGreen = palette[i].rgbRed = level;
    }
}

DWORD BandHeaderSize(WORD bitCount) {
    DWORD paletteEntries = bitCount == 1 ? 2 : bitCount == 8 ? 256 : 0;
    return sizeof(BITMAPINFOHEADER) + paletteEntries * sizeof(RGBQUAD);
}

void PlanBandBuffer(WORD dataType, DWORD bytesPerLine, DWORD lines, DWORD *request, DWORD *floor) {
    DWORD header = BandHeaderSize(BitCountFor(dataType));
    DWORD pixels = dataType == 0 ? lines * bytesPerLine : ColourBandBytes;
    DWORD floorLines = bytesPerLine ? BandFloorBytes / bytesPerLine : 0;
    *request = header + pixels;
    *floor = header + floorLines * bytesPerLine;
    if (floorLines == 0) {
        *request = *floor = 0;
    } else if (*request < *floor) {
        *floor = *request;
    }
}

DWORD ShrinkBandRequest(DWORD failed, DWORD floor, DWORD headerSize, DWORD bytesPerLine) {
    DWORD lines = (failed - headerSize) / bytesPerLine;
    DWORD next = headerSize + (lines - lines / 4) * bytesPerLine;
    return next < floor || next >= failed ? floor : next;
}

HGLOBAL AllocateBand(DWORD request, DWORD floor, DWORD headerSize, DWORD bytesPerLine,
                     DWORD *size) {
    HGLOBAL block;
    while ((block = GlobalAlloc(GMEM_MOVEABLE, request)) == NULL) {
        if (request <= floor) {
            return NULL;
        }
        request = ShrinkBandRequest(request, floor, headerSize, bytesPerLine);
    }
    *size = request;
    return block;
}

void FormatDocumentName(const char *title, const SYSTEMTIME *time, char *out, int size) {
    snprintf(out, size, "%s %d-%d-%d", title, time->wHour, time->wMinute, time->wSecond);
}
