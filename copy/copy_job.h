// The copy job: scans each loaded page band by band into a spool file and
// prints it from there on the chosen printer, as many copies as were typed.
// Runs on a thread of its own; progress and outcome go to the LCD's message line.
#pragma once
#include <windows.h>
#include "abi/printer_abi.h"
#include "scanjob/scan_job.h"

// Outcome codes; the LCD text is CopyErrorTexts[JobStatus + 1].
enum CopyStatus : SHORT {
    CopyCancelled = -1,
    CopyNoMemory = 0,
    CopyPrinterError = 1,
    CopyScannerBusy = 2,
    CopyScanError = 3,
    CopyFileError = 4,
};

extern const char *const CopyErrorTexts[6];
extern volatile SHORT JobStatus;    // outcome of the copy job
extern PrinterInfo JobPrinterInfo;  // the printer's geometry for this job
extern double VerticalScale;        // printer lines per scanned line
extern ScanBufferRecord BandBuffer; // header, palette and pixels of one band
extern WORD CopyCount;              // copies of each page

// The thread routine the Copy key starts; the parameter is not used.
DWORD WINAPI CopyJobThread(LPVOID parameter);
