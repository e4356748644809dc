// Page image reader and BMP writer of the virtual scanner.
#include "scan_convert.h"
#include "scanner_pages.h"
#include "tests/core/fuzz_replay.h"
#include <gtest/gtest.h>
#include <limits.h>
#include <string.h>

namespace {

std::string Le(DWORD value, int bytes) {
    std::string out;
    for (int i = 0; i < bytes; i++)
        out += (char)(BYTE)(value >> (8 * i));
    return out;
}

// A BMP file built field by field, independent of the writer under test.
std::string BmpBytes(LONG width, LONG height, int bits, DWORD compression,
                     const std::string &palette, const std::string &rows) {
    DWORD offset = 54 + (DWORD)palette.size();
    return "BM" + Le(offset + (DWORD)rows.size(), 4) + Le(0, 4) + Le(offset, 4) + Le(40, 4) +
           Le((DWORD)width, 4) + Le((DWORD)height, 4) + Le(1, 2) + Le((DWORD)bits, 2) +
           Le(compression, 4) + Le((DWORD)rows.size(), 4) + Le(0, 4) + Le(0, 4) +
           Le((DWORD)palette.size() / 4, 4) + Le(0, 4) + palette + rows;
}

// The bytes that hexadecimal text spells.
std::string FromHex(const char *hex) {
    std::string bytes;
    for (; hex[0] && hex[1]; hex += 2)
        bytes += (char)strtoul(std::string(hex, 2).c_str(), nullptr, 16);
    return bytes;
}

struct OpenedPage {
    PageImage Page = {};
    bool Opened = false;
    explicit OpenedPage(const std::string &path) { Opened = OpenPageImage(path.c_str(), &Page); }
    ~OpenedPage() {
        if (Opened)
            ClosePageImage(&Page);
    }
};

std::string Grey(BYTE level) {
    return std::string(3, (char)level);
}

// Expects the decoded page, row by row, to equal the B,G,R text given.
void ExpectPixels(const std::string &path, LONG width, const std::vector<std::string> &rows) {
    OpenedPage opened(path);
    ASSERT_TRUE(opened.Opened) << path;
    ASSERT_EQ(opened.Page.Width, width);
    ASSERT_EQ(opened.Page.Height, (LONG)rows.size());
    for (size_t y = 0; y < rows.size(); y++) {
        std::vector<BYTE> row = DecodeRow(&opened.Page, (LONG)y);
        EXPECT_EQ(std::string(row.begin(), row.end()), rows[y]) << path << " row " << y;
    }
    DeleteFileA(path.c_str());
}

class BmpRoundTrip : public ::testing::TestWithParam<std::tuple<int, bool>> {};

TEST_P(BmpRoundTrip, KeepsEveryPixel) {
    const int bits = std::get<0>(GetParam());
    const bool topDown = std::get<1>(GetParam());
    const LONG width = 37, height = 11; // odd width: every row has padding
    LONG stride = (LONG)DibStride(width, bits);
    std::vector<BYTE> pixels((size_t)stride * height);
    DWORD seed = 12345;
    for (BYTE &b : pixels)
        b = (BYTE)((seed = seed * 1103515245 + 12345) >> 16);
    RasterImage image = {width, height, bits, stride, pixels.data(), 200, topDown};
    std::string path = TempPath("ScannerTests_roundtrip.bmp");
    ASSERT_TRUE(WriteBmpFile(path.c_str(), &image));
    std::vector<std::string> expected;
    for (LONG y = 0; y < height; y++) {
        const BYTE *row = &pixels[(size_t)y * stride];
        std::string text;
        for (LONG x = 0; x < width; x++) {
            if (bits == 1)
                text += Grey((row[x / 8] >> (7 - x % 8)) & 1 ? 255 : 0);
            else if (bits == 8)
                text += Grey(row[x]);
            else
                text += std::string((const char *)row + x * (bits / 8), 3);
        }
        expected.push_back(text);
    }
    ExpectPixels(path, width, expected);
}

INSTANTIATE_TEST_SUITE_P(ScannerImage, BmpRoundTrip,
                         ::testing::Combine(::testing::Values(1, 8, 24, 32), ::testing::Bool()));

TEST(ScannerImage, TallPagesAreReadAheadInChunksEitherWayUp) {
    // 4500-byte rows: the read-ahead holds only a few of them, so rows come from many chunks.
    const LONG width = 1500, height = 120, stride = (LONG)DibStride(width, 24);
    std::vector<BYTE> pixels((size_t)stride * height);
    for (LONG y = 0; y < height; y++)
        for (LONG x = 0; x < stride; x++)
            pixels[(size_t)y * stride + x] = (BYTE)(x * 3 + y * 7);
    std::string path = TempPath("ScannerTests_tall.bmp");
    for (int topDown = 0; topDown < 2; topDown++) {
        RasterImage image = {width, height, 24, stride, pixels.data(), 300, topDown};
        ASSERT_TRUE(WriteBmpFile(path.c_str(), &image));
        OpenedPage opened(path);
        ASSERT_TRUE(opened.Opened);
        // Top to bottom as a scan reads, then back up and down again.
        for (LONG y : {0, 1, 50, 119, 5, 118, 60}) {
            std::vector<BYTE> row = DecodeRow(&opened.Page, y);
            ASSERT_EQ(memcmp(row.data(), &pixels[(size_t)y * stride], (size_t)width * 3), 0)
                << "top-down " << topDown << " row " << y;
        }
    }
    DeleteFileA(path.c_str());
}

TEST(ScannerImage, PageResolutionComesFromPelsPerMetre) {
    std::string path = TempPath("ScannerTests_dpi.bmp");
    const LONG dpis[][2] = {{150, 150}, {600, 600}, {0, 300}};
    for (const auto &dpi : dpis) {
        WriteColourPage(path, 4, 3, dpi[0], [](LONG, LONG) { return Rgb{1, 2, 3}; });
        OpenedPage opened(path);
        ASSERT_TRUE(opened.Opened);
        EXPECT_EQ(opened.Page.ResolutionX, dpi[1]);
        EXPECT_EQ(opened.Page.ResolutionY, dpi[1]);
    }
    DeleteFileA(path.c_str());
}

TEST(ScannerImage, ResolutionsOutsideTheUsualRangeRead300) {
    // 1 x 1 at 24 bits, 8454980 pels per metre across: times 254 it wraps in 32 bits.
    const std::string page = FromHex("424d3a0000000000000036000000280000000100000001000000010018000"
                                     "00000000000000044038100130b0000000000000000000000000000");
    const struct {
        DWORD Ppm;
        LONG Dpi;
    } cases[] = {{8454980, 300}, {8000000, 300}, {0x80000000, 300}, {1900, 300},
                 {1969, 50},     {94488, 2400},  {94700, 300}};
    std::string path = TempPath("ScannerTests_ppm.bmp");
    for (const auto &c : cases) {
        WriteBytes(path, page.substr(0, 38) + Le(c.Ppm, 4) + Le(c.Ppm, 4) + page.substr(46));
        OpenedPage opened(path);
        ASSERT_TRUE(opened.Opened);
        EXPECT_EQ(opened.Page.ResolutionX, c.Dpi) << c.Ppm;
        EXPECT_EQ(opened.Page.ResolutionY, c.Dpi) << c.Ppm;
    }
    // The page as it came, 300 dpi across and 72 down, through a one-inch window at 100 dpi.
    WriteBytes(path, page);
    ScanParameterRecord params = {};
    params.Width = params.Height = 300;
    params.ResolutionX = params.ResolutionY = 100;
    params.DataType = 2;
    ASSERT_TRUE(CompleteScanParameters(&params));
    ScanConversion scan;
    ASSERT_TRUE(BeginPageScan(&scan, path.c_str(), &params));
    std::vector<BYTE> lines((size_t)params.Lines * params.BytesPerLine);
    EXPECT_EQ(DeliverScanLines(&scan, lines.data(), (DWORD)lines.size(), 0, params.Lines),
              (LONG)params.Lines);
    EndPageScan(&scan);
    EXPECT_EQ(lines[0], 170); // one of the three page columns it covers
    EXPECT_EQ(lines[1], 255);
    DeleteFileA(path.c_str());
}

TEST(ScannerImage, RowsTooWideToAddressAreRefused) {
    // 2^27 pixels of 32 bits: the row's bit count wraps to 0, or to 32 for one pixel more.
    const char *pages[] = {
        "424d360000000000000036000000280000000000000801000000010020000000000000000000130b0000"
        "130b00000000000000000000",
        "424d3a0000000000000036000000280000000100000801000000010020000000000000000000130b0000"
        "130b0000000000000000000000000000"};
    std::string path = TempPath("ScannerTests_wide.bmp");
    for (const char *hex : pages) {
        WriteBytes(path, FromHex(hex));
        EXPECT_FALSE(OpenedPage(path).Opened) << hex;
    }
    DeleteFileA(path.c_str());
}

// Every heap of the process is whole.
bool HeapsIntact() {
    HANDLE heaps[64];
    DWORD count = GetProcessHeaps(64, heaps);
    for (DWORD i = 0; i < count && i < 64; i++) {
        if (!HeapValidate(heaps[i], 0, nullptr)) {
            return false;
        }
    }
    return true;
}

TEST(ScannerImage, AsciiPagesLargerThanTheWholePageLimitAreRefused) {
    std::string path = TempPath("ScannerTests_large.pbm");
    // 65536 x 65536 pixels of 3 bytes wrap to 0 bytes in 32 bits: a reader
    // that took that size would write the first row, given here, past its
    // block, which may go unseen until the heap is looked at.
    WriteBytes(path, "P1 65536 65536\n" + std::string(65536, '0'));
    EXPECT_FALSE(OpenedPage(path).Opened);
    EXPECT_TRUE(HeapsIntact()) << "a row was written past its block";
    const LONG width = 2048, height = AsciiPagePixelLimit / width + 1;
    WriteBytes(path, "P1 2048 " + std::to_string(height) + "\n" +
                         std::string((size_t)width * height, '0'));
    EXPECT_FALSE(OpenedPage(path).Opened) << "every pixel given";
    DeleteFileA(path.c_str());
}

TEST(ScannerImage, FourBitBmpUsesItsOwnPalette) {
    // Three colours: index 0 red, 1 green, 2 blue (palette entries are B, G, R, 0).
    std::string palette = Le(0x00FF0000, 4) + Le(0x0000FF00, 4) + Le(0x000000FF, 4);
    std::string rows = std::string("\x01\x20\x00\x00", 4) + std::string("\x21\x00\x00\x00", 4);
    std::string path = TempPath("ScannerTests_4bit.bmp");
    WriteBytes(path, BmpBytes(3, 2, 4, BI_RGB, palette, rows));
    std::string red("\x00\x00\xFF", 3), green("\x00\xFF\x00", 3), blue("\xFF\x00\x00", 3);
    // Bottom-up: the first stored row is the page's last.
    ExpectPixels(path, 3, {blue + green + red, red + green + blue});
}

TEST(ScannerImage, BinaryPnmFormats) {
    std::string path = TempPath("ScannerTests_page.pnm");
    // P4: a set bit is black; rows are whole bytes.
    WriteBytes(path, std::string("P4\n# a comment\n10 2\n\xA0\x40\x00\xC0", 24));
    ExpectPixels(path, 10,
                 {Grey(0) + Grey(255) + Grey(0) + std::string(3 * 6, '\xFF') + Grey(0),
                  std::string(3 * 8, '\xFF') + Grey(0) + Grey(0)});
    // P5 with a maximum of 15 is scaled to 0..255.
    WriteBytes(path, std::string("P5 3 1 15\n\x00\x0F\x05", 13));
    ExpectPixels(path, 3, {Grey(0) + Grey(255) + Grey(85)});
    // P6 samples are red, green, blue.
    WriteBytes(path, std::string("P6\n2 1\n255\n") + "\x10\x20\x30\x40\x50\x60");
    ExpectPixels(path, 2, {std::string("\x30\x20\x10\x60\x50\x40", 6)});
}

TEST(ScannerImage, AsciiPnmFormats) {
    std::string path = TempPath("ScannerTests_ascii.pnm");
    WriteBytes(path, "P1\n# bits may run together\n3 2\n010\n1 0 1\n");
    ExpectPixels(path, 3, {Grey(255) + Grey(0) + Grey(255), Grey(0) + Grey(255) + Grey(0)});
    WriteBytes(path, "P2\n2 2\n4\n0 4\n2 1\n");
    ExpectPixels(path, 2, {Grey(0) + Grey(255), Grey(128) + Grey(64)});
    WriteBytes(path, "P3 1 1 255 200 100 50\n");
    ExpectPixels(path, 1, {std::string("\x32\x64\xC8", 3)});
}

TEST(ScannerImage, RejectsWhatItCannotRead) {
    std::string path = TempPath("ScannerTests_bad.bmp");
    PageImage page;
    WriteBytes(path, BmpBytes(2, 2, 8, 1 /* BI_RLE8 */, std::string(1024, '\0'), "\0\0\0\0"));
    EXPECT_FALSE(OpenPageImage(path.c_str(), &page));
    WriteBytes(path, "P5 2 2 65535\n\0\0\0\0\0\0\0\0");
    EXPECT_FALSE(OpenPageImage(path.c_str(), &page));
    WriteBytes(path, "not an image at all");
    EXPECT_FALSE(OpenPageImage(path.c_str(), &page));
    EXPECT_FALSE(OpenPageImage(TempPath("ScannerTests_missing.bmp").c_str(), &page));
    WriteBytes(path, BmpBytes(2, INT_MIN, 24, BI_RGB, "", std::string(8, '\0')));
    EXPECT_FALSE(OpenPageImage(path.c_str(), &page)) << "a height of -2^31";
    // Bit-field masks must lie in the file, even just after a file that had them.
    std::string masks = Le(0xFF0000, 4) + Le(0xFF00, 4) + Le(0xFF, 4);
    std::string fields = BmpBytes(1, 1, 32, BI_BITFIELDS, masks, std::string(4, '\0'));
    WriteBytes(path, fields);
    EXPECT_TRUE(OpenedPage(path).Opened);
    WriteBytes(path, fields.substr(0, 60));
    EXPECT_FALSE(OpenedPage(path).Opened);
    // A file cut short opens, but its missing rows cannot be read.
    WriteBytes(path, std::string("P5 4 3 255\n") + "\x01\x02\x03\x04");
    ASSERT_TRUE(OpenPageImage(path.c_str(), &page));
    BYTE row[12];
    EXPECT_TRUE(ReadPageRow(&page, 0, row));
    EXPECT_FALSE(ReadPageRow(&page, 2, row));
    ClosePageImage(&page);
    DeleteFileA(path.c_str());
}

TEST(ScannerImage, SavedFuzzInputsAreRefusedOrScannedCleanly) {
    EXPECT_GT(ReplaySavedInputs("page_reader", ExercisePageReader), 0);
}

} // namespace
