// Opening and closing the fax job's mail session against the mail library
// stand-in: which recipients the job sends to, the status of each refusal,
// the profile settings a refused logon puts back, and a speed-dial key's
// recipients left as they were.
#include <gtest/gtest.h>

#include "app/settings.h"
#include "fax/fax_job.h"
#include "fax/profiles.h"
#include "fax/speed_dial.h"
#include "fax/telvex.h"
#include "fax_fixture.h"
#include "panel/panel_state.h"
#include "test_support.h"

namespace {

const std::vector<Recipient> Team = {{"Ann Fax", "FAX:5550101", "id-1"},
                                     {"Bob Fax", "FAX:5550102", ""}};

class FaxSession : public ::testing::Test {
  protected:
    FaxStateGuard Guard;
    IniKeyGuard Mode{"VARNEL.INI", "Fax Associated Info", "Mode"};
    IniKeyGuard Map{"VARNEL.INI", "Fax Associated Info", "Map"};
    IniKeyGuard Paper{"VARNEL.INI", "Fax Associated Info", "Paper Size"};
    DialingRecord KeptDialing = DialingInfo;
    PanelStateGuard Panel;

    void SetUp() override {
        WriteStore({"Office Fax=25", "Lan Mail=28"});
        std::string store = ProductFile("TELVEX.INI");
        for (const char *pair : {"PaperSize=2", "Resolution=3", "Setting14=1"}) {
            std::string key(pair, strchr(pair, '=') - pair);
            WritePrivateProfileStringA("Profile:Office Fax", key.c_str(), strchr(pair, '=') + 1,
                                       store.c_str());
        }
        ASSERT_EQ(0, BindTelvex());
        lstrcpynA(FaxProfileName, "Office Fax", ProfileNameSize);
        lstrcpynA(SettingsProfileName, "Office Fax", ProfileNameSize);
        lstrcpynA(MailProfileName, "Lan Mail", ProfileNameSize);
        Destination = 0;
        SpeedDialKey = 0;
        ClearTypedNumber();
        PaperSize = 0;
        FaxResolution = 1;
        FaxJobStatus = 0;
    }
    void TearDown() override { DialingInfo = KeptDialing; }
    void Type(const char *digits) {
        lstrcpynA(TypedNumber, digits, TypedNumberSize);
        TypedLength = (BYTE)lstrlenA(TypedNumber);
    }
    std::string Setting(const char *key) {
        return IniValue(ProductFile("TELVEX.INI"), "Profile:Office Fax", key);
    }
    static int LockCount(HGLOBAL block) { return (int)(GlobalFlags(block) & GMEM_LOCKCOUNT); }
};

TEST_F(FaxSession, NoKeyAndNoDigitsIsNoFaxNumber) {
    EXPECT_EQ(0, OpenFaxSession());
    EXPECT_EQ(FaxNoNumber, FaxJobStatus);
    EXPECT_STREQ("No Fax Number!", FaxStatusTexts[FaxJobStatus + 1]);
}

TEST_F(FaxSession, EmailWithoutAKeyIsNoMailAddressEvenWithDigits) {
    Destination = 1;
    Type("5551234");
    EXPECT_EQ(0, OpenFaxSession());
    EXPECT_STREQ("No Mail Address!", FaxStatusTexts[FaxJobStatus + 1]);
}

TEST_F(FaxSession, AKeyWithoutRecipientsIsRefusedForItsDestination) {
    SpeedDialKey = 4;
    EXPECT_EQ(0, OpenFaxSession());
    EXPECT_EQ(FaxNoNumber, FaxJobStatus);
    Destination = 1;
    EXPECT_EQ(0, OpenFaxSession());
    EXPECT_EQ(FaxNoAddress, FaxJobStatus);
}

TEST_F(FaxSession, ATypedNumberGoesThroughTheDialingRules) {
    DialingInfo = {"9", "1", "415", "1"};
    Type("14155551234");
    ASSERT_EQ(1, OpenFaxSession());
    ASSERT_EQ(1u, JobLink.RecipientCount);
    EXPECT_STREQ("Dear Recipient", JobLink.Recipients[0].Name);
    EXPECT_STREQ("FAX:95551234", JobLink.Recipients[0].Address);
    EXPECT_NE(0u, JobLink.Session);
    EXPECT_EQ("0", Setting("Setting14"));
    EXPECT_EQ("2", Setting("Resolution"));
    EXPECT_EQ("1", IniValue("VARNEL.INI", "Fax Associated Info", "Mode"));
    EXPECT_EQ("1", IniValue("VARNEL.INI", "Fax Associated Info", "Map"));
    EXPECT_EQ("0", IniValue("VARNEL.INI", "Fax Associated Info", "Paper Size"));
    CloseFaxSession();
    EXPECT_EQ(nullptr, JobLink.RecipientBlock);
    EXPECT_EQ(nullptr, PageFileList);
}

// The profile page may switch the destination and the profiles while a job
// runs; the job keeps what it took when its session opened.
TEST_F(FaxSession, AChoiceChangedDuringTheJobDoesNotReachIt) {
    Type("5551234");
    FaxResolution = 0;
    ASSERT_EQ(1, OpenFaxSession());
    LockProfileChoice();
    Destination = 1;
    lstrcpynA(SettingsProfileName, "Lan Mail", ProfileNameSize);
    UnlockProfileChoice();
    SetupFaxScan();
    EXPECT_EQ(200, ScanParameters.ResolutionX);
    EXPECT_EQ(100, ScanParameters.ResolutionY);
    ApplyJobFaxSettings();
    EXPECT_EQ("0", Setting("PaperSize"));
    EXPECT_EQ("(missing)", IniValue(ProductFile("TELVEX.INI"), "Profile:Lan Mail", "PaperSize"));
    CloseFaxSession();
    Destination = 0;
}

TEST_F(FaxSession, ALongRewrittenNumberIsDialledWhole) {
    DialingInfo = {"9", "9,1", "415", "1"};
    Type("01144207946095812345");
    ASSERT_EQ(1, OpenFaxSession());
    ASSERT_EQ(1u, JobLink.RecipientCount);
    EXPECT_STREQ("FAX:9,101144207946095812345", JobLink.Recipients[0].Address);
    CloseFaxSession();
}

TEST_F(FaxSession, AKeyWhoseRecordsDoNotFitTheirStringsIsRefused) {
    FillEntry(3, Team, 0);
    DWORD *offsets = (DWORD *)GlobalLock(SpeedDialTable[2].StringBlock);
    offsets[0] = 0x7FFFFFF0; // the first name beyond the block
    GlobalUnlock(SpeedDialTable[2].StringBlock);
    SpeedDialKey = 3;
    EXPECT_EQ(0, OpenFaxSession());
    EXPECT_EQ(FaxNoNumber, FaxJobStatus);
    EXPECT_EQ(nullptr, JobLink.RecipientBlock);
    // Nothing was taken: the transport is free.
    ASSERT_NE(0u, TelvexBinding.TelvexLockUnlock(1));
    TelvexBinding.TelvexLockUnlock(0);
}

TEST_F(FaxSession, TheJobSendsFromItsOwnCopyOfTheKeysRecipients) {
    FillEntry(3, Team, 0);
    SpeedDialKey = 3;
    ASSERT_EQ(1, OpenFaxSession());
    SpeedDialEntry *entry = &SpeedDialTable[2];
    EXPECT_NE(entry->RecipientBlock, JobLink.RecipientBlock);
    EXPECT_NE(entry->StringBlock, JobLink.StringBlock);
    EXPECT_EQ(0, LockCount(entry->RecipientBlock));
    // The configuration page may release the key while the job runs.
    EmptyEntry(3);
    EXPECT_EQ(Team, LinkRecipients(JobLink));
    CloseFaxSession();
    FillEntry(3, Team, 0);
    ASSERT_EQ(1, OpenFaxSession());
    CloseFaxSession();
    EXPECT_EQ(Team, EntryRecipients(3));
    EXPECT_EQ(0, LockCount(SpeedDialTable[2].StringBlock));
}

TEST_F(FaxSession, ARefusedLogonPutsTheProfileSettingsBack) {
    FillEntry(3, Team, 0);
    SpeedDialKey = 3;
    // A setting without a value stays without one.
    WritePrivateProfileStringA("Profile:Office Fax", "Setting14", NULL,
                               ProductFile("TELVEX.INI").c_str());
    lstrcpynA(FaxProfileName, "Gone Fax", ProfileNameSize);
    EXPECT_EQ(0, OpenFaxSession());
    EXPECT_STREQ("Fax Error!", FaxStatusTexts[FaxJobStatus + 1]);
    EXPECT_EQ("2", Setting("PaperSize"));
    EXPECT_EQ("3", Setting("Resolution"));
    EXPECT_EQ("(missing)", Setting("Setting14"));
    EXPECT_EQ(Team, EntryRecipients(3));
    // The transport lock was given back.
    ASSERT_NE(0u, TelvexBinding.TelvexLockUnlock(1));
    TelvexBinding.TelvexLockUnlock(0);
}

DWORD WINAPI HoldTransport(LPVOID events) {
    HANDLE *pair = (HANDLE *)events;
    DWORD held = TelvexBinding.TelvexLockUnlock(1);
    SetEvent(pair[0]);
    WaitForSingleObject(pair[1], 10000);
    if (held) {
        TelvexBinding.TelvexLockUnlock(0);
    }
    return held;
}

TEST_F(FaxSession, AHeldTransportIsFaxInUseAndLeavesTheKeyAlone) {
    FillEntry(17, Team, 0);
    Destination = 1;
    SpeedDialKey = 3;
    HANDLE events[2] = {CreateEventA(nullptr, TRUE, FALSE, nullptr),
                        CreateEventA(nullptr, TRUE, FALSE, nullptr)};
    HANDLE holder = CreateThread(nullptr, 0, HoldTransport, events, 0, nullptr);
    WaitForSingleObject(events[0], 10000);
    EXPECT_EQ(0, OpenFaxSession());
    EXPECT_STREQ("Fax in Use!", FaxStatusTexts[FaxJobStatus + 1]);
    SetEvent(events[1]);
    WaitForSingleObject(holder, 10000);
    DWORD held = 0;
    GetExitCodeThread(holder, &held);
    EXPECT_EQ(1u, held);
    EXPECT_EQ(Team, EntryRecipients(17));
    EXPECT_EQ(0, LockCount(SpeedDialTable[16].RecipientBlock));
    for (HANDLE handle : {events[0], events[1], holder}) {
        CloseHandle(handle);
    }
}

} // namespace
