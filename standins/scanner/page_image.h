// Page image files of the virtual scanner's feeder: a reader that decodes
// one row at a time straight from the file (BMP and binary PNM have a fixed
// row stride, so a whole page never sits in memory) and a BMP writer.
#pragma once
#include <windows.h>

struct PageImage {
    HANDLE File;
    LONG Width; // pixels
    LONG Height;
    LONG ResolutionX; // dpi
    LONG ResolutionY;
    int StoredBits;   // 1, 4, 8 (palette indexes), 24 or 32 per stored pixel
    int RgbOrder;     // 24-bit samples stored red first (PNM)
    int BottomUp;     // first stored row is the bottom row (BMP)
    DWORD DataOffset; // file offset of the first stored row
    DWORD Stride;     // bytes between stored rows
    RGBQUAD Palette[256];
    BYTE Levels[256]; // stored sample to 0..255 (PNM maximum values below 255)
    BYTE *Whole;      // ASCII PNM, decoded whole as B,G,R rows; else NULL
    BYTE *Chunk;      // a few stored rows read ahead in one go, in file order
    LONG ChunkRows;   // rows the chunk can hold
    LONG ChunkFirst;  // file row at the chunk's start
    DWORD ChunkBytes; // bytes read into the chunk
};

enum : LONG {
    // Pages are at most this many pixels each way (436 inches at 2400 dpi), so a
    // row is at most 4 MiB, even in the 32-bit build.
    PageSideLimit = 1 << 20,
    // ASCII PNM pages are decoded whole: up to this many pixels.
    AsciiPagePixelLimit = 1 << 22,
};

// Opens a BMP (uncompressed 1, 4, 8, 24, 32 bits) or PNM (P1..P6, maximum value up to
// 255). 1 opened, 0 unreadable or unsupported (nothing stays open).
int OpenPageImage(const char *path, PageImage *page);
// Decodes row y (0 = top) into Width pixels of B, G, R bytes. 1/0.
int ReadPageRow(PageImage *page, LONG y, BYTE *bgr);
void ClosePageImage(PageImage *page);

// A raster in BMP row format, rows top-down: 1 bit (most significant first, 1 = white),
// 8 bit grey, 24 bit B,G,R or 32 bit B,G,R,unused.
struct RasterImage {
    LONG Width;
    LONG Height;
    int BitsPerPixel;
    LONG Stride; // bytes between rows in Pixels
    const BYTE *Pixels;
    LONG Dpi;    // 0 leaves the file's resolution unset
    int TopDown; // write a top-down BMP (negative height) instead of bottom-up
};

// Bytes of one DIB row: a multiple of 4. Rows of more than 4 GiB do not fit.
DWORD DibStride(LONG width, int bitsPerPixel);
// Writes an uncompressed BMP; 1-bit gets the black/white palette, 8-bit the grey ramp. 1/0.
int WriteBmpFile(const char *path, const RasterImage *image);
