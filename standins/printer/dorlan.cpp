// The printer library: lists the installed printers, matches descriptions,
// and opens and queries printers through Winspool and GDI. Every context is
// the caller's, so two threads can each use one of their own at once.
#include <windows.h>
#include <winspool.h>

#include <stdio.h>
#include <string.h>

#include "abi/printer_abi.h"

namespace {

// What the library keeps in the caller's context.
struct ContextState {
    HANDLE Printer; // open Winspool handle, empty when closed
};
static_assert(sizeof(ContextState) <= sizeof(((PrinterContext *)0)->LibraryPrivate),
              "context state fits the library's part");

ContextState *StateOf(PrinterContext *context) {
    return (ContextState *)context->LibraryPrivate;
}

void ReleaseDevMode(PrinterContext *context) {
    if (context->DevModeHandle) {
        GlobalFree(context->DevModeHandle);
        context->DevModeHandle = NULL;
    }
}

// Closes the context's printer and frees its settings block.
void ReleaseContext(PrinterContext *context) {
    ContextState *state = StateOf(context);
    if (state->Printer) {
        ClosePrinter(state->Printer);
        state->Printer = NULL;
    }
    ReleaseDevMode(context);
}

// Fills PRINTER_INFO_2A records of every local and connected printer; the caller frees.
PRINTER_INFO_2A *EnumerateAll(DWORD *count) {
    DWORD needed = 0;
    *count = 0;
    const DWORD flags = PRINTER_ENUM_LOCAL | PRINTER_ENUM_CONNECTIONS;
    EnumPrintersA(flags, NULL, 2, NULL, 0, &needed, count);
    if (needed == 0) {
        return NULL;
    }
    PRINTER_INFO_2A *infos = (PRINTER_INFO_2A *)HeapAlloc(GetProcessHeap(), 0, needed);
    if (infos && !EnumPrintersA(flags, NULL, 2, (LPBYTE)infos, needed, &needed, count)) {
        HeapFree(GetProcessHeap(), 0, infos);
        return NULL;
    }
    return infos;
}

// The driver and port GDI uses for a printer: its [devices] entry "driver,port",
// else what Winspool reports.
void DevicesEntry(const PRINTER_INFO_2A *info, char *driver, int driverSize, char *port,
                  int portSize) {
    char entry[2 * MAX_PATH];
    GetProfileStringA("devices", info->pPrinterName, "", entry, sizeof entry);
    char *comma = strchr(entry, ',');
    if (comma) {
        *comma = '\0';
        lstrcpynA(driver, entry, driverSize);
        lstrcpynA(port, comma + 1, portSize);
    } else {
        lstrcpynA(driver, info->pDriverName ? info->pDriverName : "", driverSize);
        lstrcpynA(port, info->pPortName ? info->pPortName : "", portSize);
    }
}

// Copies a string into the list block and returns where it landed.
char *Store(char **cursor, const char *text) {
    char *at = *cursor;
    int length = lstrlenA(text) + 1;
    memcpy(at, text, length);
    *cursor += length;
    return at;
}

WORD ReadCopyLimit(HANDLE printer, const char *device, const DEVMODEA *devMode) {
    DWORD limit = 0, type = 0, needed = 0;
    if (GetPrinterDataA(printer, (LPSTR) "CopyLimit", &type, (LPBYTE)&limit, sizeof limit,
                        &needed) == ERROR_SUCCESS &&
        type == REG_DWORD) {
        return (WORD)limit;
    }
    LONG copies = DeviceCapabilitiesA(device, NULL, DC_COPIES, NULL, devMode);
    return (WORD)(copies < 1 ? 1 : copies > 65535 ? 65535 : copies);
}

// A printer set to work offline gives no answers to print by.
int IsWorkingOffline(HANDLE printer) {
    DWORD needed = 0;
    GetPrinterA(printer, 2, NULL, 0, &needed);
    PRINTER_INFO_2A *info =
        needed ? (PRINTER_INFO_2A *)HeapAlloc(GetProcessHeap(), 0, needed) : NULL;
    int offline = info && GetPrinterA(printer, 2, (LPBYTE)info, needed, &needed) &&
                  (info->Attributes & PRINTER_ATTRIBUTE_WORK_OFFLINE);
    HeapFree(GetProcessHeap(), 0, info);
    return offline;
}

} // namespace

extern "C" {

HGLOBAL WINAPI ListPrinters() {
    DWORD count;
    PRINTER_INFO_2A *infos = EnumerateAll(&count);
    if (!infos || count == 0) {
        HeapFree(GetProcessHeap(), 0, infos);
        return NULL;
    }
    char defaultName[MAX_PATH] = "";
    DWORD defaultSize = sizeof defaultName;
    GetDefaultPrinterA(defaultName, &defaultSize);

    char drivers[64][MAX_PATH], ports[64][MAX_PATH];
    if (count > 64) {
        count = 64;
    }
    SIZE_T size = offsetof(PrinterList, Entries) + count * sizeof(PrinterEntry);
    for (DWORD i = 0; i < count; i++) {
        DevicesEntry(&infos[i], drivers[i], MAX_PATH, ports[i], MAX_PATH);
        size += lstrlenA(infos[i].pPrinterName) + lstrlenA(drivers[i]) + lstrlenA(ports[i]) + 3;
    }
    // Moveable memory is never moved unless reallocated, so the addresses in the
    // entries stay valid for the life of the block.
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, size);
    PrinterList *list = block ? (PrinterList *)GlobalLock(block) : NULL;
    if (list) {
        char *strings = (char *)&list->Entries[count];
        list->Count = (WORD)count;
        for (DWORD i = 0; i < count; i++) {
            list->Entries[i].DeviceName = Store(&strings, infos[i].pPrinterName);
            list->Entries[i].DriverName = Store(&strings, drivers[i]);
            list->Entries[i].PortName = Store(&strings, ports[i]);
            if (lstrcmpiA(infos[i].pPrinterName, defaultName) == 0) {
                list->Default = list->Current = (WORD)i;
            }
        }
        GlobalUnlock(block);
    }
    HeapFree(GetProcessHeap(), 0, infos);
    return list ? block : NULL;
}

WORD WINAPI FindPrinter(const char *description, const PrinterList *list) {
    if (!description || !list) {
        return NoPrinterMatch;
    }
    for (WORD i = 0; i < list->Count; i++) {
        const PrinterEntry *entry = &list->Entries[i];
        char text[PrinterDescriptionSize];
        snprintf(text, sizeof text, "%s, %s, %s", entry->DeviceName, entry->DriverName,
                 entry->PortName);
        if (lstrcmpiA(text, description) == 0) {
            return i;
        }
    }
    return NoPrinterMatch;
}

int WINAPI OpenPrinterContext(const PrinterEntry *entry, PrinterContext *context) {
    if (!entry || !entry->DeviceName || !context) {
        return 0;
    }
    ContextState *state = StateOf(context);
    state->Printer = NULL;
    context->DevModeHandle = NULL;
    return OpenPrinterA(entry->DeviceName, &state->Printer, NULL) ? 1 : 0;
}

// Ordinals 5 and 6: looked up by the keypad manager, never called.
int WINAPI ReservedEntry5() {
    return 0;
}
int WINAPI ReservedEntry6() {
    return 0;
}

int WINAPI SelectPrinter(PrinterContext *context, const PrinterEntry *entry) {
    if (!context || !entry || !entry->DeviceName) {
        return 0;
    }
    HANDLE printer;
    if (!OpenPrinterA(entry->DeviceName, &printer, NULL)) {
        return 0;
    }
    ReleaseContext(context);
    StateOf(context)->Printer = printer;
    return 1;
}

int WINAPI QueryPrinter(const PrinterEntry *entry, PrinterContext *context, PrinterInfo *info) {
    ContextState *state = context ? StateOf(context) : NULL;
    if (!entry || !entry->DeviceName || !state || !state->Printer || !info ||
        IsWorkingOffline(state->Printer)) {
        return 0;
    }
    LONG size = DocumentPropertiesA(NULL, state->Printer, entry->DeviceName, NULL, NULL, 0);
    HGLOBAL handle = size > 0 ? GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, size) : NULL;
    DEVMODEA *devMode = handle ? (DEVMODEA *)GlobalLock(handle) : NULL;
    int ok = devMode != NULL && DocumentPropertiesA(NULL, state->Printer, entry->DeviceName,
                                                    devMode, NULL, DM_OUT_BUFFER) == IDOK;
    if (ok) {
        devMode->dmPaperSize = (short)info->PaperCode;
        devMode->dmFields |= DM_PAPERSIZE;
        ok = DocumentPropertiesA(NULL, state->Printer, entry->DeviceName, devMode, devMode,
                                 DM_IN_BUFFER | DM_OUT_BUFFER) == IDOK;
    }
    HDC ic = ok ? CreateICA(NULL, entry->DeviceName, NULL, devMode) : NULL;
    if (ic) {
        info->DpiX = GetDeviceCaps(ic, LOGPIXELSX);
        info->DpiY = GetDeviceCaps(ic, LOGPIXELSY);
        info->PrintableWidth = GetDeviceCaps(ic, HORZRES);
        info->PrintableHeight = GetDeviceCaps(ic, VERTRES);
        DeleteDC(ic);
        info->CopyLimit = ReadCopyLimit(state->Printer, entry->DeviceName, devMode);
        info->CopyLimitHigh = 0;
        info->ColorMode =
            DeviceCapabilitiesA(entry->DeviceName, NULL, DC_COLORDEVICE, NULL, devMode) == 1
                ? PrinterColorCapable
                : 1;
    }
    if (devMode) {
        GlobalUnlock(handle);
    }
    if (!ic) {
        if (handle) {
            GlobalFree(handle);
        }
        return 0;
    }
    ReleaseDevMode(context);
    context->DevModeHandle = handle;
    return 1;
}

int WINAPI ClosePrinterContext(PrinterContext *context) {
    if (!context) {
        return 0;
    }
    ReleaseContext(context);
    return 1;
}

} // extern "C"
