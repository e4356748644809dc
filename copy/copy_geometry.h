// The copy job's arithmetic, kept apart from the devices so tests can call it:
// the scan window for a printer, the driver's brightness scale, the number of
// copies typed, the copies each print document asks for, the band buffer's
// size and the print document's name.
#pragma once
#include <windows.h>
#include "abi/driver_abi.h"
#include "panel/panel_state.h"

// What the scan window depends on.
struct CopyGeometryInput {
    WORD ScanMode;           // panel: 0 Text, 1 Photo, 2 Color Photo
    WORD PaperSize;          // panel: 0 Letter, 1 Legal, 2 A4
    const LevelPair *Levels; // panel: levels of the three scan modes
    int FitInPage;
    LONG DpiX; // the printer's
    LONG DpiY;
    LONG PrintableWidth; // device pixels
    LONG PrintableHeight;
    WORD ColorMode; // 2 the printer prints colour
};

// Win32 paper code of a panel paper size (DMPAPER_LETTER, _LEGAL, _A4).
WORD PaperCodeFor(WORD paperSize);
// A panel level 0..100 as the driver's -127..127, linear through 0, 50 and 100.
SHORT LevelToDriver(int level);
// Fills the scan window, format, levels and resolutions of a copy; the driver
// completes PixelsPerLine, BytesPerLine and Lines.
void ComputeScanWindow(const CopyGeometryInput *input, ScanParameterRecord *scan);
// Printer lines per scanned line.
double VerticalScaleFor(LONG dpiY, LONG printableHeight, DWORD lines);
// Copies of each page: 1 to 3 typed digits give their value (0 counts as 1);
// none or more than 3 give 1.
WORD CopyCountFromTyped(const char *typed, int length);
// Copies the next print document asks of the printer, given its copy limit and
// the copies still to make. A limit below 1 counts as 1, so every document
// makes progress.
WORD DocumentCopies(SHORT copyLimit, WORD copiesLeft);

// Size of the band header: BITMAPINFOHEADER and palette.
DWORD BandHeaderSize(WORD bitCount);
// Writes a bottom-up DIB header of headerSize bytes (BandHeaderSize) with its
// palette: black and white for 1 bit, the grey ramp for 8 bits, none for 24.
void WriteDibHeader(BITMAPINFOHEADER *header, DWORD headerSize, LONG width, LONG lines,
                    WORD bitCount);
WORD BitCountFor(WORD dataType);
// The band buffer's first request, and the smallest one worth trying (the request
// itself when it is already below 64 KiB); 0/0 when even one line cannot be held.
void PlanBandBuffer(WORD dataType, DWORD bytesPerLine, DWORD lines, DWORD *request, DWORD *floor);
// The next smaller request after a failed one: a quarter less, whole lines, never
// below the floor.
DWORD ShrinkBandRequest(DWORD failed, DWORD floor, DWORD headerSize, DWORD bytesPerLine);
// A movable block of the request, or of a smaller one down to the floor; its size
// goes to size. Null when even the floor cannot be had.
HGLOBAL AllocateBand(DWORD request, DWORD floor, DWORD headerSize, DWORD bytesPerLine, DWORD *size);

// "%s %d-%d-%d" of the title and the time: "Varnel Keypad Program 14-5-9".
void FormatDocumentName(const char *title, const SYSTEMTIME *time, char *out, int size);
