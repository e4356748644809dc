// Read throughput of the scanner driver for a 300-dpi colour Letter page,
// through the keypad manager's binding and reader, beside a plain copy of the
// same bytes in the same run.
#include <windows.h>
#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

#include "bench_figure.h"
#include "device_client.h"
#include "driver/driver.h"
#include "page_image.h"

namespace {

const LONG Width = 2550, Height = 3300; // Letter at 300 dpi
const DWORD BandBytes = 1 << 20;        // the jobs' 1 MiB buffer

double Seconds(LARGE_INTEGER start, LARGE_INTEGER end) {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return (double)(end.QuadPart - start.QuadPart) / frequency.QuadPart;
}

std::string MakePage() {
    char path[MAX_PATH];
    GetTempPathA(sizeof path, path);
    lstrcatA(path, "keypad-bench-page.bmp");
    std::vector<BYTE> pixels(Width * 3 * Height);
    for (LONG y = 0; y < Height; y++) {
        for (LONG x = 0; x < Width * 3; x++) {
            pixels[y * Width * 3 + x] = (BYTE)(x * 7 + y * 3);
        }
    }
    RasterImage image = {Width, Height, 24, Width * 3, pixels.data(), 300, 1};
    return WriteBmpFile(path, &image) ? path : "";
}

DWORD TotalBytes;

WORD CountLines(DWORD lines) {
    TotalBytes += lines * ScanParameters.BytesPerLine;
    return 0;
}

} // namespace

int main() {
    std::string page = MakePage();
    char reply[256];
    if (page.empty() || !BindDriver()) {
        printf("set-up failed: no page or no virtual scanner\n");
        return 1;
    }
    const int rounds = 3;
    double best = 1e9;
    std::vector<BYTE> band(BandBytes);
    for (int round = 0; round < rounds; round++) {
        DeviceCommand("clear", reply, sizeof reply);
        DeviceCommand(("load " + page).c_str(), reply, sizeof reply);
        OpenDevice();
        memset(&ScanParameters, 0, sizeof ScanParameters);
        ScanParameters.Width = 2550;
        ScanParameters.Height = 3300;
        ScanParameters.ResolutionX = ScanParameters.ResolutionY = 300;
        ScanParameters.DataType = 3;
        ScanParameters.ScanFlags = 46;
        SetScanParameters();
        ReadRequest request = {};
        request.Buffer = band.data();
        request.Capacity = BandBytes / ScanParameters.BytesPerLine * ScanParameters.BytesPerLine;
        request.LineCallback = CountLines;
        TotalBytes = 0;
        LARGE_INTEGER start, end;
        QueryPerformanceCounter(&start);
        WORD status = ReadScanLines(&request);
        QueryPerformanceCounter(&end);
        CloseDevice();
        if (status != ReadPageComplete) {
            printf("the read ended with status %u\n", status);
            return 1;
        }
        double seconds = Seconds(start, end);
        best = seconds < best ? seconds : best;
    }

    // The same bytes copied band by band from one buffer to another.
    std::vector<BYTE> source(TotalBytes, 0x5A), target(BandBytes);
    double copyBest = 1e9;
    for (int round = 0; round < rounds; round++) {
        LARGE_INTEGER start, end;
        QueryPerformanceCounter(&start);
        for (DWORD at = 0; at < TotalBytes; at += BandBytes) {
            DWORD n = TotalBytes - at < BandBytes ? TotalBytes - at : BandBytes;
            memcpy(target.data(), source.data() + at, n);
        }
        QueryPerformanceCounter(&end);
        double seconds = Seconds(start, end);
        copyBest = seconds < copyBest ? seconds : copyBest;
    }
    double mib = TotalBytes / 1048576.0;
    printf("300-dpi colour Letter page: %.1f MiB in 1 MiB bands (best of %d)\n", mib, rounds);
    printf("driver read : %8.1f ms  %8.1f MiB/s\n", best * 1000, mib / best);
    printf("plain copy  : %8.1f ms  %8.1f MiB/s\n", copyBest * 1000, mib / copyBest);
    printf("ratio       : driver read takes %.1f times the plain copy\n", best / copyBest);
    PrintFigure("colour Letter page read through the driver vs memcpy", best * 1000,
                copyBest * 1000, "ms");
    UnbindDriver();
    DeleteFileA(page.c_str());
    DeviceCommand("quit", reply, sizeof reply);
    return 0;
}
