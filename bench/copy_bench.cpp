// The copy job's own cost per page: writing the scanned bands to the spool
// file and reading them back band by band, with the printer's rendering left
// out, beside plain file writing and reading of the same bytes in the same
// run. Then the peak committed memory of a whole 300-dpi colour Legal copy on
// the prefix's PostScript printer, beside the 1 MiB band the job moves pages in.
#include <windows.h>
#include <psapi.h>
#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

#include "bench_figure.h"
#include "app/app.h"
#include "app/settings.h"
#include "copy/copy_job.h"
#include "copy/copy_job_steps.h"
#include "device_client.h"
#include "driver/driver.h"
#include "page_image.h"
#include "panel/panel_state.h"

namespace {

// A colour page at 100 dpi, 8.5 inches wide and heightInches high.
std::string MakePage(const char *name, LONG heightInches) {
    const LONG width = 850, height = heightInches * 100;
    std::vector<BYTE> pixels(width * 3 * height);
    for (LONG y = 0; y < height; y++) {
        for (LONG x = 0; x < width * 3; x++) {
            pixels[y * width * 3 + x] = (BYTE)(x * 7 + y * 3);
        }
    }
    char path[MAX_PATH];
    GetTempPathA(sizeof path, path);
    lstrcatA(path, name);
    RasterImage image = {width, height, 24, width * 3, pixels.data(), 100, 1};
    return WriteBmpFile(path, &image) ? path : "";
}

void Command(const std::string &command) {
    char reply[256];
    DeviceCommand(command.c_str(), reply, sizeof reply);
}

WORD CountScanned(DWORD lines) {
    ScanParameters.Lines -= lines < ScanParameters.Lines ? lines : ScanParameters.Lines;
    return ScanParameters.Lines == 0 ? ReadPageComplete : ReadMore;
}

// Stands in for the printer: takes the band and counts its lines off.
WORD SkipBand(DWORD lines, const BYTE *) {
    ScanParameters.Lines -= lines;
    return ReadMore;
}

// Loads the page afresh and scans it with the given line consumer; the seconds the reads took.
double TimeScan(const std::string &page, LineCallbackProc consumer) {
    Command("load " + page);
    SetScanParameters();
    double start = Now();
    int scanned;
    if (consumer) {
        ReadRequest request = {BandBuffer.Pixels, consumer,
                               BandBuffer.Lines * ScanParameters.BytesPerLine, 0};
        scanned = ReadScanLines(&request) == ReadPageComplete;
    } else {
        scanned = ScanPageToSpool();
    }
    double seconds = Now() - start;
    return scanned ? seconds : -1;
}

double Best(double best, double seconds) {
    return seconds >= 0 && seconds < best ? seconds : best;
}

// Plain WriteFile and ReadFile of the same bytes in 1 MiB pieces.
void TimePlainFile(DWORD bytes, double *writeSeconds, double *readSeconds) {
    char path[MAX_PATH];
    GetTempPathA(sizeof path, path);
    lstrcatA(path, "keypad-copy-bench.bin");
    std::vector<BYTE> buffer(1 << 20, 0x5A);
    HANDLE file = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, NULL, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_DELETE_ON_CLOSE, NULL);
    double start = Now();
    for (DWORD done = 0, moved; done < bytes; done += moved) {
        DWORD piece = bytes - done < buffer.size() ? bytes - done : (DWORD)buffer.size();
        WriteFile(file, buffer.data(), piece, &moved, NULL);
    }
    *writeSeconds = Now() - start;
    SetFilePointer(file, 0, NULL, FILE_BEGIN);
    start = Now();
    for (DWORD done = 0, moved = 1; done < bytes && moved; done += moved) {
        ReadFile(file, buffer.data(), (DWORD)buffer.size(), &moved, NULL);
    }
    *readSeconds = Now() - start;
    CloseHandle(file);
}

SIZE_T Committed() {
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof counters;
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
    // The commit charge; Wine leaves the _EX record's PrivateUsage at 0.
    return counters.PagefileUsage;
}

int SetUp() {
    lstrcpynA(AppTitle, "Varnel Keypad Program", sizeof AppTitle);
    ProductPath(SettingsPath, sizeof SettingsPath, "");
    SettingsDirEnd = lstrlenA(SettingsPath);
    if (!BindDriver() || !BindPrinterLibrary()) {
        printf("set-up failed: no virtual scanner or no printer library\n");
        return 0;
    }
    CopySettings.AlwaysDefault = 1;
    for (LevelPair &levels : ModeLevels) {
        levels.Brightness = levels.Contrast = 50;
    }
    ScanMode = ModeColorPhoto;
    return 1;
}

// The copy job's own work on a colour Letter page, best of three.
void SpoolCost(const std::string &page) {
    PaperSize = 0;
    JobCopySettings.FitInPage = 1;
    GetProfileStringA("Windows", "device", "", JobPrinterName, sizeof JobPrinterName);
    Command("clear");
    Command("load " + page);
    if (!OpenJobPrinter() || !OpenDevice()) {
        printf("set-up failed: printer or device\n");
        return;
    }
    SetCopyGeometry();
    if (!AllocateBandBuffer() || !PrepareSpool()) {
        printf("set-up failed: band buffer or spool file\n");
        return;
    }
    double scanOnly = 1e9, scanSpool = 1e9, replay = 1e9, plainWrite = 1e9, plainRead = 1e9;
    DWORD bytes = 0;
    for (int round = 0; round < 3; round++) {
        scanOnly = Best(scanOnly, TimeScan(page, CountScanned));
        scanSpool = Best(scanSpool, TimeScan(page, NULL));
        bytes = LinesSpooled * ScanParameters.BytesPerLine;
        double start = Now();
        ReplaySpool(SkipBand);
        replay = Best(replay, Now() - start);
        double write, read;
        TimePlainFile(bytes, &write, &read);
        plainWrite = Best(plainWrite, write);
        plainRead = Best(plainRead, read);
    }
    ReleaseJobBuffers();
    ReleaseDevMode();
    CloseDevice();
    double spoolWrite = scanSpool - scanOnly;
    double own = spoolWrite + replay, plain = plainWrite + plainRead;
    printf("colour Letter page: %lu lines of %lu bytes (%.1f MiB), band of %lu lines\n",
           (unsigned long)LinesSpooled, (unsigned long)ScanParameters.BytesPerLine,
           bytes / 1048576.0, (unsigned long)BandBuffer.Lines);
    printf("scan reads alone        : %8.1f ms\n", scanOnly * 1000);
    printf("spool write (in scan)   : %8.1f ms\n", spoolWrite * 1000);
    printf("read-back and band loop : %8.1f ms\n", replay * 1000);
    printf("copy job's own cost     : %8.1f ms per page\n", own * 1000);
    printf("plain write + read      : %8.1f ms (%.1f + %.1f)\n", plain * 1000, plainWrite * 1000,
           plainRead * 1000);
    printf("ratio                   : %.2f times plain file writing and reading\n", own / plain);
    PrintFigure("copy job's spool cost per Letter page vs plain write + read", own * 1000,
                plain * 1000, "ms");
}

// A whole 300-dpi colour Legal copy through the job thread; committed memory sampled.
volatile LONG Sampling;
volatile SIZE_T SampledPeak;

DWORD WINAPI SampleMemory(LPVOID) {
    while (Sampling) {
        SIZE_T now = Committed();
        if (now > SampledPeak) {
            SampledPeak = now;
        }
        Sleep(2);
    }
    return 0;
}

void LegalCopyMemory(const std::string &page) {
    PaperSize = 1;
    JobCopySettings.FitInPage = 0; // the printer's own 300 dpi across and down
    TypedLength = 0;
    Command("clear");
    Command("load " + page);
    SIZE_T before = Committed();
    SampledPeak = before;
    Sampling = 1;
    HANDLE sampler = CreateThread(NULL, 0, SampleMemory, NULL, 0, NULL);
    double start = Now();
    CopyJobThread(NULL);
    double seconds = Now() - start;
    Sampling = 0;
    WaitForSingleObject(sampler, INFINITE);
    CloseHandle(sampler);
    char lcd[256] = "";
    DeviceCommand("lcd", lcd, sizeof lcd);
    const char *message = strstr(lcd, "message=");
    printf("colour Legal copy at %u x %u dpi: \"%.15s\", %.1f s with printing\n",
           ScanParameters.ResolutionX, ScanParameters.ResolutionY, message ? message + 8 : "?",
           seconds);
    printf("committed memory before : %8lu KiB\n", (unsigned long)(before / 1024));
    printf("sampled peak during job : %8lu KiB (+%lu KiB)\n", (unsigned long)(SampledPeak / 1024),
           (unsigned long)((SampledPeak - before) / 1024));
    printf("band buffer             : %8lu KiB (1 MiB of pixels and the header)\n",
           (unsigned long)((1048576 + 40) / 1024));
    PrintFigure("memory rise during a Legal copy vs its band buffer",
                (double)(SampledPeak - before) / 1024, (1048576 + 40) / 1024.0, "KiB");
}

} // namespace

int main() {
    std::string letter = MakePage("keypad-copy-letter.bmp", 11);
    std::string legal = MakePage("keypad-copy-legal.bmp", 14);
    if (letter.empty() || legal.empty() || !SetUp()) {
        return 1;
    }
    SpoolCost(letter);
    LegalCopyMemory(legal);
    UnbindPrinterLibrary();
    UnbindDriver();
    Command("quit");
    return 0;
}
