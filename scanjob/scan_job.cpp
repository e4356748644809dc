#include "scanjob/scan_job.h"

#include "app/app.h"
#include "app/settings.h"
#include "driver/driver.h"
#include "panel/panel.h"

namespace {

const PaperRecord Papers[3] = {
    {0, 2550, 3300, 8.5f, DMPAPER_LETTER},
    {0, 2550, 4200, 8.5f, DMPAPER_LEGAL},
    {34, 2481, 3519, 8.27f, DMPAPER_A4},
};

const WORD DataTypes[ScanModeCount] = {0, 2, 3};
const DWORD ColourBufferBytes = 1048576;
const DWORD FloorBytes = 65535;

DWORD DibHeaderSize(WORD bitCount) {
    DWORD paletteEntries = bitCount == 1 ? 2 : bitCount == 8 ? 256 : 0;
    return sizeof(BITMAPINFOHEADER) + paletteEntries * sizeof(RGBQUAD);
}

// The palette is black and white for 1 bit, the grey ramp for 8 bits, none for 24.
void WriteDibHeader(BITMAPINFOHEADER *header, DWORD headerSize, LONG width, LONG lines,
                    WORD bitCount) {
    ZeroMemory(header, headerSize);
    header->biSize = sizeof(BITMAPINFOHEADER);
    header->biWidth = width;
    header->biHeight = lines;
    header->biPlanes = 1;
    header->biBitCount = bitCount;
    header->biCompression = BI_RGB;
    RGBQUAD *palette = (RGBQUAD *)(header + 1);
    DWORD entries = (headerSize - sizeof(BITMAPINFOHEADER)) / sizeof(RGBQUAD);
    for (DWORD i = 0; i < entries; i++) {
        BYTE level = (BYTE)(entries == 2 ? i * 255 : i);
        palette[i].rgbBlue = palette[i].rgbGreen = palette[i].rgbRed = level;
    }
}

} // namespace

const PaperRecord &PaperFor(WORD paperSize) {
    return Papers[paperSize < 3 ? paperSize : 0];
}

WORD DataTypeFor(WORD scanMode) {
    return DataTypes[scanMode < ScanModeCount ? scanMode : (WORD)ModeText];
}

SHORT LevelToDriver(int level) {
    int value = (level - 50) * 127 / 50;
    return (SHORT)(value < -127 ? -127 : value > 127 ? 127 : value);
}

void SetPaperWindow(ScanParameterRecord *scan, WORD paperSize, WORD scanMode,
                    const LevelPair *levels, WORD flags) {
    const PaperRecord &paper = PaperFor(paperSize);
    WORD mode = scanMode < ScanModeCount ? scanMode : (WORD)ModeText;
    scan->Left = paper.Left;
    scan->Top = 0;
    scan->Width = paper.Width;
    scan->Height = paper.Height;
    scan->DataType = DataTypeFor(mode);
    scan->ZeroWord = 0;
    scan->ScanFlags = (WORD)(scan->DataType == 3 ? flags | 4 : flags);
    scan->Brightness = LevelToDriver(levels[mode].Brightness);
    scan->Contrast = LevelToDriver(levels[mode].Contrast);
}

WORD BitCountFor(WORD dataType) {
    return dataType == 0 ? 1 : dataType == 2 ? 8 : 24;
}

void PlanScanBuffer(WORD dataType, DWORD bytesPerLine, DWORD lines, DWORD *request, DWORD *floor) {
    DWORD header = DibHeaderSize(BitCountFor(dataType));
    ULONGLONG pixels = dataType == 0 ? (ULONGLONG)lines * bytesPerLine : ColourBufferBytes;
    DWORD floorLines = bytesPerLine ? FloorBytes / bytesPerLine : 0;
    *request = pixels > 0x7FFFFFFFu ? 0x7FFFFFFFu : header + (DWORD)pixels;
    *floor = header + floorLines * bytesPerLine;
    if (floorLines == 0) {
        *request = *floor = 0;
    } else if (*request < *floor) {
        *floor = *request;
    }
}

DWORD ShrinkScanRequest(DWORD failed, DWORD floor, DWORD headerSize, DWORD bytesPerLine) {
    DWORD lines = (failed - headerSize) / bytesPerLine;
    DWORD next = headerSize + (lines - lines / 4) * bytesPerLine;
    return next < floor || next >= failed ? floor : next;
}

int AllocateScanBuffer(const ScanParameterRecord *scan, ScanBufferRecord *buffer) {
    WORD bitCount = BitCountFor(scan->DataType);
    DWORD header = DibHeaderSize(bitCount);
    DWORD request, floor;
    PlanScanBuffer(scan->DataType, scan->BytesPerLine, scan->Lines, &request, &floor);
    buffer->Block = NULL;
    while (request && !(buffer->Block = GlobalAlloc(GMEM_MOVEABLE, request)) && request > floor) {
        request = ShrinkScanRequest(request, floor, header, scan->BytesPerLine);
    }
    buffer->Header = buffer->Block ? (BITMAPINFOHEADER *)GlobalLock(buffer->Block) : NULL;
    if (!buffer->Header) {
        ReleaseScanBuffer(buffer);
        return 0;
    }
    WriteDibHeader(buffer->Header, header, (LONG)scan->PixelsPerLine, (LONG)scan->Lines, bitCount);
    buffer->Pixels = (BYTE *)buffer->Header + header;
    buffer->Lines = (request - header) / scan->BytesPerLine;
    return 1;
}

void ReleaseScanBuffer(ScanBufferRecord *buffer) {
    ReleaseBlock(&buffer->Block);
    buffer->Header = NULL;
    buffer->Pixels = NULL;
    buffer->Lines = 0;
}

int ForEachLoadedPage(int (*page)()) {
    while (page()) {
        if (!IsDeviceReady()) {
            return 1;
        }
        SetScanParameters();
    }
    return 0;
}

static void SetJobNotification(int on) {
    KeyNotification notification = {(ULONG_PTR)MainWindow, WM_USER, PanelJobEvent};
    CallDriverWith(DrvJobNotification, &notification, on ? 0xFF : 0);
}

int OpenJobDevice() {
    if (!OpenDevice()) {
        return 0;
    }
    SetJobNotification(1);
    return 1;
}

void CloseJobDevice(int failed) {
    if (failed) {
        FinishPage();
    }
    SetJobNotification(0);
    CloseDevice();
}

void FinishJob(const char *text) {
    ShowPanelText(LcdMessageLine, text);
    EndJob();
}

// Documents and page files of different pages then carry different times; a
// clock that does not move ends the wait after a second.
void WaitForNextSecond() {
    SYSTEMTIME first, now;
    GetLocalTime(&first);
    DWORD begun = GetTickCount();
    do {
        Sleep(10);
        GetLocalTime(&now);
    } while (now.wSecond == first.wSecond && GetTickCount() - begun < 1000);
}
