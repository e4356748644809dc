// The printer library binding and the copy settings: which printer the copy
// job prints on, whether it fits the page, and the unit the copy dialog shows.
#pragma once
#include <windows.h>
#include "abi/printer_abi.h"

// The copy settings, as the copy job uses them or as the copy dialog edits them.
struct CopySettingsRecord {
    char Printer[PrinterDescriptionSize]; // "device, driver, port"
    int AlwaysDefault;                    // print on the Windows default printer
    int FitInPage;                        // scan the whole paper and fit it to the printable area
};

extern HMODULE PrinterLibrary;                      // Dorlan.DLL, empty when unbound
extern ListPrintersProc ListPrinters;               // ordinal 2
extern FindPrinterProc FindPrinter;                 // ordinal 3
extern OpenPrinterContextProc OpenPrinterContext;   // ordinal 4
extern FARPROC PrinterEntry5;                       // ordinal 5, never called
extern FARPROC PrinterEntry6;                       // ordinal 6, never called
extern SelectPrinterProc SelectPrinter;             // ordinal 7
extern QueryPrinterProc QueryPrinter;               // ordinal 8
extern ClosePrinterContextProc ClosePrinterContext; // ordinal 9
extern HGLOBAL DialogPrinterListHandle;        // the copy dialog's printer list, empty when freed
extern PrinterContext DialogPrinterContext;    // the copy dialog's own context
extern int DialogContextOpen;                  // the dialog's context holds an open printer
extern CopySettingsRecord CopySettings;        // in use by the copy job
extern CopySettingsRecord WorkingCopySettings; // edited by the copy dialog
extern int CopyUnit;                           // "Unit": 0 inches, else centimetres

int BindPrinterLibrary();
// Closes the dialog's context when it holds a printer.
void CloseDialogPrinter();
void UnbindPrinterLibrary();
// Binds the library and reads "Varnel COPY" into WorkingCopySettings and CopyUnit;
// without the library shows string 45 and returns 0.
int LoadCopySettings();
// Writes what the copy dialog edits of WorkingCopySettings to "Varnel COPY":
// 1, or 0 when a write failed.
int SaveCopySettings();
// The settings in use, taken or replaced whole under one lock: the copy job
// takes them on its own thread while the dialog's OK may replace them.
void TakeCopySettings(CopySettingsRecord *settings);
void PutCopySettings(const CopySettingsRecord *settings);

// Splits a printer description in place the way the settings hold it: the device
// name up to the first comma, then driver and port each delimited by commas and
// blanks. Keeps no state between calls, so any thread may split at any time.
void SplitPrinterDescription(char *description, PrinterEntry *entry);
