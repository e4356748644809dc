// The program's resources as the user meets them: the main menu, its
// keyboard shortcuts, the icon and every text of the string table. The
// expected values below are the product's own texts, written out here
// independently of the resource script.
#include <gtest/gtest.h>
#include <windows.h>
#include <cstring>
#include <string>
#include <vector>

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

TEST(MainMenu, HasEveryPopupAndCommandInOrder) {
    const std::vector<MenuRow> expected = {
        {0, "&File", 0, true},
        {1, "&Setup", 0, true},
        {2, "&Fax...\tCtrl+F", 1004, false},
        {2, "&Copy...\tCtrl+C", 1005, false},
        {1, "E&xit", 1002, false},
        {0, "&Scanner", 0, true},
        {1, "&Scanner Default Settings...\tCtrl+S", 1011, false},
        {1, "&IO Address Verify...\tCtrl+V", 1012, false},
        {0, "Profiles", 0, true},
        {1, "Create Fax Profile", 1014, false},
        {1, "Create Internet Mail Profile", 0, true},
        {2, "MSN Service", 1016, false},
        {2, "MS Plus Internet Service", 1017, false},
        {2, "MS Plus Internet && MSN Services", 1018, false},
        {0, "&Options", 0, true},
        {1, "&Execute When Windows Starts", 1001, false},
        {1, "&Fax Service Enabled", 1009, false},
        {1, "&Copy Service Enabled", 1010, false},
        {0, "&Help", 0, true},
        {1, "&HelpTopics...", 1006, false},
        {1, "&Wizard Help...", 1013, false},
        {1, "&About...", 1008, false},
    };
    HMENU menu = LoadMenuA(Self(), MAKEINTRESOURCEA(1000));
    ASSERT_NE(nullptr, menu);
    std::vector<MenuRow> rows;
    Flatten(menu, 0, rows);
    DestroyMenu(menu);
    EXPECT_EQ(expected, rows);
}

TEST(MainMenu, CommandsWithoutActionAreAbsent) {
    HMENU menu = LoadMenuA(Self(), MAKEINTRESOURCEA(1000));
    ASSERT_NE(nullptr, menu);
    for (UINT id : {1003u, 1007u, 1015u})
        EXPECT_EQ(UINT(-1), GetMenuState(menu, id, MF_BYCOMMAND)) << id;
    DestroyMenu(menu);
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
        table = LoadAcceleratorsA(Self(), MAKEINTRESOURCEA(99));
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
};

TEST_F(Shortcuts, TableHoldsTheFourControlKeys) {
    ASSERT_NE(nullptr, table);
    ACCEL entries[8];
    int count = CopyAcceleratorTableA(table, entries, 8);
    ASSERT_EQ(4, count);
    const struct {
        WORD key, command;
    } expected[] = {{'F', 1004}, {'C', 1005}, {'S', 1011}, {'V', 1012}};
    for (const auto &e : expected) {
        bool found = false;
        for (int i = 0; i < count; ++i) {
            if (entries[i].key != e.key)
                continue;
            found = true;
            EXPECT_EQ(e.command, entries[i].cmd) << char(e.key);
            EXPECT_EQ(FVIRTKEY | FCONTROL, entries[i].fVirt & (FVIRTKEY | FCONTROL | FSHIFT | FALT))
                << char(e.key);
        }
        EXPECT_TRUE(found) << char(e.key);
    }
}

TEST_F(Shortcuts, ControlKeysSendTheirMenuCommands) {
    ASSERT_NE(nullptr, table);
    const struct {
        UINT key, command;
    } presses[] = {{'F', 1004}, {'C', 1005}, {'S', 1011}, {'V', 1012}};
    for (const auto &p : presses) {
        LastCommand = 0;
        EXPECT_TRUE(Press(p.key, true)) << char(p.key);
        EXPECT_EQ(p.command, LastCommand) << char(p.key);
        EXPECT_EQ(1u, LastCommandSource) << "a shortcut, not a menu click";
    }
}

TEST_F(Shortcuts, PlainLettersAndOtherControlKeysDoNothing) {
    ASSERT_NE(nullptr, table);
    EXPECT_FALSE(Press('F', false));
    EXPECT_FALSE(Press('X', true));
    EXPECT_FALSE(Press('A', true));
    EXPECT_EQ(0u, LastCommand);
}

// Every text of the string table, by id, as the program shows it.
const struct {
    UINT id;
    const char *text;
} ExpectedStrings[] = {
    {0, "Varnel Keypad Program"},
    {2, "Cannot find Varnel!"},
    {3, "Scanner is in use by another program!"},
    {5, "Insufficient memory."},
    {8, "System Error: Fax DLL not found."},
    {9, "Cannot find any existing profiles with faxing capability."},
    {10, "Failed to open the Address Book!"},
    {12, " Fax service will be disabled!"},
    {17, "Profiles"},
    {18, "Speed Dial"},
    {19, "Text"},
    {20, "Photo"},
    {21, "Color Photo"},
    {22, "Brightness"},
    {23, "Contrast"},
    {24, "Light"},
    {25, "Dark"},
    {26, "Blur"},
    {27, "Sharp"},
    {29, "Address Book "},
    {30, "Remove Fax Number(s)"},
    {31, "Remove All Fax Numbers"},
    {32, "Best Available"},
    {33, "Draft (200 x 100 dpi)"},
    {34, "Fine (200 x 200 dpi)"},
    {35, "Super (300 x 300 dpi)"},
    {36, "Letter (8 1/2 x 11 in)"},
    {37, "Legal (8 x 14 in)"},
    {38, "A4 (210 x 297 mm)"},
    {39, "B4 (250 x 354 mm)"},
    {40, "Verifying port "},
    {41, "Can't find any available ports!"},
    {42, "Port is invalid, please try another one!"},
    {43, "Port 220h has been successfully verified!"},
    {44, "I/O address has been changed to "},
    {45, "Cannot completely initiate COPY resource,\nCopy function will be disabled!"},
    {46, " cm"},
    {47, " inch"},
    {48, "Yes"},
    {49, "No"},
    {50, "Cannot find any installed printers,\nCopy function will be disabled!"},
    {51, "Failed to initiate the print driver,\nCopy function will be disabled!"},
    {52, "Cannot find any existing profiles with Internet Mail capability."},
    {53, "Cannot find any existing profiles with faxing or Internet Mail capability."},
    {54, "The fax configuration cannot be opened."},
    {55, "The fax settings could not be written to SYS.INI."},
};

const char *ExpectedString(UINT id) {
    for (const auto &s : ExpectedStrings)
        if (s.id == id)
            return s.text;
    return nullptr;
}

TEST(StringTable, EveryTextIsPresentExactly) {
    for (const auto &s : ExpectedStrings) {
        char text[300] = {};
        int length = LoadStringA(Self(), s.id, text, sizeof text);
        EXPECT_EQ(int(strlen(s.text)), length) << "string " << s.id;
        EXPECT_STREQ(s.text, text) << "string " << s.id;
    }
}

// Ids nobody names must stay empty: a message box for them shows nothing.
TEST(StringTable, NoOtherIdsInTheRangeInUse) {
    for (UINT id = 0; id < 128; ++id) {
        if (ExpectedString(id))
            continue;
        char text[300] = {};
        EXPECT_EQ(0, LoadStringA(Self(), id, text, sizeof text)) << "string " << id << ": " << text;
    }
}

// The program loads these into fixed buffers; a longer text would be cut.
TEST(StringTable, TextsFitTheBuffersTheyAreLoadedInto) {
    const struct {
        UINT id;
        int buffer;
    } loads[] = {{0, 40}, {2, 80}, {17, 40}, {18, 40}, {40, 40}, {43, 80}, {46, 10}, {47, 10}};
    for (const auto &l : loads) {
        char text[300] = {};
        EXPECT_LT(LoadStringA(Self(), l.id, text, sizeof text), l.buffer) << "string " << l.id;
    }
    // The fax failure message is one of two texts followed by string 12 in 260 bytes.
    char head[300], tail[300];
    LoadStringA(Self(), 12, tail, sizeof tail);
    for (UINT id : {8u, 53u}) {
        LoadStringA(Self(), id, head, sizeof head);
        EXPECT_LT(strlen(head) + strlen(tail), 260u) << "string " << id;
    }
}

// Reads the size of the icon image that the group directory picks for a size.
int IconImageWidth(const BYTE *directory, int size) {
    int id = LookupIconIdFromDirectoryEx(const_cast<BYTE *>(directory), TRUE, size, size,
                                         LR_DEFAULTCOLOR);
    HRSRC found = FindResourceA(Self(), MAKEINTRESOURCEA(id), MAKEINTRESOURCEA(3)); // RT_ICON
    if (!found)
        return 0;
    auto *header = static_cast<const BITMAPINFOHEADER *>(LockResource(LoadResource(Self(), found)));
    return header && header->biSize == sizeof(BITMAPINFOHEADER) ? header->biWidth : 0;
}

TEST(ProgramIcon, HasLargeAndSmallImages) {
    HRSRC group =
        FindResourceA(Self(), MAKEINTRESOURCEA(99), MAKEINTRESOURCEA(14)); // RT_GROUP_ICON
    ASSERT_NE(nullptr, group);
    auto *directory = static_cast<const BYTE *>(LockResource(LoadResource(Self(), group)));
    ASSERT_NE(nullptr, directory);
    EXPECT_EQ(32, IconImageWidth(directory, 32));
    EXPECT_EQ(16, IconImageWidth(directory, 16));
    HICON icon = LoadIconA(Self(), MAKEINTRESOURCEA(99));
    EXPECT_NE(nullptr, icon);
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
