// Page files for the scanner tests: made in the temporary directory with the
// scanner's own BMP writer or written byte by byte, and removed again.
#pragma once
#include "page_image.h"
#include <string>
#include <vector>

struct Rgb {
    BYTE R, G, B;
};

// A file name in the temporary directory.
std::string TempPath(const char *name);
// Writes a 24-bit page of width x height pixels whose pixel (x, y) is shade(x, y).
void WriteColourPage(const std::string &path, LONG width, LONG height, LONG dpi,
                     Rgb (*shade)(LONG x, LONG y));
void WriteBytes(const std::string &path, const std::string &bytes);
// Row y of a page as the reader decodes it: B, G, R per pixel.
std::vector<BYTE> DecodeRow(PageImage *page, LONG y);
