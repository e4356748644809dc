// A page file as the virtual scanner's feeder would hold it: the reader
// either refuses it or opens a page of sane size and resolution whose rows
// read cleanly, and a scan of it through the conversion delivers its lines
// or stops at a row the file does not hold.
#include "fuzz/exercise.h"
#include "scan_convert.h"

#include <stdlib.h>

namespace {

const LONG RowsRead = 64; // rows read straight from the page: the first ones and the last

// Reads rows of an opened page into a buffer of exactly one row.
const char *CheckPage(PageImage *page) {
    if (page->Width <= 0 || page->Width > PageSideLimit || page->Height <= 0 ||
        page->Height > PageSideLimit) {
        return "a page of impossible size was opened";
    }
    if (page->ResolutionX < 50 || page->ResolutionX > 2400 || page->ResolutionY < 50 ||
        page->ResolutionY > 2400) {
        return "a page was opened with a resolution outside 50..2400 dpi";
    }
    BYTE *row = (BYTE *)malloc((size_t)page->Width * 3);
    if (!row) {
        return NULL;
    }
    for (LONG y = 0; y < page->Height && y < RowsRead; y++) {
        ReadPageRow(page, y, row);
    }
    ReadPageRow(page, page->Height - 1, row);
    free(row);
    return NULL;
}

// The scan window and format from the input's last bytes: at most 0.8 inch
// square at up to 600 dpi, anywhere in the first two inches of the page.
void ChooseWindow(const BYTE *data, DWORD size, ScanParameterRecord *params, int *dibBands) {
    static const WORD Dpis[] = {50, 75, 100, 150, 200, 300, 600};
    static const WORD Types[] = {0, 2, 3};
    BYTE pick[4] = {0, 0, 0, 0};
    for (DWORD i = 0; i < 4 && i < size; i++) {
        pick[i] = data[size - 1 - i];
    }
    *params = ScanParameterRecord();
    params->ResolutionX = Dpis[pick[0] % 7];
    params->ResolutionY = Dpis[pick[0] / 7 % 7];
    params->DataType = Types[pick[0] / 49 % 3];
    params->Width = (WORD)(30 + pick[1] % 8 * 30);
    params->Height = (WORD)(30 + pick[2] % 8 * 30);
    params->Left = (WORD)(pick[3] % 16 * 40);
    params->Top = (WORD)(pick[3] / 16 * 40);
    params->Brightness = (SHORT)(pick[1] / 8 * 8 - 124);
    params->Contrast = (SHORT)(pick[2] / 8 * 8 - 124);
    *dibBands = pick[1] & 1;
}

// Scans the whole window in bands of a few lines; every line's padding stays zero.
const char *CheckScan(const char *path, const BYTE *data, DWORD size) {
    ScanParameterRecord params;
    int dibBands;
    ChooseWindow(data, size, &params, &dibBands);
    if (!CompleteScanParameters(&params)) {
        return "a window of the exercise was refused";
    }
    ScanConversion scan;
    if (!BeginPageScan(&scan, path, &params)) {
        return NULL;
    }
    const DWORD bandLines = 7;
    DWORD used = params.DataType == 3   ? params.PixelsPerLine * 3
                 : params.DataType == 2 ? params.PixelsPerLine
                                        : (params.PixelsPerLine + 7) / 8;
    BYTE *band = (BYTE *)malloc((size_t)bandLines * params.BytesPerLine);
    const char *fault = NULL;
    for (DWORD done = 0; band && !fault && done < params.Lines;) {
        LONG count =
            DeliverScanLines(&scan, band, bandLines * params.BytesPerLine, dibBands, bandLines);
        if (count < 0) {
            break; // the file ends before a row the window needs
        }
        if (count == 0 || (DWORD)count > bandLines || done + count > params.Lines) {
            fault = "a delivery gave a wrong number of lines";
            break;
        }
        DWORD first = dibBands ? bandLines - (DWORD)count : 0;
        for (DWORD i = first; i < first + (DWORD)count && !fault; i++) {
            const BYTE *line = band + (size_t)i * params.BytesPerLine;
            for (DWORD b = used; b < params.BytesPerLine; b++) {
                if (line[b]) {
                    fault = "a scan line's padding is not zero";
                }
            }
        }
        done += (DWORD)count;
    }
    free(band);
    EndPageScan(&scan);
    return fault;
}

} // namespace

const char *ExercisePageReader(const BYTE *data, DWORD size) {
    char path[MAX_PATH];
    if (!WriteInputFile("fuzz_page.bin", data, size, path)) {
        return "the page file could not be written";
    }
    PageImage page;
    const char *fault = NULL;
    if (OpenPageImage(path, &page)) {
        fault = CheckPage(&page);
        ClosePageImage(&page);
    }
    if (!fault) {
        fault = CheckScan(path, data, size);
    }
    DeleteFileA(path);
    return fault;
}
