// Each step of the update that can fail, failed by the virtual tool or the bench server:
// the text shown, the tag reported, the buttons and the record left behind.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "support/update_bench.h"

namespace {

// Write frames of the failure release, in order: firmware 0-1, MEM 2-3, EXT 4, extra files
// 5 and 6, directory 7, Bluetooth records from 8.
struct FailureCase {
    const char* name;
    std::function<void(BenchRig&)> fault;
    const char* text;
    const char* tag;
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
    c.fault(rig);
    programRelease();

    EXPECT_EQ(ui.text(Line::Msg), c.text);
    EXPECT_EQ(rig.reportTags(), std::vector<std::string>{c.tag});
    EXPECT_EQ(ui.progress().back(), 0);
    EXPECT_FALSE(ui.enabled(Control::Find));
    EXPECT_FALSE(ui.enabled(Control::Program));
    EXPECT_FALSE(ui.enabled(Control::ProgramMemories));
    // The failure-report update: the server hears of the firmware being given.
    EXPECT_EQ(delegate->toolRecord()->firmwareId, static_cast<int32_t>(kReleaseId));
}

void remove(BenchRig& rig, const char* path) {
    std::filesystem::remove(rig.catalogue / path);
}

INSTANTIATE_TEST_SUITE_P(
    Steps, UpdateFailure,
    ::testing::Values(
        FailureCase{"Firmware", [](BenchRig& r) { r.tool.refuseBlock(1); },
                    "Writing Firmware V3.01.02 Failed", "_Failed_FIRM"},
        FailureCase{"Erase", [](BenchRig& r) { r.tool.silenceCommand(5); }, "Erase 1 Failed",
                    "_Failed_MemErase_Block_16"},
        FailureCase{"MemoryWrite", [](BenchRig& r) { r.tool.refuseBlock(3); },
                    "Memory 1 Not Programmed Correctly", "_Failed_Mem_Block_16"},
        FailureCase{"ExternalDownload", [](BenchRig& r) { remove(r, "ktxFirmwares/ext.bin"); },
                    "Memory 2 Not Programmed Correctly", "_Failed_Mem_Block_9000"},
        FailureCase{"ExtraFileDownload", [](BenchRig& r) { remove(r, "ktxUserFiles/b.bin"); },
                    "Extra File 2 Not Programmed Correctly", "_Failed_Custom_Mem_2"},
        FailureCase{"ExtraFileWrite", [](BenchRig& r) { r.tool.refuseBlock(5); },
                    "Extra File 1 Not Programmed Correctly", "_Failed_Custom_Mem_1"},
        FailureCase{"Directory", [](BenchRig& r) { r.tool.refuseBlock(7); },
                    "Extra File 0 Not Programmed Correctly", "_Failed_Custom_Mem_0"},
        FailureCase{"ModulePrepare", [](BenchRig& r) { r.tool.silenceCommand(21); },
                    "Bluetooth Smart Module Update Failed", "_Failed_BLE_Update_0"},
        FailureCase{"ModuleVersionFile", [](BenchRig& r) { remove(r, "KTX2_BLEVersion.txt"); },
                    "Bluetooth Smart Module Update Failed", "_Failed_BLE_Update_1"},
        FailureCase{"ModuleImageFile", [](BenchRig& r) { remove(r, "Enc_KTX2_BLE_CODE.BIN"); },
                    "Bluetooth Smart Module Update Failed", "_Failed_BLE_Update_2"},
        FailureCase{"ModuleStart", [](BenchRig& r) { r.tool.silenceCommand(20); },
                    "Bluetooth Smart Module Update Failed", "_Failed_BLE_Update_2"},
        FailureCase{"ModuleImageWrite", [](BenchRig& r) { r.tool.refuseBlock(9); },
                    "Bluetooth Smart Module Update Failed", "_Failed_BLE_Update_2"}),
    [](const auto& test) { return std::string(test.param.name); });

// Before anything is written: the same tool gone, or another tool in its place.
TEST_F(UpdateBench, ToolGoneOrSwitchedBeforeTheRunTouchesNothing) {
    for (bool other : {false, true}) {
        addRelease(kReleaseId, makeRelease("1.23", "1.23", &releaseIdentity));
        ASSERT_TRUE(startBench());
        ASSERT_TRUE(identify());
        rig.tool.stop();
        if (other) {
            ToolState another = state;
            another.configuration = ConfigurationBlock_build(0x4321, 100001);
            std::string error;
            ASSERT_TRUE(rig.tool.start(another, rig.link.port, {}, &error)) << error;
        }
        programRelease();
        EXPECT_EQ(ui.text(Line::Msg), "Tool Disconnected, Program Aborted");
        const std::vector<std::string> switched{"_Switch_From", "_Switch_To"};
        EXPECT_EQ(rig.reportTags(), other ? switched : std::vector<std::string>{});
        EXPECT_TRUE(rig.tool.records().empty());
        EXPECT_TRUE(ui.enabled(Control::Program));
        delegate.reset();
        rig.stop();
    }
}

TEST_F(UpdateBench, PackageProblemsAreTold) {
    ASSERT_TRUE(startBench());
    ASSERT_TRUE(identify());
    programRelease();  // no package on the server
    EXPECT_EQ(ui.boxes().back().title, "Download Failed");
    addRelease(kReleaseId, makeRelease("1.23", "1.23", &releaseIdentity));
    rig.addFile("ktxFirmwares/900.gfr", std::string("not a package"));
    programRelease();
    EXPECT_EQ(ui.boxes().back().title, "Error");
    EXPECT_EQ(ui.boxes().back().message, "Your updater is out of date");
    packwriter::Image large = makeRelease("1.23", "1.23", &releaseIdentity);
    std::get<packwriter::Firmware>(large.records[2]).section.stored =
        packwriter::bytesOf("000000040000000");  // 40 MB once inflated
    std::get<packwriter::Firmware>(large.records[2]).section.compressed = true;
    rig.addFile("ktxFirmwares/900.gfr", packwriter::writeImage(large));
    programRelease();
    EXPECT_EQ(ui.boxes().back().message,
              "The firmware package is too large (over 32 MiB of data)\nPlease contact us");
    EXPECT_TRUE(rig.reportTags().empty());
    EXPECT_TRUE(rig.tool.records().empty());
}

}  // namespace
