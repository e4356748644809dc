// The fax job: scans every loaded page into a temporary TIFF or JPEG file
// through the image-file library and hands all pages in one message to the
// mail library, as a fax or an e-mail. Runs on a thread of its own; progress
// and outcome go to the LCD's message line only.
#pragma once
#include <windows.h>

#include "abi/image_file_abi.h"
#include "abi/ocr_abi.h"
#include "driver/driver.h"
#include "fax/pdf_document.h"
#include "fax/profiles.h"
#include "scanjob/scan_job.h"

// Outcome codes; the LCD text is FaxStatusTexts[FaxJobStatus + 1].
enum FaxStatus : SHORT {
    FaxCancelled = -1,
    FaxNoMemory = 0,
    FaxLogonFailed = 1,
    FaxScannerBusy = 2,
    FaxScanError = 3,
    FaxFileError = 4,
    FaxNoNumber = 5,
    FaxNoAddress = 6,
    FaxInUse = 7,
    FaxSendFailed = 8,
};
enum : int { FaxStatusCount = 10, AttachmentNameSize = 13 };
// The attachment format of the pages as one PDF document; not one of the
// image-file library's formats.
constexpr int DocumentFormat = 0;

extern const char *const FaxStatusTexts[FaxStatusCount];
extern const char *const FaxSentText;

// What the line callback reads through: the driver's reader record and
// where the current chunk stands.
struct LineSourceRecord {
    ReadRequest Request;
    WORD ChunkStatus; // last ReadScanChunk result; 11 once the page has ended
    DWORD ChunkLines; // lines of the current chunk
    DWORD FirstLine;  // page line of the chunk's first line
};

// The copy job has its own JobStatus; the fax job's outcome lives beside it.
extern volatile SHORT FaxJobStatus;    // outcome of the fax job
extern LineSourceRecord LineSource;    // the page being written
extern WORD PagesScanned;              // pages written so far
extern int ImageFormat;                // 9 TIFF Group 4, 13 JPEG
extern HGLOBAL PageFileList;           // the page files' full paths, packed
extern DWORD PageFileListSize;         // bytes used in PageFileList
extern ScanBufferRecord PageBuffer;    // the page's header, palette and lines
extern ProfileChoice JobChoice;        // destination and profiles, taken once as the session opens
extern char JobDocumentPath[MAX_PATH]; // the pages' PDF document while it exists, else ""

// The thread routine the Fax key starts (fax_job.cpp); the parameter is not used.
DWORD WINAPI FaxJobThread(LPVOID parameter);

// The mail session (fax_session.cpp).
// A fresh movable copy of a whole block; null when it cannot be had.
HGLOBAL DuplicateBlock(HGLOBAL block);
// Takes the destination and profile names the job sends with; the session
// does so as it opens, and nothing changes them for the job afterwards.
void TakeJobChoice();
int OpenFaxSession();
void CloseFaxSession();
// Gives the fax profile the job's paper size and resolution; once the session is open.
void ApplyJobFaxSettings();
// Hands all pages to the mail library; 1 when it took them.
int SendPages();

// The pages (fax_pages.cpp).
void SetupFaxScan();
int AllocatePageBuffer();
void ReleasePageBuffer();
// Finds the temporary directory the page files go to: 1/0.
int TakeTempDirectory();
// Makes a new empty file of the job's own in it, its path into path: 1, or 0 and path "".
int NewJobFile(char *path);
int ScanPageToFile();
int WINAPI SupplyScanLine(void *source, BYTE *destination, int line);
// Deletes the page files and the document, if any.
void DeleteJobFiles();
// "FX-00042.VKZ": the attachment name of a page numbered id; with
// DocumentFormat, of the document ("FX-00042.PDF").
void FormatAttachmentName(char *out, int size, WORD id, WORD destination, int format);

// The text of a searchable document's pages (page_text.cpp), read while the
// job scans. Begins keeping the lines of the page about to be scanned.
void BeginTextPage();
// Keeps line `number` of the page, as the writer takes it.
void KeepTextLine(const BYTE *line, int number);
// Hands the page just written, page `number` of the job (from 0), to the
// reader, once the reader is done with the page before it.
void HandTextPage(WORD number);
// Waits for the last page's text: 1 with *words set to the words of each of
// the `pages` pages (an entry, or the whole, null without), or 0 when Stop
// was pressed meanwhile.
int WaitForPageText(OcrResult *const **words, DWORD pages);
// Ends the reader and releases the words and the engine with all it took.
void EndPageText();

// The pages as one PDF document (fax_document.cpp): written from the page
// files into JobDocumentPath: 1, or 0 with FaxJobStatus set.
int MakeJobDocument();
// The output intent's profile from the program's resources into the record: 1/0.
int LoadColourProfile(PdfDocumentRecord *record);
void DeleteJobDocument();

// The image-file library (image_file.cpp).
extern WriteImageFileProc WriteImageFile; // its ordinal 15
extern SetImageOptionProc SetImageOption; // its ordinal 40
// Binds accugnt5.dll once: 1 when both entries were found.
int BindImageFile();
void UnbindImageFile();
