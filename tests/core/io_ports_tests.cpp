// The I/O address verification's port table and texts, without a dialog.
#include <gtest/gtest.h>
#include <string.h>
#include <string>
#include <vector>
#include "driver/io_address.h"
#include "res/resource.h"

namespace {

std::vector<WORD> Order(int automatic, WORD selected) {
    WORD order[PortCount];
    int count = VerifyOrder(automatic, selected, order);
    return std::vector<WORD>(order, order + count);
}

// Without a selection (the device's port is not in the table) there is no
// selected port to test first: the table alone, or nothing for Verify.
TEST(IoPorts, AVerificationWithoutASelectionTestsOnlyTablePorts) {
    EXPECT_EQ(NoPortIndex, PortIndexOf(0x278));
    EXPECT_EQ((std::vector<WORD>{0, 1, 2, 3, 4, 5, 6, 7}), Order(1, NoPortIndex));
    EXPECT_TRUE(Order(0, NoPortIndex).empty());
    WORD index = 99;
    EXPECT_TRUE(PortButtonIndex(IDC_PORT_LAST, &index));
    EXPECT_EQ(7, index);
    // The panel's fax/e-mail key sends these to any open settings dialog.
    EXPECT_FALSE(PortButtonIndex(IDC_FAX_PROFILE_BUTTON, &index));
    EXPECT_FALSE(PortButtonIndex(IDC_MAIL_PROFILE_BUTTON, &index));
    EXPECT_EQ(7, index);
}

TEST(IoPorts, TheVerifiedLineNamesThePortAndStaysInsideItsBuffer) {
    char line[80];
    FormatVerifiedLine("Port 220h has been successfully verified!", 0x330, line, sizeof line);
    EXPECT_STREQ("Port 330h has been successfully verified!", line);
    FormatVerifiedLine("Verified: ", 0x360, line, sizeof line);
    EXPECT_STREQ("Verified: 360", line) << "a text without 2 gets the digits at its end";
    // The longest text the line loads, without a 2.
    struct {
        char Line[80];
        char After[8];
    } guarded;
    memset(&guarded, 'x', sizeof guarded);
    std::string longest(79, 'a');
    FormatVerifiedLine(longest.c_str(), 0x330, guarded.Line, sizeof guarded.Line);
    EXPECT_EQ(longest, std::string(guarded.Line, strnlen(guarded.Line, sizeof guarded.Line)));
    EXPECT_EQ(std::string(8, 'x'), std::string(guarded.After, sizeof guarded.After));
}

} // namespace
