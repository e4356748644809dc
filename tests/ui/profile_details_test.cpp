// The profile page's detail texts from a profile's settings, read through a
// scripted mail library that writes as the real one does: a whole setting
// buffer for texts, 16 bits for numbers.
#include <gtest/gtest.h>
#include <windows.h>
#include <cstring>
#include <map>
#include <string>
#include "app/app.h"
#include "ui/fax_sheet.h"

namespace {

std::map<WORD, std::string> Texts; // text settings of the profile
std::map<WORD, WORD> Words;        // 16-bit settings of the profile

void WriteText(const std::string &value, char *out) {
    // The library fills up to its setting size and needs no length.
    memset(out, 'x', SettingTextSize);
    lstrcpynA(out, value.c_str(), SettingTextSize);
}

DWORD WINAPI ReadSetting(const char *, SettingRequest *request) {
    WORD id = request->SettingId;
    if (id == SettingUserAndFax) {
        if (!Texts.count(3000) && !Texts.count(3001))
            return 0;
        char **pair = (char **)request->Value;
        WriteText(Texts[3000], pair[0]);
        WriteText(Texts[3001], pair[1]);
        return 1;
    }
    if (Texts.count(id)) {
        WriteText(Texts[id], (char *)request->Value);
        return 1;
    }
    if (Words.count(id)) {
        *(WORD *)request->Value = Words[id];
        return 1;
    }
    return 0;
}

class ProfileDetails : public ::testing::Test {
  protected:
    void SetUp() override {
        AppInstance = GetModuleHandleA(nullptr);
        Texts.clear();
        Words.clear();
    }
    // The fields with a guard behind them that no text may reach.
    struct {
        char Fields[ProfileDetailCount][ProfileDetailSize];
        char Guard[64];
    } Out;
    std::vector<std::string> Details(WORD destination) {
        memset(&Out, 'g', sizeof Out);
        ComposeProfileDetails(ReadSetting, "Office", destination, Out.Fields);
        return {Out.Fields[0], Out.Fields[1], Out.Fields[2], Out.Fields[3], Out.Fields[4]};
    }
};

TEST_F(ProfileDetails, FaxProfileWithAndWithoutCoverPage) {
    Texts = {{3000, "Ann User"}, {3001, "555 0100"}, {SettingCoverPage, "Confidential"}};
    Words = {{SettingPaperSize, 2}, {SettingResolution, 1}, {SettingCoverPageInUse, 0}};
    EXPECT_EQ((std::vector<std::string>{"Ann User", "555 0100", "A4 (210 x 297 mm)",
                                        "Draft (200 x 100 dpi)", ""}),
              Details(0));
    Words[SettingCoverPageInUse] = 1;
    EXPECT_EQ("Confidential", Details(0)[4]);
}

TEST_F(ProfileDetails, IndexesBeyondTheTablesShowNothing) {
    Words = {{SettingPaperSize, 4}, {SettingResolution, 7}};
    std::vector<std::string> d = Details(0);
    EXPECT_EQ("", d[2]);
    EXPECT_EQ("", d[3]);
    Words = {{SettingPaperSize, 3}, {SettingResolution, 3}};
    d = Details(0);
    EXPECT_EQ("B4 (250 x 354 mm)", d[2]);
    EXPECT_EQ("Super (300 x 300 dpi)", d[3]);
}

TEST_F(ProfileDetails, MailProfileConnections) {
    Texts = {{SettingFullName, "Ann User"},
             {SettingLogin, "ann"},
             {SettingEmailAddress, "ann@example.com"},
             {SettingServer, "mail.example.com"},
             {SettingDialing, "Home"}};
    Words = {{SettingConnection, 2}};
    EXPECT_EQ((std::vector<std::string>{"Ann User", "ann", "ann@example.com", "mail.example.com",
                                        "Use Modem, Dialing setting:Home"}),
              Details(1));
    Words[SettingConnection] = 1;
    EXPECT_EQ("Use NetWork To Connect", Details(1)[4]);
    Words.clear();
    EXPECT_EQ("", Details(1)[4]);
    Words[SettingConnection] = 2;
    Texts.erase(SettingDialing);
    EXPECT_EQ("", Details(1)[4]);
}

// Leaves a stack of set bits behind, where the next call's locals will lie.
__attribute__((noinline)) void DirtyStack() {
    volatile unsigned char junk[4096];
    for (unsigned i = 0; i < sizeof junk; i++)
        junk[i] = 0xFF;
}

// The connection kind is written as 16 bits into the caller's value: whatever
// lay above it before the read must not turn a modem into a network.
TEST_F(ProfileDetails, ConnectionKindIgnoresWhatLayAboveItsLowWord) {
    Texts = {{SettingDialing, "Home"}};
    Words = {{SettingConnection, 2}};
    DirtyStack();
    EXPECT_EQ("Use Modem, Dialing setting:Home", Details(1)[4]);
}

// A 300-character value fills the library's whole setting buffer; the field
// shows its first 79 characters and nothing beyond it is touched.
TEST_F(ProfileDetails, LongValuesAreCutToTheField) {
    std::string longText(300, 'n');
    Texts = {{3000, longText},
             {3001, longText},
             {SettingCoverPage, longText},
             {SettingFullName, longText},
             {SettingDialing, longText}};
    Words = {{SettingCoverPageInUse, 1}, {SettingConnection, 2}};
    std::vector<std::string> fax = Details(0);
    EXPECT_EQ(std::string(79, 'n'), fax[0]);
    EXPECT_EQ(std::string(79, 'n'), fax[1]);
    EXPECT_EQ(std::string(79, 'n'), fax[4]);
    std::vector<std::string> mail = Details(1);
    EXPECT_EQ(std::string(79, 'n'), mail[0]);
    EXPECT_EQ("Use Modem, Dialing setting:" + std::string(52, 'n'), mail[4]);
    EXPECT_EQ(std::string(sizeof Out.Guard, 'g'), std::string(Out.Guard, sizeof Out.Guard));
}

} // namespace
