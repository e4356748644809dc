// The mail library stand-in on its own: its address-book parser, the safety
// of the message headers it writes, the message SendTelvex leaves in the
// outbox, the transport lock across processes, and the delivery agent against
// a loopback SMTP server. The message written here is checked once more by a
// standard MIME parser (mime_check.py).
#include <windows.h>
#include <commctrl.h>
#include <tlhelp32.h>
#include <gtest/gtest.h>

#include <algorithm>

#include <string.h>

#include "app/settings.h"
#include "fax_fixture.h"
#include "mail_settings.h"
#include "telvex_ids.h"
#include "mime.h"
#include "outbox_queue.h"
#include "smtp_server_process.h"
#include "store.h"
#include "vcard.h"
#include "tests/core/fuzz_replay.h"

namespace {

TEST(VCards, FoldedEscapedAndGroupedPropertiesGiveTheirAddresses) {
    const char *text = "BEGIN:VCARD\r\nVERSION:4.0\r\nFN:Brandt\\, Ada\r\n"
                       "item1.TEL;VALUE=uri;TYPE=\"fax,work\":tel:+1-555-\r\n 0101\r\n"
                       "TEL;TYPE=voice:555 0100\r\nEMAIL;TYPE=work:ada@exam\r\n\tple.com\r\n"
                       "END:VCARD\r\nBEGIN:VCARD\nTEL;TYPE=FAX:555 0199\nEND:VCARD\n"
                       "BEGIN:VCARD\nFN:Line\\nBreak\nEMAIL:x@y.z\n";
    static AddressBookRecord book;
    ASSERT_EQ(4u, ParseVCards(text, &book));
    EXPECT_STREQ("Brandt, Ada", book.Entries[0].Name);
    EXPECT_STREQ("FAX:+1-555-0101", book.Entries[0].Address);
    EXPECT_STREQ("SMTP:ada@example.com", book.Entries[1].Address);
    EXPECT_STREQ("VCF:card1/2", book.Entries[1].EntryId);
    EXPECT_STREQ("555 0199", book.Entries[2].Name) << "a card without FN is named by its address";
    EXPECT_STREQ("Line Break", book.Entries[3].Name);
}

TEST(VCards, CardsInsideCardsKeepTheirOwnNamesAndAddresses) {
    static AddressBookRecord book;
    ASSERT_EQ(1u, ParseVCards("BEGIN:VCARD\nFN:A\nEMAIL:a@b\nBEGIN:VCARD\nEND:VCARD\n", &book));
    EXPECT_STREQ("A", book.Entries[0].Name);
    // A vCard 2.1 agent's card sits inside the card of the person it acts for.
    const char *agent = "BEGIN:VCARD\r\nVERSION:2.1\r\nFN:Big Boss\r\nAGENT:\r\n"
                        "BEGIN:VCARD\r\nVERSION:2.1\r\nFN:Fred Friday\r\n"
                        "TEL;WORK;FAX:+1-213-555-5678\r\nEND:VCARD\r\n"
                        "TEL;WORK;FAX:+1-213-555-1111\r\nEND:VCARD\r\n";
    ASSERT_EQ(2u, ParseVCards(agent, &book));
    EXPECT_STREQ("Fred Friday", book.Entries[0].Name);
    EXPECT_STREQ("FAX:+1-213-555-5678", book.Entries[0].Address);
    EXPECT_STREQ("Big Boss", book.Entries[1].Name);
    EXPECT_STREQ("FAX:+1-213-555-1111", book.Entries[1].Address);
    ASSERT_EQ(1u,
              ParseVCards("BEGIN:VCARD\nFN:I\nIMPP::a@b.c\nIMPP:xmpp:\nIMPP:xmpp:i@b.c\n", &book));
    EXPECT_STREQ("XMPP:i@b.c", book.Entries[0].Address);
}

TEST(MessageHeaders, NamesCanNeverStartAHeaderLine) {
    char phrase[PhraseSize];
    HeaderPhrase("Evil\r\nBcc: victim@example.com", 1252, phrase, sizeof phrase);
    EXPECT_STREQ("\"Evil  Bcc: victim@example.com\"", phrase);
    HeaderPhrase("Say \"hi\" \\ there", 1252, phrase, sizeof phrase);
    EXPECT_STREQ("\"Say \\\"hi\\\" \\\\ there\"", phrase);
    HeaderPhrase("J\xfcrgen\nM\xfcller", 1252, phrase, sizeof phrase);
    EXPECT_EQ(nullptr, strpbrk(phrase, "\r\n\"")) << phrase;
    EXPECT_EQ(0, strncmp(phrase, "=?windows-1252?B?", 17));
}

TEST(MessageHeaders, EightBitNamesAreLabelledWithTheirCodePageInWholeCharacters) {
    char phrase[PhraseSize];
    HeaderPhrase("J\xfcrgen", 1250, phrase, sizeof phrase);
    EXPECT_EQ(0, strncmp(phrase, "=?windows-1250?B?", 17)) << phrase;
    // "A" and fifteen double-byte characters: the first word ends before the
    // character that would not fit whole.
    std::string name = "A";
    for (int i = 0; i < 15; i++) {
        name += "\x93\xfa";
    }
    char first[64], second[64];
    EncodeBase64((const BYTE *)name.data(), 29, first);
    EncodeBase64((const BYTE *)name.data() + 29, 2, second);
    HeaderPhrase(name.c_str(), 932, phrase, sizeof phrase);
    EXPECT_EQ("=?Shift_JIS?B?" + std::string(first) + "?= =?Shift_JIS?B?" + second + "?=",
              std::string(phrase));
}

TEST(MessageHeaders, RecipientsBecomeMailboxesOrAreRefused) {
    char mailbox[MailboxSize];
    ASSERT_TRUE(RecipientMailbox("FAX:+1 (555) 010-1", "fax.test.example", mailbox, MailboxSize));
    EXPECT_STREQ("+15550101@fax.test.example", mailbox);
    ASSERT_TRUE(RecipientMailbox("FAX:Ada@555 0101", "fax.test.example", mailbox, MailboxSize));
    EXPECT_STREQ("5550101@fax.test.example", mailbox);
    ASSERT_TRUE(RecipientMailbox("SMTP:ada.b+scan@example.com", "", mailbox, MailboxSize));
    EXPECT_STREQ("ada.b+scan@example.com", mailbox);
    EXPECT_FALSE(RecipientMailbox("SMTP:a@b.c\r\nBcc: d@e.f", "", mailbox, MailboxSize));
    EXPECT_FALSE(RecipientMailbox("SMTP:<a@b.c>", "", mailbox, MailboxSize));
    EXPECT_FALSE(RecipientMailbox("FAX:no digits", "fax.test.example", mailbox, MailboxSize));
    EXPECT_FALSE(RecipientMailbox("FAX:5550101", "", mailbox, MailboxSize));
    EXPECT_FALSE(RecipientMailbox("nocolon", "x.y", mailbox, MailboxSize));
    for (const char *address : {"SMTP:.a@b", "SMTP:a..b@c", "SMTP:a.@b", "SMTP:a@b.", "SMTP:a@-b",
                                "SMTP:a@b-.c", "SMTP:a@.b", "SMTP:a@b..c"}) {
        EXPECT_FALSE(RecipientMailbox(address, "", mailbox, MailboxSize)) << address;
    }
    EXPECT_FALSE(RecipientMailbox("FAX:5550101", "-fax.example", mailbox, MailboxSize));
}

TEST(MessageHeaders, AttachmentNamesAreSafeInAQuotedParameterAndTrimmed) {
    char name[AttachmentNameSize];
    AttachmentName(" a\"b\\c/d:e\x01\xe9.tif  ", name, sizeof name);
    EXPECT_STREQ("a_b_c_d_e__.tif", name) << "readers drop the blanks around a file name";
    AttachmentName("   ", name, sizeof name);
    EXPECT_STREQ("page", name);
}

class Transport : public ::testing::Test {
  protected:
    FaxStateGuard Guard;
    std::string Outbox = ProductFile("OUTBOX\\mimecheck\\");
    std::string Profile = "Lan Mail"; // the profile a job logs on to
    void SetUp() override {
        WriteStore({"Lan Mail=28"});
        std::string store = ReadFileText(ProductFile("TELVEX.INI"));
        WriteFileText(ProductFile("TELVEX.INI"),
                      store +
                          "FullName=Scan \"Desk\"\r\nEmailAddress=scan@varnel.example\r\n"
                          "Outbox=" +
                          Outbox + "\r\n");
        ASSERT_EQ(0, BindTelvex());
    }
    std::vector<std::string> OutboxFiles(const char *pattern) {
        return FilesMatching(Outbox + pattern);
    }
    void ClearOutbox() {
        for (const std::string &name : OutboxFiles("*.*")) {
            DeleteFileA((Outbox + name).c_str());
        }
    }
    // Fills JobLink with records as a speed-dial key would, logged on.
    void PrepareJob(const std::vector<Recipient> &records) {
        FillEntry(1, records);
        JobLink = RecipientLink();
        JobLink.RecipientCount = SpeedDialTable[0].RecipientCount;
        JobLink.RecipientBlock = SpeedDialTable[0].RecipientBlock;
        JobLink.StringBlock = SpeedDialTable[0].StringBlock;
        TelvexBinding.BuildRecipientLink(&JobLink);
        ASSERT_EQ(0u, TelvexBinding.InitialMAPIandLogon(0, Profile.c_str(), &JobLink));
    }
    void EndJob() {
        TelvexBinding.FreeAndLogoff(0, JobLink.Session);
        GlobalUnlock(JobLink.RecipientBlock);
        GlobalUnlock(JobLink.StringBlock);
        JobLink = RecipientLink();
    }
};

// Page files with every byte value, of sizes that end a base64 line evenly
// and unevenly; kept in the outbox folder for the MIME check.
std::string WritePage(const std::string &path, DWORD size, int seed) {
    std::string bytes(size, '\0');
    for (DWORD i = 0; i < size; i++) {
        bytes[i] = (char)((i * 131 + seed * 17 + (i >> 8)) & 0xFF);
    }
    WriteFileText(path, bytes);
    return bytes;
}

TEST_F(Transport, SendTelvexLeavesOneCompleteMessageInTheOutbox) {
    CreateDirectoryA(ProductFile("OUTBOX\\").c_str(), nullptr);
    CreateDirectoryA(Outbox.c_str(), nullptr);
    ClearOutbox();
    std::string pages = Outbox + "page1.bin" + std::string(1, '\0') + Outbox + "page2.bin";
    WritePage(Outbox + "page1.bin", 57 * 40, 1);
    WritePage(Outbox + "page2.bin", 100001, 2);
    const char names[] = "FX-00041.TIF\0FX-00042.JPG";
    PrepareJob({{"Ada \"A.\" Brandt", "SMTP:ada@example.com", "e1"},
                {"Evil\r\nBcc: victim@example.com", "FAX:+1 555 0101", "e2"},
                {"J\xfcrgen M\xfcller", "FAX:Front@555 0199", "e3"}});
    JobLink.PageCount = 2;
    JobLink.PagePaths = pages.c_str();
    JobLink.PageNames = names;
    EXPECT_EQ(0u, TelvexBinding.SendTelvex(0, &JobLink));
    EndJob();
    std::vector<std::string> messages = OutboxFiles("*.eml");
    ASSERT_EQ(1u, messages.size());
    EXPECT_TRUE(OutboxFiles("*.tmp").empty());
    EXPECT_TRUE(OutboxFiles("*.env").empty()) << "a profile without a server has no envelopes";
    std::string message = ReadFileText(Outbox + messages[0]);
    std::string header = message.substr(0, message.find("\r\n\r\n"));
    EXPECT_EQ(std::string::npos, header.find("\r\nBcc:"));
    EXPECT_NE(std::string::npos, header.find("From: \"Scan \\\"Desk\\\"\" <scan@varnel.example>"));
    EXPECT_NE(std::string::npos, message.find("filename=\"FX-00042.JPG\""));
    // The MIME check finds this message by its name and what it must hold.
    WriteFileText(Outbox + "expected.txt",
                  messages[0] + "\nscan@varnel.example\nada@example.com\n"
                                "+15550101@fax.test.example\n5550199@fax.test.example\n"
                                "FX-00041.TIF=page1.bin\nFX-00042.JPG=page2.bin\n");
}

TEST_F(Transport, AnUnaddressableRecipientSendsNothing) {
    CreateDirectoryA(ProductFile("OUTBOX\\").c_str(), nullptr);
    CreateDirectoryA(Outbox.c_str(), nullptr);
    std::vector<std::string> before = OutboxFiles("*.eml");
    std::string log = Outbox.substr(0, Outbox.size() - 1) + ".log";
    DeleteFileA(log.c_str());
    std::string page = Outbox + "refused.bin";
    WritePage(page, 100, 3);
    PrepareJob({{"Ok", "SMTP:ok@example.com", ""}, {"Bad", "SMTP:bad address", ""}});
    JobLink.PageCount = 1;
    JobLink.PagePaths = page.c_str();
    EXPECT_NE(0u, TelvexBinding.SendTelvex(0, &JobLink));
    DWORD session = JobLink.Session;
    EndJob();
    JobLink.Session = session;
    EXPECT_NE(0u, TelvexBinding.SendTelvex(0, &JobLink)) << "a closed session sends nothing";
    JobLink = RecipientLink();
    DeleteFileA(page.c_str());
    EXPECT_EQ(before, OutboxFiles("*.eml"));
    EXPECT_TRUE(OutboxFiles("*.tmp").empty());
    // The user reads which recipient and why beside the outbox.
    std::string told = ReadFileText(log);
    EXPECT_NE(std::string::npos, told.find("not a valid mailbox: Bad <SMTP:bad address>")) << told;
}

TEST_F(Transport, AddRecipientGivesTheCallerOneRecordInNewBlocks) {
    RecipientRecord typed = {0, 1, (char *)"Dear Recipient", (char *)"5550101", 0, nullptr};
    JobLink = RecipientLink();
    ASSERT_EQ(0u, TelvexBinding.AddRecipient(&typed, &JobLink));
    ASSERT_EQ(1u, JobLink.RecipientCount);
    EXPECT_STREQ("Dear Recipient", JobLink.Recipients[0].Name);
    EXPECT_STREQ("5550101", JobLink.Recipients[0].Address);
    EXPECT_NE(typed.Name, JobLink.Recipients[0].Name);
    GlobalUnlock(JobLink.RecipientBlock);
    GlobalUnlock(JobLink.StringBlock);
    EXPECT_EQ(nullptr, GlobalFree(JobLink.RecipientBlock));
    EXPECT_EQ(nullptr, GlobalFree(JobLink.StringBlock));
    JobLink = RecipientLink();
}

TEST_F(Transport, TheLockHeldByAnotherProcessIsRefused) {
    char exe[MAX_PATH];
    GetModuleFileNameA(nullptr, exe, sizeof exe);
    std::string holder = std::string(exe).substr(0, std::string(exe).rfind('\\') + 1) +
                         "telvex_holder.exe TelvexTestHeld TelvexTestRelease";
    HANDLE held = CreateEventA(nullptr, TRUE, FALSE, "TelvexTestHeld");
    HANDLE release = CreateEventA(nullptr, TRUE, FALSE, "TelvexTestRelease");
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    std::vector<char> command(holder.begin(), holder.end());
    command.push_back(0);
    ASSERT_TRUE(CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                               nullptr, &startup, &process));
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(held, 10000))
        << "the holder did not take the lock";
    EXPECT_EQ(0u, TelvexBinding.TelvexLockUnlock(1));
    SetEvent(release);
    WaitForSingleObject(process.hProcess, 10000);
    DWORD code = 9;
    GetExitCodeProcess(process.hProcess, &code);
    EXPECT_EQ(0u, code);
    EXPECT_NE(0u, TelvexBinding.TelvexLockUnlock(1));
    TelvexBinding.TelvexLockUnlock(0);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    CloseHandle(held);
    CloseHandle(release);
}

TEST_F(Transport, ProfileNamesFitTheSlotsMeasuredForTheCaller) {
    DWORD count = 0, slotSize = 0;
    TelvexBinding.QueryAllProfileInfo(&count, &slotSize);
    ASSERT_EQ(1u, count);
    // A profile with a longer name appears between the two calls.
    WriteStore({"A profile made in the meantime=28", "Lan Mail=28"});
    std::string slot(slotSize + 32, '#');
    char *slots[1] = {&slot[0]};
    DWORD listed = count;
    EXPECT_NE(0u, TelvexBinding.QueryAllProfile(&listed, slots));
    EXPECT_EQ(1u, listed);
    EXPECT_STREQ("Lan Mail", slot.c_str());
    EXPECT_EQ(std::string(32, '#'), slot.substr(slotSize)) << "written past the slot";
}

// The library's first profile question wakes the delivery agent for mail
// left in an outbox, and only where its profile names a server.
TEST_F(Transport, MailLeftInAnOutboxWakesTheAgentOnlyForAProfileWithAServer) {
    ASSERT_TRUE(WaitUntil([] { return !DeliveryAgentRunning(); }, 60000));
    // An outbox of its own: the one of the other cases keeps their messages for the MIME check.
    std::string outbox = ProductFile("OUTBOX\\waiting\\");
    ClearFolder(outbox);
    ASSERT_EQ(1, SetProfileText(Profile.c_str(), "Outbox", outbox.c_str()));
    EXPECT_EQ(0, WakeAgentForWaitingMail()) << "an empty outbox";
    WriteFileText(outbox + "left.env", "Lan Mail\r\nscan@varnel.example\r\nada@example.com\r\n");
    EXPECT_EQ(0, WakeAgentForWaitingMail()) << "a profile without a server";
    EXPECT_FALSE(DeliveryAgentRunning());
    ClearFolder(outbox);
}

TEST_F(Transport, SettingsAreReadAndWrittenPerProfile) {
    WORD paper = 9;
    SettingRequest request = {SettingPaperSize, &paper};
    EXPECT_EQ(0u, TelvexBinding.RegistryGetSetting("Lan Mail", &request)) << "no value yet";
    paper = 2;
    TelvexBinding.RegistrySetSetting("Lan Mail", &request);
    paper = 0;
    EXPECT_NE(0u, TelvexBinding.RegistryGetSetting("Lan Mail", &request));
    EXPECT_EQ(2, paper);
    char user[SettingTextSize] = "", number[SettingTextSize] = "";
    char *pair[2] = {user, number};
    SettingRequest both = {SettingUserAndFax, pair};
    lstrcpynA(user, "Front Desk", sizeof user);
    lstrcpynA(number, "555 0199", sizeof number);
    TelvexBinding.RegistrySetSetting("Lan Mail", &both);
    user[0] = number[0] = 0;
    EXPECT_NE(0u, TelvexBinding.RegistryGetSetting("Lan Mail", &both));
    EXPECT_STREQ("Front Desk", user);
    EXPECT_STREQ("555 0199", number);
    char name[SettingTextSize] = "";
    SettingRequest full = {SettingFullName, name};
    EXPECT_NE(0u, TelvexBinding.RegistryGetSetting("Lan Mail", &full));
    EXPECT_STREQ("Scan \"Desk\"", name);
    EXPECT_EQ(0u, TelvexBinding.RegistryGetSetting("No Such Profile", &full));
}

// The profile's delivery settings as stored, the password only encrypted.
void ExpectDelivery(const char *profile, const MailProfile &expected, const char *password) {
    MailProfile mail;
    ASSERT_EQ(1, LoadMailProfile(profile, &mail));
    EXPECT_STREQ(expected.Server, mail.Server);
    EXPECT_EQ(expected.Port, mail.Port);
    EXPECT_EQ(expected.Security, mail.Security);
    EXPECT_STREQ(expected.User, mail.User);
    EXPECT_STREQ(expected.Sender, mail.Sender);
    char decrypted[PasswordSize] = "";
    EXPECT_EQ(1, MailPassword(profile, decrypted, sizeof decrypted));
    EXPECT_STREQ(password, decrypted);
    EXPECT_EQ(std::vector<std::string>(), FilesHolding(ProductDirectory(), password));
}

TEST_F(Transport, DeliverySettingsAreCheckedAndThePasswordIsKeptOnlyEncrypted) {
    const char *password = "Kp32-Secret-Passphrase";
    ASSERT_EQ(0, RunLibraryTool("\"Lan Mail\" server=127.0.0.1 port=2525 security=none user=scan "
                                "password=" +
                                std::string(password) + " sender=scan@varnel.example"));
    ExpectDelivery("Lan Mail", {"127.0.0.1", 2525, SecurityNone, "scan", "scan@varnel.example", ""},
                   password);
    MailProfile mail;
    // Refused, all or nothing: no security off the loopback interface, a
    // port out of range, an unknown name, a profile that does not exist.
    EXPECT_EQ(1, RunLibraryTool("\"Lan Mail\" server=mail.example.com port=25"));
    EXPECT_EQ(1, RunLibraryTool("\"Lan Mail\" port=65536"));
    EXPECT_EQ(1, RunLibraryTool("\"Lan Mail\" port=25 colour=blue"));
    EXPECT_EQ(1, RunLibraryTool("\"No Such Profile\" port=25"));
    ASSERT_EQ(1, LoadMailProfile("Lan Mail", &mail));
    EXPECT_STREQ("127.0.0.1", mail.Server);
    EXPECT_EQ(2525, mail.Port);
    // ... and where they enter: a port in the server's name, a name that only
    // begins like the loopback address, a certificate file that is not there,
    // a password longer than a password can be.
    EXPECT_EQ(1, RunLibraryTool("\"Lan Mail\" server=127.0.0.1:25"));
    EXPECT_EQ(1, RunLibraryTool("\"Lan Mail\" server=127.evil.example security=none"));
    EXPECT_EQ(1, RunLibraryTool("\"Lan Mail\" certificate=C:\\no\\such.pem"));
    EXPECT_EQ(1, RunLibraryToolWithInput("\"Lan Mail\" password=-", std::string(200, 'p')));
    EXPECT_EQ(0, RunLibraryToolWithInput("\"Lan Mail\" password=-", std::string(127, 'p') + "\n"));
    char decrypted[PasswordSize] = "";
    EXPECT_EQ(1, MailPassword("Lan Mail", decrypted, sizeof decrypted));
    EXPECT_EQ(std::string(127, 'p'), decrypted);
    // While the tool changes the store, a reader in another process finds the
    // profile's server every time; a store that cannot be written changes
    // nothing and the tool says so.
    std::string store = ProductFile("TELVEX.INI");
    int reads = 0, emptyReads = 0;
    for (int round = 0; round < 20; round++) {
        PROCESS_INFORMATION tool = {};
        ASSERT_TRUE(LaunchCommand("\"" + ProductFile("DLL32\\TelvexMail.exe") +
                                      "\" \"Lan Mail\" port=" + std::to_string(2500 + round),
                                  &tool, nullptr));
        do {
            char server[64];
            GetPrivateProfileStringA("Profile:Lan Mail", "SmtpServer", "", server, sizeof server,
                                     store.c_str());
            reads++;
            emptyReads += !server[0];
        } while (WaitForSingleObject(tool.hProcess, 0) == WAIT_TIMEOUT);
        CloseHandle(tool.hProcess);
        CloseHandle(tool.hThread);
    }
    EXPECT_EQ(0, emptyReads) << "of " << reads << " reads";
    ASSERT_TRUE(CreateDirectoryA(ProductFile("TELVEX.NEW").c_str(), nullptr));
    EXPECT_EQ(1, RunLibraryTool("\"Lan Mail\" port=2600"));
    RemoveDirectoryA(ProductFile("TELVEX.NEW").c_str());
    ASSERT_EQ(1, LoadMailProfile("Lan Mail", &mail));
    EXPECT_EQ(2519, mail.Port);
    // A profile with TLS from the first byte gets that port unless it names one.
    ASSERT_EQ(0, RunLibraryTool("\"Lan Mail\" server=mail.example.com security=tls port="));
    ASSERT_EQ(1, LoadMailProfile("Lan Mail", &mail));
    EXPECT_EQ(465, mail.Port);
}

// What a user types into the new profile dialog's delivery fields, and what
// the dialog answered.
struct DeliveryForm {
    const char *Server, *Password;
    int Security;
    std::string Refusal;
    int KeptOpen = 0;
};

void FillDeliveryFields(HWND dialog, void *context) {
    DeliveryForm *form = (DeliveryForm *)context;
    SetDlgItemTextA(dialog, IDC_SMTP_SERVER, form->Server);
    SetDlgItemTextA(dialog, IDC_SMTP_USER, "scan");
    SetDlgItemTextA(dialog, IDC_SMTP_PASSWORD, form->Password);
    SetDlgItemTextA(dialog, IDC_SMTP_SENDER, "desk@varnel.example");
    SendDlgItemMessageA(dialog, IDC_SMTP_SECURITY, CB_SETCURSEL, SecurityNone, 0);
    {
        DialogAnswer box("Delivery Settings", ReadAndPressOk, &form->Refusal);
        PressButton(dialog, IDOK);
        box.Wait();
    }
    form->KeptOpen = IsWindowVisible(dialog);
    SendDlgItemMessageA(dialog, IDC_SMTP_SECURITY, CB_SETCURSEL, form->Security, 0);
    PressButton(dialog, IDOK);
}

TEST_F(Transport, TheNewProfileDialogStoresDeliverySettingsAndRefusesWhatCannotWork) {
    DeliveryForm form = {"mail.example.com", "Typed-In-The-Dialog", SecurityStartTls, ""};
    DialogAnswer answer("New Profile", FillDeliveryFields, &form);
    EXPECT_EQ(1u, TelvexBinding.InstallTelvex(nullptr, ProfileKindInternet, "Desk Mail"));
    ASSERT_EQ(1, answer.Wait());
    EXPECT_EQ("Without security, mail can only go to a server on this computer.", form.Refusal);
    EXPECT_EQ(1, form.KeptOpen);
    ExpectDelivery("Desk Mail",
                   {"mail.example.com", 587, SecurityStartTls, "scan", "desk@varnel.example", ""},
                   form.Password);
}

// Names this machine (as GetComputerName says) for the programs started
// from now on: the name it had.
std::string SetComputerName(const std::string &name) {
    char previous[MAX_COMPUTERNAME_LENGTH + 1] = "";
    DWORD size = sizeof previous;
    GetComputerNameA(previous, &size);
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE,
                      "System\\CurrentControlSet\\Control\\ComputerName\\ActiveComputerName", 0,
                      KEY_SET_VALUE, &key) == ERROR_SUCCESS) {
        RegSetValueExA(key, "ComputerName", 0, REG_SZ, (const BYTE *)name.c_str(),
                       (DWORD)name.size() + 1);
        RegCloseKey(key);
    }
    return previous;
}

int Occurrences(const std::string &text, const std::string &part) {
    int count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        count++;
    }
    return count;
}

// Ends the running agent as a crash or a power cut would; 1 once it is gone.
int KillAgent() {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    int killed = 0;
    for (BOOL more = Process32First(snapshot, &entry); more;
         more = Process32Next(snapshot, &entry)) {
        if (_stricmp(entry.szExeFile, TELVEX_AGENT_FILE) == 0) {
            HANDLE agent = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, entry.th32ProcessID);
            killed = agent && TerminateProcess(agent, 9) &&
                     WaitForSingleObject(agent, 30000) == WAIT_OBJECT_0;
            if (agent) {
                CloseHandle(agent);
            }
        }
    }
    CloseHandle(snapshot);
    return killed;
}

// Delivery through a scripted SMTP server (smtp_server.py) that runs natively
// on the loopback interface; what it accepted is in its folder, Received, as
// NNN.eml (the data) and NNN.env (the envelope).
class Delivery : public Transport {
  protected:
    std::string Received = ProductFile("OUTBOX\\received\\");
    std::string Log = ProductFile("OUTBOX\\delivery.log");
    int Port = 0;
    std::string Server; // " 127.0.0.1:port", as the log and the records name it
    Delivery() { Outbox = ProductFile("OUTBOX\\delivery\\"); }
    void SetUp() override {
        ASSERT_TRUE(WaitUntil([] { return !DeliveryAgentRunning(); }, 60000))
            << "the agent of an earlier test still runs";
        Transport::SetUp();
        CreateDirectoryA(ProductFile("OUTBOX\\").c_str(), nullptr);
        UseOutbox(Outbox);
        ClearFolder(Received);
        Port = FreeLoopbackPort();
        ASSERT_NE(0, Port);
        Server = " 127.0.0.1:" + std::to_string(Port);
        ASSERT_EQ(0, RunLibraryTool("\"Lan Mail\" server=127.0.0.1 security=none port=" +
                                    std::to_string(Port)));
        SetStoreValue("RetryPauseMs", "50");
    }
    void TearDown() override {
        StopServer();
        EXPECT_TRUE(WaitUntil([] { return !DeliveryAgentRunning(); }, 60000))
            << "the agent did not end";
    }
    void StartServer(const std::string &options) {
        ASSERT_TRUE(StartSmtpServer(Received, Port, options)) << "the test server did not start";
    }
    void StopServer() { EXPECT_TRUE(StopSmtpServer(Received)); }
    // Makes folder the profile's outbox, empty, with its log.
    void UseOutbox(const std::string &folder) {
        Outbox = folder;
        Log = folder.substr(0, folder.size() - 1) + ".log";
        SetProfileText("Lan Mail", "Outbox", folder.c_str());
        DeleteFileA((Outbox + "Sent").c_str()); // left as a file by a failed run
        for (const std::string &inner : {Outbox, Outbox + "Sent\\", Outbox + "Failed\\"}) {
            ClearFolder(inner);
        }
        DeleteFileA(Log.c_str());
    }
    // The messages in the outbox and those that have left it.
    std::vector<std::string> AllMessages() {
        std::vector<std::string> names = OutboxFiles("*.eml");
        for (const char *folder : {"Sent\\*.eml", "Failed\\*.eml"}) {
            for (const std::string &name : OutboxFiles(folder)) {
                names.push_back(name);
            }
        }
        return names;
    }
    // Queues a message of one page to the recipients: the name of its file.
    std::string Queue(const std::vector<Recipient> &records, DWORD pageSize) {
        std::vector<std::string> before = AllMessages();
        std::string page = ProductFile("OUTBOX\\delivery-page.bin");
        WritePage(page, pageSize, (int)before.size());
        PrepareJob(records);
        JobLink.PageCount = 1;
        JobLink.PagePaths = page.c_str();
        EXPECT_EQ(0u, TelvexBinding.SendTelvex(0, &JobLink));
        EndJob();
        DeleteFileA(page.c_str());
        for (const std::string &name : AllMessages()) {
            if (std::find(before.begin(), before.end(), name) == before.end()) {
                return name;
            }
        }
        return "(none queued)";
    }
    // Queues a message while no server listens, then adds lines that begin
    // with a dot, one of them alone: they must arrive as they are.
    std::string QueueWithDotLines(const std::vector<Recipient> &records, DWORD pageSize) {
        std::string name = Queue(records, pageSize);
        EXPECT_TRUE(
            WaitUntil([&] { return ReadFileText(Log).find(" kept ") != std::string::npos; }, 30000))
            << "no attempt while the server was down";
        WriteFileText(Outbox + name, ReadFileText(Outbox + name) + ".\r\n..two\r\n");
        return name;
    }
    std::string Stem(const std::string &name) { return name.substr(0, name.size() - 4); }
    int Filed(const char *folder, const std::string &name) {
        return FileExists((Outbox + folder + "\\" + name).c_str());
    }
    int Logged(const std::string &text) {
        return ReadFileText(Log).find(text) != std::string::npos;
    }
    int WaitForLog(const std::string &text) {
        return WaitUntil([&] { return Logged(text); }, 30000);
    }
    // What a failed wait shows: the log, what the outbox holds, the agent.
    std::string Seen() {
        std::string seen = ReadFileText(Log) + "outbox:";
        for (const std::string &name : OutboxFiles("*.*")) {
            seen += " " + name;
        }
        return seen + (DeliveryAgentRunning() ? "; the agent runs" : "; no agent runs");
    }
    int Connections() { return Occurrences(ReadFileText(Received + "connections"), "connection"); }
    void SetStoreValue(const char *key, const char *value) {
        ASSERT_EQ(1, SetStoreTexts(TELVEX_SECTION, &key, &value, 1));
    }
    // A second mail profile on the outbox, desk@varnel.example's, with these
    // settings ("key=value") besides; the jobs queued next go by it.
    void UseDeskProfile(const std::string &name, const std::vector<std::string> &settings = {}) {
        Profile = name;
        std::vector<std::string> all = {"Services=28", "EmailAddress=desk@varnel.example",
                                        "Outbox=" + Outbox};
        all.insert(all.end(), settings.begin(), settings.end());
        for (const std::string &pair : all) {
            size_t at = pair.find('=');
            SetProfileText(name.c_str(), pair.substr(0, at).c_str(), pair.substr(at + 1).c_str());
        }
    }
    // Puts a message in the outbox as another program might: name.eml, and
    // its envelope unless that is NULL.
    void PutMessage(const std::string &name, const char *envelope, const std::string &message) {
        if (envelope) {
            WriteFileText(Outbox + Stem(name) + ".env", envelope);
        }
        WriteFileText(Outbox + name, message);
    }
    // Points the profile (and profile, another one) at the server with TLS
    // as security asks ("starttls", or "tls" from the first byte), trusting
    // its certificate alone, with AUTH as scan.
    void UseTls(const std::string &security, const std::string &password,
                const std::string &profile = "Lan Mail") {
        ASSERT_EQ(0, RunLibraryTool("\"" + profile +
                                    "\" server=127.0.0.1 port=" + std::to_string(Port) +
                                    " security=" + security + " user=scan password=" + password +
                                    " certificate=\"" + Received + "cert.pem\""));
    }
    // Starts the server with TLS and AUTH as scan (and its options), and has
    // one message delivered: whole, to its recipient.
    void DeliverOverTls(const std::string &security, const std::string &password,
                        const std::string &options = "") {
        StartServer("--" + security + " scan " + password + " " + options);
        UseTls(security, password);
        std::string name = Queue({{"Ada", "SMTP:ada@example.com", ""}}, 60000);
        ASSERT_TRUE(WaitUntil([&] { return Filed("Sent", name); }, 60000)) << ReadFileText(Log);
        EXPECT_TRUE(ReadFileText(Outbox + "Sent\\" + name) == ReadFileText(Received + "001.eml"));
        EXPECT_EQ("scan@varnel.example\nada@example.com\n", ReadFileText(Received + "001.env"));
    }
};

// Queued while the server is down, then sent over one session; the second
// (over 4 MB) larger than the agent reads into memory at once. Each message
// the server took is filed while the next one goes, before its reply.
TEST_F(Delivery, MessagesQueuedWhileTheServerIsDownReachItOnceWholeWithTheirEnvelopes) {
    std::string name = QueueWithDotLines(
        {{"Ada", "SMTP:ada@example.com", ""}, {"Front Desk", "FAX:+1 555 0101", ""}}, 60000);
    ASSERT_TRUE(FileExists((Outbox + Stem(name) + ".env").c_str()));
    std::string queued = ReadFileText(Outbox + name);
    std::string second = Queue({{"Bo", "SMTP:bo@example.com", ""}}, 3200 * 1000);
    std::string third = Queue({{"Cy", "SMTP:cy@example.com", ""}}, 3000);
    StartServer("--hold-data-reply 3");
    ASSERT_TRUE(WaitUntil([&] { return FileExists((Received + "held1").c_str()); }, 60000))
        << ReadFileText(Log);
    EXPECT_TRUE(Filed("Sent", name) && Filed("Sent", second)) << "not filed meanwhile";
    WriteFileText(Received + "release", "");
    ASSERT_TRUE(WaitUntil([&] { return Filed("Sent", name) && Filed("Sent", third); }, 60000))
        << ReadFileText(Log);
    ASSERT_TRUE(WaitUntil([] { return !DeliveryAgentRunning(); }, 30000));
    EXPECT_TRUE(queued == ReadFileText(Received + "001.eml")) << "it arrived changed";
    EXPECT_EQ("scan@varnel.example\nada@example.com\n+15550101@fax.test.example\n",
              ReadFileText(Received + "001.env"));
    EXPECT_TRUE(ReadFileText(Outbox + "Sent\\" + second) == ReadFileText(Received + "002.eml"));
    EXPECT_TRUE(ReadFileText(Outbox + "Sent\\" + third) == ReadFileText(Received + "003.eml"));
    EXPECT_FALSE(FileExists((Received + "004.eml").c_str())) << "delivered twice";
    EXPECT_EQ(1, Connections()) << "not over one session";
    EXPECT_TRUE(OutboxFiles("*.eml").empty());
    EXPECT_TRUE(OutboxFiles("*.env").empty());
    std::string record = ReadFileText(Outbox + "Sent\\" + Stem(name) + ".txt");
    EXPECT_NE(std::string::npos, record.find("Server:" + Server));
    EXPECT_NE(std::string::npos, record.find("Reply: 250 2.0.0 queued as 001"));
    EXPECT_TRUE(Logged(name + Server + " delivered"));
}

TEST_F(Delivery, ADroppedConnectionAndA451AreRetriedAndEachMessageArrivesOnce) {
    StartServer("--cut-data 1 --data-replies 451");
    std::string first = Queue({{"Ada", "SMTP:ada@example.com", ""}}, 200000);
    std::string second = Queue({{"Bo", "SMTP:bo@example.com", ""}}, 3000);
    ASSERT_TRUE(WaitUntil([&] { return Filed("Sent", first) && Filed("Sent", second); }, 60000))
        << ReadFileText(Log);
    // The one that must wait holds back no other.
    std::vector<std::string> received = {ReadFileText(Received + "001.eml"),
                                         ReadFileText(Received + "002.eml")};
    for (const std::string &name : {first, second}) {
        std::string sent = ReadFileText(Outbox + "Sent\\" + name);
        EXPECT_EQ(1, std::count(received.begin(), received.end(), sent)) << name;
    }
    EXPECT_FALSE(FileExists((Received + "003.eml").c_str())) << "delivered twice";
    EXPECT_TRUE(Logged(first + Server + " kept")) << ReadFileText(Log);
    EXPECT_TRUE(Logged(": 451 scripted reply")) << ReadFileText(Log);
    EXPECT_FALSE(FileExists((Outbox + "queue.ini").c_str())) << "state left of what is done";
}

// The agent killed while it sends: in the middle of the data, and after
// the server took the message but before it answered QUIT. Started again,
// by the library with the next message and by hand, it sends again only
// what the server did not take: each message arrives once, in order, and
// nothing is left behind, even by an agent ended while it filed.
TEST_F(Delivery, AnAgentKilledWhileSendingOrFilingIsStartedAgainAndEachMessageArrivesOnce) {
    StartServer("--hold-data 1 --hold-quit 1");
    std::string first = Queue({{"Ada", "SMTP:ada@example.com", ""}}, 200000);
    ASSERT_TRUE(WaitUntil([&] { return FileExists((Received + "held1").c_str()); }, 30000))
        << ReadFileText(Log);
    ASSERT_TRUE(KillAgent());
    std::string second = Queue({{"Bo", "SMTP:bo@example.com", ""}}, 3000);
    ASSERT_TRUE(WaitUntil([&] { return FileExists((Received + "held2").c_str()); }, 30000))
        << "the library did not start the agent again: " << ReadFileText(Log);
    ASSERT_TRUE(FileExists((Received + "001.eml").c_str()));
    ASSERT_TRUE(KillAgent());
    EXPECT_EQ(0, RunLibraryTool("", TELVEX_AGENT_FILE));
    ASSERT_TRUE(Filed("Sent", first) && Filed("Sent", second)) << ReadFileText(Log);
    EXPECT_TRUE(ReadFileText(Outbox + "Sent\\" + first) == ReadFileText(Received + "001.eml"));
    EXPECT_TRUE(ReadFileText(Outbox + "Sent\\" + second) == ReadFileText(Received + "002.eml"));
    EXPECT_FALSE(FileExists((Received + "003.eml").c_str())) << "delivered twice";
    for (const char *pattern : {"*.eml", "*.env", "*.tmp"}) {
        EXPECT_TRUE(OutboxFiles(pattern).empty()) << pattern << " left in the outbox";
    }
    std::vector<std::string> filed = OutboxFiles("Sent\\*.*");
    std::sort(filed.begin(), filed.end());
    std::vector<std::string> expected = {".", ".."};
    for (const std::string &name : {first, second}) {
        for (const char *extension : {".eml", ".env", ".txt"}) {
            expected.push_back(Stem(name) + extension);
        }
    }
    EXPECT_EQ(expected, filed);
    EXPECT_FALSE(FileExists((Outbox + "queue.ini").c_str())) << "state left of what is done";
    std::string log = ReadFileText(Log);
    for (const std::string &name : {first, second}) {
        EXPECT_EQ(1, Occurrences(log, name + Server + " delivered")) << log;
    }
    // Ended between moving the message into Sent\ and taking its envelope
    // out of the outbox, the agent finishes the filing when it runs again.
    std::string envelope = Outbox + Stem(second) + ".env";
    ASSERT_TRUE(
        CopyFileA((Outbox + "Sent\\" + Stem(second) + ".env").c_str(), envelope.c_str(), FALSE));
    WritePrivateProfileStringA(("Message " + second).c_str(), "Taken", "1",
                               (Outbox + "queue.ini").c_str());
    EXPECT_EQ(0, RunLibraryTool("", TELVEX_AGENT_FILE));
    EXPECT_FALSE(FileExists(envelope.c_str())) << "left in the outbox";
    EXPECT_FALSE(FileExists((Outbox + "queue.ini").c_str()));
    // Ended between filing its envelope and the message itself.
    ASSERT_TRUE(MoveFileA((Outbox + "Sent\\" + second).c_str(), (Outbox + second).c_str()));
    EXPECT_EQ(0, RunLibraryTool("", TELVEX_AGENT_FILE));
    EXPECT_TRUE(Filed("Sent", second)) << "left in the outbox for good";
    EXPECT_FALSE(FileExists((Received + "003.eml").c_str()));
}

TEST_F(Delivery, ARefusedRecipientIsRecordedWhileTheOthersGetItAndA554FailsTheMessage) {
    StartServer("--refuse bad@example.com --data-replies 554");
    std::string refused = Queue({{"Ada", "SMTP:ada@example.com", ""}}, 3000);
    std::string partly = Queue({{"Ada", "SMTP:ada@example.com", ""},
                                {"Bad", "SMTP:bad@example.com", ""},
                                {"Cy", "SMTP:cy@example.com", ""}},
                               3000);
    ASSERT_TRUE(WaitUntil([&] { return Filed("Failed", refused) && Filed("Sent", partly); }, 60000))
        << ReadFileText(Log);
    EXPECT_NE(std::string::npos, ReadFileText(Outbox + "Failed\\" + Stem(refused) + ".txt")
                                     .find("Reply: 554 scripted reply"));
    EXPECT_EQ("scan@varnel.example\nada@example.com\ncy@example.com\n",
              ReadFileText(Received + "001.env"));
    EXPECT_FALSE(FileExists((Received + "002.eml").c_str()));
    EXPECT_NE(
        std::string::npos,
        ReadFileText(Outbox + "Sent\\" + Stem(partly) + ".txt").find("bad@example.com: 550 5.1.1"));
    EXPECT_NE(std::string::npos, ReadFileText(Log).find("bad@example.com: 550 5.1.1"));
}

// A recipient whose server says "later" does not hold the message back
// from the others, and is not sent it twice.
TEST_F(Delivery, ARecipientDeferredByTheServerGetsTheMessageLaterAndTheOthersOnlyOnce) {
    StartServer("--defer busy@example.com --refuse bad@example.com");
    std::string name = Queue({{"Ada", "SMTP:ada@example.com", ""},
                              {"Busy", "SMTP:busy@example.com", ""},
                              {"Bad", "SMTP:bad@example.com", ""}},
                             3000);
    ASSERT_TRUE(WaitUntil([&] { return Filed("Sent", name); }, 60000)) << ReadFileText(Log);
    EXPECT_EQ("scan@varnel.example\nada@example.com\n", ReadFileText(Received + "001.env"));
    EXPECT_EQ("scan@varnel.example\nbusy@example.com\n", ReadFileText(Received + "002.env"));
    EXPECT_TRUE(ReadFileText(Received + "001.eml") == ReadFileText(Received + "002.eml"));
    EXPECT_FALSE(FileExists((Received + "003.eml").c_str())) << "sent again";
    std::string record = ReadFileText(Outbox + "Sent\\" + Stem(name) + ".txt");
    EXPECT_NE(std::string::npos, record.find("Deferred:\r\nbusy@example.com: 451 4.2.1")) << record;
    EXPECT_NE(std::string::npos, record.find("bad@example.com: 550 5.1.1")) << record;
    EXPECT_NE(std::string::npos, record.find("Reply: 250 2.0.0 queued as 002")) << record;
    EXPECT_NE(std::string::npos, ReadFileText(Log).find(name + Server + " partly delivered"));
    for (const char *left : {"*.eml", "*.env", "*.txt", "*.new"}) {
        EXPECT_EQ(std::vector<std::string>(), OutboxFiles(left)) << left;
    }
}

// A message another program holds open is tried again once it can be read,
// never filed as sent unsent.
TEST_F(Delivery, AMessageThatCannotBeReadWaitsAndIsSentOnceItCan) {
    std::string name = Queue({{"Ada", "SMTP:ada@example.com", ""}}, 3000);
    ASSERT_TRUE(
        WaitUntil([&] { return ReadFileText(Log).find(" kept ") != std::string::npos; }, 30000))
        << "no attempt while the server was down";
    HANDLE held = CreateFileA((Outbox + name).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, held);
    StartServer("");
    bool seen = WaitUntil(
        [&] { return ReadFileText(Log).find("cannot be read") != std::string::npos; }, 30000);
    bool filed = Filed("Sent", name) != 0;
    CloseHandle(held);
    ASSERT_TRUE(seen) << ReadFileText(Log);
    EXPECT_FALSE(filed) << "filed as sent without being sent";
    ASSERT_TRUE(WaitUntil([&] { return Filed("Sent", name); }, 60000)) << ReadFileText(Log);
    EXPECT_TRUE(FileExists((Received + "001.eml").c_str()));
}

TEST_F(Delivery, AMessageTheServerTookButSentCannotHoldIsFiledLaterNotSentAgain) {
    RemoveDirectoryA((Outbox + "Sent").c_str()); // emptied by UseOutbox
    WriteFileText(Outbox + "Sent", "a file where the folder would be");
    StartServer("");
    std::string name = Queue({{"Ada", "SMTP:ada@example.com", ""}}, 3000);
    ASSERT_TRUE(WaitUntil(
        [&] { return ReadFileText(Log).find("cannot be moved") != std::string::npos; }, 30000))
        << ReadFileText(Log);
    DeleteFileA((Outbox + "Sent").c_str());
    ASSERT_TRUE(WaitUntil([&] { return Filed("Sent", name); }, 60000)) << ReadFileText(Log);
    EXPECT_TRUE(FileExists((Received + "001.eml").c_str()));
    EXPECT_FALSE(FileExists((Received + "002.eml").c_str())) << "sent again";
    EXPECT_NE(std::string::npos, ReadFileText(Outbox + "Sent\\" + Stem(name) + ".txt")
                                     .find("Reply: 250 2.0.0 queued as 001"));
}

// Sent\ on a disk of its own of 64 KB (mounted by the test run, see
// small_disk.sh) filled up to 8 KB: the record and the envelope of a message
// of about 27 KB fit, the message does not. It stays whole in the outbox,
// nothing of it in Sent\, until there is room.
TEST_F(Delivery, AMessageTakenWhileSentIsFullStaysWholeInTheOutboxAndIsFiledOnceThereIsRoom) {
    UseOutbox(ProductFile("OUTBOX\\smalldisk\\"));
    std::string sent = Outbox + "Sent\\";
    ULARGE_INTEGER room = {}, size = {};
    if (!GetDiskFreeSpaceExA(sent.c_str(), &room, &size, nullptr) || size.QuadPart > 1024 * 1024) {
        GTEST_SKIP() << sent << " is not a small disk of its own: mounting one needs root";
    }
    std::string filler = sent + "filler.bin";
    WriteFileText(filler, std::string((size_t)room.QuadPart - 8192, 'x'));
    StartServer("");
    std::string name = Queue({{"Ada", "SMTP:ada@example.com", ""}}, 20000);
    // Tried again after a pause that grows, without sending it again.
    std::string full = name + Server +
                       " kept (next try in 1 s): it cannot be moved out of the outbox (error " +
                       std::to_string(ERROR_DISK_FULL) + ": ";
    ASSERT_TRUE(WaitUntil([&] { return Occurrences(ReadFileText(Log), full) >= 2; }, 30000))
        << "not filed for want of room, and not said so: " << ReadFileText(Log);
    EXPECT_LE(2,
              std::stoi(IniValue(Outbox + "queue.ini", ("Message " + name).c_str(), "Failures")));
    std::string message = ReadFileText(Outbox + name);
    std::string envelope = ReadFileText(Outbox + Stem(name) + ".env");
    EXPECT_NE(std::string::npos, envelope.find("ada@example.com")) << "the envelope was lost";
    EXPECT_TRUE(OutboxFiles(("Sent\\" + Stem(name) + ".*").c_str()).empty()) << "half filed";
    DeleteFileA(filler.c_str());
    ASSERT_TRUE(WaitUntil([&] { return Filed("Sent", name); }, 60000)) << ReadFileText(Log);
    ASSERT_TRUE(WaitUntil([] { return !DeliveryAgentRunning(); }, 30000));
    EXPECT_TRUE(message == ReadFileText(Received + "001.eml"));
    EXPECT_TRUE(message == ReadFileText(Outbox + "Sent\\" + name));
    EXPECT_FALSE(FileExists((Received + "002.eml").c_str())) << "sent again";
    EXPECT_EQ(envelope, ReadFileText(Outbox + "Sent\\" + Stem(name) + ".env"));
    std::string record = ReadFileText(Outbox + "Sent\\" + Stem(name) + ".txt");
    EXPECT_EQ("Reply: 250 2.0.0 queued as 001\r\n", record.substr(record.find("Reply: ")));
    EXPECT_EQ(1, Occurrences(ReadFileText(Log), " delivered: ")) << ReadFileText(Log);
    EXPECT_TRUE(OutboxFiles("*.eml").empty());
    EXPECT_TRUE(OutboxFiles("*.env").empty());
}

TEST_F(Delivery, StartTlsWithAuthDeliversToTheNamedCertificateAndBadCredentialsOrTrustStop) {
    const std::string password = "Right-Horse-Battery";
    DeliverOverTls("starttls", password);
    ASSERT_FALSE(HasFatalFailure());
    // A wrong password stops the queue with the reason, once, keeping the message.
    std::string stopped = Server + " stopped: ";
    ASSERT_EQ(0, RunLibraryTool("\"Lan Mail\" password=wrong"));
    std::string kept = Queue({{"Bo", "SMTP:bo@example.com", ""}}, 3000);
    ASSERT_TRUE(WaitUntil(
        [&] { return ReadFileText(Log).find(kept + stopped + "535") != std::string::npos; }, 30000))
        << ReadFileText(Log);
    ASSERT_TRUE(WaitUntil([] { return !DeliveryAgentRunning(); }, 30000));
    std::string log = ReadFileText(Log);
    EXPECT_EQ(log.find(kept), log.rfind(kept)) << "tried again with the same password";
    // Trusting the system's store instead, where the test server's
    // certificate is not: stopped again, nothing sent.
    ASSERT_EQ(0, RunLibraryTool("\"Lan Mail\" password=" + password + " certificate="));
    std::string later = Queue({{"Cy", "SMTP:cy@example.com", ""}}, 3000);
    ASSERT_TRUE(WaitUntil(
        [&] {
            return ReadFileText(Log).find(kept + stopped +
                                          "the server's certificate is not "
                                          "trusted") != std::string::npos;
        },
        30000))
        << ReadFileText(Log);
    EXPECT_TRUE(FileExists((Outbox + kept).c_str()));
    EXPECT_TRUE(FileExists((Outbox + later).c_str()));
    EXPECT_FALSE(FileExists((Received + "002.eml").c_str()));
    EXPECT_EQ(std::vector<std::string>(), FilesHolding(ProductDirectory(), password));
}

// TLS from the first byte, as on port 465, here on a port of its own, from a
// server that asks for a certificate of the client's, which it may leave out.
// Wine's SChannel goes on without one by itself; Windows asks the agent first
// (SEC_I_INCOMPLETE_CREDENTIALS), which only Windows can show.
TEST_F(Delivery, TlsFromTheFirstByteWithAuthDeliversTheMessageWhole) {
    DeliverOverTls("tls", "Quiet-Harbour-Lamp", "--ask-certificate");
}

// The same through Debian's Exim, a production server (smtp_server.py
// --exim, delivering to a maildir), from a machine whose name has a
// character that Windows allows and a mail server's greeting does not;
// Python's standard e-mail package reads what Exim delivered
// (delivered_check.py).
TEST_F(Delivery, EximDeliversTheMessageWholeToTheMailboxOfEachRecipient) {
    std::string machine = SetComputerName("SCAN_DESK");
    std::string name = QueueWithDotLines(
        {{"Ada", "SMTP:ada@example.com", ""}, {"Bo", "SMTP:bo@example.com", ""}}, 200000);
    StartServer("--exim");
    std::string maildir = Received + "exim\\Maildir\\";
    bool filed = WaitUntil([&] { return Filed("Sent", name) || Filed("Failed", name); }, 60000);
    SetComputerName(machine);
    ASSERT_TRUE(filed && Filed("Sent", name)) << ReadFileText(Log);
    ASSERT_TRUE(WaitUntil([&] { return !FilesMatching(maildir + "new\\*").empty(); }, 60000))
        << ReadFileText(Received + "exim\\mainlog");
    std::string verdict = Received + "verdict.txt";
    ASSERT_TRUE(StartHostScript(DELIVERED_CHECK_SCRIPT,
                                UnixPath(verdict) + " " + UnixPath(maildir) + " " +
                                    UnixPath(Outbox + "Sent\\" + name) + " " +
                                    UnixPath(Outbox + "Sent\\" + Stem(name) + ".txt") +
                                    " scan@varnel.example ada@example.com bo@example.com",
                                verdict))
        << "no verdict: the check's own output is above";
    EXPECT_EQ("delivered whole\n", ReadFileText(verdict));
}

// A server that refuses STARTTLS for now (454) or drops the connection at
// it is tried again; one that says more after its 220 to STARTTLS (as a man
// in the middle would, false replies to the commands to come) is not
// believed inside TLS.
TEST_F(Delivery, StartTlsRefusedForNowOrDroppedIsTriedAgainAndNothingSaidBeforeItCounts) {
    StartServer("--starttls scan Pw-1 --starttls-replies 454,0,1");
    UseTls("starttls", "Pw-1");
    std::string name = Queue({{"Ada", "SMTP:ada@example.com", ""}}, 3000);
    ASSERT_TRUE(WaitUntil([&] { return Filed("Sent", name); }, 60000)) << ReadFileText(Log);
    for (const char *why : {": 454 4.7.0", ": connection closed by the server",
                            ": the server sent more after its 220 to STARTTLS"}) {
        EXPECT_TRUE(Logged(name + Server + " kept (next try in 1 s)" + why)) << ReadFileText(Log);
    }
    EXPECT_NE(std::string::npos, ReadFileText(Outbox + "Sent\\" + Stem(name) + ".txt")
                                     .find("Reply: 250 2.0.0 queued as 001"));
    EXPECT_FALSE(FileExists((Received + "002.eml").c_str()));
}

// Two profiles share the outbox; a wrong password stops the one whose name
// an INI key could not hold, once, even for an agent started again (as the
// next job starts it), and the other's messages still go. The settings tool
// mends it and starts the agent: no new message is needed.
TEST_F(Delivery, AProfileStoppedByItsPasswordStopsOnceWhateverItsNameUntilTheToolMendsIt) {
    StartServer("--starttls scan Pw-2");
    UseTls("starttls", "Pw-2");
    UseDeskProfile(";Desk=Mail");
    UseTls("starttls", "wrong", Profile);
    std::string stopped = Queue({{"Ada", "SMTP:ada@example.com", ""}}, 3000);
    Profile = "Lan Mail";
    std::string sent = Queue({{"Bo", "SMTP:bo@example.com", ""}}, 3000);
    ASSERT_TRUE(WaitUntil([&] { return Filed("Sent", sent); }, 60000)) << ReadFileText(Log);
    ASSERT_TRUE(WaitUntil([] { return !DeliveryAgentRunning(); }, 30000))
        << "the stopped profile is tried again and again: " << ReadFileText(Log);
    EXPECT_EQ(0, RunLibraryTool("", TELVEX_AGENT_FILE));
    EXPECT_EQ(1, Occurrences(ReadFileText(Log), stopped + Server + " stopped: 535"));
    EXPECT_EQ("1", IniValue(Outbox + "queue.ini", "Profile %3BDesk%3DMail", "Stopped"));
    ASSERT_EQ(0, RunLibraryTool("\";Desk=Mail\" password=Pw-2"));
    ASSERT_TRUE(WaitUntil([&] { return Filed("Sent", stopped); }, 60000)) << ReadFileText(Log);
    EXPECT_EQ("desk@varnel.example\nada@example.com\n", ReadFileText(Received + "002.env"));
    EXPECT_FALSE(FileExists((Received + "003.eml").c_str()));
}

// A greeting trickled a byte at a time is bounded as a whole; the reply to
// the end of the data is awaited as RFC 5321 says, not as long as the others.
TEST_F(Delivery, ATrickledReplyIsBoundedWholeAndTheReplyToTheDataIsAwaitedLonger) {
    SetStoreValue("SmtpTimeoutMs", "1000");
    StartServer("--trickle --slow-data-reply 3");
    std::string name = Queue({{"Ada", "SMTP:ada@example.com", ""}}, 3000);
    ASSERT_TRUE(WaitUntil([&] { return Filed("Sent", name); }, 60000)) << ReadFileText(Log);
    EXPECT_TRUE(Logged(name + Server + " kept (next try in 1 s): no whole reply in time"))
        << ReadFileText(Log);
    EXPECT_FALSE(FileExists((Received + "002.eml").c_str())) << "sent twice";
}

// A recipient answered 452 every time holds back no other message; the
// functions an outbox window calls try it at once, or take one away; five
// days after it was queued it is given up, in Failed\ with the reason.
TEST_F(Delivery, AMessageThatMustWaitHoldsBackNoOtherAndIsGivenUpAfterFiveDays) {
    StartServer("--hold-recipient held@example.com");
    std::string held = Queue({{"Held", "SMTP:held@example.com", ""}}, 3000);
    std::vector<std::string> others;
    for (const char *who : {"bo", "cy", "di"}) {
        others.push_back(Queue({{who, std::string("SMTP:") + who + "@example.com", ""}}, 3000));
    }
    ASSERT_TRUE(WaitUntil(
        [&] {
            return Filed("Sent", others[0]) && Filed("Sent", others[1]) && Filed("Sent", others[2]);
        },
        60000))
        << ReadFileText(Log);
    EXPECT_TRUE(FileExists((Outbox + held).c_str()));
    SetStoreValue("RetryPauseMs", "3600000");
    std::string hour = held + Server + " kept (next try in 3600 s): 452 4.2.2";
    ASSERT_TRUE(WaitForLog(hour)) << ReadFileText(Log);
    ASSERT_EQ(1, RetryQueuedMessage(Outbox.c_str(), held.c_str()));
    ASSERT_TRUE(WaitUntil([&] { return Occurrences(ReadFileText(Log), hour) == 2; }, 30000))
        << "not tried again at once: " << ReadFileText(Log);
    std::string removed = Queue({{"Held", "SMTP:held@example.com", ""}}, 3000);
    ASSERT_TRUE(WaitForLog(removed + Server + " kept")) << ReadFileText(Log);
    EXPECT_EQ(1, RemoveQueuedMessage(Outbox.c_str(), removed.c_str()));
    EXPECT_EQ(std::vector<std::string>(), OutboxFiles((Stem(removed) + ".*").c_str()));
    HANDLE file = CreateFileA((Outbox + held).c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    ULARGE_INTEGER queued = {{now.dwLowDateTime, now.dwHighDateTime}};
    queued.QuadPart -= 6ULL * 24 * 3600 * 10000000;
    FILETIME sixDaysAgo = {queued.LowPart, queued.HighPart};
    ASSERT_TRUE(SetFileTime(file, nullptr, nullptr, &sixDaysAgo));
    CloseHandle(file);
    ASSERT_EQ(1, RetryQueuedMessage(Outbox.c_str(), held.c_str()));
    ASSERT_TRUE(WaitUntil([&] { return Filed("Failed", held); }, 30000)) << ReadFileText(Log);
    EXPECT_NE(std::string::npos,
              ReadFileText(Outbox + "Failed\\" + Stem(held) + ".txt")
                  .find("Reply: not delivered within five days; the last reply: 452 4.2.2"));
}

// A server that refuses the session (554) refuses it for now: no message
// fails. One that knows no EHLO is greeted with HELO, which offers no
// STARTTLS: a profile that asks for it stops.
TEST_F(Delivery, ARefusedSessionFailsNoMessageAndAServerWithoutEhloIsGreetedWithHelo) {
    StartServer("--greeting 554 --ehlo-reply 502");
    std::string first = Queue({{"Ada", "SMTP:ada@example.com", ""}}, 3000);
    std::string second = Queue({{"Bo", "SMTP:bo@example.com", ""}}, 3000);
    ASSERT_TRUE(WaitUntil([&] { return Filed("Sent", first) && Filed("Sent", second); }, 60000))
        << ReadFileText(Log);
    EXPECT_TRUE(Logged(first + Server + " kept (next try in 1 s): 554 5.7.1 scripted refusal"))
        << ReadFileText(Log);
    EXPECT_EQ(std::vector<std::string>(), OutboxFiles("Failed\\*.eml"));
    ASSERT_EQ(0, RunLibraryTool("\"Lan Mail\" security=starttls"));
    std::string stopped = Queue({{"Cy", "SMTP:cy@example.com", ""}}, 3000);
    EXPECT_TRUE(WaitForLog(stopped + Server + " stopped: the server does not offer STARTTLS"))
        << Seen();
    EXPECT_FALSE(FileExists((Received + "003.eml").c_str()));
}

// The outbox on a disk of its own (see small_disk.sh): the disk fills up
// while the server takes a message, so that the note of its delivery cannot
// be written. The outbox stops, said once; nothing is sent again.
TEST_F(Delivery, AMessageTakenWhileItsOutboxDiskIsFullIsNeverSentAgain) {
    UseOutbox(ProductFile("OUTBOX\\fulldisk\\"));
    ULARGE_INTEGER room = {}, size = {};
    if (!GetDiskFreeSpaceExA(Outbox.c_str(), &room, &size, nullptr) ||
        size.QuadPart > 1024 * 1024) {
        GTEST_SKIP() << Outbox << " is not a small disk of its own: mounting one needs root";
    }
    StartServer("--hold-data-reply");
    std::string name = Queue({{"Ada", "SMTP:ada@example.com", ""}}, 3000);
    ASSERT_TRUE(WaitUntil([&] { return FileExists((Received + "held1").c_str()); }, 30000));
    GetDiskFreeSpaceExA(Outbox.c_str(), &room, &size, nullptr);
    std::string filler = Outbox + "filler.bin";
    WriteFileText(filler, std::string((size_t)room.QuadPart, 'x'));
    WriteFileText(Received + "release", "");
    std::string stop = name + Server + " stopped: its state cannot be written";
    ASSERT_TRUE(WaitUntil(
        [&] { return Logged(stop) || FileExists((Received + "002.eml").c_str()); }, 30000))
        << ReadFileText(Log);
    DeleteFileA(filler.c_str());
    ASSERT_TRUE(WaitUntil([&] { return Filed("Sent", name); }, 60000)) << ReadFileText(Log);
    EXPECT_FALSE(FileExists((Received + "002.eml").c_str())) << "sent again";
    EXPECT_EQ(1, Occurrences(ReadFileText(Log), stop)) << ReadFileText(Log);
}

// What the agent reads from outside, damaged or odd: envelopes cut short or
// naming what is not there, a sender edited into the store, messages not
// written by the library, a queue.ini from the far future, an EHLO line
// longer than any buffer, a server name with two addresses. Each message is
// sent as SMTP wants it, or filed in Failed\ with the reason, said in the log.
TEST_F(Delivery, DamagedOrOddInputIsSentAsSmtpWantsOrFiledInFailedWithTheReason) {
    ASSERT_EQ(0, RunLibraryTool("\"Lan Mail\" server=localhost"));
    SetProfileText("Pickup Mail", "Services", "28");
    const std::string plain = "Subject: plain\r\n\r\nplain\r\n";
    struct Case {
        const char *Name, *Envelope, *Reason;
    } failing[] = {
        {"a-cut.eml", "Lan Mail\r\nscan@varnel.example\r\nada@example.com\r\nbo@exam",
         "its envelope was cut short"},
        {"b-none.eml", "Lan Mail\r\nscan@varnel.example\r\n", "its envelope names no recipient"},
        {"c-gone.eml", "No Mail\r\nscan@varnel.example\r\nada@example.com\r\n",
         "a profile that does not exist: No Mail"},
        {"d-pickup.eml", "Pickup Mail\r\nscan@varnel.example\r\nada@example.com\r\n",
         "its profile Pickup Mail has no server"},
        {"e-sender.eml", "Lan Mail\r\nscan@x> RET=HDRS\r\nada@example.com\r\n",
         "its envelope's sender is not a plain mailbox"},
        {"f-long.eml", "Lan Mail\r\nscan@varnel.example\r\nada@example.com\r\n",
         "a line longer than the 998 octets"},
    };
    for (const Case &message : failing) {
        PutMessage(message.Name, message.Envelope,
                   message.Name[0] == 'f' ? "Subject: long\r\n\r\n" + std::string(1200, 'x')
                                          : plain);
    }
    const char *ada = "Lan Mail\r\nscan@varnel.example\r\nada@example.com\r\n";
    // Its last line is ended, as the library's are: only its other lines say
    // it cannot go as it is.
    PutMessage("g-odd.eml", ada, "Subject: odd\n\nbare LF\n.\r.\r\n8-bit \xe9\r\nlast\r\n");
    WriteFileText(Outbox + "queue.ini",
                  "[Queue]\r\nNextTry=99999999999999999\r\n[Profile Lan%20Mail]\r\n"
                  "NextTry=99999999999999999\r\n[Message g-odd.eml]\r\nNextTry=99999999999999\r\n");
    StartServer("--long-ehlo-line");
    EXPECT_EQ(0, RunLibraryTool("", TELVEX_AGENT_FILE));
    for (const Case &message : failing) {
        EXPECT_TRUE(Filed("Failed", message.Name)) << message.Name;
        EXPECT_NE(
            std::string::npos,
            ReadFileText(Outbox + "Failed\\" + Stem(message.Name) + ".txt").find(message.Reason))
            << message.Name;
        std::string server =
            message.Name[0] < 'f' ? "(no server)" : "localhost:" + std::to_string(Port);
        EXPECT_TRUE(Logged(std::string(message.Name) + " " + server + " failed: ")) << message.Name;
    }
    ASSERT_TRUE(Filed("Sent", "g-odd.eml")) << ReadFileText(Log);
    EXPECT_EQ("Subject: odd\r\n\r\nbare LF\r\n.\r\n.\r\n8-bit \xe9\r\nlast\r\n",
              ReadFileText(Received + "001.eml"));
    EXPECT_EQ("scan@varnel.example BODY=8BITMIME\nada@example.com\n",
              ReadFileText(Received + "001.env"));
    // 8-bit text to a server that does not take it is refused, not sent
    // changed; found while the server takes the first message, it leaves the
    // session to the others.
    StopServer();
    StartServer("--no-8bitmime");
    for (const char *name : {"h-0.eml", "h-1.eml", "h-9.eml"}) {
        PutMessage(name, ada, plain);
    }
    PutMessage("h-8bit.eml", ada, "Subject: 8-bit\r\n\r\n\xe9t\xe9\r\n");
    int sessions = Connections();
    EXPECT_EQ(0, RunLibraryTool("", TELVEX_AGENT_FILE));
    EXPECT_NE(std::string::npos, ReadFileText(Outbox + "Failed\\h-8bit.txt").find("8BITMIME"));
    // This server counts its messages from 001 again.
    for (const char *name : {"001", "002", "003"}) {
        EXPECT_EQ(plain, ReadFileText(Received + name + ".eml")) << name;
    }
    EXPECT_FALSE(FileExists((Received + "004.eml").c_str()));
    EXPECT_EQ(sessions + 1, Connections());
}

// What the agent posts to a window of the test's own, as a program asking
// with NotifyDelivery would get it.
std::vector<std::pair<WPARAM, LPARAM>> Told;
UINT ToldMessage;
LRESULT CALLBACK Listen(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == ToldMessage) {
        Told.push_back({wParam, lParam});
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

// Told once that the message waits, once that it was sent; a note that names
// any other message than a registered one is not followed.
TEST_F(Delivery, TheWindowThatAskedIsToldOnceDelayedAndOnceSentAndNothingElse) {
    ToldMessage = RegisterWindowMessageA("DeliveryTestOutcome");
    Told.clear();
    WNDCLASSA kind = {};
    kind.lpfnWndProc = Listen;
    kind.hInstance = GetModuleHandleA(nullptr);
    kind.lpszClassName = "DeliveryListener";
    RegisterClassA(&kind);
    HWND window = CreateWindowA("DeliveryListener", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                kind.hInstance, nullptr);
    ASSERT_NE((HWND)NULL, window);
    EXPECT_EQ(0u, TelvexOptional.NotifyDelivery(window, WM_CLOSE, 8));
    ASSERT_EQ(1u, TelvexOptional.NotifyDelivery(window, ToldMessage, 7));
    std::string told = Queue({{"Ada", "SMTP:ada@example.com", ""}}, 3000);
    TelvexOptional.NotifyDelivery(nullptr, 0, 0);
    std::string forged = Queue({{"Bo", "SMTP:bo@example.com", ""}}, 3000);
    WriteFileText(Outbox + Stem(forged) + ".who", std::to_string((ULONG_PTR)window) + " 16 9 " +
                                                      std::to_string(GetCurrentProcessId()) +
                                                      " 0\r\n");
    ASSERT_TRUE(WaitUntil(
        [&] { return Occurrences(ReadFileText(Log), told + Server + " kept") >= 3; }, 30000))
        << ReadFileText(Log);
    StartServer("");
    ASSERT_TRUE(WaitUntil([&] { return Filed("Sent", told) && Filed("Sent", forged); }, 60000))
        << ReadFileText(Log);
    ASSERT_TRUE(WaitUntil([] { return !DeliveryAgentRunning(); }, 30000));
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        DispatchMessageA(&message);
    }
    EXPECT_TRUE(IsWindow(window)) << "the forged note closed the window";
    EXPECT_EQ((std::vector<std::pair<WPARAM, LPARAM>>{{7, DeliveryDelayed}, {7, DeliverySent}}),
              Told);
    EXPECT_TRUE(OutboxFiles("*.who").empty());
    DestroyWindow(window);
}

// The library's outbox window, open on a thread of its own as the program's
// main thread would hold it; closed with its Close button at the end.
class OutboxWindow {
  public:
    HWND Window = NULL;
    OutboxWindow() {
        Thread = CreateThread(nullptr, 0, Run, nullptr, 0, nullptr);
        Window = WaitForWindow("#32770", "Outbox");
        // Shown once its list is filled.
        EXPECT_TRUE(Window && WaitUntil([&] { return IsWindowVisible(Window) != 0; }));
    }
    ~OutboxWindow() {
        if (Window) {
            PressButton(Window, IDCANCEL);
        }
        EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(Thread, 30000));
        DWORD result = 1;
        GetExitCodeThread(Thread, &result);
        EXPECT_EQ(0u, result) << "OpenOutbox";
        CloseHandle(Thread);
    }
    // The list as the window shows it: a row of six columns a message.
    std::vector<std::vector<std::string>> Rows() {
        HWND list = GetDlgItem(Window, IDC_OUTBOX_LIST);
        std::vector<std::vector<std::string>> rows(
            (size_t)SendMessageA(list, LVM_GETITEMCOUNT, 0, 0));
        for (size_t i = 0; i < rows.size(); i++) {
            for (int column = 0; column < 6; column++) {
                char text[1024] = "";
                LVITEMA item = {};
                item.iSubItem = column;
                item.pszText = text;
                item.cchTextMax = sizeof text;
                SendMessageA(list, LVM_GETITEMTEXTA, i, (LPARAM)&item);
                rows[i].push_back(text);
            }
        }
        return rows;
    }
    // Selects the row whose recipients are these (as a click would); the row, or -1.
    int Select(const std::string &recipients) {
        std::vector<std::vector<std::string>> rows = Rows();
        for (size_t i = 0; i < rows.size(); i++) {
            if (rows[i][1] == recipients) {
                LVITEMA state = {};
                state.stateMask = state.state = LVIS_SELECTED | LVIS_FOCUSED;
                SendMessageA(GetDlgItem(Window, IDC_OUTBOX_LIST), LVM_SETITEMSTATE, i,
                             (LPARAM)&state);
                return (int)i;
            }
        }
        return -1;
    }
    bool Enabled(int id) { return IsWindowEnabled(GetDlgItem(Window, id)) != 0; }
    // Ends it otherwise than by Close: its thread is told to quit, as when
    // the program that owns it ends.
    void Quit() {
        PostThreadMessageA(GetThreadId(Thread), WM_QUIT, 0, 0);
        Window = NULL;
    }

  private:
    HANDLE Thread;
    static DWORD WINAPI Run(void *) { return TelvexOptional.OpenOutbox(nullptr); }
};

size_t ThreadsOfThisProcess() {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    THREADENTRY32 thread = {};
    thread.dwSize = sizeof thread;
    size_t count = 0;
    for (BOOL more = Thread32First(snapshot, &thread); more;
         more = Thread32Next(snapshot, &thread)) {
        count += thread.th32OwnerProcessID == GetCurrentProcessId();
    }
    CloseHandle(snapshot);
    return count;
}

void PressYes(HWND box, void *) {
    PressButton(box, IDYES);
}

// A real outbox with a message in each state: delayed by a recipient the
// server holds back, stopped with its profile, queued for a pickup service,
// failed by a refusal. The window lists them, follows the agent while open,
// sends a delayed or stopped message at once and a failed one again with a
// fresh envelope, and removes a message once asked.
TEST_F(Delivery, TheOutboxWindowListsRetriesAndRemovesWhatWaitsOrFailed) {
    SetStoreValue("RetryPauseMs", "600000"); // a delayed message waits for Retry Now
    StartServer("--refuse bad@example.com --hold-recipient slow@example.com");
    std::string failed = Queue({{"Bad", "SMTP:bad@example.com", ""}}, 3000);
    std::string delayed = Queue({{"Slow", "SMTP:slow@example.com", ""}}, 3000);
    ASSERT_TRUE(WaitUntil(
        [&] { return Filed("Failed", failed) && Logged(delayed + Server + " kept"); }, 60000))
        << ReadFileText(Log);
    // A profile whose settings the agent cannot use is stopped.
    UseDeskProfile("Desk Mail", {"SmtpServer=127.0.0.1", "SmtpSecurity=plain",
                                 "SmtpPort=" + std::to_string(Port)});
    std::string stopped = Queue({{"Eve", "SMTP:eve@example.com", ""}}, 3000);
    Profile = "Lan Mail";
    ASSERT_TRUE(WaitUntil([&] { return Logged(stopped + Server + " stopped"); }, 60000))
        << ReadFileText(Log);
    PutMessage("pickup.eml", nullptr,
               "To: Cy <cy@example.com>,\r\n Di <di@example.com>\r\nSubject: x\r\n\r\nx\r\n");
    ASSERT_NE(nullptr, TelvexOptional.OpenOutbox);
    // Ended otherwise than by Close, it leaves no thread watching the outbox.
    size_t threads = ThreadsOfThisProcess();
    OutboxWindow().Quit();
    EXPECT_EQ(threads, ThreadsOfThisProcess());
    OutboxWindow window;
    ASSERT_NE((HWND)NULL, window.Window);
    std::vector<std::vector<std::string>> rows = window.Rows();
    ASSERT_EQ(4u, rows.size());
    // Waiting messages first, the oldest first, then the failed one.
    EXPECT_EQ((std::vector<std::string>{"slow@example.com", "delivery-page.bin", "Delayed"}),
              std::vector<std::string>(rows[0].begin() + 1, rows[0].begin() + 4));
    EXPECT_EQ("452", rows[0][4].substr(0, 3));
    EXPECT_TRUE(rows[0][5] != "" && rows[0][5] != "now") << "next try: " << rows[0][5];
    EXPECT_EQ((std::vector<std::string>{"eve@example.com", "delivery-page.bin", "Stopped"}),
              std::vector<std::string>(rows[1].begin() + 1, rows[1].begin() + 4));
    EXPECT_NE(std::string::npos, rows[1][4].find("SmtpSecurity")) << rows[1][4];
    EXPECT_EQ((std::vector<std::string>{"cy@example.com; di@example.com", "", "Queued", "", ""}),
              std::vector<std::string>(rows[2].begin() + 1, rows[2].end()));
    EXPECT_EQ((std::vector<std::string>{"bad@example.com", "delivery-page.bin", "Failed"}),
              std::vector<std::string>(rows[3].begin() + 1, rows[3].begin() + 4));
    EXPECT_NE(std::string::npos, rows[3][4].find("550")) << rows[3][4];
    // Retry Now is for what the agent delivers and waits; Remove for all of them.
    ASSERT_EQ(2, window.Select("cy@example.com; di@example.com"));
    EXPECT_FALSE(window.Enabled(IDC_RETRY_NOW));
    EXPECT_TRUE(window.Enabled(IDC_REMOVE));

    // The server takes every recipient now. The delayed message goes at once,
    // not after its pause, and leaves the list by itself.
    StopServer();
    StartServer("");
    ASSERT_EQ(0, window.Select("slow@example.com"));
    EXPECT_TRUE(window.Enabled(IDC_RETRY_NOW));
    PressButton(window.Window, IDC_RETRY_NOW);
    ASSERT_TRUE(WaitUntil([&] { return Filed("Sent", delayed); }, 60000)) << ReadFileText(Log);
    EXPECT_TRUE(WaitUntil([&] { return window.Rows().size() == 3; }, 30000))
        << "the open window did not follow the agent";
    // The stopped profile's settings mended by hand: Retry Now lets it go on.
    SetProfileText("Desk Mail", "SmtpSecurity", "none");
    ASSERT_LE(0, window.Select("eve@example.com"));
    PressButton(window.Window, IDC_RETRY_NOW);
    ASSERT_TRUE(WaitUntil([&] { return Filed("Sent", stopped); }, 60000)) << ReadFileText(Log);
    EXPECT_TRUE(WaitUntil([&] { return window.Rows().size() == 2; }, 30000));

    // The failed one goes back under a new name with a fresh envelope and its
    // record, and is delivered.
    ASSERT_LE(0, window.Select("bad@example.com"));
    PressButton(window.Window, IDC_RETRY_NOW);
    ASSERT_TRUE(WaitUntil([&] { return OutboxFiles("Sent\\*.eml").size() == 3; }, 60000))
        << ReadFileText(Log);
    EXPECT_FALSE(Filed("Failed", failed));
    EXPECT_EQ("scan@varnel.example\nbad@example.com\n", ReadFileText(Received + "003.env"));
    EXPECT_FALSE(Filed("Sent", failed)) << "queued again under its old name";
    for (const std::string &name : OutboxFiles("Sent\\*.eml")) {
        if (name != delayed && name != stopped) {
            std::string record = ReadFileText(Outbox + "Sent\\" + Stem(name) + ".txt");
            EXPECT_NE(std::string::npos, record.find("bad@example.com: 550")) << record;
            EXPECT_NE(std::string::npos, record.find("Reply: 250 2.0.0 queued as 003")) << record;
        }
    }

    // Remove asks first; the message is gone once the answer is Yes.
    ASSERT_TRUE(WaitUntil([&] { return window.Rows().size() == 1; }, 30000));
    ASSERT_EQ(0, window.Select("cy@example.com; di@example.com"));
    DialogAnswer yes("Remove Message", PressYes);
    PressButton(window.Window, IDC_REMOVE);
    ASSERT_TRUE(yes.Wait());
    EXPECT_TRUE(WaitUntil([&] { return !FileExists((Outbox + "pickup.eml").c_str()); }));
    EXPECT_TRUE(WaitUntil([&] { return window.Rows().empty(); }));
}

TEST(SavedFuzzInputs, WhatTheMailLibraryAndItsAgentReadFromOutsideIsHandledCleanly) {
    ReplaySavedInputs("vcard_reader", ExerciseVCardReader);
    ReplaySavedInputs("message_writer", ExerciseMessageWriter);
    ReplaySavedInputs("recipient_files", ExerciseRecipientFiles);
    ReplaySavedInputs("smtp_replies", ExerciseSmtpReplies);
    ReplaySavedInputs("message_data", ExerciseMessageData);
    ReplaySavedInputs("envelope_file", ExerciseEnvelopeFile);
    ReplaySavedInputs("queue_state", ExerciseQueueState);
}

} // namespace
