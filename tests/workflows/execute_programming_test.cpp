// The full update against the virtual tool and the bench server.
#include <gtest/gtest.h>

#include "core/byte_string.h"
#include "workflows/bootloader_resources.h"
#include "workflows/message_text.h"
#include "workflows/programming_run.h"
#include "workflows/update_bench.h"

using catalogue::Bytes;
using catalogue::checksummedBlocks;
using catalogue::patternBytes;
using catalogue::writtenBlocks;

namespace {

Bytes resourceProgram(const char* name) {
    ByteStringPtr image(BootloaderResource_load(name));
    return rawProgram(Bytes(image->data, image->data + image->length));
}

Bytes dataAt(const VirtualTool& tool, uint64_t address, size_t length) {
    return tool.dataMemory(address, length);
}

uint32_t little32(const Bytes& b, size_t at) {
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (static_cast<uint32_t>(b[at + 3]) << 24);
}

}  // namespace

// Every part of a release lands where it belongs, byte for byte.
TEST_F(UpdateBench, WholeReleaseLandsInTheTool) {
    state.bootSlotVersions = {"1.20", "1.20"};
    state.optionCode = 1;
    state.bluetoothVersion = 3;
    const Bytes calib = patternBytes(5000, 1);
    const Bytes vehicles = patternBytes(3000, 2);
    const Bytes logo = patternBytes(1500, 3);
    auto release =
        makeRelease("1.24", "1.24", &releaseIdentity,
                    {catalogue::memoryFile("CALIB.BIN", 1, 16, 2, checksummedBlocks(calib), true),
                     catalogue::memoryFile("VEHICLES.DAT", 2, 9000, 0, vehicles, false, true,
                                           "ktxFirmwares/ext_vehicles.bin"),
                     catalogue::memoryFile("LOGO.BMP", 2, 9100, 0, logo, false, false),
                     catalogue::cpakArea(1, 40, 4)});
    addRelease(kReleaseId, release);
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
    EXPECT_EQ(rig.tool.program(RawTarget::BootSlot0), rawProgram(catalogue::bootImage(0, "1.24")));
    EXPECT_EQ(rig.tool.program(RawTarget::BootSlot1), rawProgram(catalogue::bootImage(1, "1.24")));
    EXPECT_EQ(rig.tool.program(RawTarget::Firmware),
              rawProgram(catalogue::firmwareProgram(releaseIdentity, 700)));
    EXPECT_EQ(dataAt(rig.tool, 16 * 65536, 6144), writtenBlocks(calib, 2048));
    EXPECT_EQ(dataAt(rig.tool, 9000 * 512, 4096), writtenBlocks(vehicles, 2048));
    EXPECT_EQ(dataAt(rig.tool, 9100 * 512, 2048), writtenBlocks(logo, 2048));
    // Directory at block 40 (sector 5120), then the files from sector 5124.
    const Bytes directory = dataAt(rig.tool, 40 * 65536, 16);
    EXPECT_EQ(little32(directory, 0), 3u);
    const uint32_t starts[] = {5124, 5136, 5140};
    for (size_t i = 0; i < extras.size(); ++i) {
        EXPECT_EQ(little32(directory, 4 + 4 * i), starts[i]);
        const Bytes expected = writtenBlocks(extras[i], 2048);
        EXPECT_EQ(dataAt(rig.tool, uint64_t{starts[i]} * 512, expected.size()), expected) << i;
    }
    EXPECT_EQ(rig.tool.program(RawTarget::BluetoothModule),
              rawProgram(catalogue::bluetoothImage(7)));
    EXPECT_EQ(rig.tool.bluetoothVersion(), 7);

    EXPECT_EQ(rig.reportTags(), std::vector<std::string>{""});
    EXPECT_TRUE(ui.enabled(Control::Find));
    EXPECT_TRUE(ui.enabled(Control::Program));
    EXPECT_TRUE(ui.enabled(Control::ProgramMemories));
    EXPECT_EQ(ui.text(Line::Firm), "Firmware : V3.01.02 (Release)");
    EXPECT_EQ(delegate->toolRecord()->bootVersionNumber, 124);
    EXPECT_EQ(ui.boxes().back().title, "Operation Completed");
    EXPECT_EQ(ui.progress().back(), 100);
}

// The bootloader phase by tool and package versions: which image each slot receives.
struct BootCase {
    const char* name;
    std::array<const char*, 2> toolSlots;
    const char* package0;
    const char* package1;
    enum Source { None, Package, Resource } slot0, slot1;
    std::vector<std::string> writing;  // the "Writing Bootloader %d" texts in order
    const char* failure;               // report tag, or null for success
};

class BootPhase : public UpdateBench, public ::testing::WithParamInterface<BootCase> {
  protected:
    void TestBody() override {}
};

TEST_P(BootPhase, WritesWhatTheVersionsAsk) {
    const BootCase& c = GetParam();
    state.bootSlotVersions = {c.toolSlots[0], c.toolSlots[1]};
    addRelease(kReleaseId, makeRelease(c.package0, c.package1, &releaseIdentity));
    ASSERT_TRUE(startBench());
    ASSERT_TRUE(identify());
    programRelease();

    std::vector<std::string> writing;
    for (const auto& m : messages()) {
        if (m.rfind("Writing Bootloader", 0) == 0 && m.find("Failed") == std::string::npos) {
            writing.push_back(m);
        }
    }
    EXPECT_EQ(writing, c.writing);
    auto expected = [&](int slot, BootCase::Source source, const char* version) -> Bytes {
        if (source == BootCase::None) return {};
        if (source == BootCase::Resource) {
            return resourceProgram(slot == 0 ? "Enc_QNv3HIDBootloader_0"
                                             : "Enc_QNv3HIDBootloader_1");
        }
        return rawProgram(catalogue::bootImage(slot, version));
    };
    EXPECT_EQ(rig.tool.program(RawTarget::BootSlot0), expected(0, c.slot0, c.package0));
    EXPECT_EQ(rig.tool.program(RawTarget::BootSlot1), expected(1, c.slot1, c.package1));
    if (c.failure == nullptr) {
        EXPECT_TRUE(succeeded()) << ui.text(Line::Msg);
        EXPECT_EQ(rig.reportTags(), std::vector<std::string>{""});
    } else {
        EXPECT_EQ(rig.reportTags(), std::vector<std::string>{c.failure});
        EXPECT_FALSE(ui.enabled(Control::Find));
        EXPECT_FALSE(ui.enabled(Control::Program));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Versions, BootPhase,
    ::testing::Values(BootCase{"AlreadyThere",
                               {"1.23", "1.23"},
                               "1.23",
                               "1.23",
                               BootCase::None,
                               BootCase::None,
                               {},
                               nullptr},
                      BootCase{"BothSlotsNewer",
                               {"1.20", "1.20"},
                               "1.24",
                               "1.24",
                               BootCase::Package,
                               BootCase::Package,
                               {"Writing Bootloader 0", "Writing Bootloader 1"},
                               nullptr},
                      BootCase{"OlderPackageGetsResourceOne",
                               {"1.23", "1.23"},
                               "1.16",
                               "1.16",
                               BootCase::None,
                               BootCase::Resource,
                               {"Writing Bootloader 1"},
                               nullptr},
                      BootCase{"NewerPackageGetsResourceZeroThenSlotOne",
                               {"1.16", "1.16"},
                               "1.24",
                               "1.24",
                               BootCase::Resource,
                               BootCase::Package,
                               {"Writing Bootloader 0", "Writing Bootloader 1"},
                               nullptr},
                      BootCase{"NoBootSlots",
                               {"1.23", "1.23"},
                               "",
                               "",
                               BootCase::None,
                               BootCase::None,
                               {},
                               "_Failed_BL1"}),
    [](const auto& test) { return std::string(test.param.name); });

TEST_F(UpdateBench, NoBootSlotsFailsWithSlotOne) {
    addRelease(kReleaseId, makeRelease("", "", &releaseIdentity));
    ASSERT_TRUE(startBench());
    ASSERT_TRUE(identify());
    programRelease();
    EXPECT_EQ(ui.text(Line::Msg), "Writing Bootloader 1 Failed");
    EXPECT_EQ(ui.progress().back(), 0);
    // The bootloader failure leaves the record's firmware as it was.
    EXPECT_EQ(delegate->toolRecord()->firmwareId, static_cast<int32_t>(kInstalledId));
}

TEST_F(UpdateBench, ToolThatNeverReturnsFailsTheSlotJustWritten) {
    state.bootSlotVersions = {"1.20", "1.20"};
    addRelease(kReleaseId, makeRelease("1.24", "1.24", &releaseIdentity));
    ASSERT_TRUE(startBench());
    ASSERT_TRUE(identify());
    rig.tool.stayAwayAfterReboot(true);
    programRelease();
    EXPECT_EQ(ui.text(Line::Msg), "Writing Bootloader 0 Failed");
    EXPECT_EQ(rig.reportTags(), std::vector<std::string>{"_Failed_BL0"});
    EXPECT_EQ(countMessage("Writing Bootloader 0"), 1);
}

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

TEST_F(UpdateBench, MissingResourceImageIsEmpty) {
    ByteStringPtr image(BootloaderResource_load("Enc_QNv3HIDBootloader_9"));
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->length, 0);
    // The two shipped ones differ, so the tool can tell them apart.
    EXPECT_NE(resourceProgram("Enc_QNv3HIDBootloader_0"),
              resourceProgram("Enc_QNv3HIDBootloader_1"));
}

TEST(ExtraAreaLayout, DirectoryAndFileSectors) {
    EXPECT_EQ(extraDirectorySectors(0), 4);
    EXPECT_EQ(extraDirectorySectors(511), 4);
    EXPECT_EQ(extraDirectorySectors(512), 8);
    EXPECT_EQ(extraFileSectors(0), 4);
    EXPECT_EQ(extraFileSectors(2048), 4);
    EXPECT_EQ(extraFileSectors(2049), 8);
    EXPECT_EQ(extraFileSectors(2050), 8);
    EXPECT_EQ(eraseUnitFor(115, 1), 2048);
    EXPECT_EQ(eraseUnitFor(114, 1), 256);
    EXPECT_EQ(eraseUnitFor(123, 2), 256);
}
