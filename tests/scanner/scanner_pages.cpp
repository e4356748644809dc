#include "scanner_pages.h"
#include <gtest/gtest.h>

std::string TempPath(const char *name) {
    char folder[MAX_PATH];
    GetTempPathA(sizeof(folder), folder);
    return std::string(folder) + name;
}

void WriteColourPage(const std::string &path, LONG width, LONG height, LONG dpi,
                     Rgb (*shade)(LONG x, LONG y)) {
    LONG stride = (LONG)DibStride(width, 24);
    std::vector<BYTE> pixels((size_t)stride * height);
    for (LONG y = 0; y < height; y++) {
        for (LONG x = 0; x < width; x++) {
            Rgb c = shade(x, y);
            BYTE *p = &pixels[(size_t)y * stride + x * 3];
            p[0] = c.B, p[1] = c.G, p[2] = c.R;
        }
    }
    RasterImage image = {width, height, 24, stride, pixels.data(), dpi, 0};
    ASSERT_TRUE(WriteBmpFile(path.c_str(), &image));
}

void WriteBytes(const std::string &path, const std::string &bytes) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    WriteFile(file, bytes.data(), (DWORD)bytes.size(), &written, NULL);
    CloseHandle(file);
    ASSERT_EQ(written, bytes.size());
}

std::vector<BYTE> DecodeRow(PageImage *page, LONG y) {
    std::vector<BYTE> row((size_t)page->Width * 3);
    EXPECT_TRUE(ReadPageRow(page, y, row.data()));
    return row;
}
