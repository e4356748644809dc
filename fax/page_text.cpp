// The text of a searchable document's pages. Each page's lines are kept as
// the image-file writer takes them (colour as grey), and once the page file
// is whole a reader thread has the OCR library KPOCR32.DLL read them while
// the job scans the next page. There is a reader for each of the first two
// processors, each with an engine of its own, so that a scanner faster than
// the reading does not wait for it page after page; a job waits only when
// every reader is busy, and at its end for the last pages. The library is
// loaded for the first page that needs it, the engines opened for each job
// and closed with all they took when the job ends; the library itself
// stays, as the threads library linked into it keeps four handles that
// unloading it would not give back. Without the library or its data the
// pages go without text: one line in the log, never a failed job.
#include <stdio.h>

#include "abi/ocr_abi.h"
#include "app/settings.h"
#include "fax/fax_job.h"
#include "panel/panel.h"
#include "panel/panel_state.h"

namespace {

enum : DWORD { CancelPoll = 100, MostReaders = 2 }; // ms between looks at the Stop key

struct OcrBinding {
    HMODULE Library; // loaded from the first page that needs it on
    OcrOpenProc Open;
    OcrReadPageProc ReadPage;
    OcrFreeResultProc FreeResult;
    OcrCloseProc Close;
};

// A page's pixels as a reader takes them.
struct TextPage {
    BYTE *Pixels;
    OcrPageImage Image;
    WORD Number; // its place in the job, from 0
};

struct Reader {
    HANDLE Thread;
    HANDLE PageHanded; // auto-reset: a page waits for the reader, or the reader is to end
    HANDLE Idle;       // manual-reset: the reader has no page
    TextPage Page;     // the page it reads
    void *Engine;      // open from its first page to the job's end
};

OcrBinding Ocr;
TextPage Capturing; // the page being scanned, while its lines are kept
Reader Readers[MostReaders];
DWORD ReaderCount; // readers started in this job
volatile LONG StopReading;
volatile LONG NoText;  // the library or its data cannot be had: the job goes on without text
OcrResult **PageWords; // each page's words, or null
DWORD PageWordsCount;  // entries PageWords has room for

void FreePixels(TextPage *page) {
    if (page->Pixels) {
        HeapFree(GetProcessHeap(), 0, page->Pixels);
    }
    page->Pixels = NULL;
}

// The job goes on without text; the log says why, once a job.
void GoWithoutText(const char *why) {
    if (InterlockedExchange(&NoText, 1) == 0) {
        char line[200];
        snprintf(line, sizeof line, "Fax job: the PDF document goes without searchable text: %s.",
                 why);
        AppendLogLine(line);
    }
}

// The library, once: 1, or 0 with the job going without text. A library
// without every entry is let go again, so that the next job neither calls
// what it lacks nor keeps a damaged file loaded.
int BindLibrary() {
    if (Ocr.Library) {
        return 1;
    }
    HMODULE library;
    if (!LoadProductLibrary(&library, "KPOCR32.DLL")) {
        GoWithoutText("the OCR library KPOCR32.DLL cannot be loaded");
        return 0;
    }
    OcrBinding bound = {
        library,
        (OcrOpenProc)(void (*)())GetProcAddress(library, "OcrOpen"),
        (OcrReadPageProc)(void (*)())GetProcAddress(library, "OcrReadPage"),
        (OcrFreeResultProc)(void (*)())GetProcAddress(library, "OcrFreeResult"),
        (OcrCloseProc)(void (*)())GetProcAddress(library, "OcrClose"),
    };
    if (!bound.Open || !bound.ReadPage || !bound.FreeResult || !bound.Close) {
        FreeLibrary(library);
        GoWithoutText("KPOCR32.DLL lacks an entry");
        return 0;
    }
    Ocr = bound;
    return 1;
}

// Reads each page handed to it until it is handed none. A page handed after
// a Stop is only given back: whoever waits for the reader to be idle must
// see it so, however late the reader wakes.
DWORD WINAPI ReadPages(LPVOID parameter) {
    Reader *reader = (Reader *)parameter;
    while (WaitForSingleObject(reader->PageHanded, INFINITE) == WAIT_OBJECT_0 &&
           reader->Page.Pixels) {
        if (!StopReading && !reader->Engine && !NoText && !(reader->Engine = Ocr.Open(NULL))) {
            GoWithoutText("KPOCR32.DLL cannot read its data DLL32\\tessdata\\eng.traineddata");
        }
        OcrResult *words = NULL;
        if (!StopReading && reader->Engine && !NoText &&
            Ocr.ReadPage(reader->Engine, &reader->Page.Image, &StopReading, &words) == OcrRead) {
            PageWords[reader->Page.Number] = words;
        }
        FreePixels(&reader->Page);
        SetEvent(reader->Idle);
    }
    return 0;
}

int StartReader(Reader *reader) {
    reader->PageHanded = CreateEventA(NULL, FALSE, FALSE, NULL);
    reader->Idle = CreateEventA(NULL, TRUE, TRUE, NULL);
    reader->Thread = reader->PageHanded && reader->Idle
                         ? CreateThread(NULL, 0, ReadPages, reader, 0, NULL)
                         : NULL;
    return reader->Thread != NULL;
}

// A reader with no page, starting one more while the processors allow; it
// waits while every reader is busy, and a Stop meanwhile stops their
// reading. Null when no reader can be had.
Reader *IdleReader() {
    SYSTEM_INFO system;
    GetSystemInfo(&system);
    DWORD most =
        system.dwNumberOfProcessors < MostReaders ? system.dwNumberOfProcessors : MostReaders;
    HANDLE idle[MostReaders];
    for (DWORD i = 0; i < ReaderCount; i++) {
        if (WaitForSingleObject(Readers[i].Idle, 0) == WAIT_OBJECT_0) {
            return &Readers[i];
        }
        idle[i] = Readers[i].Idle;
    }
    if (ReaderCount < most || ReaderCount == 0) {
        Reader *reader = &Readers[ReaderCount];
        if (StartReader(reader)) {
            ReaderCount++;
            return reader;
        }
        if (reader->PageHanded) {
            CloseHandle(reader->PageHanded);
        }
        if (reader->Idle) {
            CloseHandle(reader->Idle);
        }
        ZeroMemory(reader, sizeof *reader);
        if (!ReaderCount) {
            return NULL;
        }
    }
    DWORD which;
    while ((which = WaitForMultipleObjects(ReaderCount, idle, FALSE, CancelPoll)) == WAIT_TIMEOUT) {
        if (CancelRequested) {
            StopReading = 1;
        }
    }
    return which < WAIT_OBJECT_0 + ReaderCount ? &Readers[which - WAIT_OBJECT_0] : NULL;
}

// Waits until no reader has a page; a Stop meanwhile stops their reading.
void WaitForReaders() {
    HANDLE idle[MostReaders];
    for (DWORD i = 0; i < ReaderCount; i++) {
        idle[i] = Readers[i].Idle;
    }
    while (ReaderCount &&
           WaitForMultipleObjects(ReaderCount, idle, TRUE, CancelPoll) == WAIT_TIMEOUT) {
        if (CancelRequested) {
            StopReading = 1;
        }
    }
}

// Room for the words of page number: 1/0. The list moves when it grows, so
// it grows only once no reader has a page, and then for 64 pages or more.
int MakeRoomForPage(WORD number) {
    if (number < PageWordsCount) {
        return 1;
    }
    WaitForReaders();
    DWORD count = PageWordsCount ? 2 * PageWordsCount : 64;
    count = count > number ? count : number + 1u;
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
    Reader *reader = !NoText && BindLibrary() && MakeRoomForPage(number) ? IdleReader() : NULL;
    if (!reader || NoText || StopReading) {
        FreePixels(&Capturing);
        return;
    }
    reader->Page = Capturing;
    reader->Page.Number = number;
    Capturing.Pixels = NULL;
    ResetEvent(reader->Idle);
    SetEvent(reader->PageHanded);
}

int WaitForPageText(OcrResult *const **words, DWORD pages) {
    *words = NULL;
    if (!ReaderCount) {
        return 1;
    }
    for (DWORD i = 0; i < ReaderCount; i++) {
        if (WaitForSingleObject(Readers[i].Idle, 0) == WAIT_TIMEOUT) {
            ShowPanelText(LcdMessageLine, "Reading Text...");
            break;
        }
    }
    WaitForReaders();
    // A Stop while the last pages' text is read ends the job as during a scan.
    if (CancelRequested) {
        return 0;
    }
    if (PageWords && pages && MakeRoomForPage((WORD)(pages - 1))) {
        *words = PageWords;
    }
    return 1;
}

void EndPageText() {
    StopReading = 1;
    for (DWORD i = 0; i < ReaderCount; i++) {
        Reader *reader = &Readers[i];
        // No page: the reader ends once it has given back the one it has.
        SetEvent(reader->PageHanded);
        WaitForSingleObject(reader->Thread, INFINITE);
        CloseHandle(reader->Thread);
        CloseHandle(reader->PageHanded);
        CloseHandle(reader->Idle);
        FreePixels(&reader->Page);
        if (reader->Engine) {
            Ocr.Close(reader->Engine);
        }
        ZeroMemory(reader, sizeof *reader);
    }
    ReaderCount = 0;
    FreePixels(&Capturing);
    for (DWORD i = 0; i < PageWordsCount; i++) {
        if (PageWords[i]) {
            Ocr.FreeResult(PageWords[i]);
        }
    }
    if (PageWords) {
        HeapFree(GetProcessHeap(), 0, PageWords);
    }
    PageWords = NULL;
    PageWordsCount = 0;
    StopReading = 0;
    NoText = 0;
}
