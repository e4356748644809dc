// Binary interface of the image-file library accugnt5.dll: two entries looked up
// by ordinal, both WINAPI (stdcall), as is the line callback the writer calls.
#pragma once
#include <windows.h>

// The page header is Windows' own DIB header, the same 40 bytes in every build;
// the callback and its source are the only addresses that cross.
static_assert(sizeof(BITMAPINFOHEADER) == 40, "DIB header layout");

// Entry ordinals.
constexpr WORD WriteImageFileOrdinal = 15;
constexpr WORD SetImageOptionOrdinal = 40;

// Formats WriteImageFile knows.
constexpr int ImageFormatTiffG4 = 9; // 1-bit page, CCITT T.6, one strip
constexpr int ImageFormatJpeg = 13;  // 8-bit grey or 24-bit B,G,R page

// WriteImageFile results; 0 is success, every other value a failure.
constexpr int ImageWritten = 0;
constexpr int ImageBadArguments = 1; // unknown format or a header the format cannot take
constexpr int ImageLineRefused = 2;  // the line callback returned a negative value
constexpr int ImageWriteFailed = 3;  // the file could not be written
constexpr int ImageNoMemory = 4;
constexpr int ImageEncoderFailed = 5; // the JPEG encoder could not be had or failed

// Fills destination with line `line` of the page (0 = top) and returns 0, or a
// negative value to stop the writer. The destination holds one DIB row:
// biWidth x biBitCount bits rounded up to a multiple of 4 bytes.
typedef int(WINAPI *ImageLineProc)(void *source, BYTE *destination, int line);

// Ordinal 15: writes one image of biHeight lines of biWidth pixels into `file`
// (a handle from _lcreat, written from its start), asking the callback for lines
// 0, 1, 2, ... each once. The header is a DIB header followed by its palette;
// biXPelsPerMeter and biYPelsPerMeter carry dots per inch. On failure the file is
// cut back to 0 bytes.
typedef int(WINAPI *WriteImageFileProc)(HFILE file, const BITMAPINFOHEADER *header, int format,
                                        ImageLineProc callback, void *source);
// Ordinal 40: JPEG quality 1..100 for the pages written after it (80 until set).
// Returns 0, or non-zero for a value out of range (the quality stays as it was).
typedef int(WINAPI *SetImageOptionProc)(int value);
