// The copy job's steps, one by one, for the benchmark and the tests that
// drive parts of a job: set-up, the scan into the spool file and the replay
// of the spool file band by band.
#pragma once
#include <windows.h>
#include "copy/copy_settings.h"

// Takes a band of lines (bottom-up DIB rows at pixels); returns 0 to go on, 65535 to stop.
// It counts the lines off ScanParameters.Lines itself.
typedef WORD (*BandConsumer)(DWORD lines, const BYTE *pixels);

extern CopySettingsRecord JobCopySettings;          // the settings this job took at its start
extern char JobPrinterName[PrinterDescriptionSize]; // description of this job's printer
extern DWORD LinesSpooled;                          // lines of the current page in the spool file

// Splits JobPrinterName, opens and queries the printer and takes its settings block.
int OpenJobPrinter();
// Fills ScanParameters from the panel, the settings and the printer; sets VerticalScale.
void SetCopyGeometry();
int AllocateBandBuffer();
// Locks the settings block, counts the copies, creates the spool file.
int PrepareSpool();
// Scans the loaded page into the spool file; 0 with JobStatus set when it failed.
int ScanPageToSpool();
// The LineCallback of the scan: writes the lines just delivered to the spool file.
WORD SpoolBand(DWORD lines);
// Reads the spooled page back band by band and hands each band to the consumer.
int ReplaySpool(BandConsumer consumer);
void ReleaseJobBuffers();
void ReleaseDevMode();
