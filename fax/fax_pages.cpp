// The fax job's pages: the scan set-up, the page buffer, the line callback the
// image-file writer pulls the scan through, and the temporary page files.
#include "fax/fax_job.h"

#include <stdio.h>

#include "panel/panel.h"
#include "panel/panel_state.h"

LineSourceRecord LineSource;
WORD PagesScanned;
int ImageFormat;
ScanBufferRecord PageBuffer;

static char TempDirectory[MAX_PATH]; // the temporary directory, ending in a backslash
static char PagePath[MAX_PATH];      // the page file being written

enum : int { StopWriter = -18, JpegQuality = 80 };

static const WORD FaxResolutionsX[3] = {200, 200, 300};
static const WORD FaxResolutionsY[3] = {100, 200, 300};
static const WORD MailResolutions[3] = {100, 200, 300};

static WORD Bounded(WORD index, WORD count) {
    return index < count ? index : (WORD)(count - 1);
}

void SetupFaxScan() {
    SetPaperWindow(&ScanParameters, PaperSize, ScanMode, ModeLevels, 10);
    if (JobChoice.Destination == 0) {
        ScanParameters.ResolutionX = FaxResolutionsX[Bounded(FaxResolution, 3)];
        ScanParameters.ResolutionY = FaxResolutionsY[Bounded(FaxResolution, 3)];
    } else {
        ScanParameters.ResolutionX = ScanParameters.ResolutionY =
            MailResolutions[Bounded(MailResolution, 3)];
    }
    ImageFormat = ScanParameters.DataType == 0 ? ImageFormatTiffG4 : ImageFormatJpeg;
    SetScanParameters();
}

// 1 when the driver's line fits the DIB row the writer hands the callback.
static int LineSizeUsable(DWORD bytesPerLine, WORD bitCount) {
    ULONGLONG bits = (ULONGLONG)ScanParameters.PixelsPerLine * bitCount;
    ULONGLONG stride = (bits + 31) / 32 * 4;
    return bytesPerLine != 0 && ScanParameters.Lines != 0 && bytesPerLine >= (bits + 7) / 8 &&
           bytesPerLine <= stride;
}

int AllocatePageBuffer() {
    if (!LineSizeUsable(ScanParameters.BytesPerLine, BitCountFor(ScanParameters.DataType))) {
        FaxJobStatus = FaxScanError;
        return 0;
    }
    if (!AllocateScanBuffer(&ScanParameters, &PageBuffer)) {
        FaxJobStatus = FaxNoMemory;
        return 0;
    }
    // The image-file library takes dots per inch here, not per metre.
    PageBuffer.Header->biXPelsPerMeter = ScanParameters.ResolutionX;
    PageBuffer.Header->biYPelsPerMeter = ScanParameters.ResolutionY;
    // The driver counts the lines of a chunk in 16 bits.
    DWORD lines = PageBuffer.Lines > 0xFFFF ? 0xFFFF : PageBuffer.Lines;
    LineSource.Request.Capacity = lines * ScanParameters.BytesPerLine;
    LineSource.Request.Buffer = PageBuffer.Pixels;
    return 1;
}

void ReleasePageBuffer() {
    ReleaseScanBuffer(&PageBuffer);
    LineSource.Request.Buffer = NULL;
}

static int StopWith(SHORT status) {
    FaxJobStatus = status;
    return StopWriter;
}

int WINAPI SupplyScanLine(void *source, BYTE *destination, int line) {
    LineSourceRecord *page = (LineSourceRecord *)source;
    DWORD bytesPerLine = ScanParameters.BytesPerLine;
    if (page->Request.Delivered == 0 && page->ChunkStatus != ReadPageComplete) {
        page->FirstLine += page->ChunkLines;
        page->ChunkLines = 0;
        // A read without lines means more is to come; Stop ends the wait.
        while ((page->ChunkStatus = ReadScanChunk(&page->Request)) == ReadMore &&
               page->Request.Delivered == 0) {
            if (CancelRequested) {
                return StopWith(FaxCancelled);
            }
        }
        if (page->ChunkStatus == ReadMore) {
            page->ChunkLines = page->Request.Delivered;
            // A driver that claims more lines than the buffer holds is not believed.
            if (page->ChunkLines > page->Request.Capacity / bytesPerLine) {
                return StopWith(FaxScanError);
            }
        } else if (page->ChunkStatus == ReadPageComplete) {
            FillMemory(page->Request.Buffer, bytesPerLine, 0xFF);
        } else {
            return StopWith(page->ChunkStatus == ReadFailed ? FaxCancelled : FaxScanError);
        }
    }
    // A page that ends early is padded with white lines.
    const BYTE *from = page->Request.Buffer;
    if (page->ChunkStatus != ReadPageComplete) {
        DWORD index = (DWORD)line - page->FirstLine;
        if (line < 0 || index >= page->ChunkLines) {
            return StopWith(FaxScanError);
        }
        from += index * bytesPerLine;
        page->Request.Delivered--;
    }
    CopyMemory(destination, from, bytesPerLine);
    KeepTextLine(destination, line);
    return 0;
}

int TakeTempDirectory() {
    DWORD length = GetTempPathA(sizeof TempDirectory, TempDirectory);
    return length != 0 && length < sizeof TempDirectory;
}

int NewJobFile(char *path) {
    if (!GetTempFileNameA(TempDirectory, "VNL", 0, path)) {
        path[0] = 0;
        return 0;
    }
    return 1;
}

// Appends the page file's path to PageFileList.
static int ListPageFile() {
    DWORD length = (DWORD)lstrlenA(PagePath) + 1;
    HGLOBAL grown = GlobalReAlloc(PageFileList, PageFileListSize + length, GMEM_MOVEABLE);
    char *list = grown ? (char *)GlobalLock(grown) : NULL;
    if (grown) {
        PageFileList = grown;
    }
    if (!list) {
        return 0;
    }
    CopyMemory(list + PageFileListSize, PagePath, length);
    GlobalUnlock(PageFileList);
    PageFileListSize += length;
    return 1;
}

static int DropPage(SHORT status) {
    FaxJobStatus = status;
    DeleteFileA(PagePath);
    return 0;
}

int ScanPageToFile() {
    if (ReportNotReady() != 0) {
        FaxJobStatus = FaxScanError;
        return 0;
    }
    ShowPanelText(LcdMessageLine, "Scanning to File");
    LineSource.ChunkLines = 0;
    LineSource.Request.Delivered = 0;
    LineSource.ChunkStatus = ReadMore;
    LineSource.FirstLine = 0;
    FaxJobStatus = FaxNoMemory;
    if (!NewJobFile(PagePath)) {
        FaxJobStatus = FaxFileError;
        return 0;
    }
    HFILE file = _lcreat(PagePath, 0);
    if (file == HFILE_ERROR) {
        return DropPage(FaxFileError);
    }
    if (ImageFormat == ImageFormatJpeg) {
        SetImageOption(JpegQuality);
    }
    if (JobChoice.SearchableText) {
        BeginTextPage();
    }
    int written = WriteImageFile(file, PageBuffer.Header, ImageFormat, SupplyScanLine, &LineSource);
    _lclose(file);
    if (written != ImageWritten) {
        return DropPage(FaxJobStatus == FaxNoMemory ? (SHORT)FaxFileError : FaxJobStatus);
    }
    WaitForNextSecond();
    if (CancelRequested) {
        return DropPage(FaxCancelled);
    }
    if (!ListPageFile()) {
        return DropPage(FaxNoMemory);
    }
    HandTextPage(PagesScanned);
    return 1;
}

void DeleteJobFiles() {
    DeleteJobDocument();
    const char *list = PageFileList && PagesScanned ? (const char *)GlobalLock(PageFileList) : NULL;
    if (!list) {
        return;
    }
    const char *path = list;
    for (WORD i = 0; i < PagesScanned && path < list + PageFileListSize; i++) {
        DeleteFileA(path);
        path += lstrlenA(path) + 1;
    }
    GlobalUnlock(PageFileList);
}

void FormatAttachmentName(char *out, int size, WORD id, WORD destination, int format) {
    const char *tag = format == DocumentFormat    ? "PDF"
                      : destination == 0          ? "VKZ"
                      : format == ImageFormatJpeg ? "JPG"
                                                  : "TIF";
    snprintf(out, size, "FX-%05u.%s", (unsigned)id, tag);
}
