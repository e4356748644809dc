// KPOCR32.DLL: the words of a page image, read by Tesseract's LSTM engine
// (with leptonica, both linked in statically) behind the plain C interface
// of abi/ocr_abi.h, so that the program needs neither C++ library nor their
// headers and loads the engine only when a document needs a page's text.
//
// The engine is C++ and may throw (std::bad_alloc when memory runs out); no
// exception may leave a C entry, so each entry ends one as its failure.
#include <leptonica/allheaders.h>
#include <tesseract/baseapi.h>
#include <tesseract/ocrclass.h>
#include <tesseract/resultiterator.h>

#include <ctype.h>
#include <stdlib.h>
#include <string>
#include <vector>

#include "abi/ocr_abi.h"

namespace {

struct Engine {
    tesseract::TessBaseAPI Api;
};

HMODULE Self;

// tessdata\eng.traineddata in this library's folder, Unicode throughout.
int DefaultDataFile(WCHAR *path, DWORD size) {
    static const WCHAR Name[] = L"tessdata\\eng.traineddata";
    DWORD length = GetModuleFileNameW(Self, path, size);
    if (length == 0 || length >= size) {
        return 0;
    }
    WCHAR *slash = wcsrchr(path, L'\\');
    DWORD folder = slash ? (DWORD)(slash + 1 - path) : 0;
    if (folder + sizeof Name / sizeof *Name > size) {
        return 0;
    }
    memcpy(path + folder, Name, sizeof Name);
    return 1;
}

// The whole file in a heap block: its address and size, or null. The engine
// opens its data with narrow-character paths, which cannot name every folder,
// so the library reads the file itself and gives the engine the bytes.
char *ReadWholeFile(const WCHAR *path, DWORD *size) {
    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                              FILE_FLAG_SEQUENTIAL_SCAN, NULL);
    if (file == INVALID_HANDLE_VALUE) {
        return NULL;
    }
    DWORD high = 0, got = 0;
    *size = GetFileSize(file, &high);
    char *data = *size != INVALID_FILE_SIZE && !high && *size && *size < 0x40000000
                     ? (char *)HeapAlloc(GetProcessHeap(), 0, *size)
                     : NULL;
    if (data && (!ReadFile(file, data, *size, &got, NULL) || got != *size)) {
        HeapFree(GetProcessHeap(), 0, data);
        data = NULL;
    }
    CloseHandle(file);
    return data;
}

// The page as a leptonica image with square pixels: rows are repeated where
// the page has fewer dots per inch down than across. Null without memory.
Pix *PageAsPix(const OcrPageImage *page, int repeat) {
    Pix *pix = pixCreate(page->Width, page->Height * repeat, page->Bits);
    if (!pix) {
        return NULL;
    }
    pixSetResolution(pix, page->DotsX, page->DotsX);
    l_uint32 *data = pixGetData(pix);
    l_int32 wpl = pixGetWpl(pix);
    for (LONG y = 0; y < page->Height; y++) {
        const BYTE *row = page->Pixels + (size_t)y * page->Stride;
        l_uint32 *line = data + (size_t)y * repeat * wpl;
        if (page->Bits == 1) {
            // Leptonica's words hold their pixels from the most significant
            // bit, and its 1 is black.
            LONG bytes = (page->Width + 7) / 8;
            for (LONG x = 0; x < bytes; x++) {
                SET_DATA_BYTE(line, x, (BYTE)~row[x]);
            }
        } else {
            for (LONG x = 0; x < page->Width; x++) {
                SET_DATA_BYTE(line, x, row[x]);
            }
        }
        for (int copy = 1; copy < repeat; copy++) {
            memcpy(line + copy * wpl, line, (size_t)wpl * sizeof *line);
        }
    }
    // The last byte's bits beyond the width stay white.
    if (page->Bits == 1 && page->Width % 8) {
        pixSetPadBits(pix, 0);
    }
    return pix;
}

int Usable(const OcrPageImage *page, int *repeat) {
    if (!page || !page->Pixels || page->Width <= 0 || page->Height <= 0 || page->Width > 32000 ||
        page->Height > 32000 || (page->Bits != 1 && page->Bits != 8) || page->DotsX < 50 ||
        page->DotsY < 50 || page->DotsX > 2400 || page->DotsY > 2400 ||
        page->Stride < (page->Width * page->Bits + 7) / 8 || page->DotsX % page->DotsY) {
        return 0;
    }
    *repeat = (int)(page->DotsX / page->DotsY);
    return (LONGLONG)page->Height * *repeat <= 32000;
}

// Where the line's baseline lies at x, from its two ends.
double BaselineAt(int x, int x1, int y1, int x2, int y2) {
    return x2 == x1 ? y1 : y1 + (double)(y2 - y1) * (x - x1) / (x2 - x1);
}

// The words the engine found, as the library hands them out.
struct Collected {
    OcrResult Result;
    OcrWord *Words;
    DWORD Capacity;
    WCHAR *Text;
    DWORD TextUsed, TextCapacity;
};

template <typename T> int Grow(T **items, DWORD *capacity, DWORD needed) {
    if (needed <= *capacity) {
        return 1;
    }
    DWORD grown = *capacity ? *capacity * 2 : 256;
    while (grown < needed) {
        grown *= 2;
    }
    T *moved = *items ? (T *)HeapReAlloc(GetProcessHeap(), 0, *items, grown * sizeof(T))
                      : (T *)HeapAlloc(GetProcessHeap(), 0, grown * sizeof(T));
    if (!moved) {
        return 0;
    }
    *items = moved;
    *capacity = grown;
    return 1;
}

void FreeCollected(Collected *c) {
    if (c->Words) {
        HeapFree(GetProcessHeap(), 0, c->Words);
    }
    if (c->Text) {
        HeapFree(GetProcessHeap(), 0, c->Text);
    }
    HeapFree(GetProcessHeap(), 0, c);
}

// Adds one word: 1, or 0 without memory. `text` is UTF-8.
int AddWord(Collected *c, const char *text, const OcrWord *word) {
    int units = MultiByteToWideChar(CP_UTF8, 0, text, -1, NULL, 0);
    if (units <= 1 || units > 0x10000) {
        return 1; // nothing to search for
    }
    if (!Grow(&c->Words, &c->Capacity, c->Result.WordCount + 1) ||
        !Grow(&c->Text, &c->TextCapacity, c->TextUsed + (DWORD)units)) {
        return 0;
    }
    OcrWord *added = &c->Words[c->Result.WordCount++];
    *added = *word;
    added->Text = c->TextUsed;
    added->Length = (WORD)(units - 1);
    MultiByteToWideChar(CP_UTF8, 0, text, -1, c->Text + c->TextUsed, units);
    c->TextUsed += (DWORD)units;
    return 1;
}

// A word as the engine gave it, in the pixels of the image it read, with
// the extent of its line there.
struct Found {
    std::string Text;
    int Left, Top, Right, Bottom;
    double LineTop, LineBottom;
    LONG Confidence;
    WORD StartsLine;
};

// 1 for a punctuation mark or symbol of ASCII, or any byte of a character
// beyond it (quotes, dashes).
int Mark(char c) {
    return (BYTE)c >= 0x80 || (ispunct((BYTE)c) != 0);
}

// Fits each word's box to the ink of its letters. The engine's box of a
// word can miss part of a letter, take in a speck of noise, or take a letter
// of the word beside it. Each connected piece of ink of the image the
// engine read (as it thresholded it) goes to the word that holds it whole,
// else to the nearest one it stands beside (the box it reaches into, or is
// closest to; of two it reaches into, the one whose middle is nearest its
// own), and a word's box becomes the
// box of its pieces. Pieces smaller than a twelfth of the word's height
// squared are noise (a full stop is larger); a word without pieces keeps its box.
void FitToInk(std::vector<Found> &words, tesseract::TessBaseAPI *api) {
    Pix *binary = api->GetThresholdedImageScaleFactor() == 1 ? api->GetThresholdedImage() : NULL;
    Boxa *pieces = binary ? pixConnCompBB(binary, 8) : NULL;
    int count = pieces ? boxaGetCount(pieces) : 0;
    std::vector<Found> fitted = words;
    std::vector<int> taken(words.size());
    for (int p = 0; p < count; p++) {
        l_int32 x, y, w, h;
        boxaGetBoxGeometry(pieces, p, &x, &y, &w, &h);
        int best = -1, bestWhole = 0, bestGap = 0, bestDistance = 0;
        for (size_t i = 0; i < words.size(); i++) {
            const Found *word = &words[i];
            int tall = word->Bottom - word->Top, reach = tall / 2;
            // Beside the word on its line: its middle within the word's
            // height, its extent within half a height of the word's.
            if (tall <= 0 || w * h < (tall / 12) * (tall / 12) || 2 * y + h < 2 * word->Top ||
                2 * y + h > 2 * word->Bottom || x + w <= word->Left - reach ||
                x >= word->Right + reach) {
                continue;
            }
            // Outside the box, what is smaller than a letter is noise
            // unless the word begins or ends with a mark on that side.
            int before = x + w <= word->Left, after = x >= word->Right;
            if ((before || after) && w * h < (tall / 5) * (tall / 5) &&
                !(before && Mark(word->Text.front())) && !(after && Mark(word->Text.back()))) {
                continue;
            }
            int whole =
                x >= word->Left && x + w <= word->Right && y >= word->Top && y + h <= word->Bottom;
            int gap = x >= word->Right      ? x - word->Right
                      : word->Left >= x + w ? word->Left - x - w
                                            : 0;
            int distance = abs(2 * x + w - word->Left - word->Right);
            if (best < 0 || whole > bestWhole ||
                (whole == bestWhole &&
                 (gap < bestGap || (gap == bestGap && distance < bestDistance)))) {
                best = (int)i;
                bestWhole = whole;
                bestGap = gap;
                bestDistance = distance;
            }
        }
        if (best < 0) {
            continue;
        }
        Found *word = &fitted[(size_t)best];
        if (!taken[(size_t)best]) {
            word->Left = x;
            word->Top = y;
            word->Right = x + w;
            word->Bottom = y + h;
        } else {
            word->Left = x < word->Left ? x : word->Left;
            word->Top = y < word->Top ? y : word->Top;
            word->Right = x + w > word->Right ? x + w : word->Right;
            word->Bottom = y + h > word->Bottom ? y + h : word->Bottom;
        }
        taken[(size_t)best] = 1;
    }
    boxaDestroy(&pieces);
    pixDestroy(&binary);
    words = fitted;
}

// The engine's words in reading order, each with its line's extent.
void FindWords(tesseract::TessBaseAPI *api, std::vector<Found> &words) {
    const tesseract::PageIteratorLevel Word = tesseract::RIL_WORD;
    tesseract::ResultIterator *it = api->GetIterator();
    for (int more = it != NULL; more; more = it->Next(Word)) {
        if (it->Empty(Word)) {
            continue;
        }
        Found w;
        it->BoundingBox(Word, &w.Left, &w.Top, &w.Right, &w.Bottom);
        float height, descenders, ascenders;
        it->RowAttributes(&height, &descenders, &ascenders);
        // The line's baseline under the word, then its letters' extent about it.
        int x1, y1, x2, y2;
        double base = it->Baseline(tesseract::RIL_TEXTLINE, &x1, &y1, &x2, &y2)
                          ? BaselineAt((w.Left + w.Right) / 2, x1, y1, x2, y2)
                          : w.Bottom;
        w.LineTop = base - (height + descenders);
        w.LineBottom = base - descenders;
        w.Confidence = (LONG)(it->Confidence(Word) + 0.5f);
        w.StartsLine = it->IsAtBeginningOf(tesseract::RIL_TEXTLINE) ? 1 : 0;
        char *text = it->GetUTF8Text(Word);
        w.Text = text ? text : "";
        delete[] text;
        words.push_back(w);
    }
    delete it;
}

// The words as the library hands them out; `repeat` undoes the repeated
// rows. Null without memory.
Collected *CollectWords(tesseract::TessBaseAPI *api, int repeat) {
    std::vector<Found> words;
    FindWords(api, words);
    FitToInk(words, api);
    Collected *c = (Collected *)HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof *c);
    for (size_t i = 0; c && i < words.size(); i++) {
        const Found *w = &words[i];
        OcrWord word = {};
        // A line the engine measured oddly about a word keeps the word's box.
        int tall = w->Bottom - w->Top;
        double top = w->LineTop < w->Top && w->LineTop > w->Top - tall ? w->LineTop : w->Top;
        double bottom = w->LineBottom > w->Bottom && w->LineBottom < w->Bottom + tall
                            ? w->LineBottom
                            : w->Bottom;
        word.Left = w->Left;
        word.Right = w->Right;
        word.Top = w->Top / repeat;
        word.Bottom = (w->Bottom + repeat - 1) / repeat;
        word.LineTop = (LONG)(top + 0.5) / repeat;
        word.LineBottom = ((LONG)(bottom + 0.5) + repeat - 1) / repeat;
        word.Confidence = w->Confidence;
        word.StartsLine = w->StartsLine;
        if (!AddWord(c, w->Text.c_str(), &word)) {
            FreeCollected(c);
            return NULL;
        }
    }
    if (c) {
        c->Result.Words = c->Words;
        c->Result.Text = c->Text ? c->Text : L"";
    }
    return c;
}

// The page image while the engine reads it; also when the engine throws.
struct HeldPix {
    Pix *Image;
    ~HeldPix() { pixDestroy(&Image); }
};

bool StopAsked(void *stop, int) {
    return *(const volatile LONG *)stop != 0;
}

int ReadPage(Engine *engine, const OcrPageImage *page, const volatile LONG *stop,
             OcrResult **result) {
    int repeat;
    if (!Usable(page, &repeat)) {
        return OcrBadImage;
    }
    HeldPix pix = {PageAsPix(page, repeat)};
    if (!pix.Image) {
        return OcrNoMemory;
    }
    tesseract::TessBaseAPI *api = &engine->Api;
    api->SetImage(pix.Image);
    api->SetSourceResolution((int)page->DotsX);
    tesseract::ETEXT_DESC monitor;
    if (stop) {
        monitor.cancel = StopAsked;
        monitor.cancel_this = (void *)stop;
    }
    int outcome = api->Recognize(&monitor) == 0 ? OcrRead : OcrFailed;
    if (stop && *stop) {
        outcome = OcrStopped;
    }
    Collected *words = outcome == OcrRead ? CollectWords(api, repeat) : NULL;
    if (outcome == OcrRead && !words) {
        outcome = OcrNoMemory;
    }
    // The engine's copy of the page and what it made of it go at once.
    api->Clear();
    *result = words ? &words->Result : NULL;
    return outcome;
}

} // namespace

extern "C" {

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        // The thread notifications stay on: the threads library linked in
        // releases what it keeps for a thread when the thread ends.
        Self = instance;
        // Leptonica reports on the console what the engine tolerates anyway.
        setMsgSeverity(L_SEVERITY_NONE);
    }
    return TRUE;
}

void *WINAPI OcrOpen(const WCHAR *dataFile) {
    WCHAR own[MAX_PATH * 2];
    if (!dataFile && !DefaultDataFile(own, sizeof own / sizeof *own)) {
        return NULL;
    }
    DWORD size = 0;
    char *data = ReadWholeFile(dataFile ? dataFile : own, &size);
    if (!data) {
        return NULL;
    }
    Engine *engine = NULL;
    try {
        engine = new Engine;
        if (engine->Api.Init(data, (int)size, "eng", tesseract::OEM_LSTM_ONLY, NULL, 0, NULL, NULL,
                             false, NULL) != 0) {
            delete engine;
            engine = NULL;
        }
    } catch (...) {
        delete engine;
        engine = NULL;
    }
    // The engine keeps a copy of what it uses.
    HeapFree(GetProcessHeap(), 0, data);
    if (engine) {
        engine->Api.SetPageSegMode(tesseract::PSM_AUTO);
    }
    return engine;
}

int WINAPI OcrReadPage(void *engine, const OcrPageImage *page, const volatile LONG *stop,
                       OcrResult **result) {
    if (!result) {
        return OcrBadImage;
    }
    *result = NULL;
    if (!engine) {
        return OcrBadImage;
    }
    try {
        return ReadPage((Engine *)engine, page, stop, result);
    } catch (...) {
        ((Engine *)engine)->Api.Clear();
        return OcrNoMemory;
    }
}

void WINAPI OcrFreeResult(OcrResult *result) {
    if (result) {
        FreeCollected((Collected *)result); // the result is the record's first member
    }
}

void WINAPI OcrClose(void *engine) {
    try {
        delete (Engine *)engine;
        // Dictionaries the engine keeps for later engines of the process.
        tesseract::TessBaseAPI::ClearPersistentCache();
    } catch (...) {
    }
}

} // extern "C"
