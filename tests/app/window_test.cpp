// The window application end to end: start-up, Find Device, the firmware choice, Program and
// failures, each against the virtual tool and the bench server.
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <algorithm>

#include "app/window_fixture.h"
#include "core/byte_string.h"

namespace {

const std::string kOneRelease = "2.20.01:901:CURRENT:Newest release#";

}  // namespace

struct StartUpCase {
    const char* name;
    bool outdated;
    int answer;
    bool offered;
    bool opens;
};

class StartUpTest : public WindowTest, public ::testing::WithParamInterface<StartUpCase> {};

TEST_P(StartUpTest, LeavesOnlyFindAndOffersTheDownloadWhenOutOfDate) {
    const StartUpCase& c = GetParam();
    startBench(kOneRelease);
    Misbehaviour m;
    m.outdatedUpdater = c.outdated;
    rig.server.setMisbehaviour(m);
    answers = {c.answer};

    bool current = delegate().applicationDidFinishLaunching();
    ASSERT_TRUE(waitFor([] { return true; }));

    EXPECT_EQ(current, !c.outdated);
    EXPECT_TRUE(enabled(Control::Find));
    EXPECT_FALSE(enabled(Control::Program));
    EXPECT_FALSE(enabled(Control::Manual));
    EXPECT_TRUE(hidden(Control::ProgramMemories));
    EXPECT_TRUE(hidden(Control::UploadReadFiles));
    EXPECT_TRUE(hidden(Control::FirmLabel));
    ASSERT_EQ(boxes.size(), c.offered ? 1u : 0u);
    if (c.offered) {
        EXPECT_EQ(boxes[0].title, "Updater is not up-to-date");
        EXPECT_EQ(boxes[0].buttons, (std::vector<std::string>{"Download", "Cancel"}));
    }
    std::vector<std::string> expected;
    if (c.opens) expected = {"http://" + rig.server.host() + "docs/Zarvik_Updater_Mac.zip"};
    EXPECT_EQ(opened, expected);
}

INSTANTIATE_TEST_SUITE_P(
    Window, StartUpTest,
    ::testing::Values(StartUpCase{"Current", false, kFirstButton, false, false},
                      StartUpCase{"OutdatedDownload", true, kFirstButton, true, true},
                      StartUpCase{"OutdatedCancel", true, kSecondButton, true, false}),
    [](const auto& param) { return std::string(param.param.name); });

struct ChoiceCase {
    const char* name;
    std::string list;
    ChoiceControl control;
    std::vector<std::string> titles;
    std::vector<int> ids;
};

class ChoiceTest : public WindowTest, public ::testing::WithParamInterface<ChoiceCase> {};

// Picks entry `index` the way the user does, in the control that holds the choice.
void choose(MainWindow& w, ChoiceControl control, int index) {
    if (control == ChoiceControl::Opt2) {
        (index == 0 ? w.opt2_1 : w.opt2_2)->click();
    } else if (control == ChoiceControl::Opt4) {
        w.opt4->setCurrentIndex(index);
    }
}

std::vector<std::string> shownTitles(MainWindow& w, ChoiceControl control) {
    switch (control) {
        case ChoiceControl::Opt1:
            return {w.opt1->text().toStdString()};
        case ChoiceControl::Opt2:
            return {w.opt2_1->text().toStdString(), w.opt2_2->text().toStdString()};
        case ChoiceControl::Opt4: {
            std::vector<std::string> items;
            for (int i = 0; i < w.opt4->count(); ++i)
                items.push_back(w.opt4->itemText(i).toStdString());
            return items;
        }
        case ChoiceControl::None:
            break;
    }
    return {};
}

TEST_P(ChoiceTest, TheRightControlHoldsTheListAndEachChoiceShowsItsDescription) {
    const ChoiceCase& c = GetParam();
    startBench(c.list);
    ASSERT_TRUE(identify()) << text(Line::Msg);
    MainWindow& w = window();

    EXPECT_EQ(!w.opt1->isHidden(), c.control == ChoiceControl::Opt1);
    EXPECT_EQ(!w.opt2_1->isHidden(), c.control == ChoiceControl::Opt2);
    EXPECT_EQ(!w.opt2_2->isHidden(), c.control == ChoiceControl::Opt2);
    EXPECT_EQ(!w.opt4->isHidden(), c.control == ChoiceControl::Opt4);
    EXPECT_EQ(shownTitles(w, c.control), c.titles);
    EXPECT_EQ(text(Line::Msg), "Description " + std::to_string(c.ids[0]));

    // Forwards and back again: every change of choice shows that entry's description.
    std::vector<int> order;
    for (size_t i = 0; i < c.ids.size(); ++i) order.push_back(static_cast<int>(i));
    for (size_t i = c.ids.size(); i-- > 0;) order.push_back(static_cast<int>(i));
    for (int index : order) {
        choose(w, c.control, index);
        QCoreApplication::processEvents();
        EXPECT_EQ(text(Line::Msg), "Description " + std::to_string(c.ids[index])) << index;
        EXPECT_EQ(delegate().getFirmwareId(), c.ids[index]) << index;
        EXPECT_EQ(delegate().getFirmwareName(), c.titles[index]) << index;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Window, ChoiceTest,
    ::testing::Values(ChoiceCase{"One",
                                 "2.20.01:901:CURRENT:Description 901#",
                                 ChoiceControl::Opt1,
                                 {"2.20.01 (Release)"},
                                 {901}},
                      ChoiceCase{"Two",
                                 "2.20.01:901:CURRENT:Description 901#2.21.00:905:BETA:Description "
                                 "905#",
                                 ChoiceControl::Opt2,
                                 {"2.20.01 (Release)", "2.21.00 (Beta)"},
                                 {901, 905}},
                      // One entry sent twice: the pop-up's positions still follow the ids.
                      ChoiceCase{
                          "SameIdTwice",
                          "2.20.01:901:CURRENT:Description 0#2.21.00:905:BETA:Description "
                          "905#2.20.01:901:CURRENT:Description 901#3.00.00:906:CUSTOM_R:"
                          "Description 906#",
                          ChoiceControl::Opt4,
                          {"901-2.20.01 (Release)", "905-2.21.00 (Beta)", "906-3.00.00 (Custom)"},
                          {901, 905, 906}}),
    [](const auto& param) { return std::string(param.param.name); });

TEST_F(WindowTest, FindDeviceFillsTheLinesAndProgramAnsweredNoStartsNothing) {
    startBench(kOneRelease);
    delegate().applicationDidFinishLaunching();
    ASSERT_TRUE(identify()) << text(Line::Msg);
    EXPECT_EQ(text(Line::Name), "Name : KTX2 Bench");
    EXPECT_EQ(text(Line::Firm), "Current Firmware : V2.18.04 Build 1");
    EXPECT_FALSE(hidden(Control::FirmLabel));
    window().btnManual->click();
    EXPECT_EQ(opened, std::vector<std::string>{"http://" + rig.server.host() +
                                               "docs/ZarvikV2.20.01-ENF.pdf"});

    size_t requestsBefore = rig.requests().size();
    window().btnProgram->click();
    ASSERT_TRUE(waitIdle());
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].buttons, (std::vector<std::string>{"No", "Yes"}));
    EXPECT_NE(boxes[0].message.find("to version 2.20.01 (Release)"), std::string::npos);
    // Only the chosen package's info was fetched; nothing was written or reported.
    auto requests = rig.requests();
    ASSERT_EQ(requests.size(), requestsBefore + 1);
    EXPECT_EQ(requests.back().value("request", ""), "download|ktxFirmwares/901.gfi");
    EXPECT_EQ(text(Line::Msg), "Newest release");
    EXPECT_TRUE(enabled(Control::Program));
    EXPECT_FALSE(boxOffMainThread);
}

TEST_F(WindowTest, ProgramAnsweredYesRunsTheUpdateWithTheChoiceLocked) {
    startBench(kOneRelease);
    ASSERT_TRUE(identify());
    answers = {kSecondButton};
    std::vector<bool> choiceLive;
    auto answer = setup->ui->answerBox;
    setup->ui->answerBox = [&](const QtBox& box) {
        choiceLive.push_back(window().choiceBox->isEnabled());
        return answer(box);
    };

    window().btnProgram->click();
    ASSERT_TRUE(waitIdle());

    EXPECT_EQ(text(Line::Msg), "KTX2 Firmware Updated Successfully");
    ASSERT_GE(boxes.size(), 2u);
    EXPECT_EQ(boxes.back().title, "Operation Completed");
    // Live when asked, locked while the update runs, live again after it.
    EXPECT_TRUE(choiceLive.front());
    EXPECT_FALSE(choiceLive.back());
    EXPECT_TRUE(window().choiceBox->isEnabled());
    EXPECT_TRUE(enabled(Control::Program));
}

const char* const kOpenFailed = "Failed to open the port. conn_type=0 lastError=-3";

struct FailureCase {
    const char* name;
    bool toolPresent;
    const char* refusedWord;  // empty: the server answers everything
    const char* message;
    const char* status;  // the start of the status line
};

class FailureTest : public WindowTest, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(FailureTest, LeavesOnlyFindEnabled) {
    const FailureCase& c = GetParam();
    startBench(kOneRelease, c.toolPresent);
    delegate().applicationDidFinishLaunching();
    if (*c.refusedWord != '\0') {
        Misbehaviour m;
        m.refusedWords = {c.refusedWord};
        rig.server.setMisbehaviour(m);
    }

    window().btnFind->click();
    EXPECT_FALSE(enabled(Control::Find));
    ASSERT_TRUE(waitIdle());

    EXPECT_EQ(text(Line::Msg), c.message);
    EXPECT_EQ(text(Line::Status).rfind(c.status, 0), 0u) << text(Line::Status);
    EXPECT_TRUE(enabled(Control::Find));
    EXPECT_FALSE(enabled(Control::Program));
    EXPECT_FALSE(enabled(Control::Manual));
    EXPECT_TRUE(hidden(Control::ProgramMemories));
    EXPECT_TRUE(hidden(Control::UploadReadFiles));
    EXPECT_TRUE(boxes.empty());
    EXPECT_FALSE(boxOffMainThread);
}

INSTANTIATE_TEST_SUITE_P(Window, FailureTest,
                         ::testing::Values(FailureCase{"NoTool", false, "", kOpenFailed,
                                                       "The serial device"},
                                           FailureCase{"UnknownToServer", true, "valid|",
                                                       "Tool not recognised by the server", ""}),
                         [](const auto& param) { return std::string(param.param.name); });

TEST(WindowSetupTest, TheProgramsOwnSessionFollowsTheServerOptionAndRefusesNonsense) {
    int64_t live = ByteString_liveCount();
    {
        std::string error;
        auto setup = makeWindowSetup(WindowOptions{"127.0.0.1:8123", "/dev/ttyACM7"}, &error);
        ASSERT_NE(setup, nullptr) << error;
        ASSERT_NE(setup->ownedSession, nullptr);
        EXPECT_EQ(ByteString_str(setup->ownedSession->host), "127.0.0.1:8123/");
        EXPECT_TRUE(static_cast<bool>(setup->ownedSession->trace));
        EXPECT_TRUE(static_cast<bool>(setup->ownedSession->uploadProgress));

        EXPECT_EQ(makeWindowSetup(WindowOptions{"bad host:99999", ""}, &error), nullptr);
        EXPECT_FALSE(error.empty());
    }
    EXPECT_EQ(ByteString_liveCount(), live);
}
