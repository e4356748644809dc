// The program's item in the Windows start-up list.
#include <gtest/gtest.h>

#include <windows.h>

#include <stdio.h>

#include <string>

#include "app/run_entry.h"
#include "tests/core/fuzz_replay.h"

namespace {

const char *const Program = "KEYPAD32.EXE";
const char *const Entry = "C:\\Varnel\\EXE32\\KEYPAD32.EXE";

// The rebuilt list; "(unchanged)" when BuildRunList left its output alone.
std::string Rebuild(const char *list, const char *entry) {
    char out[1024] = "(unchanged)";
    BuildRunList(list, entry, Program, out, sizeof out);
    return out;
}

TEST(RunList, DisablingRemovesEveryItemNamingTheProgram) {
    EXPECT_EQ("a.exe b.exe ", Rebuild("a.exe c:\\x\\keypad32.exe b.exe", ""));
    EXPECT_EQ("a.exe ", Rebuild("MYKEYPAD32.EXE a.exe", ""));
    EXPECT_EQ("Keep.EXE ", Rebuild("Keep.EXE d:\\KeyPad32.Exe", ""));
}

TEST(RunList, EnablingReplacesTheOldItemAtTheEnd) {
    EXPECT_EQ(std::string("a.exe b.exe ") + Entry,
              Rebuild("a.exe d:\\old\\KEYPAD32.EXE b.exe", Entry));
    // Two blanks make an empty item, which keeps its blank.
    EXPECT_EQ(std::string("a.exe  ") + Entry, Rebuild("a.exe ", Entry));
}

TEST(RunList, AnOverLongResultLeavesTheListUnchanged) {
    std::string list(1000, 'x');
    EXPECT_EQ("(unchanged)", Rebuild(list.c_str(), Entry));
    EXPECT_EQ(list + " ", Rebuild(list.c_str(), ""));
}

TEST(RunList, ItemNamesProgramIgnoresCase) {
    EXPECT_TRUE(ItemNamesProgram("c:\\apps\\keypad32.exe", Program));
    EXPECT_FALSE(ItemNamesProgram("keypad.exe", Program));
}

class WinIniRunKey : public ::testing::Test {
  protected:
    void SetUp() override { GetProfileStringA("windows", "run", "", Saved, sizeof Saved); }
    void TearDown() override { WriteProfileStringA("windows", "run", Saved[0] ? Saved : NULL); }
    std::string Run() {
        char value[4096];
        GetProfileStringA("windows", "run", "(missing)", value, sizeof value);
        return value;
    }
    char Saved[1024];
};

TEST_F(WinIniRunKey, EmptyListGetsTheEntryAloneAndDisablingWritesNothing) {
    WriteProfileStringA("windows", "run", NULL);
    UpdateRunEntry("", Program);
    EXPECT_EQ("(missing)", Run());
    UpdateRunEntry(Entry, Program);
    EXPECT_EQ(Entry, Run());
    UpdateRunEntry("", Program);
    EXPECT_EQ("", Run());
}

// Over 1,200 characters: more than a read of 1024 bytes holds.
TEST_F(WinIniRunKey, AListOf1024CharactersOrMoreKeepsEveryOtherItem) {
    std::string items;
    for (int i = 0; i < 50; i++) {
        char item[32];
        snprintf(item, sizeof item, "C:\\PROGRA~1\\TOOL%03d.EXE ", i);
        items += item;
    }
    std::string list = std::string(Entry) + " " + items.substr(0, items.size() - 1);
    WriteProfileStringA("windows", "run", list.c_str());
    UpdateRunEntry("", Program);
    EXPECT_EQ(items, Run()); // each kept item followed by its blank
    WriteProfileStringA("windows", "run", list.c_str());
    UpdateRunEntry(Entry, Program);
    EXPECT_EQ(items + Entry, Run());
}

TEST_F(WinIniRunKey, SavedFuzzInputsAreRebuiltCleanly) {
    ReplaySavedInputs("run_list", ExerciseRunList);
}

} // namespace
