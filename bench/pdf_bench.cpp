// The PDF writer against Debian's `img2pdf --pdfa` on the same page files in
// the same run: ten text pages (Group 4 TIFF) and ten colour photo pages
// (JPEG), Letter at 200 dpi, written by the image-file library as the fax job
// writes them. Ours is timed in process; img2pdf natively beside Wine
// (bench/img2pdf_times.py), as a command a document with its start-up
// measured on one page and shown apart, and as its library in one process,
// the reference the ratio takes: subtracting a start-up of hundreds of
// milliseconds measured apart leaves mostly the noise of a busy machine. The
// other reference is the time KEYPAD32 takes to
// scan ten such pages from the virtual scanner into their files (a fax job to
// a typed number, up to "Translating..."); the library's coding of them alone
// is shown beside it, and so is the least a document of them can take here:
// the page files copied into one file with plain reads and writes. The sizes
// go against img2pdf's and the page files' sum.
#include <windows.h>
#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

#include "bench_figure.h"
#include "fax/fax_job.h"
#include "program_harness.h"
#include "smtp_server_process.h"

namespace {

const int Pages = 10, Dpi = 200;
const int Runs = BenchRounds(7);
const double AllowedBytes = 4096, AllowedBytesAPage = 300;

// Milliseconds KEYPAD32 takes from the Fax key to the last of ten pages of
// the kind written to its file, or 0. A fax to a typed number, sent as files.
double TimeJobPages(PageKind kind, const std::string &folder) {
    std::string outbox = folder + "outbox\\";
    CreateDirectoryA(outbox.c_str(), nullptr);
    WriteFileText(
        ProductFile("TELVEX.INI"),
        "[Telvex]\r\n[Profile:Bench Fax]\r\nServices=25\r\nFaxGateway=fax.test.example\r\n"
        "FaxNumber=5550100\r\nOutbox=" +
            outbox + "\r\n");
    WriteFileText(ProductFile("SYS.INI"), "[Varnel]\r\nFaxService=1\r\n[Varnel FAX]\r\n"
                                          "MS Exchange Fax=Bench Fax\r\nUseProfile=0\r\n");
    std::string source = WriteSourcePage(kind, folder + "source.bmp");
    std::vector<std::string> commands(Pages, "load " + source);
    if (kind != TextPage) {
        commands.push_back("press mode");
    }
    commands.push_back("press resolution"); // 200 x 200 dpi
    commands.push_back("digits 5551234");
    // The page files are all written when the send begins.
    double seconds = 0;
    std::string outcome = source.empty() ? "" : RunFaxJob(commands, &seconds, "Translating...");
    ClearFolder(outbox);
    return outcome == "Xferred to Xchg" ? seconds * 1000 : 0;
}

// Copies the page files (paths one after another, each ended by a NUL) into
// one file with plain reads and writes of a block: what any writer of a
// document of them takes here at least, opening, reading and closing each
// and writing and moving one file. The milliseconds, or 0 when it failed.
double CopyPages(const std::string &list, const std::string &target) {
    static BYTE block[256 * 1024];
    std::string temporary = target + ".tmp";
    double start = Now();
    HANDLE out = CreateFileA(temporary.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, NULL);
    int ok = out != INVALID_HANDLE_VALUE;
    DWORD used = 0, done = 0;
    for (const char *path = list.c_str(); ok && *path; path += strlen(path) + 1) {
        HANDLE in = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                                FILE_FLAG_SEQUENTIAL_SCAN, NULL);
        ok = in != INVALID_HANDLE_VALUE;
        while (ok && ReadFile(in, block + used, sizeof block - used, &done, NULL) && done) {
            used += done;
            if (used == sizeof block) {
                ok = WriteFile(out, block, used, &done, NULL);
                used = 0;
            }
        }
        if (in != INVALID_HANDLE_VALUE) {
            CloseHandle(in);
        }
    }
    ok = ok && (!used || WriteFile(out, block, used, &done, NULL));
    ok = out != INVALID_HANDLE_VALUE && CloseHandle(out) && ok &&
         MoveFileExA(temporary.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING);
    return ok ? (Now() - start) * 1000 : 0;
}

DWORD Bytes(const std::string &path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    return GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data) ? data.nFileSizeLow : 0;
}

struct Document {
    const char *Name;
    double JobMs;    // the job scanning the ten pages into their files
    double PagesMs;  // the library writing the ten page files
    double OursMs;   // writing the document of them, the least of the runs
    double CopyMs;   // copying the page files into one file, the least of the runs
    DWORD PageBytes; // the page files' sum
    DWORD OursBytes;
};

// Writes the page files of one kind (named prefix01..10 with the extension),
// then the document of them Runs times.
int Measure(PageKind kind, const std::string &folder, const char *prefix, const char *extension,
            const PdfDocumentRecord &record, Document *out) {
    JobPage page;
    MakeJobPage(kind, Dpi, &page);
    std::string list;
    out->PageBytes = 0;
    double start = Now();
    for (int i = 1; i <= Pages; i++) {
        char name[32];
        snprintf(name, sizeof name, "%s%02d.%s", prefix, i, extension);
        if (!WriteJobPageFile(page, folder + name)) {
            printf("the page file %s cannot be written\n", name);
            return 0;
        }
        list += folder + name + '\0';
    }
    out->PagesMs = (Now() - start) * 1000;
    for (const char *path = list.c_str(); *path; path += strlen(path) + 1) {
        out->PageBytes += Bytes(path);
    }
    std::vector<double> times, copies;
    std::string target = folder + "ours-" + prefix + ".pdf";
    for (int run = 0; run < Runs; run++) {
        start = Now();
        int outcome = WritePdfDocument(target.c_str(), list.c_str(), Pages, &record);
        times.push_back((Now() - start) * 1000);
        if (outcome != PdfWritten) {
            printf("our document of %s pages was refused: %s\n", prefix, PdfOutcomeTexts[outcome]);
            return 0;
        }
        copies.push_back(CopyPages(list, folder + "copy-" + prefix + ".bin"));
    }
    // The least time of each, ours and img2pdf's: what the work costs without
    // what else the machine was doing.
    out->OursMs = Least(times);
    out->CopyMs = Least(copies);
    out->OursBytes = Bytes(target);
    return 1;
}

} // namespace

int main() {
    std::string folder = TempPath("pdfbench\\");
    ClearFolder(folder);
    // Held for the whole run, so that each page file does not load the library anew.
    HMODULE library = LoadLibraryA(ProductFile("DLL32\\accugnt5.dll").c_str());
    PdfDocumentRecord record = {"Scanned document", "Varnel Keypad Program", nullptr, 0, nullptr};
    Document documents[2] = {{"text", 0, 0, 0, 0, 0, 0}, {"photo", 0, 0, 0, 0, 0, 0}};
    {
        FileBackup settings(ProductFile("SYS.INI")), store(ProductFile("TELVEX.INI"));
        documents[0].JobMs = TimeJobPages(TextPage, folder);
        documents[1].JobMs = TimeJobPages(ColourPage, folder);
    }
    if (!documents[0].JobMs || !documents[1].JobMs) {
        printf("KEYPAD32 did not send the pages\n");
        return 1;
    }
    if (!library || !LoadColourProfile(&record) ||
        !Measure(TextPage, folder, "text", "tif", record, &documents[0]) ||
        !Measure(ColourPage, folder, "photo", "jpg", record, &documents[1])) {
        printf("the page files or the colour profile cannot be had\n");
        return 1;
    }
    // img2pdf natively, on the same files.
    std::string native = UnixPath(folder);
    if (native.empty() || !StartHostScript(PDF_BENCH_SCRIPT, native + " " + std::to_string(Runs),
                                           folder + "done", 600000)) {
        printf("img2pdf did not finish\n");
        return 1;
    }
    double startup = 0, theirsMs[2] = {0, 0}, libraryMs[2] = {0, 0};
    unsigned long theirBytes[2] = {0, 0};
    if (sscanf(ReadFileText(folder + "img2pdf.txt").c_str(), "%lf %lf %lf %lu %lu %lf %lf",
               &startup, &theirsMs[0], &theirsMs[1], &theirBytes[0], &theirBytes[1], &libraryMs[0],
               &libraryMs[1]) != 7) {
        printf("img2pdf's times cannot be read\n");
        return 1;
    }
    printf("img2pdf --pdfa as a command on one text page (its start-up): %.1f ms\n", startup);
    for (int k = 0; k < 2; k++) {
        const Document &d = documents[k];
        double theirs = libraryMs[k];
        double allowed = d.PageBytes + AllowedBytes + AllowedBytesAPage * Pages;
        printf("%d %s pages at %d dpi: page files %.1f ms, %lu bytes | ours %.2f ms, %lu bytes "
               "(their files copied into one %.2f ms) | img2pdf %.1f ms (%.1f less start-up), "
               "its library %.2f ms, %lu bytes\n",
               Pages, d.Name, Dpi, d.PagesMs, (unsigned long)d.PageBytes, d.OursMs,
               (unsigned long)d.OursBytes, d.CopyMs, theirsMs[k], theirsMs[k] - startup, theirs,
               theirBytes[k]);
        printf(
            "  goals: time %.4f x img2pdf's (<= 0.1), %.4f x the job's scanning into files (<= "
            "0.02); size "
            "%+ld bytes against img2pdf's (<= +4096), %ld bytes under the page files' sum + 4 KB "
            "+ 300 a page\n",
            d.OursMs / theirs, d.OursMs / d.JobMs, (long)d.OursBytes - (long)theirBytes[k],
            (long)(allowed - d.OursBytes));
        std::string figure = "PDF of " + std::to_string(Pages) + " " + d.Name + " pages: ";
        PrintFigure((figure + "time vs img2pdf --pdfa's library in process").c_str(), d.OursMs,
                    theirs, "ms");
        PrintFigure((figure + "time vs the job scanning them into files").c_str(), d.OursMs,
                    d.JobMs, "ms");
        PrintFigure((figure + "time vs copying the page files into one file").c_str(), d.OursMs,
                    d.CopyMs, "ms");
        PrintFigure((figure + "time vs the library coding the files").c_str(), d.OursMs, d.PagesMs,
                    "ms");
        PrintFigure((figure + "size vs img2pdf --pdfa + 4 KB").c_str(), d.OursBytes,
                    theirBytes[k] + AllowedBytes, "bytes");
        PrintFigure((figure + "size vs page files + 4 KB + 300 B a page").c_str(), d.OursBytes,
                    allowed, "bytes");
    }
    FreeLibrary(library);
    ClearFolder(folder);
    return 0;
}
