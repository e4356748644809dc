// Pages read through the keypad manager's driver binding and readers from
// the virtual scanner, compared with the source page: every data type at two
// resolutions, top-down lines and bottom-up bands, and the status mapping at
// the end of a page.
#include <gtest/gtest.h>

#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "device_client.h"
#include "driver/driver.h"
#include "page_image.h"
#include "panel/panel_state.h"

namespace {

// The source page: Letter at 200 dpi, smooth colour gradients with a band of
// solid black blocks, as a photo with some print on it.
const LONG SourceDpi = 200, SourceWidth = 1700, SourceHeight = 2200;

struct Source {
    std::vector<BYTE> Bgr; // top-down rows of B, G, R
    std::string Path;
};

void SourcePixel(LONG x, LONG y, BYTE *bgr) {
    bool block = y > 200 && y < 700 && (x / 60) % 2 == 0 && (y / 40) % 2 == 0;
    if (block) {
        bgr[0] = bgr[1] = bgr[2] = 0;
        return;
    }
    bgr[2] = (BYTE)(128 + 100 * sin(x / 60.0));
    bgr[1] = (BYTE)(255 * y / SourceHeight);
    bgr[0] = (BYTE)(128 + 100 * cos((x + y) / 90.0));
}

const Source &TheSource() {
    static Source source;
    if (!source.Path.empty()) {
        return source;
    }
    source.Bgr.resize(SourceWidth * SourceHeight * 3);
    for (LONG y = 0; y < SourceHeight; y++) {
        for (LONG x = 0; x < SourceWidth; x++) {
            SourcePixel(x, y, &source.Bgr[(y * SourceWidth + x) * 3]);
        }
    }
    char directory[MAX_PATH];
    GetTempPathA(sizeof directory, directory);
    source.Path = std::string(directory) + "keypad-scan-source.bmp";
    RasterImage image = {SourceWidth,       SourceHeight, 24, SourceWidth * 3,
                         source.Bgr.data(), SourceDpi,    1};
    if (!WriteBmpFile(source.Path.c_str(), &image)) {
        source.Path.clear();
    }
    return source;
}

int Luma(const BYTE *bgr) {
    return (299 * bgr[2] + 587 * bgr[1] + 114 * bgr[0] + 500) / 1000;
}

// What one scanned pixel should be, by the simplest independent rule: the
// source pixel under the centre of the scanned pixel.
const BYTE *ReferencePixel(LONG x, LONG y, int dpi) {
    static const BYTE white[3] = {255, 255, 255};
    LONG sx = (LONG)((x + 0.5) * SourceDpi / dpi), sy = (LONG)((y + 0.5) * SourceDpi / dpi);
    if (sx >= SourceWidth || sy >= SourceHeight) {
        return white;
    }
    return &TheSource().Bgr[(sy * SourceWidth + sx) * 3];
}

int LoadSource() {
    char reply[256];
    return DeviceCommand(("load " + TheSource().Path).c_str(), reply, sizeof reply);
}

int FeederPages() {
    char reply[64] = "";
    if (DeviceCommand("pages", reply, sizeof reply) != DeviceReplyOk) {
        return -1;
    }
    return atoi(reply + 3);
}

// Lines collected by the readers' callback.
std::vector<BYTE> Collected;
ReadRequest Request;
bool DibBands;

WORD CollectLines(DWORD lines) {
    DWORD bpl = ScanParameters.BytesPerLine;
    DWORD rows = Request.Capacity / bpl;
    for (DWORD i = 0; i < lines; i++) {
        // Bands are bottom-up: the first scanned line is the buffer's last row.
        DWORD row = DibBands ? rows - 1 - i : i;
        const BYTE *line = Request.Buffer + row * bpl;
        Collected.insert(Collected.end(), line, line + bpl);
    }
    return 0;
}

class ScanThroughDriver : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        ASSERT_EQ(1, BindDriver()) << "the virtual scanner did not bind";
    }
    static void TearDownTestSuite() {
        UnbindDriver();
        // The device outlives its user; it goes with the tests.
        char reply[64];
        DeviceCommand("quit", reply, sizeof reply);
        for (int i = 0; i < 100 && DeviceIsRunning(); i++) {
            Sleep(50);
        }
        EXPECT_FALSE(DeviceIsRunning()) << "the device did not end";
    }

    void SetUp() override {
        ASSERT_FALSE(TheSource().Path.empty());
        char reply[256];
        DeviceCommand("fault clear", reply, sizeof reply);
        DeviceCommand("clear", reply, sizeof reply);
        ASSERT_EQ(DeviceReplyOk, LoadSource());
        ASSERT_EQ(1, OpenDevice());
    }
    void TearDown() override {
        FinishPage();
        CloseDevice();
    }

    // Sets the Letter window up for one data type and resolution.
    void Setup(WORD dataType, int dpi, WORD flags) {
        memset(&ScanParameters, 0, sizeof ScanParameters);
        ScanParameters.Width = 2550;
        ScanParameters.Height = 3300;
        ScanParameters.ResolutionX = ScanParameters.ResolutionY = (WORD)dpi;
        ScanParameters.DataType = dataType;
        ScanParameters.ScanFlags = flags;
        SetScanParameters();
    }

    // Reads the whole page with ReadScanLines through a buffer of bufferLines lines.
    WORD ReadPage(DWORD bufferLines, bool bands) {
        static std::vector<BYTE> buffer;
        buffer.assign(bufferLines * ScanParameters.BytesPerLine, 0xA5);
        Collected.clear();
        DibBands = bands;
        Request = {};
        Request.Buffer = buffer.data();
        Request.Capacity = (DWORD)buffer.size();
        Request.LineCallback = CollectLines;
        return ReadScanLines(&Request);
    }
};

void SaveForInspection(const char *name, WORD dataType, int dpi) {
    char path[MAX_PATH];
    GetTempPathA(sizeof path, path);
    char file[64];
    snprintf(file, sizeof file, "keypad-scan-%s-%d.bmp", name, dpi);
    lstrcatA(path, file);
    int bits = dataType == 0 ? 1 : dataType == 2 ? 8 : 24;
    RasterImage image = {(LONG)ScanParameters.PixelsPerLine,
                         (LONG)ScanParameters.Lines,
                         bits,
                         (LONG)ScanParameters.BytesPerLine,
                         Collected.data(),
                         dpi,
                         1};
    WriteBmpFile(path, &image);
}

struct Comparison {
    double MeanError;  // mean absolute difference per sample
    double FarShare;   // share of samples more than 32 away
    double Mismatches; // line art: share of pixels of the other colour
};

Comparison Compare(WORD dataType, int dpi) {
    Comparison result = {0, 0, 0};
    long long total = 0, distant = 0, samples = 0;
    DWORD bpl = ScanParameters.BytesPerLine;
    for (DWORD y = 0; y < ScanParameters.Lines; y++) {
        const BYTE *line = &Collected[y * bpl];
        for (DWORD x = 0; x < ScanParameters.PixelsPerLine; x++) {
            const BYTE *ref = ReferencePixel(x, y, dpi);
            if (dataType == 0) {
                int white = (line[x / 8] >> (7 - x % 8)) & 1;
                distant += white != (Luma(ref) >= 128);
                samples++;
                continue;
            }
            int count = dataType == 2 ? 1 : 3;
            for (int c = 0; c < count; c++) {
                int expected = dataType == 2 ? Luma(ref) : ref[c];
                int error = abs(line[x * count + c] - expected);
                total += error;
                distant += error > 32;
                samples++;
            }
        }
    }
    result.MeanError = (double)total / samples;
    result.FarShare = (double)distant / samples;
    result.Mismatches = dataType == 0 ? result.FarShare : 0;
    return result;
}

struct Case {
    const char *Name;
    WORD DataType;
    int BitsPerPixel;
};

const Case Cases[] = {{"lineart", 0, 1}, {"grey", 2, 8}, {"colour", 3, 24}};

// Tolerances: the scanner averages the source pixels under a scanned pixel,
// the reference takes the one under its centre; they differ at edges only.
TEST_F(ScanThroughDriver, EveryDataTypeAtTwoResolutionsMatchesTheSource) {
    for (const Case &c : Cases) {
        for (int dpi : {100, 300}) {
            SCOPED_TRACE(std::string(c.Name) + " at " + std::to_string(dpi) + " dpi");
            if (c.DataType != 0 || dpi != 100) {
                ASSERT_EQ(DeviceReplyOk, LoadSource());
            }
            Setup(c.DataType, dpi, 10);
            ASSERT_EQ(2550u * dpi / 300, ScanParameters.PixelsPerLine);
            ASSERT_EQ(3300u * dpi / 300, ScanParameters.Lines);
            ASSERT_EQ(0u, ScanParameters.BytesPerLine % 4);
            ASSERT_GE(ScanParameters.BytesPerLine * 8,
                      ScanParameters.PixelsPerLine * c.BitsPerPixel);
            EXPECT_EQ(ReadPageComplete, ReadPage(64, false));
            ASSERT_EQ(ScanParameters.Lines * ScanParameters.BytesPerLine, Collected.size());
            SaveForInspection(c.Name, c.DataType, dpi);
            Comparison match = Compare(c.DataType, dpi);
            if (c.DataType == 0) {
                EXPECT_LT(match.Mismatches, 0.02);
            } else {
                EXPECT_LT(match.MeanError, 4.0);
                EXPECT_LT(match.FarShare, 0.01);
            }
        }
    }
}

TEST_F(ScanThroughDriver, BottomUpBandsCarryTheSameLinesAsTopDownReads) {
    Setup(3, 100, 10);
    ASSERT_EQ(ReadPageComplete, ReadPage(37, false));
    std::vector<BYTE> topDown = Collected;
    ASSERT_EQ(DeviceReplyOk, LoadSource());
    Setup(3, 100, 46);
    // 1100 lines in bands of 37: the last band is short and sits at the buffer's end.
    ASSERT_EQ(ReadPageComplete, ReadPage(37, true));
    EXPECT_TRUE(topDown == Collected);
}

TEST_F(ScanThroughDriver, TheFaxReaderPullsThePageChunkByChunk) {
    Setup(2, 100, 10);
    std::vector<BYTE> buffer(50 * ScanParameters.BytesPerLine);
    ReadRequest chunk = {};
    chunk.Buffer = buffer.data();
    chunk.Capacity = (DWORD)buffer.size();
    DWORD lines = 0;
    WORD status;
    while ((status = ReadScanChunk(&chunk)) == ReadMore) {
        lines += chunk.Delivered;
    }
    EXPECT_EQ(ReadPageComplete, status);
    EXPECT_EQ(ScanParameters.Lines, lines);
    EXPECT_EQ(0, FeederPages()) << "a finished sheet leaves the feeder";
}

TEST_F(ScanThroughDriver, AnAbortedReadCancelsTheJobAndFinishPageReleasesTheSheet) {
    char reply[256];
    Setup(2, 100, 10);
    DeviceCommand("fault abort 300", reply, sizeof reply);
    CancelRequested = 0;
    EXPECT_EQ(ReadFailed, ReadPage(64, false));
    EXPECT_EQ(1, CancelRequested);
    EXPECT_LE(Collected.size(), 300u * ScanParameters.BytesPerLine);
    EXPECT_EQ(1, FeederPages());
    FinishPage();
    EXPECT_EQ(0, FeederPages());
    CancelRequested = 0;
}

TEST_F(ScanThroughDriver, AReadErrorStopsWithItsOwnStatus) {
    char reply[256];
    Setup(0, 100, 10);
    DeviceCommand("fault read-error 10", reply, sizeof reply);
    WORD status = ReadPage(64, false);
    EXPECT_NE(ReadPageComplete, status);
    EXPECT_NE(ReadMore, status);
    EXPECT_NE(ReadFailed, status);
}

} // namespace
