// Speed of accugnt5.dll's writers on the demonstration pages, and the memory a
// 300-dpi colour Legal page takes while it is written as JPEG.
//
// ImageFileBench [folder [pages]]: with a folder holding page1-text.bmp,
// page2-grey.bmp and page3-colour.bmp (scripts/make_pages.py), each page (and
// the grey one dithered to 1 bit) is written `pages` times (10), its median time taken, and its raw
// pixels are left beside it as PBM, PGM or PPM, so that scripts/bench_imagefile.sh can time the
// native coders on exactly the same pixels. Lines starting with "RESULT" (name, ms/page, bytes,
// dpi) are for that script.
#include <windows.h>
#include <psapi.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "abi/image_file_abi.h"
#include "bench_figure.h"
#include "page_image.h"
#include "pnm_file.h"

namespace {

// The library's two entries, looked up once.
WriteImageFileProc WriteImage;
SetImageOptionProc SetOption;

struct BenchPage {
    LONG Width, Height, Dpi;
    int Bits;
    DWORD Stride;
    std::vector<BYTE> Pixels; // DIB rows, top first; 1-bit: 1 = white
    // Memory sampling while the writer pulls lines (pixels then come from Shade).
    bool Procedural;
    SIZE_T PeakPrivate;
};

// The page buffer's image header as the fax job lays it out.
struct PageHeader {
    BITMAPINFOHEADER Info;
    RGBQUAD Palette[256];
};

double Milliseconds(LARGE_INTEGER start, LARGE_INTEGER end) {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return 1000.0 * (double)(end.QuadPart - start.QuadPart) / (double)frequency.QuadPart;
}

SIZE_T PrivateBytes() {
    // PagefileUsage is the private commit on Windows; Wine fills it with the
    // process's anonymous memory and leaves PrivateUsage 0.
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof counters;
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
    return counters.PagefileUsage;
}

void ShadeLine(BYTE *row, LONG width, LONG y) {
    for (LONG x = 0; x < width; x++) {
        row[3 * x] = (BYTE)(x * 255 / width);
        row[3 * x + 1] = (BYTE)(y / 17);
        row[3 * x + 2] = (BYTE)((x ^ y) & 0xFF);
    }
}

int WINAPI SupplyBenchLine(void *source, BYTE *destination, int line) {
    BenchPage *page = (BenchPage *)source;
    if (!page->Procedural) {
        memcpy(destination, &page->Pixels[(size_t)line * page->Stride], page->Stride);
        return 0;
    }
    ShadeLine(destination, page->Width, line);
    if (line % 16 == 0) {
        SIZE_T now = PrivateBytes();
        if (now > page->PeakPrivate)
            page->PeakPrivate = now;
    }
    return 0;
}

void FillHeader(const BenchPage &page, PageHeader *header) {
    ZeroMemory(header, sizeof *header);
    header->Info = {sizeof(BITMAPINFOHEADER),
                    page.Width,
                    page.Height,
                    1,
                    (WORD)page.Bits,
                    BI_RGB,
                    0,
                    page.Dpi,
                    page.Dpi,
                    0,
                    0};
    int entries = page.Bits == 1 ? 2 : page.Bits == 8 ? 256 : 0;
    for (int i = 0; i < entries; i++) {
        BYTE level = (BYTE)(page.Bits == 1 ? i * 255 : i);
        header->Palette[i] = {level, level, level, 0};
    }
}

// Writes the page once into a fresh temporary file, as the fax job does, or
// into `keep` when given; returns the file's size (0 on failure) and the time.
DWORD WriteOnce(BenchPage *page, int format, double *milliseconds, const char *keep = nullptr) {
    char folder[MAX_PATH], path[MAX_PATH];
    GetTempPathA(sizeof folder, folder);
    if (keep)
        lstrcpynA(path, keep, sizeof path);
    else
        GetTempFileNameA(folder, "VNL", 0, path);
    PageHeader header;
    FillHeader(*page, &header);
    HFILE file = _lcreat(path, 0);
    if (format == ImageFormatJpeg)
        SetOption(80);
    LARGE_INTEGER start, end;
    QueryPerformanceCounter(&start);
    int result = WriteImage(file, &header.Info, format, SupplyBenchLine, page);
    QueryPerformanceCounter(&end);
    DWORD size = GetFileSize((HANDLE)(LONG_PTR)file, nullptr);
    _lclose(file);
    if (!keep)
        DeleteFileA(path);
    *milliseconds = Milliseconds(start, end);
    return result == ImageWritten ? size : 0;
}

// Reads a demonstration page into DIB rows of the given depth; 1-bit rows are
// thresholded, or dithered (4x4 ordered) when `dither` is set.
bool LoadPage(const std::string &path, int bits, bool dither, BenchPage *page) {
    static const BYTE Bayer[4][4] = {{0, 8, 2, 10}, {12, 4, 14, 6}, {3, 11, 1, 9}, {15, 7, 13, 5}};
    PageImage image;
    if (!OpenPageImage(path.c_str(), &image))
        return false;
    page->Width = image.Width;
    page->Height = image.Height;
    page->Dpi = image.ResolutionX ? image.ResolutionX : 300;
    page->Bits = bits;
    page->Stride = (((DWORD)page->Width * bits + 31) / 32) * 4;
    page->Pixels.assign((size_t)page->Stride * page->Height, 0);
    page->Procedural = false;
    std::vector<BYTE> bgr((size_t)page->Width * 3);
    for (LONG y = 0; y < page->Height && ReadPageRow(&image, y, bgr.data()); y++) {
        BYTE *row = &page->Pixels[(size_t)y * page->Stride];
        for (LONG x = 0; x < page->Width; x++) {
            const BYTE *p = &bgr[(size_t)x * 3];
            int grey = (p[0] + p[1] + p[2]) / 3;
            if (bits == 1)
                row[x / 8] |=
                    (BYTE)(grey >= (dither ? Bayer[y % 4][x % 4] * 16 + 8 : 128) ? 0x80 >> (x % 8)
                                                                                 : 0);
            else if (bits == 8)
                row[x] = (BYTE)grey;
            else
                memcpy(row + 3 * x, p, 3);
        }
    }
    ClosePageImage(&image);
    return true;
}

// Times `pages` writes of the page file `source` (.bmp) made `bits` deep,
// under the name `name`.
void TimePage(const std::string &folder, const char *source, const char *name, int bits,
              bool dither, int format, int pages) {
    BenchPage page;
    if (!LoadPage(folder + "\\" + source + ".bmp", bits, dither, &page)) {
        printf("%s: cannot read %s.bmp in %s\n", name, source, folder.c_str());
        return;
    }
    std::string raw = folder + "\\" + name + (bits == 1 ? ".pbm" : bits == 8 ? ".pgm" : ".ppm");
    WritePnmFile(raw.c_str(), page.Width, page.Height, bits, page.Stride, page.Pixels.data());
    double each = 0;
    std::vector<double> times;
    DWORD bytes = WriteOnce(&page, format, &each); // first run loads the codec; not counted
    for (int i = 0; i < pages; i++) {
        bytes = WriteOnce(&page, format, &each);
        times.push_back(each);
    }
    std::string kept = folder + "\\ours-" + name + (format == ImageFormatJpeg ? ".jpg" : ".tif");
    WriteOnce(&page, format, &each, kept.c_str());
    double median = Median(times);
    printf("%-13s %ldx%ld %2d-bit %-4s %8.2f ms/page (median) %9lu bytes\n", name, page.Width,
           page.Height, bits, format == ImageFormatJpeg ? "JPEG" : "G4", median, bytes);
    printf("RESULT %s %.3f %lu %ld %.3f\n", name, median, bytes, page.Dpi, Least(times));
}

// Private bytes while a 300-dpi colour Legal page is written, lines made on
// the fly so that only the writer holds page data.
void MeasureLegalPage() {
    BenchPage warm = {16, 16, 300, 24, 48, {}, true, 0};
    double ms = 0;
    WriteOnce(&warm, ImageFormatJpeg, &ms); // loads the codec libraries first
    BenchPage legal = {2550, 4200, 300, 24, 7652, {}, true, 0};
    SIZE_T before = PrivateBytes();
    legal.PeakPrivate = before;
    DWORD bytes = WriteOnce(&legal, ImageFormatJpeg, &ms);
    SIZE_T after = PrivateBytes();
    double peak = (double)(legal.PeakPrivate - before) / 1048576.0;
    printf("Legal colour 2550x4200 JPEG: %.0f ms, %lu bytes; private memory rose at most %.2f MiB "
           "over the %.2f MiB before (%.2f MiB after); the job's page buffer is 1.00 MiB\n",
           ms, bytes, peak, (double)before / 1048576.0, (double)after / 1048576.0);
    printf("RESULT legal-peak-mib %.3f 0\n", peak);
}

} // namespace

int main(int argc, char **argv) {
    HMODULE library = LoadLibraryA("accugnt5.dll");
    if (!library) {
        printf("accugnt5.dll not found\n");
        return 1;
    }
    WriteImage = reinterpret_cast<WriteImageFileProc>(
        reinterpret_cast<void *>(GetProcAddress(library, MAKEINTRESOURCEA(WriteImageFileOrdinal))));
    SetOption = reinterpret_cast<SetImageOptionProc>(
        reinterpret_cast<void *>(GetProcAddress(library, MAKEINTRESOURCEA(SetImageOptionOrdinal))));
    if (!WriteImage || !SetOption) {
        printf("accugnt5.dll lacks ordinal 15 or 40\n");
        return 1;
    }
    MeasureLegalPage();
    if (argc < 2) {
        printf("(page timings against the native coders: scripts/bench_imagefile.sh)\n");
        return 0;
    }
    int pages = argc > 2 ? atoi(argv[2]) : 10;
    TimePage(argv[1], "page1-text", "page1-text", 1, false, ImageFormatTiffG4, pages);
    TimePage(argv[1], "page2-grey", "page2-dither", 1, true, ImageFormatTiffG4, pages);
    TimePage(argv[1], "page2-grey", "page2-grey", 8, false, ImageFormatJpeg, pages);
    TimePage(argv[1], "page3-colour", "page3-colour", 24, false, ImageFormatJpeg, pages);
    return 0;
}
