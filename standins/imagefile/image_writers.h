// The two page writers of accugnt5.dll and the file helpers they share. Each
// writer returns a WriteImageFile result (abi/image_file_abi.h); the caller cuts the file
// back on failure.
#pragma once
#include "abi/image_file_abi.h"

// Bytes of one DIB row: biWidth x biBitCount bits rounded up to a multiple of 4.
DWORD RowBytes(const BITMAPINFOHEADER *header);
// Writes all bytes at the file's current position. 1/0.
int WriteBytes(HANDLE file, const void *data, DWORD size);
// Writes bytes at an offset from the file's start. 1/0.
int WriteBytesAt(HANDLE file, DWORD offset, const void *data, DWORD size);

// Format 9: one CCITT T.6 strip, WhiteIsZero, resolution from the header.
int WriteTiffG4(HANDLE file, const BITMAPINFOHEADER *header, ImageLineProc callback, void *source);
// Format 13: baseline JFIF through libjpeg-turbo at the given quality (1..100).
int WriteJpeg(HANDLE file, const BITMAPINFOHEADER *header, ImageLineProc callback, void *source,
              int quality);
