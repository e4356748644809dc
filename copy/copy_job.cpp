#include "copy/copy_job.h"
#include "copy/copy_job_steps.h"

#include "app/app.h"
#include "app/settings.h"
#include "copy/copy_geometry.h"
#include "copy/copy_settings.h"
#include "driver/driver.h"
#include "panel/panel.h"
#include "panel/panel_state.h"
#include "scanjob/scan_job.h"

const char *const CopyErrorTexts[6] = {"User cancelled!", "Not enough mem!", "Printer error!",
                                       "Scanner in use!", "Scanning error!", "File I/O Error!"};

volatile SHORT JobStatus;
CopySettingsRecord JobCopySettings;
char JobPrinterName[PrinterDescriptionSize]; // description of this job's printer
static PrinterEntry JobPrinterEntry;         // its three names, inside JobPrinterName
static PrinterContext JobPrinterContext;     // the job's own printer library context
PrinterInfo JobPrinterInfo;
static HGLOBAL JobDevMode;    // printer settings taken over from the context
static DEVMODEA *JobSettings; // JobDevMode, locked
double VerticalScale;
ScanBufferRecord BandBuffer;
static DWORD BandBytes;                         // the band's whole lines
static HANDLE SpoolFile = INVALID_HANDLE_VALUE; // the page's bands, deleted on close
DWORD LinesSpooled;                             // lines of the current page in SpoolFile
static LONG PrintRow;                           // scanned lines already drawn
WORD CopyCount;
static WORD CopiesLeft; // copies of the current page still to print
static HDC PrinterDC;   // the open print document, empty between documents

int OpenJobPrinter() {
    SplitPrinterDescription(JobPrinterName, &JobPrinterEntry);
    if (!OpenPrinterContext || !QueryPrinter || !ClosePrinterContext ||
        !OpenPrinterContext(&JobPrinterEntry, &JobPrinterContext)) {
        return 0;
    }
    JobPrinterInfo.PaperCode = PaperFor(PaperSize).Code;
    JobPrinterInfo.QueryOption = 1;
    int queried = QueryPrinter(&JobPrinterEntry, &JobPrinterContext, &JobPrinterInfo);
    if (queried) {
        JobDevMode = JobPrinterContext.DevModeHandle;
        JobPrinterContext.DevModeHandle = NULL;
    }
    ClosePrinterContext(&JobPrinterContext);
    return queried && JobDevMode;
}

void SetCopyGeometry() {
    CopyGeometryInput input = {ScanMode,
                               PaperSize,
                               ModeLevels,
                               JobCopySettings.FitInPage,
                               JobPrinterInfo.DpiX,
                               JobPrinterInfo.DpiY,
                               JobPrinterInfo.PrintableWidth,
                               JobPrinterInfo.PrintableHeight,
                               JobPrinterInfo.ColorMode};
    ComputeScanWindow(&input, &ScanParameters);
    SetScanParameters();
    VerticalScale =
        VerticalScaleFor(JobPrinterInfo.DpiY, JobPrinterInfo.PrintableHeight, ScanParameters.Lines);
}

int AllocateBandBuffer() {
    if (!AllocateScanBuffer(&ScanParameters, &BandBuffer)) {
        return 0;
    }
    BandBytes = BandBuffer.Lines * ScanParameters.BytesPerLine;
    return 1;
}

int PrepareSpool() {
    JobSettings = (DEVMODEA *)GlobalLock(JobDevMode);
    CopyCount = CopyCountFromTyped(TypedNumber, TypedLength);
    char path[MAX_PATH + 1];
    GetTempPathA(sizeof path, path);
    GetTempFileNameA(path, "CPY", 0, path);
    SpoolFile = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, NULL, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL | FILE_FLAG_DELETE_ON_CLOSE, NULL);
    if (SpoolFile == INVALID_HANDLE_VALUE || !JobSettings) {
        JobStatus = CopyFileError;
        return 0;
    }
    JobSettings->dmColor = BandBuffer.Header->biBitCount > 8 ? DMCOLOR_COLOR : DMCOLOR_MONOCHROME;
    JobSettings->dmFields |= DM_COLOR;
    return 1;
}

WORD SpoolBand(DWORD lines) {
    // A driver that claims more lines than the band holds is not believed.
    if (lines > BandBuffer.Lines) {
        JobStatus = CopyScanError;
        return ReadFailed;
    }
    LinesSpooled += lines;
    DWORD bytes = lines * ScanParameters.BytesPerLine;
    DWORD written = 0;
    if (!WriteFile(SpoolFile, BandBuffer.Pixels + BandBytes - bytes, bytes, &written, NULL) ||
        written != bytes) {
        JobStatus = CopyFileError;
        return ReadFailed;
    }
    ScanParameters.Lines -= lines < ScanParameters.Lines ? lines : ScanParameters.Lines;
    return ScanParameters.Lines == 0 ? ReadPageComplete : ReadMore;
}

static int StartPrintDocument() {
    PrinterDC = CreateDCA(NULL, JobPrinterEntry.DeviceName, NULL, JobSettings);
    if (!PrinterDC) {
        JobStatus = CopyPrinterError;
        return 0;
    }
    SYSTEMTIME now;
    GetLocalTime(&now);
    char name[80];
    FormatDocumentName(AppTitle, &now, name, sizeof name);
    DOCINFOA document = {sizeof(DOCINFOA), name, NULL, NULL, 0};
    int started = StartDocA(PrinterDC, &document) > 0;
    if (started && StartPage(PrinterDC) > 0) {
        return 1;
    }
    if (started) {
        AbortDoc(PrinterDC);
    }
    DeleteDC(PrinterDC);
    PrinterDC = NULL;
    JobStatus = CopyPrinterError;
    return 0;
}

static WORD AbandonDocument() {
    EndPage(PrinterDC);
    AbortDoc(PrinterDC);
    DeleteDC(PrinterDC);
    PrinterDC = NULL;
    return ReadFailed;
}

static WORD PrintBand(DWORD lines, const BYTE *pixels) {
    if (CancelRequested) {
        JobStatus = CopyCancelled;
        return AbandonDocument();
    }
    BandBuffer.Header->biHeight = (LONG)lines;
    int top = (int)(PrintRow * VerticalScale + 0.5);
    int height = (int)(lines * VerticalScale + 0.5);
    if (StretchDIBits(PrinterDC, 0, top, JobPrinterInfo.PrintableWidth, height, 0, 0,
                      (int)ScanParameters.PixelsPerLine, (int)lines, pixels,
                      (BITMAPINFO *)BandBuffer.Header, DIB_RGB_COLORS, SRCCOPY) <= 0) {
        JobStatus = CopyPrinterError;
        return AbandonDocument();
    }
    PrintRow += (LONG)lines;
    ScanParameters.Lines -= lines;
    if (ScanParameters.Lines > 0) {
        return ReadMore;
    }
    if (EndPage(PrinterDC) > 0 && EndDoc(PrinterDC) > 0) {
        DeleteDC(PrinterDC);
        PrinterDC = NULL;
        return ReadMore;
    }
    JobStatus = CopyPrinterError;
    return AbandonDocument();
}

static int RewindSpool() {
    return SetFilePointer(SpoolFile, 0, NULL, FILE_BEGIN) != INVALID_SET_FILE_POINTER;
}

int ReplaySpool(BandConsumer consumer) {
    ScanParameters.Lines = LinesSpooled;
    PrintRow = 0;
    if (!RewindSpool()) {
        JobStatus = CopyFileError;
        return 0;
    }
    while (ScanParameters.Lines > 0) {
        DWORD lines =
            ScanParameters.Lines < BandBuffer.Lines ? ScanParameters.Lines : BandBuffer.Lines;
        DWORD bytes = lines * ScanParameters.BytesPerLine;
        BYTE *band = BandBuffer.Pixels + BandBytes - bytes;
        DWORD read = 0;
        if (!ReadFile(SpoolFile, band, bytes, &read, NULL) || read != bytes) {
            JobStatus = CopyFileError;
            return 0;
        }
        if (consumer(lines, band) != ReadMore) {
            return 0;
        }
    }
    return 1;
}

// One document: the spooled page, band by band, with the copies the settings ask for.
static int PrintSpooledPage() {
    if (!StartPrintDocument()) {
        return 0;
    }
    ShowPanelText(LcdMessageLine, "Printing...");
    if (ReplaySpool(PrintBand)) {
        return 1;
    }
    if (PrinterDC) {
        AbandonDocument(); // a failed read leaves the document open
    }
    return 0;
}

int ScanPageToSpool() {
    if (ReportNotReady() != 0) {
        JobStatus = CopyScannerBusy;
        return 0;
    }
    ShowPanelText(LcdMessageLine, "Scanning...");
    LinesSpooled = 0;
    JobStatus = CopyCancelled;
    PrintRow = 0;
    if (!RewindSpool()) {
        JobStatus = CopyFileError;
        return 0;
    }
    ReadRequest request = {BandBuffer.Pixels, SpoolBand, BandBytes, 0};
    WORD status = ReadScanLines(&request);
    if (status == ReadFailed) {
        return 0;
    }
    // A page that brought no lines would start a document with nothing on it.
    if ((status != ReadMore && status != ReadPageComplete) || LinesSpooled == 0) {
        JobStatus = CopyScanError;
        return 0;
    }
    return 1;
}

static int CopyPage() {
    if (!ScanPageToSpool()) {
        return 0;
    }
    WaitForNextSecond();
    JobSettings->dmCopies = (short)JobPrinterInfo.CopyLimit;
    JobSettings->dmFields |= DM_COPIES;
    CopiesLeft = CopyCount;
    while (CopiesLeft > 0) {
        JobSettings->dmCopies = (short)DocumentCopies(JobSettings->dmCopies, CopiesLeft);
        CopiesLeft = (WORD)(CopiesLeft - JobSettings->dmCopies);
        if (!PrintSpooledPage()) {
            return 0;
        }
    }
    return 1;
}

void ReleaseJobBuffers() {
    if (SpoolFile != INVALID_HANDLE_VALUE) {
        CloseHandle(SpoolFile);
        SpoolFile = INVALID_HANDLE_VALUE;
    }
    ReleaseScanBuffer(&BandBuffer);
}

void ReleaseDevMode() {
    ReleaseBlock(&JobDevMode);
    JobSettings = NULL;
}

// Scans and prints every loaded page on the open device; 1 when all were printed.
static int CopyLoadedPages() {
    SetCopyGeometry();
    if (!AllocateBandBuffer()) {
        JobStatus = CopyNoMemory;
        return 0;
    }
    return PrepareSpool() && ForEachLoadedPage(CopyPage);
}

DWORD WINAPI CopyJobThread(LPVOID) {
    JobStatus = CopyPrinterError;
    TakeCopySettings(&JobCopySettings);
    if (JobCopySettings.AlwaysDefault) {
        GetProfileStringA("Windows", "device", "", JobPrinterName, sizeof JobPrinterName);
    } else {
        lstrcpynA(JobPrinterName, JobCopySettings.Printer, sizeof JobPrinterName);
    }
    if (!JobPrinterName[0] || !OpenJobPrinter()) {
        ReleaseDevMode();
        FinishJob(CopyErrorTexts[CopyPrinterError + 1]);
        return 0;
    }
    if (!OpenJobDevice()) {
        ReleaseDevMode();
        FinishJob(CopyErrorTexts[CopyScannerBusy + 1]);
        return 0;
    }
    int copied = CopyLoadedPages();
    ReleaseJobBuffers();
    ReleaseDevMode();
    CloseJobDevice(!copied);
    FinishJob(copied ? "Print Completed" : CopyErrorTexts[JobStatus + 1]);
    return 0;
}
