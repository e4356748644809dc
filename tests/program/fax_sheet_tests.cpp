// The fax configuration sheet of KEYPAD32.EXE end to end, with the tab
// library and mail library stand-ins: its two tabs, the profile page's
// details and destination, what OK and Cancel leave in SYS.INI, and the
// panel's fax/e-mail key while the sheet is open.
#include <gtest/gtest.h>

#include "program_fixture.h"

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

class FaxSheet : public ProgramFixture {
  protected:
    std::string StoreFile = ProductFile("TELVEX.INI");
    FileBackup Store{StoreFile};
    HWND Sheet = NULL;

    void SetUp() override {
        WriteStore(std::string(FaxProfile) + MailProfile);
        WriteSettings("Varnel Fax", 0);
        ProgramFixture::SetUp();
    }
    void WriteStore(const std::string &profiles) {
        WriteFileText(StoreFile, "[Telvex]\r\nInternetService=1\r\nMSNService=1\r\n" + profiles);
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
        PostMessageA(Keypad.Window, WM_COMMAND, 1004, 0);
        Sheet = WaitForWindow(SheetClass, SheetTitle);
        ASSERT_NE((HWND)NULL, Sheet) << "the sheet did not open";
        ASSERT_TRUE(WaitUntil([&] { return IsWindowVisible(Page(622)); }));
    }
    // The page holding control id, or null.
    HWND Page(int id) {
        HWND control = FindControl(Sheet, id);
        return control ? GetParent(control) : NULL;
    }
    std::string Field(int id) { return ControlText(Page(622), id); }
    bool Checked(int id) {
        return SendMessageA(FindControl(Sheet, id), BM_GETCHECK, 0, 0) == BST_CHECKED;
    }
    void Click(int id) { SendMessageA(FindControl(Sheet, id), BM_CLICK, 0, 0); }
    HWND Strip() { return FindWindowExA(FindControl(Sheet, 103), NULL, "SysTabControl32", NULL); }
    // Closes the sheet with OK (1) or Cancel (2) and waits until it is gone.
    void Close(int id) {
        PostMessageA(Sheet, WM_COMMAND, id, 0);
        ASSERT_TRUE(WaitForWindowGone(Sheet));
    }
    std::string Saved(const char *key) { return IniValue(SettingsFile, "Varnel FAX", key); }
};

TEST_F(FaxSheet, PagesAreMadeOnDemandKeptAndFillTheTabArea) {
    Open();
    HWND profiles = Page(622);
    EXPECT_EQ((HWND)NULL, Page(301)) << "the speed-dial page before its tab was shown";
    ASSERT_TRUE(ClickTab(Strip(), 1));
    ASSERT_TRUE(WaitUntil([&] { return Page(301) && IsWindowVisible(Page(301)); }));
    HWND speedDial = Page(301);
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
    EXPECT_EQ(speedDial, Page(301)) << "the speed-dial page was made again";
    Close(2);
}

TEST_F(FaxSheet, ShowsTheDetailsOfTheChosenFaxAndMailProfiles) {
    Open();
    EXPECT_TRUE(Checked(622));
    EXPECT_FALSE(IsWindowEnabled(FindControl(Sheet, 204)));
    EXPECT_EQ("User:", Field(624));
    EXPECT_EQ("Varnel User", Field(206));
    EXPECT_EQ("555 0100", Field(207));
    EXPECT_EQ("A4 (210 x 297 mm)", Field(208));
    EXPECT_EQ("Draft (200 x 100 dpi)", Field(209));
    EXPECT_EQ("", Field(210)) << "a cover page name that is not in use";
    Click(623);
    EXPECT_EQ("Full Name:", Field(624));
    EXPECT_EQ("Connect Setting:", Field(628));
    EXPECT_EQ("Mail User", Field(206));
    EXPECT_EQ("muser", Field(207));
    EXPECT_EQ("keypad@varnel.example", Field(208));
    EXPECT_EQ("mail.varnel.example", Field(209));
    EXPECT_EQ("Use Modem, Dialing setting:Office Line", Field(210));
    EXPECT_FALSE(IsWindowEnabled(FindControl(Sheet, 203)));
    EXPECT_TRUE(IsWindowEnabled(FindControl(Sheet, 204)));
    Close(2);
}

// A stored profile that no longer exists gives way to the one the list shows.
TEST_F(FaxSheet, AProfileNameNoLongerListedShowsTheListedOne) {
    WriteSettings("Gone Away", 0);
    Open();
    EXPECT_EQ("Varnel Fax", ControlText(Page(622), 203));
    EXPECT_EQ("Varnel User", Field(206));
    Close(1);
    EXPECT_EQ("Varnel Fax", Saved("MS Exchange Fax"));
}

TEST_F(FaxSheet, OkWritesTheChoiceAndCancelLeavesTheNewDestinationUnsaved) {
    Open();
    Click(623);
    EXPECT_EQ(" I", WaitForLcd(0, "LT TXT DFT 050 I").substr(14));
    Close(2);
    EXPECT_EQ("0", Saved("UseProfile"));
    EXPECT_EQ("Varnel Fax", Saved("MS Exchange Fax"));
    EXPECT_EQ("LT TXT DFT 050 I", LcdStatus());

    PostMessageA(Keypad.Window, WM_COMMAND, 1004, 0);
    Sheet = WaitForWindow(SheetClass, SheetTitle);
    ASSERT_NE((HWND)NULL, Sheet);
    ASSERT_TRUE(WaitUntil([&] { return Page(622) != NULL; }));
    EXPECT_TRUE(Checked(623)) << "the destination in force";
    Close(1);
    EXPECT_EQ("1", Saved("UseProfile"));
    EXPECT_EQ("Varnel Fax", Saved("MS Exchange Fax"));
    EXPECT_EQ("Varnel Mail", Saved("MS Exchange Email"));
}

TEST_F(FaxSheet, ThePanelKeySwitchesTheOpenPage) {
    Open();
    PressKey("destination");
    ASSERT_TRUE(WaitUntil([&] { return Checked(623); }));
    EXPECT_FALSE(Checked(622));
    EXPECT_EQ("Mail User", Field(206));
    PressKey("destination");
    ASSERT_TRUE(WaitUntil([&] { return Checked(622); }));
    EXPECT_EQ("Varnel User", Field(206));
    Close(2);
}

TEST_F(FaxSheet, AKindWithoutProfilesIsDisabledAndTheOtherForced) {
    WriteStore(FaxProfile);
    WriteSettings("Varnel Fax", 1);
    Open();
    EXPECT_TRUE(Checked(622));
    EXPECT_FALSE(IsWindowEnabled(FindControl(Sheet, 623)));
    EXPECT_FALSE(IsWindowEnabled(FindControl(Sheet, 204)));
    Close(1);
    EXPECT_EQ("0", Saved("UseProfile"));
}

// A write that fails is reported and the sheet stays for another try.
TEST_F(FaxSheet, AFailedWriteAtOkIsReported) {
    Open();
    Click(623);
    // A folder where the settings file was cannot be written.
    std::string kept = SettingsFile + ".kept";
    ASSERT_TRUE(MoveFileA(SettingsFile.c_str(), kept.c_str()));
    ASSERT_TRUE(CreateDirectoryA(SettingsFile.c_str(), NULL));
    PostMessageA(Sheet, WM_COMMAND, IDOK, 0);
    HWND box = WaitForWindow("#32770", AppTitle);
    RemoveDirectoryA(SettingsFile.c_str());
    MoveFileA(kept.c_str(), SettingsFile.c_str());
    ASSERT_NE((HWND)NULL, box) << "no message";
    EXPECT_EQ("The fax settings could not be written to SYS.INI.", ControlText(box, 0xFFFF));
    PostMessageA(box, WM_COMMAND, IDOK, 0);
    ASSERT_TRUE(WaitForWindowGone(box));
    EXPECT_TRUE(IsWindow(Sheet));
    Close(1);
    EXPECT_EQ("1", Saved("UseProfile"));
}

TEST_F(FaxSheet, WithoutTheTabLibraryTheSheetSaysItCannotOpen) {
    std::string library = ProductFile("DLL32\\SFTTB32.dll");
    std::string away = library + ".away";
    ASSERT_TRUE(MoveFileA(library.c_str(), away.c_str()));
    Start();
    PostMessageA(Keypad.Window, WM_COMMAND, 1004, 0);
    HWND box = WaitForWindow("#32770", AppTitle);
    MoveFileA(away.c_str(), library.c_str());
    ASSERT_NE((HWND)NULL, box);
    EXPECT_EQ("The fax configuration cannot be opened.", ControlText(box, 0xFFFF));
    PostMessageA(box, WM_COMMAND, IDOK, 0);
    ASSERT_TRUE(WaitForWindowGone(box));
    EXPECT_EQ("0", Saved("UseProfile"));
    EXPECT_EQ(0, ExitProgram(&Keypad));
}

} // namespace
