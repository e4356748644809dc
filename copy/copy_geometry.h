// The copy job's arithmetic, kept apart from the devices so tests can call it:
// the scan window for a printer, the number of copies typed, the copies each
// print document asks for and the print document's name.
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

// "%s %d-%d-%d" of the title and the time: "Varnel Keypad Program 14-5-9".
void FormatDocumentName(const char *title, const SYSTEMTIME *time, char *out, int size);
