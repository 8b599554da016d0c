// Each step of the update that can fail, failed by the virtual tool or the bench server:
// the text shown, the tags reported, the buttons and the record left behind.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "support/update_bench.h"

namespace {

// How far the run got: nothing touched, buttons taken but the record kept, or the failure
// reported with the firmware that was being given.
enum class Reached { nothing, download, failureReport };

// Write frames of the failure release, in order: firmware 0-1, MEM 2-3, EXT 4, extra files
// 5 and 6, directory 7, Bluetooth records from 8.
struct FailureCase {
    const char* name;
    std::function<void(BenchRig&)> fault;
    const char* text;  // the message line, or the title of the last box
    std::vector<std::string> tags;
    Reached reached = Reached::failureReport;
    const char* before = nullptr;  // the message just before the last one
};

class UpdateFailure : public UpdateBench, public ::testing::WithParamInterface<FailureCase> {
  protected:
    void TestBody() override {}
};

TEST_P(UpdateFailure, ShowsReportsAndStops) {
    const FailureCase& c = GetParam();
    state.optionCode = 1;
    state.bluetoothVersion = 3;
    addRelease(kReleaseId,
               makeRelease("1.23", "1.23", &releaseIdentity,
                           {catalogue::memoryFile("MEM", 1, 16, 1,
                                                  checksummedBlocks(patternBytes(3000, 1)), true),
                            catalogue::memoryFile("EXT", 2, 9000, 0, patternBytes(1000, 2), false,
                                                  true, "ktxFirmwares/ext.bin"),
                            catalogue::cpakArea(2, 12000, 0)}));
    addUserFile("a.bin", checksummedBlocks(patternBytes(100, 3)));
    addUserFile("b.bin", checksummedBlocks(patternBytes(100, 4)));
    setBluetoothFiles("7", 7);
    ASSERT_TRUE(startBench());
    ASSERT_TRUE(identify());
    c.fault(rig_);
    programRelease();

    std::vector<std::string> texts;
    for (const auto& call : ui_.calls()) {
        if (call.starts_with("txtMsg=")) texts.push_back(call.substr(7));
    }
    EXPECT_EQ(c.reached == Reached::download ? ui_.boxes().back().title : texts.back(), c.text);
    if (c.before != nullptr) {
        EXPECT_EQ(texts[texts.size() - 2], c.before);
    }
    EXPECT_EQ(rig_.reportTags(), c.tags);
    for (Control button : {Control::Find, Control::Program, Control::ProgramMemories}) {
        EXPECT_EQ(ui_.enabled(button), c.reached == Reached::nothing) << controlName(button);
    }
    // The failure-report update: the server hears of the firmware being given.
    EXPECT_EQ(delegate_->toolRecord()->firmwareId,
              static_cast<int32_t>(c.reached == Reached::failureReport ? kReleaseId : kInstalledId));
    if (c.reached == Reached::failureReport) {
        EXPECT_EQ(ui_.progress().back(), 0);
    } else {
        EXPECT_TRUE(rig_.tool.records().empty());
    }
}

void remove(BenchRig& rig, const char* path) {
    std::filesystem::remove(rig.catalogue / path);
}

void block(BenchRig& rig, int index) {
    rig.tool.refuseBlock(index);
}

void switchTool(BenchRig& rig, bool other) {
    rig.tool.stop();
    if (!other) return;
    ToolState another = ToolState_default();
    another.configuration = ConfigurationBlock_build(0x4321, 100001);
    std::string error;
    ASSERT_TRUE(rig.tool.start(another, rig.link.port, {}, &error)) << error;
}

const IdentityValues kRelease = catalogue::identityOf(3, 1, 2, 40);
const char* const kExtraFile2 = "Extra File 2 Not Programmed Correctly";
const char* const kModule = "Bluetooth Smart Module Update Failed";
using enum Reached;

INSTANTIATE_TEST_SUITE_P(
    Steps, UpdateFailure,
    ::testing::Values(
        FailureCase{"ToolGone", [](BenchRig& r) { switchTool(r, false); },
                    "Tool Disconnected, Program Aborted", {}, nothing},
        FailureCase{"ToolSwitched", [](BenchRig& r) { switchTool(r, true); },
                    "Tool Disconnected, Program Aborted", {"_Switch_From", "_Switch_To"}, nothing},
        FailureCase{"NoPackage", [](BenchRig& r) { remove(r, "ktxFirmwares/900.gfr"); },
                    "Download Failed", {}, download},
        FailureCase{"BadPackage",
                    [](BenchRig& r) { r.addFile("ktxFirmwares/900.gfr", std::string("junk")); },
                    "Error", {}, download},
        FailureCase{"Firmware", [](BenchRig& r) { block(r, 1); },
                    "Writing Firmware V3.01.02 Failed", {"_Failed_FIRM"}},
        FailureCase{"Erase", [](BenchRig& r) { r.tool.silenceCommand(5); }, "Erase 1 Failed",
                    {"_Failed_MemErase_Block_16"}},
        FailureCase{"MemoryWrite", [](BenchRig& r) { block(r, 3); },
                    "Memory 1 Not Programmed Correctly", {"_Failed_Mem_Block_16"}},
        FailureCase{"ExternalDownload", [](BenchRig& r) { remove(r, "ktxFirmwares/ext.bin"); },
                    "Memory 2 Not Programmed Correctly", {"_Failed_Mem_Block_9000"}, failureReport,
                    "Downloading required file..."},
        // 2^24 blocks: the area's first sector would overflow, and lies past any address.
        FailureCase{"AreaBeyondTheTool",
                    [](BenchRig& r) {
                        catalogue::writeRelease(
                            r.catalogue, kReleaseId,
                            makeRelease("1.23", "1.23", &kRelease,
                                        {catalogue::cpakArea(1, 1u << 24, 2)}));
                    },
                    "Memory 1 Not Programmed Correctly", {"_Failed_Mem_Block_16777216"}},
        FailureCase{"ExtraFileDownload", [](BenchRig& r) { remove(r, "ktxUserFiles/b.bin"); },
                    kExtraFile2, {"_Failed_Custom_Mem_2"}},
        FailureCase{"ExtraFileWrite", [](BenchRig& r) { block(r, 5); },
                    "Extra File 1 Not Programmed Correctly", {"_Failed_Custom_Mem_1"}},
        FailureCase{"Directory", [](BenchRig& r) { block(r, 7); },
                    "Extra File 0 Not Programmed Correctly", {"_Failed_Custom_Mem_0"}},
        FailureCase{"ModulePrepare", [](BenchRig& r) { r.tool.silenceCommand(21); }, kModule,
                    {"_Failed_BLE_Update_0"}},
        FailureCase{"ModuleVersionFile", [](BenchRig& r) { remove(r, "KTX2_BLEVersion.txt"); },
                    kModule, {"_Failed_BLE_Update_1"}},
        FailureCase{"ModuleImageFile", [](BenchRig& r) { remove(r, "Enc_KTX2_BLE_CODE.BIN"); },
                    kModule, {"_Failed_BLE_Update_2"}},
        FailureCase{"ModuleStart", [](BenchRig& r) { r.tool.silenceCommand(20); }, kModule,
                    {"_Failed_BLE_Update_2"}},
        FailureCase{"ModuleImageWrite", [](BenchRig& r) { block(r, 9); }, kModule,
                    {"_Failed_BLE_Update_2"}}),
    [](const auto& test) { return std::string(test.param.name); });

}  // namespace
