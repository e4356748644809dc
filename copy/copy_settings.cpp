#include "copy/copy_settings.h"

#include <string.h>

#include "app/app.h"
#include "app/settings.h"
#include "res/resource.h"

HMODULE PrinterLibrary;
ListPrintersProc ListPrinters;
FindPrinterProc FindPrinter;
OpenPrinterContextProc OpenPrinterContext;
FARPROC PrinterEntry5;
FARPROC PrinterEntry6;
SelectPrinterProc SelectPrinter;
QueryPrinterProc QueryPrinter;
ClosePrinterContextProc ClosePrinterContext;
HGLOBAL DialogPrinterListHandle;
PrinterContext DialogPrinterContext;
int DialogContextOpen;
CopySettingsRecord CopySettings;
CopySettingsRecord WorkingCopySettings;
int CopyUnit;

static const char *const CopySection = "Varnel COPY";

// Through void* because FARPROC has no parameters to match.
template <typename Proc> static void LookUp(Proc *slot, int ordinal) {
    *slot = reinterpret_cast<Proc>(
        reinterpret_cast<void *>(GetProcAddress(PrinterLibrary, MAKEINTRESOURCEA(ordinal))));
}

int BindPrinterLibrary() {
    if (!LoadProductLibrary(&PrinterLibrary, "Dorlan.DLL")) {
        PrinterLibrary = NULL;
        return 0;
    }
    // Looked up without checking: a missing entry is found when it is called.
    LookUp(&ListPrinters, 2);
    LookUp(&FindPrinter, 3);
    LookUp(&OpenPrinterContext, 4);
    LookUp(&PrinterEntry5, 5);
    LookUp(&PrinterEntry6, 6);
    LookUp(&SelectPrinter, 7);
    LookUp(&QueryPrinter, 8);
    LookUp(&ClosePrinterContext, 9);
    return 1;
}

// The context is open only after OpenCopyConfig found every entry it needs.
void CloseDialogPrinter() {
    if (DialogContextOpen) {
        ClosePrinterContext(&DialogPrinterContext);
    }
    DialogContextOpen = 0;
}

void UnbindPrinterLibrary() {
    if (!PrinterLibrary) {
        return;
    }
    CloseDialogPrinter();
    ReleaseBlock(&DialogPrinterListHandle);
    FreeLibrary(PrinterLibrary);
    PrinterLibrary = NULL;
    ListPrinters = NULL;
    FindPrinter = NULL;
    OpenPrinterContext = NULL;
    PrinterEntry5 = PrinterEntry6 = NULL;
    SelectPrinter = NULL;
    QueryPrinter = NULL;
    ClosePrinterContext = NULL;
}

int LoadCopySettings() {
    if (!BindPrinterLibrary()) {
        ShowStringMessage(AppInstance, MainWindow, AppTitle, IDS_COPY_INIT_FAILED);
        return 0;
    }
    IniSection copy;
    ReadIniSection(&copy, SettingsPathFor("SYS.INI"), CopySection);
    IniText(&copy, "Printer", "", WorkingCopySettings.Printer, sizeof WorkingCopySettings.Printer);
    WorkingCopySettings.AlwaysDefault = IniInt(&copy, "AlwaysDefault", 1);
    WorkingCopySettings.FitInPage = IniInt(&copy, "FitInPage", 1);
    CopyUnit = IniInt(&copy, "Unit", 0);
    FreeIniSection(&copy);
    return 1;
}

int SaveCopySettings() {
    const char *file = SettingsPathFor("SYS.INI");
    int written = WriteIntSetting(CopySection, "FitInPage", file, WorkingCopySettings.FitInPage);
    written &=
        WriteIntSetting(CopySection, "AlwaysDefault", file, WorkingCopySettings.AlwaysDefault);
    written &=
        WritePrivateProfileStringA(CopySection, "Printer", WorkingCopySettings.Printer, file);
    return written != 0;
}

static volatile LONG CopySettingsHeld;

void TakeCopySettings(CopySettingsRecord *settings) {
    HoldLock(&CopySettingsHeld);
    *settings = CopySettings;
    FreeLock(&CopySettingsHeld);
}

void PutCopySettings(const CopySettingsRecord *settings) {
    HoldLock(&CopySettingsHeld);
    CopySettings = *settings;
    FreeLock(&CopySettingsHeld);
}

// Skips leading delimiters, ends the token at the next one and moves the cursor
// past it; the token is empty when the text is used up.
static char *NextToken(char **cursor, const char *delimiters) {
    char *start = *cursor + strspn(*cursor, delimiters);
    char *end = start + strcspn(start, delimiters);
    *cursor = *end ? end + 1 : end;
    *end = '\0';
    return start;
}

void SplitPrinterDescription(char *description, PrinterEntry *entry) {
    char *cursor = description;
    entry->DeviceName = NextToken(&cursor, ",");
    entry->DriverName = NextToken(&cursor, ", ");
    entry->PortName = NextToken(&cursor, ", ");
}
