// The mail library binding, profile discovery, the fax service start, the
// profile combo boxes and the "Create New Profile" dialog, against the
// stand-in library of the test prefix.
#include <gtest/gtest.h>

#include "app/app.h"
#include "app/settings.h"
#include "fax_fixture.h"
#include "panel/panel_state.h"
#include "res/resource.h"
#include "telvex_ids.h"
#include "ui/create_profile.h"

namespace {

class Profiles : public ::testing::Test {
  protected:
    FaxStateGuard Guard;
    FileBackup Installation{std::string(WindowsFile("VARNEL.INI"))};

    static std::string WindowsFile(const char *name) {
        char path[MAX_PATH];
        GetWindowsDirectoryA(path, sizeof path);
        return std::string(path) + "\\" + name;
    }
    // Makes the product's library directory a folder of the test's own.
    std::string UseLibraryFolder(const char *copyFrom) {
        char temp[MAX_PATH];
        GetTempPathA(sizeof temp, temp);
        std::string folder = std::string(temp) + "telvex-bind\\";
        CreateDirectoryA(folder.c_str(), nullptr);
        DeleteFileA((folder + "Telvex.dll").c_str());
        if (copyFrom) {
            char exe[MAX_PATH];
            GetModuleFileNameA(nullptr, exe, sizeof exe);
            std::string beside(exe);
            beside = beside.substr(0, beside.rfind('\\') + 1) + copyFrom;
            EXPECT_TRUE(CopyFileA(beside.c_str(), (folder + "Telvex.dll").c_str(), FALSE));
        }
        WritePrivateProfileStringA("VarnelSystem", "DLL32", folder.c_str(), "VARNEL.INI");
        return folder;
    }
    std::vector<std::string> Names(const ProfileList &list, DWORD count) {
        std::vector<std::string> names;
        for (DWORD i = 0; i < count; i++) {
            names.push_back(list.Names[i]);
        }
        return names;
    }
};

TEST_F(Profiles, BindingTwiceLoadsTheLibraryOnce) {
    ASSERT_EQ(0, BindTelvex());
    HMODULE first = TelvexBinding.Library;
    ASSERT_EQ(0, BindTelvex());
    EXPECT_EQ(first, TelvexBinding.Library);
    UnbindTelvex();
    EXPECT_EQ(nullptr, TelvexBinding.Library);
    EXPECT_EQ(nullptr, GetModuleHandleA("Telvex.dll")) << "a second load was left behind";
}

TEST_F(Profiles, ALibraryWithoutOrdinal16CountsAsMissing) {
    std::string folder = UseLibraryFolder("telvex_test_noservice.dll");
    EXPECT_EQ(IDS_FAX_DLL_MISSING, BindTelvex());
    EXPECT_EQ(nullptr, TelvexBinding.Library);
    EXPECT_EQ(nullptr, GetModuleHandleA((folder + "Telvex.dll").c_str()));
    UseLibraryFolder(nullptr);
    EXPECT_EQ(IDS_FAX_DLL_MISSING, BindTelvex());
    DeleteFileA((folder + "Telvex.dll").c_str());
    RemoveDirectoryA(folder.c_str());
}

TEST_F(Profiles, UnbindingAfterAFailedBindStillReleasesTheLists) {
    WriteStore({"Fax=25", "Mail=28"});
    ASSERT_EQ(0, BindTelvex());
    ASSERT_EQ(0, DiscoverProfiles());
    // The library goes away while the lists are held, and binding it again fails.
    FreeLibrary(TelvexBinding.Library);
    TelvexBinding.Library = nullptr;
    UseLibraryFolder(nullptr);
    ASSERT_EQ(IDS_FAX_DLL_MISSING, BindTelvex());
    ASSERT_NE(nullptr, FaxProfiles.Block);
    UnbindTelvex();
    EXPECT_EQ(nullptr, FaxProfiles.Block);
    EXPECT_EQ(nullptr, MailProfiles.Block);
    EXPECT_EQ(0u, FaxProfileCount);
    EXPECT_EQ(0u, MailProfileCount);
}

TEST_F(Profiles, MailServicesFollowTheLibraryAndAreOffWithoutIt) {
    WriteStore({"Fax=25"}, "InternetService=0\r\nMSNService=1\r\n");
    DWORD internet = 9, msn = 9;
    QueryMailServices(&internet, &msn);
    EXPECT_EQ(0u, internet);
    EXPECT_EQ(0u, msn);
    ASSERT_EQ(0, BindTelvex());
    QueryMailServices(&internet, &msn);
    EXPECT_EQ(0u, internet);
    EXPECT_NE(0u, msn);
}

TEST_F(Profiles, DiscoverySortsProfilesByTheirServices) {
    // Fax and Internet Mail together, or a profile lacking 8 or 16, is in neither list.
    WriteStore({"Both=29", "Office Fax=25", "Lan Mail=28", "Msn Mail=56", "No Store=17",
                "Half Mail=12", "Msn And Internet=60"});
    ASSERT_EQ(0, BindTelvex());
    EXPECT_EQ(0, DiscoverProfiles());
    EXPECT_EQ(std::vector<std::string>({"Office Fax"}), Names(FaxProfiles, FaxProfileCount));
    EXPECT_EQ(std::vector<std::string>({"Lan Mail", "Msn Mail", "Msn And Internet"}),
              Names(MailProfiles, MailProfileCount));
    EXPECT_STREQ("Office Fax", FaxProfileName);
    EXPECT_STREQ("Lan Mail", MailProfileName);
}

TEST_F(Profiles, AStoredProfileNameIsKeptEvenWhenItIsGone) {
    WriteStore({"Office Fax=25", "Lan Mail=28"});
    lstrcpynA(FaxProfileName, "Retired Fax", ProfileNameSize);
    ASSERT_EQ(0, BindTelvex());
    EXPECT_EQ(0, DiscoverProfiles());
    EXPECT_STREQ("Retired Fax", FaxProfileName);
    EXPECT_STREQ("Lan Mail", MailProfileName);
}

TEST_F(Profiles, OnlyMailProfilesSayNoFaxProfileAndForceEmail) {
    WriteStore({"Both=29", "Lan Mail=28"});
    ASSERT_EQ(0, BindTelvex());
    Destination = 0;
    EXPECT_EQ(IDS_NO_FAX_PROFILE, DiscoverProfiles());
    EXPECT_EQ(1, Destination);
    EXPECT_EQ(nullptr, FaxProfiles.Block);
    EXPECT_EQ(0u, FaxProfileCount);
    EXPECT_EQ(1u, MailProfileCount);
}

TEST_F(Profiles, OnlyFaxProfilesSayNoMailProfileAndForceFax) {
    WriteStore({"Office Fax=25", "Second Fax=27"});
    ASSERT_EQ(0, BindTelvex());
    Destination = 1;
    EXPECT_EQ(IDS_NO_MAIL_PROFILE, DiscoverProfiles());
    EXPECT_EQ(0, Destination);
    EXPECT_EQ(2u, FaxProfileCount);
    EXPECT_EQ(nullptr, MailProfiles.Block);
}

TEST_F(Profiles, NoUsableProfileSaysNoProfiles) {
    WriteStore({"Both=29"});
    ASSERT_EQ(0, BindTelvex());
    EXPECT_EQ(IDS_NO_PROFILES, DiscoverProfiles());
    EXPECT_EQ(nullptr, FaxProfiles.Block);
    EXPECT_EQ(nullptr, MailProfiles.Block);
    WriteStore({});
    EXPECT_EQ(IDS_NO_PROFILES, DiscoverProfiles());
}

TEST_F(Profiles, WithoutProfilesTheFaxServiceStopsWithTheMessage) {
    WriteStore({"Both=29"});
    std::string shown;
    DialogAnswer box("Varnel Keypad Program", ReadAndPressOk, &shown);
    EXPECT_EQ(0, InitFaxService());
    ASSERT_EQ(1, box.Wait());
    EXPECT_EQ("Cannot find any existing profiles with faxing or Internet Mail capability. Fax "
              "service will be disabled!",
              shown);
    EXPECT_EQ(0, FaxServiceEnabled);
    EXPECT_EQ(nullptr, TelvexBinding.Library);
}

TEST_F(Profiles, WithoutTheLibraryTheFaxServiceStopsWithItsMessage) {
    UseLibraryFolder(nullptr);
    std::string shown;
    DialogAnswer box("Varnel Keypad Program", ReadAndPressOk, &shown);
    EXPECT_EQ(0, InitFaxService());
    ASSERT_EQ(1, box.Wait());
    EXPECT_EQ("System Error: Fax DLL not found. Fax service will be disabled!", shown);
    EXPECT_EQ(0, FaxServiceEnabled);
}

TEST_F(Profiles, MailProfilesAloneStartTheServiceSilentlyAndOnce) {
    WriteStore({"Lan Mail=28"});
    WritePrivateProfileStringA("Varnel FAX", "UseProfile", "0", SettingsPathFor("SYS.INI"));
    EXPECT_EQ(1, InitFaxService());
    EXPECT_EQ(1, FaxServiceEnabled);
    EXPECT_EQ(1, Destination);
    WriteStore({});
    EXPECT_EQ(1, InitFaxService()) << "a started service is not started again";
    EXPECT_EQ(1u, MailProfileCount);
}

// A window with a combo box and the two destination buttons of the profile page.
struct ProfilePage {
    HWND Page, Combo, FaxButton, MailButton;
    ProfilePage() {
        Page = CreateWindowA("STATIC", "", WS_POPUP, 0, 0, 300, 200, nullptr, nullptr, nullptr,
                             nullptr);
        Combo = CreateWindowA("COMBOBOX", "", WS_CHILD | CBS_DROPDOWNLIST | CBS_SORT, 0, 0, 200,
                              100, Page, nullptr, nullptr, nullptr);
        FaxButton = CreateWindowA("BUTTON", "", WS_CHILD | BS_RADIOBUTTON, 0, 0, 10, 10, Page,
                                  (HMENU)IDC_FAX_PROFILE_BUTTON, nullptr, nullptr);
        MailButton = CreateWindowA("BUTTON", "", WS_CHILD | BS_RADIOBUTTON, 0, 0, 10, 10, Page,
                                   (HMENU)IDC_MAIL_PROFILE_BUTTON, nullptr, nullptr);
    }
    ~ProfilePage() { DestroyWindow(Page); }
    std::string Selected() {
        char text[128] = "";
        int at = (int)SendMessageA(Combo, CB_GETCURSEL, 0, 0);
        SendMessageA(Combo, CB_GETLBTEXT, at, (LPARAM)text);
        return text;
    }
};

TEST_F(Profiles, TheComboSelectsTheChosenProfileIgnoringCase) {
    WriteStore({"Office Fax=25", "Lan Mail=28", "Msn Mail=56"});
    ASSERT_EQ(0, BindTelvex());
    lstrcpynA(MailProfileName, "msn mail", ProfileNameSize);
    ASSERT_EQ(0, DiscoverProfiles());
    ProfilePage page;
    int found = FillProfileCombo(page.Combo, 1);
    EXPECT_EQ(2, SendMessageA(page.Combo, CB_GETCOUNT, 0, 0));
    EXPECT_EQ(found, SendMessageA(page.Combo, CB_GETCURSEL, 0, 0));
    EXPECT_EQ("Msn Mail", page.Selected());
}

TEST_F(Profiles, AnUnknownChosenProfileSelectsTheFirstAndGivesMinusOne) {
    WriteStore({"Office Fax=25", "Lan Mail=28"});
    ASSERT_EQ(0, BindTelvex());
    lstrcpynA(FaxProfileName, "Retired Fax", ProfileNameSize);
    ASSERT_EQ(0, DiscoverProfiles());
    ProfilePage page;
    EXPECT_EQ(-1, FillProfileCombo(page.Combo, 0));
    EXPECT_EQ("Office Fax", page.Selected());
}

TEST_F(Profiles, AnEmptyListDisablesItsDestination) {
    WriteStore({"Lan Mail=28"});
    ASSERT_EQ(0, BindTelvex());
    ASSERT_EQ(IDS_NO_FAX_PROFILE, DiscoverProfiles());
    ProfilePage page;
    Destination = 0;
    EXPECT_EQ(0, FillProfileCombo(page.Combo, 0));
    EXPECT_FALSE(IsWindowEnabled(page.Combo));
    EXPECT_FALSE(IsWindowEnabled(page.FaxButton));
    EXPECT_TRUE(IsWindowEnabled(page.MailButton));
    EXPECT_EQ(1, Destination);
}

// What the user does in the two dialogs of a profile creation.
struct CreationScript {
    const char *Name;
    int MakeDefault;
    std::string CheckText;
    int EmptyNameKeptOpen = 0;
    int LibraryAsked = 0; // the library's own dialog came up and was answered
};

void AnswerNewProfile(HWND dialog, void *) {
    PressButton(dialog, IDOK);
}

void FillCreateDialog(HWND dialog, void *context) {
    CreationScript *script = (CreationScript *)context;
    script->CheckText = WindowText(GetDlgItem(dialog, IDC_SET_DEFAULT_PROFILE));
    SendMessageA(GetDlgItem(dialog, IDC_PROFILE_NAME), WM_SETTEXT, 0, (LPARAM) "");
    // Sent, not posted: the click has been handled when the call returns.
    SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    script->EmptyNameKeptOpen = IsWindow(dialog) && IsWindowVisible(dialog);
    SendMessageA(GetDlgItem(dialog, IDC_PROFILE_NAME), WM_SETTEXT, 0, (LPARAM)script->Name);
    SendMessageA(GetDlgItem(dialog, IDC_SET_DEFAULT_PROFILE), BM_SETCHECK,
                 script->MakeDefault ? BST_CHECKED : BST_UNCHECKED, 0);
    DialogAnswer library("New Profile", AnswerNewProfile);
    PressButton(dialog, IDOK);
    script->LibraryAsked = library.Wait();
}

TEST_F(Profiles, CreatingAMailProfileMakesItTheDefaultAndFindsIt) {
    WriteStore({"Office Fax=25", "Lan Mail=28"});
    ASSERT_EQ(0, BindTelvex());
    ASSERT_EQ(0, DiscoverProfiles());
    CreationScript script = {"Home Mail", 1, ""};
    DialogAnswer answer("Create New Profile", FillCreateDialog, &script);
    INT_PTR result = DialogBoxParamA(AppInstance, MAKEINTRESOURCEA(IDD_CREATE_PROFILE), nullptr,
                                     CreateProfileDialogProc, IDM_CREATE_INTERNET_PROFILE);
    ASSERT_EQ(1, answer.Wait());
    EXPECT_EQ(1, result);
    EXPECT_EQ("Set As Default E-MAIL Profile", script.CheckText);
    EXPECT_EQ(1, script.EmptyNameKeptOpen);
    EXPECT_EQ(1, script.LibraryAsked);
    EXPECT_EQ(IDM_CREATE_INTERNET_PROFILE, ProfileKindCommand);
    EXPECT_EQ("Home Mail", IniValue(ProductFile("SYS.INI"), "Varnel FAX", "MS Exchange Email"));
    EXPECT_STREQ("Home Mail", MailProfileName);
    EXPECT_EQ("28", IniValue(ProductFile("TELVEX.INI"), "Profile:Home Mail", "Services"));
    EXPECT_EQ(std::vector<std::string>({"Lan Mail", "Home Mail"}),
              Names(MailProfiles, MailProfileCount));
}

TEST_F(Profiles, EachMenuCommandCreatesItsKind) {
    const struct {
        WORD Command;
        const char *Name;
        const char *Services;
        const char *CheckText;
    } kinds[] = {
        {IDM_CREATE_FAX_PROFILE, "New Fax", "25", "Set As Default Fax Profile"},
        {IDM_CREATE_MSN_PROFILE, "New Msn", "56", "Set As Default E-MAIL Profile"},
        {IDM_CREATE_INTERNET_MSN_PROFILE, "New Both", "60", "Set As Default E-MAIL Profile"},
    };
    WriteStore({"Office Fax=25"});
    // No default fax profile yet: creating one with the box unchecked must not name one.
    WritePrivateProfileStringA("Varnel FAX", "MS Exchange Fax", NULL, SettingsPathFor("SYS.INI"));
    ASSERT_EQ(0, BindTelvex());
    for (const auto &kind : kinds) {
        CreationScript script = {kind.Name, 0, ""};
        DialogAnswer answer("Create New Profile", FillCreateDialog, &script);
        EXPECT_EQ(1, DialogBoxParamA(AppInstance, MAKEINTRESOURCEA(IDD_CREATE_PROFILE), nullptr,
                                     CreateProfileDialogProc, kind.Command));
        EXPECT_EQ(1, answer.Wait());
        EXPECT_EQ(1, script.LibraryAsked);
        EXPECT_EQ(kind.CheckText, script.CheckText);
        EXPECT_EQ(kind.Services,
                  IniValue(ProductFile("TELVEX.INI"), ("Profile:" + std::string(kind.Name)).c_str(),
                           "Services"));
    }
    EXPECT_EQ("(missing)", IniValue(ProductFile("SYS.INI"), "Varnel FAX", "MS Exchange Fax"));
}

// The main window's Profiles menu as its creation leaves it.
struct MenuState {
    int Internet, Msn, Both;
    int Outbox; // 1 when the item is there
};
MenuState ProfileMenuAfterCreation() {
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = MainWindowProc;
    windowClass.hInstance = AppInstance;
    windowClass.lpszClassName = "MailMenuTest";
    RegisterClassA(&windowClass);
    HWND window = CreateWindowExA(0, "MailMenuTest", "", WS_OVERLAPPEDWINDOW, 0, 0, 200, 100,
                                  nullptr, LoadMenuA(AppInstance, MAKEINTRESOURCEA(IDR_MAIN_MENU)),
                                  AppInstance, nullptr);
    auto grey = [](UINT id) {
        return (GetMenuState(MainMenu, id, MF_BYCOMMAND) & MF_GRAYED) ? 1 : 0;
    };
    MenuState state = {grey(IDM_CREATE_INTERNET_PROFILE), grey(IDM_CREATE_MSN_PROFILE),
                       grey(IDM_CREATE_INTERNET_MSN_PROFILE),
                       GetMenuState(MainMenu, IDM_OUTBOX, MF_BYCOMMAND) != (UINT)-1};
    // Closed without the program's shutdown, which belongs to the real run.
    SetWindowLongPtrA(window, GWLP_WNDPROC, (LONG_PTR)DefWindowProcA);
    DestroyWindow(window);
    return state;
}

TEST_F(Profiles, ProfileCommandsFollowTheServicesTheLibraryOffers) {
    WriteStore({"Office Fax=25"}, "InternetService=0\r\nMSNService=1\r\n");
    MenuState state = ProfileMenuAfterCreation();
    EXPECT_EQ(1, state.Internet);
    EXPECT_EQ(0, state.Msn);
    EXPECT_EQ(1, state.Both);
    EXPECT_NE(nullptr, TelvexBinding.Library) << "window creation binds the library";
    UnbindTelvex();
    WriteStore({"Office Fax=25"}, "InternetService=1\r\nMSNService=1\r\n");
    state = ProfileMenuAfterCreation();
    EXPECT_EQ(0, state.Internet + state.Msn + state.Both);
    EXPECT_EQ(1, state.Outbox) << "the library offers its outbox";
    UnbindTelvex();
    // A library with the sixteen entries alone is bound, and the menu has no Outbox.
    UseLibraryFolder("telvex_test_nooptional.dll");
    state = ProfileMenuAfterCreation();
    EXPECT_NE(nullptr, TelvexBinding.Library);
    EXPECT_EQ(0, state.Internet + state.Msn + state.Both + state.Outbox);
    UnbindTelvex();
    UseLibraryFolder(nullptr);
    state = ProfileMenuAfterCreation();
    EXPECT_EQ(3, state.Internet + state.Msn + state.Both) << "without the library all are grey";
    EXPECT_EQ(0, state.Outbox);
}

void CancelDialog(HWND dialog, void *) {
    PressButton(dialog, IDCANCEL);
}

TEST_F(Profiles, CancelCreatesNothing) {
    WriteStore({"Office Fax=25"});
    ASSERT_EQ(0, BindTelvex());
    DialogAnswer answer("Create New Profile", CancelDialog);
    EXPECT_EQ(0, DialogBoxParamA(AppInstance, MAKEINTRESOURCEA(IDD_CREATE_PROFILE), nullptr,
                                 CreateProfileDialogProc, IDM_CREATE_FAX_PROFILE));
    EXPECT_EQ(1, answer.Wait());
    EXPECT_EQ(std::string::npos, ReadFileText(ProductFile("TELVEX.INI")).find("Profile:New"));
}

} // namespace
