// The OCR library as the program has it (DLL32\KPOCR32.DLL of the test
// prefix, in process) against Debian's native `tesseract` with the same
// English data and one thread (OMP_THREAD_LIMIT=1), on the same pages in the
// same run (bench/ocr_native.py): the four pages of text_pages.py (DejaVu
// Sans and Serif, 40 lines of 12 points at 300 dpi, clean and turned by 1
// degree with noise), each in grey and in black and white as the Text mode
// scans it. For each, the time to read it (the least of the runs; the
// native start-up, measured on a blank page, taken off) and the share of its
// words found; ours and native read each page in turn, so that a machine
// busy with other work slows both alike. Then KEYPAD32's e-mail job of three
// such pages as one PDF document with and without their text, in turn (the
// least of the runs of each), against the job without plus the longest of
// those pages' reading: at the virtual scanner's own pace, a page a second or
// so, which is faster than a page's reading, and at a desk scanner's (each
// read of the device 2 s later).
#include <windows.h>
#include <stdio.h>

#include <algorithm>
#include <string>
#include <vector>

#include "abi/ocr_abi.h"
#include "bench_figure.h"
#include "page_image.h"
#include "program_harness.h"
#include "smtp_server_process.h"

namespace {

const int Runs = 3;
const char *const Names[] = {"sans", "serif", "sans-skewed", "serif-skewed"};
const char *const JobPages[] = {"sans", "serif-skewed", "sans-skewed"};

struct Library {
    OcrOpenProc Open;
    OcrReadPageProc ReadPage;
    OcrFreeResultProc FreeResult;
    OcrCloseProc Close;
};

// A page in grey and as the Text mode scans it: 1 bit, 1 white (at 128 and above).
struct Page {
    LONG Width, Height;
    std::vector<BYTE> Grey, Bits;
};

int LoadPage(const std::string &path, Page *page) {
    PageImage image;
    if (!OpenPageImage(path.c_str(), &image)) {
        return 0;
    }
    page->Width = image.Width;
    page->Height = image.Height;
    LONG stride = (image.Width + 7) / 8;
    page->Grey.assign((size_t)image.Width * image.Height, 0);
    page->Bits.assign((size_t)stride * image.Height, 0);
    std::vector<BYTE> row((size_t)image.Width * 3);
    int read = 1;
    for (LONG y = 0; y < image.Height && read; y++) {
        read = ReadPageRow(&image, y, row.data());
        for (LONG x = 0; x < image.Width; x++) {
            BYTE grey = row[(size_t)x * 3 + 1];
            page->Grey[(size_t)y * image.Width + x] = grey;
            if (grey >= 128) {
                page->Bits[(size_t)y * stride + x / 8] |= (BYTE)(0x80 >> (x % 8));
            }
        }
    }
    ClosePageImage(&image);
    return read;
}

// The black-and-white page as a PBM file (1 is black there).
int WritePbm(const Page &page, const std::string &path) {
    std::string text =
        "P4\n" + std::to_string(page.Width) + " " + std::to_string(page.Height) + "\n";
    for (BYTE b : page.Bits) {
        text += (char)~b;
    }
    WriteFileText(path, text);
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// Reads the page Runs times: the least time in seconds, and its words, a
// line each, into the file; -1 when the library could not read it.
double TimeReading(const Library &ocr, void *engine, const OcrPageImage &image,
                   const std::string &wordsFile) {
    double best = -1;
    std::string words;
    for (int run = 0; run < Runs; run++) {
        OcrResult *result = NULL;
        double start = Now();
        int outcome = ocr.ReadPage(engine, &image, NULL, &result);
        double spent = Now() - start;
        if (outcome != OcrRead) {
            return -1;
        }
        best = best < 0 || spent < best ? spent : best;
        words.clear();
        for (DWORD i = 0; i < result->WordCount; i++) {
            char text[1024];
            WideCharToMultiByte(CP_UTF8, 0, result->Text + result->Words[i].Text, -1, text,
                                sizeof text, NULL, NULL);
            words += std::string(text) + "\n";
        }
        ocr.FreeResult(result);
    }
    WriteFileText(wordsFile, words);
    return best;
}

// Seconds of KEYPAD32's e-mail job of the three pages at 300 dpi as one PDF
// document, with or without their text, each read of the device `slowMs`
// later, or 0.
double TimeJob(const std::string &folder, int searchable, int slowMs) {
    std::string outbox = folder + "outbox\\";
    CreateDirectoryA(outbox.c_str(), nullptr);
    WriteFileText(ProductFile("TELVEX.INI"),
                  "[Telvex]\r\n[Profile:Bench Mail]\r\nServices=28\r\nEmailAddress=scan@varnel."
                  "example\r\nFullName=Scan Desk\r\nOutbox=" +
                      outbox + "\r\n");
    WriteFileText(ProductFile("SYS.INI"),
                  std::string("[Varnel]\r\nFaxService=1\r\n[Varnel FAX]\r\nMS Exchange Email=Bench "
                              "Mail\r\nUseProfile=1\r\nNumberOfEmailRecip3=1\r\nSendPagesAs=1\r\n"
                              "SearchableText=") +
                      (searchable ? "1" : "0") + "\r\n");
    WriteKeyFiles(17, {{"Bench Reader", "SMTP:reader@example.com"}});             // e-mail key 3
    std::vector<std::string> commands = {"press resolution", "press resolution"}; // 300 dpi
    for (const char *name : JobPages) {
        commands.push_back("load " + folder + name + ".bmp");
    }
    commands.push_back("fault slow " + std::to_string(slowMs));
    commands.push_back("press speed3");
    double spent = 0;
    std::string outcome = RunFaxJob(commands, &spent);
    ClearFolder(outbox);
    if (outcome != "Xferred to Xchg") {
        printf("the %s job ended with \"%s\"\n", searchable ? "searchable" : "plain",
               outcome.c_str());
        return 0;
    }
    return spent;
}

// Native tesseract on one page file (bench/ocr_native.py): its time less its
// start-up, the share of the words it found and of those ours found
// (ours-NAME-FORM.txt); 0 when it did not finish.
int ReadNatively(const std::string &folder, const char *name, const char *form,
                 const std::string &file, double *seconds, double *share, double *ourShare) {
    std::string native = UnixPath(folder);
    WriteFileText(folder + "pages.txt", std::string(name) + " " + form + " " + file + "\n");
    DeleteFileA((folder + "done").c_str());
    if (!StartHostScript(OCR_NATIVE_SCRIPT, native + " " + std::to_string(Runs), folder + "done",
                         600000)) {
        return 0;
    }
    std::string results = ReadFileText(folder + "native.txt");
    double startup = 0;
    char got[32], gotForm[8];
    if (sscanf(results.c_str(), "startup %lf %31s %7s %lf %lf %lf", &startup, got, gotForm, seconds,
               share, ourShare) != 6) {
        printf("the native tesseract's figures cannot be read: %s\n", results.c_str());
        return 0;
    }
    *seconds -= startup;
    return 1;
}

} // namespace

int main() {
    std::string folder = TempPath("ocrbench\\");
    ClearFolder(folder);
    CreateDirectoryA(folder.c_str(), nullptr);
    std::string native = UnixPath(folder);
    if (native.empty() || !StartHostScript(TEXT_PAGES_SCRIPT, native, folder + "done", 600000)) {
        printf("the pages cannot be written\n");
        return 1;
    }
    HMODULE module = LoadLibraryA(ProductFile("DLL32\\KPOCR32.DLL").c_str());
    Library ocr = {};
    if (module) {
        ocr.Open = (OcrOpenProc)(void (*)())GetProcAddress(module, "OcrOpen");
        ocr.ReadPage = (OcrReadPageProc)(void (*)())GetProcAddress(module, "OcrReadPage");
        ocr.FreeResult = (OcrFreeResultProc)(void (*)())GetProcAddress(module, "OcrFreeResult");
        ocr.Close = (OcrCloseProc)(void (*)())GetProcAddress(module, "OcrClose");
    }
    double start = Now();
    void *engine = ocr.Open && ocr.ReadPage && ocr.FreeResult && ocr.Close ? ocr.Open(NULL) : NULL;
    double opening = Now() - start;
    if (!engine) {
        printf("the OCR library or its data cannot be had\n");
        return 1;
    }
    printf("opening the library's engine with its data: %.3f s\n", opening);
    double longestJobPage = 0;
    for (const char *name : Names) {
        Page page;
        std::string file = folder + name + ".bmp";
        if (!LoadPage(file, &page) || !WritePbm(page, folder + name + ".pbm")) {
            printf("the page %s cannot be read\n", name);
            return 1;
        }
        for (int bits : {8, 1}) {
            const char *form = bits == 8 ? "grey" : "bw";
            OcrPageImage image = {bits == 8 ? page.Grey.data() : page.Bits.data(),
                                  page.Width,
                                  page.Height,
                                  bits == 8 ? page.Width : (page.Width + 7) / 8,
                                  bits,
                                  300,
                                  300};
            double ours =
                TimeReading(ocr, engine, image, folder + "ours-" + name + "-" + form + ".txt");
            if (ours < 0) {
                printf("the library could not read the page %s\n", name);
                return 1;
            }
            double theirs, theirShare, ourShare;
            if (!ReadNatively(folder, name, form, native + name + (bits == 8 ? ".bmp" : ".pbm"),
                              &theirs, &theirShare, &ourShare)) {
                printf("the native tesseract did not read the page %s\n", name);
                return 1;
            }
            printf("%s page, %s: ours %.3f s, %.1f %% of the words | native %.3f s, %.1f %% | "
                   "time %.2f x native's (goal <= 1.1), words %+.1f points (goal >= 0)\n",
                   name, form, ours, ourShare * 100, theirs, theirShare * 100, ours / theirs,
                   (ourShare - theirShare) * 100);
            std::string figure = std::string("OCR of the ") + name + " page (" + form + "): ";
            PrintFigure((figure + "time vs native tesseract less start-up").c_str(), ours, theirs,
                        "s");
            PrintFigure((figure + "words found vs native tesseract").c_str(), ourShare * 100,
                        theirShare * 100, "%");
            if (bits == 1 && std::find_if(std::begin(JobPages), std::end(JobPages),
                                          [&](const char *p) { return strcmp(p, name) == 0; }) !=
                                 std::end(JobPages)) {
                longestJobPage = std::max(longestJobPage, ours);
            }
        }
    }
    ocr.Close(engine);
    const int Paces[2] = {0, 2000};
    // The least of the runs of each; a run that failed (0) spoils it.
    double plain[2] = {0, 0}, searchable[2] = {0, 0};
    {
        FileBackup settings(ProductFile("SYS.INI")), store(ProductFile("TELVEX.INI")),
            des(ProductFile("17.DES")), inf(ProductFile("17.INF"));
        for (int k = 0; k < 2; k++) {
            std::vector<double> without, with;
            for (int run = 0; run < Runs; run++) {
                without.push_back(TimeJob(folder, 0, Paces[k]));
                with.push_back(TimeJob(folder, 1, Paces[k]));
            }
            plain[k] = Least(without);
            searchable[k] = Least(with);
        }
    }
    if (plain[0] <= 0 || searchable[0] <= 0 || plain[1] <= 0 || searchable[1] <= 0) {
        printf("the figures are incomplete\n");
        return 1;
    }
    for (int k = 0; k < 2; k++) {
        printf("e-mail job of 3 pages at 300 dpi as one PDF document, the device %d ms slower a "
               "read (%.1f s a page): %.2f s without text, %.2f s with; the longest page's "
               "reading %.2f s (goal: with <= without + one page's reading, %.2f s)\n",
               Paces[k], plain[k] / 3, plain[k], searchable[k], longestJobPage,
               plain[k] + longestJobPage);
        std::string figure = std::string("searchable PDF job of 3 pages, ") +
                             (k ? "a desk scanner's pace" : "the virtual scanner's pace") +
                             ", vs the job without text + one page's OCR";
        PrintFigure(figure.c_str(), searchable[k], plain[k] + longestJobPage, "s");
    }
    return 0;
}
