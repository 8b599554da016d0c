// Each step of the update that can fail, failed by the virtual tool or the bench server:
// the text shown, the tags reported, the buttons and the record left behind.
#include <gtest/gtest.h>

#include <filesystem>

#include "support/update_bench.h"

namespace {

// How far the run got: nothing touched, buttons taken but the record kept, or the failure
// reported with the firmware that was being given.
enum class Reached { nothing, download, failureReport };

struct FailureCase {
    const char* name;
    // "gone", "switched", "twin", "block N" (N-th write frame from the firmware's first), "silence
    // COMMAND", "remove PATH", "junk PATH", "large" (a package past the data limit), "area
    // START" (the extra area of kind 1 at START)
    const char* fault;
    const char* text;  // the message line, or the message of the last box
    const char* tags;
    Reached reached = Reached::failureReport;
    const char* before = nullptr;  // the message just before the last one
};

class UpdateFailure : public UpdateBench, public ::testing::WithParamInterface<FailureCase> {
  protected:
    void TestBody() override {}
    void apply(const std::vector<std::string>& fault) {
        const std::string& what = fault[0];
        const std::string argument = fault.size() > 1 ? fault[1] : "";
        if (what == "block") rig.tool.refuseBlock(std::stoi(argument));
        if (what == "silence") rig.tool.silenceCommand(std::stoi(argument));
        if (what == "remove") std::filesystem::remove(rig.catalogue / argument);
        if (what == "junk") rig.addFile(argument, std::string("junk"));
        if (what == "area") {
            const auto area =
                catalogue::cpakArea(1, static_cast<uint32_t>(std::stoul(argument)), 2);
            addRelease(kReleaseId, makeRelease("1.23", "1.23", &releaseIdentity, {area}));
        }
        if (what == "large") {
            packwriter::Image large = makeRelease("1.23", "1.23", &releaseIdentity);
            packwriter::Section& data = std::get<packwriter::Firmware>(large.records[2]).section;
            data.stored = packwriter::bytesOf("000000040000000");  // 40 MB once inflated
            data.compressed = true;
            rig.addFile("ktxFirmwares/900.gfr", packwriter::writeImage(large));
        }
        if (what == "gone" || what == "switched" || what == "twin") rig.tool.stop();
        if (what == "switched" || what == "twin") {
            // Another model, or an identical tool that only its serial number tells apart.
            ToolState another = state;
            another.configuration = what == "twin" ? ConfigurationBlock_build(0x1234, 100002)
                                                   : ConfigurationBlock_build(0x4321, 100001);
            std::string error;
            ASSERT_TRUE(rig.tool.start(another, rig.link.port, {}, &error)) << error;
        }
    }
};

// Write frames of the release, in order: firmware 0-1, MEM 2-3, EXT 4, extra files 5 and 6,
// directory 7, Bluetooth records from 8.
TEST_P(UpdateFailure, ShowsReportsAndStops) {
    const FailureCase& c = GetParam();
    state.optionCode = 1;
    state.bluetoothVersion = 3;
    const Bytes memory = checksummedBlocks(patternBytes(3000, 1));
    addRelease(kReleaseId,
               makeRelease("1.23", "1.23", &releaseIdentity,
                           {catalogue::memoryFile("MEM", 1, 16, 1, memory, true),
                            catalogue::memoryFile("EXT", 2, 9000, 0, patternBytes(1000, 2), false,
                                                  true, "ktxFirmwares/ext.bin"),
                            catalogue::cpakArea(2, 12000, 0)}));
    addUserFile("a.bin", checksummedBlocks(patternBytes(100, 3)));
    addUserFile("b.bin", checksummedBlocks(patternBytes(100, 4)));
    setBluetoothFiles("7", 7);
    ASSERT_TRUE(startBench());
    ASSERT_TRUE(identify());
    apply(words(c.fault));
    programRelease();

    std::vector<std::string> texts;
    for (const auto& call : ui.calls()) {
        if (call.starts_with("txtMsg=")) texts.push_back(call.substr(7));
    }
    EXPECT_EQ(c.reached == Reached::download ? ui.boxes().back().message : texts.back(), c.text);
    if (c.before != nullptr) {
        EXPECT_EQ(texts[texts.size() - 2], c.before);
    }
    EXPECT_EQ(tags(), c.tags);
    const auto runs = history();
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_TRUE(runs[0]["outcome"].get<std::string>().ends_with(c.text)) << runs[0];
    EXPECT_EQ(runs[0].value("reportTag", "(none)"), *c.tags ? c.tags : "(none)");
    for (Control button : {Control::Find, Control::Program, Control::ProgramMemories}) {
        EXPECT_EQ(ui.enabled(button), c.reached == Reached::nothing) << controlName(button);
    }
    // The failure-report update: the server hears of the firmware being given.
    const bool updated = c.reached == Reached::failureReport;
    EXPECT_EQ(delegate->toolRecord()->firmwareId,
              static_cast<int32_t>(updated ? kReleaseId : kInstalledId));
    EXPECT_EQ(rig.tool.records().empty(), !updated);
    if (updated) {
        EXPECT_EQ(ui.progress().back(), 0);
    }
}

const char* const kDisconnected = "Tool Disconnected, Program Aborted";
const char* const kModule = "Bluetooth Smart Module Update Failed";
using enum Reached;

INSTANTIATE_TEST_SUITE_P(
    Steps, UpdateFailure,
    ::testing::Values(
        FailureCase{"ToolGone", "gone", kDisconnected, "", nothing},
        FailureCase{"ToolSwitched", "switched", kDisconnected, "_Switch_From _Switch_To", nothing},
        FailureCase{"IdenticalToolSwitched", "twin", kDisconnected, "_Switch_From _Switch_To",
                    nothing},
        FailureCase{"NoPackage", "remove ktxFirmwares/900.gfr",
                    "Please ensure your computer is connected to internet\nTry again or contact us",
                    "", download},
        FailureCase{"BadPackage", "junk ktxFirmwares/900.gfr", "Your updater is out of date", "",
                    download},
        FailureCase{"PackageTooLarge", "large",
                    "The firmware package is too large (over 32 MiB of data)\nPlease contact us",
                    "", download},
        FailureCase{"Firmware", "block 1", "Writing Firmware V3.01.02 Failed", "_Failed_FIRM"},
        FailureCase{"Erase", "silence 5", "Erase 1 Failed", "_Failed_MemErase_Block_16"},
        FailureCase{"MemoryWrite", "block 3", "Memory 1 Not Programmed Correctly",
                    "_Failed_Mem_Block_16"},
        FailureCase{"ExternalDownload", "remove ktxFirmwares/ext.bin",
                    "Memory 2 Not Programmed Correctly", "_Failed_Mem_Block_9000", failureReport,
                    "Downloading required file..."},
        // 2^24 blocks: the area's first sector would overflow, and lies past any address.
        FailureCase{"AreaBeyondTheTool", "area 16777216", "Memory 1 Not Programmed Correctly",
                    "_Failed_Mem_Block_16777216"},
        FailureCase{"ExtraFileDownload", "remove ktxUserFiles/b.bin",
                    "Extra File 2 Not Programmed Correctly", "_Failed_Custom_Mem_2"},
        FailureCase{"ExtraFileWrite", "block 5", "Extra File 1 Not Programmed Correctly",
                    "_Failed_Custom_Mem_1"},
        FailureCase{"Directory", "block 7", "Extra File 0 Not Programmed Correctly",
                    "_Failed_Custom_Mem_0"},
        FailureCase{"ModulePrepare", "silence 21", kModule, "_Failed_BLE_Update_0"},
        FailureCase{"ModuleVersionFile", "remove KTX2_BLEVersion.txt", kModule,
                    "_Failed_BLE_Update_1"},
        FailureCase{"ModuleImageFile", "remove Enc_KTX2_BLE_CODE.BIN", kModule,
                    "_Failed_BLE_Update_2"},
        FailureCase{"ModuleStart", "silence 20", kModule, "_Failed_BLE_Update_2"},
        FailureCase{"ModuleImageWrite", "block 9", kModule, "_Failed_BLE_Update_2"}),
    [](const auto& test) { return std::string(test.param.name); });

}  // namespace
