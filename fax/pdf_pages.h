// The JPEG reader behind ReadPageImage (pdf_jpeg.cpp).
#pragma once
#include "fax/pdf_document.h"

// Reads a JPEG page file of size bytes from its start: PdfWritten or a refusal.
int ReadJpegPage(HANDLE file, DWORD size, PdfPageImage *page);
