// accugnt5.dll through its ordinals, as the fax job calls it. The files it
// writes are decoded natively afterwards by check_tiff.py (the ImageFileCheck
// test), which compares them with the references written here.
#include "test_pages.h"
#include <gtest/gtest.h>

namespace {

// Empties the folder the native check reads, so that it sees this run only.
class FreshOutput : public ::testing::Environment {
  public:
    void SetUp() override {
        std::string pattern = OutputPath("*");
        WIN32_FIND_DATAA found;
        HANDLE search = FindFirstFileA(pattern.c_str(), &found);
        if (search == INVALID_HANDLE_VALUE)
            return;
        do {
            if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
                DeleteFileA(OutputPath(found.cFileName).c_str());
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }
};
const ::testing::Environment *const Fresh = ::testing::AddGlobalTestEnvironment(new FreshOutput);

// Deterministic pseudo-random numbers, so that a failing page can be made again.
struct Random {
    DWORD State;
    DWORD Next(DWORD range) {
        State = State * 1103515245 + 12345;
        return (State >> 8) % range;
    }
};

void ExpectEveryLineOnce(const TestPage &page, int lines) {
    ASSERT_EQ((int)page.Asked.size(), lines);
    for (int i = 0; i < lines; i++)
        ASSERT_EQ(page.Asked[i], i) << "the writer must ask for lines in order, each once";
}

// Writes a page, checks the callback traffic and queues the file for the
// native check (TIFF bit for bit, JPEG within `tolerance` levels on average
// and byte for byte cjpeg's at `quality`).
void WriteAndRecord(const std::string &file, TestPage *page, int format, int tolerance,
                    int quality = 0) {
    std::string path = OutputPath(file);
    ASSERT_EQ(WritePageFile(path, page, format), ImageWritten) << file;
    ExpectEveryLineOnce(*page, page->Height);
    RecordForCheck(path, *page, tolerance, quality);
}

void WriteAndRecordTiff(const std::string &name, TestPage *page) {
    WriteAndRecord(name + ".tif", page, ImageFormatTiffG4, 0);
}

void Noise(TestPage *page, LONG y0, LONG y1, DWORD blackPercent, DWORD seed) {
    Random random = {seed};
    for (LONG y = y0; y < y1; y++)
        for (LONG x = 0; x < page->Width; x++)
            if (random.Next(100) < blackPercent)
                SetBlack(page, x, y);
}

// Rows of glyph-like blocks with strokes, slanted edges and dots: runs of every
// short length and every vertical-mode offset.
void TextLike(TestPage *page, DWORD seed) {
    Random random = {seed};
    for (LONG top = 40; top + 30 < page->Height; top += 36) {
        for (LONG left = 60; left + 16 < page->Width - 60; left += 16) {
            if (random.Next(7) == 0)
                continue; // a space
            DWORD glyph = random.State;
            for (LONG dy = 0; dy < 24; dy++)
                for (LONG dx = 0; dx < 12; dx++)
                    if ((glyph >> ((dy / 4) * 3 + dx / 4)) & 1)
                        SetBlack(page, left + dx, top + dy);
            LONG slant = (LONG)random.Next(4); // edges moving 0..3 pixels per line
            for (LONG dy = 0; dy < 24; dy++)
                FillRun(page, top + dy, left + 2 + (dy * slant) / 4 % 10, 2, true);
        }
    }
    for (LONG y = 0; y < page->Height; y++) // a long diagonal and a page-wide rule
        FillRun(page, y, (y * 5) % page->Width, 3, true);
    FillRun(page, page->Height / 2, 0, page->Width, true);
}

TEST(ImageFileTiff, BlankPageDecodesWhite) {
    TestPage page = MakePage(1728, 200, 1, 200, 100);
    WriteAndRecordTiff("blank", &page);
}

TEST(ImageFileTiff, AllBlackPage) {
    TestPage page = MakePage(2550, 60, 1, 300, 300);
    for (LONG y = 0; y < page.Height; y++)
        FillRun(&page, y, 0, page.Width, true);
    WriteAndRecordTiff("black", &page);
}

TEST(ImageFileTiff, RandomNoiseOfSeveralDensities) {
    TestPage page = MakePage(1001, 300, 1, 200, 200);
    Noise(&page, 0, 100, 50, 7);
    Noise(&page, 100, 200, 3, 8);
    Noise(&page, 200, 300, 97, 9);
    WriteAndRecordTiff("noise", &page);
}

TEST(ImageFileTiff, TextLikePage) {
    TestPage page = MakePage(1728, 1100, 1, 200, 200);
    TextLike(&page, 42);
    WriteAndRecordTiff("text", &page);
}

TEST(ImageFileTiff, RunsOverMakeUpLimits) {
    // Runs at and around 1728, 2560 and 2624, several 2560 codes, and runs
    // touching both ends of the line, in both colours.
    const LONG runs[] = {1727, 1728, 1729, 1791, 1792, 2559, 2560,
                         2561, 2623, 2624, 2625, 5120, 5201};
    TestPage page = MakePage(7000, 2 * 13 + 4, 1, 300, 300);
    LONG y = 0;
    for (LONG run : runs) {
        FillRun(&page, y++, 100, run, true);    // black run inside white
        FillRun(&page, y, 0, page.Width, true); // white run inside black
        FillRun(&page, y++, page.Width - run - 1, run, false);
    }
    FillRun(&page, y++, 0, page.Width, true);
    FillRun(&page, y++, 1, page.Width, true);
    SetBlack(&page, page.Width - 1, y++);
    SetBlack(&page, 0, y++);
    WriteAndRecordTiff("longruns", &page);
}

class ImageFileTiffWidth : public ::testing::TestWithParam<LONG> {};

TEST_P(ImageFileTiffWidth, OddWidthsKeepEveryPixel) {
    LONG width = GetParam();
    TestPage page = MakePage(width, 64, 1, 200, 100);
    Noise(&page, 0, 32, 30, (DWORD)width);
    for (LONG y = 32; y < 64; y++) // stripes ending at the last pixel
        FillRun(&page, y, (y % 4) * width / 4, width, y % 2 == 0);
    WriteAndRecordTiff("width" + std::to_string(width), &page);
}

INSTANTIATE_TEST_SUITE_P(Widths, ImageFileTiffWidth,
                         ::testing::Values(1, 7, 9, 31, 33, 63, 65, 1727, 1729));

// A refused line must end the writer at once with a failure and leave the
// file empty, whatever it had written before.
void ExpectRefusalLeavesEmptyFile(TestPage *page, int format, int failAt, const char *name) {
    page->FailAt = failAt;
    std::string path = OutputPath(name);
    EXPECT_NE(WritePageFile(path, page, format), ImageWritten);
    ExpectEveryLineOnce(*page, failAt + 1);
    EXPECT_EQ(FileBytes(path), 0u);
    DeleteFileA(path.c_str());
}

TEST(ImageFileTiff, RefusedLineStopsAndLeavesEmptyFile) {
    TestPage page = MakePage(1728, 300, 1, 200, 200);
    TextLike(&page, 5);
    ExpectRefusalLeavesEmptyFile(&page, ImageFormatTiffG4, 157, "refused.tif");
    page.Asked.clear();
    ExpectRefusalLeavesEmptyFile(&page, ImageFormatTiffG4, 0, "refused0.tif");
}

TEST(ImageFile, RejectsWhatItCannotWrite) {
    struct Case {
        int Bits, Format;
        LONG Width, Height;
    } cases[] = {
        {1, 7, 16, 4},                 // unknown format
        {8, ImageFormatTiffG4, 16, 4}, // TIFF takes 1-bit pages only
        {1, ImageFormatJpeg, 16, 4},   // JPEG takes grey or colour
        {1, ImageFormatTiffG4, 16, 0}, // no lines
        {24, ImageFormatJpeg, 0, 4},   // no pixels
    };
    std::string path = OutputPath("rejected.bin");
    for (const Case &c : cases) {
        TestPage page = MakePage(c.Width, c.Height, c.Bits, 200, 200);
        EXPECT_NE(WritePageFile(path, &page, c.Format), ImageWritten) << c.Bits << " " << c.Format;
        EXPECT_TRUE(page.Asked.empty());
        EXPECT_EQ(FileBytes(path), 0u);
    }
    DeleteFileA(path.c_str());
}

// A photo-like page: smooth ramps with a few hard shapes.
TestPage Photo(LONG width, LONG height, int bits, LONG dpi) {
    TestPage page = MakePage(width, height, bits, dpi, dpi);
    for (LONG y = 0; y < height; y++) {
        BYTE *row = Row(&page, y);
        for (LONG x = 0; x < width; x++) {
            bool disc = (x - width / 3) * (x - width / 3) + (y - height / 2) * (y - height / 2) <
                        (height / 5) * (height / 5);
            BYTE r = (BYTE)(x * 255 / width), g = (BYTE)(y * 255 / height);
            BYTE b = disc ? 230 : (BYTE)((x + y) * 127 / (width + height));
            if (bits == 8)
                row[x] = disc ? 20 : (BYTE)((r + g) / 2);
            else
                row[3 * x] = b, row[3 * x + 1] = g, row[3 * x + 2] = r;
        }
    }
    return page;
}

// Photo pages, each coded at its quality: the native check finds each file
// to be cjpeg's coding of its pixels at that quality, so a quality not
// honoured fails there, and within `tolerance` levels of them on average.
TEST(ImageFileJpeg, EveryPageIsCodedAtTheQualitySet) {
    const struct {
        const char *File;
        LONG Width, Height;
        int Bits;
        LONG Dpi;
        int Quality, Tolerance;
    } pages[] = {{"grey.jpg", 850, 1100, 8, 100, 80, 3},
                 {"colour.jpg", 637, 413, 24, 300, 80, 4}, // of odd width
                 {"quality20.jpg", 600, 400, 24, 200, 20, 8}};
    for (const auto &p : pages) {
        TestPage page = Photo(p.Width, p.Height, p.Bits, p.Dpi);
        ASSERT_EQ(SetQuality(p.Quality), 0);
        WriteAndRecord(p.File, &page, ImageFormatJpeg, p.Tolerance, p.Quality);
    }
}

// A file that takes no bytes (a full disk, a read-only handle) ends the page
// where the first coded bytes go out, with a failure and nothing written.
TEST(ImageFileJpeg, UnwritableFileFailsMidPage) {
    TestPage page = MakePage(1200, 800, 24, 300, 300);
    Random random = {11};
    for (BYTE &value : page.Pixels)
        value = (BYTE)random.Next(256); // noise: far more coded bytes than one buffer
    std::string path = OutputPath("readonly.jpg");
    _lclose(_lcreat(path.c_str(), 0));
    HFILE file = _lopen(path.c_str(), OF_READ);
    ASSERT_NE(file, HFILE_ERROR);
    ASSERT_EQ(SetQuality(80), 0);
    EXPECT_EQ(WritePageTo(file, &page, ImageFormatJpeg), ImageWriteFailed);
    _lclose(file);
    ExpectEveryLineOnce(page, (int)page.Asked.size());
    EXPECT_LT((LONG)page.Asked.size(), page.Height);
    EXPECT_EQ(FileBytes(path), 0u);
    DeleteFileA(path.c_str());
}

TEST(ImageFileJpeg, QualityOutOfRangeIsRefused) {
    EXPECT_NE(SetQuality(0), 0);
    EXPECT_NE(SetQuality(101), 0);
    EXPECT_EQ(SetQuality(100), 0);
    EXPECT_EQ(SetQuality(80), 0);
}

TEST(ImageFileJpeg, RefusedLineStopsAndLeavesEmptyFile) {
    TestPage page = Photo(400, 100, 24, 200);
    // Inside the third strip: two strips are already encoded.
    ExpectRefusalLeavesEmptyFile(&page, ImageFormatJpeg, 40, "refused.jpg");
}

} // namespace
