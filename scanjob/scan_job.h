// What the copy and fax jobs share: the paper and data-type tables, the scan
// window of a whole paper size, the buffer a band or page goes through (its
// DIB header, its size and how a refused request shrinks), the loop over the
// sheets in the feeder, the device with the driver's job notification, the
// job's end and the wait for the next second.
#pragma once
#include <windows.h>
#include "abi/driver_abi.h"
#include "panel/panel_state.h"

// A paper size: its scan window in 1/300 inch (the glass is scanned from the
// top), the paper width and the Win32 paper code.
struct PaperRecord {
    WORD Left;
    WORD Width;
    WORD Height;
    float WidthInches; // single precision, as the A4 width has always been held
    WORD Code;         // DMPAPER_LETTER, _LEGAL, _A4
};

// The panel's paper size 0 Letter, 1 Legal, 2 A4; another value counts as Letter.
const PaperRecord &PaperFor(WORD paperSize);
// A scan mode's DataType: 0 line art, 2 grey, 3 colour; another mode counts as Text.
WORD DataTypeFor(WORD scanMode);
// A panel level 0..100 as the driver's -127..127, linear through 0, 50 and 100.
SHORT LevelToDriver(int level);
// Fills the window of the whole paper, the data type and levels of the scan
// mode, and the flags, with 4 more for colour. The resolutions are the job's.
void SetPaperWindow(ScanParameterRecord *scan, WORD paperSize, WORD scanMode,
                    const LevelPair *levels, WORD flags);

WORD BitCountFor(WORD dataType);
// The buffer's first request, and the smallest one worth trying (the request
// itself when it is already below 64 KiB): whole lines behind the header; grey
// and colour pages move in 1 MiB, line art whole. 0/0 when even one line
// cannot be held.
void PlanScanBuffer(WORD dataType, DWORD bytesPerLine, DWORD lines, DWORD *request, DWORD *floor);
// The next smaller request after a refused one: a quarter less, whole lines,
// never below the floor.
DWORD ShrinkScanRequest(DWORD failed, DWORD floor, DWORD headerSize, DWORD bytesPerLine);

// A band or page buffer: one movable block, locked while the job holds it, with
// a bottom-up DIB header and its palette in front of whole lines of pixels.
struct ScanBufferRecord {
    HGLOBAL Block;
    BITMAPINFOHEADER *Header; // the block, locked
    BYTE *Pixels;             // behind the palette
    DWORD Lines;              // whole lines the pixels hold
};
// Allocates and fills the buffer of the scan the driver completed, shrinking
// a refused request down to the floor: 1, or 0 with nothing held.
int AllocateScanBuffer(const ScanParameterRecord *scan, ScanBufferRecord *buffer);
void ReleaseScanBuffer(ScanBufferRecord *buffer);

// Runs page for the sheet the job started with and for every further sheet the
// device reports, setting the scan window again for each: 1 when the feeder
// ran empty, 0 when a page failed.
int ForEachLoadedPage(int (*page)());
// Opens the device for a job and asks the driver (request 22) to post
// PanelJobEvent to the main window: 1, or 0 when the device was refused.
int OpenJobDevice();
// Ends the notification and closes the device; after a failure the sheet in
// the scanner is let go first.
void CloseJobDevice(int failed);
// The job's last step: its outcome on the message line, the panel handed back.
void FinishJob(const char *text);
// Waits until the clock's second has changed, a second at the most.
void WaitForNextSecond();
