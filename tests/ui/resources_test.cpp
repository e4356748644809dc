// The program's resources as the user meets them: the main menu and every
// text of the string table, exactly as the product defines them; and what
// must hold of whatever the resource script holds: ids unique within a menu
// and within each dialog, shortcuts that match the menu commands that show
// them, strings that fit the buffers the program loads them into, the icon.
#include <gtest/gtest.h>
#include <windows.h>
#include <cstring>
#include <set>
#include <string>
#include <vector>
#include "app/app.h"
#include "app/settings.h"
#include "program_harness.h"
#include "res/resource.h"
#include "ui/tab_library.h"

namespace {

HINSTANCE Self() {
    return GetModuleHandleA(nullptr);
}

// One menu entry, flattened in display order; popups have no command id.
struct MenuRow {
    int depth;
    std::string text;
    UINT id;
    bool popup;
    bool operator==(const MenuRow &o) const {
        return depth == o.depth && text == o.text && id == o.id && popup == o.popup;
    }
};

std::ostream &operator<<(std::ostream &out, const MenuRow &row) {
    return out << row.depth << " \"" << row.text << "\" " << row.id << (row.popup ? " popup" : "");
}

// Walks a menu the way a user opens it, checking that nothing is checked or
// greyed before the main window sets the states.
void Flatten(HMENU menu, int depth, std::vector<MenuRow> &rows) {
    int count = GetMenuItemCount(menu);
    for (int i = 0; i < count; ++i) {
        char text[128] = {};
        MENUITEMINFOA info = {};
        info.cbSize = sizeof info;
        info.fMask = MIIM_ID | MIIM_SUBMENU | MIIM_STATE | MIIM_FTYPE | MIIM_STRING;
        info.dwTypeData = text;
        info.cch = sizeof text;
        ASSERT_TRUE(GetMenuItemInfoA(menu, i, TRUE, &info));
        EXPECT_EQ(0u, info.fType & MFT_SEPARATOR) << text;
        EXPECT_EQ(0u, info.fState & (MFS_CHECKED | MFS_GRAYED)) << text;
        rows.push_back({depth, text, info.hSubMenu ? 0 : info.wID, info.hSubMenu != nullptr});
        if (info.hSubMenu)
            Flatten(info.hSubMenu, depth + 1, rows);
    }
}

std::vector<MenuRow> MainMenuRows() {
    std::vector<MenuRow> rows;
    HMENU menu = LoadMenuA(Self(), MAKEINTRESOURCEA(IDR_MAIN_MENU));
    EXPECT_NE(nullptr, menu);
    if (menu) {
        Flatten(menu, 0, rows);
        DestroyMenu(menu);
    }
    return rows;
}

TEST(MainMenu, HasEveryPopupAndCommandInOrderEachIdOnce) {
    const std::vector<MenuRow> expected = {
        {0, "&File", 0, true},
        {1, "&Setup", 0, true},
        {2, "&Fax...\tCtrl+F", IDM_FAX_SETUP, false},
        {2, "&Copy...\tCtrl+C", IDM_COPY_SETUP, false},
        {1, "E&xit", IDM_EXIT, false},
        {0, "&Scanner", 0, true},
        {1, "&Scanner Default Settings...\tCtrl+S", IDM_SCANNER_DEFAULTS, false},
        {1, "&IO Address Verify...\tCtrl+V", IDM_IO_ADDRESS_VERIFY, false},
        {0, "Profiles", 0, true},
        {1, "Create Fax Profile", IDM_CREATE_FAX_PROFILE, false},
        {1, "Create Internet Mail Profile", 0, true},
        {2, "MSN Service", IDM_CREATE_MSN_PROFILE, false},
        {2, "MS Plus Internet Service", IDM_CREATE_INTERNET_PROFILE, false},
        {2, "MS Plus Internet && MSN Services", IDM_CREATE_INTERNET_MSN_PROFILE, false},
        {1, "Outbox...", IDM_OUTBOX, false},
        {0, "&Options", 0, true},
        {1, "&Execute When Windows Starts", IDM_RUN_AT_START, false},
        {1, "&Fax Service Enabled", IDM_FAX_SERVICE, false},
        {1, "&Copy Service Enabled", IDM_COPY_SERVICE, false},
        {0, "&Help", 0, true},
        {1, "&HelpTopics...", IDM_HELP_TOPICS, false},
        {1, "&Wizard Help...", IDM_WIZARD_HELP, false},
        {1, "&About...", IDM_ABOUT, false},
    };
    std::vector<MenuRow> rows = MainMenuRows();
    EXPECT_EQ(expected, rows);
    std::set<UINT> ids;
    for (const MenuRow &row : rows)
        EXPECT_TRUE(row.popup || ids.insert(row.id).second) << "command id twice: " << row;
}

// Reads a text-or-ordinal field of a dialog template and moves past it.
const WORD *SkipField(const WORD *at) {
    if (*at == 0xFFFF)
        return at + 2;
    while (*at++) {
    }
    return at;
}

// The control ids of a dialog template, DIALOG or DIALOGEX, in order.
std::vector<DWORD> ControlIds(const WORD *t) {
    bool ex = t[0] == 1 && t[1] == 0xFFFF;
    DWORD style = ex ? *(const DWORD *)(t + 6) : *(const DWORD *)t;
    WORD count = ex ? t[8] : t[4];
    const WORD *at = SkipField(SkipField(SkipField(t + (ex ? 13 : 9)))); // menu, class, title
    if (style & DS_SETFONT)
        at = SkipField(at + (ex ? 3 : 1)); // the font's size (and weight, italic, charset), face
    std::vector<DWORD> ids;
    for (WORD i = 0; i < count; i++) {
        at = (const WORD *)(((ULONG_PTR)at + 3) & ~(ULONG_PTR)3);
        ids.push_back(ex ? *(const DWORD *)(at + 10) : at[8]);
        at = SkipField(SkipField(at + (ex ? 12 : 9)));     // class, title
        at = (const WORD *)((const BYTE *)(at + 1) + *at); // creation data
    }
    return ids;
}

BOOL CALLBACK CollectName(HMODULE, LPCSTR, LPSTR name, LONG_PTR names) {
    ((std::vector<LPSTR> *)names)->push_back(name); // dialogs are named by number
    return TRUE;
}

TEST(Dialogs, EveryControlIdIsUsedOnceInItsDialog) {
    std::vector<LPSTR> dialogs;
    EnumResourceNamesA(Self(), RT_DIALOG, CollectName, (LONG_PTR)&dialogs);
    EXPECT_GE(dialogs.size(), 2u);
    for (LPSTR name : dialogs) {
        HRSRC found = FindResourceA(Self(), name, RT_DIALOG);
        const WORD *dialog = (const WORD *)LockResource(LoadResource(Self(), found));
        ASSERT_NE(nullptr, dialog);
        std::set<DWORD> ids;
        for (DWORD id : ControlIds(dialog))
            EXPECT_TRUE(id == 0xFFFF || id == 0xFFFFFFFF || ids.insert(id).second)
                << "dialog " << (UINT_PTR)name << ": control " << id << " twice";
    }
}

// Inside every dialog the arrow keys move the focus only between controls
// that can hold it, and every set-up dialog has the title bar's help button.
TEST(Dialogs, ArrowsStayOnControlsAndSetUpDialogsHaveTheHelpButton) {
    ASSERT_EQ(1, RegisterTabLibrary(Self()));
    ForEachDialog(Self(), [&](UINT_PTR name, HWND dialog) {
        ASSERT_NE(nullptr, dialog) << name;
        EXPECT_EQ("", ArrowsOntoStatics(dialog)) << "dialog " << name;
        bool page = (GetWindowLongA(dialog, GWL_STYLE) & WS_CHILD) != 0;
        if (!page && name != IDD_ABOUT) {
            EXPECT_TRUE(GetWindowLongA(dialog, GWL_EXSTYLE) & WS_EX_CONTEXTHELP)
                << "dialog " << name << " without the help button";
        }
    });
    UnregisterTabLibrary(Self());
}

// Receives the commands that a translated shortcut sends.
UINT LastCommand;
UINT LastCommandSource;

LRESULT CALLBACK RecordCommands(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_COMMAND) {
        LastCommand = LOWORD(wParam);
        LastCommandSource = HIWORD(wParam);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

// Sets or clears the Control key in the thread's keyboard state, which is
// what the shortcut translation reads.
void HoldControl(bool down) {
    BYTE keys[256];
    GetKeyboardState(keys);
    BYTE state = down ? 0x80 : 0;
    keys[VK_CONTROL] = keys[VK_LCONTROL] = state;
    SetKeyboardState(keys);
}

class Shortcuts : public ::testing::Test {
  protected:
    void SetUp() override {
        WNDCLASSA wc = {};
        wc.lpfnWndProc = RecordCommands;
        wc.hInstance = Self();
        wc.lpszClassName = "ShortcutProbe";
        RegisterClassA(&wc);
        window = CreateWindowExA(0, "ShortcutProbe", "", WS_OVERLAPPED, 0, 0, 100, 100, nullptr,
                                 nullptr, Self(), nullptr);
        table = LoadAcceleratorsA(Self(), MAKEINTRESOURCEA(IDR_ACCELERATORS));
        ASSERT_NE(nullptr, table);
        count = CopyAcceleratorTableA(table, entries, 16);
        LastCommand = LastCommandSource = 0;
    }
    void TearDown() override {
        HoldControl(false);
        DestroyWindow(window);
        if (table)
            DestroyAcceleratorTable(table);
    }
    // Feeds one key press through the table as the message loop would.
    bool Press(UINT key, bool control) {
        HoldControl(control);
        MSG msg = {window, WM_KEYDOWN, key, 1, 0, {0, 0}};
        return TranslateAcceleratorA(window, table, &msg) != 0;
    }
    HWND window = nullptr;
    HACCEL table = nullptr;
    ACCEL entries[16];
    int count = 0;
};

// Every command that shows "Ctrl+<key>" has that shortcut, and nothing else has one.
TEST_F(Shortcuts, MatchTheMenuCommandsThatShowThem) {
    int shown = 0;
    for (const MenuRow &row : MainMenuRows()) {
        size_t at = row.text.find("\tCtrl+");
        if (at == std::string::npos)
            continue;
        shown++;
        WORD key = (BYTE)row.text[at + 6];
        bool found = false;
        for (int i = 0; i < count; ++i) {
            found = found || (entries[i].key == key && entries[i].cmd == row.id &&
                              (entries[i].fVirt & (FVIRTKEY | FCONTROL | FSHIFT | FALT)) ==
                                  (FVIRTKEY | FCONTROL));
        }
        EXPECT_TRUE(found) << row;
    }
    EXPECT_EQ(shown, count);
    EXPECT_GT(count, 0);
}

TEST_F(Shortcuts, ControlKeysSendTheirCommandsAndNothingElseDoes) {
    for (int i = 0; i < count; ++i) {
        LastCommand = 0;
        EXPECT_TRUE(Press(entries[i].key, true)) << char(entries[i].key);
        EXPECT_EQ(entries[i].cmd, LastCommand) << char(entries[i].key);
        EXPECT_EQ(1u, LastCommandSource) << "a shortcut, not a menu click";
        EXPECT_FALSE(Press(entries[i].key, false)) << char(entries[i].key);
    }
    LastCommand = 0;
    EXPECT_FALSE(Press('X', true));
    EXPECT_FALSE(Press('A', true));
    EXPECT_EQ(0u, LastCommand);
}

// Every text of the string table, by id, as the program shows it.
const struct {
    UINT id;
    const char *text;
} ExpectedStrings[] = {
    {IDS_APP_TITLE, "Varnel Keypad Program"},
    {IDS_NO_DEVICE, "Cannot find Varnel!"},
    {IDS_SCANNER_IN_USE, "Scanner is in use by another program!"},
    {IDS_OUT_OF_MEMORY, "Insufficient memory."},
    {IDS_FAX_DLL_MISSING, "System Error: Fax DLL not found."},
    {IDS_NO_FAX_PROFILE, "Cannot find any existing profiles with faxing capability."},
    {IDS_ADDRESS_BOOK_FAILED, "Failed to open the Address Book!"},
    {IDS_FAX_DISABLED, " Fax service will be disabled!"},
    {IDS_TAB_PROFILES, "Profiles"},
    {IDS_TAB_SPEED_DIAL, "Speed Dial"},
    {IDS_TIP_TEXT, "Text"},
    {IDS_TIP_PHOTO, "Photo"},
    {IDS_TIP_COLOR_PHOTO, "Color Photo"},
    {IDS_TIP_BRIGHTNESS, "Brightness"},
    {IDS_TIP_CONTRAST, "Contrast"},
    {IDS_TIP_LIGHT, "Light"},
    {IDS_TIP_DARK, "Dark"},
    {IDS_TIP_BLUR, "Blur"},
    {IDS_TIP_SHARP, "Sharp"},
    {IDS_TIP_ADDRESS_BOOK, "Address Book "},
    {IDS_TIP_REMOVE_NUMBERS, "Remove Fax Number(s)"},
    {IDS_TIP_REMOVE_ALL_NUMBERS, "Remove All Fax Numbers"},
    {IDS_RESOLUTION_BEST, "Best Available"},
    {IDS_RESOLUTION_DRAFT, "Draft (200 x 100 dpi)"},
    {IDS_RESOLUTION_FINE, "Fine (200 x 200 dpi)"},
    {IDS_RESOLUTION_SUPER, "Super (300 x 300 dpi)"},
    {IDS_PAPER_LETTER, "Letter (8 1/2 x 11 in)"},
    {IDS_PAPER_LEGAL, "Legal (8 x 14 in)"},
    {IDS_PAPER_A4, "A4 (210 x 297 mm)"},
    {IDS_PAPER_B4, "B4 (250 x 354 mm)"},
    {IDS_VERIFYING_PORT, "Verifying port "},
    {IDS_NO_PORT_AVAILABLE, "Can't find any available ports!"},
    {IDS_PORT_INVALID, "Port is invalid, please try another one!"},
    {IDS_PORT_VERIFIED, "Port 220h has been successfully verified!"},
    {IDS_ADDRESS_CHANGED, "I/O address has been changed to "},
    {IDS_COPY_INIT_FAILED,
     "Cannot completely initiate COPY resource,\nCopy function will be disabled!"},
    {IDS_UNIT_CM, " cm"},
    {IDS_UNIT_INCH, " inch"},
    {IDS_YES, "Yes"},
    {IDS_NO, "No"},
    {IDS_NO_PRINTERS, "Cannot find any installed printers,\nCopy function will be disabled!"},
    {IDS_PRINT_DRIVER_FAILED,
     "Failed to initiate the print driver,\nCopy function will be disabled!"},
    {IDS_COPY_SETTINGS_NOT_SAVED, "The copy settings could not be written to SYS.INI."},
    {IDS_NO_MAIL_PROFILE, "Cannot find any existing profiles with Internet Mail capability."},
    {IDS_NO_PROFILES, "Cannot find any existing profiles with faxing or Internet Mail capability."},
    {IDS_SHEET_FAILED, "The fax configuration cannot be opened."},
    {IDS_SETTINGS_NOT_SAVED, "The fax settings could not be written to SYS.INI."},
    {IDS_SPEED_DIALS_NOT_SAVED, "The speed-dial keys could not all be written: a key keeps its "
                                "earlier recipients on disk until an OK can write them."},
    {IDS_HELP_FILE_MISSING, "Help cannot be shown: the help file %s is missing.\nInstall the "
                            "program again to restore it."},
    {IDS_HELP_VIEWER_MISSING,
     "Help cannot be shown: the HTML Help viewer (hhctrl.ocx) cannot be loaded to open %s."},
    {IDS_LEVELS_NOT_SAVED, "The scanner settings could not be written to SYS.INI."},
    {IDS_OUTCOME_SENT, "Sent OK"},
    {IDS_OUTCOME_PARTLY_SENT, "Partly Sent!"},
    {IDS_OUTCOME_FAILED, "Send Failed!"},
    {IDS_OUTCOME_DELAYED, "Send Delayed"},
    {IDS_ADDRESS_NOT_CHANGED, "The I/O address could not be written to SYSTEM.INI."},
};

std::string Loaded(UINT id) {
    char text[1024] = {};
    LoadStringA(Self(), id, text, sizeof text);
    return text;
}

// Ids nobody names stay empty: a message box for them shows nothing.
TEST(StringTable, HoldsEveryTextExactlyAndNoOther) {
    for (UINT id = 0; id < 1024; ++id) {
        std::string expected;
        for (const auto &s : ExpectedStrings)
            expected = s.id == id ? s.text : expected;
        EXPECT_EQ(expected, Loaded(id)) << "string " << id;
    }
}

// The program loads strings into buffers of its own; a longer text would be cut.
TEST(StringTable, TextsFitTheBuffersTheyAreLoadedInto) {
    EXPECT_LT(Loaded(IDS_APP_TITLE).size(), sizeof AppTitle);
    EXPECT_LT(Loaded(IDS_NO_DEVICE).size(), (size_t)StartFailureTextSize);
    for (const auto &s : ExpectedStrings)
        EXPECT_LT(strlen(s.text), (size_t)MessageTextSize) << "string " << s.id;
    // The fax service's failure is one of its messages followed by IDS_FAX_DISABLED.
    for (UINT id : {IDS_FAX_DLL_MISSING, IDS_NO_PROFILES})
        EXPECT_LT(Loaded(id).size() + Loaded(IDS_FAX_DISABLED).size(), (size_t)MessageTextSize)
            << "string " << id;
    // What became of a sent message is shown on a line of the LCD.
    for (UINT id = IDS_OUTCOME_SENT; id <= IDS_OUTCOME_DELAYED; id++)
        EXPECT_LE(Loaded(id).size(), 16u) << "string " << id;
}

// Reads the size of the icon image that the group directory picks for a size.
int IconImageWidth(const BYTE *directory, int size) {
    int id = LookupIconIdFromDirectoryEx(const_cast<BYTE *>(directory), TRUE, size, size,
                                         LR_DEFAULTCOLOR);
    HRSRC found = FindResourceA(Self(), MAKEINTRESOURCEA(id), RT_ICON);
    if (!found)
        return 0;
    auto *header = static_cast<const BITMAPINFOHEADER *>(LockResource(LoadResource(Self(), found)));
    return header && header->biSize == sizeof(BITMAPINFOHEADER) ? header->biWidth : 0;
}

TEST(ProgramIcon, HasLargeAndSmallImages) {
    HRSRC group = FindResourceA(Self(), MAKEINTRESOURCEA(IDI_KEYPAD), RT_GROUP_ICON);
    ASSERT_NE(nullptr, group);
    auto *directory = static_cast<const BYTE *>(LockResource(LoadResource(Self(), group)));
    ASSERT_NE(nullptr, directory);
    EXPECT_EQ(32, IconImageWidth(directory, 32));
    EXPECT_EQ(16, IconImageWidth(directory, 16));
    EXPECT_NE(nullptr, LoadIconA(Self(), MAKEINTRESOURCEA(IDI_KEYPAD)));
}

} // namespace

namespace {

// Every button and mode bitmap: its size, 16 colours, and the teal
// background that is drawn transparent in its corners.
TEST(Bitmaps, SixteenColoursOnTealAtTheirSizes) {
    const struct {
        int id;
        int size;
    } bitmaps[] = {{1, 32},  {2, 32},  {3, 32},  {4, 32},  {5, 32},  {6, 16},
                   {7, 16},  {8, 16},  {9, 16},  {11, 32}, {12, 32}, {13, 32},
                   {15, 32}, {16, 32}, {18, 32}, {19, 16}, {20, 16}};
    for (const auto &b : bitmaps) {
        SCOPED_TRACE(b.id);
        HBITMAP bitmap = (HBITMAP)LoadImageA(Self(), MAKEINTRESOURCEA(b.id), IMAGE_BITMAP, 0, 0,
                                             LR_CREATEDIBSECTION);
        ASSERT_NE(nullptr, bitmap);
        DIBSECTION dib = {};
        ASSERT_TRUE(GetObjectA(bitmap, sizeof dib, &dib));
        EXPECT_EQ(b.size, dib.dsBm.bmWidth);
        EXPECT_EQ(b.size, dib.dsBm.bmHeight);
        EXPECT_EQ(4, dib.dsBmih.biBitCount);
        HDC dc = CreateCompatibleDC(nullptr);
        HGDIOBJ old = SelectObject(dc, bitmap);
        EXPECT_EQ(RGB(0, 128, 128), GetPixel(dc, 0, 0));
        EXPECT_EQ(RGB(0, 128, 128), GetPixel(dc, b.size - 1, b.size - 1));
        SelectObject(dc, old);
        DeleteDC(dc);
        DeleteObject(bitmap);
    }
}

} // namespace
