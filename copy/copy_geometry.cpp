#include "copy/copy_geometry.h"

#include <stdio.h>

#include "scanjob/scan_job.h"

namespace {

// The printer's resolution up to the cap; with fit in page the one that puts the whole
// window into the printable pixels.
WORD ScanResolution(LONG dpi, WORD cap, int fit, LONG printable, WORD window) {
    if (dpi > cap) {
        return cap;
    }
    return fit ? (WORD)((DWORD)printable * 300u / window) : (WORD)dpi;
}

} // namespace

void ComputeScanWindow(const CopyGeometryInput *input, ScanParameterRecord *scan) {
    WORD mode = input->ScanMode < ScanModeCount ? input->ScanMode : (WORD)ModeText;
    if (mode == ModeColorPhoto && input->ColorMode != 2) {
        mode = ModePhoto;
    }
    SetPaperWindow(scan, input->PaperSize, mode, input->Levels, 42);
    scan->ResolutionX =
        ScanResolution(input->DpiX, 300, input->FitInPage, input->PrintableWidth, scan->Width);
    scan->ResolutionY =
        ScanResolution(input->DpiY, 600, input->FitInPage, input->PrintableHeight, scan->Height);
    if (!input->FitInPage) {
        double inches = (double)input->PrintableWidth / input->DpiX;
        double left = ((double)PaperFor(input->PaperSize).WidthInches - inches) * 150 + 0.5;
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

void FormatDocumentName(const char *title, const SYSTEMTIME *time, char *out, int size) {
    snprintf(out, size, "%s %d-%d-%d", title, time->wHour, time->wMinute, time->wSecond);
}
