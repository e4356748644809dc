// The address book over EditLink: picking, the address-type filter, the
// list-line to record mapping, removal and the tip text; and a round trip
// of picked recipients through the files and a fresh start.
#include <gtest/gtest.h>

#include "app/app.h"
#include "app/settings.h"
#include "fax_fixture.h"
#include "panel/panel_state.h"

namespace {

const char *const Contacts =
    "BEGIN:VCARD\r\nVERSION:4.0\r\nUID:ada\r\nFN:Ada Brandt\r\n"
    "TEL;TYPE=fax,work:+1 555 0101\r\nEMAIL:ada@example.com\r\n"
    "END:VCARD\r\n"
    "BEGIN:VCARD\r\nVERSION:4.0\r\nFN:Front Desk\r\nTEL;TYPE=fax:555 0199\r\n"
    "TEL;TYPE=voice:555 0198\r\nEND:VCARD\r\n"
    "BEGIN:VCARD\r\nVERSION:4.0\r\nUID:net\r\nFN:Net Friend\r\n"
    "IMPP:msn:friend42\r\nIMPP:msninet:friend42@example.net\r\n"
    "IMPP:ms:ORG/PO1/FRIEND\r\nEND:VCARD\r\n";

class Recipients : public ::testing::Test {
  protected:
    FaxStateGuard Guard;
    void SetUp() override {
        WriteFileText(ProductFile("ADDRESS.VCF"), Contacts);
        WriteStore({"Office Fax=25", "Lan Mail=28", "Msn Mail=56", "Both Mail=60", "Bare Mail=24"});
        ASSERT_EQ(0, BindTelvex());
        lstrcpynA(FaxProfileName, "Office Fax", ProfileNameSize);
    }
    // Picks every line of the address book through the dialog.
    DWORD PickAll(const std::vector<std::string> &lines = {"("}) {
        std::vector<std::string> texts = lines;
        DialogAnswer answer(AppTitle, PickWith, &texts);
        DWORD result = PickRecipients(nullptr, 1);
        EXPECT_EQ(1, answer.Wait()) << "the address book did not open";
        return result;
    }
    static void PickWith(HWND dialog, void *texts) {
        PickLines(dialog, *(std::vector<std::string> *)texts);
    }
    std::vector<std::string> Addresses() {
        std::vector<std::string> addresses;
        for (const Recipient &record : LinkRecipients(EditLink)) {
            addresses.push_back(record.Address);
        }
        return addresses;
    }
};

TEST_F(Recipients, PickedRecipientsSurviveSavingAndAFreshStart) {
    Destination = 0;
    ASSERT_EQ(0u, PickAll());
    std::vector<Recipient> picked = LinkRecipients(EditLink);
    ASSERT_EQ(2u, picked.size());
    EXPECT_EQ("Ada Brandt", picked[0].Name);
    EXPECT_EQ("FAX:+1 555 0101", picked[0].Address);
    EXPECT_EQ("VCF:ada/1", picked[0].EntryId);
    EXPECT_EQ("Front Desk", picked[1].Name);
    EXPECT_EQ(1u, EditLink.Recipients[1].RecipientClass);
    // The page hands the list to its key as it does on OK.
    SpeedDialEntry *entry = &SpeedDialTable[SpeedDialNumber(0, 7) - 1];
    entry->RecipientCount = EditLink.RecipientCount;
    entry->RecipientBlock = EditLink.RecipientBlock;
    entry->StringBlock = EditLink.StringBlock;
    entry->Modified = 1;
    GlobalUnlock(EditLink.RecipientBlock);
    GlobalUnlock(EditLink.StringBlock);
    SaveSpeedDials(1);

    // A fresh start: nothing held, the library loaded anew.
    ResetFaxState();
    WritePrivateProfileStringA("Varnel FAX", "MS Exchange Fax", "Office Fax",
                               SettingsPathFor("SYS.INI"));
    WritePrivateProfileStringA("Varnel FAX", "MS Exchange Email", "Lan Mail",
                               SettingsPathFor("SYS.INI"));
    ASSERT_EQ(1, InitFaxService());
    EXPECT_EQ(picked, EntryRecipients(7));
}

TEST_F(Recipients, TheFilterKeepsWhatTheDestinationAndServicesCanSendTo) {
    const struct {
        int Destination;
        const char *MailProfile;
        std::vector<std::string> Kept;
    } cases[] = {
        {0, "Lan Mail", {"FAX:+1 555 0101", "FAX:555 0199"}},
        {1,
         "Both Mail",
         {"SMTP:ada@example.com", "MSN:friend42", "MSNINET:friend42@example.net",
          "MS:ORG/PO1/FRIEND"}},
        {1, "Lan Mail", {"SMTP:ada@example.com"}},
        {1, "Msn Mail", {"MSN:friend42", "MSNINET:friend42@example.net"}},
        {1,
         "Bare Mail",
         {"FAX:+1 555 0101", "SMTP:ada@example.com", "FAX:555 0199", "MSN:friend42",
          "MSNINET:friend42@example.net", "MS:ORG/PO1/FRIEND"}},
    };
    for (const auto &check : cases) {
        EditLink = RecipientLink();
        Destination = (WORD)check.Destination;
        lstrcpynA(MailProfileName, check.MailProfile, ProfileNameSize);
        EXPECT_EQ(0u, PickAll());
        EXPECT_EQ(check.Kept, Addresses()) << check.MailProfile << " " << check.Destination;
        if (EditLink.RecipientBlock) {
            GlobalUnlock(EditLink.RecipientBlock);
            GlobalFree(EditLink.RecipientBlock);
            GlobalUnlock(EditLink.StringBlock);
            GlobalFree(EditLink.StringBlock);
        }
    }
    EditLink = RecipientLink();
}

TEST_F(Recipients, AddressTypesBeyondElevenCharactersOrWithoutAColonAreUnknown) {
    EXPECT_FALSE(AddressSuits("FAX", KeepFaxOnly));
    EXPECT_TRUE(AddressSuits("FAX", KeepAllButFax));
    EXPECT_TRUE(AddressSuits("ELEVENCHARS:x", KeepAllButFax));
    EXPECT_FALSE(AddressSuits("TWELVECHARSX:x", KeepSmtpOnly));
    EXPECT_TRUE(AddressSuits("TWELVECHARSX:x", KeepAll));
    EXPECT_FALSE(AddressSuits("fax:123", KeepFaxOnly));
    EXPECT_EQ(KeepFaxOnly, RecipientFilter(0, 1, 1));
    EXPECT_EQ(KeepAll, RecipientFilter(1, 0, 0));
}

void CancelBook(HWND dialog, void *) {
    PressButton(dialog, IDCANCEL);
}

TEST_F(Recipients, ACancelledBookReturns1AndKeepsTheList) {
    Destination = 0;
    ASSERT_EQ(0u, PickAll({"Front Desk"}));
    DialogAnswer answer(AppTitle, CancelBook);
    EXPECT_EQ(1u, PickRecipients(nullptr, 1));
    EXPECT_EQ(1, answer.Wait());
    ASSERT_EQ(1u, EditLink.RecipientCount);
    EXPECT_EQ("Front Desk", std::string(EditLink.Recipients[0].Name));
}

TEST_F(Recipients, PicksExtendTheListAlreadyShown) {
    Destination = 0;
    ASSERT_EQ(0u, PickAll({"Front Desk"}));
    ASSERT_EQ(0u, PickAll({"Ada"}));
    EXPECT_EQ(std::vector<std::string>({"FAX:555 0199", "FAX:+1 555 0101"}), Addresses());
}

TEST_F(Recipients, AFailedLogonIsReturnedWithoutTheBook) {
    Destination = 0;
    lstrcpynA(FaxProfileName, "No Such Profile", ProfileNameSize);
    EXPECT_NE(0u, PickRecipients(nullptr, 1));
    EXPECT_EQ(0u, EditLink.RecipientCount);
}

TEST_F(Recipients, AnUnreadableAddressBookIsAFailure) {
    DeleteFileA(ProductFile("ADDRESS.VCF").c_str());
    Destination = 0;
    DWORD result = PickRecipients(nullptr, 1);
    EXPECT_NE(0u, result);
    EXPECT_NE(1u, result);
    EXPECT_NE(7u, result);
}

// A sorted list box showing EditLink's names, as the speed-dial page shows them.
struct RecipientList {
    HWND Window;
    RecipientList() {
        Window = CreateWindowA("LISTBOX", "", WS_POPUP | LBS_SORT | LBS_HASSTRINGS, 0, 0, 200, 200,
                               nullptr, nullptr, nullptr, nullptr);
        for (DWORD i = 0; i < EditLink.RecipientCount; i++) {
            SendMessageA(Window, LB_ADDSTRING, 0, (LPARAM)EditLink.Recipients[i].Name);
        }
    }
    ~RecipientList() { DestroyWindow(Window); }
};

TEST_F(Recipients, TheNthLineOfARepeatedNameIsTheNthRecordOfThatName) {
    FillEntry(1, {{"Bob", "FAX:1", "b1"},
                  {"al", "FAX:2", "a"},
                  {"Bob", "FAX:3", "b2"},
                  {"Carla", "FAX:4", "c"}});
    AttachSpeedDialEntry(&SpeedDialTable[0]);
    RecipientList list;
    // Sorted: al, Bob, Bob, Carla.
    EXPECT_EQ(1, FindRecipientIndex(list.Window, 0));
    EXPECT_EQ(0, FindRecipientIndex(list.Window, 1));
    EXPECT_EQ(2, FindRecipientIndex(list.Window, 2));
    EXPECT_EQ(3, FindRecipientIndex(list.Window, 3));
    EXPECT_EQ(NoRecipient, FindRecipientIndex(list.Window, 9));
    EXPECT_EQ(1, RemoveRecipientAt(list.Window, 2));
    EXPECT_EQ(std::vector<std::string>({"FAX:1", "FAX:2", "FAX:4"}), Addresses());
    EXPECT_EQ(0, RemoveRecipientAt(list.Window, 9));
    SendMessageA(list.Window, LB_DELETESTRING, 2, 0);
    EXPECT_EQ(1, RemoveRecipientAt(list.Window, 0));
    EXPECT_EQ(std::vector<std::string>({"FAX:1", "FAX:4"}), Addresses());
    GlobalUnlock(EditLink.RecipientBlock);
    GlobalUnlock(EditLink.StringBlock);
    SpeedDialTable[0].RecipientCount = EditLink.RecipientCount;
}

TEST_F(Recipients, TheTipTellsServiceAndAddress) {
    FillEntry(1, {{"a", "FAX:Ada Brandt@+1 555 0101", ""},
                  {"b", "SMTP:carl@example.org", ""},
                  {"c", "MSN:friend42", ""},
                  {"d", "MS:ORG/PO1/FRIEND", ""},
                  {"e", "X400:c=us;a=x", ""},
                  {"f", "FAX:5550199", ""}});
    AttachSpeedDialEntry(&SpeedDialTable[0]);
    const char *expected[] = {
        "FAX, Address:+1 555 0101",       "Internet Mail, Address:carl@example.org",
        "MS Network, Member ID:friend42", "Microsoft Mail, Address:PO1/FRIEND",
        "MS Network, Address:c=us;a=x",   "FAX, Address:5550199"};
    for (WORD i = 0; i < 6; i++) {
        char text[150];
        FormatRecipientDetail(text, sizeof text, i);
        EXPECT_STREQ(expected[i], text);
    }
    WritePrivateProfileStringA("Fax and Mail", "TextFax", "Telefax", SettingsPathFor("SYS.INI"));
    WritePrivateProfileStringA("Fax and Mail", "TextAddr", "Number", SettingsPathFor("SYS.INI"));
    char text[150];
    FormatRecipientDetail(text, sizeof text, 5);
    EXPECT_STREQ("Telefax, Number:5550199", text);
    GlobalUnlock(SpeedDialTable[0].RecipientBlock);
    GlobalUnlock(SpeedDialTable[0].StringBlock);
}

} // namespace
