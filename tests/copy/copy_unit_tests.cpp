// The copy job's arithmetic and the printer library, in process: scan windows
// for real printer geometries, the driver's level scale, copies per document,
// band sizes, description splitting on two threads, Dorlan.DLL answering
// for the prefix's PostScript printers from two threads at once, and the copy
// configuration dialog's use of the library.
#include <gtest/gtest.h>

#include <windows.h>
#include <winspool.h>

#include <string.h>

#include <string>

#include "app/app.h"
#include "app/settings.h"
#include "copy/copy_geometry.h"
#include "copy/copy_job.h"
#include "copy/copy_job_steps.h"
#include "copy/copy_settings.h"
#include "driver/driver.h"
#include "fax/telvex.h"
#include "res/resource.h"
#include "scripted_fixture.h"
#include "program_harness.h"
#include "ui/copy_dialog.h"
#include "ui/scanner_settings.h"

namespace {

const LevelPair Levels[3] = {{50, 50}, {25, 75}, {100, 0}};

CopyGeometryInput Input(WORD mode, WORD paper, int fit, LONG dpiX, LONG dpiY, LONG width,
                        LONG height, WORD colour = 2) {
    return {mode, paper, Levels, fit, dpiX, dpiY, width, height, colour};
}

TEST(CopyGeometry, FitInPageScansTheWholePaperAtThePrintableResolution) {
    // A 300 dpi printer with quarter-inch margins on Letter.
    CopyGeometryInput input = Input(ModeText, 0, 1, 300, 300, 2400, 3150);
    ScanParameterRecord scan = {};
    ComputeScanWindow(&input, &scan);
    EXPECT_EQ(0, scan.Left);
    EXPECT_EQ(0, scan.Top);
    EXPECT_EQ(2550, scan.Width);
    EXPECT_EQ(3300, scan.Height);
    EXPECT_EQ(2400 * 300 / 2550, scan.ResolutionX);
    EXPECT_EQ(3150 * 300 / 3300, scan.ResolutionY);
    EXPECT_EQ(0, scan.DataType);
    EXPECT_EQ(42, scan.ScanFlags);
    EXPECT_EQ(0, scan.Brightness);
}

TEST(CopyGeometry, PaperTableGivesLegalAndA4WindowsAndCodes) {
    ScanParameterRecord scan = {};
    CopyGeometryInput legal = Input(ModePhoto, 1, 1, 300, 300, 2400, 4050);
    ComputeScanWindow(&legal, &scan);
    EXPECT_EQ(4200, scan.Height);
    CopyGeometryInput a4 = Input(ModePhoto, 2, 1, 300, 300, 2330, 3359);
    ComputeScanWindow(&a4, &scan);
    EXPECT_EQ(34, scan.Left);
    EXPECT_EQ(2481, scan.Width);
    EXPECT_EQ(3519, scan.Height);
    EXPECT_EQ(DMPAPER_LETTER, PaperFor(0).Code);
    EXPECT_EQ(DMPAPER_LEGAL, PaperFor(1).Code);
    EXPECT_EQ(DMPAPER_A4, PaperFor(2).Code);
}

TEST(CopyGeometry, ColourNeedsAColourPrinter) {
    ScanParameterRecord scan = {};
    CopyGeometryInput colour = Input(ModeColorPhoto, 0, 1, 300, 300, 2400, 3150, 2);
    ComputeScanWindow(&colour, &scan);
    EXPECT_EQ(3, scan.DataType);
    EXPECT_EQ(46, scan.ScanFlags);
    EXPECT_EQ(127, scan.Brightness);
    EXPECT_EQ(-127, scan.Contrast);
    // A grey printer: a grey scan with Photo's levels.
    CopyGeometryInput grey = Input(ModeColorPhoto, 0, 1, 300, 300, 2400, 3150, 1);
    ComputeScanWindow(&grey, &scan);
    EXPECT_EQ(2, scan.DataType);
    EXPECT_EQ(42, scan.ScanFlags);
    EXPECT_EQ(LevelToDriver(25), scan.Brightness);
    EXPECT_EQ(LevelToDriver(75), scan.Contrast);
}

TEST(CopyGeometry, WithoutFitThePrintableAreaIsScannedCentredAtItsOwnSize) {
    // 600 x 600 dpi, 8 x 10.5 inches printable on Letter.
    CopyGeometryInput input = Input(ModePhoto, 0, 0, 600, 600, 4800, 6300);
    ScanParameterRecord scan = {};
    ComputeScanWindow(&input, &scan);
    EXPECT_EQ(300, scan.ResolutionX);
    EXPECT_EQ(600, scan.ResolutionY);
    EXPECT_EQ(75, scan.Left); // a quarter inch each side
    EXPECT_EQ(0, scan.Top);
    EXPECT_EQ(2400, scan.Width);
    EXPECT_EQ(3150, scan.Height);
    EXPECT_DOUBLE_EQ(1.0, VerticalScaleFor(600, 6300, 6300));
}

TEST(CopyGeometry, A720DpiPrinterIsScannedAt600AndStretchedDown) {
    CopyGeometryInput input = Input(ModePhoto, 0, 1, 720, 720, 5760, 7560);
    ScanParameterRecord scan = {};
    ComputeScanWindow(&input, &scan);
    EXPECT_EQ(300, scan.ResolutionX);
    EXPECT_EQ(600, scan.ResolutionY);
    EXPECT_DOUBLE_EQ(7560.0 / 6600, VerticalScaleFor(720, 7560, 6600));
}

TEST(CopyGeometry, APrintableWidthBeyondThePaperStartsAtTheGlassEdge) {
    // 9 inches printable on 8.5 inch paper would centre left of the glass.
    CopyGeometryInput input = Input(ModeText, 0, 0, 300, 300, 2700, 3150);
    ScanParameterRecord scan = {};
    ComputeScanWindow(&input, &scan);
    EXPECT_EQ(0, scan.Left);
    EXPECT_EQ(2700, scan.Width);
}

TEST(CopyGeometry, LevelsArePassedOnLinearly) {
    EXPECT_EQ(-127, LevelToDriver(0));
    EXPECT_EQ(0, LevelToDriver(50));
    EXPECT_EQ(127, LevelToDriver(100));
    EXPECT_EQ(-2, LevelToDriver(49));
    EXPECT_EQ(2, LevelToDriver(51));
    EXPECT_EQ(-63, LevelToDriver(25));
    EXPECT_EQ(63, LevelToDriver(75));
    for (int level = 1; level < 100; level++) {
        EXPECT_LT(LevelToDriver(level - 1), LevelToDriver(level + 1)) << level;
    }
    EXPECT_EQ(127, LevelToDriver(250)); // out-of-range settings stay in the driver's range
}

// The scanner settings dialog's sliders, without a window.
TEST(LevelSliders, PageStepsRoundToTheStepAndEveryMoveStaysInRange) {
    const LevelSlider *slider = &LevelSliders[BrightnessSlider];
    struct {
        SHORT From;
        WORD Code;
        SHORT To;
    } moves[] = {{37, SB_PAGELEFT, 20},    {37, SB_PAGERIGHT, 40}, {95, SB_PAGERIGHT, 100},
                 {100, SB_PAGERIGHT, 100}, {5, SB_PAGELEFT, 0},    {0, SB_LINELEFT, 0},
                 {100, SB_LINERIGHT, 100}, {50, SB_LINERIGHT, 51}, {50, SB_THUMBTRACK, 50},
                 {50, SB_LEFT, 0},         {50, SB_RIGHT, 100},    {50, SB_ENDSCROLL, 50}};
    for (const auto &move : moves) {
        EXPECT_EQ(move.To, ScrolledLevel(slider, move.From, move.Code, 0))
            << move.From << " code " << move.Code;
    }
    EXPECT_EQ(73, ScrolledLevel(slider, 50, SB_THUMBPOSITION, 73));
    EXPECT_EQ(100, ScrolledLevel(slider, 50, SB_THUMBPOSITION, 300));

    SHORT value = 7;
    for (const char *wrong : {"", "150", "-3", "4x", "101", "99999999999999"}) {
        EXPECT_EQ(0, ParseLevel(slider, wrong, &value)) << wrong;
    }
    EXPECT_EQ(7, value);
    EXPECT_EQ(1, ParseLevel(slider, " 100", &value));
    EXPECT_EQ(100, value);
    EXPECT_EQ(1, ParseLevel(slider, "0", &value));
    EXPECT_EQ(0, value);
}

TEST(CopyCounts, TypedDigitsGiveTheCopies) {
    EXPECT_EQ(1, CopyCountFromTyped("", 0));
    EXPECT_EQ(1, CopyCountFromTyped("0", 1));
    EXPECT_EQ(7, CopyCountFromTyped("7", 1));
    EXPECT_EQ(123, CopyCountFromTyped("123", 3));
    EXPECT_EQ(1, CopyCountFromTyped("1234", 4));
}

// The documents a page's copies take, as the copy job makes them.
std::string Documents(SHORT limit, WORD copies) {
    std::string made;
    SHORT asked = limit;
    for (WORD left = copies; left > 0 && made.size() < 100;) {
        asked = (SHORT)DocumentCopies(asked, left);
        left = (WORD)(left - asked);
        made += std::to_string(asked) + " ";
    }
    return made;
}

TEST(CopyCounts, CopiesAreSplitIntoDocumentsByTheCopyLimit) {
    EXPECT_EQ("5 5 2 ", Documents(5, 12));
    EXPECT_EQ("3 ", Documents(9999, 3));
    // A printer library reporting no copies, or a negative count, still ends.
    EXPECT_EQ("1 1 1 ", Documents(0, 3));
    EXPECT_EQ("1 1 ", Documents(-1, 2));
}

TEST(Bands, GreyAndColourMoveInOneMebibyteBandsAndLineArtWhole) {
    DWORD request, floor;
    PlanScanBuffer(2, 2400, 3146, &request, &floor);
    EXPECT_EQ(1064u + 1048576u, request);
    EXPECT_EQ(1064u + (65535u / 2400u) * 2400u, floor);
    PlanScanBuffer(3, 7200, 3146, &request, &floor);
    EXPECT_EQ(40u + 1048576u, request);
    PlanScanBuffer(0, 300, 3146, &request, &floor);
    EXPECT_EQ(48u + 300u * 3146u, request);
    // A line longer than the floor cannot be held at all.
    PlanScanBuffer(3, 70000, 10, &request, &floor);
    EXPECT_EQ(0u, request);
}

TEST(Bands, AFailedRequestShrinksByWholeLinesDownToTheFloor) {
    DWORD request, floor;
    PlanScanBuffer(2, 2400, 3146, &request, &floor);
    DWORD steps = 0;
    while (request != floor && steps < 100) {
        DWORD next = ShrinkScanRequest(request, floor, 1064, 2400);
        EXPECT_LT(next, request);
        EXPECT_EQ(0u, (next - 1064) % 2400);
        request = next;
        steps++;
    }
    EXPECT_EQ(floor, request);
    EXPECT_LT(steps, 20u);
}

TEST(Documents, NameCarriesTitleAndTime) {
    SYSTEMTIME time = {};
    time.wHour = 14;
    time.wMinute = 5;
    time.wSecond = 9;
    char name[80];
    FormatDocumentName("Varnel Keypad Program", &time, name, sizeof name);
    EXPECT_STREQ("Varnel Keypad Program 14-5-9", name);
}

TEST(Descriptions, SplitLikeTheSettingsHoldThem) {
    char text[] = "Office Laser, winspool, LPT1:";
    PrinterEntry entry;
    SplitPrinterDescription(text, &entry);
    EXPECT_STREQ("Office Laser", entry.DeviceName);
    EXPECT_STREQ("winspool", entry.DriverName);
    EXPECT_STREQ("LPT1:", entry.PortName);
    char bare[] = "Varnel Color PS,wineps.drv,|/tmp/x.sh";
    SplitPrinterDescription(bare, &entry);
    EXPECT_STREQ("Varnel Color PS", entry.DeviceName);
    EXPECT_STREQ("wineps.drv", entry.DriverName);
    EXPECT_STREQ("|/tmp/x.sh", entry.PortName);
    char empty[] = "";
    SplitPrinterDescription(empty, &entry);
    EXPECT_STREQ("", entry.DeviceName);
    EXPECT_STREQ("", entry.PortName);
}

struct SplitCase {
    const char *Source;
    const char *Expected; // device|driver|port
};

DWORD WINAPI SplitMany(LPVOID parameter) {
    const SplitCase *split = (const SplitCase *)parameter;
    for (int i = 0; i < 20000; i++) {
        char text[80];
        lstrcpynA(text, split->Source, sizeof text);
        PrinterEntry entry;
        SplitPrinterDescription(text, &entry);
        std::string joined =
            std::string(entry.DeviceName) + "|" + entry.DriverName + "|" + entry.PortName;
        if (joined != split->Expected) {
            return 1;
        }
    }
    return 0;
}

TEST(Descriptions, TwoThreadsSplitAtOnce) {
    static const SplitCase first = {"A printer, a.drv, LPT1:", "A printer|a.drv|LPT1:"};
    static const SplitCase second = {"Bee,bee driver, COM2:", "Bee|bee|driver"};
    HANDLE threads[2] = {CreateThread(NULL, 0, SplitMany, (LPVOID)&first, 0, NULL),
                         CreateThread(NULL, 0, SplitMany, (LPVOID)&second, 0, NULL)};
    WaitForMultipleObjects(2, threads, TRUE, INFINITE);
    for (HANDLE thread : threads) {
        DWORD code = 2;
        GetExitCodeThread(thread, &code);
        EXPECT_EQ(0u, code);
        CloseHandle(thread);
    }
}

// Two whole settings, one of each kind, in every position of the record.
void FillSettings(CopySettingsRecord *settings, char fill) {
    memset(settings->Printer, fill, sizeof settings->Printer - 1);
    settings->Printer[sizeof settings->Printer - 1] = 0;
    settings->AlwaysDefault = settings->FitInPage = fill;
}

DWORD WINAPI TakeMany(LPVOID) {
    for (int i = 0; i < 200000; i++) {
        CopySettingsRecord taken;
        TakeCopySettings(&taken);
        char fill = taken.Printer[0];
        for (size_t at = 0; at < sizeof taken.Printer - 1; at += 16) {
            if (taken.Printer[at] != fill) {
                return 1;
            }
        }
        if (taken.Printer[sizeof taken.Printer - 2] != fill || taken.FitInPage != fill) {
            return 1;
        }
    }
    return 0;
}

// A copy job takes the settings while the dialog's OK puts new ones: it gets
// the old ones or the new ones, never part of each.
TEST(CopySettingsShared, AJobTakesThemWholeWhileTheDialogPutsThem) {
    CopySettingsRecord first, second;
    FillSettings(&first, 'a');
    FillSettings(&second, 'b');
    PutCopySettings(&first);
    HANDLE taker = CreateThread(NULL, 0, TakeMany, NULL, 0, NULL);
    for (int i = 0; WaitForSingleObject(taker, 0) == WAIT_TIMEOUT; i++) {
        PutCopySettings(i % 2 ? &first : &second);
    }
    DWORD code = 2;
    GetExitCodeThread(taker, &code);
    CloseHandle(taker);
    EXPECT_EQ(0u, code) << "a job took settings half old and half new";
}

// The printer library of the product's library directory against the prefix's printers.
class PrinterLibraryTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ProductPath(SettingsPath, sizeof SettingsPath, "");
        SettingsDirEnd = lstrlenA(SettingsPath);
        ASSERT_EQ(1, BindPrinterLibrary());
    }
    void TearDown() override { UnbindPrinterLibrary(); }
};

TEST_F(PrinterLibraryTest, ListsThePrintersWithTheWindowsDefault) {
    HGLOBAL handle = ListPrinters();
    ASSERT_NE(nullptr, handle);
    PrinterList *list = (PrinterList *)GlobalLock(handle);
    char name[MAX_PATH];
    DWORD size = sizeof name;
    ASSERT_TRUE(GetDefaultPrinterA(name, &size));
    ASSERT_GE(list->Count, 3);
    ASSERT_LT(list->Default, list->Count);
    EXPECT_STREQ(name, list->Entries[list->Default].DeviceName);
    char device[MAX_PATH];
    GetProfileStringA("windows", "device", "", device, sizeof device);
    const PrinterEntry &chosen = list->Entries[list->Default];
    std::string described =
        std::string(chosen.DeviceName) + "," + chosen.DriverName + "," + chosen.PortName;
    EXPECT_EQ(std::string(device), described);

    std::string text =
        std::string(chosen.DeviceName) + ", " + chosen.DriverName + ", " + chosen.PortName;
    EXPECT_EQ(list->Default, FindPrinter(text.c_str(), list));
    EXPECT_EQ(NoPrinterMatch, FindPrinter("No Such Printer, x, y", list));
    GlobalUnlock(handle);
    GlobalFree(handle);
}

struct Query {
    const char *Device;
    WORD Paper;
    PrinterInfo Info;
    int Result;
    HGLOBAL DevMode;
};

DWORD WINAPI QueryMany(LPVOID parameter) {
    Query *query = (Query *)parameter;
    for (int i = 0; i < 10; i++) {
        char name[80];
        lstrcpynA(name, query->Device, sizeof name);
        PrinterEntry entry = {name, name, name};
        PrinterContext context = {};
        if (!OpenPrinterContext(&entry, &context)) {
            query->Result = 0;
            return 0;
        }
        query->Info = PrinterInfo();
        query->Info.PaperCode = query->Paper;
        query->Info.QueryOption = 1;
        query->Result = QueryPrinter(&entry, &context, &query->Info);
        if (query->DevMode) {
            GlobalFree(query->DevMode);
        }
        query->DevMode = context.DevModeHandle;
        context.DevModeHandle = NULL;
        ClosePrinterContext(&context);
        if (!query->Result) {
            return 0;
        }
    }
    return 0;
}

TEST_F(PrinterLibraryTest, TwoContextsQueryTheirPrintersFromTwoThreads) {
    Query colour = {"Varnel Color PS", DMPAPER_LETTER, {}, 0, NULL};
    Query grey = {"Varnel Gray PS", DMPAPER_LEGAL, {}, 0, NULL};
    HANDLE threads[2] = {CreateThread(NULL, 0, QueryMany, &colour, 0, NULL),
                         CreateThread(NULL, 0, QueryMany, &grey, 0, NULL)};
    WaitForMultipleObjects(2, threads, TRUE, INFINITE);
    CloseHandle(threads[0]);
    CloseHandle(threads[1]);
    ASSERT_EQ(1, colour.Result);
    ASSERT_EQ(1, grey.Result);
    // Answers the printers' own device contexts give.
    const Query *queries[2] = {&colour, &grey};
    for (const Query *query : queries) {
        DEVMODEA *devMode = (DEVMODEA *)GlobalLock(query->DevMode);
        ASSERT_NE(nullptr, devMode);
        EXPECT_EQ((short)query->Paper, devMode->dmPaperSize);
        HDC dc = CreateICA(NULL, query->Device, NULL, devMode);
        ASSERT_NE(nullptr, dc);
        EXPECT_EQ(GetDeviceCaps(dc, LOGPIXELSX), query->Info.DpiX);
        EXPECT_EQ(GetDeviceCaps(dc, LOGPIXELSY), query->Info.DpiY);
        EXPECT_EQ(GetDeviceCaps(dc, HORZRES), query->Info.PrintableWidth);
        EXPECT_EQ(GetDeviceCaps(dc, VERTRES), query->Info.PrintableHeight);
        // Margins inside the paper.
        EXPECT_LT(query->Info.PrintableWidth, GetDeviceCaps(dc, PHYSICALWIDTH));
        EXPECT_LT(query->Info.PrintableHeight, GetDeviceCaps(dc, PHYSICALHEIGHT));
        DeleteDC(dc);
        GlobalUnlock(query->DevMode);
        GlobalFree(query->DevMode);
    }
    EXPECT_GT(grey.Info.PrintableHeight, colour.Info.PrintableHeight); // Legal against Letter
    EXPECT_EQ(PrinterColorCapable, colour.Info.ColorMode);
    EXPECT_NE(PrinterColorCapable, grey.Info.ColorMode);
    EXPECT_EQ(5, colour.Info.CopyLimit);
    EXPECT_EQ(0, grey.Info.CopyLimit);
}

TEST_F(PrinterLibraryTest, AnUnknownPrinterIsRefused) {
    char name[] = "No Such Printer";
    PrinterEntry entry = {name, name, name};
    PrinterContext context = {};
    EXPECT_EQ(0, OpenPrinterContext(&entry, &context));
}

TEST(CopySettingsLoad, ReadsTheCopySectionWithItsDefaults) {
    ProductPath(SettingsPath, sizeof SettingsPath, "");
    SettingsDirEnd = lstrlenA(SettingsPath);
    std::string file = SettingsPathFor("SYS.INI");
    FileBackup keep(file);
    WritePrivateProfileStringA("Varnel COPY", NULL, NULL, file.c_str());
    ASSERT_EQ(1, LoadCopySettings());
    EXPECT_STREQ("", WorkingCopySettings.Printer);
    EXPECT_EQ(1, WorkingCopySettings.AlwaysDefault);
    EXPECT_EQ(1, WorkingCopySettings.FitInPage);
    EXPECT_EQ(0, CopyUnit);
    UnbindPrinterLibrary();

    WritePrivateProfileStringA("Varnel COPY", "Printer", "Varnel Gray PS, wineps.drv, x",
                               file.c_str());
    WritePrivateProfileStringA("Varnel COPY", "AlwaysDefault", "0", file.c_str());
    WritePrivateProfileStringA("Varnel COPY", "FitInPage", "0", file.c_str());
    WritePrivateProfileStringA("Varnel COPY", "Unit", "1", file.c_str());
    ASSERT_EQ(1, LoadCopySettings());
    EXPECT_STREQ("Varnel Gray PS, wineps.drv, x", WorkingCopySettings.Printer);
    EXPECT_EQ(0, WorkingCopySettings.AlwaysDefault);
    EXPECT_EQ(0, WorkingCopySettings.FitInPage);
    EXPECT_EQ(1, CopyUnit);
    UnbindPrinterLibrary();
    EXPECT_EQ(nullptr, PrinterLibrary);
}

TEST(CopyDialogText, PrintableAreaInInchesAndCentimetres) {
    PrinterInfo info = {};
    info.DpiX = info.DpiY = 300;
    info.PrintableWidth = 2400; // 8.0 x 10.5 inches
    info.PrintableHeight = 3150;
    char text[32];
    EXPECT_EQ(text + 11, FormatPrintableArea(text, sizeof text, &info, 0));
    EXPECT_STREQ("8.00x10.50 ", text);
    EXPECT_EQ(text + 12, FormatPrintableArea(text, sizeof text, &info, 1));
    EXPECT_STREQ("20.33x26.68 ", text);
    EXPECT_EQ(text + 5, FormatPrintableArea(text, 6, &info, 1));
    EXPECT_STREQ("20.33", text);
}

// The dialog's context watched through the library's entries: opened over a
// context still open, and left open.
struct ContextWatch {
    int Open;
    int Reopened;
};
ContextWatch Watch;
OpenPrinterContextProc LibraryOpen;
SelectPrinterProc LibrarySelect;
ClosePrinterContextProc LibraryClose;

int WINAPI WatchedOpen(const PrinterEntry *entry, PrinterContext *context) {
    Watch.Reopened += Watch.Open;
    Watch.Open = LibraryOpen(entry, context) != 0;
    return Watch.Open;
}
int WINAPI WatchedSelect(PrinterContext *context, const PrinterEntry *entry) {
    int selected = LibrarySelect(context, entry);
    Watch.Open |= selected != 0;
    return selected;
}
int WINAPI WatchedClose(PrinterContext *context) {
    Watch.Open = 0;
    return LibraryClose(context);
}
int WINAPI RefusedQuery(const PrinterEntry *, PrinterContext *, PrinterInfo *) {
    return 0;
}
HGLOBAL WINAPI EmptyList() {
    return GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, sizeof(PrinterList));
}

const char ConfigTitle[] = "Varnel: Copy Configuration";

// Turns the radio buttons and the list ten times each way, then cancels.
void SwitchTenTimes(HWND dialog, void *) {
    HWND list = GetDlgItem(dialog, IDC_COPY_PRINTER_LIST);
    for (int i = 0; i < 10; i++) {
        for (int id : {IDC_COPY_ALWAYS_DEFAULT, IDC_COPY_SPECIFY_PRINTER}) {
            SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                         (LPARAM)GetDlgItem(dialog, id));
        }
        LRESULT next =
            (SendMessageA(list, CB_GETCURSEL, 0, 0) + 1) % SendMessageA(list, CB_GETCOUNT, 0, 0);
        SendMessageA(list, CB_SETCURSEL, next, 0);
        SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDC_COPY_PRINTER_LIST, CBN_SELCHANGE),
                     (LPARAM)list);
    }
    PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
}

// The main window of the program with its menu, and the dialog over it.
class CopyDialog : public ::testing::Test {
  protected:
    FileBackup Settings{ProductFile("SYS.INI")};
    std::string SettingsText = ReadFileText(ProductFile("SYS.INI"));
    HWND Window = NULL;

    void SetUp() override {
        AppInstance = GetModuleHandleA(nullptr);
        lstrcpynA(AppTitle, "Varnel Keypad Program", sizeof AppTitle);
        ProductPath(SettingsPath, sizeof SettingsPath, "");
        SettingsDirEnd = lstrlenA(SettingsPath);
        ASSERT_EQ(1, BindPrinterLibrary());
        LibraryOpen = OpenPrinterContext;
        LibrarySelect = SelectPrinter;
        LibraryClose = ClosePrinterContext;
        OpenPrinterContext = WatchedOpen;
        SelectPrinter = WatchedSelect;
        ClosePrinterContext = WatchedClose;
        Watch = ContextWatch();
        CopySettings = CopySettingsRecord();
        lstrcpynA(CopySettings.Printer, "Stored Printer, x, y", sizeof CopySettings.Printer);
        CopyAvailable = CopyServiceEnabled = 1;
        WNDCLASSA windowClass = {};
        windowClass.lpfnWndProc = MainWindowProc;
        windowClass.hInstance = AppInstance;
        windowClass.lpszClassName = "CopyDialogTest";
        RegisterClassA(&windowClass);
        Window = MainWindow = CreateWindowExA(
            0, "CopyDialogTest", "", WS_OVERLAPPEDWINDOW, 0, 0, 400, 300, nullptr,
            LoadMenuA(AppInstance, MAKEINTRESOURCEA(IDR_MAIN_MENU)), AppInstance, nullptr);
        ASSERT_NE((HWND)NULL, Window);
    }
    void TearDown() override {
        // Closed without the program's shutdown, which belongs to the real run.
        SetWindowLongPtrA(Window, GWLP_WNDPROC, (LONG_PTR)DefWindowProcA);
        DestroyWindow(Window);
        MainWindow = NULL;
        UnbindTelvex();
        UnbindPrinterLibrary();
    }
    UINT CopyServiceItem() { return GetMenuState(MainMenu, IDM_COPY_SERVICE, MF_BYCOMMAND); }
};

TEST_F(CopyDialog, SwitchesNeverOpenTheContextOverItselfAndTheEndClosesIt) {
    DialogAnswer dialog(ConfigTitle, SwitchTenTimes);
    EXPECT_EQ(0, OpenCopyConfig(Window));
    EXPECT_TRUE(dialog.Wait());
    EXPECT_EQ(0, Watch.Reopened);
    EXPECT_EQ(0, Watch.Open);
    EXPECT_EQ(SettingsText, ReadFileText(SettingsPathFor("SYS.INI")));
}

TEST_F(CopyDialog, APrinterThatCannotBeQueriedIsClosedAndTurnsTheServiceAndItsItemOff) {
    ASSERT_EQ((UINT)MF_CHECKED, CopyServiceItem() & (MF_CHECKED | MF_GRAYED));
    QueryPrinter = RefusedQuery;
    std::string text;
    DialogAnswer box(AppTitle, ReadAndPressOk, &text);
    SendMessageA(Window, WM_COMMAND, IDM_COPY_SETUP, 0);
    EXPECT_TRUE(box.Wait());
    EXPECT_EQ("Failed to initiate the print driver,\nCopy function will be disabled!", text);
    EXPECT_EQ(0, Watch.Open);
    EXPECT_EQ(0, CopyServiceEnabled);
    EXPECT_EQ(0, CopyAvailable);
    EXPECT_EQ((UINT)MF_GRAYED, CopyServiceItem() & (MF_CHECKED | MF_GRAYED));
}

TEST_F(CopyDialog, AnEmptyPrinterListIsNoListAndChangesNothing) {
    ListPrinters = EmptyList;
    std::string text;
    DialogAnswer box(AppTitle, ReadAndPressOk, &text);
    EXPECT_EQ(0, OpenCopyConfig(Window));
    EXPECT_TRUE(box.Wait());
    EXPECT_EQ("Cannot find any installed printers,\nCopy function will be disabled!", text);
    EXPECT_EQ(1, CopyAvailable);
    EXPECT_EQ(1, CopyServiceEnabled);
    EXPECT_STREQ("Stored Printer, x, y", CopySettings.Printer);
    EXPECT_EQ(nullptr, DialogPrinterListHandle);
    EXPECT_EQ(SettingsText, ReadFileText(SettingsPathFor("SYS.INI")));
}

} // namespace

namespace {

// The job's scan and spool steps against the scripted driver.
DWORD ReplayedLines;
std::string ReplayedBands;

// Counts the bands and checks each lies at the end of the pixel buffer.
WORD CheckBand(DWORD lines, const BYTE *pixels) {
    if (pixels + lines * ScanParameters.BytesPerLine !=
        BandBuffer.Pixels + BandBuffer.Lines * ScanParameters.BytesPerLine) {
        return ReadFailed;
    }
    ReplayedBands += std::to_string(lines) + " ";
    ReplayedLines += lines;
    ScanParameters.Lines -= lines;
    return ReadMore;
}

class SpoolSteps : public ScriptedDriverTest {
  protected:
    void SetUp() override {
        ScriptedDriverTest::SetUp();
        ASSERT_FALSE(HasFatalFailure());
        ASSERT_EQ(1, OpenDevice());
        ProductPath(SettingsPath, sizeof SettingsPath, "");
        SettingsDirEnd = lstrlenA(SettingsPath);
        ASSERT_EQ(1, BindPrinterLibrary());
        lstrcpynA(JobPrinterName, "Varnel Color PS, wineps.drv, port", sizeof JobPrinterName);
        ASSERT_EQ(1, OpenJobPrinter());
        // A grey page of 300 lines of 4000 bytes, as the driver would complete it.
        ScanParameters = ScanParameterRecord();
        ScanParameters.DataType = 2;
        ScanParameters.PixelsPerLine = 4000;
        ScanParameters.BytesPerLine = 4000;
        ScanParameters.Lines = 300;
        ASSERT_EQ(1, AllocateBandBuffer());
        ASSERT_EQ(1, PrepareSpool());
    }
    void TearDown() override {
        ReleaseJobBuffers();
        ReleaseDevMode();
        UnbindPrinterLibrary();
        ScriptedDriverTest::TearDown();
    }
};

TEST_F(SpoolSteps, APageThatBringsNoLinesIsAScanningError) {
    Answer(DrvReadScanData, ReadEndOfPage, 0, 0);
    EXPECT_EQ(0, ScanPageToSpool());
    EXPECT_EQ(CopyScanError, JobStatus);
    EXPECT_EQ(0u, LinesSpooled);
}

TEST_F(SpoolSteps, BandsComeBackFromTheSpoolFileAsTheyWereScanned) {
    // 1 MiB holds 262 lines: one full band and a short last one.
    ASSERT_EQ(1048576u / 4000u, BandBuffer.Lines);
    Answer(DrvReadScanData, ReadMore, 262, 0x5C);
    Answer(DrvReadScanData, ReadEndOfPage, 38, 0x5C);
    ASSERT_EQ(1, ScanPageToSpool());
    EXPECT_EQ(300u, LinesSpooled);
    ReplayedLines = 0;
    ReplayedBands.clear();
    EXPECT_EQ(1, ReplaySpool(CheckBand));
    EXPECT_EQ(300u, ReplayedLines);
    EXPECT_EQ("262 38 ", ReplayedBands);
}

// Also a claim that passes for a few lines in its low 16 bits.
TEST_F(SpoolSteps, ADriverThatClaimsMoreLinesThanTheBandHoldsIsAScanningError) {
    for (DWORD claim : {BandBuffer.Lines + 1, (DWORD)65536 + 3}) {
        Answer(DrvReadScanData, ReadMore, claim, 0x5C);
        EXPECT_EQ(0, ScanPageToSpool()) << claim;
        EXPECT_EQ(CopyScanError, JobStatus) << claim;
        EXPECT_EQ(0u, LinesSpooled) << claim;
    }
}

TEST_F(SpoolSteps, ALineArtPageSmallerThanTheFloorIsHeldWhole) {
    // A 72 dpi printer, Text, Letter, fit in page: 72 bytes x 748 lines.
    ReleaseJobBuffers();
    ScanParameters.DataType = 0;
    ScanParameters.PixelsPerLine = 576;
    ScanParameters.BytesPerLine = 72;
    ScanParameters.Lines = 748;
    ASSERT_EQ(1, AllocateBandBuffer());
    EXPECT_EQ(748u, BandBuffer.Lines);
}

TEST_F(SpoolSteps, AnAbortedReadIsACancelledCopy) {
    Answer(DrvReadScanData, ReadFailed, 0, 0);
    EXPECT_EQ(0, ScanPageToSpool());
    EXPECT_EQ(CopyCancelled, JobStatus);
}

} // namespace
