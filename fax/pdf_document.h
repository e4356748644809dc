// One PDF/A-2b document from the page files of a job: each page's Group 4
// strip or JPEG goes into the document as it is, never decoded. Needs no
// window: the fax job, the tests, the benchmark and the fuzz target call it
// directly.
#pragma once
#include <windows.h>

#include "abi/ocr_abi.h"

// What became of a page file or of the document: 0, or why it was refused.
enum PdfOutcome : int {
    PdfWritten = 0,
    PdfPageUnreadable,   // the page file cannot be opened or read
    PdfPageUnknown,      // neither a TIFF nor a JPEG file
    PdfPageDamaged,      // its structure contradicts itself or the file's length
    PdfTiffNotOneStrip,  // more than one strip, a tiled image or more than one image
    PdfTiffNotGroup4,    // another compression
    PdfTiffNotBilevel,   // not one bit of black and white, first pixel in the high bit, upright
    PdfJpegNotDct,       // neither baseline nor progressive DCT of 8-bit samples
    PdfJpegNotGreyOrRgb, // neither one nor three components
    PdfPageNoResolution, // the file gives no resolution in dots per inch or centimetre
    PdfPageSizeRefused,  // a side of the page below 3 or above 14400 points
    PdfNoMemory,
    PdfWriteFailed, // the document could not be written or moved into place
    PdfOutcomeCount
};
extern const char *const PdfOutcomeTexts[PdfOutcomeCount];

enum : WORD { PdfPageG4 = 1, PdfPageJpeg = 2 };

// A page file as the document takes it.
struct PdfPageImage {
    WORD Kind;        // PdfPageG4 or PdfPageJpeg
    WORD Components;  // 1 black and white or grey, 3 colour
    WORD BlackIs1;    // Group 4: a decoded 1 bit is black (the TIFF's photometric is 1)
    DWORD Width;      // pixels
    DWORD Height;     // pixels
    double DotsX;     // resolution, dots per inch
    double DotsY;     //
    DWORD DataOffset; // where the image data lie in the file: the strip, or the whole JPEG
    DWORD DataSize;   //
};

// Reads what a page file holds, from its start: PdfWritten or a refusal.
int ReadPageImage(HANDLE file, PdfPageImage *page);

// What the document is made with besides its pages.
struct PdfDocumentRecord {
    const char *Title;         // the document's title
    const char *Creator;       // the program that made it
    const BYTE *ColourProfile; // the sRGB profile of the output intent, zlib-compressed
    DWORD ColourProfileSize;   //
    // The words of each page, laid over it as invisible text; null, or a
    // page's entry null, for none.
    OcrResult *const *PageText;
};

// Writes one document of pageCount pages from the page files named in
// pagePaths (NUL-terminated paths one after another) into target. It is
// written under a temporary name in the target's folder and then moved to
// target, so that a refusal or a failed write leaves target as it was and no
// other file behind. PdfWritten, or why not.
int WritePdfDocument(const char *target, const char *pagePaths, DWORD pageCount,
                     const PdfDocumentRecord *record);
