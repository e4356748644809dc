// The text of a searchable document's pages. Each page's lines are kept as
// the image-file writer takes them (colour as grey), and once the page file
// is whole a reader thread has the OCR library KPOCR32.DLL read them while
// the job scans the next page: a job waits for the reader only when a page
// scans faster than the one before it reads, and at its end for the last
// page. The library is loaded for the first page that needs it, and its
// engine opened for each job and closed with all it took when the job ends;
// the library itself stays, as the threads library linked into it keeps
// four handles that unloading it would not give back. Without the library
// or its data the pages go without text: one line in the log, never a
// failed job.
#include <stdio.h>

#include "abi/ocr_abi.h"
#include "app/settings.h"
#include "fax/fax_job.h"
#include "panel/panel.h"
#include "panel/panel_state.h"

namespace {

enum : DWORD { CancelPoll = 100 }; // ms between looks at the Stop key while waiting

struct OcrBinding {
    HMODULE Library; // loaded from the first page that needs it on
    OcrOpenProc Open;
    OcrReadPageProc ReadPage;
    OcrFreeResultProc FreeResult;
    OcrCloseProc Close;
    void *Engine; // open while the job reads text
};

// A page's pixels as the reader takes them.
struct TextPage {
    BYTE *Pixels;
    OcrPageImage Image;
    WORD Number; // its place in the job, from 0
};

OcrBinding Ocr;
TextPage Capturing; // the page being scanned, while its lines are kept
TextPage Handed;    // the page the reader reads
HANDLE Reader;      // the reader thread, from the job's first page on
HANDLE PageHanded;  // auto-reset: a page waits for the reader, or the reader is to end
HANDLE ReaderIdle;  // manual-reset: the reader has no page
volatile LONG StopReading;
OcrResult **PageWords; // each page's words, or null
WORD PageWordsCount;
int NoText; // the library or its data cannot be had: the job goes on without text

void FreePixels(TextPage *page) {
    if (page->Pixels) {
        HeapFree(GetProcessHeap(), 0, page->Pixels);
    }
    page->Pixels = NULL;
}

FARPROC Entry(const char *name) {
    return GetProcAddress(Ocr.Library, name);
}

// The library and an engine with its data; on failure the job goes on
// without text and the log says why, once.
void OpenEngine() {
    const char *why = NULL;
    if (!Ocr.Library && !LoadProductLibrary(&Ocr.Library, "KPOCR32.DLL")) {
        Ocr.Library = NULL;
        why = "the OCR library KPOCR32.DLL cannot be loaded";
    } else {
        Ocr.Open = (OcrOpenProc)(void (*)())Entry("OcrOpen");
        Ocr.ReadPage = (OcrReadPageProc)(void (*)())Entry("OcrReadPage");
        Ocr.FreeResult = (OcrFreeResultProc)(void (*)())Entry("OcrFreeResult");
        Ocr.Close = (OcrCloseProc)(void (*)())Entry("OcrClose");
        if (!Ocr.Open || !Ocr.ReadPage || !Ocr.FreeResult || !Ocr.Close) {
            why = "KPOCR32.DLL lacks an entry";
        } else if (!(Ocr.Engine = Ocr.Open(NULL))) {
            why = "KPOCR32.DLL cannot read its data DLL32\\tessdata\\eng.traineddata";
        }
    }
    if (why) {
        char line[200];
        snprintf(line, sizeof line, "Fax job: the PDF document goes without searchable text: %s.",
                 why);
        AppendLogLine(line);
        NoText = 1;
    }
}

DWORD WINAPI ReadPages(LPVOID) {
    while (WaitForSingleObject(PageHanded, INFINITE) == WAIT_OBJECT_0 && !StopReading) {
        if (!Ocr.Engine && !NoText) {
            OpenEngine();
        }
        OcrResult *words = NULL;
        if (Ocr.Engine &&
            Ocr.ReadPage(Ocr.Engine, &Handed.Image, &StopReading, &words) == OcrRead) {
            PageWords[Handed.Number] = words;
        }
        FreePixels(&Handed);
        SetEvent(ReaderIdle);
    }
    return 0;
}

// Waits until the reader has no page; a Stop meanwhile stops its reading.
void WaitForReader() {
    while (WaitForSingleObject(ReaderIdle, CancelPoll) == WAIT_TIMEOUT) {
        if (CancelRequested) {
            StopReading = 1;
        }
    }
}

int StartReader() {
    PageHanded = CreateEventA(NULL, FALSE, FALSE, NULL);
    ReaderIdle = CreateEventA(NULL, TRUE, TRUE, NULL);
    Reader = PageHanded && ReaderIdle ? CreateThread(NULL, 0, ReadPages, NULL, 0, NULL) : NULL;
    return Reader != NULL;
}

// Room for the words of page number: 1/0. Only while the reader has no page.
int MakeRoomForPage(WORD number) {
    if (number < PageWordsCount) {
        return 1;
    }
    WORD count = (WORD)(number + 1);
    SIZE_T size = count * sizeof *PageWords;
    OcrResult **grown =
        PageWords ? (OcrResult **)HeapReAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, PageWords, size)
                  : (OcrResult **)HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, size);
    if (!grown) {
        return 0;
    }
    PageWords = grown;
    PageWordsCount = count;
    return 1;
}

} // namespace

void BeginTextPage() {
    FreePixels(&Capturing);
    if (NoText) {
        return;
    }
    const ScanParameterRecord *scan = &ScanParameters;
    OcrPageImage *image = &Capturing.Image;
    image->Bits = scan->DataType == 0 ? 1 : 8;
    image->Width = (LONG)scan->PixelsPerLine;
    image->Height = (LONG)scan->Lines;
    image->Stride = image->Bits == 1 ? (image->Width + 7) / 8 : image->Width;
    image->DotsX = scan->ResolutionX;
    image->DotsY = scan->ResolutionY;
    SIZE_T size = (SIZE_T)image->Stride * (SIZE_T)image->Height;
    // A page without memory for its text goes without it.
    Capturing.Pixels = size && size / image->Stride == (SIZE_T)image->Height && size < 0x7FFFFFFF
                           ? (BYTE *)HeapAlloc(GetProcessHeap(), 0, size)
                           : NULL;
    image->Pixels = Capturing.Pixels;
}

void KeepTextLine(const BYTE *line, int number) {
    const OcrPageImage *image = &Capturing.Image;
    if (!Capturing.Pixels || number < 0 || number >= image->Height) {
        return;
    }
    BYTE *row = Capturing.Pixels + (SIZE_T)number * image->Stride;
    if (ScanParameters.DataType != 3) {
        CopyMemory(row, line, image->Stride);
        return;
    }
    for (LONG x = 0; x < image->Width; x++, line += 3) {
        row[x] = (BYTE)((114 * line[0] + 587 * line[1] + 299 * line[2] + 500) / 1000);
    }
}

void HandTextPage(WORD number) {
    if (!Capturing.Pixels) {
        return;
    }
    if (!Reader && !StartReader()) {
        FreePixels(&Capturing);
        return;
    }
    WaitForReader();
    if (NoText || StopReading || !MakeRoomForPage(number)) {
        FreePixels(&Capturing);
        return;
    }
    Handed = Capturing;
    Handed.Number = number;
    Capturing.Pixels = NULL;
    ResetEvent(ReaderIdle);
    SetEvent(PageHanded);
}

int WaitForPageText(OcrResult *const **words, DWORD pages) {
    *words = NULL;
    if (!Reader) {
        return 1;
    }
    if (WaitForSingleObject(ReaderIdle, 0) == WAIT_TIMEOUT) {
        ShowPanelText(LcdMessageLine, "Reading Text...");
    }
    WaitForReader();
    // A Stop while the last page's text is read ends the job as during a scan.
    if (CancelRequested) {
        return 0;
    }
    if (PageWords && pages && MakeRoomForPage((WORD)(pages - 1))) {
        *words = PageWords;
    }
    return 1;
}

void EndPageText() {
    if (Reader) {
        StopReading = 1;
        SetEvent(PageHanded);
        WaitForSingleObject(Reader, INFINITE);
        CloseHandle(Reader);
        Reader = NULL;
    }
    if (PageHanded) {
        CloseHandle(PageHanded);
    }
    if (ReaderIdle) {
        CloseHandle(ReaderIdle);
    }
    PageHanded = ReaderIdle = NULL;
    FreePixels(&Capturing);
    FreePixels(&Handed);
    for (WORD i = 0; i < PageWordsCount; i++) {
        if (PageWords[i]) {
            Ocr.FreeResult(PageWords[i]);
        }
    }
    if (PageWords) {
        HeapFree(GetProcessHeap(), 0, PageWords);
    }
    PageWords = NULL;
    PageWordsCount = 0;
    if (Ocr.Engine) {
        Ocr.Close(Ocr.Engine);
    }
    Ocr.Engine = NULL;
    StopReading = 0;
    NoText = 0;
}
