// The PDF writer called directly, over page files that the image-file library
// of the prefix wrote and copies of them spoilt as a job could meet them.
// What it refuses, and a write that fails, leave no file behind; the document
// it writes is kept with its page files for the native check
// (check_pages.py), which reads it with qpdf, poppler and pikepdf.
#include <gtest/gtest.h>
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "fax/fax_job.h"
#include "fuzz/exercise.h"
#include "program_harness.h"
#include "tests/core/fuzz_replay.h"

namespace {

using namespace std::string_literals;

typedef std::function<void(std::string *)> Spoiler;

DWORD Little(const std::string &bytes, size_t at, int size) {
    DWORD value = 0;
    for (int i = size - 1; i >= 0; i--) {
        value = value << 8 | (BYTE)bytes[at + i];
    }
    return value;
}

void SetLittle(std::string *bytes, size_t at, int size, DWORD value) {
    for (int i = 0; i < size; i++) {
        (*bytes)[at + i] = (char)(value >> (8 * i));
    }
}

// Where the directory entry of tag lies in a little-endian TIFF.
size_t TiffEntry(const std::string &tiff, WORD tag) {
    size_t directory = Little(tiff, 4, 4);
    for (DWORD i = 0; i < Little(tiff, directory, 2); i++) {
        if (Little(tiff, directory + 2 + 12 * i, 2) == tag) {
            return directory + 2 + 12 * i;
        }
    }
    ADD_FAILURE() << "no tag " << tag;
    return 0;
}

// A single SHORT value, or the count of a LONG entry.
Spoiler Short(WORD tag, WORD value) {
    return [=](std::string *b) { SetLittle(b, TiffEntry(*b, tag) + 8, 2, value); };
}
Spoiler Count(WORD tag, DWORD count) {
    return [=](std::string *b) { SetLittle(b, TiffEntry(*b, tag) + 4, 4, count); };
}
Spoiler Dpi(WORD tag, DWORD dpi) {
    return [=](std::string *b) { SetLittle(b, Little(*b, TiffEntry(*b, tag) + 8, 4), 4, dpi); };
}
Spoiler Replace(const std::string &from, const std::string &to) {
    return [=](std::string *b) {
        size_t at = b->find(from);
        ASSERT_NE(std::string::npos, at) << "nothing to replace";
        b->replace(at, from.size(), to);
    };
}
Spoiler Cut(size_t keep) {
    return [=](std::string *b) { b->resize(keep); };
}
Spoiler Byte(size_t at, char value) {
    return [=](std::string *b) { (*b)[at] = value; };
}
// The JPEG's frame header with a fourth component.
void AddComponent(std::string *b) {
    size_t frame = b->find("\xFF\xC0\x00\x11"s);
    ASSERT_NE(std::string::npos, frame);
    (*b)[frame + 3] = 0x14;
    (*b)[frame + 9] = 4;
    b->insert(frame + 2 + 0x11, "\x04\x11\x00");
}

class PdfDocument : public ::testing::Test {
  protected:
    std::string Folder = TempPath("pdfpages\\");
    std::string Kept = ProductFile("FAXJOB\\");
    PdfDocumentRecord Record = {"Scanned document", "Varnel Keypad Program", nullptr, 0, nullptr};
    std::string Text, Grey, Colour;

    void SetUp() override {
        ClearFolder(Folder);
        CreateDirectoryA(Kept.c_str(), nullptr);
        ASSERT_EQ(1, LoadColourProfile(&Record));
        Text = WriteJobPage(TextPage, Folder + "text.tif");
        Grey = WriteJobPage(GreyPage, Folder + "grey.jpg");
        Colour = WriteJobPage(ColourPage, Folder + "colour.jpg");
        ASSERT_FALSE(Text.empty() || Grey.empty() || Colour.empty());
    }
    void TearDown() override { ClearFolder(Folder); }
    // A copy of a page file with a fault of its own.
    std::string Spoilt(const std::string &page, const char *name, const Spoiler &spoil) {
        std::string bytes = ReadFileText(page);
        spoil(&bytes);
        WriteFileText(Folder + name, bytes);
        return Folder + name;
    }
    int Write(const std::string &target, const std::vector<std::string> &pages) {
        std::string list;
        for (const std::string &page : pages) {
            list += page + '\0';
        }
        return WritePdfDocument(target.c_str(), list.c_str(), (DWORD)pages.size(), &Record);
    }
    // The writer's own files left in a folder.
    static std::vector<std::string> Leftovers(const std::string &folder) {
        return FilesMatching(folder + "PDF*.tmp");
    }
};

// Group 4 pages of either photometric, baseline grey and colour and a
// progressive JPEG: all go in, each as its file holds it.
TEST_F(PdfDocument, EveryKindOfPageGoesInAsItsFileHoldsIt) {
    std::string inverted = Spoilt(Text, "inverted.tif", Short(262, 1));
    HRSRC found = FindResourceA(nullptr, "ProgressiveJpeg", (LPCSTR)RT_RCDATA);
    ASSERT_NE(nullptr, found);
    WriteFileText(Folder + "progressive.jpg",
                  std::string((const char *)LockResource(LoadResource(nullptr, found)),
                              SizeofResource(nullptr, found)));
    std::vector<std::string> pages = {Text, Colour, inverted, Folder + "progressive.jpg", Grey};
    DeleteFileA((Kept + "pages.pdf").c_str());
    ASSERT_EQ(PdfWritten, Write(Kept + "pages.pdf", pages));
    for (size_t i = 0; i < pages.size(); i++) {
        std::string name = "pages-" + std::to_string(i + 1) + pages[i].substr(pages[i].rfind('.'));
        ASSERT_TRUE(CopyFileA(pages[i].c_str(), (Kept + name).c_str(), FALSE));
    }
    EXPECT_EQ(std::vector<std::string>(), Leftovers(Kept));
}

// Words of any characters on a text page: the document keeps them for
// check_pages.py, which finds each with poppler as the text it should read
// and where its box says (words.pdf, what it should find in words.txt).
// Parentheses and backslashes are escaped, controls dropped, a character
// beyond the basic plane read as U+FFFD; a page without words gets no text.
TEST_F(PdfDocument, WordsOfAnyCharactersAreLaidWhereTheirBoxesSay) {
    struct Word {
        const wchar_t *Text;
        const char *Reads; // UTF-8
        LONG Left, Top, Right, Bottom, LineTop, LineBottom;
    };
    const Word words[] = {
        {L"(paren)", "(paren)", 100, 100, 300, 130, 95, 140},
        {L"back\\slash", "back\\slash", 330, 100, 520, 130, 95, 140},
        {L"line\r\nend", "lineend", 550, 102, 700, 128, 95, 140},
        {L"\u00dcn\u00efc\u00f6d\u00e9\u2014\u2019s",
         "\xc3\x9c"
         "n"
         "\xc3\xaf"
         "c"
         "\xc3\xb6"
         "d"
         "\xc3\xa9\xe2\x80\x94\xe2\x80\x99"
         "s",
         100, 300, 420, 340, 290, 350},
        {L"\U0001F600!", "\xef\xbf\xbd!", 450, 300, 520, 340, 290, 350},
    };
    std::wstring text;
    std::vector<OcrWord> boxes;
    std::string expected;
    for (const Word &w : words) {
        boxes.push_back({w.Left, w.Top, w.Right, w.Bottom, w.LineTop, w.LineBottom, 90,
                         (DWORD)text.size(), (WORD)wcslen(w.Text), (WORD)(w.Left == 100)});
        text += w.Text + std::wstring(1, L'\0');
        char line[160];
        snprintf(line, sizeof line, "%ld %ld %ld %ld %s\n", w.Left, w.LineTop, w.Right,
                 w.LineBottom, w.Reads);
        expected += line;
    }
    OcrResult result = {(DWORD)boxes.size(), boxes.data(), text.c_str()};
    OcrResult *pages[2] = {&result, nullptr};
    Record.PageText = pages;
    DeleteFileA((Kept + "words.pdf").c_str());
    ASSERT_EQ(PdfWritten, Write(Kept + "words.pdf", {Text, Text}));
    WriteFileText(Kept + "words.txt", expected);
}

// Each page file a job could meet damaged or unexpected, between two good
// pages: refused with its reason, and nothing written.
TEST_F(PdfDocument, AnUnexpectedPageIsRefusedForItsReasonAndLeavesNothing) {
    struct Case {
        std::string Page;
        int Outcome;
    };
    ASSERT_EQ("JFIF\0"s, ReadFileText(Colour).substr(6, 5)); // APP0 first: its units at 13
    const Case cases[] = {
        {Folder + "gone.tif", PdfPageUnreadable},
        {Spoilt(Text, "text.txt", Cut(0)), PdfPageDamaged},
        {Spoilt(Text, "words.tif", Replace("II*"s, "Not an image"s)), PdfPageUnknown},
        {Spoilt(Text, "cut.tif", Cut(ReadFileText(Text).size() / 2)), PdfPageDamaged},
        {Spoilt(Text, "strips.tif", Count(273, 2)), PdfTiffNotOneStrip},
        {Spoilt(Text, "lzw.tif", Short(259, 5)), PdfTiffNotGroup4},
        {Spoilt(Text, "rgb.tif", Short(262, 2)), PdfTiffNotBilevel},
        {Spoilt(Text, "huge.tif", Dpi(283, 1)), PdfPageSizeRefused},
        {Spoilt(Text, "nodpi.tif", Short(296, 1)), PdfPageNoResolution},
        {Spoilt(Colour, "lossless.jpg", Replace("\xFF\xC0\x00\x11"s, "\xFF\xC3\x00\x11"s)),
         PdfJpegNotDct},
        {Spoilt(Colour, "arithmetic.jpg", Replace("\xFF\xC0\x00\x11"s, "\xFF\xC9\x00\x11"s)),
         PdfJpegNotDct},
        {Spoilt(Colour, "cmyk.jpg", AddComponent), PdfJpegNotGreyOrRgb},
        {Spoilt(Colour, "frame.jpg",
                Byte(ReadFileText(Colour).find("\xFF\xC0\x00\x11"s) + 3, 0x12)),
         PdfPageDamaged},
        {Spoilt(Colour, "nodensity.jpg", Byte(13, 0)), PdfPageNoResolution},
        {Spoilt(Colour, "cut.jpg", Cut(ReadFileText(Colour).size() - 100)), PdfPageDamaged},
    };
    std::string target = Folder + "refused.pdf";
    for (const Case &c : cases) {
        EXPECT_EQ(std::string(PdfOutcomeTexts[c.Outcome]),
                  PdfOutcomeTexts[Write(target, {Text, c.Page, Grey})])
            << c.Page;
        EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(target.c_str())) << c.Page;
        EXPECT_EQ(std::vector<std::string>(), Leftovers(Folder)) << c.Page;
    }
}

// A folder where the document should go, a folder that is not there, a full
// disk: the write fails, what was there stays and nothing else is left.
TEST_F(PdfDocument, AWriteThatCannotBeDoneLeavesWhatWasThere) {
    std::string folder = Folder + "in the way.pdf";
    ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
    EXPECT_EQ(PdfWriteFailed, Write(folder, {Text}));
    EXPECT_NE(0u, GetFileAttributesA(folder.c_str()) & FILE_ATTRIBUTE_DIRECTORY);
    RemoveDirectoryA(folder.c_str());
    EXPECT_EQ(PdfWriteFailed, Write(Folder + "nowhere\\document.pdf", {Text}));

    // An earlier document is replaced by a new one, and kept by a refusal.
    std::string target = Folder + "document.pdf";
    WriteFileText(target, "earlier");
    EXPECT_EQ(PdfPageUnreadable, Write(target, {Text, Folder + "gone.jpg"}));
    EXPECT_EQ("earlier", ReadFileText(target));
    EXPECT_EQ(PdfWritten, Write(target, {Text}));
    EXPECT_EQ("%PDF-1.7", ReadFileText(target).substr(0, 8));
    EXPECT_EQ(std::vector<std::string>(), Leftovers(Folder));

    // A disk of its own of 64 KB (see tests/fax/small_disk.sh) with 8 KB free.
    std::string small = ProductFile("OUTBOX\\smalldisk\\Sent\\");
    ULARGE_INTEGER room = {}, size = {};
    if (!GetDiskFreeSpaceExA(small.c_str(), &room, &size, nullptr) || size.QuadPart > 1024 * 1024) {
        GTEST_SKIP() << small << " is not a small disk of its own: mounting one needs root";
    }
    ClearFolder(small);
    WriteFileText(small + "filler.bin", std::string((size_t)room.QuadPart - 8192, 'x'));
    EXPECT_EQ(PdfWriteFailed, Write(small + "document.pdf", {Text, Colour, Grey}));
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA((small + "document.pdf").c_str()));
    EXPECT_EQ(std::vector<std::string>(), Leftovers(small));
    DeleteFileA((small + "filler.bin").c_str());
}

TEST(PdfDocumentFuzz, SavedInputsAreRefusedOrWrittenWhole) {
    ReplaySavedInputs("pdf_document", ExercisePdfDocument);
}

} // namespace
