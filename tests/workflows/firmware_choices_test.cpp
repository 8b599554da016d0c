// The catalogue model's parsing; each control's titles, ids and descriptions are checked
// end to end by the window's choice tests.
#include "workflows/firmware_choices.h"

#include <gtest/gtest.h>

#include "core/byte_string.h"

namespace {

TEST(FirmwareChoices, UnknownKindsHaveNoSuffixAndAReparseReplacesEverything) {
    const uint32_t live = ByteString_liveCount();
    FirmwareChoices c;
    parseFirmwareIds(c, "1.00.00:1:SPECIAL:a#1.00.01:2:CUSTOM_R:b#1.00.02:3:beta:c#1.00.03:4::d#");
    EXPECT_EQ(c.opt4Items, (std::vector<std::string>{"1.00.00 (Special)", "1.00.01 (Custom)",
                                                     "1.00.02", "1.00.03"}));
    c.opt4Selected = 2;
    EXPECT_EQ(getFirmwareId(c), 3);
    parseFirmwareIds(c, "2.0:9:CURRENT:only#");
    EXPECT_EQ(getFirmwareId(c), 9);
    EXPECT_EQ(c.opt5, std::vector<std::string>{"only"});
    EXPECT_EQ(ByteString_liveCount(), live);
}

TEST(FirmwareChoices, ListsWithoutEntriesOfferNothing) {
    FirmwareChoices c;
    for (const char* text : {"", "1.02.03:812:CURRENT:Latest release", "#"}) {
        parseFirmwareIds(c, "1.0:5:A:x#1.1:6:A:y#1.2:7:A:z#");
        parseFirmwareIds(c, text);
        EXPECT_EQ(c.shown, ChoiceControl::None) << text;
        EXPECT_EQ(getFirmwareId(c), 0) << text;
        EXPECT_FALSE(chosenIndex(c).has_value());
        EXPECT_EQ(c.opt4Items.size(), 3u);  // kept, hidden
    }
}

TEST(LeadingInteger, ReadsTheLeadingNumber) {
    EXPECT_EQ(leadingInteger(" 812x"), 812);
    EXPECT_EQ(leadingInteger("-3"), -3);
    EXPECT_EQ(leadingInteger("abc"), 0);
    EXPECT_EQ(leadingInteger("99999999999"), 2147483647);
}

}  // namespace
