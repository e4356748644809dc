// Scan-line conversion: parameter completion, window cut, resampling, tone
// curve, data types and band placement, without a device.
#include "scan_convert.h"
#include "scanner_pages.h"
#include <gtest/gtest.h>
#include <math.h>

namespace {

ScanParameterRecord Window(WORD left, WORD top, WORD width, WORD height, WORD dpi, WORD type) {
    ScanParameterRecord p = {};
    p.Left = left, p.Top = top, p.Width = width, p.Height = height;
    p.ResolutionX = p.ResolutionY = dpi;
    p.DataType = type;
    return p;
}

// A page file that lives for one test, and a conversion of it.
struct ScannedPage {
    std::string Path;
    ScanConversion Scan = {};
    bool Begun = false;
    ScannedPage(LONG width, LONG height, LONG dpi, Rgb (*shade)(LONG, LONG)) {
        static int made; // each page its own file: a test may hold two open
        Path = TempPath(("ScannerTests_convert" + std::to_string(++made) + ".bmp").c_str());
        WriteColourPage(Path, width, height, dpi, shade);
    }
    void Begin(ScanParameterRecord *params) {
        ASSERT_TRUE(CompleteScanParameters(params));
        ASSERT_TRUE(BeginPageScan(&Scan, Path.c_str(), params));
        Begun = true;
    }
    // Completes the record, begins the scan and reads the whole window.
    std::vector<BYTE> ScanAll(ScanParameterRecord *params) {
        Begin(params);
        // A page that did not begin has failed already; the zeros keep the test's reads safe.
        return Begun ? Lines(params->Lines)
                     : std::vector<BYTE>((size_t)params->Lines * params->BytesPerLine);
    }
    std::vector<BYTE> Lines(DWORD count) {
        std::vector<BYTE> out((size_t)count * Scan.BytesPerLine, 0xCD);
        EXPECT_EQ(DeliverScanLines(&Scan, out.data(), (DWORD)out.size(), 0, count), (LONG)count);
        return out;
    }
    ~ScannedPage() {
        if (Begun)
            EndPageScan(&Scan);
        DeleteFileA(Path.c_str());
    }
};

Rgb Pattern(LONG x, LONG y) {
    return Rgb{(BYTE)(x * 7 + y), (BYTE)(y * 5), (BYTE)(x ^ y)};
}
// Smooth enough that averaging over different but overlapping areas agrees closely.
Rgb Gradient(LONG x, LONG y) {
    return Rgb{(BYTE)(x / 2 + y / 3), (BYTE)(200 - y / 2), (BYTE)(x / 3)};
}

TEST(ScannerConvert, CompletesParametersForEachDataType) {
    // 2550 x 3300 at 300 dpi is a Letter page; 100 dpi makes 850 pixels.
    struct Case {
        WORD Type, Dpi;
        DWORD Pixels, Bytes, Lines;
    } cases[] = {{0, 100, 850, 108, 1100},
                 {2, 100, 850, 852, 1100},
                 {3, 100, 850, 2552, 1100},
                 {3, 300, 2550, 7652, 3300},
                 {0, 75, 637, 80, 825}};
    for (const Case &c : cases) {
        ScanParameterRecord p = Window(0, 0, 2550, 3300, c.Dpi, c.Type);
        ASSERT_TRUE(CompleteScanParameters(&p));
        EXPECT_EQ(p.PixelsPerLine, c.Pixels);
        EXPECT_EQ(p.BytesPerLine, c.Bytes);
        EXPECT_EQ(p.Lines, c.Lines);
        EXPECT_EQ(p.TableRequest, 4);
    }
}

TEST(ScannerConvert, RefusesInvalidParameters) {
    ScanParameterRecord bad[] = {
        Window(0, 0, 2550, 3300, 49, 2),  Window(0, 0, 2550, 3300, 1201, 2),
        Window(0, 0, 2550, 3300, 100, 1), Window(0, 0, 0, 3300, 100, 2),
        Window(0, 0, 2550, 0, 100, 2),    Window(0, 0, 2, 2, 50, 3)};
    for (ScanParameterRecord &p : bad) {
        p.PixelsPerLine = p.BytesPerLine = p.Lines = 99;
        EXPECT_FALSE(CompleteScanParameters(&p));
        EXPECT_EQ(p.Lines, 0u);
        EXPECT_EQ(p.BytesPerLine, 0u);
        EXPECT_EQ(p.PixelsPerLine, 0u);
    }
    ScanParameterRecord mixed = Window(0, 0, 300, 300, 100, 2);
    mixed.ResolutionY = 40;
    EXPECT_FALSE(CompleteScanParameters(&mixed));
}

TEST(ScannerConvert, SameResolutionColourCopiesThePageWithZeroPadding) {
    ScannedPage page(33, 20, 300, Pattern);
    ScanParameterRecord p = Window(0, 0, 33, 20, 300, 3);
    std::vector<BYTE> lines = page.ScanAll(&p);
    ASSERT_EQ(p.BytesPerLine, 100u); // 99 bytes of pixels, one of padding
    for (LONG y = 0; y < 20; y++) {
        const BYTE *line = &lines[(size_t)y * 100];
        for (LONG x = 0; x < 33; x++) {
            Rgb c = Pattern(x, y);
            ASSERT_EQ(line[x * 3], c.B) << x << "," << y;
            ASSERT_EQ(line[x * 3 + 1], c.G);
            ASSERT_EQ(line[x * 3 + 2], c.R);
        }
        EXPECT_EQ(line[99], 0);
    }
}

TEST(ScannerConvert, WindowIsCutFromThePageAndWhiteBeyondIt) {
    ScannedPage page(40, 30, 300, Pattern);
    // From (10, 5), 40 x 30: the right 10 columns and bottom 5 rows lie off the page.
    ScanParameterRecord p = Window(10, 5, 40, 30, 300, 3);
    std::vector<BYTE> lines = page.ScanAll(&p);
    for (LONG y = 0; y < 30; y++) {
        for (LONG x = 0; x < 40; x++) {
            const BYTE *px = &lines[(size_t)y * p.BytesPerLine + x * 3];
            bool onPage = x + 10 < 40 && y + 5 < 30;
            Rgb c = onPage ? Pattern(x + 10, y + 5) : Rgb{255, 255, 255};
            ASSERT_EQ(px[0], c.B) << x << "," << y;
            ASSERT_EQ(px[2], c.R) << x << "," << y;
        }
    }
}

// Exact area average of the page over one output pixel, with fractional coverage.
double ReferenceAverage(Rgb (*shade)(LONG, LONG), LONG pageW, LONG pageH, double scale, LONG ox,
                        LONG oy, int channel) {
    double x0 = ox * scale, x1 = (ox + 1) * scale, y0 = oy * scale, y1 = (oy + 1) * scale;
    double sum = 0, area = 0;
    for (LONG y = (LONG)floor(y0); y < y1; y++) {
        for (LONG x = (LONG)floor(x0); x < x1; x++) {
            double w = (fmin(x + 1, x1) - fmax(x, x0)) * (fmin(y + 1, y1) - fmax(y, y0));
            Rgb c = x < pageW && y < pageH ? shade(x, y) : Rgb{255, 255, 255};
            sum += w * (channel == 0 ? c.B : channel == 1 ? c.G : c.R);
            area += w;
        }
    }
    return sum / area;
}

TEST(ScannerConvert, ShrinkingAveragesTheCoveredArea) {
    const LONG w = 120, h = 90;
    // 100 dpi is an exact 3 x 3 box of the 300 dpi page; 72 dpi covers fractions of pixels.
    const WORD dpis[] = {100, 72};
    const double tolerance[] = {0.51, 3.0};
    for (int i = 0; i < 2; i++) {
        ScannedPage page(w, h, 300, Gradient);
        ScanParameterRecord p = Window(0, 0, w, h, dpis[i], 3);
        std::vector<BYTE> lines = page.ScanAll(&p);
        for (DWORD y = 0; y < p.Lines; y++) {
            for (DWORD x = 0; x < p.PixelsPerLine; x++) {
                for (int c = 0; c < 3; c++) {
                    double want = ReferenceAverage(Gradient, w, h, 300.0 / dpis[i], x, y, c);
                    ASSERT_NEAR(lines[y * p.BytesPerLine + x * 3 + c], want, tolerance[i])
                        << dpis[i] << " dpi at " << x << "," << y;
                }
            }
        }
    }
}

TEST(ScannerConvert, EnlargingRepeatsTheNearestPixel) {
    // A 100 dpi page scanned at 300 dpi: every page pixel becomes a 3 x 3 block.
    ScannedPage page(10, 8, 100, Pattern);
    ScanParameterRecord p = Window(0, 0, 30, 24, 300, 3);
    std::vector<BYTE> lines = page.ScanAll(&p);
    ASSERT_EQ(p.PixelsPerLine, 30u);
    for (LONG y = 0; y < 24; y++) {
        for (LONG x = 0; x < 30; x++) {
            Rgb c = Pattern(x / 3, y / 3);
            ASSERT_EQ(lines[y * p.BytesPerLine + x * 3 + 2], c.R) << x << "," << y;
        }
    }
}

TEST(ScannerConvert, GreyIsLumaAndLineArtThresholdsAtMidGrey) {
    static const Rgb colours[] = {{255, 0, 0},     {0, 255, 0},     {0, 0, 255},
                                  {127, 127, 127}, {128, 128, 128}, {255, 255, 255},
                                  {0, 0, 0},       {200, 100, 50},  {10, 200, 30}};
    auto shade = [](LONG x, LONG) { return colours[x % 9]; };
    ScannedPage grey(9, 1, 300, shade);
    ScanParameterRecord g = Window(0, 0, 9, 1, 300, 2);
    std::vector<BYTE> greyLine = grey.ScanAll(&g);
    ScannedPage art(9, 1, 300, shade);
    ScanParameterRecord a = Window(0, 0, 9, 1, 300, 0);
    std::vector<BYTE> artLine = art.ScanAll(&a);
    ASSERT_EQ(a.BytesPerLine, 4u);
    for (int x = 0; x < 9; x++) {
        const Rgb &c = colours[x];
        double luma = 0.299 * c.R + 0.587 * c.G + 0.114 * c.B;
        EXPECT_NEAR(greyLine[x], luma, 0.51) << x;
        int white = (artLine[x / 8] >> (7 - x % 8)) & 1;
        EXPECT_EQ(white, greyLine[x] >= 128) << x;
    }
    EXPECT_EQ(artLine[1] & 0x7F, 0) << "unused bits of the last byte are 0";
    EXPECT_EQ(artLine[2], 0);
    EXPECT_EQ(greyLine[9], 0);
}

TEST(ScannerConvert, ToneCurveOfBrightnessAndContrast) {
    BYTE tone[256];
    MakeToneTable(0, 0, tone);
    for (int v = 0; v < 256; v++)
        ASSERT_EQ(tone[v], v);
    MakeToneTable(40, 0, tone);
    EXPECT_EQ(tone[0], 40);
    EXPECT_EQ(tone[100], 140);
    EXPECT_EQ(tone[230], 255);
    MakeToneTable(-40, 0, tone);
    EXPECT_EQ(tone[20], 0);
    EXPECT_EQ(tone[100], 60);
    MakeToneTable(0, 64, tone); // steeper about mid-grey
    EXPECT_EQ(tone[128], 128);
    EXPECT_LT(tone[100], 100);
    EXPECT_GT(tone[156], 156);
    EXPECT_EQ(tone[0], 0);
    EXPECT_EQ(tone[255], 255);
    MakeToneTable(0, -127, tone); // nearly flat grey
    EXPECT_GE(tone[0], 127);
    EXPECT_LE(tone[255], 129);
    for (int v = 1; v < 256; v++)
        ASSERT_GE(tone[v], tone[v - 1]);
}

TEST(ScannerConvert, BrightnessIsAppliedToScannedLines) {
    ScannedPage page(8, 2, 300, [](LONG, LONG) { return Rgb{100, 100, 100}; });
    ScanParameterRecord p = Window(0, 0, 8, 2, 300, 2);
    p.Brightness = 30;
    std::vector<BYTE> lines = page.ScanAll(&p);
    EXPECT_EQ(lines[0], 130);
    EXPECT_EQ(lines[p.BytesPerLine + 7], 130);
}

Rgb RowShade(LONG, LONG y) {
    return Rgb{(BYTE)(y * 10), 0, 0};
}

// Which scanned line a delivered colour row holds (RowShade gives line y a red of y * 10);
// -1 for a row nothing was delivered into.
int LineInRow(const std::vector<BYTE> &buffer, DWORD row, DWORD stride) {
    BYTE red = buffer[row * stride + 2];
    return buffer[row * stride] == 0xCD ? -1 : red / 10;
}

TEST(ScannerConvert, BandsAreTopDownOrBottomUpWithTheShortBandAtTheEnd) {
    for (int dibBands = 0; dibBands < 2; dibBands++) {
        ScannedPage page(4, 25, 300, RowShade);
        ScanParameterRecord p = Window(0, 0, 4, 25, 300, 3);
        page.Begin(&p);
        const DWORD rows = 10, stride = p.BytesPerLine;
        DWORD first = 0;
        for (DWORD expected : {10u, 10u, 5u, 0u}) {
            std::vector<BYTE> band(rows * stride + 7, 0xCD); // a capacity of 10 rows and change
            LONG got = DeliverScanLines(&page.Scan, band.data(), (DWORD)band.size(), dibBands, 99);
            ASSERT_EQ(got, (LONG)expected);
            for (DWORD i = 0; i < expected; i++) {
                DWORD row = dibBands ? rows - 1 - i : i;
                EXPECT_EQ(LineInRow(band, row, stride), (int)(first + i)) << dibBands << " " << i;
            }
            // Rows the band does not fill keep what they held.
            for (DWORD i = expected; i < rows; i++)
                EXPECT_EQ(LineInRow(band, dibBands ? rows - 1 - i : i, stride), -1);
            first += expected;
        }
    }
}

TEST(ScannerConvert, LimitStopsEarlyAndTheNextDeliveryContinues) {
    ScannedPage page(4, 6, 300, RowShade);
    ScanParameterRecord p = Window(0, 0, 4, 6, 300, 3);
    page.Begin(&p);
    std::vector<BYTE> buffer(6 * p.BytesPerLine, 0xCD);
    EXPECT_EQ(DeliverScanLines(&page.Scan, buffer.data(), (DWORD)buffer.size(), 0, 2), 2);
    EXPECT_EQ(DeliverScanLines(&page.Scan, buffer.data(), (DWORD)buffer.size(), 0, 99), 4);
    EXPECT_EQ(LineInRow(buffer, 0, p.BytesPerLine), 2);
    EXPECT_EQ(DeliverScanLines(&page.Scan, buffer.data(), p.BytesPerLine - 1, 0, 99), 0);
}

} // namespace
