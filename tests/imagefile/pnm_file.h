// Raw PBM/PGM/PPM copies of pages held in DIB row format, for the native
// decoders and coders the tests and benchmarks compare against.
#pragma once
#include <windows.h>

// Writes `height` rows of `stride` bytes: 1 bit (1 = white, as the scanner
// delivers them) as PBM, 8-bit grey as PGM, 24-bit B,G,R as PPM. 1/0.
int WritePnmFile(const char *path, LONG width, LONG height, int bits, DWORD stride,
                 const BYTE *pixels);
