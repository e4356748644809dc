// Binary interface of the scanner driver library: the request block passed to
// the driver entry (exported by ordinal 2), the records behind its Buffer
// field and the request numbers. Shared by the keypad manager and by the
// virtual scanner's driver, so both sides agree on every offset. Fields that
// carry an address or a window are pointer-sized: 32 bits in the product,
// 64 bits in the 64-bit build of the same sources.
#pragma once
#include <windows.h>
#include <stddef.h>

#pragma pack(push, 1)

struct DriverRequest {
    WORD Command;     // request number
    WORD Status;      // written by the driver
    ULONG_PTR Buffer; // address of the parameter record or data buffer
    DWORD Value;      // scalar parameter; request 10 returns lines delivered here
    WORD Reserved;    // not set by the keypad manager
    WORD LastStatus;  // the keypad manager's mapped read status; never touched by the driver
};

// Request 2 fills it; only IoPort and Capabilities are read by the keypad manager.
struct DeviceInfoRecord {
    BYTE DriverPrivate[78];
    WORD IoPort;
    BYTE Capabilities;
    BYTE Rest[31];
};

struct ScanParameterRecord {
    WORD Left; // window in 1/300 inch
    WORD Top;
    WORD Width;
    WORD Height;
    WORD ResolutionX; // dpi
    WORD ResolutionY;
    DWORD PixelsPerLine; // completed by request 7
    DWORD BytesPerLine;
    DWORD Lines;
    WORD DataType; // 0 line art, 2 grey, 3 colour
    WORD Reserved;
    WORD ZeroWord;
    WORD TableRequest; // the driver leaves 4 here to ask for the fixed table
    WORD ScanFlags;
    SHORT Brightness; // -127..127
    SHORT Contrast;
};

// Behind requests 21 and 22: where and what to post when the event occurs.
struct KeyNotification {
    ULONG_PTR Window; // HWND
    DWORD Message;    // always WM_USER
    WORD PostValue;
};

#pragma pack(pop)

#if defined(_WIN64)
static_assert(sizeof(DriverRequest) == 20 && offsetof(DriverRequest, Value) == 12,
              "request block with a 64-bit Buffer");
static_assert(sizeof(KeyNotification) == 14, "KeyNotification with a 64-bit window");
#else
static_assert(sizeof(DriverRequest) == 16 && offsetof(DriverRequest, Value) == 8,
              "request block is 16 bytes");
static_assert(sizeof(KeyNotification) == 10, "KeyNotification layout");
#endif
static_assert(sizeof(DeviceInfoRecord) == 112, "DeviceInfo is 112 bytes");
static_assert(offsetof(DeviceInfoRecord, IoPort) == 78 &&
                  offsetof(DeviceInfoRecord, Capabilities) == 80,
              "DeviceInfo field offsets");
static_assert(sizeof(ScanParameterRecord) == 38, "ScanParameters layout");
static_assert(offsetof(ScanParameterRecord, DataType) == 24 &&
                  offsetof(ScanParameterRecord, ScanFlags) == 32,
              "ScanParameters field offsets");

typedef WORD(WINAPI *DriverEntryProc)(DriverRequest *request);

enum DriverCommand : WORD {
    DrvOpen = 0,
    DrvClose = 1,
    DrvBind = 2,
    DrvPrepareScan = 3,
    DrvReleasePage = 4,
    DrvQueryReady = 5,
    DrvQueryPaper = 6,
    DrvSetScanParameters = 7,
    DrvSendTable = 8,
    DrvQueryFailure = 9,
    DrvReadScanData = 10,
    DrvTestIoPort = 11,
    DrvRegisterKey = 21,
    DrvJobNotification = 22,
    DrvPollPanel = 23,
    DrvShowText = 24,
    DrvErrorNotice = 25,
};

enum : BYTE {
    CapAnswersReady = 1, // the device answers request 5
    CapFrontPanel = 16,  // the device has the front panel
};

enum : WORD {
    ReadMore = 0,
    ReadEndOfPage = 8,
    ReadPageComplete = 11, // the keypad manager's own value
    ReadFailed = 65535,
};

enum : WORD {
    PanelMessageKeyCount = 26,
    PanelJobEvent = 8192, // wParam of the job notification
    PanelEventAbort = 6,  // low byte of lParam with PanelJobEvent
};

// Bit of ScanFlags that asks for bottom-up DIB bands (the copy job's 42 and 46).
enum : WORD { ScanFlagDibBands = 32 };

// Sent unchanged with request 8 when the driver asks for it.
extern const BYTE DriverFixedTable[64];
