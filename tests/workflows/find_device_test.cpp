#include <filesystem>

#include "link/tool_link.h"
#include "serversim/misbehaviour.h"
#include "support/workflow_fixture.h"

namespace {

using FindDeviceTest = WorkflowTest;

// Notes the tool record held when each button becomes clickable.
class RecordAtEnable : public RecordingUi {
  public:
    AppDelegate* delegate = nullptr;
    std::vector<std::string> seen;
    void enableButton(Control c) override {
        RecordingUi::enableButton(c);
        const FirmwarePackage* record = delegate->toolRecord();
        seen.push_back(std::string(controlName(c)) + " " +
                       (record ? std::to_string(record->serialNumber) : "none"));
    }
};

TEST_F(FindDeviceTest, ACompleteIdentificationFillsEveryLineThenOffersProgram) {
    startBench();
    RecordAtEnable ui;
    delegate_ = std::make_unique<AppDelegate>(ui, *rig_.session, rig_.link);
    ui.delegate = delegate_.get();
    delegate_->portClicked();
    delegate_->waitIdle();
    EXPECT_EQ(ui.text(Line::Name), "Name : KTX2 Bench");
    EXPECT_EQ(ui.text(Line::Car), "Vehicle : Ford Focus");
    EXPECT_EQ(ui.text(Line::Firm), "Current Firmware : V2.18.04 Build 1");
    // The one firmware offered is described in the message line.
    EXPECT_EQ(ui.text(Line::Msg), "Latest release");
    EXPECT_FALSE(ui.shown(Control::ProgramMemories));
    EXPECT_FALSE(ui.shown(Control::UploadReadFiles));
    EXPECT_TRUE(ui.shown(Control::FirmLabel));
    EXPECT_TRUE(ui.boxes().empty());
    EXPECT_EQ(delegate_->getFirmwareId(), 900);
    EXPECT_EQ(ByteString_str(delegate_->toolRecord()->fsn), "FD");
    // No button is clickable before this tool's record is in place.
    EXPECT_EQ(ui.seen, (std::vector<std::string>{"btnFind 100001", "btnManual 100001",
                                                 "btnProgram 100001", "firmwareChoice 100001"}));
    EXPECT_EQ(delegate_->manualAddress(),
              "http://" + ByteString_str(rig_.session->host) + "docs/ZarvikV2.20.01-ENF.pdf");
    delegate_.reset();
}

size_t threadsNow() {
    size_t n = 0;
    for ([[maybe_unused]] const auto& task : std::filesystem::directory_iterator("/proc/self/task"))
        ++n;
    return n;
}

// An idle delegate has no thread of its own left: one still ending as the command line exits
// leaks the per-thread state its libraries hold.
TEST_F(FindDeviceTest, IdleMeansEveryRunsThreadHasEnded) {
    startBench();
    RecordingUi ui;
    delegate_ = std::make_unique<AppDelegate>(ui, *rig_.session, rig_.link);
    const size_t before = threadsNow();
    for (int run = 0; run < 5; ++run) {
        delegate_->portClicked();
        delegate_->waitIdle();
        EXPECT_EQ(threadsNow(), before) << "after run " << run;
    }
    delegate_.reset();
}

// The port cannot be found, opened or answered: only Find stays available.
struct OpenFailure {
    const char* name;
    const char* path;  // null: the bench's port; "": none and no devices either
    const char* message;
    const char* box;  // null: none
};

class OpenFailureTest : public WorkflowTest, public ::testing::WithParamInterface<OpenFailure> {};

TEST_P(OpenFailureTest, TellsWhyThePortDidNotOpen) {
    const OpenFailure& c = GetParam();
    startBench();
    LinkSettings settings = rig_.link;
    if (c.path != nullptr) settings.port = c.path;
    settings.sysfsRoot = (rig_.dir / "no-sysfs").string();
    if (c.path == nullptr) rig_.tool.silenceCommand(2);
    delegate_ = std::make_unique<AppDelegate>(ui_, *rig_.session, settings);
    identify();
    EXPECT_EQ(ui_.text(Line::Msg), c.message);
    ASSERT_EQ(ui_.boxes().size(), c.box != nullptr ? 1u : 0u);
    if (c.box != nullptr) {
        EXPECT_EQ(ui_.boxes()[0].title, c.box);
    }
    if (c.path != nullptr && *c.path == '\0') {
        EXPECT_EQ(ui_.boxes()[0].message, "Please ensure that the device is connected");
        EXPECT_NE(ui_.text(Line::Status).find("the tool is powered"), std::string::npos);
    }
    if (c.path != nullptr && std::string(c.path) == "/dev/null") {
        // The steps that apply on Linux: no driver to install, the device and the access.
        for (const char* step :
             {"zarvik-cli ports", "cdc_acm", "70-zarvik-ktx2.rules", "dialout"}) {
            EXPECT_NE(ui_.boxes()[0].message.find(step), std::string::npos) << step;
        }
    }
    EXPECT_EQ(delegate_->toolRecord(), nullptr);
    EXPECT_TRUE(ui_.enabled(Control::Find));
    EXPECT_FALSE(ui_.enabled(Control::Program));
    if (c.path != nullptr) {
        EXPECT_EQ(requestCount(), 0u);
        // The tool is there again: the open succeeds and the failure's hint goes.
        makeDelegate();
        identify();
        EXPECT_EQ(ui_.text(Line::Status), "");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, OpenFailureTest,
    ::testing::Values(
        OpenFailure{"NoDevice", "", "Device not found", "KTX2 not Found"},
        OpenFailure{"MissingDriver", "/dev/null", "Unable to communicate. Missing Driver.",
                    "How to install the missing driver"},
        OpenFailure{"NoSuchPort", "/nonexistent/ktx2",
                    "Failed to open the port. conn_type=0 lastError=-3", nullptr},
        OpenFailure{"NoAnswer", nullptr, "Failed to communicate with the device.", nullptr}),
    [](const auto& test) { return std::string(test.param.name); });

TEST_F(FindDeviceTest, FirmwareKnownOnlyByTheEmergencyQueryIsUnknownUntilNamedAgain) {
    auto tool = benchToolRecord();
    tool["installedFirmwareId"] = 700;
    startBench(ToolState_default(), records(tool));
    Misbehaviour unnamed;
    unnamed.refusedWords = {"firmware|"};
    rig_.server.setMisbehaviour(unnamed);
    identify();
    EXPECT_EQ(ui_.text(Line::Firm), "Current Firmware: Unknown");
    EXPECT_TRUE(delegate_->firmwareUnknown());
    EXPECT_EQ(delegate_->toolRecord()->firmwareId, 700);
    EXPECT_TRUE(ui_.enabled(Control::Program));

    rig_.server.setMisbehaviour(Misbehaviour{});
    identify();
    EXPECT_EQ(ui_.text(Line::Firm), "Current Firmware : V2.18.04 Build 1");
    EXPECT_FALSE(delegate_->firmwareUnknown());
}

// A second identification the server refuses: red text, no Program; an unknown tool keeps
// the record of the first identification.
struct Refusal {
    const char* name;
    std::set<std::string> words;
    const char* message;
};

class RefusalTest : public WorkflowTest, public ::testing::WithParamInterface<Refusal> {};

TEST_P(RefusalTest, IsRedAndOffersNoProgram) {
    startBench();
    identify();
    const FirmwarePackage* before = delegate_->toolRecord();
    ASSERT_NE(before, nullptr);
    Misbehaviour refuse;
    refuse.refusedWords = GetParam().words;
    rig_.server.setMisbehaviour(refuse);
    identify();
    EXPECT_EQ(ui_.text(Line::Msg), GetParam().message);
    EXPECT_EQ(ui_.colour(Line::Msg), Colour::Red);
    ASSERT_NE(delegate_->toolRecord(), nullptr);
    EXPECT_EQ(delegate_->toolRecord()->serialNumber, 100001u);
    if (GetParam().words.contains("valid|")) {
        EXPECT_EQ(delegate_->toolRecord(), before);
    }
    EXPECT_TRUE(ui_.enabled(Control::Find));
    EXPECT_FALSE(ui_.enabled(Control::Program));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RefusalTest,
    ::testing::Values(Refusal{"FirmwareUnnamed",
                              {"firmware|", "firmEmergency|"},
                              "KTX2 firmware can't be identified"},
                      Refusal{"ToolUnknown", {"valid|"}, "Tool not recognised by the server"}),
    [](const auto& test) { return std::string(test.param.name); });

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

}  // namespace
