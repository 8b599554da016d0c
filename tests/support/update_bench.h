// A bench for the update workflows: the virtual tool and the bench server with a release
// catalogue, a recording UI and a controller on them, and the checks that compare the
// tool's memory with what was sent.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "catalogue/catalogue_builder.h"
#include "support/workflow_fixture.h"

using catalogue::Bytes;
using catalogue::checksummedBlocks;
using catalogue::patternBytes;
using catalogue::writtenBlocks;

inline constexpr uint32_t kInstalledId = 812;
inline constexpr uint32_t kReleaseId = 900;

using catalogue::identityOf;
// The program that a raw image carries, as the virtual tool stores it.
Bytes rawProgram(const Bytes& image);

class UpdateBench : public WorkflowTest {
  protected:
    void SetUp() override;

    // The tool, the release it runs now (its description) and the tool record the server
    // keeps; tests change them before startBench.
    ToolState state = ToolState_default();
    packwriter::Image installed;
    IdentityValues releaseIdentity = identityOf(3, 1, 2, 40);
    nlohmann::json toolRecord;
    nlohmann::json userFiles = nlohmann::json::array();

    void addRelease(uint32_t id, const packwriter::Image& image);
    void addUserFile(const std::string& name, const Bytes& content);
    void setBluetoothFiles(const std::string& version, int imageVersion);
    bool startBench();
    // Clicks a button whose question is answered Yes; waits for the run's end.
    void answerYes(void (AppDelegate::*click)());
    void programRelease() { answerYes(&AppDelegate::programClicked); }
    bool succeeded();
    int countMessage(const std::string& text);
    // Frames of `command` that reached the tool.
    int framesOf(uint8_t command);
    // The tags of the reports the server received, joined by spaces; "(no tag)" for none.
    std::string tags();
    // The run history the controller writes, and its lines as JSON.
    std::filesystem::path historyFile() { return rig_.dir / "state" / "history.jsonl"; }
    std::vector<nlohmann::json> history();
    std::vector<std::string> historyFailures;

    // The fixture's bench under the names the update tests use.
    BenchRig& rig = rig_;
    RecordingUi& ui = ui_;
    std::unique_ptr<AppDelegate>& delegate = delegate_;
};

// The words of a table cell: "2 3" gives {"2", "3"}.
std::vector<std::string> words(const std::string& text);

// A release: bootloaders of the given versions ("" for none), a small firmware of
// `identity`, and the given file groups.
packwriter::Image makeRelease(const std::string& boot0, const std::string& boot1,
                              const IdentityValues* identity,
                              std::vector<packwriter::FileGroup> groups = {});
