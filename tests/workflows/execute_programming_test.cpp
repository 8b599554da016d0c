// The full update against the virtual tool and the bench server.
#include <gtest/gtest.h>

#include "core/byte_string.h"
#include "support/update_bench.h"
#include "workflows/bootloader_resources.h"
#include "workflows/programming_run.h"

namespace {

Bytes resourceProgram(int slot) {
    ByteStringPtr image(
        BootloaderResource_load(slot == 0 ? "Enc_QNv3HIDBootloader_0" : "Enc_QNv3HIDBootloader_1"));
    return rawProgram(Bytes(image->data, image->data + image->length));
}

}  // namespace

// Every part of a release lands where it belongs, byte for byte.
TEST_F(UpdateBench, WholeReleaseLandsInTheTool) {
    state.bootSlotVersions = {"1.20", "1.20"};
    state.optionCode = 1;
    state.bluetoothVersion = 3;
    const Bytes calib = patternBytes(5000, 1), vehicles = patternBytes(3000, 2);
    const Bytes logo = patternBytes(1500, 3);
    addRelease(
        kReleaseId,
        makeRelease("1.24", "1.24", &releaseIdentity,
                    {catalogue::memoryFile("CALIB.BIN", 1, 16, 2, checksummedBlocks(calib), true),
                     catalogue::memoryFile("VEHICLES.DAT", 2, 9000, 0, vehicles, false, true,
                                           "ktxFirmwares/ext_vehicles.bin"),
                     catalogue::memoryFile("LOGO.BMP", 2, 9100, 0, logo, false, false),
                     catalogue::cpakArea(1, 40, 4)}));
    const std::vector<Bytes> extras = {patternBytes(5000, 4), patternBytes(100, 5),
                                       patternBytes(2048, 6)};
    for (size_t i = 0; i < extras.size(); ++i) {
        addUserFile("f" + std::to_string(i) + ".bin", checksummedBlocks(extras[i]));
    }
    setBluetoothFiles("7", 7);
    ASSERT_TRUE(startBench());
    ASSERT_TRUE(identify());
    programRelease();

    ASSERT_TRUE(succeeded()) << ui.text(Line::Msg);
    VirtualTool& tool = rig.tool;
    EXPECT_EQ(tool.program(RawTarget::BootSlot0), rawProgram(catalogue::bootImage(0, "1.24")));
    EXPECT_EQ(tool.program(RawTarget::BootSlot1), rawProgram(catalogue::bootImage(1, "1.24")));
    EXPECT_EQ(tool.program(RawTarget::Firmware),
              rawProgram(catalogue::firmwareProgram(releaseIdentity, 700)));
    EXPECT_EQ(tool.dataMemory(16 * 65536, 6144), writtenBlocks(calib, 2048));
    EXPECT_EQ(tool.dataMemory(9000 * 512, 4096), writtenBlocks(vehicles, 2048));
    EXPECT_EQ(tool.dataMemory(9100 * 512, 2048), writtenBlocks(logo, 2048));
    // Directory at block 40 (sector 5120), then the files from sector 5124.
    const Bytes directory = tool.dataMemory(40 * 65536, 16);
    EXPECT_EQ(little32(directory, 0), 3u);
    const uint32_t starts[] = {5124, 5136, 5140};
    for (size_t i = 0; i < extras.size(); ++i) {
        EXPECT_EQ(little32(directory, 4 + 4 * i), starts[i]);
        const Bytes expected = writtenBlocks(extras[i], 2048);
        EXPECT_EQ(tool.dataMemory(uint64_t{starts[i]} * 512, expected.size()), expected) << i;
    }
    EXPECT_EQ(tool.program(RawTarget::BluetoothModule), rawProgram(catalogue::bluetoothImage(7)));
    EXPECT_EQ(tool.bluetoothVersion(), 7);

    EXPECT_EQ(rig.reportTags(), std::vector<std::string>{""});
    EXPECT_TRUE(ui.enabled(Control::Find));
    EXPECT_TRUE(ui.enabled(Control::Program));
    EXPECT_TRUE(ui.enabled(Control::ProgramMemories));
    EXPECT_EQ(ui.text(Line::Firm), "Firmware : V3.01.02 (Release)");
    EXPECT_EQ(delegate->toolRecord()->bootVersionNumber, 124);
    EXPECT_EQ(ui.boxes().back().title, "Operation Completed");
    EXPECT_EQ(ui.progress().back(), 100);
}

// The bootloader phase by tool and package versions: which image each slot receives
// ('-' nothing, 'P' the package's, 'R' the resource image) and which slots are written.
struct BootCase {
    const char* name;
    const char* tool;     // both slots
    const char* package;  // both slots; "" for none
    const char* sources;
    const char* writing;  // slot digits of the "Writing Bootloader %d" texts in order
    const char* failure;  // report tag, or null for success
    bool away = false;    // the tool never comes back from its reboot
};

class BootPhase : public UpdateBench, public ::testing::WithParamInterface<BootCase> {
  protected:
    void TestBody() override {}
};

TEST_P(BootPhase, WritesWhatTheVersionsAsk) {
    const BootCase& c = GetParam();
    state.bootSlotVersions = {c.tool, c.tool};
    addRelease(kReleaseId, makeRelease(c.package, c.package, &releaseIdentity));
    ASSERT_TRUE(startBench());
    ASSERT_TRUE(identify());
    rig.tool.stayAwayAfterReboot(c.away);
    programRelease();

    std::vector<std::string> writing, expectedWriting;
    for (const auto& call : ui.calls()) {
        if (call.rfind("txtMsg=Writing Bootloader", 0) == 0 && !call.ends_with("Failed")) {
            writing.push_back(call.substr(7));
        }
    }
    for (const char* d = c.writing; *d != '\0'; ++d) {
        expectedWriting.push_back(std::string("Writing Bootloader ") + *d);
    }
    EXPECT_EQ(writing, expectedWriting);
    for (int slot : {0, 1}) {
        Bytes expected;
        if (c.sources[slot] == 'R') expected = resourceProgram(slot);
        if (c.sources[slot] == 'P') expected = rawProgram(catalogue::bootImage(slot, c.package));
        EXPECT_EQ(rig.tool.program(slot == 0 ? RawTarget::BootSlot0 : RawTarget::BootSlot1),
                  expected)
            << slot;
    }
    if (c.failure == nullptr) {
        EXPECT_TRUE(succeeded()) << ui.text(Line::Msg);
        EXPECT_EQ(rig.reportTags(), std::vector<std::string>{""});
    } else {
        const std::string tag = c.failure;
        EXPECT_EQ(rig.reportTags(), std::vector<std::string>{tag});
        EXPECT_EQ(ui.text(Line::Msg),
                  "Writing Bootloader " + tag.substr(tag.size() - 1) + " Failed");
        EXPECT_EQ(ui.progress().back(), 0);
        EXPECT_FALSE(ui.enabled(Control::Find));
        EXPECT_FALSE(ui.enabled(Control::Program));
        // A bootloader failure leaves the record's firmware as it was.
        EXPECT_EQ(delegate->toolRecord()->firmwareId, static_cast<int32_t>(kInstalledId));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Versions, BootPhase,
    ::testing::Values(BootCase{"AlreadyThere", "1.23", "1.23", "--", "", nullptr},
                      BootCase{"BothSlotsNewer", "1.20", "1.24", "PP", "01", nullptr},
                      BootCase{"OlderPackageGetsResourceOne", "1.23", "1.16", "-R", "1", nullptr},
                      BootCase{"NewerPackageGetsResourceZeroThenSlotOne", "1.16", "1.24", "RP",
                               "01", nullptr},
                      BootCase{"NoBootSlots", "1.23", "", "--", "", "_Failed_BL1"},
                      BootCase{"ToolNeverBack", "1.20", "1.24", "P-", "0", "_Failed_BL0", true}),
    [](const auto& test) { return std::string(test.param.name); });

// A write that keeps failing is tried four times; after the first reboot the record holds
// the package's 1.24, so no further reboot command is sent.
TEST_F(UpdateBench, FailingSlotIsTriedExactlyFourTimes) {
    state.bootSlotVersions = {"1.20", "1.20"};
    addRelease(kReleaseId, makeRelease("1.24", "", &releaseIdentity));
    ASSERT_TRUE(startBench());
    ASSERT_TRUE(identify());
    rig.tool.silenceCommand(23, 4);  // the raw transfer never opens for the bootloader
    programRelease();
    EXPECT_EQ(countMessage("Writing Bootloader 0"), 4);
    EXPECT_EQ(countMessage("Rebooting Device"), 4);
    EXPECT_EQ(rig.tool.rebootCount(), 1);
    EXPECT_TRUE(rig.tool.program(RawTarget::BootSlot0).empty());
}

TEST(ExtraAreaLayout, DirectoryAndFileSectors) {
    EXPECT_EQ(extraDirectorySectors(0), 4);
    EXPECT_EQ(extraDirectorySectors(511), 4);
    EXPECT_EQ(extraDirectorySectors(512), 8);
    EXPECT_EQ(extraFileSectors(2048), 4);
    EXPECT_EQ(extraFileSectors(2049), 8);
    EXPECT_EQ(eraseUnitFor(115, 1), 2048);
    EXPECT_EQ(eraseUnitFor(114, 1), 256);
    EXPECT_EQ(eraseUnitFor(123, 2), 256);
}
