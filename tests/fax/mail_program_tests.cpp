// KEYPAD32.EXE with the mail library stand-in: the fax/e-mail key and the
// speed-dial keys on the panel, as the profiles in the library's store and
// the labels in the settings file make them.
#include "program_fixture.h"

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

} // namespace
