// Records exchanged with the printer library (Dorlan.DLL), by its ordinals 2
// to 9. Shared by the keypad manager and the printer library built here, so
// both sides agree on every offset. Names and handles are pointer-sized, so
// the 64-bit build has the same fields in the same order, wider.
#pragma once
#include <windows.h>
#include <stddef.h>

#pragma pack(push, 1)

// A printer description split into its three names; also the list's entry.
struct PrinterEntry {
    char *DeviceName;
    char *DriverName;
    char *PortName;
};

// Built by the library in global memory; the caller writes only Current.
struct PrinterList {
    WORD Count;
    WORD Current;            // the printer a dialog shows as chosen
    WORD Default;            // the Windows default printer
    PrinterEntry Entries[1]; // Count entries
};

// Owned by the caller, zeroed before first use; the library's except DevModeHandle.
struct PrinterContext {
    BYTE LibraryPrivate[28];
    HGLOBAL DevModeHandle; // DEVMODEA of the queried printer, left by QueryPrinter
    BYTE Rest[8];
};

struct PrinterInfo {
    LONG DpiX;
    LONG DpiY;
    LONG PrintableWidth; // device pixels
    LONG PrintableHeight;
    WORD CopyLimit; // copies one print document may ask of the printer
    WORD CopyLimitHigh;
    BYTE Reserved1[12];
    WORD ColorMode; // 2 = prints colour
    WORD Reserved2;
    WORD PaperCode;   // in: DMPAPER_LETTER, DMPAPER_LEGAL or DMPAPER_A4
    WORD QueryOption; // in: always 1
};

#pragma pack(pop)

#if defined(_WIN64)
static_assert(sizeof(PrinterEntry) == 24, "PrinterEntry is three 64-bit addresses");
static_assert(sizeof(PrinterContext) == 44 && offsetof(PrinterContext, DevModeHandle) == 28,
              "PrinterContext with a 64-bit handle");
#else
static_assert(sizeof(PrinterEntry) == 12, "PrinterEntry is 12 bytes");
static_assert(sizeof(PrinterContext) == 40 && offsetof(PrinterContext, DevModeHandle) == 28,
              "PrinterContext layout");
#endif
static_assert(offsetof(PrinterList, Entries) == 6, "PrinterList entries follow its header");
static_assert(sizeof(PrinterInfo) == 40 && offsetof(PrinterInfo, CopyLimit) == 16 &&
                  offsetof(PrinterInfo, ColorMode) == 32 &&
                  offsetof(PrinterInfo, PaperCode) == 36 &&
                  offsetof(PrinterInfo, QueryOption) == 38,
              "PrinterInfo layout");

enum : WORD { PrinterColorCapable = 2, NoPrinterMatch = 65535 };

// Room for a printer description "device, driver, port": each of the three
// names may be as long as Windows allows a name (MAX_PATH - 1 characters),
// so that a description is never cut into another printer's, or none.
enum : int { PrinterDescriptionSize = 3 * MAX_PATH + 4 };

typedef HGLOBAL(WINAPI *ListPrintersProc)();
typedef WORD(WINAPI *FindPrinterProc)(const char *description, const PrinterList *list);
typedef int(WINAPI *OpenPrinterContextProc)(const PrinterEntry *entry, PrinterContext *context);
typedef int(WINAPI *SelectPrinterProc)(PrinterContext *context, const PrinterEntry *entry);
typedef int(WINAPI *QueryPrinterProc)(const PrinterEntry *entry, PrinterContext *context,
                                      PrinterInfo *info);
typedef int(WINAPI *ClosePrinterContextProc)(PrinterContext *context);
