#include "test_pages.h"
#include "pnm_file.h"
#include <gtest/gtest.h>
#include <stdio.h>
#include <string.h>

namespace {

// The library under test, loaded once for the process.
HMODULE Library() {
    static HMODULE module = LoadLibraryA("accugnt5.dll");
    return module;
}

template <typename Proc> Proc Entry(WORD ordinal) {
    if (!Library())
        return nullptr;
    return reinterpret_cast<Proc>(
        reinterpret_cast<void *>(GetProcAddress(Library(), MAKEINTRESOURCEA(ordinal))));
}

// The page buffer's image header: DIB header and palette.
struct PageHeader {
    BITMAPINFOHEADER Info;
    RGBQUAD Palette[256];
};

void FillHeader(const TestPage &page, PageHeader *header) {
    ZeroMemory(header, sizeof *header);
    header->Info.biSize = sizeof(BITMAPINFOHEADER);
    header->Info.biWidth = page.Width;
    header->Info.biHeight = page.Height;
    header->Info.biPlanes = 1;
    header->Info.biBitCount = (WORD)page.Bits;
    header->Info.biXPelsPerMeter = page.DpiX;
    header->Info.biYPelsPerMeter = page.DpiY;
    int entries = page.Bits == 1 ? 2 : page.Bits == 8 ? 256 : 0;
    for (int i = 0; i < entries; i++) {
        BYTE level = (BYTE)(page.Bits == 1 ? i * 255 : i);
        header->Palette[i] = {level, level, level, 0};
    }
}

} // namespace

TestPage MakePage(LONG width, LONG height, int bits, LONG dpiX, LONG dpiY) {
    TestPage page;
    page.Width = width;
    page.Height = height;
    page.Bits = bits;
    page.Stride = (((DWORD)width * bits + 31) / 32) * 4;
    page.Pixels.assign((size_t)page.Stride * height, bits == 1 ? 0 : 128);
    page.DpiX = dpiX;
    page.DpiY = dpiY;
    if (bits == 1) {
        for (LONG y = 0; y < height; y++)
            FillRun(&page, y, 0, width, false);
    }
    return page;
}

BYTE *Row(TestPage *page, LONG y) {
    return &page->Pixels[(size_t)y * page->Stride];
}

void SetBlack(TestPage *page, LONG x, LONG y) {
    Row(page, y)[x / 8] &= (BYTE) ~(0x80 >> (x % 8));
}

bool IsBlack(const TestPage &page, LONG x, LONG y) {
    return !((page.Pixels[(size_t)y * page.Stride + x / 8] >> (7 - x % 8)) & 1);
}

void FillRun(TestPage *page, LONG y, LONG x, LONG length, bool black) {
    BYTE *row = Row(page, y);
    for (LONG i = x; i < x + length && i < page->Width; i++) {
        if (black)
            row[i / 8] &= (BYTE) ~(0x80 >> (i % 8));
        else
            row[i / 8] |= (BYTE)(0x80 >> (i % 8));
    }
}

int WINAPI SupplyTestLine(void *source, BYTE *destination, int line) {
    TestPage *page = (TestPage *)source;
    page->Asked.push_back(line);
    if (line == page->FailAt || line < 0 || line >= page->Height)
        return -18;
    memcpy(destination, Row(page, line), page->Stride);
    return 0;
}

int WritePageTo(HFILE file, TestPage *page, int format) {
    auto write = Entry<WriteImageFileProc>(WriteImageFileOrdinal);
    EXPECT_NE(write, nullptr) << "accugnt5.dll ordinal 15";
    if (!write)
        return -1;
    PageHeader header;
    FillHeader(*page, &header);
    return write(file, &header.Info, format, SupplyTestLine, page);
}

int WritePageFile(const std::string &path, TestPage *page, int format) {
    HFILE file = _lcreat(path.c_str(), 0);
    EXPECT_NE(file, HFILE_ERROR) << path;
    int result = WritePageTo(file, page, format);
    _lclose(file);
    return result;
}

int SetQuality(int value) {
    auto set = Entry<SetImageOptionProc>(SetImageOptionOrdinal);
    EXPECT_NE(set, nullptr) << "accugnt5.dll ordinal 40";
    return set ? set(value) : -1;
}

std::string OutputPath(const std::string &name) {
    char folder[MAX_PATH];
    GetTempPathA(sizeof folder, folder);
    std::string dir = std::string(folder) + "ImageFileTests";
    CreateDirectoryA(dir.c_str(), nullptr);
    return dir + "\\" + name;
}

namespace {

std::string FileName(const std::string &path) {
    return path.substr(path.rfind('\\') + 1);
}

} // namespace

void RecordForCheck(const std::string &image, const TestPage &page, int tolerance, int quality) {
    std::string reference = image.substr(0, image.rfind('.')) + (page.Bits == 1   ? ".pbm"
                                                                 : page.Bits == 8 ? ".pgm"
                                                                                  : ".ppm");
    ASSERT_TRUE(WritePnmFile(reference.c_str(), page.Width, page.Height, page.Bits, page.Stride,
                             page.Pixels.data()));
    FILE *file = fopen(OutputPath("manifest.txt").c_str(), "a");
    ASSERT_NE(file, nullptr);
    fprintf(file, "%s %s %ld %ld %d %d\n", FileName(image).c_str(), FileName(reference).c_str(),
            page.DpiX, page.DpiY, tolerance, quality);
    fclose(file);
}

DWORD FileBytes(const std::string &path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data))
        return (DWORD)-1;
    return data.nFileSizeLow;
}
