#include "ui/fax_sheet.h"

#include <stdio.h>

#include "app/app.h"
#include "app/settings.h"
#include "fax/profiles.h"
#include "fax/speed_dial.h"
#include "fax/telvex.h"
#include "panel/panel.h"
#include "panel/panel_state.h"
#include "res/resource.h"
#include "ui/dialog_tools.h"
#include "ui/help.h"
#include "ui/speed_dial_page.h"
#include "ui/tab_library.h"

HWND FaxConfigSheet;
char ShownProfileName[80];

static HWND SheetTabs; // the sheet's tab control while it is open

static const TabPageRecord ProfileTab = {
    {0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0x00FF0000, 0, 0, 1, 0}, CreateProfilePage, {}};
static const TabPageRecord SpeedDialTab = {
    {0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0x00FF0000, 0, 0, 1, 0}, CreateSpeedDialPage, {}};
static const TabControlRecord TabOptions = {{17, 1, 0, 0, 0, 0, 1, 0, 1}};

// Labels of the five detail fields: fax, then e-mail.
static const char *const DetailLabels[2][ProfileDetailCount] = {
    {"User:", "Fax Number:", "Paper Size:", "Resolution:", "Cover Page:"},
    {"Full Name:", "Login Username:", "E-Mail Address:", "E-Mail Server:", "Connect Setting:"},
};

// How the pages go: the choices of list 211, by the value of "SendPagesAs".
static const char *const PagesAsChoices[2] = {"separate image files", "one PDF document"};

// A text setting into a buffer of the library's setting size, then at most
// the field's 79 characters into out: 1, or 0 and out empty.
static int ReadText(SettingReader read, const char *profile, WORD id, char *out) {
    char value[SettingTextSize] = "";
    SettingRequest request = {id, value};
    out[0] = 0;
    if (!read(profile, &request))
        return 0;
    value[SettingTextSize - 1] = 0;
    lstrcpynA(out, value, ProfileDetailSize);
    return 1;
}

// A 16-bit setting; the library writes only the low word.
static int ReadWord(SettingReader read, const char *profile, WORD id, WORD *out) {
    DWORD value = 0;
    SettingRequest request = {id, &value};
    if (!read(profile, &request))
        return 0;
    *out = LOWORD(value);
    return 1;
}

// The text of an index 0..3 from the string table; any other index shows nothing.
static void IndexText(SettingReader read, const char *profile, WORD id, WORD firstString,
                      char *out) {
    WORD index;
    out[0] = 0;
    if (ReadWord(read, profile, id, &index) && index <= 3)
        LoadStringA(AppInstance, firstString + index, out, ProfileDetailSize);
}

static void ComposeFaxDetails(SettingReader read, const char *profile,
                              char details[ProfileDetailCount][ProfileDetailSize]) {
    char user[SettingTextSize] = "";
    char number[SettingTextSize] = "";
    char *pair[2] = {user, number};
    SettingRequest request = {SettingUserAndFax, pair};
    if (read(profile, &request)) {
        user[SettingTextSize - 1] = number[SettingTextSize - 1] = 0;
        lstrcpynA(details[0], user, ProfileDetailSize);
        lstrcpynA(details[1], number, ProfileDetailSize);
    }
    IndexText(read, profile, SettingPaperSize, IDS_PAPER_BASE, details[2]);
    IndexText(read, profile, SettingResolution, IDS_RESOLUTION_BASE, details[3]);
    WORD cover;
    if (ReadWord(read, profile, SettingCoverPageInUse, &cover) && cover == 1)
        ReadText(read, profile, SettingCoverPage, details[4]);
}

static void ComposeMailDetails(SettingReader read, const char *profile,
                               char details[ProfileDetailCount][ProfileDetailSize]) {
    static const WORD texts[] = {SettingFullName, SettingLogin, SettingEmailAddress, SettingServer};
    for (int i = 0; i < 4; i++)
        ReadText(read, profile, texts[i], details[i]);
    WORD kind;
    if (!ReadWord(read, profile, SettingConnection, &kind))
        return;
    if (kind != 2) {
        lstrcpynA(details[4], "Use NetWork To Connect", ProfileDetailSize);
        return;
    }
    char dialing[SettingTextSize] = "";
    SettingRequest request = {SettingDialing, dialing};
    if (read(profile, &request)) {
        dialing[SettingTextSize - 1] = 0;
        snprintf(details[4], ProfileDetailSize, "Use Modem, Dialing setting:%s", dialing);
    }
}

void ComposeProfileDetails(SettingReader read, const char *profile, WORD destination,
                           char details[ProfileDetailCount][ProfileDetailSize]) {
    for (int i = 0; i < ProfileDetailCount; i++)
        details[i][0] = 0;
    if (destination)
        ComposeMailDetails(read, profile, details);
    else
        ComposeFaxDetails(read, profile, details);
}

void SetProfileLabels(HWND page) {
    for (int i = 0; i < ProfileDetailCount; i++)
        SetDlgItemTextA(page, IDC_DETAIL_LABEL_FIRST + i, DetailLabels[Destination ? 1 : 0][i]);
}

void ShowProfileInfo(HWND page, const char *profile) {
    SetProfileLabels(page);
    char details[ProfileDetailCount][ProfileDetailSize] = {};
    if (TelvexBinding.Library)
        ComposeProfileDetails(TelvexBinding.RegistryGetSetting, profile, Destination, details);
    for (int i = 0; i < ProfileDetailCount; i++)
        SetDlgItemTextA(page, IDC_DETAIL_FIRST + i, details[i]);
}

// The profile page, found through the tab-open slot it keeps.
static HWND ProfilePage() {
    return ActiveSettingsDialog && GetParent(ActiveSettingsDialog) == FaxConfigSheet
               ? ActiveSettingsDialog
               : NULL;
}

// Copies the texts of the two profile lists into the names in use.
static void TakeListedProfiles(HWND page) {
    LockProfileChoice();
    GetDlgItemTextA(page, IDC_FAX_PROFILE_LIST, FaxProfileName, ProfileNameSize);
    GetDlgItemTextA(page, IDC_MAIL_PROFILE_LIST, MailProfileName, ProfileNameSize);
    UnlockProfileChoice();
}

int SaveProfileChoice(int ok) {
    if (ActiveSettingsTips) {
        DestroyWindow(ActiveSettingsTips);
        ActiveSettingsTips = NULL;
    }
    if (!ok)
        return 1;
    HWND page = ProfilePage();
    if (page) {
        TakeListedProfiles(page);
        LockProfileChoice();
        PagesAsDocument = SendDlgItemMessageA(page, IDC_PAGES_AS_LIST, CB_GETCURSEL, 0, 0) == 1;
        SearchableText = IsDlgButtonChecked(page, IDC_SEARCHABLE_TEXT) == BST_CHECKED;
        UnlockProfileChoice();
    }
    const char *file = SettingsPathFor("SYS.INI");
    int written = WritePrivateProfileStringA("Varnel FAX", "MS Exchange Fax", FaxProfileName, file);
    written &= WritePrivateProfileStringA("Varnel FAX", "MS Exchange Email", MailProfileName, file);
    written &= WriteIntSetting("Varnel FAX", "UseProfile", file, Destination);
    written &= WriteIntSetting("Varnel FAX", "SendPagesAs", file, PagesAsDocument);
    written &= WriteIntSetting("Varnel FAX", "SearchableText", file, SearchableText);
    return written != 0;
}

// Shows the profile chosen in the list of a destination.
static void ShowListedProfile(HWND page, int destination) {
    GetDlgItemTextA(page, destination ? IDC_MAIL_PROFILE_LIST : IDC_FAX_PROFILE_LIST,
                    ShownProfileName, sizeof ShownProfileName);
    ShowProfileInfo(page, ShownProfileName);
}

static void ChangeDestination(HWND page, WORD destination) {
    EnableWindow(GetDlgItem(page, IDC_FAX_PROFILE_LIST), destination == 0);
    EnableWindow(GetDlgItem(page, IDC_MAIL_PROFILE_LIST), destination == 1);
    // The speed-dial page's key goes back into the set it was shown from.
    if (SpeedDialPage)
        StoreKeyAndLabel(SpeedDialPage);
    LockProfileChoice();
    Destination = destination;
    UnlockProfileChoice();
    if (SpeedDialKey)
        ShowSpeedDialLabel();
    ShowStatusLine();
    if (SpeedDialPage)
        LoadKeyIntoPage(SpeedDialPage);
    ShowListedProfile(page, destination);
}

// A chosen name that the list no longer holds gives way to the one the list shows.
static void FillList(HWND page, int which, char *chosen) {
    HWND list = GetDlgItem(page, which ? IDC_MAIL_PROFILE_LIST : IDC_FAX_PROFILE_LIST);
    if (FillProfileCombo(list, which) == -1 || !chosen[0]) {
        LockProfileChoice();
        GetWindowTextA(list, chosen, ProfileNameSize);
        UnlockProfileChoice();
    }
}

static BOOL InitProfilePage(HWND page, LPARAM parameter) {
    ActiveSettingsDialog = page;
    WORD before = Destination;
    FillList(page, 0, FaxProfileName);
    FillList(page, 1, MailProfileName);
    WORD destination = Destination;
    if (destination != before) {
        // An empty kind forced the other one; the job takes it under the lock.
        LockProfileChoice();
        Destination = destination;
        UnlockProfileChoice();
    }
    // Only the checked button of the group is a tab stop.
    CheckRadioButton(page, IDC_FAX_PROFILE_BUTTON, IDC_MAIL_PROFILE_BUTTON,
                     IDC_FAX_PROFILE_BUTTON + destination);
    EnableWindow(GetDlgItem(page, destination ? IDC_FAX_PROFILE_LIST : IDC_MAIL_PROFILE_LIST),
                 FALSE);
    lstrcpynA(ShownProfileName, destination ? MailProfileName : FaxProfileName,
              sizeof ShownProfileName);
    ShowProfileInfo(page, ShownProfileName);
    for (const char *choice : PagesAsChoices)
        SendDlgItemMessageA(page, IDC_PAGES_AS_LIST, CB_ADDSTRING, 0, (LPARAM)choice);
    SendDlgItemMessageA(page, IDC_PAGES_AS_LIST, CB_SETCURSEL, PagesAsDocument, 0);
    CheckDlgButton(page, IDC_SEARCHABLE_TEXT, SearchableText ? BST_CHECKED : BST_UNCHECKED);
    EnableWindow(GetDlgItem(page, IDC_SEARCHABLE_TEXT), PagesAsDocument);
    SetFocus(GetDlgItem(page, IDC_FAX_PROFILE_BUTTON + destination));
    TabLibrary.SetPageActive(page, parameter, 0);
    return !TabLibrary.IsRegisteredDialog(GetParent(page));
}

static void OnProfileCommand(HWND page, WORD id, WORD code) {
    if ((id == IDC_FAX_PROFILE_LIST || id == IDC_MAIL_PROFILE_LIST) && code == CBN_SELCHANGE) {
        ShowListedProfile(page, id == IDC_MAIL_PROFILE_LIST);
    } else if (id == IDC_PAGES_AS_LIST && code == CBN_SELCHANGE) {
        // Only a PDF document can carry the text.
        EnableWindow(GetDlgItem(page, IDC_SEARCHABLE_TEXT),
                     SendDlgItemMessageA(page, IDC_PAGES_AS_LIST, CB_GETCURSEL, 0, 0) == 1);
    } else if ((id == IDC_FAX_PROFILE_BUTTON || id == IDC_MAIL_PROFILE_BUTTON) &&
               code == BN_CLICKED) {
        ChangeDestination(page, id - IDC_FAX_PROFILE_BUTTON);
    }
}

INT_PTR CALLBACK ProfilePageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG:
        return InitProfilePage(page, lParam);
    case WM_COMMAND:
        OnProfileCommand(page, LOWORD(wParam), HIWORD(wParam));
        break;
    case WM_HELP:
        AnswerHelpRequest(page, (const HELPINFO *)lParam);
        return TRUE;
    case WM_DESTROY:
        if (ActiveSettingsDialog == page)
            ActiveSettingsDialog = NULL;
        break;
    }
    return TabLibrary.HandleDialogMessage(page, message, wParam, lParam) ? TRUE : FALSE;
}

// Makes, keeps or destroys one page, as the tab library asks.
static HWND ServePage(BOOL create, HWND parent, HWND page, LPARAM parameter, WORD templateId,
                      DLGPROC procedure) {
    if (create)
        return page ? NULL
                    : CreateDialogParamA(AppInstance, MAKEINTRESOURCEA(templateId), parent,
                                         procedure, parameter);
    if (parent)
        return page;
    DestroyWindow(page);
    return NULL;
}

HWND CALLBACK CreateProfilePage(BOOL create, HWND parent, HWND page, LPARAM parameter) {
    if (!create && parent)
        TakeListedProfiles(page);
    return ServePage(create, parent, page, parameter, IDD_PROFILE_PAGE, ProfilePageProc);
}

HWND CALLBACK CreateSpeedDialPage(BOOL create, HWND parent, HWND page, LPARAM parameter) {
    return ServePage(create, parent, page, parameter, IDD_SPEED_DIAL_PAGE, SpeedDialPageProc);
}

static void AddTab(WORD textId, const TabPageRecord *record) {
    char text[40];
    LoadStringA(AppInstance, textId, text, sizeof text);
    LRESULT index = SendMessageA(SheetTabs, TabAddTab, 0, (LPARAM)text);
    SendMessageA(SheetTabs, TabSetPage, index, (LPARAM)record);
}

static void InitSheet(HWND sheet) {
    FaxConfigSheet = sheet;
    CenterWindowOver(MainWindow, sheet);
    SheetTabs = GetDlgItem(sheet, IDC_SHEET_TABS);
    AddTab(IDS_TAB_PROFILES, &ProfileTab);
    AddTab(IDS_TAB_SPEED_DIAL, &SpeedDialTab);
    SendMessageA(SheetTabs, TabSetControl, 0, (LPARAM)&TabOptions);
    TabLibrary.ActivatePage(sheet, SheetTabs, 0, TRUE);
    TabLibrary.RegisterDialog(sheet);
}

// Every OK writes every key whose list in memory is not yet on disk, also
// keys edited in an earlier sheet that was cancelled. A failed write keeps
// the sheet, with what it shows, for another try or Cancel.
static void CloseSheet(HWND sheet, int ok) {
    if (!SaveProfileChoice(ok)) {
        ShowStringMessage(AppInstance, sheet, AppTitle, IDS_SETTINGS_NOT_SAVED);
        return;
    }
    if (ok) {
        if (SpeedDialPage)
            StoreKeyAndLabel(SpeedDialPage);
        if (!SaveSpeedDials(ok)) {
            if (SpeedDialPage)
                LoadKeyIntoPage(SpeedDialPage);
            ShowStringMessage(AppInstance, sheet, AppTitle, IDS_SPEED_DIALS_NOT_SAVED);
            return;
        }
    }
    CloseSpeedDialPage();
    EndDialog(sheet, ok);
    ActiveSettingsDialog = NULL;
    SpeedDialPage = NULL;
}

static void OnSheetCommand(HWND sheet, WORD id, WORD code, HWND control) {
    if (id == IDC_SHEET_TABS && control == SheetTabs) {
        if (code == TabLeavingPage && !TabLibrary.DeactivatePage(sheet, SheetTabs))
            SendMessageA(SheetTabs, WM_CANCELMODE, 0, 0);
        else if (code == TabEnteredPage)
            TabLibrary.ActivatePage(sheet, SheetTabs, 0, FALSE);
    } else if (id == IDC_SHEET_HELP) {
        OpenHelpContents(sheet);
    } else if (id == IDOK || id == IDCANCEL) {
        CloseSheet(sheet, id == IDOK);
    }
}

INT_PTR CALLBACK FaxSheetProc(HWND sheet, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG:
        InitSheet(sheet);
        return FALSE;
    case WM_COMMAND:
        OnSheetCommand(sheet, LOWORD(wParam), HIWORD(wParam), (HWND)lParam);
        break;
    case WM_HELP:
        AnswerHelpRequest(sheet, (const HELPINFO *)lParam);
        return TRUE;
    case WM_DESTROY:
        TabLibrary.UnregisterDialog(sheet);
        TabLibrary.Destroy(sheet, SheetTabs);
        FaxConfigSheet = NULL;
        SheetTabs = NULL;
        break;
    }
    return TabLibrary.HandleDialogMessage(sheet, message, wParam, lParam) ? TRUE : FALSE;
}

int OpenFaxSheet(HWND owner) {
    // The tab library is bound when the sheet is first wanted, not at start.
    INT_PTR result =
        TabClassesRegistered || RegisterTabLibrary(AppInstance)
            ? DialogBoxParamA(AppInstance, MAKEINTRESOURCEA(IDD_FAX_CONFIG), owner, FaxSheetProc, 0)
            : -1;
    if (result == -1) {
        ShowStringMessage(AppInstance, owner, AppTitle, IDS_SHEET_FAILED);
        return 0;
    }
    return result == 1;
}

// 1 when window is parent itself or lies inside it.
static int Inside(HWND parent, HWND window) {
    return parent && (window == parent || IsChild(parent, window));
}

LRESULT CALLBACK DialogMessageHook(int code, WPARAM wParam, LPARAM lParam) {
    const MSG *msg = (const MSG *)lParam;
    if (code >= 0 && wParam == PM_REMOVE) {
        int settings = ActiveSettingsTips && Inside(ActiveSettingsDialog, msg->hwnd);
        int speedDial = SpeedDialTips && Inside(SpeedDialPage, msg->hwnd);
        switch (msg->message) {
        case WM_KEYDOWN:
            // F1 brings WM_HELP next, which then shows the contents for a
            // control without a topic; the ? button's request does not.
            HelpKeyPressed = msg->wParam == VK_F1;
            // Delete in the label field edits the label only.
            if (msg->wParam == VK_DELETE && speedDial &&
                msg->hwnd == GetDlgItem(SpeedDialPage, IDC_RECIPIENT_LIST) &&
                IsWindowEnabled(GetDlgItem(SpeedDialPage, IDC_REMOVE_RECIPIENTS)))
                PostMessageA(SpeedDialPage, WM_COMMAND, IDC_REMOVE_RECIPIENTS, 0);
            break;
        case WM_NCLBUTTONDOWN:
            HelpKeyPressed = 0;
            break;
        case WM_MOUSEMOVE:
        case WM_LBUTTONDOWN:
        case WM_LBUTTONUP:
        case WM_RBUTTONDOWN:
        case WM_RBUTTONUP:
            if (msg->message == WM_LBUTTONDOWN || msg->message == WM_RBUTTONDOWN)
                HelpKeyPressed = 0;
            if (settings || speedDial)
                RelayTipMessage(settings ? ActiveSettingsTips : SpeedDialTips, msg->hwnd,
                                msg->message, msg->wParam, msg->lParam);
            break;
        }
    }
    return CallNextHookEx(MessageHook, code, wParam, lParam);
}
