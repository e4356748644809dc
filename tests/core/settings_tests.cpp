// The settings store driven against real INI files: a private product
// directory under the temp folder, and the prefix's VARNEL.INI and
// telephon.ini put back afterwards.
#include <gtest/gtest.h>
#include <stdio.h>
#include <string.h>
#include <string>
#include "app/app.h"
#include "app/settings.h"
#include "panel/panel.h"
#include "program_harness.h"
#include "test_support.h"

namespace {

const char VarnelIni[] = "VARNEL.INI";

class SettingsTest : public ::testing::Test {
  protected:
    IniKeyGuard ProductKey{VarnelIni, "VarnelSystem", "Varnel"};
    IniKeyGuard LibraryKey{VarnelIni, "VarnelSystem", "DLL32"};
    char Directory[MAX_PATH] = {};
    char SysIni[MAX_PATH] = {};

    void SetUp() override {
        char temp[MAX_PATH];
        GetTempPathA(sizeof(temp), temp);
        snprintf(Directory, sizeof(Directory), "%skpcore_product\\", temp);
        CreateDirectoryA(Directory, nullptr);
        snprintf(SysIni, sizeof(SysIni), "%sSYS.INI", Directory);
        DeleteFileA(SysIni);
        ProductKey.Set(Directory);
    }
    void TearDown() override {
        WritePrivateProfileStringA(nullptr, nullptr, nullptr, SysIni);
        DeleteFileA(SysIni);
        RemoveDirectoryA(Directory);
    }
    void Write(const char *key, const char *value) const {
        WritePrivateProfileStringA("Varnel", key, value, SysIni);
    }
    void Read(const char *key, char *out, int size) const {
        ReadIni(SysIni, "Varnel", key, out, size);
    }
    // The job counter from what the settings file holds now.
    void LoadJobCounterOf(const SYSTEMTIME *today) const {
        IniSection varnel;
        ReadIniSection(&varnel, SysIni, "Varnel");
        LoadJobCounter(&varnel, today);
        FreeIniSection(&varnel);
    }
};

void TodayStamp(char *out, int size) {
    SYSTEMTIME now;
    GetLocalTime(&now);
    FormatDayStamp(&now, out, size);
}

SYSTEMTIME Day(WORD month, WORD day) {
    SYSTEMTIME time = {};
    time.wYear = 2024;
    time.wMonth = month;
    time.wDay = day;
    return time;
}

TEST_F(SettingsTest, MissingSettingsFileGivesDefaultsAndResetsPanel) {
    ScanMode = ModeColorPhoto;
    FaxResolution = 1;
    MailResolution = 2;
    SpeedDialKey = 5;
    lstrcpynA(TypedNumber, "5551234", sizeof(TypedNumber));
    TypedLength = 7;
    char before[16], after[16], stored[16], job[16];
    TodayStamp(before, sizeof(before));
    LoadSettings();
    TodayStamp(after, sizeof(after));
    EXPECT_EQ(0, StartRunEnabled);
    EXPECT_EQ(0, StartRunAtLoad);
    EXPECT_EQ(0, FaxServiceEnabled);
    EXPECT_EQ(0, CopyServiceEnabled);
    for (const LevelPair &levels : LevelDefaults) {
        EXPECT_EQ(50, levels.Brightness);
        EXPECT_EQ(50, levels.Contrast);
    }
    EXPECT_EQ(-1, WindowRect.X);
    EXPECT_EQ(-1, WindowRect.Y);
    EXPECT_EQ(-1, WindowRect.Width);
    EXPECT_EQ(-1, WindowRect.Height);
    EXPECT_EQ(0, JobID);
    EXPECT_EQ(0, ScanMode);
    EXPECT_EQ(0, FaxResolution);
    EXPECT_EQ(0, MailResolution);
    EXPECT_EQ(0, SpeedDialKey);
    EXPECT_EQ(0, TypedLength);
    EXPECT_STREQ("", TypedNumber);
    EXPECT_EQ(0, memcmp(ModeLevels, LevelDefaults, sizeof(ModeLevels)));
    // The first start of a day stamps the settings file, on either side of midnight.
    Read("Date", stored, sizeof(stored));
    Read("JobID", job, sizeof(job));
    EXPECT_TRUE(strcmp(stored, before) == 0 || strcmp(stored, after) == 0) << stored;
    EXPECT_STREQ("0", job);
}

TEST_F(SettingsTest, ValuesComeFromTheSettingsFile) {
    Write("StartRun", "1");
    Write("FaxService", "1");
    Write("CopyService", "1");
    Write("BrightText", "150"); // a damaged file: levels out of 0..100
    Write("BrightPhoto", "30");
    Write("BrightCPhoto", "-40");
    Write("ContrastPhoto", "80");
    Write("ContrastCPhoto", "20");
    Write("Win-X", "12");
    Write("Win-Y", "-34");
    Write("Win-Width", "560");
    Write("Win-Height", "78");
    LevelDefaults[ModeText].Contrast = 7;
    LoadSettings();
    EXPECT_EQ(1, StartRunEnabled);
    EXPECT_EQ(1, StartRunAtLoad);
    EXPECT_EQ(1, FaxServiceEnabled);
    EXPECT_EQ(1, CopyServiceEnabled);
    EXPECT_EQ(100, LevelDefaults[ModeText].Brightness);
    EXPECT_EQ(50, LevelDefaults[ModeText].Contrast);
    EXPECT_EQ(30, LevelDefaults[ModePhoto].Brightness);
    EXPECT_EQ(80, LevelDefaults[ModePhoto].Contrast);
    EXPECT_EQ(0, LevelDefaults[ModeColorPhoto].Brightness);
    EXPECT_EQ(20, LevelDefaults[ModeColorPhoto].Contrast);
    EXPECT_EQ(0, memcmp(ModeLevels, LevelDefaults, sizeof(ModeLevels)));
    // The level keys step from the levels as shown.
    HandlePanelMessage(KeyLevelDown, 0);
    EXPECT_EQ(95, ModeLevels[ModeText].Brightness);
    ScanMode = ModeColorPhoto;
    HandlePanelMessage(KeyLevelUp, 0);
    EXPECT_EQ(5, ModeLevels[ModeColorPhoto].Brightness);
    ScanMode = ModeText;
    EXPECT_EQ(12, WindowRect.X);
    EXPECT_EQ(-34, WindowRect.Y);
    EXPECT_EQ(560, WindowRect.Width);
    EXPECT_EQ(78, WindowRect.Height);
}

// The settings are read a section at a time and looked up in memory; they
// must be what the profile calls give, key by key, for the same file, also
// where memory for the section ran out and the calls are made after all.
TEST_F(SettingsTest, ASectionReadOnceGivesWhatTheProfileCallsGive) {
    std::string text = "[Other]\r\nStartRun=7\r\n[Varnel]\r\n; Note=1\r\n  StartRun = 1 \r\n"
                       "STARTRUN=2\r\nQuoted=\" a b \"\r\nSingle='x'\r\nHalf=\"open\r\nEmpty=\r\n"
                       "NoValue\r\nWin-Y=-34\r\nPlus=+12\r\nTrailing=42abc\r\nWord=abc\r\n"
                       "Long=" +
                       std::string(300, 'v') + "\r\n";
    for (int i = 0; i < 600; i++) { // past the first buffer the section is read into
        text += "Filler" + std::to_string(i) + "=" + std::to_string(i) + "\r\n";
    }
    WriteFileText(SysIni, text + "Last=end\r\n[Next]\r\nAfter=1\r\n");
    IniSection section;
    ReadIniSection(&section, SysIni, "Varnel");
    ASSERT_NE(nullptr, section.Text);
    IniSection unread = section;
    unread.Text = nullptr;
    for (const char *key :
         {"startrun", "Quoted", "Single", "Half", "Empty", "NoValue", "Win-Y", "Plus", "Trailing",
          "Word", "Long", "Filler599", "Last", "After", "Note", "Missing"}) {
        char theirs[64];
        GetPrivateProfileStringA("Varnel", key, "none", theirs, sizeof theirs, SysIni);
        int number = (int)GetPrivateProfileIntA("Varnel", key, 99, SysIni);
        for (const IniSection *read : {&section, &unread}) {
            char ours[64];
            IniText(read, key, "none", ours, sizeof ours);
            EXPECT_STREQ(theirs, ours) << key;
            EXPECT_EQ(number, IniInt(read, key, 99)) << key;
        }
    }
    FreeIniSection(&section);
}

TEST_F(SettingsTest, SameDayKeepsJobID) {
    LoadSettings();
    Write("Date", "12-7");
    Write("JobID", "17");
    SYSTEMTIME today = Day(12, 7);
    LoadJobCounterOf(&today);
    EXPECT_EQ(17, JobID);
    char job[16];
    Read("JobID", job, sizeof(job));
    EXPECT_STREQ("17", job);
}

TEST_F(SettingsTest, AnotherDayResetsDateAndJobID) {
    LoadSettings();
    Write("Date", "12-6");
    Write("JobID", "17");
    SYSTEMTIME today = Day(12, 7);
    LoadJobCounterOf(&today);
    EXPECT_EQ(0, JobID);
    char stored[16], job[16];
    Read("Date", stored, sizeof(stored));
    Read("JobID", job, sizeof(job));
    EXPECT_STREQ("12-7", stored);
    EXPECT_STREQ("0", job);
    // The year is not kept: the same month and day a year later still matches.
    Write("JobID", "9");
    today.wYear = 2025;
    LoadJobCounterOf(&today);
    EXPECT_EQ(9, JobID);
}

TEST_F(SettingsTest, LeadingZeroInStoredDateNeverMatches) {
    LoadSettings();
    SYSTEMTIME today = Day(12, 7);
    Write("Date", "12-07");
    Write("JobID", "9");
    LoadJobCounterOf(&today);
    EXPECT_EQ(0, JobID);
    Write("Date", "12-7");
    Write("JobID", "9");
    LoadJobCounterOf(&today);
    EXPECT_EQ(9, JobID);
}

TEST(DayStamp, MonthAndDayWithoutLeadingZeros) {
    char stamp[16];
    SYSTEMTIME day = Day(1, 5);
    FormatDayStamp(&day, stamp, sizeof(stamp));
    EXPECT_STREQ("1-5", stamp);
    day = Day(12, 31);
    FormatDayStamp(&day, stamp, sizeof(stamp));
    EXPECT_STREQ("12-31", stamp);
    EXPECT_TRUE(IsNewDay("", "1-5"));
    EXPECT_TRUE(IsNewDay("01-5", "1-5"));
    EXPECT_FALSE(IsNewDay("1-5", "1-5"));
}

TEST_F(SettingsTest, PathsFollowTheProductDirectory) {
    LoadSettings();
    char expected[MAX_PATH];
    snprintf(expected, sizeof(expected), "%sSYS.INI", Directory);
    EXPECT_STREQ(expected, SettingsPath);
    EXPECT_EQ((int)strlen(Directory), SettingsDirEnd);
    snprintf(expected, sizeof(expected), "%sKELBO.CHM", Directory);
    EXPECT_STREQ(expected, HelpFilePath);
    snprintf(expected, sizeof(expected), "%sEXE32\\", Directory);
    EXPECT_STREQ(expected, SettingsPathFor("EXE32\\"));
    snprintf(expected, sizeof(expected), "%sSYS.INI", Directory);
    EXPECT_STREQ(expected, SettingsPathFor("SYS.INI"));
}

TEST_F(SettingsTest, EmptyProductDirectoryGivesBareFileNames) {
    char windowsSysIni[MAX_PATH];
    InWindowsDirectory(windowsSysIni, sizeof(windowsSysIni), "SYS.INI");
    // The daily stamp lands in the Windows directory's SYS.INI: put it back.
    NewFileGuard file(windowsSysIni);
    IniKeyGuard date(windowsSysIni, "Varnel", "Date");
    IniKeyGuard job(windowsSysIni, "Varnel", "JobID");
    ProductKey.Set("");
    LoadSettings();
    EXPECT_STREQ("SYS.INI", SettingsPath);
    EXPECT_STREQ("KELBO.CHM", HelpFilePath);
    EXPECT_EQ(0, SettingsDirEnd);
}

// The main window's procedure on a window of this thread without a menu,
// so creating it touches no library; no X event is handled between steps.
TEST(WindowPlacement, AMovedMaximisedWindowKeepsItsRestoredPlacement) {
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = MainWindowProc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "PlacementProbe";
    RegisterClassA(&windowClass);
    WindowRect = {-1, -1, -1, -1};
    HWND window = CreateWindowA("PlacementProbe", "", WS_OVERLAPPEDWINDOW, 0, 0, 200, 100, nullptr,
                                nullptr, windowClass.hInstance, nullptr);
    ASSERT_NE(nullptr, window);
    ShowWindow(window, SW_SHOWNORMAL);
    SetWindowPos(window, nullptr, 123, 77, 400, 300, SWP_NOZORDER);
    ShowWindow(window, SW_MAXIMIZE);
    SetWindowPos(window, nullptr, 5, 5, 0, 0, SWP_NOZORDER | SWP_NOSIZE);
    EXPECT_EQ(123, WindowRect.X);
    EXPECT_EQ(77, WindowRect.Y);
    EXPECT_EQ(400, WindowRect.Width);
    EXPECT_EQ(300, WindowRect.Height);
    // Destroyed without the program's shutdown sequence.
    SetWindowLongPtrA(window, GWLP_WNDPROC, (LONG_PTR)DefWindowProcA);
    DestroyWindow(window);
}

TEST_F(SettingsTest, WriteIntSettingWritesDecimalText) {
    EXPECT_TRUE(WriteIntSetting("Varnel", "Win-X", SysIni, -42));
    char text[16];
    Read("Win-X", text, sizeof(text));
    EXPECT_STREQ("-42", text);
    EXPECT_TRUE(WriteIntSetting("Varnel", "Win-X", SysIni, 2147483647));
    Read("Win-X", text, sizeof(text));
    EXPECT_STREQ("2147483647", text);
}

TEST_F(SettingsTest, ProductFileExistsKeepsTheFullPath) {
    Write("StartRun", "0");
    char path[MAX_PATH], expected[MAX_PATH];
    EXPECT_EQ(1, ProductFileExists(path, sizeof(path), "SYS.INI"));
    EXPECT_STREQ(SysIni, path);
    EXPECT_EQ(0, ProductFileExists(path, sizeof(path), "NOPE.INI"));
    snprintf(expected, sizeof(expected), "%sNOPE.INI", Directory);
    EXPECT_STREQ(expected, path);
}

TEST_F(SettingsTest, FilesInAProductDirectoryWithALongPathAreFound) {
    std::string directory = Directory;
    for (int i = 0; directory.size() <= 160; i++) {
        directory += "a folder with a long name " + std::to_string(i) + "\\";
        ASSERT_TRUE(CreateDirectoryA(directory.c_str(), nullptr)) << directory;
    }
    ProductKey.Set(directory.c_str());
    char path[MAX_PATH];
    ProductPath(path, sizeof(path), "SYS.INI");
    WritePrivateProfileStringA("Varnel", "StartRun", "1", path);
    EXPECT_EQ(1, ProductFileExists(path, sizeof(path), "SYS.INI"));
    EXPECT_EQ(0, ProductFileExists(path, sizeof(path), "NOPE.INI"));
    WritePrivateProfileStringA(nullptr, nullptr, nullptr, path);
    DeleteFileA((directory + "SYS.INI").c_str());
    while (directory.size() > strlen(Directory)) {
        RemoveDirectoryA(directory.c_str());
        directory.erase(directory.rfind('\\', directory.size() - 2) + 1);
    }
}

TEST_F(SettingsTest, ProductPathStaysInsideItsBuffer) {
    char buffer[16];
    memset(buffer, 'x', sizeof(buffer));
    ProductPath(buffer, 8, "SYS.INI");
    EXPECT_EQ(7u, strlen(buffer));
    EXPECT_EQ(0, strncmp(buffer, Directory, 7));
    EXPECT_EQ('x', buffer[8]);
}

TEST_F(SettingsTest, LoadProductLibraryLoadsFromTheLibraryDirectory) {
    char directory[MAX_PATH];
    BesideTestExe(directory, sizeof(directory), "");
    LibraryKey.Set(directory);
    HMODULE module = nullptr;
    ASSERT_EQ(1, LoadProductLibrary(&module, "scripted_test_driver.dll"));
    EXPECT_EQ(GetModuleHandleA("scripted_test_driver.dll"), module);
    FreeLibrary(module);
}

TEST_F(SettingsTest, LoadProductLibraryMissingFileLeavesHandle) {
    char directory[MAX_PATH];
    BesideTestExe(directory, sizeof(directory), "");
    LibraryKey.Set(directory);
    HMODULE module = (HMODULE)(UINT_PTR)0x1234;
    EXPECT_EQ(0, LoadProductLibrary(&module, "no_such_library.dll"));
    EXPECT_EQ((HMODULE)(UINT_PTR)0x1234, module);
}

TEST_F(SettingsTest, LoadProductLibraryUnloadableFileStoresEmptyHandle) {
    LibraryKey.Set(Directory);
    char fake[MAX_PATH];
    snprintf(fake, sizeof(fake), "%sfake.dll", Directory);
    ASSERT_TRUE(WriteTextFile(fake, "not a library"));
    HMODULE module = (HMODULE)(UINT_PTR)0x1234;
    EXPECT_EQ(0, LoadProductLibrary(&module, "fake.dll"));
    EXPECT_EQ(nullptr, module);
    DeleteFileA(fake);
}

// Checks the four dialing fields.
void ExpectDialing(const DialingRecord &info, const char *local, const char *longDistance,
                   const char *area, const char *country) {
    EXPECT_STREQ(local, info.LocalPrefix);
    EXPECT_STREQ(longDistance, info.LongDistancePrefix);
    EXPECT_STREQ(area, info.AreaCode);
    EXPECT_STREQ(country, info.CountryCode);
}

void ExpectSplit(const char *record, const char *local, const char *longDistance, const char *area,
                 const char *country) {
    SCOPED_TRACE(record);
    DialingRecord info;
    memset(&info, 'x', sizeof(info));
    SplitLocationRecord(record, &info);
    ExpectDialing(info, local, longDistance, area, country);
}

class DialingTest : public ::testing::Test {
  protected:
    char File[MAX_PATH] = {};
    NewFileGuard *Created = nullptr;
    IniKeyGuard *Keys[4] = {};

    void SetUp() override {
        InWindowsDirectory(File, sizeof(File), "telephon.ini");
        Created = new NewFileGuard(File);
        const char *names[4] = {"CurrentLocation", "Location0", "Location1", "Location12"};
        for (int i = 0; i < 4; ++i)
            Keys[i] = new IniKeyGuard(File, "Locations", names[i]);
    }
    void TearDown() override {
        for (IniKeyGuard *key : Keys)
            delete key;
        delete Created;
    }
};

TEST_F(DialingTest, FirstCharacterOfCurrentLocationSelectsTheRecord) {
    Keys[0]->Set("12,1");
    Keys[2]->Set("1,\"Office\",\"9\",\"1\",\"206\",1");
    Keys[3]->Set("12,\"Wrong\",\"8\",\"0\",\"999\",44");
    LoadDialingInfo();
    ExpectDialing(DialingInfo, "9", "1", "206", "1");
}

TEST_F(DialingTest, MissingCurrentLocationReadsLocation0) {
    Keys[0]->Remove();
    Keys[1]->Set("0,\"Home\",\"0\",\"00\",\"30\",49,0,0,1");
    LoadDialingInfo();
    ExpectDialing(DialingInfo, "0", "00", "30", "49");
}

TEST_F(DialingTest, MissingRecordGivesEmptyFields) {
    Keys[0]->Set("1");
    Keys[2]->Remove();
    lstrcpynA(DialingInfo.AreaCode, "stale", sizeof(DialingInfo.AreaCode));
    LoadDialingInfo();
    ExpectDialing(DialingInfo, "", "", "", "");
}

TEST(LocationRecord, LongFieldsAreKeptWhole) {
    ExpectSplit("0,\"Home\",\"81234\",\"00044\",\"0206555\",441234", "81234", "00044", "0206555",
                "441234");
}

TEST(LocationRecord, ConsecutiveCommasAreOneSeparator) {
    ExpectSplit(",0,,\"Home\",,,\"9\",\"1\",,\"206\",,1,", "9", "1", "206", "1");
}

TEST(LocationRecord, FieldShorterThanItsQuotesIsEmpty) {
    ExpectSplit("0,\"Home\",\",\"\",\"206\",1", "", "", "206", "1");
}

TEST(LocationRecord, IncompleteRecordGivesEmptyFields) {
    ExpectSplit("0,\"Home\",\"9\",\"1\",\"206\"", "", "", "", "");
    ExpectSplit("", "", "", "", "");
}

TEST(LocationRecord, FieldTooLongToHoldIsDroppedNotCut) {
    char record[256];
    char area[DialingFieldSize + 1];
    memset(area, '7', DialingFieldSize);
    area[DialingFieldSize] = 0;
    snprintf(record, sizeof(record), "0,\"Home\",\"9\",\"1\",\"%s\",1", area);
    ExpectSplit(record, "9", "1", "", "1");
    area[DialingFieldSize - 1] = 0; // the longest field that fits
    snprintf(record, sizeof(record), "0,\"Home\",\"9\",\"1\",\"%s\",1", area);
    ExpectSplit(record, "9", "1", area, "1");
}

// Keeps the box's text and counts its icons, then presses OK.
struct ShownBox {
    std::string Text;
    int Icons = 0;
};

BOOL CALLBACK CountIcon(HWND child, LPARAM icons) {
    *(int *)icons += (GetWindowLongA(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON;
    return TRUE;
}

void ReadBox(HWND box, void *shown) {
    EnumChildWindows(box, CountIcon, (LPARAM) & ((ShownBox *)shown)->Icons);
    ReadAndPressOk(box, &((ShownBox *)shown)->Text);
}

TEST(Messages, MissingStringShowsNothing) {
    DialogAnswer box("Missing caption", ReadAndPressOk);
    EXPECT_EQ(0, ShowStringMessage(GetModuleHandleA(nullptr), nullptr, "Missing caption", 9999));
    EXPECT_EQ(0, box.Stop());
}

TEST(Messages, StringIsShownInAnErrorBox) {
    ShownBox shown;
    DialogAnswer box("Test caption", ReadBox, &shown);
    EXPECT_EQ(0, ShowStringMessage(GetModuleHandleA(nullptr), nullptr, "Test caption", 7));
    EXPECT_EQ(1, box.Wait());
    EXPECT_EQ("Settings test message", shown.Text);
    EXPECT_EQ(1, shown.Icons);
}

} // namespace
