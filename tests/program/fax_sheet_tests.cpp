// The fax configuration sheet of KEYPAD32.EXE end to end, with the tab
// library and mail library stand-ins: its two tabs, the profile page's
// details and destination, what OK and Cancel leave in SYS.INI, and the
// panel's fax/e-mail key while the sheet is open.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "program_fixture.h"
#include "res/resource.h"
#include "standins/telvex/telvex_ids.h"

namespace {

const char SheetClass[] = "SoftelGrayDialog32";
const char SheetTitle[] = "Varnel: Fax Configuration";
const char AppTitle[] = "Varnel Keypad Program";

const char FaxProfile[] = "[Profile:Varnel Fax]\r\nServices=25\r\nUserName=Varnel User\r\n"
                          "FaxNumber=555 0100\r\nPaperSize=2\r\nResolution=1\r\n"
                          "CoverPageInUse=0\r\nCoverPage=Front Cover\r\n";
const char MailProfile[] = "[Profile:Varnel Mail]\r\nServices=28\r\nFullName=Mail User\r\n"
                           "Login=muser\r\nEmailAddress=keypad@varnel.example\r\n"
                           "Server=mail.varnel.example\r\nConnection=2\r\nDialing=Office Line\r\n";

// The address book: lines show "name (address)" in this order.
const char Contacts[] =
    "BEGIN:VCARD\r\nVERSION:4.0\r\nUID:ada\r\nFN:Ada Brandt\r\nTEL;TYPE=fax:555 0101\r\n"
    "END:VCARD\r\nBEGIN:VCARD\r\nVERSION:4.0\r\nUID:bob1\r\nFN:Bob\r\n"
    "TEL;TYPE=fax:555 0102\r\nEND:VCARD\r\nBEGIN:VCARD\r\nVERSION:4.0\r\nUID:bob2\r\n"
    "FN:bob\r\nTEL;TYPE=fax:555 0103\r\nEND:VCARD\r\nBEGIN:VCARD\r\nVERSION:4.0\r\n"
    "UID:zed1\r\nFN:Zed Same\r\nTEL;TYPE=fax:555 0111\r\nEND:VCARD\r\nBEGIN:VCARD\r\n"
    "VERSION:4.0\r\nUID:zed2\r\nFN:Zed Same\r\nTEL;TYPE=fax:555 0112\r\nEND:VCARD\r\n"
    "BEGIN:VCARD\r\nVERSION:4.0\r\nUID:carl\r\nFN:Carl Dorn\r\n"
    "EMAIL:carl@varnel.example\r\nEND:VCARD\r\n"
    "BEGIN:VCARD\r\nVERSION:4.0\r\nFN:Extra A\r\nTEL;TYPE=fax:556 0121\r\nEND:VCARD\r\n"
    "BEGIN:VCARD\r\nVERSION:4.0\r\nFN:Extra B\r\nTEL;TYPE=fax:556 0122\r\nEND:VCARD\r\n"
    "BEGIN:VCARD\r\nVERSION:4.0\r\nFN:Extra C\r\nTEL;TYPE=fax:556 0123\r\nEND:VCARD\r\n";

// A visible tooltip of one process and its text.
struct TipSearch {
    DWORD Process;
    std::string Text;
};

BOOL CALLBACK CollectTip(HWND window, LPARAM context) {
    TipSearch *search = (TipSearch *)context;
    DWORD process = 0;
    char name[64] = "";
    GetWindowThreadProcessId(window, &process);
    GetClassNameA(window, name, sizeof name);
    if (process == search->Process && IsWindowVisible(window) &&
        lstrcmpiA(name, "tooltips_class32") == 0) {
        WCHAR wide[256] = L"";
        char text[256] = "";
        SendMessageW(window, WM_GETTEXT, 256, (LPARAM)wide);
        WideCharToMultiByte(CP_ACP, 0, wide, -1, text, sizeof text, NULL, NULL);
        search->Text = text;
    }
    return TRUE;
}

class FaxSheet : public ProgramFixture {
  protected:
    FileBackup Book{ProductFile("ADDRESS.VCF")};
    std::vector<FileBackup *> KeyFiles;
    HWND Sheet = NULL;

    ~FaxSheet() override {
        for (FileBackup *file : KeyFiles) {
            delete file;
        }
    }

    void SetUp() override {
        ProgramFixture::SetUp();
        WriteStore(std::string(FaxProfile) + MailProfile);
        WriteSettings("Varnel Fax", 0);
    }
    void WriteSettings(const char *faxProfile, int destination) {
        WriteFileText(SettingsFile, std::string("[Varnel]\r\nFaxService=1\r\nCopyService=1\r\n"
                                                "[Varnel FAX]\r\nMS Exchange Fax=") +
                                        faxProfile +
                                        "\r\nMS Exchange Email=Varnel Mail\r\nUseProfile=" +
                                        std::to_string(destination) + "\r\n");
    }
    // Starts the program and opens the sheet with its menu command (Ctrl+F).
    void Open() {
        Start();
        OpenAgain();
    }
    // Opens the sheet in the running program.
    void OpenAgain() {
        PostMessageA(Keypad.Window, WM_COMMAND, IDM_FAX_SETUP, 0);
        Sheet = WaitForWindow(SheetClass, SheetTitle);
        ASSERT_NE((HWND)NULL, Sheet) << "the sheet did not open";
        ASSERT_TRUE(WaitUntil([&] { return IsWindowVisible(Page(IDC_FAX_PROFILE_BUTTON)); }));
    }
    // The page holding control id, or null.
    HWND Page(int id) {
        HWND control = FindControl(Sheet, id);
        return control ? GetParent(control) : NULL;
    }
    std::string Field(int id) { return ControlText(Page(IDC_FAX_PROFILE_BUTTON), id); }
    bool Checked(int id) {
        return SendMessageA(FindControl(Sheet, id), BM_GETCHECK, 0, 0) == BST_CHECKED;
    }
    void Click(int id) { SendMessageA(FindControl(Sheet, id), BM_CLICK, 0, 0); }
    // Chooses how the pages go in the list, as a click on one of its lines does.
    void ChoosePagesAs(int line) {
        HWND list = FindControl(Sheet, IDC_PAGES_AS_LIST);
        SendMessageA(list, CB_SETCURSEL, line, 0);
        SendMessageA(GetParent(list), WM_COMMAND, MAKEWPARAM(IDC_PAGES_AS_LIST, CBN_SELCHANGE),
                     (LPARAM)list);
    }
    HWND Strip() {
        return FindWindowExA(FindControl(Sheet, IDC_SHEET_TABS), NULL, "SysTabControl32", NULL);
    }
    // Closes the sheet with OK (1) or Cancel (2) and waits until it is gone.
    void Close(int id) {
        PostMessageA(Sheet, WM_COMMAND, id, 0);
        ASSERT_TRUE(WaitForWindowGone(Sheet));
    }
    std::string Saved(const char *key) { return IniValue(SettingsFile, "Varnel FAX", key); }

    // Keeps the recipient files of entries 1..28 and starts without them.
    void KeepKeyFiles() {
        for (int n = 1; n <= 28; n++) {
            for (const char *kind : {".DES", ".INF"}) {
                std::string path = ProductFile((std::to_string(n) + kind).c_str());
                KeyFiles.push_back(new FileBackup(path));
                DeleteFileA(path.c_str());
            }
        }
        WriteFileText(ProductFile("ADDRESS.VCF"), Contacts);
    }
    // The speed-dial page, or null before its tab was first shown.
    HWND SpeedDialPage() { return Page(IDC_SPEED_DIAL_KEY_FIRST); }
    bool SpeedDialShown() { return SpeedDialPage() && IsWindowVisible(SpeedDialPage()); }
    // Shows the speed-dial tab and returns its page.
    HWND SpeedDial() {
        EXPECT_TRUE(ClickTab(Strip(), 1));
        EXPECT_TRUE(WaitUntil([&] { return SpeedDialShown(); }));
        return SpeedDialPage();
    }
    // Starts without recipient files and opens the sheet on its speed-dial tab.
    void OpenSpeedDials() {
        KeepKeyFiles();
        Open();
        SpeedDial();
    }
    std::string Label() { return ControlText(SpeedDialPage(), IDC_KEY_LABEL); }
    HWND List() { return FindControl(Sheet, IDC_RECIPIENT_LIST); }
    // A list line asked across processes, which Wine answers in UTF-16.
    static std::string ListLine(HWND list, int line) {
        WCHAR wide[256] = L"";
        char text[256] = "";
        SendMessageW(list, LB_GETTEXT, line, (LPARAM)wide);
        WideCharToMultiByte(CP_ACP, 0, wide, -1, text, sizeof text, NULL, NULL);
        return text;
    }
    std::vector<std::string> Lines() {
        std::vector<std::string> lines;
        LRESULT count = SendMessageA(List(), LB_GETCOUNT, 0, 0);
        for (LRESULT i = 0; i < count; i++) {
            lines.push_back(ListLine(List(), (int)i));
        }
        return lines;
    }
    // Opens the address book with its button; the box it shows, or null.
    HWND OpenAddressBook() {
        PostMessageA(Page(IDC_ADDRESS_BOOK), WM_COMMAND, IDC_ADDRESS_BOOK,
                     (LPARAM)FindControl(Sheet, IDC_ADDRESS_BOOK));
        return WaitForWindow("#32770", AppTitle);
    }
    // Picks the address-book lines that contain one of the texts, then OK;
    // true once the key's list has that many lines.
    bool Pick(const std::vector<std::string> &texts, size_t lines) {
        HWND box = OpenAddressBook();
        if (!box) {
            ADD_FAILURE() << "the address book did not open";
            return false;
        }
        HWND list = GetDlgItem(box, IDC_ADDRESS_LIST);
        LRESULT count = SendMessageA(list, LB_GETCOUNT, 0, 0);
        for (LRESULT i = 0; i < count; i++) {
            for (const std::string &wanted : texts) {
                if (ListLine(list, (int)i).find(wanted) != std::string::npos) {
                    SendMessageA(list, LB_SETSEL, TRUE, i);
                }
            }
        }
        PostMessageA(box, WM_COMMAND, IDOK, 0);
        return WaitForWindowGone(box) && LinesBecome(lines);
    }
    bool LinesBecome(size_t count) {
        return WaitUntil([&] { return Lines().size() == count; });
    }
    void Key(int key) { Click(IDC_SPEED_DIAL_KEY_FIRST - 1 + key); }
    // Selects lines as a user would, so that the page hears of it.
    void Select(const std::vector<int> &lines) {
        SendMessageA(List(), LB_SETSEL, FALSE, -1);
        for (int line : lines) {
            SendMessageA(List(), LB_SETSEL, TRUE, line);
        }
        SendMessageA(SpeedDialPage(), WM_COMMAND, MAKEWPARAM(IDC_RECIPIENT_LIST, LBN_SELCHANGE),
                     (LPARAM)List());
    }
    bool Enabled(int id) { return IsWindowEnabled(FindControl(Sheet, id)) != 0; }
    // The text of the program's tooltip now shown, or "" when none shows.
    std::string ShownTip() {
        TipSearch search = {Keypad.Process.dwProcessId, ""};
        EnumWindows(CollectTip, (LPARAM)&search);
        return search.Text;
    }
    // Rests the mouse at a point of a window and waits for the tip to read text.
    bool TipOver(HWND window, int x, int y, const std::string &text) {
        POINT at = {x, y};
        ClientToScreen(window, &at);
        // Two positions, so that the program sees a move even when the
        // mouse already rested at the point.
        SetCursorPos(at.x + 1, at.y + 1);
        SetCursorPos(at.x, at.y);
        return WaitUntil([&] { return ShownTip() == text; });
    }
    bool TipOverButton(int id, const std::string &text) {
        RECT r;
        GetClientRect(FindControl(Sheet, id), &r);
        return TipOver(FindControl(Sheet, id), r.right / 2, r.bottom / 2, text);
    }
    // The button's bitmap is drawn inside a frame of three pixels.
    int BitmapMismatches(int id, int bitmapId) {
        return ::BitmapMismatches(FindControl(Sheet, id), bitmapId, 3);
    }
};

TEST_F(FaxSheet, PagesAreMadeOnDemandKeptAndFillTheTabArea) {
    Open();
    HWND profiles = Page(IDC_FAX_PROFILE_BUTTON);
    EXPECT_EQ((HWND)NULL, SpeedDialPage()) << "the speed-dial page before its tab was shown";
    ASSERT_TRUE(ClickTab(Strip(), 1));
    ASSERT_TRUE(WaitUntil([&] { return SpeedDialShown(); }));
    HWND speedDial = SpeedDialPage();
    EXPECT_FALSE(IsWindowVisible(profiles));
    EXPECT_TRUE(IsWindow(profiles));
    RECT strip, page;
    GetWindowRect(Strip(), &strip);
    GetWindowRect(speedDial, &page);
    EXPECT_TRUE(page.left > strip.left && page.right < strip.right && page.top > strip.top + 10 &&
                page.bottom < strip.bottom);
    ASSERT_TRUE(ClickTab(Strip(), 0));
    ASSERT_TRUE(WaitUntil([&] { return IsWindowVisible(profiles); }));
    EXPECT_FALSE(IsWindowVisible(speedDial));
    EXPECT_EQ(speedDial, SpeedDialPage()) << "the speed-dial page was made again";
    Close(IDCANCEL);
}

// The details of the profile chosen, by the page's buttons or the panel's key.
TEST_F(FaxSheet, ShowsTheDetailsOfTheChosenFaxAndMailProfiles) {
    Open();
    EXPECT_TRUE(Checked(IDC_FAX_PROFILE_BUTTON));
    EXPECT_FALSE(Enabled(IDC_MAIL_PROFILE_LIST));
    EXPECT_EQ("User:", Field(IDC_DETAIL_LABEL_FIRST));
    EXPECT_EQ("Varnel User", Field(IDC_DETAIL_FIRST));
    EXPECT_EQ("555 0100", Field(IDC_DETAIL_FIRST + 1));
    EXPECT_EQ("A4 (210 x 297 mm)", Field(IDC_DETAIL_FIRST + 2));
    EXPECT_EQ("Draft (200 x 100 dpi)", Field(IDC_DETAIL_FIRST + 3));
    EXPECT_EQ("", Field(IDC_DETAIL_FIRST + 4)) << "a cover page name that is not in use";
    Click(IDC_MAIL_PROFILE_BUTTON);
    EXPECT_EQ("Full Name:", Field(IDC_DETAIL_LABEL_FIRST));
    EXPECT_EQ("Connect Setting:", Field(IDC_DETAIL_LABEL_FIRST + 4));
    EXPECT_EQ("Mail User", Field(IDC_DETAIL_FIRST));
    EXPECT_EQ("muser", Field(IDC_DETAIL_FIRST + 1));
    EXPECT_EQ("keypad@varnel.example", Field(IDC_DETAIL_FIRST + 2));
    EXPECT_EQ("mail.varnel.example", Field(IDC_DETAIL_FIRST + 3));
    EXPECT_EQ("Use Modem, Dialing setting:Office Line", Field(IDC_DETAIL_FIRST + 4));
    EXPECT_FALSE(Enabled(IDC_FAX_PROFILE_LIST));
    EXPECT_TRUE(Enabled(IDC_MAIL_PROFILE_LIST));
    // The panel's fax/e-mail key switches the open page too.
    PressKey("destination");
    ASSERT_TRUE(WaitUntil([&] { return Checked(IDC_FAX_PROFILE_BUTTON); }));
    EXPECT_FALSE(Checked(IDC_MAIL_PROFILE_BUTTON));
    EXPECT_EQ("Varnel User", Field(IDC_DETAIL_FIRST));
    PressKey("destination");
    ASSERT_TRUE(WaitUntil([&] { return Checked(IDC_MAIL_PROFILE_BUTTON); }));
    EXPECT_EQ("Mail User", Field(IDC_DETAIL_FIRST));
    Close(IDCANCEL);
}

// A stored fax profile that no longer exists gives way to the one the list
// shows; a kind without profiles is disabled and the other forced.
TEST_F(FaxSheet, AProfileNoLongerListedGivesWayAndAKindWithoutProfilesIsForcedOff) {
    WriteStore(FaxProfile);
    WriteSettings("Gone Away", 1);
    Open();
    EXPECT_TRUE(Checked(IDC_FAX_PROFILE_BUTTON));
    EXPECT_FALSE(Enabled(IDC_MAIL_PROFILE_BUTTON));
    EXPECT_FALSE(Enabled(IDC_MAIL_PROFILE_LIST));
    EXPECT_EQ("Varnel Fax", ControlText(Page(IDC_FAX_PROFILE_BUTTON), IDC_FAX_PROFILE_LIST));
    EXPECT_EQ("Varnel User", Field(IDC_DETAIL_FIRST));
    Close(IDOK);
    EXPECT_EQ("0", Saved("UseProfile"));
    EXPECT_EQ("Varnel Fax", Saved("MS Exchange Fax"));
}

// The destination, and how the pages go: separate files without the key,
// and a searchable text only for one PDF document (grey otherwise); the
// page's last line is whole within the tabs, above the sheet's buttons.
TEST_F(FaxSheet, OkWritesTheChoiceAndCancelLeavesTheNewDestinationUnsaved) {
    Open();
    EXPECT_EQ("separate image files", Field(IDC_PAGES_AS_LIST));
    EXPECT_FALSE(Enabled(IDC_SEARCHABLE_TEXT));
    RECT box, tabs;
    GetWindowRect(FindControl(Sheet, IDC_SEARCHABLE_TEXT), &box);
    GetWindowRect(FindControl(Sheet, IDC_SHEET_TABS), &tabs);
    EXPECT_LE(box.bottom, tabs.bottom) << "the box is hidden behind the buttons";
    Click(IDC_MAIL_PROFILE_BUTTON);
    ChoosePagesAs(1);
    Click(IDC_SEARCHABLE_TEXT);
    EXPECT_EQ(" I", WaitForLcd(0, "LT TXT DFT 050 I").substr(14));
    Close(IDCANCEL);
    EXPECT_EQ("0", Saved("UseProfile"));
    EXPECT_EQ("Varnel Fax", Saved("MS Exchange Fax"));
    EXPECT_EQ("(missing)", Saved("SendPagesAs"));
    EXPECT_EQ("(missing)", Saved("SearchableText"));
    EXPECT_EQ("LT TXT DFT 050 I", LcdStatus());

    OpenAgain();
    EXPECT_TRUE(Checked(IDC_MAIL_PROFILE_BUTTON)) << "the destination in force";
    EXPECT_EQ("separate image files", Field(IDC_PAGES_AS_LIST));
    EXPECT_FALSE(Checked(IDC_SEARCHABLE_TEXT));
    ChoosePagesAs(1);
    EXPECT_TRUE(Enabled(IDC_SEARCHABLE_TEXT));
    Click(IDC_SEARCHABLE_TEXT);
    Close(IDOK);
    EXPECT_EQ("1", Saved("UseProfile"));
    EXPECT_EQ("Varnel Fax", Saved("MS Exchange Fax"));
    EXPECT_EQ("Varnel Mail", Saved("MS Exchange Email"));
    EXPECT_EQ("1", Saved("SendPagesAs"));
    EXPECT_EQ("1", Saved("SearchableText"));
    EXPECT_EQ(0, ExitProgram(&Keypad));
    Open();
    EXPECT_EQ("one PDF document", Field(IDC_PAGES_AS_LIST));
    EXPECT_TRUE(Checked(IDC_SEARCHABLE_TEXT));
    ChoosePagesAs(0);
    EXPECT_FALSE(Enabled(IDC_SEARCHABLE_TEXT));
    Close(IDCANCEL);
}

// A write that fails is reported and the sheet stays for another try: the
// recipient files of a key, which keeps what it had on disk meanwhile, and
// the profile choice.
TEST_F(FaxSheet, AFailedWriteAtOkIsReported) {
    OpenSpeedDials();
    Key(2);
    ASSERT_TRUE(Pick({"Ada", "555 0102"}, 2));
    EXPECT_EQ("The speed-dial keys could not all be written: a key keeps its earlier recipients "
              "on disk until an OK can write them.",
              PressWhileUnwritable(Sheet, IDOK, ProductFile("2.DES.tmp")));
    EXPECT_TRUE(IsWindow(Sheet));
    EXPECT_EQ(2u, Lines().size());
    EXPECT_EQ("(missing)", Saved("NumberOfFaxRecip2"));
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(ProductFile("2.DES").c_str()));
    Click(IDC_MAIL_PROFILE_BUTTON);
    EXPECT_EQ("The fax settings could not be written to SYS.INI.",
              PressWhileUnwritable(Sheet, IDOK, SettingsFile));
    EXPECT_TRUE(IsWindow(Sheet));
    Close(IDOK);
    EXPECT_EQ("1", Saved("UseProfile"));
    EXPECT_EQ("2", Saved("NumberOfFaxRecip2"));
}

TEST_F(FaxSheet, WithoutTheTabLibraryTheSheetSaysItCannotOpen) {
    std::string library = ProductFile("DLL32\\SFTTB32.dll");
    std::string away = library + ".away";
    ASSERT_TRUE(MoveFileA(library.c_str(), away.c_str()));
    Start();
    PostMessageA(Keypad.Window, WM_COMMAND, IDM_FAX_SETUP, 0);
    HWND box = WaitForWindow("#32770", AppTitle);
    MoveFileA(away.c_str(), library.c_str());
    ASSERT_EQ("The fax configuration cannot be opened.", AnswerBox(box));
    EXPECT_EQ("0", Saved("UseProfile"));
    EXPECT_EQ(0, ExitProgram(&Keypad));
}

// A key's recipients picked and labelled, kept across a key switch, written
// on OK and shown again by the next run, on the page and on the LCD.
TEST_F(FaxSheet, PickedRecipientsAndLabelOfAKeyLastThroughARestart) {
    OpenSpeedDials();
    EXPECT_TRUE(Lines().empty());
    EXPECT_FALSE(Enabled(IDC_REMOVE_RECIPIENTS));
    EXPECT_FALSE(Enabled(IDC_REMOVE_ALL_RECIPIENTS));
    Key(3);
    ASSERT_TRUE(Pick({"Ada", "555 0111"}, 2));
    EXPECT_EQ((std::vector<std::string>{"Ada Brandt", "Zed Same"}), Lines());
    EXPECT_TRUE(Enabled(IDC_REMOVE_ALL_RECIPIENTS));
    HWND label = FindControl(Sheet, IDC_KEY_LABEL);
    for (char c : std::string("Reception Desk 12")) {
        SendMessageA(label, WM_CHAR, c, 1);
    }
    EXPECT_EQ("Reception Desk 1", Label()) << "17 characters typed";
    Key(4);
    EXPECT_TRUE(Lines().empty());
    EXPECT_EQ("", Label());
    Key(3);
    EXPECT_EQ((std::vector<std::string>{"Ada Brandt", "Zed Same"}), Lines());
    EXPECT_EQ("Reception Desk 1", Label());
    Close(IDOK);
    EXPECT_EQ("2", Saved("NumberOfFaxRecip3"));
    EXPECT_EQ("Reception Desk 1", Saved("FaxAlias3"));
    EXPECT_NE(std::string::npos, ReadFileText(ProductFile("3.INF")).find("555 0111"));

    EXPECT_EQ(0, ExitProgram(&Keypad));
    Open();
    SpeedDial();
    Key(3);
    EXPECT_EQ((std::vector<std::string>{"Ada Brandt", "Zed Same"}), Lines());
    Close(IDCANCEL);
    PressKey("speed3");
    EXPECT_EQ("Reception Desk 1", WaitForLcd(2, "Reception Desk 1"));
}

// Delete removes the selected lines only from the list, and a double click
// on the second line of a name removes the second record of that name.
TEST_F(FaxSheet, DeleteAndDoubleClickRemoveTheirOwnRecords) {
    OpenSpeedDials();
    Key(2);
    ASSERT_TRUE(Pick({"555"}, 5));
    std::vector<std::string> lines = Lines();
    EXPECT_EQ("Ada Brandt", lines[0]);
    EXPECT_EQ(0, lstrcmpiA("bob", lines[1].c_str()));
    EXPECT_EQ(0, lstrcmpiA("bob", lines[2].c_str()));
    Select({0, 1, 2});
    HWND label = FindControl(Sheet, IDC_KEY_LABEL);
    // Delete in the label field; the two characters after it show that the
    // command it would have posted has had its turn.
    PostMessageA(label, WM_KEYDOWN, VK_DELETE, 1);
    PostMessageA(label, WM_CHAR, 'x', 1);
    ASSERT_TRUE(WaitUntil([&] { return Label() == "x"; }));
    PostMessageA(label, WM_CHAR, 'y', 1);
    ASSERT_TRUE(WaitUntil([&] { return Label() == "xy"; }));
    EXPECT_EQ(5u, Lines().size()) << "Delete in the label field removed recipients";
    PostMessageA(List(), WM_KEYDOWN, VK_DELETE, 1);
    ASSERT_TRUE(LinesBecome(2));
    EXPECT_EQ((std::vector<std::string>{"Zed Same", "Zed Same"}), Lines());
    EXPECT_FALSE(Enabled(IDC_REMOVE_RECIPIENTS)) << "Remove after the lines went";
    RECT line;
    SendMessageA(List(), LB_GETITEMRECT, 1, (LPARAM)&line);
    LPARAM at = MAKELPARAM(line.left + 5, line.top + 2);
    PostMessageA(List(), WM_LBUTTONDOWN, MK_LBUTTON, at);
    PostMessageA(List(), WM_LBUTTONUP, 0, at);
    PostMessageA(List(), WM_LBUTTONDBLCLK, MK_LBUTTON, at);
    PostMessageA(List(), WM_LBUTTONUP, 0, at);
    ASSERT_TRUE(LinesBecome(1));
    Close(IDOK);
    std::string strings = ReadFileText(ProductFile("2.INF"));
    EXPECT_NE(std::string::npos, strings.find("555 0111"));
    EXPECT_EQ(std::string::npos, strings.find("555 0112")) << "the second record was removed";
    EXPECT_EQ("1", Saved("NumberOfFaxRecip2"));
}

// "Bob" and "bob" each find their own record; a cancelled address book
// leaves a key as it was, also one holding a recipient the pick would not keep.
TEST_F(FaxSheet, NamesDifferingInCaseAndACancelledAddressBook) {
    OpenSpeedDials();
    Key(6);
    ASSERT_TRUE(Pick({"Bob", "bob"}, 2));
    // The list puts one of the two first; the second line must find its
    // own record, not stop at the first line's.
    std::string second = Lines()[1];
    std::string kept = Lines()[0];
    Select({1});
    PostMessageA(List(), WM_KEYDOWN, VK_DELETE, 1);
    ASSERT_TRUE(LinesBecome(1));
    EXPECT_EQ(kept, Lines()[0]);
    Close(IDOK);
    std::string strings = ReadFileText(ProductFile("6.INF"));
    EXPECT_EQ(std::string::npos, strings.find(second == "Bob" ? "555 0102" : "555 0103"));
    EXPECT_NE(std::string::npos, strings.find(second == "Bob" ? "555 0103" : "555 0102"));

    // E-mail key 6 holding a fax number, which an e-mail pick drops.
    EXPECT_EQ(0, ExitProgram(&Keypad));
    ASSERT_TRUE(CopyFileA(ProductFile("6.DES").c_str(), ProductFile("20.DES").c_str(), FALSE));
    ASSERT_TRUE(CopyFileA(ProductFile("6.INF").c_str(), ProductFile("20.INF").c_str(), FALSE));
    WritePrivateProfileStringA("Varnel FAX", "NumberOfEmailRecip6", "1", SettingsFile.c_str());
    Open();
    Click(IDC_MAIL_PROFILE_BUTTON);
    SpeedDial();
    Key(6);
    EXPECT_EQ((std::vector<std::string>{kept}), Lines());
    HWND box = OpenAddressBook();
    ASSERT_NE((HWND)NULL, box);
    PostMessageA(box, WM_COMMAND, IDCANCEL, 0);
    ASSERT_TRUE(WaitForWindowGone(box));
    EXPECT_EQ((std::vector<std::string>{kept}), Lines());
    Close(IDOK);
    EXPECT_EQ("1", Saved("NumberOfEmailRecip6"));
    EXPECT_EQ(strings, ReadFileText(ProductFile("20.INF")));
}

// Each destination keeps its own list and label of a key, whether the
// profile page or the panel's fax/e-mail key switches; the key waits while
// the address book is open, so its picks land in the key it was opened for.
TEST_F(FaxSheet, EachDestinationKeepsItsOwnListAndLabelOfAKey) {
    OpenSpeedDials();
    Key(5);
    ASSERT_TRUE(Pick({"Ada"}, 1));
    SetWindowTextA(FindControl(Sheet, IDC_KEY_LABEL), "Fax five");
    Click(IDC_MAIL_PROFILE_BUTTON);
    EXPECT_TRUE(Lines().empty());
    EXPECT_EQ("", Label());
    ASSERT_TRUE(Pick({"carl"}, 1));
    SetWindowTextA(FindControl(Sheet, IDC_KEY_LABEL), "Mail five");
    Click(IDC_FAX_PROFILE_BUTTON);
    EXPECT_EQ((std::vector<std::string>{"Ada Brandt"}), Lines());
    EXPECT_EQ("Fax five", Label());

    HWND box = OpenAddressBook();
    ASSERT_NE((HWND)NULL, box);
    PressKey("destination");
    SettlePanel();
    EXPECT_TRUE(Checked(IDC_FAX_PROFILE_BUTTON))
        << "the destination switched under the address book";
    HWND list = GetDlgItem(box, IDC_ADDRESS_LIST);
    for (int i = 0; i < (int)SendMessageA(list, LB_GETCOUNT, 0, 0); i++) {
        if (ListLine(list, i).find("555 0111") != std::string::npos) {
            SendMessageA(list, LB_SETSEL, TRUE, i);
        }
    }
    PostMessageA(box, WM_COMMAND, IDOK, 0);
    ASSERT_TRUE(WaitForWindowGone(box));
    ASSERT_TRUE(WaitUntil([&] { return Checked(IDC_MAIL_PROFILE_BUTTON); }))
        << "the key took no effect after";
    EXPECT_EQ((std::vector<std::string>{"Carl Dorn"}), Lines());
    EXPECT_EQ("Mail five", Label());
    PressKey("destination");
    ASSERT_TRUE(WaitUntil([&] { return Checked(IDC_FAX_PROFILE_BUTTON); }));
    EXPECT_EQ((std::vector<std::string>{"Ada Brandt", "Zed Same"}), Lines());
    Close(IDOK);
    EXPECT_EQ("Fax five", Saved("FaxAlias5"));
    EXPECT_EQ("Mail five", Saved("EmailAlias5"));
    EXPECT_EQ("2", Saved("NumberOfFaxRecip5"));
    EXPECT_EQ("1", Saved("NumberOfEmailRecip5"));
    EXPECT_NE(std::string::npos, ReadFileText(ProductFile("19.INF")).find("carl@varnel.example"));
}

// An address book that cannot be opened, or be lent the key's records, is
// reported and leaves the list; too little memory for it ends the whole
// sheet as cancelled: the recipient just picked is in no file and SYS.INI is
// as it was.
TEST_F(FaxSheet, AnAddressBookThatFailsLeavesTheListOrOutOfMemoryCancelsTheSheet) {
    OpenSpeedDials();
    ASSERT_TRUE(Pick({"Ada"}, 1));
    std::string settings = ReadFileText(SettingsFile);
    WriteStore(std::string("LinkFault=1\r\n") + FaxProfile + MailProfile);
    EXPECT_EQ("Insufficient memory.", AnswerBox(OpenAddressBook()));
    WriteStore(std::string(FaxProfile) + MailProfile);
    EXPECT_EQ((std::vector<std::string>{"Ada Brandt"}), Lines());
    DeleteFileA(ProductFile("ADDRESS.VCF").c_str());
    ASSERT_EQ("Failed to open the Address Book!", AnswerBox(OpenAddressBook()));
    EXPECT_EQ((std::vector<std::string>{"Ada Brandt"}), Lines());
    EXPECT_TRUE(IsWindow(Sheet));

    WriteFileText(ProductFile("ADDRESS.VCF"), Contacts);
    WriteStore(std::string("AddressBookFault=7\r\n") + FaxProfile + MailProfile);
    ASSERT_EQ("Insufficient memory.", AnswerBox(OpenAddressBook()));
    ASSERT_TRUE(WaitForWindowGone(Sheet));
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(ProductFile("1.DES").c_str()));
    EXPECT_EQ(settings, ReadFileText(SettingsFile));
}

// A key without recipients greys both Remove buttons, whose tips still
// show over them; the tips of list lines name and describe the line's
// recipient.
TEST_F(FaxSheet, GreyRemoveButtonsOfAnEmptyKeyAndTheirTips) {
    OpenSpeedDials();
    EXPECT_FALSE(Enabled(IDC_REMOVE_RECIPIENTS));
    EXPECT_FALSE(Enabled(IDC_REMOVE_ALL_RECIPIENTS));
    // The page paints a moment after it shows.
    EXPECT_TRUE(WaitUntil([&] {
        return BitmapMismatches(IDC_REMOVE_RECIPIENTS, IDB_SCISSORS_GREY) == 0;
    })) << "grey scissors";
    EXPECT_EQ(0, BitmapMismatches(IDC_REMOVE_ALL_RECIPIENTS, IDB_CARD_AND_BIN_GREY))
        << "grey card and bin";
    EXPECT_LT(0, BitmapMismatches(IDC_REMOVE_RECIPIENTS, IDB_SCISSORS));
    EXPECT_TRUE(TipOverButton(IDC_REMOVE_RECIPIENTS, "Remove Fax Number(s)")) << ShownTip();
    EXPECT_TRUE(TipOverButton(IDC_REMOVE_ALL_RECIPIENTS, "Remove All Fax Numbers")) << ShownTip();
    EXPECT_TRUE(TipOverButton(IDC_ADDRESS_BOOK, "Address Book ")) << ShownTip();
    ASSERT_TRUE(Pick({"Ada", "555 0102"}, 2));
    EXPECT_TRUE(WaitUntil([&] {
        return BitmapMismatches(IDC_REMOVE_ALL_RECIPIENTS, IDB_CARD_AND_BIN) == 0;
    })) << "card and bin";
    RECT line;
    SendMessageA(List(), LB_GETITEMRECT, 1, (LPARAM)&line);
    EXPECT_TRUE(TipOver(List(), line.left + 10, line.top + 3, "Bob\r\nFAX, Address:555 0102"))
        << ShownTip();
    SendMessageA(List(), LB_GETITEMRECT, 0, (LPARAM)&line);
    EXPECT_TRUE(
        TipOver(List(), line.left + 10, line.top + 3, "Ada Brandt\r\nFAX, Address:555 0101"))
        << ShownTip();

    // Scrolled, the first screen line shows the third line's recipient.
    ASSERT_TRUE(Pick({"556", "555 0103", "Zed"}, 8));
    SendMessageA(List(), LB_SETTOPINDEX, 2, 0);
    ASSERT_EQ(2, SendMessageA(List(), LB_GETTOPINDEX, 0, 0)) << "the list does not scroll";
    std::string third = Lines()[2] == "Bob" ? "555 0102" : "555 0103";
    // The tip is asked for its text anew when the mouse comes back.
    EXPECT_TRUE(TipOver(FindControl(Sheet, IDC_KEY_LABEL), 2, 2, ""));
    EXPECT_TRUE(
        TipOver(List(), line.left + 12, line.top + 4, Lines()[2] + "\r\nFAX, Address:" + third))
        << ShownTip();

    // Remove disabling itself with the focus hands the focus to the list.
    Select({0});
    HWND remove = FindControl(Sheet, IDC_REMOVE_RECIPIENTS);
    PostMessageA(SpeedDialPage(), WM_NEXTDLGCTL, (WPARAM)remove, TRUE);
    GUITHREADINFO focus = {};
    focus.cbSize = sizeof focus;
    DWORD thread = GetWindowThreadProcessId(Sheet, NULL);
    ASSERT_TRUE(
        WaitUntil([&] { return GetGUIThreadInfo(thread, &focus) && focus.hwndFocus == remove; }));
    PostMessageA(remove, WM_KEYDOWN, VK_SPACE, 1);
    PostMessageA(remove, WM_KEYUP, VK_SPACE, 1);
    ASSERT_TRUE(LinesBecome(7));
    EXPECT_FALSE(Enabled(IDC_REMOVE_RECIPIENTS));
    EXPECT_TRUE(GetGUIThreadInfo(thread, &focus) && focus.hwndFocus == List());
    Close(IDCANCEL);
}

// Emptying a key and filling it again, fifty times, costs the program no
// handles and no memory.
TEST_F(FaxSheet, EmptyingAKeyFiftyTimesLeavesHandlesAndMemoryFlat) {
    OpenSpeedDials();
    Key(4);
    DWORD handlesBefore = 0, handlesAfter = 0;
    SIZE_T memoryBefore = 0, memoryAfter = 0;
    for (int round = 0; round <= 50; round++) {
        if (round == 1) {
            ProcessUsage(Keypad, &handlesBefore, &memoryBefore);
        }
        ASSERT_TRUE(Pick({"Ada"}, 1));
        Select({0});
        Click(IDC_REMOVE_RECIPIENTS);
        ASSERT_TRUE(Lines().empty());
    }
    ProcessUsage(Keypad, &handlesAfter, &memoryAfter);
    printf("50 emptied keys: handles %lu -> %lu, private memory %lu -> %lu KiB\n", handlesBefore,
           handlesAfter, (unsigned long)(memoryBefore / 1024), (unsigned long)(memoryAfter / 1024));
    EXPECT_LE(handlesAfter, handlesBefore + 2);
    EXPECT_LT(memoryAfter, memoryBefore + 512 * 1024);
    Close(IDCANCEL);
}

// Fax jobs from a key while the page takes a recipient off that key and puts
// it back, two hundred times: every message goes to the old list or the new
// one, each recipient whole.
TEST_F(FaxSheet, JobsDuringEditsOfTheirKeySendOneWholeList) {
    KeepKeyFiles();
    std::string outbox = TempPath("keypad-sheet-outbox\\");
    ClearFolder(outbox);
    WriteStore(std::string(FaxProfile) + "FaxGateway=fax.test.example\r\nOutbox=" + outbox +
               "\r\n" + MailProfile);
    Open();
    SpeedDial();
    Key(2);
    ASSERT_TRUE(Pick({"Ada", "555 0102"}, 2));
    const char *const endings[] = {"Xferred to Xchg", "No Fax Number!", "MS Xchg Error!",
                                   "Not Enough Mem!", "Fax Error!",     "Scanning Error!"};
    std::string page = WriteSourcePage(GreyPage, TempPath("keypad-speed-dial-page.bmp"));
    int jobs = 0;
    for (int round = 0; round < 200; round++) {
        Select({1});
        Click(IDC_REMOVE_RECIPIENTS);
        ASSERT_EQ(1u, Lines().size());
        // The next job starts once the last one has taken its page and ended
        // (its end clears the key chosen before it), and takes its key while
        // the recipient is being put back.
        if (jobs == 0 || (Device("pages").substr(0, 1) == "0" &&
                          WaitForJobEnd(endings, 6, 0).substr(0, 1) != "(")) {
            Device("load " + page);
            PressKey("speed2");
            PressKey("fax");
            jobs++;
        }
        ASSERT_TRUE(Pick({"555 0102"}, 2));
    }
    EXPECT_EQ("Xferred to Xchg", WaitForJobEnd(endings, 6, 60000));
    Close(IDCANCEL);
    std::vector<std::string> messages = FilesMatching(outbox + "*.eml");
    EXPECT_EQ(jobs, (int)messages.size());
    const std::string ada = "\"Ada Brandt\" <5550101@fax.test.example>";
    const std::string both = ada + ",\r\n \"Bob\" <5550102@fax.test.example>";
    int withBob = 0;
    for (const std::string &name : messages) {
        std::string text = ReadFileText(outbox + name);
        size_t from = text.find("\r\nTo: "), to = text.find("\r\nSubject:");
        ASSERT_TRUE(from != std::string::npos && to != std::string::npos) << name;
        std::string list = text.substr(from + 6, to - from - 6);
        EXPECT_TRUE(list == ada || list == both) << list;
        withBob += list == both;
        DeleteFileA((outbox + name).c_str());
    }
    printf("%d jobs during 200 edits: %d to both recipients, %d to one\n", jobs, withBob,
           jobs - withBob);
}

// Remove All and then Cancel: the key's entry is as the page left it, so a
// fax job from that key finds no recipient, and the next OK of the sheet
// writes the key.
TEST_F(FaxSheet, RemoveAllThenCancelLeavesTheKeyEmptyForAJobAndTheNextOk) {
    OpenSpeedDials();
    Key(2);
    ASSERT_TRUE(Pick({"Ada", "555 0102"}, 2));
    Close(IDOK);
    ASSERT_EQ("2", Saved("NumberOfFaxRecip2"));
    OpenAgain();
    SpeedDial();
    Key(2);
    ASSERT_EQ(2u, Lines().size());
    Click(IDC_REMOVE_ALL_RECIPIENTS);
    EXPECT_TRUE(Lines().empty());
    Close(IDCANCEL);
    EXPECT_EQ("2", Saved("NumberOfFaxRecip2")) << "Cancel writes nothing";

    Device("load " + WriteSourcePage(GreyPage, TempPath("keypad-speed-dial-page.bmp")));
    PressKey("speed2");
    const char *const endings[] = {"No Fax Number!", "Xferred to Xchg", "MS Xchg Error!",
                                   "Not Enough Mem!", "Fax Error!"};
    EXPECT_EQ("No Fax Number!", RunJob("fax", endings, 5, 60000));
    // The next OK writes the key, also without its tab shown.
    OpenAgain();
    Close(IDOK);
    EXPECT_EQ("0", Saved("NumberOfFaxRecip2"));
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(ProductFile("2.DES").c_str()));
}

} // namespace
