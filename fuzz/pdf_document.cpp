// A page file as a job could hand it to the PDF writer: the reader either
// refuses it, and then no document and no file of the writer's is left, or
// takes a page of sane size whose image data lie inside the file, and the
// document of that page twice holds those data byte for byte, with every
// object where its cross-reference entry points. The document is kept for
// `qpdf --check` (scripts/fuzz.sh).
//
// Input: the page file's bytes, TIFF or JPEG.
#include "fax/pdf_document.h"
#include "fuzz/exercise.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

namespace {

// An empty zlib stream stands for the colour profile: a valid Flate stream.
const BYTE EmptyProfile[] = {0x78, 0x9C, 0x03, 0x00, 0x00, 0x00, 0x00, 0x01};

int Exists(const char *path) {
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, NULL);
    if (file != INVALID_HANDLE_VALUE) {
        CloseHandle(file);
    }
    return file != INVALID_HANDLE_VALUE;
}

// The first occurrence of text in bytes from..end (binary data between), or null.
const char *Find(const char *from, const char *end, const char *text) {
    size_t length = strlen(text);
    for (const char *at = from; at + length <= end; at++) {
        if (memcmp(at, text, length) == 0) {
            return at;
        }
    }
    return NULL;
}

const char *CheckPage(const PdfPageImage *page, DWORD size) {
    if (page->Width == 0 || page->Height == 0 || page->DataSize == 0 || page->DataOffset > size ||
        page->DataSize > size - page->DataOffset) {
        return "a page was taken whose image data do not lie inside its file";
    }
    double width = page->Width * 72.0 / page->DotsX, height = page->Height * 72.0 / page->DotsY;
    if (!(width >= 3 && width <= 14400 && height >= 3 && height <= 14400)) {
        return "a page was taken of a size no PDF page may have";
    }
    if (page->Components != 1 && page->Components != 3) {
        return "a page was taken of neither one nor three components";
    }
    return NULL;
}

// Every entry of the cross-reference table names its object's start; the
// page's data follow the two image objects' "stream" lines unchanged.
const char *CheckDocument(const char *pdf, DWORD size, const BYTE *data, const PdfPageImage *page) {
    if (size < 64 || memcmp(pdf, "%PDF-1.7\n", 9) != 0 || memcmp(pdf + size - 6, "%%EOF\n", 6)) {
        return "the document does not begin and end as a PDF file";
    }
    const char *start = strstr(pdf + size - 40, "startxref\n");
    unsigned long table = start ? strtoul(start + 10, NULL, 10) : 0;
    unsigned long objects = 0;
    if (!start || table >= size || sscanf(pdf + table, "xref\n0 %lu\n", &objects) != 1) {
        return "the cross-reference table is not where startxref points";
    }
    const char *entries = strchr(strchr(pdf + table, '\n') + 1, '\n') + 1;
    for (unsigned long n = 1; n < objects; n++) {
        unsigned long at = strtoul(entries + 20 * n, NULL, 10);
        char head[32];
        int length = snprintf(head, sizeof head, "%lu 0 obj\n", n);
        if (at >= size || strncmp(pdf + at, head, length) != 0) {
            return "an object is not where its cross-reference entry points";
        }
    }
    int images = 0;
    const char *end = pdf + size;
    for (const char *at = pdf; (at = Find(at, end, "/Subtype/Image")) != NULL; at++) {
        const char *stream = Find(at, end, ">>\nstream\n");
        if (!stream || (DWORD)(end - stream) < 10 + page->DataSize + 18 ||
            memcmp(stream + 10, data + page->DataOffset, page->DataSize) != 0 ||
            memcmp(stream + 10 + page->DataSize, "\nendstream\nendobj\n", 18) != 0) {
            return "an image's data differ from the page file's";
        }
        images++;
        at = stream + 10 + page->DataSize;
    }
    return images == 2 ? NULL : "the document does not hold both images";
}

} // namespace

const char *ExercisePdfDocument(const BYTE *data, DWORD size) {
    char page[MAX_PATH], target[MAX_PATH];
    if (!WriteInputFile("page.bin", data, size, page) || !TempFilePath("document.pdf", target)) {
        return "the input cannot be laid out as a page file";
    }
    DeleteFileA(target);
    HANDLE file = CreateFileA(page, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, NULL);
    PdfPageImage image;
    int read = ReadPageImage(file, &image);
    CloseHandle(file);
    const char *fault = read == PdfWritten ? CheckPage(&image, size) : NULL;
    char pages[2 * MAX_PATH + 2];
    size_t length = strlen(page) + 1;
    memcpy(pages, page, length);
    memcpy(pages + length, page, length);
    PdfDocumentRecord record = {"Fuzzed & <page>", "fuzz", EmptyProfile, sizeof EmptyProfile, NULL};
    int outcome = fault ? read : WritePdfDocument(target, pages, 2, &record);
    if (!fault && outcome != read) {
        fault = "the document's outcome is not the page reader's";
    }
    if (!fault && outcome != PdfWritten && Exists(target)) {
        fault = "a refused document was left behind";
    }
    DWORD documentSize = 0;
    char *pdf =
        !fault && outcome == PdfWritten ? (char *)ReadBackFile(target, &documentSize) : NULL;
    if (pdf) {
        pdf[documentSize] = 0;
        fault = CheckDocument(pdf, documentSize, data, &image);
        KeepFuzzOutput(".pdf", pdf, documentSize);
        free(pdf);
    } else if (!fault && outcome == PdfWritten) {
        fault = "the document written cannot be read";
    }
    DeleteFileA(target);
    DeleteFileA(page);
    return fault;
}
