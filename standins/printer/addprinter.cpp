// Installs a PostScript printer in the prefix for the copy job to print on:
// writes its PPD into the printer driver directory, adds the driver, the
// printer and its [devices] entry, and can make it the default printer.
// Run once per printer by the prefix script; a printer that exists is left as
// it is.
//
// addprinter <name> <colour|grey> <dpi> <copy limit> <output port> [default] [driver]
//
// The port names where the printed PostScript goes. Under Wine a port of the
// form "|command" pipes each document into a shell command; Windows would
// take a local port (a file name) instead.
#include <windows.h>
#include <winspool.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static const char *const DriverName = "Varnel PostScript";

// A PPD for a PostScript printer with quarter-inch margins on Letter, Legal and A4.
static int WritePpd(const char *path, int colour, int dpi) {
    FILE *file = fopen(path, "wb");
    if (!file) {
        return 0;
    }
    fprintf(file,
            "*PPD-Adobe: \"4.3\"\n"
            "*FormatVersion: \"4.3\"\n"
            "*FileVersion: \"1.0\"\n"
            "*LanguageVersion: English\n"
            "*LanguageEncoding: ISOLatin1\n"
            "*PCFileName: \"VARNELPS.PPD\"\n"
            "*Manufacturer: \"Varnel\"\n"
            "*Product: \"(Varnel PostScript)\"\n"
            "*ModelName: \"Varnel PostScript\"\n"
            "*ShortNickName: \"Varnel PostScript\"\n"
            "*NickName: \"Varnel PostScript\"\n"
            "*PSVersion: \"(3010.000) 0\"\n"
            "*LanguageLevel: \"3\"\n"
            "*ColorDevice: %s\n"
            "*DefaultColorSpace: %s\n"
            "*FileSystem: False\n"
            "*Throughput: \"10\"\n"
            "*TTRasterizer: Type42\n"
            "*DefaultResolution: %ddpi\n"
            "*OpenUI *PageSize: PickOne\n"
            "*OrderDependency: 10 AnySetup *PageSize\n"
            "*DefaultPageSize: Letter\n"
            "*PageSize Letter: \"<</PageSize[612 792]/ImagingBBox null>>setpagedevice\"\n"
            "*PageSize Legal: \"<</PageSize[612 1008]/ImagingBBox null>>setpagedevice\"\n"
            "*PageSize A4: \"<</PageSize[595 842]/ImagingBBox null>>setpagedevice\"\n"
            "*CloseUI: *PageSize\n"
            "*OpenUI *PageRegion: PickOne\n"
            "*OrderDependency: 10 AnySetup *PageRegion\n"
            "*DefaultPageRegion: Letter\n"
            "*PageRegion Letter: \"<</PageSize[612 792]/ImagingBBox null>>setpagedevice\"\n"
            "*PageRegion Legal: \"<</PageSize[612 1008]/ImagingBBox null>>setpagedevice\"\n"
            "*PageRegion A4: \"<</PageSize[595 842]/ImagingBBox null>>setpagedevice\"\n"
            "*CloseUI: *PageRegion\n"
            "*DefaultImageableArea: Letter\n"
            "*ImageableArea Letter: \"18 18 594 774\"\n"
            "*ImageableArea Legal: \"18 18 594 990\"\n"
            "*ImageableArea A4: \"18 18 577 824\"\n"
            "*DefaultPaperDimension: Letter\n"
            "*PaperDimension Letter: \"612 792\"\n"
            "*PaperDimension Legal: \"612 1008\"\n"
            "*PaperDimension A4: \"595 842\"\n"
            "*DefaultFont: Courier\n"
            "*Font Courier: Standard \"(002.004S)\" Standard ROM\n",
            colour ? "True" : "False", colour ? "RGB" : "Gray", dpi);
    return fclose(file) == 0;
}

static int PrinterExists(const char *name) {
    HANDLE printer;
    if (!OpenPrinterA((LPSTR)name, &printer, NULL)) {
        return 0;
    }
    ClosePrinter(printer);
    return 1;
}

int main(int argc, char **argv) {
    if (argc < 6) {
        fprintf(stderr,
                "usage: addprinter name colour|grey dpi copylimit port [default] [driver]\n");
        return 2;
    }
    const char *name = argv[1];
    int colour = strcmp(argv[2], "colour") == 0;
    int dpi = atoi(argv[3]);
    DWORD copyLimit = (DWORD)atoi(argv[4]);
    const char *port = argv[5];
    int makeDefault = argc > 6 && strcmp(argv[6], "default") == 0;
    const char *devicesDriver = argc > 7 ? argv[7] : "wineps.drv";

    if (!PrinterExists(name)) {
        char directory[MAX_PATH], ppd[MAX_PATH], ppdName[64], driverPath[MAX_PATH];
        DWORD needed;
        if (!GetPrinterDriverDirectoryA(NULL, NULL, 1, (LPBYTE)directory, sizeof directory,
                                        &needed)) {
            fprintf(stderr, "addprinter: no driver directory (%lu)\n", GetLastError());
            return 1;
        }
        CreateDirectoryA(directory, NULL);
        snprintf(ppdName, sizeof ppdName, "%s%d.ppd", colour ? "colour" : "grey", dpi);
        snprintf(ppd, sizeof ppd, "%s\\%s", directory, ppdName);
        if (!WritePpd(ppd, colour, dpi)) {
            fprintf(stderr, "addprinter: cannot write %s\n", ppd);
            return 1;
        }
        GetSystemDirectoryA(driverPath, sizeof driverPath);
        lstrcatA(driverPath, "\\wineps.drv");
        // One driver per PPD: the PPD is the driver's data file.
        char driverName[96];
        snprintf(driverName, sizeof driverName, "%s %s %d", DriverName, colour ? "Colour" : "Grey",
                 dpi);
        DRIVER_INFO_3A driver = {};
        driver.cVersion = 3;
        driver.pName = driverName;
        driver.pDriverPath = driverPath;
        driver.pDataFile = ppd;
        driver.pConfigFile = driverPath;
        driver.pDefaultDataType = (LPSTR) "RAW";
        if (!AddPrinterDriverA(NULL, 3, (LPBYTE)&driver) &&
            GetLastError() != ERROR_PRINTER_DRIVER_ALREADY_INSTALLED) {
            fprintf(stderr, "addprinter: AddPrinterDriver failed (%lu)\n", GetLastError());
            return 1;
        }
        PRINTER_INFO_2A info = {};
        info.pPrinterName = (LPSTR)name;
        info.pPortName = (LPSTR)port;
        info.pDriverName = driverName;
        info.pPrintProcessor = (LPSTR) "winprint";
        info.pDatatype = (LPSTR) "RAW";
        info.Attributes = PRINTER_ATTRIBUTE_LOCAL;
        HANDLE printer = AddPrinterA(NULL, 2, (LPBYTE)&info);
        if (!printer) {
            fprintf(stderr, "addprinter: AddPrinter failed (%lu)\n", GetLastError());
            return 1;
        }
        // The printer library reads the copies one document may ask for from here.
        SetPrinterDataA(printer, (LPSTR) "CopyLimit", REG_DWORD, (LPBYTE)&copyLimit,
                        sizeof copyLimit);
        ClosePrinter(printer);
    }
    char devices[MAX_PATH];
    snprintf(devices, sizeof devices, "%s,%s", devicesDriver, port);
    WriteProfileStringA("devices", name, devices);
    WriteProfileStringA("PrinterPorts", name, devices);
    if (makeDefault && !SetDefaultPrinterA(name)) {
        fprintf(stderr, "addprinter: SetDefaultPrinter failed (%lu)\n", GetLastError());
        return 1;
    }
    return 0;
}
