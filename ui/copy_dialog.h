// The copy configuration dialog: the printer the copy job prints on, its
// properties as the printer library reports them, and fitting the page.
#pragma once
#include <windows.h>

#include "copy/copy_settings.h"

extern PrinterList *DialogPrinterList;  // the open dialog's list, locked; empty when freed
extern PrinterEntry DialogPrinterEntry; // the printer shown, split inside DialogPrinterDescription
extern PrinterInfo DialogPrinterInfo;   // what the library reported of it
extern char DialogPrinterDescription[PrinterDescriptionSize];

// Lists the printers and makes Current the one described, or the default
// when it is not listed. 0 when there is no printer.
int OpenPrinterList(const char *description);
// Frees the list and forgets it.
void ClosePrinterList();
// Opens and queries the described printer in the dialog's context, closing
// what the context held first. paper is PaperSize + 1 and option the
// QueryOption, each 0 to keep the one set. 1 when queried.
int OpenDialogPrinter(char *description, WORD paper, WORD option);
// The list's selection change: 0 refused and reverted, 1 nothing to do,
// 2 the chosen printer was queried and is Current.
int OnPrinterSelChange(WORD notification, HWND comboBox);
void ShowPrinterProperties(HWND dialog);
// Writes the printable area of info as "8.00x10.50 " (centimetres when unit
// is non-zero) and returns the address of its terminating zero.
char *FormatPrintableArea(char *buffer, int size, const PrinterInfo *info, int unit);
INT_PTR CALLBACK CopyConfigDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
// Menu command 1005: the dialog edits a copy of the settings in use, which
// takes their place on OK. Without the printer library it says so instead.
// 1 when the dialog ended with OK.
int OpenCopyConfig(HWND owner);
