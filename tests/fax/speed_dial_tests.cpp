// The speed-dial keys: labels, the recipient files n.DES and n.INF, and
// what loading makes of damaged files.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <string.h>

#include "app/app.h"
#include "app/settings.h"
#include "fax_fixture.h"
#include "res/resource.h"
#include "ui/speed_dial_page.h"
#include "ui/tab_library.h"

namespace {

const std::vector<Recipient> TwoFaxes = {{"Ada Brandt", "FAX:+1 555 0101", "VCF:ada/1"},
                                         {"Front Desk", "FAX:555 0199", "VCF:desk/1"}};
const std::vector<Recipient> OneMail = {{"Carl Dorn", "SMTP:carl.dorn@example.org", "VCF:carl"}};

// Every key loaded afresh from the settings file, as the program's start does.
void LoadSpeedDials() {
    IniSection fax;
    ReadIniSection(&fax, SettingsPathFor("SYS.INI"), "Varnel FAX");
    LoadSpeedDials(&fax);
    FreeIniSection(&fax);
}

class SpeedDials : public ::testing::Test {
  protected:
    FaxStateGuard Guard;
    void SetUp() override {
        WriteStore({"Office Fax=25", "Lan Mail=28"});
        ASSERT_EQ(0, BindTelvex());
    }
    static std::string Setting(const char *key) {
        return IniValue(ProductFile("SYS.INI"), "Varnel FAX", key);
    }
    static std::string File(const char *name) { return ReadFileText(ProductFile(name)); }
    static bool Exists(const char *name) { return FileExists(ProductFile(name).c_str()) != 0; }
    // Saves entries whose records are given, then loads every key afresh.
    static void SaveAndReload() {
        SaveSpeedDials(1);
        for (int number = 1; number <= SpeedDialEntryCount; number++) {
            EmptyEntry(number);
        }
        LoadSpeedDials();
    }
};

TEST_F(SpeedDials, FaxKey3AndEmailKey3HaveFilesOfTheirOwn) {
    FillEntry(SpeedDialNumber(0, 3), TwoFaxes);
    FillEntry(SpeedDialNumber(1, 3), OneMail);
    SaveAndReload();
    EXPECT_EQ(2 * 24u, File("3.DES").size());
    EXPECT_EQ(24u, File("17.DES").size());
    EXPECT_TRUE(Exists("3.INF"));
    EXPECT_TRUE(Exists("17.INF"));
    EXPECT_FALSE(Exists("3.DES.tmp"));
    EXPECT_EQ("2", Setting("NumberOfFaxRecip3"));
    EXPECT_EQ("1", Setting("NumberOfEmailRecip3"));
    EXPECT_EQ("0", Setting("NumberOfFaxRecip4"));
    EXPECT_EQ(TwoFaxes, EntryRecipients(3));
    EXPECT_EQ(OneMail, EntryRecipients(17));
}

// Bytes of an RCDATA resource of the test program.
std::string Resource(const char *name) {
    HRSRC found = FindResourceA(nullptr, name, (LPCSTR)RT_RCDATA);
    HGLOBAL data = found ? LoadResource(nullptr, found) : nullptr;
    return data ? std::string((const char *)LockResource(data), SizeofResource(nullptr, found))
                : "";
}

// Recipient files are the same bytes whichever build wrote them: a pair of
// the 32-bit program loads, and saving it again writes the same bytes.
TEST_F(SpeedDials, AStoredPairLoadsAndIsWrittenBackByteForByte) {
    std::string records = Resource("StoredPairDes"), strings = Resource("StoredPairInf");
    ASSERT_EQ(2 * 24u, records.size());
    WriteFileText(ProductFile("1.DES"), records);
    WriteFileText(ProductFile("1.INF"), strings);
    WritePrivateProfileStringA("Varnel FAX", "NumberOfFaxRecip1", "2",
                               ProductFile("SYS.INI").c_str());
    LoadSpeedDials();
    EXPECT_EQ(TwoFaxes, EntryRecipients(1));
    SpeedDialTable[0].Modified = 1;
    SaveSpeedDials(1);
    EXPECT_EQ(records, File("1.DES"));
    EXPECT_EQ(strings, File("1.INF"));
}

// Bytes from their hex digits.
std::string Hex(const char *digits) {
    std::string bytes;
    for (; digits[0] && digits[1]; digits += 2) {
        bytes += (char)strtoul(std::string(digits, 2).c_str(), nullptr, 16);
    }
    return bytes;
}

// Loading accepts strings in any order; saving lays them out afresh.
TEST_F(SpeedDials, StringsStoredInAnotherOrderSurviveASave) {
    std::string record = Hex("0000000001000000") + std::string(16, '\0');
    WriteFileText(ProductFile("1.DES"), record + record);
    WriteFileText(ProductFile("1.INF"), Hex("200000002200000028000000180000001a00000020000000"
                                            "42004641583a320041004641583a3100"));
    WritePrivateProfileStringA("Varnel FAX", "NumberOfFaxRecip1", "2",
                               ProductFile("SYS.INI").c_str());
    const std::vector<Recipient> pair = {{"A", "FAX:1", ""}, {"B", "FAX:2", ""}};
    LoadSpeedDials();
    ASSERT_EQ(pair, EntryRecipients(1));
    SpeedDialTable[0].Modified = 1;
    SaveAndReload();
    EXPECT_EQ(pair, EntryRecipients(1));
}

TEST_F(SpeedDials, TheStringFileEndsWithTheLastEntryIdentifier) {
    FillEntry(1, TwoFaxes);
    SaveSpeedDials(1);
    std::string strings = File("1.INF");
    const std::string &last = TwoFaxes.back().EntryId;
    ASSERT_GE(strings.size(), last.size());
    EXPECT_EQ(last, strings.substr(strings.size() - last.size()));
    std::string address = TwoFaxes.back().Address + std::string(1, '\0');
    EXPECT_EQ(strings.size() - last.size() - address.size(), strings.rfind(address));
}

TEST_F(SpeedDials, LabelsAreCutTo16Characters) {
    const char *file = SettingsPathFor("SYS.INI");
    WritePrivateProfileStringA("Varnel FAX", "FaxAlias2", "Seventeen chars!!", file);
    WritePrivateProfileStringA("Varnel FAX", "EmailAlias14", "Head Office Mail", file);
    LoadFaxSettings();
    EXPECT_STREQ("Seventeen chars!", SpeedDialLabels[2]);
    EXPECT_STREQ("Head Office Mail", SpeedDialLabels[28]);
    LoadSpeedDials();
    EXPECT_STREQ("Seventeen chars!", SpeedDialTable[1].Label);
    EXPECT_STREQ("Head Office Mail", SpeedDialTable[27].Label);
}

TEST_F(SpeedDials, SavingWritesLabelsAndCountsOfEveryKey) {
    lstrcpynA(SpeedDialTable[SpeedDialNumber(1, 2) - 1].Label, "Sales", SpeedDialLabelSize);
    FillEntry(SpeedDialNumber(1, 2), OneMail);
    SaveSpeedDials(1);
    EXPECT_EQ("Sales", Setting("EmailAlias2"));
    EXPECT_EQ("1", Setting("NumberOfEmailRecip2"));
    EXPECT_EQ("0", Setting("NumberOfEmailRecip14"));
    EXPECT_EQ("", Setting("FaxAlias1"));
}

TEST_F(SpeedDials, CancelWritesNothing) {
    FillEntry(6, TwoFaxes);
    SaveSpeedDials(0);
    EXPECT_FALSE(Exists("6.DES"));
    EXPECT_EQ("(missing)", Setting("NumberOfFaxRecip6"));
    EXPECT_EQ(2u, SpeedDialTable[5].RecipientCount);
}

TEST_F(SpeedDials, AnEmptiedKeyLosesItsFilesAndSavesCount0) {
    FillEntry(9, TwoFaxes);
    SaveSpeedDials(1);
    ASSERT_TRUE(Exists("9.DES"));
    EmptyEntry(9);
    SaveSpeedDials(1);
    EXPECT_FALSE(Exists("9.DES"));
    EXPECT_FALSE(Exists("9.INF"));
    EXPECT_EQ("0", Setting("NumberOfFaxRecip9"));
}

TEST_F(SpeedDials, AnUnchangedKeyKeepsItsFiles) {
    FillEntry(4, TwoFaxes);
    SaveSpeedDials(1);
    WriteFileText(ProductFile("4.INF"), File("4.INF") + "kept");
    SaveSpeedDials(1);
    EXPECT_EQ("kept", File("4.INF").substr(File("4.INF").size() - 4));
}

// Writes a little-endian 32-bit value into a file's text at an offset.
void Patch(std::string *bytes, size_t offset, DWORD value) {
    memcpy(&(*bytes)[offset], &value, sizeof value);
}

TEST_F(SpeedDials, DamagedFilesLoadTheirKeyEmptyAndLeaveTheOthers) {
    struct Damage {
        const char *What;
        void (*Apply)(int number);
    };
    static const Damage damages[] = {
        {"n.DES cut short",
         [](int n) {
             std::string name = std::to_string(n) + ".DES";
             WriteFileText(ProductFile(name.c_str()),
                           ReadFileText(ProductFile(name.c_str())).substr(0, 30));
         }},
        {"n.INF missing",
         [](int n) { DeleteFileA(ProductFile((std::to_string(n) + ".INF").c_str()).c_str()); }},
        {"n.INF shorter than the offset table",
         [](int n) { WriteFileText(ProductFile((std::to_string(n) + ".INF").c_str()), "abc"); }},
        {"name offset beyond n.INF",
         [](int n) {
             std::string name = std::to_string(n) + ".INF";
             std::string bytes = ReadFileText(ProductFile(name.c_str()));
             Patch(&bytes, 12, 0x7FFFFFF0);
             WriteFileText(ProductFile(name.c_str()), bytes);
         }},
        {"address without its end inside n.INF",
         [](int n) {
             std::string name = std::to_string(n) + ".INF";
             std::string bytes = ReadFileText(ProductFile(name.c_str()));
             Patch(&bytes, 16, (DWORD)bytes.size() - 1);
             bytes.back() = 'x';
             WriteFileText(ProductFile(name.c_str()), bytes);
         }},
        {"entry identifier size beyond n.INF",
         [](int n) {
             std::string name = std::to_string(n) + ".DES";
             std::string bytes = ReadFileText(ProductFile(name.c_str()));
             Patch(&bytes, 24 + 16, 0x10000);
             WriteFileText(ProductFile(name.c_str()), bytes);
         }},
        {"count larger than n.DES holds",
         [](int n) {
             WriteIntSetting("Varnel FAX", ("NumberOfFaxRecip" + std::to_string(n)).c_str(),
                             SettingsPathFor("SYS.INI"), 3);
         }},
        {"count beyond any file size",
         [](int n) {
             WriteIntSetting("Varnel FAX", ("NumberOfFaxRecip" + std::to_string(n)).c_str(),
                             SettingsPathFor("SYS.INI"), 0x0AAAAAAB);
         }},
    };
    const int keys = (int)(sizeof damages / sizeof damages[0]);
    for (int key = 1; key <= keys + 1; key++) {
        FillEntry(key, TwoFaxes);
    }
    FillEntry(SpeedDialNumber(1, 1), OneMail);
    SaveSpeedDials(1);
    for (int key = 1; key <= keys; key++) {
        damages[key - 1].Apply(key);
    }
    for (int number = 1; number <= SpeedDialEntryCount; number++) {
        EmptyEntry(number);
    }
    LoadSpeedDials();
    for (int key = 1; key <= keys; key++) {
        const SpeedDialEntry &entry = SpeedDialTable[key - 1];
        EXPECT_EQ(0u, entry.RecipientCount) << damages[key - 1].What;
        EXPECT_EQ(nullptr, entry.RecipientBlock) << damages[key - 1].What;
        EXPECT_EQ(nullptr, entry.StringBlock) << damages[key - 1].What;
    }
    EXPECT_EQ(TwoFaxes, EntryRecipients(keys + 1)) << "the key after the damaged ones";
    EXPECT_EQ(OneMail, EntryRecipients(SpeedDialNumber(1, 1)));
}

TEST_F(SpeedDials, ASaveThatFailsHalfwayKeepsTheOldList) {
    FillEntry(5, TwoFaxes);
    SaveSpeedDials(1);
    std::string oldRecords = File("5.DES"), oldStrings = File("5.INF");
    // The new string file cannot be made: a folder has taken its name.
    std::string blocker = ProductFile("5.INF.tmp");
    ASSERT_TRUE(CreateDirectoryA(blocker.c_str(), nullptr));
    FillEntry(5, OneMail);
    EXPECT_EQ(0, SaveSpeedDials(1));
    RemoveDirectoryA(blocker.c_str());
    EXPECT_EQ(oldRecords, File("5.DES"));
    EXPECT_EQ(oldStrings, File("5.INF"));
    EXPECT_EQ("2", Setting("NumberOfFaxRecip5"));
    EXPECT_FALSE(Exists("5.DES.tmp"));
    EXPECT_EQ(OneMail, EntryRecipients(5)) << "the new list stays for the next save";
    SaveSpeedDials(1);
    EXPECT_EQ("1", Setting("NumberOfFaxRecip5"));
    for (int number = 1; number <= SpeedDialEntryCount; number++) {
        EmptyEntry(number);
    }
    LoadSpeedDials();
    EXPECT_EQ(OneMail, EntryRecipients(5));
}

// A key emptied on the speed-dial page lets go of its blocks at once.
TEST_F(SpeedDials, AKeyEmptiedOnItsPageFreesItsBlocks) {
    AppInstance = GetModuleHandleA(nullptr);
    ASSERT_EQ(1, RegisterTabLibrary(AppInstance));
    FillEntry(SpeedDialNumber(0, 1), TwoFaxes);
    HGLOBAL blocks[2] = {SpeedDialTable[0].RecipientBlock, SpeedDialTable[0].StringBlock};
    HWND owner = CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                                 AppInstance, nullptr);
    HWND page = CreateDialogParamA(AppInstance, MAKEINTRESOURCEA(IDD_SPEED_DIAL_PAGE), owner,
                                   SpeedDialPageProc, 0);
    ASSERT_NE(nullptr, page);
    HWND list = GetDlgItem(page, IDC_RECIPIENT_LIST);
    ASSERT_EQ(2, SendMessageA(list, LB_GETCOUNT, 0, 0));
    SendMessageA(list, LB_SETSEL, TRUE, -1);
    SendMessageA(page, WM_COMMAND, IDC_REMOVE_RECIPIENTS, 0);
    EXPECT_EQ(0, SendMessageA(list, LB_GETCOUNT, 0, 0));
    for (HGLOBAL block : blocks) {
        EXPECT_EQ((UINT)GMEM_INVALID_HANDLE, GlobalFlags(block)) << "a block of the empty key";
    }
    DestroyWindow(page);
    DestroyWindow(owner);
    UnregisterTabLibrary(AppInstance);
}

// Fails the n-th move of a recipient file from the time it is put in place.
int MovesLeft;
BOOL WINAPI FailingMove(LPCSTR from, LPCSTR to, DWORD flags) {
    if (--MovesLeft == 0) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    return MoveFileExA(from, to, flags);
}

TEST_F(SpeedDials, APairIsReplacedWholeOrNotAtAll) {
    FillEntry(5, TwoFaxes);
    SaveSpeedDials(1);
    std::string oldRecords = File("5.DES"), oldStrings = File("5.INF");
    for (int failing = 1; failing <= 4; failing++) {
        FillEntry(5, OneMail);
        MovesLeft = failing;
        MoveRecipientFile = FailingMove;
        EXPECT_EQ(0, SaveSpeedDials(1)) << "move " << failing << " failed";
        MoveRecipientFile = MoveFileExA;
        EXPECT_EQ(oldRecords, File("5.DES")) << "move " << failing << " failed";
        EXPECT_EQ(oldStrings, File("5.INF")) << "move " << failing << " failed";
        EXPECT_EQ("2", Setting("NumberOfFaxRecip5"));
        for (const char *left : {"5.DES.tmp", "5.INF.tmp", "5.DES.old", "5.INF.old"}) {
            EXPECT_FALSE(Exists(left)) << left << " after move " << failing << " failed";
        }
    }
    // Old records that cannot be deleted keep the new pair from standing.
    std::string records = ProductFile("5.DES");
    SetFileAttributesA(records.c_str(), FILE_ATTRIBUTE_READONLY);
    EXPECT_EQ(0, SaveSpeedDials(1));
    SetFileAttributesA(records.c_str(), FILE_ATTRIBUTE_NORMAL);
    EXPECT_EQ(oldRecords, File("5.DES"));
    EXPECT_EQ(oldStrings, File("5.INF"));
    EXPECT_EQ("2", Setting("NumberOfFaxRecip5"));
    SaveAndReload();
    EXPECT_EQ(OneMail, EntryRecipients(5));
}

TEST_F(SpeedDials, AHalfReplacedPairIsRolledBackAtLoad) {
    FillEntry(5, TwoFaxes);
    FillEntry(6, OneMail);
    SaveSpeedDials(1);
    // Key 5's save stopped with the old pair aside and only the new strings in place.
    auto move = [](const char *from, const char *to) {
        return MoveFileA(ProductFile(from).c_str(), ProductFile(to).c_str());
    };
    ASSERT_TRUE(move("5.DES", "5.DES.old"));
    ASSERT_TRUE(move("5.INF", "5.INF.old"));
    ASSERT_TRUE(CopyFileA(ProductFile("6.INF").c_str(), ProductFile("5.INF").c_str(), FALSE));
    ASSERT_TRUE(CopyFileA(ProductFile("6.DES").c_str(), ProductFile("5.DES.tmp").c_str(), FALSE));
    for (int number = 1; number <= SpeedDialEntryCount; number++) {
        EmptyEntry(number);
    }
    LoadSpeedDials();
    EXPECT_EQ(TwoFaxes, EntryRecipients(5));
    for (const char *left : {"5.DES.tmp", "5.DES.old", "5.INF.old"}) {
        EXPECT_FALSE(Exists(left)) << left;
    }
}

TEST_F(SpeedDials, AKeyWhoseRecordsDoNotFitTheirStringsIsNotSaved) {
    FillEntry(7, TwoFaxes);
    SaveSpeedDials(1);
    std::string oldStrings = File("7.INF");
    FillEntry(7, OneMail);
    DWORD *offsets = (DWORD *)GlobalLock(SpeedDialTable[6].StringBlock);
    offsets[0] = 0x7FFFFFF0; // the first name beyond the block
    GlobalUnlock(SpeedDialTable[6].StringBlock);
    SaveSpeedDials(1);
    EXPECT_EQ(oldStrings, File("7.INF"));
    EXPECT_EQ("2", Setting("NumberOfFaxRecip7"));
}

TEST_F(SpeedDials, MissingFilesGiveCode2AndReleaseWhatWasRead) {
    FillEntry(5, TwoFaxes);
    SaveSpeedDials(1);
    EmptyEntry(5);
    DeleteFileA(ProductFile("5.INF").c_str());
    SpeedDialTable[4].RecipientCount = 2;
    EXPECT_EQ(2, LoadSpeedDialFiles(5));
    EXPECT_EQ(nullptr, SpeedDialTable[4].RecipientBlock);
    DeleteFileA(ProductFile("5.DES").c_str());
    EXPECT_EQ(2, LoadSpeedDialFiles(5));
    WORD code = 0;
    DWORD size = 0;
    EXPECT_EQ(nullptr, ReadWholeFile(ProductFile("5.DES").c_str(), &code, &size));
    EXPECT_EQ(2, code);
}

} // namespace
