// The fax job's pieces that need no running program: the dialing rules, the
// attachment names, the scan set-up, the page buffer and the line callback
// against the scripted driver, and one page written through the image-file
// library of the prefix.
#include <gtest/gtest.h>

#include <string>

#include "app/settings.h"
#include "driver/driver.h"
#include "fax/dialing.h"
#include "fax/fax_job.h"
#include "panel/panel_state.h"
#include "program_harness.h"
#include "scripted_fixture.h"
#include "abi/image_file_abi.h"
#include "test_support.h"
#include "tests/core/fuzz_replay.h"

namespace {

std::string Dialed(const char *typed, const DialingRecord &info) {
    char number[DialedNumberSize];
    lstrcpynA(number, typed, sizeof number);
    return ApplyDialingRules(number, sizeof number, &info) ? number : "(refused)";
}

const DialingRecord Location = {"9", "1", "415", "1"};

TEST(DialingRules, ASevenDigitNumberGetsTheLocalPrefix) {
    EXPECT_EQ("95551234", Dialed("5551234", Location));
}

TEST(DialingRules, TheOwnAreaCodeIsDroppedForALocalCall) {
    EXPECT_EQ("95551234", Dialed("4155551234", Location));
}

TEST(DialingRules, CountryAndAreaCodeAreBothDropped) {
    EXPECT_EQ("95551234", Dialed("14155551234", Location));
}

TEST(DialingRules, AnotherAreaKeepsItsDigitsAndDialsLongDistance) {
    EXPECT_EQ("12125551234", Dialed("2125551234", Location));
}

TEST(DialingRules, WithoutPrefixesEveryNumberGoesAsTyped) {
    DialingRecord none = {"", "", "415", "1"};
    for (const char *typed : {"5551234", "4155551234", "14155551234", "2125551234"}) {
        EXPECT_EQ(typed, Dialed(typed, none));
    }
}

TEST(DialingRules, OnePrefixAloneIsEnoughToApplyTheRules) {
    DialingRecord localOnly = {"8", "", "415", "1"};
    EXPECT_EQ("85551234", Dialed("4155551234", localOnly));
    EXPECT_EQ("2125551234", Dialed("2125551234", localOnly));
}

TEST(DialingRules, TheRewrittenNumberIsKeptWholeOrRefused) {
    DialingRecord wide = {"9", "9,1", "415", "1"};
    EXPECT_EQ("9,101144207946095812345", Dialed("01144207946095812345", wide));
    char number[21] = "01144207946095812345";
    EXPECT_EQ(0, ApplyDialingRules(number, sizeof number, &wide));
    EXPECT_STREQ("01144207946095812345", number);
}

TEST(AttachmentNames, TagFollowsDestinationAndFormat) {
    char name[AttachmentNameSize];
    FormatAttachmentName(name, sizeof name, 42, 1, ImageFormatTiffG4);
    EXPECT_STREQ("FX-00042.TIF", name);
    FormatAttachmentName(name, sizeof name, 42, 1, ImageFormatJpeg);
    EXPECT_STREQ("FX-00042.JPG", name);
    FormatAttachmentName(name, sizeof name, 7, 0, ImageFormatJpeg);
    EXPECT_STREQ("FX-00007.VKZ", name);
    FormatAttachmentName(name, sizeof name, 65535, 0, ImageFormatTiffG4);
    EXPECT_STREQ("FX-65535.VKZ", name);
}

// The scripted driver bound in place of the scanner's.
class ScriptedJob : public ScriptedDriverTest {
  protected:
    void SetUp() override {
        ScriptedDriverTest::SetUp();
        CancelRequested = 0;
        FaxJobStatus = 0;
    }
    void TearDown() override {
        ReleasePageBuffer();
        ScriptedDriverTest::TearDown();
    }
    // A line-art page as the driver would complete it.
    void Page(DWORD pixels, DWORD bytesPerLine, DWORD lines, WORD dataType = 0) {
        ScanParameters = ScanParameterRecord();
        ScanParameters.PixelsPerLine = pixels;
        ScanParameters.BytesPerLine = bytesPerLine;
        ScanParameters.Lines = lines;
        ScanParameters.DataType = dataType;
        ScanParameters.ResolutionX = 200;
        ScanParameters.ResolutionY = 100;
    }
    void StartPage() {
        LineSource.ChunkLines = 0;
        LineSource.FirstLine = 0;
        LineSource.ChunkStatus = ReadMore;
        LineSource.Request.Delivered = 0;
    }
    int Line(int n, BYTE *out) { return SupplyScanLine(&LineSource, out, n); }
};

TEST_F(ScriptedJob, TheModesLevelsPaperAndFaxResolutionMakeTheWindow) {
    ScanMode = ModePhoto;
    Destination = 0;
    TakeJobChoice();
    PaperSize = 2;
    FaxResolution = 1;
    ModeLevels[ModePhoto] = {25, 75};
    SetupFaxScan();
    EXPECT_EQ(-63, ScanParameters.Brightness);
    EXPECT_EQ(63, ScanParameters.Contrast);
    EXPECT_EQ(34, ScanParameters.Left);
    EXPECT_EQ(2481, ScanParameters.Width);
    EXPECT_EQ(200, ScanParameters.ResolutionY);
    EXPECT_EQ(2, ScanParameters.DataType);
    EXPECT_EQ(10, ScanParameters.ScanFlags);
    EXPECT_EQ(ImageFormatJpeg, ImageFormat);
}

TEST_F(ScriptedJob, ScanWindowFollowsModeDestinationAndPaper) {
    Destination = 1;
    TakeJobChoice();
    MailResolution = 0;
    PaperSize = 1;
    ScanMode = ModeColorPhoto;
    SetupFaxScan();
    EXPECT_EQ(0, ScanParameters.Left);
    EXPECT_EQ(4200, ScanParameters.Height);
    EXPECT_EQ(100, ScanParameters.ResolutionX);
    EXPECT_EQ(100, ScanParameters.ResolutionY);
    EXPECT_EQ(3, ScanParameters.DataType);
    EXPECT_EQ(14, ScanParameters.ScanFlags);
    ScanMode = ModeText;
    Destination = 0;
    TakeJobChoice();
    FaxResolution = 0;
    SetupFaxScan();
    EXPECT_EQ(ImageFormatTiffG4, ImageFormat);
    EXPECT_EQ(0, ScanParameters.DataType);
    EXPECT_EQ(200, ScanParameters.ResolutionX);
    EXPECT_EQ(100, ScanParameters.ResolutionY);
}

TEST_F(ScriptedJob, LineArtHeaderCarriesPaletteAndDotsPerInch) {
    Page(1700, 216, 1100);
    ASSERT_EQ(1, AllocatePageBuffer());
    EXPECT_EQ(1700, PageBuffer.Header->biWidth);
    EXPECT_EQ(1100, PageBuffer.Header->biHeight);
    EXPECT_EQ(1, PageBuffer.Header->biBitCount);
    EXPECT_EQ(200, PageBuffer.Header->biXPelsPerMeter);
    EXPECT_EQ(100, PageBuffer.Header->biYPelsPerMeter);
    const RGBQUAD *palette = (const RGBQUAD *)(PageBuffer.Header + 1);
    EXPECT_EQ(0, palette[0].rgbRed);
    EXPECT_EQ(255, palette[1].rgbGreen);
    EXPECT_EQ(1100u * 216, LineSource.Request.Capacity);
    EXPECT_EQ(48, PageBuffer.Pixels - (BYTE *)PageBuffer.Header);
}

TEST_F(ScriptedJob, GreyAndColourPagesUseOneMebibyteOfWholeLines) {
    Page(2550, 7652, 4200, 3);
    ASSERT_EQ(1, AllocatePageBuffer());
    EXPECT_EQ(40, PageBuffer.Pixels - (BYTE *)PageBuffer.Header);
    EXPECT_EQ((1u << 20) / 7652 * 7652, LineSource.Request.Capacity);
    ReleasePageBuffer();
    Page(850, 852, 1100, 2);
    ASSERT_EQ(1, AllocatePageBuffer());
    EXPECT_EQ(1064, PageBuffer.Pixels - (BYTE *)PageBuffer.Header);
    EXPECT_EQ((1u << 20) / 852, PageBuffer.Lines);
    const RGBQUAD *palette = (const RGBQUAD *)(PageBuffer.Header + 1);
    EXPECT_EQ(200, palette[200].rgbBlue);
}

TEST_F(ScriptedJob, ADriverWithoutALineSizeIsAScanningError) {
    Page(1700, 0, 1100);
    EXPECT_EQ(0, AllocatePageBuffer());
    EXPECT_EQ(FaxScanError, FaxJobStatus);
    Page(8, 1000, 10);
    FaxJobStatus = 0;
    EXPECT_EQ(0, AllocatePageBuffer());
    EXPECT_EQ(FaxScanError, FaxJobStatus);
}

TEST_F(ScriptedJob, LinesComeInOrderAndAnEarlyEndPadsWithWhite) {
    Page(8, 1, 6);
    ASSERT_EQ(1, AllocatePageBuffer());
    StartPage();
    Answer(DrvReadScanData, ReadMore, 2, 0x11);
    Answer(DrvReadScanData, ReadEndOfPage, 1, 0x22);
    Answer(DrvReadScanData, ReadEndOfPage, 0, 0);
    BYTE lines[6] = {};
    for (int n = 0; n < 6; n++) {
        ASSERT_EQ(0, Line(n, &lines[n])) << "line " << n;
    }
    const BYTE expected[6] = {0x11, 0x11, 0x22, 0xFF, 0xFF, 0xFF};
    EXPECT_EQ(0, memcmp(expected, lines, 6));
}

// Also a claim that passes for one line in its low 16 bits.
TEST_F(ScriptedJob, ADriverThatClaimsMoreLinesThanTheBufferHoldsIsAScanningError) {
    Page(8, 1, 6);
    ASSERT_EQ(1, AllocatePageBuffer());
    for (DWORD claim : {1000u, 65536u + 1}) {
        StartPage();
        FaxJobStatus = 0;
        Answer(DrvReadScanData, ReadMore, claim, 0x00);
        BYTE line = 0x5A;
        EXPECT_EQ(-18, Line(0, &line)) << claim;
        EXPECT_EQ(FaxScanError, FaxJobStatus) << claim;
        EXPECT_EQ(0x5A, line) << claim;
    }
}

TEST_F(ScriptedJob, AnEmptyReadIsReadAgainAndStopStillEndsIt) {
    Page(8, 1, 6);
    ASSERT_EQ(1, AllocatePageBuffer());
    StartPage();
    Answer(DrvReadScanData, ReadMore, 0, 0);
    Answer(DrvReadScanData, ReadEndOfPage, 6, 0x33);
    BYTE line = 0;
    EXPECT_EQ(0, Line(0, &line));
    EXPECT_EQ(0x33, line);
    StartPage();
    CancelRequested = 1;
    Answer(DrvReadScanData, ReadMore, 0, 0);
    Answer(DrvReadScanData, ReadMore, 0, 0);
    EXPECT_EQ(-18, Line(0, &line));
    EXPECT_EQ(FaxCancelled, FaxJobStatus);
}

TEST_F(ScriptedJob, AFailedReadCancelsAndAnyOtherStatusIsAScanningError) {
    Page(8, 1, 6);
    ASSERT_EQ(1, AllocatePageBuffer());
    StartPage();
    Answer(DrvReadScanData, ReadFailed, 0, 0);
    BYTE line;
    EXPECT_EQ(-18, Line(0, &line));
    EXPECT_EQ(FaxCancelled, FaxJobStatus);
    EXPECT_EQ(1, CancelRequested);
    CancelRequested = 0;
    StartPage();
    Answer(DrvReadScanData, 5, 0, 0);
    EXPECT_EQ(-18, Line(0, &line));
    EXPECT_EQ(FaxScanError, FaxJobStatus);
}

// A page of 10 black lines that ends after them: the file the library writes
// is kept in the product directory for the native check, which expects the
// 30 lines after them to be white.
TEST_F(ScriptedJob, AShortPageIsWrittenWithWhiteLinesToItsEnd) {
    Page(64, 8, 40);
    ASSERT_EQ(1, AllocatePageBuffer());
    FillMemory(LineSource.Request.Buffer, LineSource.Request.Capacity, 0x00);
    ASSERT_EQ(1, TakeTempDirectory());
    ASSERT_EQ(1, BindImageFile());
    ImageFormat = ImageFormatTiffG4;
    PageFileList = GlobalAlloc(GMEM_MOVEABLE, 0);
    PageFileListSize = 0;
    Answer(DrvReadScanData, ReadEndOfPage, 10, 0x00);
    Answer(DrvReadScanData, ReadEndOfPage, 0, 0);
    ASSERT_EQ(1, ScanPageToFile());
    std::string path = (const char *)GlobalLock(PageFileList);
    GlobalUnlock(PageFileList);
    EXPECT_EQ("VNL", path.substr(path.rfind('\\') + 1, 3));
    std::string folder = ProductFile("FAXJOB");
    CreateDirectoryA(folder.c_str(), nullptr);
    ASSERT_TRUE(CopyFileA(path.c_str(), (folder + "\\shortpage.tif").c_str(), FALSE));
    PagesScanned = 1;
    DeleteJobFiles();
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(path.c_str()));
    GlobalFree(PageFileList);
    PageFileList = nullptr;
    PagesScanned = 0;
    UnbindImageFile();
}

TEST(DialingRules, SavedFuzzInputsAreDialledWhole) {
    ReplaySavedInputs("dialing_rules", ExerciseDialingRules);
}

} // namespace
