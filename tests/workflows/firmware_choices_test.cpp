#include "workflows/firmware_choices.h"

#include <gtest/gtest.h>

#include "core/byte_string.h"

namespace {

class FirmwareChoicesTest : public ::testing::Test {
  protected:
    void SetUp() override { live_ = ByteString_liveCount(); }
    void TearDown() override { EXPECT_EQ(ByteString_liveCount(), live_); }
    uint32_t live_ = 0;
    FirmwareChoices c;
};

TEST_F(FirmwareChoicesTest, OneEntryIsAFixedLine) {
    parseFirmwareIds(c, "1.02.03:812:CURRENT:Latest release#");
    EXPECT_EQ(c.count, 1);
    EXPECT_EQ(c.shown, ChoiceControl::Opt1);
    EXPECT_TRUE(c.labelShown);
    EXPECT_EQ(c.opt1, "1.02.03 (Release)");
    EXPECT_EQ(c.opt3, std::vector<std::string>{"812"});
    EXPECT_EQ(c.opt5, std::vector<std::string>{"Latest release"});
    EXPECT_EQ(getFirmwareId(c), 812);
    EXPECT_EQ(getFirmwareName(c), "1.02.03 (Release)");
    EXPECT_EQ(chosenIndex(c), 0);
}

TEST_F(FirmwareChoicesTest, TwoEntriesAreRadioChoices) {
    parseFirmwareIds(c, "1.00.00:10:CURRENT:first#2.00.00:20:BETA:second#");
    EXPECT_EQ(c.shown, ChoiceControl::Opt2);
    EXPECT_EQ(c.opt2Titles[0], "1.00.00 (Release)");
    EXPECT_EQ(c.opt2Titles[1], "2.00.00 (Beta)");
    EXPECT_EQ(getFirmwareId(c), 10);
    c.opt2Row = 1;
    EXPECT_EQ(getFirmwareId(c), 20);
    EXPECT_EQ(getFirmwareName(c), "2.00.00 (Beta)");
    EXPECT_EQ(chosenIndex(c), 1);
}

TEST_F(FirmwareChoicesTest, ThreeOrMoreEntriesAreAPopUp) {
    parseFirmwareIds(c, "1.00.00:1:SPECIAL:a#1.00.01:2:CUSTOM_R:b#1.00.02:3:beta:c#1.00.03:4::d#");
    EXPECT_EQ(c.shown, ChoiceControl::Opt4);
    EXPECT_EQ(c.opt4Items, (std::vector<std::string>{"1.00.00 (Special)", "1.00.01 (Custom)",
                                                     "1.00.02", "1.00.03"}));
    c.opt4Selected = 2;
    EXPECT_EQ(getFirmwareId(c), 3);
    EXPECT_EQ(getFirmwareName(c), "1.00.02");
    EXPECT_EQ(c.opt5[*chosenIndex(c)], "c");
}

TEST_F(FirmwareChoicesTest, DuplicateNamesTakeTheIdPrefix) {
    parseFirmwareIds(c, "1.02.03:812:CURRENT:a#1.02.03:813:CURRENT:b#1.02.03:814:CURRENT:c#");
    ASSERT_EQ(c.opt4Items.size(), 3u);
    EXPECT_EQ(c.opt4Items[0], "812-1.02.03 (Release)");
    EXPECT_EQ(c.opt3, (std::vector<std::string>{"812", "813", "814"}));
    EXPECT_EQ(getFirmwareName(c).substr(0, 7), "812-1.0");
}

TEST_F(FirmwareChoicesTest, ListsWithoutEntriesOfferNothing) {
    for (const char* text : {"", "1.02.03:812:CURRENT:Latest release", "#"}) {
        parseFirmwareIds(c, "1.0:5:A:x#1.1:6:A:y#1.2:7:A:z#");
        parseFirmwareIds(c, text);
        EXPECT_EQ(c.shown, ChoiceControl::None) << text;
        EXPECT_EQ(getFirmwareId(c), 0) << text;
        EXPECT_FALSE(chosenIndex(c).has_value());
        // The pop-up keeps what it had; it is hidden.
        EXPECT_EQ(c.opt4Items.size(), 3u);
    }
}

TEST_F(FirmwareChoicesTest, AReparseReplacesEverything) {
    parseFirmwareIds(c, "1.0:5:A:x#1.1:6:A:y#1.2:7:A:z#");
    c.opt4Selected = 2;
    parseFirmwareIds(c, "2.0:9:CURRENT:only#");
    EXPECT_EQ(getFirmwareId(c), 9);
    EXPECT_EQ(c.opt5, std::vector<std::string>{"only"});
}

TEST(LeadingInteger, ReadsTheLeadingNumber) {
    EXPECT_EQ(leadingInteger(" 812x"), 812);
    EXPECT_EQ(leadingInteger("-3"), -3);
    EXPECT_EQ(leadingInteger("abc"), 0);
    EXPECT_EQ(leadingInteger(""), 0);
    EXPECT_EQ(leadingInteger("99999999999"), 2147483647);
}

}  // namespace
