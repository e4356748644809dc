// The fax job's pages as one PDF document: written from the page files once
// the last page is scanned, sent in their place and deleted with them.
#include "app/app.h"
#include "fax/fax_job.h"
#include "res/resource.h"

char JobDocumentPath[MAX_PATH];

int LoadColourProfile(PdfDocumentRecord *record) {
    HMODULE self = GetModuleHandleA(NULL);
    HRSRC found = FindResourceA(self, MAKEINTRESOURCEA(IDR_SRGB_PROFILE), (LPCSTR)RT_RCDATA);
    HGLOBAL loaded = found ? LoadResource(self, found) : NULL;
    record->ColourProfile = loaded ? (const BYTE *)LockResource(loaded) : NULL;
    record->ColourProfileSize = record->ColourProfile ? SizeofResource(self, found) : 0;
    return record->ColourProfileSize != 0;
}

int MakeJobDocument() {
    PdfDocumentRecord record = {"Scanned document", AppTitle, NULL, 0, NULL};
    if (JobChoice.SearchableText && !WaitForPageText(&record.PageText, PagesScanned)) {
        FaxJobStatus = FaxCancelled;
        return 0;
    }
    const char *pages = (const char *)GlobalLock(PageFileList);
    int outcome = !pages ? (int)PdfNoMemory
                  : LoadColourProfile(&record) && NewJobFile(JobDocumentPath)
                      ? WritePdfDocument(JobDocumentPath, pages, PagesScanned, &record)
                      : (int)PdfWriteFailed;
    if (pages) {
        GlobalUnlock(PageFileList);
    }
    if (outcome == PdfWritten) {
        return 1;
    }
    // A page that cannot go into the document fails the job as a page that
    // could not be written does.
    FaxJobStatus = outcome == PdfNoMemory ? FaxNoMemory : FaxFileError;
    DeleteJobDocument();
    return 0;
}

void DeleteJobDocument() {
    if (JobDocumentPath[0]) {
        DeleteFileA(JobDocumentPath);
    }
    JobDocumentPath[0] = 0;
}
