#include "fax/fax_job.h"

#include <stdio.h>
#include <string.h>

#include "app/app.h"
#include "app/settings.h"
#include "copy/copy_geometry.h"
#include "fax/dialing.h"
#include "fax/profiles.h"
#include "fax/speed_dial.h"
#include "fax/telvex.h"
#include "panel/panel.h"
#include "panel/panel_state.h"
#include "abi/image_file_abi.h"

const char *const FaxStatusTexts[FaxStatusCount] = {
    "User Cancelled!", "Not Enough Mem!", "Fax Error!",       "Scanner in Use!", "Scanning Error!",
    "File I/O Error!", "No Fax Number!",  "No Mail Address!", "Fax in Use!",     "MS Xchg Error!"};
const char *const FaxSentText = "Xferred to Xchg";

volatile SHORT FaxJobStatus;
LineSourceRecord LineSource;
WORD PagesScanned;
int ImageFormat;
HGLOBAL PageFileList;
DWORD PageFileListSize;
BITMAPINFOHEADER *PageHeader;
DWORD PageBufferSize;

static HGLOBAL PageBuffer;                    // header, palette and pixels of the page buffer
static HGLOBAL PageNameBlock;                 // the attachment names of the message, packed
static char TempDirectory[MAX_PATH];          // the temporary directory, ending in a backslash
static char PagePath[MAX_PATH];               // the page file being written
static char JobAddress[DialedNumberSize + 4]; // "FAX:" and the typed number, dialing rules applied
static int JobUsesKey;                        // the job sends to a speed-dial key's recipients
static ProfileChoice JobChoice; // destination and profiles, taken once as the session opens
static HMODULE ImageLibrary;    // accugnt5.dll while a job holds it
static WriteImageFileProc WriteImageFile; // its ordinal 15
static SetImageOptionProc SetImageOption; // its ordinal 40

enum : int { StopWriter = -18, JpegQuality = 80, AddressSize = 32 };
static const WORD JobSettingIds[3] = {SettingPaperSize, SettingResolution, SettingJobFlag};

int BindImageFile() {
    if (!ImageLibrary && !LoadProductLibrary(&ImageLibrary, "accugnt5.dll")) {
        ImageLibrary = NULL;
        return 0;
    }
    WriteImageFile = (WriteImageFileProc)(void (*)())GetProcAddress(
        ImageLibrary, MAKEINTRESOURCEA(WriteImageFileOrdinal));
    SetImageOption = (SetImageOptionProc)(void (*)())GetProcAddress(
        ImageLibrary, MAKEINTRESOURCEA(SetImageOptionOrdinal));
    if (WriteImageFile && SetImageOption) {
        return 1;
    }
    UnbindImageFile();
    return 0;
}

void UnbindImageFile() {
    if (ImageLibrary) {
        FreeLibrary(ImageLibrary);
    }
    ImageLibrary = NULL;
    WriteImageFile = NULL;
    SetImageOption = NULL;
}

static void ShowMessageLine(const char *text) {
    ShowPanelText(LcdMessageLine, text);
}

HGLOBAL DuplicateBlock(HGLOBAL block) {
    SIZE_T size = block ? GlobalSize(block) : 0;
    const void *from = size ? GlobalLock(block) : NULL;
    HGLOBAL copy = from ? GlobalAlloc(GMEM_MOVEABLE, size) : NULL;
    void *to = copy ? GlobalLock(copy) : NULL;
    if (to) {
        CopyMemory(to, from, size);
        GlobalUnlock(copy);
    } else if (copy) {
        GlobalFree(copy);
        copy = NULL;
    }
    if (from) {
        GlobalUnlock(block);
    }
    return copy;
}

// The job's recipient blocks are always its own: copies of a key's blocks or
// the blocks AddRecipient made. Both are held locked once.
static void ReleaseJobRecipients() {
    HGLOBAL blocks[2] = {JobLink.RecipientBlock, JobLink.StringBlock};
    for (HGLOBAL block : blocks) {
        if (block) {
            GlobalUnlock(block);
            GlobalFree(block);
        }
    }
    JobLink.RecipientBlock = JobLink.StringBlock = NULL;
    JobLink.Recipients = NULL;
    JobLink.Strings = NULL;
    JobLink.RecipientCount = 0;
}

// Takes a copy of the key's recipients, so that the configuration page may
// change or release the key's own blocks while the job sends: 0, or the
// status when the copy cannot be had or its records do not fit their strings.
static SHORT TakeKeyRecipients(const SpeedDialEntry *entry, SHORT unusable) {
    JobLink.RecipientCount = entry->RecipientCount;
    JobLink.RecipientBlock = DuplicateBlock(entry->RecipientBlock);
    JobLink.StringBlock = DuplicateBlock(entry->StringBlock);
    if (!JobLink.RecipientBlock || !JobLink.StringBlock) {
        if (JobLink.RecipientBlock) {
            GlobalFree(JobLink.RecipientBlock);
        }
        if (JobLink.StringBlock) {
            GlobalFree(JobLink.StringBlock);
        }
        JobLink.RecipientBlock = JobLink.StringBlock = NULL;
        return FaxNoMemory;
    }
    // Both blocks are locked from here on, whatever the result.
    return TelvexBinding.BuildRecipientLink(&JobLink) == TelvexOk ? 0 : unusable;
}

// A recipient address is its type, a colon and the address proper: 0, or the
// status when the number cannot be dialled whole or the record not be made.
static SHORT AddTypedRecipient() {
    char number[DialedNumberSize];
    lstrcpynA(number, TypedNumber, sizeof number);
    if (!ApplyDialingRules(number, sizeof number, &DialingInfo)) {
        return FaxNoNumber;
    }
    snprintf(JobAddress, sizeof JobAddress, "FAX:%s", number);
    static char Name[] = "Dear Recipient"; // the display name of a typed number
    RecipientRecord record = {0, 1, Name, JobAddress, 0, NULL};
    JobLink.RecipientCount = 0;
    JobLink.Recipients = NULL;
    return TelvexBinding.AddRecipient(&record, &JobLink) == TelvexOk ? 0 : FaxNoMemory;
}

void TakeJobChoice() {
    TakeProfileChoice(&JobChoice);
}

int OpenFaxSession() {
    ZeroMemory(&JobLink, sizeof JobLink);
    TakeJobChoice();
    JobUsesKey = SpeedDialKey != 0;
    int email = JobChoice.Destination != 0;
    SHORT noRecipient = email ? FaxNoAddress : FaxNoNumber;
    if (!JobUsesKey && (email || TypedLength == 0)) {
        FaxJobStatus = noRecipient;
        return 0;
    }
    SHORT refused;
    if (JobUsesKey) {
        const SpeedDialEntry *entry = &SpeedDialTable[SpeedDialNumber(email, SpeedDialKey) - 1];
        // The speed-dial page changes the entry under the same lock.
        LockProfileChoice();
        refused = entry->RecipientCount ? TakeKeyRecipients(entry, noRecipient) : noRecipient;
        UnlockProfileChoice();
    } else {
        refused = AddTypedRecipient();
    }
    if (refused) {
        FaxJobStatus = refused;
        ReleaseJobRecipients();
        return 0;
    }
    if (!TelvexBinding.TelvexLockUnlock(1)) {
        FaxJobStatus = FaxInUse;
        ReleaseJobRecipients();
        return 0;
    }
    if (TelvexBinding.InitialMAPIandLogon(0, email ? JobChoice.MailProfile : JobChoice.FaxProfile,
                                          &JobLink) != TelvexOk) {
        FaxJobStatus = FaxLogonFailed;
        TelvexBinding.TelvexLockUnlock(0);
        ReleaseJobRecipients();
        return 0;
    }
    // Only a session that is open changes the profile, so a refused logon
    // leaves it exactly as it was: the library can set a setting but not
    // take one away that had no value.
    if (!email) {
        ApplyJobFaxSettings();
    }
    PageFileList = GlobalAlloc(GMEM_MOVEABLE, 0);
    PageFileListSize = 0;
    if (!PageFileList) {
        FaxJobStatus = FaxNoMemory;
        TelvexBinding.FreeAndLogoff(0, JobLink.Session);
        TelvexBinding.TelvexLockUnlock(0);
        ReleaseJobRecipients();
        return 0;
    }
    JobLink.Reserved[0] = JobLink.Reserved[1] = 0;
    return 1;
}

static void ReleaseBlock(HGLOBAL *block) {
    if (*block) {
        GlobalFree(*block);
        *block = NULL;
    }
}

void CloseFaxSession() {
    TelvexBinding.FreeAndLogoff(0, JobLink.Session);
    TelvexBinding.TelvexLockUnlock(0);
    ReleaseBlock(&PageFileList);
    PageFileListSize = 0;
    ReleaseBlock(&PageNameBlock);
    JobLink.PagePaths = JobLink.PageNames = NULL;
    ReleaseJobRecipients();
}

void ApplyJobFaxSettings() {
    WORD values[3] = {PaperSize, (WORD)(FaxResolution + 1), 0};
    for (int i = 0; i < 3; i++) {
        SettingRequest request = {JobSettingIds[i], &values[i]};
        TelvexBinding.RegistrySetSetting(JobChoice.SettingsProfile, &request);
    }
    WriteIntSetting("Fax Associated Info", "Mode", "VARNEL.INI", FaxResolution);
    WriteIntSetting("Fax Associated Info", "Map", "VARNEL.INI", 1);
    WriteIntSetting("Fax Associated Info", "Paper Size", "VARNEL.INI", PaperSize);
}

// Scan window of each paper size, in 1/300 inch.
struct FaxPaperWindow {
    WORD Left, Top, Width, Height;
};
static const FaxPaperWindow FaxPapers[3] = {
    {0, 0, 2550, 3300}, {0, 0, 2550, 4200}, {34, 0, 2481, 3519}};
static const WORD FaxResolutionsX[3] = {200, 200, 300};
static const WORD FaxResolutionsY[3] = {100, 200, 300};
static const WORD MailResolutions[3] = {100, 200, 300};
static const WORD FaxDataTypes[ScanModeCount] = {0, 2, 3};

static WORD Bounded(WORD index, WORD count) {
    return index < count ? index : (WORD)(count - 1);
}

void SetupFaxScan() {
    const FaxPaperWindow &paper = FaxPapers[Bounded(PaperSize, 3)];
    WORD mode = Bounded(ScanMode, ScanModeCount);
    ScanParameters.Left = paper.Left;
    ScanParameters.Top = paper.Top;
    ScanParameters.Width = paper.Width;
    ScanParameters.Height = paper.Height;
    if (JobChoice.Destination == 0) {
        ScanParameters.ResolutionX = FaxResolutionsX[Bounded(FaxResolution, 3)];
        ScanParameters.ResolutionY = FaxResolutionsY[Bounded(FaxResolution, 3)];
    } else {
        ScanParameters.ResolutionX = ScanParameters.ResolutionY =
            MailResolutions[Bounded(MailResolution, 3)];
    }
    ScanParameters.DataType = FaxDataTypes[mode];
    ScanParameters.ZeroWord = 0;
    ScanParameters.ScanFlags = ScanParameters.DataType == 3 ? 14 : 10;
    // Levels between the fixed points are passed on linearly, as the copy job does.
    ScanParameters.Brightness = LevelToDriver(ModeLevels[mode].Brightness);
    ScanParameters.Contrast = LevelToDriver(ModeLevels[mode].Contrast);
    ImageFormat = mode == ModeText ? ImageFormatTiffG4 : ImageFormatJpeg;
    SetScanParameters();
}

// 1 when the driver's line fits the DIB row the writer hands the callback.
static int LineSizeUsable(DWORD bytesPerLine, WORD bitCount) {
    ULONGLONG bits = (ULONGLONG)ScanParameters.PixelsPerLine * bitCount;
    ULONGLONG stride = (bits + 31) / 32 * 4;
    return bytesPerLine != 0 && ScanParameters.Lines != 0 && bytesPerLine >= (bits + 7) / 8 &&
           bytesPerLine <= stride;
}

static void WritePageHeader(DWORD headerSize, WORD bitCount) {
    WriteDibHeader(PageHeader, headerSize, (LONG)ScanParameters.PixelsPerLine,
                   (LONG)ScanParameters.Lines, bitCount);
    // The image-file library takes dots per inch here, not per metre.
    PageHeader->biXPelsPerMeter = ScanParameters.ResolutionX;
    PageHeader->biYPelsPerMeter = ScanParameters.ResolutionY;
}

int AllocatePageBuffer() {
    DWORD bytesPerLine = ScanParameters.BytesPerLine;
    WORD bitCount = BitCountFor(ScanParameters.DataType);
    if (!LineSizeUsable(bytesPerLine, bitCount)) {
        FaxJobStatus = FaxScanError;
        return 0;
    }
    DWORD header = BandHeaderSize(bitCount);
    ULONGLONG pixels = ScanParameters.DataType == 0 ? (ULONGLONG)ScanParameters.Lines * bytesPerLine
                                                    : (ULONGLONG)(1u << 20);
    DWORD floor = header + 65535u / bytesPerLine * bytesPerLine;
    DWORD request = pixels > 0x7FFFFFFFu ? 0x7FFFFFFFu : header + (DWORD)pixels;
    PageBuffer = AllocateBand(request, floor, header, bytesPerLine, &PageBufferSize);
    if (!PageBuffer) {
        FaxJobStatus = FaxNoMemory;
        return 0;
    }
    DWORD lines = (PageBufferSize - header) / bytesPerLine;
    LineSource.Request.Capacity = (lines > 0xFFFF ? 0xFFFF : lines) * bytesPerLine;
    PageHeader = (BITMAPINFOHEADER *)GlobalLock(PageBuffer);
    if (!PageHeader || LineSource.Request.Capacity == 0) {
        ReleasePageBuffer();
        FaxJobStatus = PageHeader ? FaxScanError : FaxNoMemory;
        return 0;
    }
    WritePageHeader(header, bitCount);
    LineSource.Request.Buffer = (BYTE *)PageHeader + header;
    return 1;
}

void ReleasePageBuffer() {
    if (PageBuffer) {
        GlobalUnlock(PageBuffer);
        GlobalFree(PageBuffer);
    }
    PageBuffer = NULL;
    PageHeader = NULL;
    LineSource.Request.Buffer = NULL;
}

static int StopWith(SHORT status) {
    FaxJobStatus = status;
    return StopWriter;
}

int WINAPI SupplyScanLine(void *source, BYTE *destination, int line) {
    LineSourceRecord *page = (LineSourceRecord *)source;
    DWORD bytesPerLine = ScanParameters.BytesPerLine;
    if (page->Request.Delivered == 0 && page->ChunkStatus != ReadPageComplete) {
        page->FirstLine += page->ChunkLines;
        page->ChunkLines = 0;
        // A read without lines means more is to come; Stop ends the wait.
        while ((page->ChunkStatus = ReadScanChunk(&page->Request)) == ReadMore &&
               page->Request.Delivered == 0) {
            if (CancelRequested) {
                return StopWith(FaxCancelled);
            }
        }
        if (page->ChunkStatus == ReadMore) {
            page->ChunkLines = page->Request.Delivered;
            // A driver that claims more lines than the buffer holds is not believed.
            if (page->ChunkLines > page->Request.Capacity / bytesPerLine) {
                return StopWith(FaxScanError);
            }
        } else if (page->ChunkStatus == ReadPageComplete) {
            FillMemory(page->Request.Buffer, bytesPerLine, 0xFF);
        } else {
            return StopWith(page->ChunkStatus == ReadFailed ? FaxCancelled : FaxScanError);
        }
    }
    // A page that ends early is padded with white lines.
    if (page->ChunkStatus == ReadPageComplete) {
        CopyMemory(destination, page->Request.Buffer, bytesPerLine);
        return 0;
    }
    DWORD index = (DWORD)line - page->FirstLine;
    if (line < 0 || index >= page->ChunkLines) {
        return StopWith(FaxScanError);
    }
    CopyMemory(destination, page->Request.Buffer + index * bytesPerLine, bytesPerLine);
    page->Request.Delivered--;
    return 0;
}

int TakeTempDirectory() {
    DWORD length = GetTempPathA(sizeof TempDirectory, TempDirectory);
    return length != 0 && length < sizeof TempDirectory;
}

static void WaitForNextSecond() {
    SYSTEMTIME start, now;
    GetLocalTime(&start);
    DWORD begun = GetTickCount();
    do {
        Sleep(20);
        GetLocalTime(&now);
    } while (now.wSecond == start.wSecond && GetTickCount() - begun < 1000);
}

// Appends the page file's path to PageFileList.
static int ListPageFile() {
    DWORD length = (DWORD)lstrlenA(PagePath) + 1;
    HGLOBAL grown = GlobalReAlloc(PageFileList, PageFileListSize + length, GMEM_MOVEABLE);
    char *list = grown ? (char *)GlobalLock(grown) : NULL;
    if (grown) {
        PageFileList = grown;
    }
    if (!list) {
        return 0;
    }
    CopyMemory(list + PageFileListSize, PagePath, length);
    GlobalUnlock(PageFileList);
    PageFileListSize += length;
    return 1;
}

static int DropPage(SHORT status) {
    FaxJobStatus = status;
    DeleteFileA(PagePath);
    return 0;
}

int ScanPageToFile() {
    if (ReportNotReady() != 0) {
        FaxJobStatus = FaxScanError;
        return 0;
    }
    ShowMessageLine("Scanning to File");
    LineSource.ChunkLines = 0;
    LineSource.Request.Delivered = 0;
    LineSource.ChunkStatus = ReadMore;
    LineSource.FirstLine = 0;
    FaxJobStatus = FaxNoMemory;
    if (!GetTempFileNameA(TempDirectory, "VNL", 0, PagePath)) {
        FaxJobStatus = FaxFileError;
        return 0;
    }
    HFILE file = _lcreat(PagePath, 0);
    if (file == HFILE_ERROR) {
        return DropPage(FaxFileError);
    }
    if (ImageFormat == ImageFormatJpeg) {
        SetImageOption(JpegQuality);
    }
    int written = WriteImageFile(file, PageHeader, ImageFormat, SupplyScanLine, &LineSource);
    _lclose(file);
    if (written != ImageWritten) {
        return DropPage(FaxJobStatus == FaxNoMemory ? (SHORT)FaxFileError : FaxJobStatus);
    }
    WaitForNextSecond();
    if (CancelRequested) {
        return DropPage(FaxCancelled);
    }
    return ListPageFile() ? 1 : DropPage(FaxNoMemory);
}

void DeleteJobFiles() {
    const char *list = PageFileList && PagesScanned ? (const char *)GlobalLock(PageFileList) : NULL;
    if (!list) {
        return;
    }
    const char *path = list;
    for (WORD i = 0; i < PagesScanned && path < list + PageFileListSize; i++) {
        DeleteFileA(path);
        path += lstrlenA(path) + 1;
    }
    GlobalUnlock(PageFileList);
}

void FormatAttachmentName(char *out, int size, WORD id, WORD destination, int format) {
    const char *tag = destination == 0 ? "VKZ" : format == ImageFormatJpeg ? "JPG" : "TIF";
    snprintf(out, size, "FX-%05u.%s", (unsigned)id, tag);
}

// The names of all pages, packed; JobID is left one past the last number used.
static void NamePages() {
    PageNameBlock = GlobalAlloc(GMEM_MOVEABLE, (SIZE_T)PagesScanned * AttachmentNameSize);
    char *names = PageNameBlock ? (char *)GlobalLock(PageNameBlock) : NULL;
    JobLink.PageNames = names;
    char *name = names;
    for (WORD i = 0; i < PagesScanned; i++) {
        if (name) {
            FormatAttachmentName(name, AttachmentNameSize, JobID, JobChoice.Destination,
                                 ImageFormat);
            name += lstrlenA(name) + 1;
        }
        JobID++;
    }
}

static void SetJobNotification(int on) {
    KeyNotification notification = {(ULONG_PTR)MainWindow, WM_USER, PanelJobEvent};
    CallDriverWith(DrvJobNotification, &notification, on ? 0xFF : 0);
}

// Scans while the feeder has sheets; 1 when every page is in a file.
static int ScanAllPages() {
    PagesScanned = 0;
    if (!ScanPageToFile()) {
        return 0;
    }
    for (;;) {
        PagesScanned++;
        if (CancelRequested) {
            FaxJobStatus = FaxCancelled;
            return 0;
        }
        if (!IsDeviceReady()) {
            return 1;
        }
        SetScanParameters();
        if (!ScanPageToFile()) {
            return 0;
        }
    }
}

// Hands all pages to the mail library; 1 when it took them.
static int SendPages() {
    ReleasePageBuffer();
    NamePages();
    JobLink.PageCount = PagesScanned;
    JobLink.PagePaths = (const char *)GlobalLock(PageFileList);
    ShowMessageLine("Translating...");
    int sent = TelvexBinding.SendTelvex(0, &JobLink) == TelvexOk;
    GlobalUnlock(PageFileList);
    if (PageNameBlock) {
        GlobalUnlock(PageNameBlock);
    }
    if (!sent) {
        FaxJobStatus = FaxSendFailed;
    }
    return sent;
}

static void FinishFaxJob(const char *text) {
    ShowMessageLine(text);
    EndJob();
}

DWORD WINAPI FaxJobThread(LPVOID) {
    PagesScanned = 0;
    if (!OpenFaxSession()) {
        FinishFaxJob(FaxStatusTexts[FaxJobStatus + 1]);
        return 0;
    }
    if (!TakeTempDirectory() || !BindImageFile()) {
        FaxJobStatus = FaxFileError;
    } else if (!OpenDevice()) {
        FaxJobStatus = FaxScannerBusy;
    } else {
        SetJobNotification(1);
        SetupFaxScan();
        if (AllocatePageBuffer()) {
            if (ScanAllPages() && SendPages()) {
                DeleteJobFiles();
                CloseFaxSession();
                SetJobNotification(0);
                CloseDevice();
                UnbindImageFile();
                FinishFaxJob(FaxSentText);
                return 0;
            }
            DeleteJobFiles();
            ReleasePageBuffer();
        }
        FinishPage();
        SetJobNotification(0);
        CloseDevice();
    }
    UnbindImageFile();
    CloseFaxSession();
    FinishFaxJob(FaxStatusTexts[FaxJobStatus + 1]);
    return 0;
}
