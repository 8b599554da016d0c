// The catalogue model: whatever the server sends, position i of the shown control, of the
// ids and of the descriptions is one entry.
#include "workflows/firmware_choices.h"

#include <gtest/gtest.h>

#include "core/byte_string.h"

namespace {

struct Catalogue {
    const char* name;
    const char* list;
    ChoiceControl control;
    std::vector<std::string> entries;  // "id|visible name|description" at each position
};

class CatalogueTest : public ::testing::TestWithParam<Catalogue> {};

TEST_P(CatalogueTest, EachPositionIsOneEntry) {
    const Catalogue& c = GetParam();
    FirmwareChoices model;
    // An earlier tool's pop-up; a list without entries keeps its items, hidden.
    parseFirmwareIds(model, "1.0:5:A:x#1.1:6:A:y#1.2:7:A:z#");
    parseFirmwareIds(model, c.list);
    EXPECT_EQ(model.shown, c.control);
    EXPECT_EQ(model.labelShown, !c.entries.empty());
    std::vector<std::string> entries;
    for (size_t i = 0; i < model.opt3.size(); ++i) {
        model.opt2Row = model.opt4Selected = static_cast<int>(i);
        EXPECT_EQ(getFirmwareId(model), leadingInteger(model.opt3[i]));
        EXPECT_EQ(getFirmwareName(model), choiceName(model, i));
        entries.push_back(model.opt3[i] + "|" + choiceName(model, i) + "|" +
                          (i < model.opt5.size() ? model.opt5[i] : "?"));
    }
    EXPECT_EQ(entries, c.entries);
    EXPECT_EQ(model.opt4Items.size(), c.control == ChoiceControl::Opt4 ? c.entries.size() : 3);
    if (c.entries.empty()) {
        EXPECT_EQ(getFirmwareId(model), 0);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Lists, CatalogueTest,
    ::testing::Values(
        Catalogue{"One",
                  "1.02.03:812:CURRENT:Latest release#",
                  ChoiceControl::Opt1,
                  {"812|1.02.03 (Release)|Latest release"}},
        Catalogue{"Two",
                  "2.0:8:CURRENT:a#2.1:9:BETA:b#",
                  ChoiceControl::Opt2,
                  {"8|2.0 (Release)|a", "9|2.1 (Beta)|b"}},
        Catalogue{"KindsCompareExactly",
                  "1.0:1:SPECIAL:a#1.1:2:CUSTOM_R:b#1.2:3:beta:c#1.3:4::d#",
                  ChoiceControl::Opt4,
                  {"1|1.0 (Special)|a", "2|1.1 (Custom)|b", "3|1.2|c", "4|1.3|d"}},
        Catalogue{"SameNameTakesTheIdPrefix",
                  "2.0:8:BETA:a#2.0:9:BETA:b#3.0:10:BETA:c#",
                  ChoiceControl::Opt4,
                  {"8|8-2.0 (Beta)|a", "9|9-2.0 (Beta)|b", "10|10-3.0 (Beta)|c"}},
        // One entry sent twice: the later one takes the earlier one's place.
        Catalogue{"SameIdTwice",
                  "2.05:813:CURRENT:A#2.06:900:BETA:B#2.05:813:CURRENT:A2#2.07:901:BETA:C#",
                  ChoiceControl::Opt4,
                  {"813|813-2.05 (Release)|A2", "900|900-2.06 (Beta)|B", "901|901-2.07 (Beta)|C"}},
        Catalogue{"NoFinalHash", "1.02.03:812:CURRENT:Latest release", ChoiceControl::None, {}},
        Catalogue{"Empty", "", ChoiceControl::None, {}}),
    [](const auto& test) { return std::string(test.param.name); });

TEST(LeadingInteger, ReadsTheLeadingNumber) {
    EXPECT_EQ(leadingInteger(" 812x"), 812);
    EXPECT_EQ(leadingInteger("-3"), -3);
    EXPECT_EQ(leadingInteger("abc"), 0);
    EXPECT_EQ(leadingInteger("99999999999"), 2147483647);
}

}  // namespace
