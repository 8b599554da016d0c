// The window application end to end against the virtual tool and the bench server:
// start-up, Find Device, the firmware choice and Program.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <chrono>
#include <cstdio>

#include "app/window_fixture.h"
#include "core/byte_string.h"
#include "server/server_config.h"
#include "toolsim/fake_sysfs.h"

namespace {

const std::string kOneRelease = "2.20.01:901:CURRENT:Newest release#";

}  // namespace

TEST_F(WindowTest, StartUpLeavesOnlyFindAndOffersTheDownloadWhenOutOfDate) {
    startBench(kOneRelease);
    Misbehaviour m;
    m.outdatedUpdater = true;
    rig.server.setMisbehaviour(m);

    EXPECT_FALSE(delegate().applicationDidFinishLaunching());
    ASSERT_TRUE(waitFor([] { return true; }));

    EXPECT_TRUE(enabled(Control::Find));
    EXPECT_FALSE(enabled(Control::Program));
    EXPECT_FALSE(enabled(Control::Manual));
    EXPECT_TRUE(hidden(Control::ProgramMemories));
    EXPECT_TRUE(hidden(Control::UploadReadFiles));
    EXPECT_TRUE(hidden(Control::FirmLabel));
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].title, "Updater is not up-to-date");
    EXPECT_EQ(boxes[0].buttons, (std::vector<std::string>{"Download", "Cancel"}));
    // Answered with the first button, Download.
    EXPECT_EQ(opened, std::vector<std::string>{"http://" + rig.server.host() +
                                               "docs/Zarvik_Updater_Linux.deb"});
    // Steps a Linux user can follow: nothing of a Mac bundle.
    EXPECT_EQ(boxes[0].message.find(".app"), std::string::npos) << boxes[0].message;
}

// The start-up check on a server that does not answer: the event loop keeps turning while
// the check waits, the window takes no input but Close, and the check's answer frees it.
class SlowServerTest : public WindowTest, public ::testing::WithParamInterface<bool> {
  protected:
    ~SlowServerTest() override {
        for (int fd : fillers) close(fd);
        close(blackhole);
    }
    int blackhole = -1;
    int fillers[3] = {-1, -1, -1};
};

TEST_P(SlowServerTest, TheWindowAnswersWhileTheVersionCheckWaits) {
    const bool silent = GetParam();
    startBench(kOneRelease);
    if (silent) {
        Misbehaviour m;
        m.stall = true;
        rig.server.setMisbehaviour(m);
    } else {
        // A listener whose queue is full and that never accepts: the connection is never made,
        // as with a server behind a dead route, until the connect time-out.
        blackhole = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        auto* raw = reinterpret_cast<sockaddr*>(&address);
        ASSERT_EQ(bind(blackhole, raw, length) | listen(blackhole, 0), 0);
        ASSERT_EQ(getsockname(blackhole, raw, &length), 0);
        for (int& filler : fillers) {
            filler = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
            connect(filler, raw, length);
        }
        const std::string host = "127.0.0.1:" + std::to_string(ntohs(address.sin_port)) + "/";
        ServerSession_configure(rig.session.get(), ServerConfig{host, "", "", ""});
    }
    using Clock = std::chrono::steady_clock;
    int beatsWhileChecking = 0;
    Clock::duration longestGap{};
    Clock::time_point last = Clock::now();
    QTimer heartbeat;
    QObject::connect(&heartbeat, &QTimer::timeout, [&] {
        Clock::time_point now = Clock::now();
        longestGap = std::max(longestGap, now - last);
        last = now;
        if (text(Line::Status) == "Checking for a newer updater...") ++beatsWhileChecking;
    });
    heartbeat.start(5);
    last = Clock::now();

    delegate().startUp();
    EXPECT_EQ(text(Line::Status), "Checking for a newer updater...");
    EXPECT_FALSE(enabled(Control::Find));
    EXPECT_TRUE(enabled(Control::Close));
    // Still waiting on the server, and the loop has turned many times meanwhile.
    ASSERT_TRUE(waitFor([&] { return beatsWhileChecking >= 20; }));
    if (silent) rig.server.setMisbehaviour(Misbehaviour{});
    ASSERT_TRUE(waitIdle());
    heartbeat.stop();
    longestGap = std::max(longestGap, Clock::now() - last);
    // The check has answered (current: nothing to offer) and the window is free.
    EXPECT_EQ(text(Line::Status), "");
    EXPECT_TRUE(enabled(Control::Find));
    EXPECT_FALSE(enabled(Control::Program));
    EXPECT_TRUE(boxes.empty());
    const auto gapMs = std::chrono::duration_cast<std::chrono::milliseconds>(longestGap).count();
    RecordProperty("longestMainThreadGapMs", static_cast<int>(gapMs));
    std::printf("longest gap between heartbeats (%s server): %lld ms\n",
                silent ? "silent" : "unreachable", static_cast<long long>(gapMs));
}

INSTANTIATE_TEST_SUITE_P(Window, SlowServerTest, ::testing::Values(true, false),
                         [](const auto& param) {
                             return std::string(param.param ? "Silent" : "Unreachable");
                         });

struct ChoiceCase {
    const char* name;
    std::string list;
    std::string shown;  // the visible choice control and its titles
    std::vector<std::string> titles;
    std::vector<int> ids;
};

class ChoiceTest : public WindowTest, public ::testing::WithParamInterface<ChoiceCase> {};

std::string shownChoice(MainWindow& w) {
    std::string shown;
    if (!w.opt1->isHidden()) shown += "opt1 " + w.opt1->text().toStdString() + ";";
    for (QRadioButton* r : {w.opt2_1, w.opt2_2}) {
        if (!r->isHidden()) shown += "opt2 " + r->text().toStdString() + ";";
    }
    for (int i = 0; !w.opt4->isHidden() && i < w.opt4->count(); ++i) {
        shown += "opt4 " + w.opt4->itemText(i).toStdString() + ";";
    }
    return shown;
}

TEST_P(ChoiceTest, TheRightControlHoldsTheListAndEachChoiceShowsItsDescription) {
    const ChoiceCase& c = GetParam();
    startBench(c.list);
    ASSERT_TRUE(identify()) << text(Line::Msg);
    MainWindow& w = window();
    EXPECT_EQ(shownChoice(w), c.shown);
    EXPECT_EQ(text(Line::Msg), "Description " + std::to_string(c.ids[0]));

    // Forwards and back again, as the user picks: each choice shows its own description.
    std::vector<size_t> order;
    for (size_t i = 0; i < c.ids.size(); ++i) order.push_back(i);
    for (size_t i = c.ids.size(); i-- > 0;) order.push_back(i);
    for (size_t index : order) {
        if (!w.opt4->isHidden()) {
            w.opt4->setCurrentIndex(static_cast<int>(index));
        } else {
            (index == 0 ? w.opt2_1 : w.opt2_2)->click();
        }
        QCoreApplication::processEvents();
        EXPECT_EQ(text(Line::Msg), "Description " + std::to_string(c.ids[index])) << index;
        EXPECT_EQ(delegate().getFirmwareId(), c.ids[index]) << index;
        EXPECT_EQ(delegate().getFirmwareName(), c.titles[index]) << index;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Window, ChoiceTest,
    ::testing::Values(
        ChoiceCase{"Two",
                   "2.20.01:901:CURRENT:Description 901#2.21.00:905:BETA:Description 905#",
                   "opt2 2.20.01 (Release);opt2 2.21.00 (Beta);",
                   {"2.20.01 (Release)", "2.21.00 (Beta)"},
                   {901, 905}},
        // One entry sent twice: the pop-up's positions still follow the ids.
        ChoiceCase{"SameIdTwice",
                   "2.20.01:901:CURRENT:Description 0#2.21.00:905:BETA:Description "
                   "905#2.20.01:901:CURRENT:Description 901#3.00.00:906:CUSTOM_R:Description 906#",
                   "opt4 901-2.20.01 (Release);opt4 905-2.21.00 (Beta);opt4 906-3.00.00 (Custom);",
                   {"901-2.20.01 (Release)", "905-2.21.00 (Beta)", "906-3.00.00 (Custom)"},
                   {901, 905, 906}}),
    [](const auto& param) { return std::string(param.param.name); });

TEST_F(WindowTest, FindDeviceFillsTheLinesAndProgramAnsweredNoStartsNothing) {
    startBench(kOneRelease);
    delegate().applicationDidFinishLaunching();
    window().btnFind->click();
    EXPECT_FALSE(enabled(Control::Find));
    ASSERT_TRUE(waitIdle());
    ASSERT_TRUE(enabled(Control::Program)) << text(Line::Msg);
    EXPECT_EQ(text(Line::Name), "Name : KTX2 Bench");
    EXPECT_EQ(text(Line::Firm), "Current Firmware : V2.18.04 Build 1");
    EXPECT_EQ(shownChoice(window()), "opt1 2.20.01 (Release);");
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

TEST_F(WindowTest, ProgramAsksOnlyOnceTheSlowDownloadIsInAndHoldsTheWindowMeanwhile) {
    startBench(kOneRelease);
    ASSERT_TRUE(identify());
    Misbehaviour m;
    m.stall = true;
    rig.server.setMisbehaviour(m);
    window().btnProgram->click();
    // The loop turns while the download waits; no question yet, and only Close takes input.
    ASSERT_TRUE(
        waitFor([&] { return text(Line::Status) == "Downloading firmware information..."; }));
    EXPECT_TRUE(boxes.empty());
    EXPECT_FALSE(enabled(Control::Find));
    EXPECT_FALSE(enabled(Control::Manual));
    EXPECT_TRUE(enabled(Control::Close));
    rig.server.setMisbehaviour(Misbehaviour{});
    ASSERT_TRUE(waitIdle());
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].title, "Do you wish to proceed?");
    // Answered No: the window is as it was before Program.
    EXPECT_EQ(text(Line::Status), "");
    EXPECT_TRUE(enabled(Control::Find));
    EXPECT_TRUE(enabled(Control::Manual));
    EXPECT_TRUE(enabled(Control::Program));
}

// A close during the update asks, and No keeps the run going to its end; a close while
// idle is not asked.
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

    window().show();
    window().btnProgram->click();
    // The question comes once the package information is in; Yes starts the writing run.
    ASSERT_TRUE(waitFor([&] { return delegate().writingRun(); }));
    EXPECT_FALSE(window().close());
    ASSERT_GE(boxes.size(), 2u);
    EXPECT_EQ(boxes[1].title, kCloseDuringUpdate);
    EXPECT_EQ(boxes[1].buttons, (std::vector<std::string>{"No", "Yes"}));
    ASSERT_TRUE(waitIdle());

    EXPECT_EQ(text(Line::Msg), "KTX2 Firmware Updated Successfully");
    EXPECT_TRUE(window().isVisible());
    ASSERT_GE(boxes.size(), 3u);
    EXPECT_EQ(boxes.back().title, "Operation Completed");
    // Locked from Program on (the question is about the choice made), live again after.
    EXPECT_FALSE(choiceLive.front());
    EXPECT_FALSE(choiceLive.back());
    EXPECT_TRUE(window().choiceBox->isEnabled());
    EXPECT_TRUE(enabled(Control::Program));
    const size_t asked = boxes.size();
    EXPECT_TRUE(window().close());
    EXPECT_EQ(boxes.size(), asked);
}

TEST(WindowSetupTest, TheProgramsOwnSessionFollowsTheServerOptionAndRefusesNonsense) {
    std::string error;
    auto setup = makeWindowSetup(WindowOptions{"127.0.0.1:8123", "/dev/ttyACM7"}, &error);
    ASSERT_NE(setup, nullptr) << error;
    ASSERT_NE(setup->ownedSession, nullptr);
    EXPECT_EQ(ByteString_str(setup->ownedSession->host), "127.0.0.1:8123/");

    EXPECT_EQ(makeWindowSetup(WindowOptions{"bad host:99999", ""}, &error), nullptr);
    EXPECT_FALSE(error.empty());
}

// After the cut Find Device is the way back, and the next identification says how to finish.
TEST_F(WindowTest, AFailedUpdateOffersFindDeviceAgainAndTheNextFindSaysHowToFinish) {
    startBench(kOneRelease);
    const std::string history = (rig.dir / "history.jsonl").string();
    delegate().setHistory(history, nullptr);
    ASSERT_TRUE(identify());
    rig.tool.refuseAt(*CutPoint_parse("firmware:3"));
    answers = {kSecondButton};
    window().btnProgram->click();
    ASSERT_TRUE(waitIdle());
    EXPECT_EQ(text(Line::Msg), "Writing Firmware V2.20.01 Failed");
    EXPECT_TRUE(enabled(Control::Find));
    EXPECT_FALSE(enabled(Control::Program));

    window().show();
    ASSERT_TRUE(identify());
    EXPECT_EQ(text(Line::Status),
              "The last update of this tool did not finish (firmware). Program " +
                  delegate().choices().opt1 + " again to complete it.");
    // Shown whole: the window grows to give the wrapped line all its rows.
    QLabel* status = window().line(Line::Status);
    ASSERT_TRUE(waitFor([&] { return status->height() > 0; }));
    EXPECT_GE(status->height(), status->heightForWidth(status->width()));
    EXPECT_EQ(delegate().getFirmwareId(), 901);
    EXPECT_TRUE(enabled(Control::Program));
}

// Two tools attached and none named: Find Device asks which, the chosen one is identified
// and updated, the other hears nothing, and every message names the tool. One tool: as ever.
struct PickCase {
    const char* name;
    int tools;
    int button;   // of the choice: 0 Cancel, 1 the first tool, 2 the second
    int updated;  // the tool updated: 0 the first, 1 the second, -1 none
};

class ToolPickTest : public WindowTest, public ::testing::WithParamInterface<PickCase> {};

TEST_P(ToolPickTest, FindDeviceAsksWhichToolAndUpdatesThatOne) {
    const PickCase& c = GetParam();
    const std::string root = (rig.dir / "fake").string();
    rig.toolOptions.fakeSysfsRoot = root;
    rig.toolOptions.usbSerial = "KTX2-A";
    startBench(kOneRelease);
    VirtualTool second;
    if (c.tools == 2) {
        ToolState state = ToolState_default();
        state.firmwareId = 900;
        ToolSimOptions options = rig.toolOptions;
        options.usbSerial = "KTX2-B";
        std::string error;
        ASSERT_TRUE(second.start(state, (rig.dir / "second").string(), options, &error)) << error;
    }
    FakeSysfs tree(root);
    LinkSettings link = rig.link;
    link.port.clear();
    link.sysfsRoot = tree.sysfsRoot();
    link.devRoot = tree.devRoot();
    openWindow(link);
    if (c.tools == 2) answers.push_back(kFirstButton + c.button);
    answers.push_back(kSecondButton);  // Yes to Program's question

    window().btnFind->click();
    ASSERT_TRUE(waitIdle());
    if (c.tools == 2) {
        ASSERT_FALSE(boxes.empty());
        EXPECT_EQ(boxes[0].title, kChooseTool);
        ASSERT_EQ(boxes[0].buttons.size(), 3u);
        EXPECT_EQ(boxes[0].buttons[0], "Cancel");
        EXPECT_TRUE(boxes[0].buttons[1].starts_with("USB serial KTX2-A, " + tree.devRoot()));
        EXPECT_TRUE(boxes[0].buttons[2].starts_with("USB serial KTX2-B, " + tree.devRoot()));
    }
    for (size_t i = c.tools == 2 ? 1 : 0; i < boxes.size(); ++i) {
        EXPECT_NE(boxes[i].title, kChooseTool);
    }
    VirtualTool* tools[2] = {&rig.tool, &second};
    if (c.updated < 0) {
        EXPECT_EQ(text(Line::Msg), "No tool chosen");
        EXPECT_TRUE(enabled(Control::Find));
        EXPECT_FALSE(enabled(Control::Program));
        EXPECT_TRUE(rig.tool.frames().empty());
        EXPECT_TRUE(second.frames().empty());
        second.stop();
        return;
    }
    ASSERT_TRUE(enabled(Control::Program)) << text(Line::Msg);
    window().btnProgram->click();
    ASSERT_TRUE(waitIdle());

    const std::string about = c.tools == 2 ? (c.updated == 0 ? "KTX2-A: " : "KTX2-B: ") : "";
    EXPECT_EQ(text(Line::Msg), about + "KTX2 Firmware Updated Successfully");
    EXPECT_EQ(boxes.back().title, about + "Operation Completed");
    EXPECT_FALSE(tools[c.updated]->program(RawTarget::Firmware).empty());
    if (c.tools == 2) {
        EXPECT_TRUE(tools[1 - c.updated]->frames().empty());
    }
    second.stop();
}

INSTANTIATE_TEST_SUITE_P(Window, ToolPickTest,
                         ::testing::Values(PickCase{"TheSecond", 2, 2, 1},
                                           PickCase{"TheFirst", 2, 1, 0},
                                           PickCase{"Cancel", 2, 0, -1},
                                           PickCase{"OneToolIsNotAsked", 1, 0, 0}),
                         [](const auto& param) { return std::string(param.param.name); });
