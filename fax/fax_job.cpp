// The fax job's thread: session, device, every page of the feeder, the send
// and the outcome on the LCD, releasing on every way out what it took.
#include "fax/fax_job.h"

#include "panel/panel_state.h"

const char *const FaxStatusTexts[FaxStatusCount] = {
    "User Cancelled!", "Not Enough Mem!", "Fax Error!",       "Scanner in Use!", "Scanning Error!",
    "File I/O Error!", "No Fax Number!",  "No Mail Address!", "Fax in Use!",     "MS Xchg Error!"};
const char *const FaxSentText = "Xferred to Xchg";

volatile SHORT FaxJobStatus;

// One page into its file; a Stop seen after it ends the job.
static int ScanOnePage() {
    if (!ScanPageToFile()) {
        return 0;
    }
    PagesScanned++;
    if (CancelRequested) {
        FaxJobStatus = FaxCancelled;
        return 0;
    }
    return 1;
}

DWORD WINAPI FaxJobThread(LPVOID) {
    PagesScanned = 0;
    if (!OpenFaxSession()) {
        FinishJob(FaxStatusTexts[FaxJobStatus + 1]);
        return 0;
    }
    if (!TakeTempDirectory() || !BindImageFile()) {
        FaxJobStatus = FaxFileError;
    } else if (!OpenJobDevice()) {
        FaxJobStatus = FaxScannerBusy;
    } else {
        SetupFaxScan();
        if (AllocatePageBuffer()) {
            if (ForEachLoadedPage(ScanOnePage) && SendPages()) {
                DeleteJobFiles();
                CloseFaxSession();
                CloseJobDevice(0);
                UnbindImageFile();
                EndPageText();
                FinishJob(FaxSentText);
                return 0;
            }
            DeleteJobFiles();
            ReleasePageBuffer();
        }
        CloseJobDevice(1);
    }
    UnbindImageFile();
    EndPageText();
    CloseFaxSession();
    FinishJob(FaxStatusTexts[FaxJobStatus + 1]);
    return 0;
}
