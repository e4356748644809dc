// KEYPAD32.EXE with the mail library stand-in: the fax/e-mail key and the
// speed-dial keys on the panel, as the profiles in the library's store and
// the labels in the settings file make them.
#include "program_fixture.h"
#include "smtp_server_process.h"

namespace {

class MailProgram : public ProgramFixture {
  protected:
    void Prepare(const std::string &profiles, const std::string &faxSection = "") {
        WriteFileText(SettingsFile, "[Varnel]\r\nFaxService=1\r\nCopyService=1\r\n"
                                    "[Varnel FAX]\r\n" +
                                        faxSection);
        WriteFileText(StoreFile, "[Telvex]\r\n" + profiles);
    }
};

const char *const FaxProfile = "[Profile:Office Fax]\r\nServices=25\r\n";
const char *const MailProfile = "[Profile:Lan Mail]\r\nServices=28\r\n";

TEST_F(MailProgram, TheFaxEmailKeyTogglesWithProfilesOfBothKinds) {
    Prepare(std::string(FaxProfile) + MailProfile);
    Start();
    EXPECT_EQ("LT TXT DFT 050 F", WaitForLcd(0, "LT TXT DFT 050 F"));
    PressKey("destination");
    EXPECT_EQ("LT TXT DFT 050 I", WaitForLcd(0, "LT TXT DFT 050 I"));
    PressKey("destination");
    EXPECT_EQ("LT TXT DFT 050 F", WaitForLcd(0, "LT TXT DFT 050 F"));
    EXPECT_EQ(0, ExitProgram(&Keypad));
    Started = false;
    EXPECT_EQ("0", IniValue(ProductFile("SYS.INI"), "Varnel FAX", "UseProfile"));
}

TEST_F(MailProgram, OnlyMailProfilesSendByEmailAndRefuseTheToggle) {
    Prepare(MailProfile);
    Start();
    EXPECT_EQ("LT TXT DFT 050 I", WaitForLcd(0, "LT TXT DFT 050 I"));
    PressKey("destination");
    EXPECT_EQ("No FAX Profile!", WaitForLcd(2, "No FAX Profile!"));
    EXPECT_EQ("LT TXT DFT 050 I", LcdStatus());
}

TEST_F(MailProgram, OnlyFaxProfilesRefuseTheToggle) {
    Prepare(FaxProfile, "UseProfile=1\r\n");
    Start();
    EXPECT_EQ("LT TXT DFT 050 F", WaitForLcd(0, "LT TXT DFT 050 F"));
    PressKey("destination");
    EXPECT_EQ("No MAIL Profile!", WaitForLcd(2, "No MAIL Profile!"));
}

TEST_F(MailProgram, ASpeedDialKeyShowsItsLabelForTheDestination) {
    Prepare(std::string(FaxProfile) + MailProfile,
            "FaxAlias3=Head Office Fax 17\r\nEmailAlias3=Sales Team\r\n");
    Start();
    PressKey("speed3");
    EXPECT_EQ("Head Office Fax ", WaitForLcd(2, "Head Office Fax "));
    PressKey("destination");
    EXPECT_EQ("Sales Team", WaitForLcd(2, "Sales Team"));
    PressKey("speed4");
    EXPECT_EQ("", WaitForLcd(2, ""));
}

// Mail left in an outbox (the machine stopped before it went) goes once the
// program starts again: its start-up wakes the mail library's delivery agent.
TEST_F(MailProgram, MailLeftInAnOutboxGoesWhenTheProgramStarts) {
    std::string outbox = ProductFile("OUTBOX\\startup\\"), received = outbox + "received\\";
    int port = FreeLoopbackPort();
    ASSERT_TRUE(WaitUntil([] { return !DeliveryAgentRunning(); }, 60000));
    for (const std::string &folder :
         {ProductFile("OUTBOX\\"), outbox, outbox + "Sent\\", received}) {
        ClearFolder(folder);
    }
    Prepare(std::string(MailProfile) + "EmailAddress=scan@varnel.example\r\nOutbox=" + outbox +
            "\r\nSmtpServer=127.0.0.1\r\nSmtpSecurity=none\r\nSmtpPort=" + std::to_string(port) +
            "\r\n");
    WriteFileText(outbox + "left.env", "Lan Mail\r\nscan@varnel.example\r\nada@example.com\r\n");
    WriteFileText(outbox + "left.eml", "Subject: left behind\r\n\r\nstill to go\r\n");
    ASSERT_TRUE(StartSmtpServer(received, port, ""));
    Start();
    std::string filed = outbox + "Sent\\left.eml";
    bool sent = WaitUntil(
        [&] { return GetFileAttributesA(filed.c_str()) != INVALID_FILE_ATTRIBUTES; }, 60000);
    EXPECT_TRUE(StopSmtpServer(received));
    ASSERT_TRUE(sent) << ReadFileText(ProductFile("OUTBOX\\startup.log"));
    EXPECT_EQ("Subject: left behind\r\n\r\nstill to go\r\n", ReadFileText(received + "001.eml"));
    EXPECT_TRUE(WaitUntil([] { return !DeliveryAgentRunning(); }, 60000));
}

} // namespace
