// Synthetic pages for the image-file library tests: held whole in DIB row
// format as the fax job's page buffer would deliver them, served line by line
// through a callback that records what the writer asked for.
#pragma once
#include "abi/image_file_abi.h"
#include <string>
#include <vector>

struct TestPage {
    LONG Width;
    LONG Height;
    int Bits;                 // 1 (bit 1 = white), 8 grey or 24 B,G,R
    DWORD Stride;             // bytes of one row, a multiple of 4
    std::vector<BYTE> Pixels; // Height rows, top first
    LONG DpiX, DpiY;          // carried in the header as they are
    int FailAt = -1;          // the callback refuses this line
    std::vector<int> Asked;   // lines the writer asked for, in order
};

// A white (or mid-grey) page; 1-bit rows keep their padding bits 0, as the scanner does.
TestPage MakePage(LONG width, LONG height, int bits, LONG dpiX, LONG dpiY);
void SetBlack(TestPage *page, LONG x, LONG y);
bool IsBlack(const TestPage &page, LONG x, LONG y);
void FillRun(TestPage *page, LONG y, LONG x, LONG length, bool black);
BYTE *Row(TestPage *page, LONG y);

// The callback given to the writer; source is a TestPage.
int WINAPI SupplyTestLine(void *source, BYTE *destination, int line);

// Calls ordinal 15 on a file made with _lcreat, as the fax job does; the result.
int WritePageFile(const std::string &path, TestPage *page, int format);
// Calls ordinal 15 on a file the caller opened; the result.
int WritePageTo(HFILE file, TestPage *page, int format);
// Sets the JPEG quality through ordinal 40; its result.
int SetQuality(int value);

// Folder in the temporary directory that the native check reads.
std::string OutputPath(const std::string &name);
// Writes the page's raw reference (PBM, PGM or PPM) beside the image file and
// lists both for the native check, which allows a mean difference of
// `tolerance` levels (0: bit for bit) and wants a JPEG file coded at `quality`
// to be cjpeg's, byte for byte, for the reference at that quality.
void RecordForCheck(const std::string &image, const TestPage &page, int tolerance, int quality = 0);
DWORD FileBytes(const std::string &path);
