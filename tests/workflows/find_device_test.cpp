#include <fcntl.h>

#include "link/tool_link.h"
#include "serversim/misbehaviour.h"
#include "support/workflow_fixture.h"

namespace {

using FindDeviceTest = WorkflowTest;

TEST_F(FindDeviceTest, ACompleteIdentificationFillsEveryLine) {
    startBench();
    identify();
    EXPECT_EQ(ui_.text(Line::Name), "Name : KTX2 Bench");
    EXPECT_EQ(ui_.text(Line::Car), "Vehicle : Ford Focus");
    EXPECT_EQ(ui_.text(Line::Firm), "Current Firmware : V2.18.04 Build 1");
    // The one firmware offered is described in the message line.
    EXPECT_EQ(ui_.text(Line::Msg), "Latest release");
    EXPECT_TRUE(ui_.enabled(Control::Find));
    EXPECT_TRUE(ui_.enabled(Control::Program));
    EXPECT_TRUE(ui_.enabled(Control::Manual));
    EXPECT_FALSE(ui_.shown(Control::ProgramMemories));
    EXPECT_FALSE(ui_.shown(Control::UploadReadFiles));
    EXPECT_TRUE(ui_.shown(Control::FirmLabel));
    EXPECT_TRUE(ui_.boxes().empty());
    EXPECT_EQ(ui_.choices().opt1, "2.20.01 (Release)");
    EXPECT_EQ(delegate_->getFirmwareId(), 900);
    ASSERT_NE(delegate_->toolRecord(), nullptr);
    EXPECT_EQ(delegate_->toolRecord()->firmwareId, 700);
    EXPECT_EQ(ByteString_str(delegate_->toolRecord()->fsn), "FD");
    EXPECT_FALSE(delegate_->firmwareUnknown());
    // The steps are shown in order, and the link was closed at the end.
    auto calls = ui_.calls();
    auto at = [&](const std::string& call) {
        return std::find(calls.begin(), calls.end(), call) - calls.begin();
    };
    EXPECT_LT(at("txtMsg=Device found"), at("txtMsg=Gathering tool info. Step 0"));
    EXPECT_LT(at("txtMsg=Gathering tool info. Step 4"), at("enable btnProgram"));
    EXPECT_EQ(delegate_->manualAddress(),
              "http://" + ByteString_str(rig_.session->host) + "docs/ZarvikV2.20.01-ENF.pdf");
}

TEST_F(FindDeviceTest, NoToolGivesOneBox) {
    startBench();
    LinkSettings nowhere = rig_.link;
    nowhere.port.clear();
    nowhere.sysfsRoot = (rig_.dir / "no-sysfs").string();
    delegate_ = std::make_unique<AppDelegate>(ui_, *rig_.session, nowhere);
    identify();
    EXPECT_EQ(ui_.text(Line::Msg), "Device not found");
    ASSERT_EQ(ui_.boxes().size(), 1u);
    EXPECT_EQ(ui_.boxes()[0].title, "KTX2 not Found");
    EXPECT_EQ(ui_.boxes()[0].message, "Please ensure that the device is connected");
    EXPECT_TRUE(ui_.enabled(Control::Find));
    EXPECT_FALSE(ui_.enabled(Control::Program));
    EXPECT_EQ(requestCount(), 0u);
}

struct OpenFailure {
    const char* path;
    std::string message;
    bool driverBox;
};

class OpenFailureTest : public WorkflowTest, public ::testing::WithParamInterface<OpenFailure> {};

TEST_P(OpenFailureTest, TellsWhyThePortDidNotOpen) {
    startBench();
    LinkSettings settings = rig_.link;
    settings.port = GetParam().path;
    delegate_ = std::make_unique<AppDelegate>(ui_, *rig_.session, settings);
    identify();
    EXPECT_EQ(ui_.text(Line::Msg), GetParam().message);
    EXPECT_EQ(ui_.boxes().size(), GetParam().driverBox ? 1u : 0u);
    if (GetParam().driverBox) {
        EXPECT_EQ(ui_.boxes()[0].title, "How to install the missing driver");
        EXPECT_NE(ui_.boxes()[0].message.find("KTX2_Updater_Mac folder"), std::string::npos);
    }
    EXPECT_TRUE(ui_.enabled(Control::Find));
    EXPECT_FALSE(ui_.enabled(Control::Program));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, OpenFailureTest,
    ::testing::Values(OpenFailure{"/dev/null", "Unable to communicate. Missing Driver.", true},
                      OpenFailure{"/nonexistent/ktx2",
                                  "Failed to open the port. conn_type=0 lastError=-3", false}));

TEST_F(FindDeviceTest, AToolThatDoesNotAnswerIsReported) {
    startBench();
    rig_.tool.silenceCommand(2);
    identify();
    EXPECT_EQ(ui_.text(Line::Msg), "Failed to communicate with the device.");
    EXPECT_EQ(delegate_->toolRecord(), nullptr);
    EXPECT_TRUE(ui_.enabled(Control::Find));
    EXPECT_FALSE(ui_.enabled(Control::Program));
}

TEST_F(FindDeviceTest, FirmwareKnownOnlyByTheEmergencyQuery) {
    auto known = records();
    known["firmware"] = nlohmann::json::array();
    auto tool = benchToolRecord();
    tool["installedFirmwareId"] = 700;
    known["tools"] = {tool};
    startBench(ToolState_default(), known);
    identify();
    EXPECT_EQ(ui_.text(Line::Firm), "Current Firmware: Unknown");
    EXPECT_TRUE(delegate_->firmwareUnknown());
    EXPECT_EQ(delegate_->toolRecord()->firmwareId, 700);
    EXPECT_TRUE(ui_.enabled(Control::Program));
}

TEST_F(FindDeviceTest, UnidentifiedFirmwareIsRedAndKeepsTheNewRecord) {
    startBench();
    identify();
    ASSERT_EQ(ui_.text(Line::Msg), "Latest release");
    // The same tool, now with firmware the server cannot name.
    Misbehaviour refuse;
    refuse.refusedWords = {"firmware|", "firmEmergency|"};
    rig_.server.setMisbehaviour(refuse);
    identify();
    EXPECT_EQ(ui_.text(Line::Msg), "KTX2 firmware can't be identified");
    EXPECT_EQ(ui_.colour(Line::Msg), Colour::Red);
    ASSERT_NE(delegate_->toolRecord(), nullptr);
    EXPECT_EQ(delegate_->toolRecord()->serialNumber, 100001u);
    EXPECT_FALSE(ui_.enabled(Control::Program));
}

TEST_F(FindDeviceTest, AToolTheServerDoesNotKnowKeepsThePreviousRecord) {
    startBench();
    identify();
    const FirmwarePackage* before = delegate_->toolRecord();
    ASSERT_NE(before, nullptr);
    Misbehaviour refuse;
    refuse.refusedWords = {"valid|"};
    rig_.server.setMisbehaviour(refuse);
    identify();
    EXPECT_EQ(ui_.text(Line::Msg), "Tool not recognised by the server");
    EXPECT_EQ(ui_.colour(Line::Msg), Colour::Red);
    EXPECT_EQ(delegate_->toolRecord(), before);
    EXPECT_TRUE(ui_.enabled(Control::Find));
    EXPECT_FALSE(ui_.enabled(Control::Program));
}

// Backup files: what the tool holds against what the server holds decides the upload button.
struct BackupCase {
    const char* name;
    int kind;            // memory kind of the CPAK entry
    int storedFiles;     // files in the tool's directory (kind 2)
    int serverCount;     // files the server holds
    const char* header;  // first header text of the single file (kind 1)
    bool serverHasIt;    // the server knows that file's version
    bool uploadShown;
};

class BackupTest : public WorkflowTest, public ::testing::WithParamInterface<BackupCase> {};

TEST_P(BackupTest, UploadIsOfferedOnlyForFilesTheServerLacks) {
    const BackupCase& c = GetParam();
    ToolState state = ToolState_default();
    if (c.kind == 2) {
        state.storedFileLayout = StoredFileLayout::Directory;
        for (int i = 0; i < c.storedFiles; ++i) {
            state.storedFiles.push_back({"SA-FILE", "Backup", static_cast<uint16_t>(i), {1, 2}});
        }
    } else {
        state.storedFileLayout = StoredFileLayout::Single;
        state.storedFiles.push_back({c.header, "Golf 1.4", 3, {1, 2, 3}});
    }
    auto tool = benchToolRecord();
    tool["userFileCount"] = c.serverCount;
    auto known = records(tool);
    if (c.serverHasIt) {
        known["userFileVersions"] = {
            {{"header1", c.header}, {"header2", "Golf 1.4"}, {"number", 3}}};
    }
    packwriter::Info info = installedInfo();
    // The entry carries spaces around its name; the name list holds the plain name.
    info.fileLines.push_back({c.kind, 96, 4, {{"  CPAK ", "", 1, 0}}});
    info.extraNames.push_back("CPAK");
    rig_.addFile("ktxFirmwares/700.gfi", packwriter::writeInfo(info));
    std::string error;
    ASSERT_TRUE(rig_.start(state, known, &error)) << error;
    makeDelegate();
    identify();
    EXPECT_TRUE(ui_.shown(Control::ProgramMemories)) << c.name;
    EXPECT_EQ(ui_.shown(Control::UploadReadFiles), c.uploadShown) << c.name;
    if (c.kind == 2 && c.uploadShown) {
        EXPECT_EQ(delegate_->gnGlobalFileCount(), c.serverCount);
    }
    // The query script is only borrowed.
    EXPECT_EQ(ByteString_str(rig_.session->requestPath), "ktx/updaterComm.php");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BackupTest,
    ::testing::Values(BackupCase{"kind 2, server behind", 2, 3, 1, "", false, true},
                      BackupCase{"kind 2, counts equal", 2, 3, 3, "", false, false},
                      BackupCase{"kind 2, no files", 2, 0, 1, "", false, false},
                      BackupCase{"kind 1, new file", 1, 0, 0, "SA-BACKUP-0000001", false, true},
                      BackupCase{"kind 1, known file", 1, 0, 0, "SA-BACKUP-0000001", true, false},
                      BackupCase{"kind 1, not SA", 1, 0, 0, "XX-BACKUP-0000001", false, false}));

TEST_F(FindDeviceTest, TheVersionCheckOffersTheDownloadWhenOutdated) {
    startBench();
    EXPECT_TRUE(delegate_->applicationDidFinishLaunching());
    EXPECT_FALSE(ui_.shown(Control::ProgramMemories));
    EXPECT_FALSE(ui_.enabled(Control::Program));
    auto before = ui_.calls();
    EXPECT_EQ(std::count(before.begin(), before.end(), "sheet"), 0);

    Misbehaviour outdated;
    outdated.outdatedUpdater = true;
    rig_.server.setMisbehaviour(outdated);
    EXPECT_FALSE(delegate_->applicationDidFinishLaunching());
    delegate_->downloadBoxResult(kFirstButton);
    auto calls = ui_.calls();
    EXPECT_EQ(calls.back(),
              "open http://" + ByteString_str(rig_.session->host) + "docs/Zarvik_Updater_Mac.zip");
}

}  // namespace
