// Binary interface of the OCR library KPOCR32.DLL: four entries by name, all
// WINAPI (stdcall). It reads the words of a page image; the program loads it
// when a PDF document first needs a page's text.
#pragma once
#include <stddef.h>
#include <windows.h>

// A page image, its top row first.
struct OcrPageImage {
    const BYTE *Pixels;
    LONG Width;  // pixels
    LONG Height; //
    LONG Stride; // bytes from one row to the next
    LONG Bits;   // 1 (most significant bit first, 1 is white) or 8 (grey, 255 is white)
    LONG DotsX;  // resolution, dots per inch
    LONG DotsY;  //
};

// One word that was read, in pixels of the page image (left and top
// inclusive, right and bottom exclusive).
struct OcrWord {
    LONG Left, Top, Right, Bottom; // the box of the word's ink
    // The line's extent where the word stands, from the top of its tallest
    // letters to the bottom of its descenders: one height for every word of
    // a line, whichever letters each has.
    LONG LineTop, LineBottom;
    LONG Confidence; // 0..100
    DWORD Text;      // offset in OcrResult::Text of the word, UTF-16, NUL-terminated
    WORD Length;     // its UTF-16 units
    WORD StartsLine; // 1 for the first word of a line
};

// The words of a page in reading order; made by OcrReadPage and freed only
// by OcrFreeResult.
struct OcrResult {
    DWORD WordCount;
    const OcrWord *Words;
    const WCHAR *Text;
};

static_assert(sizeof(OcrWord) == 36, "OcrWord layout");
static_assert(offsetof(OcrWord, Text) == 28, "OcrWord layout");
static_assert(sizeof(OcrPageImage) == (sizeof(void *) == 8 ? 32 : 28), "OcrPageImage layout");
static_assert(sizeof(OcrResult) == (sizeof(void *) == 8 ? 24 : 12), "OcrResult layout");

// OcrReadPage results; 0 is success.
enum : int {
    OcrRead = 0,
    OcrBadImage = 1, // a size, stride, depth or resolution the engine cannot take
    OcrNoMemory = 2,
    OcrFailed = 3,  // the engine could not read the page
    OcrStopped = 4, // *stop became non-zero while the engine read
};

// Opens an engine with the language data file `dataFile`, or with
// tessdata\eng.traineddata beside the library when it is null (the path is
// Unicode: any folder name will do). Null when the file cannot be read or
// the engine refuses it.
typedef void *(WINAPI *OcrOpenProc)(const WCHAR *dataFile);
// Reads the words of a page: OcrRead with *result set, or why not with
// *result null. The engine looks at *stop (when given) between words and
// gives up when it is non-zero. One engine reads one page at a time.
typedef int(WINAPI *OcrReadPageProc)(void *engine, const OcrPageImage *page,
                                     const volatile LONG *stop, OcrResult **result);
typedef void(WINAPI *OcrFreeResultProc)(OcrResult *result);
// Closes the engine and gives back all memory the library took for it.
typedef void(WINAPI *OcrCloseProc)(void *engine);
