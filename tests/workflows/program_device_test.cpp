#include "support/update_bench.h"
#include "support/workflow_fixture.h"

namespace {

struct Question {
    const char* name;
    const char* firmwareList;  // offered to the tool
    const char* offeredFsn;    // FSN of the offered package info
    bool emergencyOnly;        // the installed firmware is known only by the emergency query
    int infoVersion;           // VER of the offered package info; 0: none on the server
    const char* title;
    const char* message;
    bool force;
};

class ProgramQuestionTest : public WorkflowTest, public ::testing::WithParamInterface<Question> {};

TEST_P(ProgramQuestionTest, AsksTheQuestionThatFits) {
    const Question& q = GetParam();
    auto tool = benchToolRecord();
    tool["firmwareList"] = q.firmwareList;
    auto known = records(tool);
    if (q.emergencyOnly) {
        known["firmware"] = nlohmann::json::array();
        known["tools"][0]["installedFirmwareId"] = 700;
    }
    startBench(ToolState_default(), known);
    packwriter::Info offered = offeredInfo();
    offered.fsn = q.offeredFsn;
    offered.fln = "Lincoln cars";
    offered.version = q.infoVersion;
    std::filesystem::remove(rig_.catalogue / "ktxFirmwares/900.gfi");
    if (q.infoVersion != 0) rig_.addFile("ktxFirmwares/900.gfi", packwriter::writeInfo(offered));
    identify();
    ASSERT_TRUE(ui_.enabled(Control::Program));
    size_t requestsBefore = requestCount();
    // A finished run leaves its own text in the message line; the choice still decides.
    ui_.setText(Line::Msg, "KTX2 Firmware Updated Successfully");

    delegate_->programClicked();
    delegate_->waitIdle();
    auto boxes = ui_.boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].title, q.title);
    EXPECT_EQ(boxes[0].message, q.message);
    EXPECT_EQ(delegate_->forceFlag(), q.force);
    if (std::string(q.title) == "Would you like to reinstall the firmware?") {
        EXPECT_EQ(requestCount(), requestsBefore);  // the server is not asked
    }
    // Answered No: nothing starts.
    EXPECT_EQ(ui_.text(Line::Msg).find("Writing"), std::string::npos);
}

const char* kUpdateFrom =
    "Your KTX2 is about to be updated from\nfirmware version 2.18.04 Build 1\nto version "
    "2.20.01 (Release)\n\n\n\nPlease leave the KTX2 connected during programming.";
const char* kUpdateTo =
    "Your KTX2 is about to be updated to version\n2.20.01 Build 3\nDo you wish to "
    "continue?\n\nPlease leave the KTX2 connected during programming.";

INSTANTIATE_TEST_SUITE_P(
    Cases, ProgramQuestionTest,
    ::testing::Values(
        Question{"reinstall", "2.18.04:700:CURRENT:Same again#", "FD", false, 8,
                 "Would you like to reinstall the firmware?",
                 "Firmware version 2.18.04 Build 1 is already programmed.\n\n\n\nPlease leave the "
                 "KTX2 connected during programming.",
                 true},
        Question{"same vehicle", "2.20.01:900:CURRENT:New#", "FD", false, 8,
                 "Do you wish to proceed?", kUpdateFrom, false},
        Question{"prefix counts as the same vehicle", "2.20.01:900:CURRENT:New#", "FDX", false, 8,
                 "Do you wish to proceed?", kUpdateFrom, false},
        Question{"vehicle change", "2.20.01:900:CURRENT:New#", "LN", false, 8,
                 "Do you wish to proceed?",
                 "The firmware on your KTX2 is for a different vehicle type than your registered "
                 "vehicle.\nRegistered Vehicle Type : Lincoln cars\nCurrent Vehicle Type    : "
                 "Ford cars\nDo you wish proceed and change the vehicle type for the registered "
                 "one?\nIf not please abort and contact us to have your vehicle registration "
                 "corrected.",
                 true},
        Question{"unknown firmware", "2.20.01:900:CURRENT:New#", "LN", true, 8,
                 "Do you wish to proceed?", kUpdateTo, false},
        Question{"MotionDest", "2.20.01:900:SPECIAL:MotionDest#", "LN", false, 8,
                 "Do you wish to proceed?",
                 "You are about to update your KTX2 with the MotionDest special firmware. This "
                 "firmware can only be used to enable destination entry while the vehicle is "
                 "moving and cannot perform any diagnostic tasks.\nThe process involve two "
                 "consecutives reflashes of the Touchscreen and takes about 71 minutes.\nPlease "
                 "consult the KTX2 user manual for more details.\n\nDo you which to continue?",
                 false},
        Question{"newer package format", "2.20.01:900:CURRENT:New#", "FD", false, 9, "Error",
                 "Your updater is out of date", false},
        Question{"no package info", "2.20.01:900:CURRENT:New#", "FD", false, 0, "Download Failed",
                 "Please ensure your computer is connected to internet\nTry again or contact us",
                 false}));

// Picks the other firmware while the chosen one is being written.
class ChoiceChangedMidRun : public RecordingUi {
  public:
    AppDelegate* delegate = nullptr;
    void setText(Line line, const std::string& text) override {
        RecordingUi::setText(line, text);
        if (delegate != nullptr && text.starts_with("Writing Firmware")) {
            std::exchange(delegate, nullptr)->firmwareChoiceChanged(1);
        }
    }
};

TEST_F(UpdateBench, TheEndNamesTheFirmwareWrittenNotALaterChoice) {
    addRelease(kReleaseId, makeRelease("1.23", "1.23", &releaseIdentity));
    toolRecord["firmwareList"] = "3.01.02:900:CURRENT:Bench release#4.00.00:901:BETA:Other#";
    ASSERT_TRUE(startBench());
    ChoiceChangedMidRun changing;
    delegate = std::make_unique<AppDelegate>(changing, *rig.session, rig.link);
    delegate->portClicked();
    delegate->waitIdle();
    changing.delegate = delegate.get();
    changing.scriptAnswers({kSecondButton});
    delegate->programClicked();
    delegate->waitIdle();
    EXPECT_EQ(changing.text(Line::Msg), "KTX2 Firmware Updated Successfully");
    EXPECT_EQ(changing.text(Line::Firm), "Firmware : V3.01.02 (Release)");
    EXPECT_NE(changing.boxes().back().message.find("to version 3.01.02 (Release)"),
              std::string::npos);
    delegate.reset();
}

TEST_F(WorkflowTest, NothingChosenStartsNothing) {
    auto tool = benchToolRecord();
    tool["firmwareList"] = "";
    startBench(ToolState_default(), records(tool));
    identify();
    delegate_->programClicked();
    EXPECT_EQ(ui_.text(Line::Msg), "Downloading Newest Firmware");
    EXPECT_TRUE(ui_.boxes().empty());
}

}  // namespace
