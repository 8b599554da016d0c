// The memory phase in detail, the Bluetooth module decision and the app messages of the
// completion.
#include <gtest/gtest.h>

#include <string>

#include "support/update_bench.h"

namespace {

// A tool below bootloader 1.15 takes 256-byte blocks: files are re-blocked first. From 1.15
// on the blocks are 2048 bytes, as served.
struct BlockCase {
    const char* name;
    const char* boot;
    size_t unit;
};

class EraseUnit : public UpdateBench, public ::testing::WithParamInterface<BlockCase> {
  protected:
    void TestBody() override {}
};

TEST_P(EraseUnit, FollowsTheBootloader) {
    const BlockCase& c = GetParam();
    state.bootSlotVersions = {c.boot, c.boot};
    installed = makeRelease(c.boot, c.boot, nullptr);
    const Bytes kindOne = patternBytes(600, 9);
    addRelease(kReleaseId, makeRelease(c.boot, c.boot, &releaseIdentity,
                                       {catalogue::memoryFile("MEM", 1, 16, 1, kindOne),
                                        catalogue::cpakArea(1, 40, 2)}));
    const Bytes content = patternBytes(3000, 5);
    addUserFile("r.bin", checksummedBlocks(content));
    ASSERT_TRUE(startBench());
    ASSERT_TRUE(identify());
    programRelease();
    ASSERT_TRUE(succeeded()) << ui.text(Line::Msg);
    EXPECT_EQ(countMessage("Processing Extra File 1/1"), c.unit == 256 ? 1 : 0);
    const Bytes memory = writtenBlocks(kindOne, c.unit);
    EXPECT_EQ(rig.tool.dataMemory(16 * 65536, memory.size()), memory);
    // One file from sector 0x1404, after the directory's 4 sectors.
    const Bytes directory = rig.tool.dataMemory(40 * 128 * 512, 8);
    EXPECT_EQ(directory, (Bytes{1, 0, 0, 0, 0x04, 0x14, 0, 0}));
    const Bytes file = writtenBlocks(content, c.unit);
    EXPECT_EQ(rig.tool.dataMemory(0x1404 * 512, file.size()), file);
}

INSTANTIATE_TEST_SUITE_P(Bootloaders, EraseUnit,
                         ::testing::Values(BlockCase{"Boot114", "1.14", 256},
                                           BlockCase{"Boot115", "1.15", 2048}),
                         [](const auto& test) { return std::string(test.param.name); });

// The already-programmed shortcut: only for another firmware without the force flag.
struct ShortcutCase {
    const char* name;
    uint32_t releaseId;
    const char* releaseFsn;
    bool kept;
};

class Shortcut : public UpdateBench, public ::testing::WithParamInterface<ShortcutCase> {
  protected:
    void TestBody() override {}
};

TEST_P(Shortcut, KeepsOnlyWhatMayBeKept) {
    const ShortcutCase& c = GetParam();
    const Bytes data = checksummedBlocks(patternBytes(1000, 4));
    const IdentityValues now;  // a described installed firmware lets the vehicles compare
    installed =
        makeRelease("1.23", "1.23", &now, {catalogue::memoryFile("MAP.DAT", 1, 16, 1, data, true)});
    state.firmwareId = static_cast<int>(kInstalledId);
    auto release = makeRelease("1.23", "1.23", &releaseIdentity,
                               {catalogue::memoryFile("MAP.DAT", 1, 16, 1, data, true)});
    release.fsn = c.releaseFsn;
    addRelease(c.releaseId, release);
    toolRecord["firmwareList"] = catalogue::versionText(releaseIdentity) + ":" +
                                 std::to_string(c.releaseId) + ":CURRENT:Bench release#";
    ASSERT_TRUE(startBench());
    ASSERT_TRUE(identify());
    programRelease();
    ASSERT_TRUE(succeeded()) << ui.text(Line::Msg);
    EXPECT_EQ(countMessage("Memory File 1/1 Already Programmed"), c.kept ? 1 : 0);
    EXPECT_EQ(countMessage("Erasing Memory 1"), c.kept ? 0 : 1);
}

INSTANTIATE_TEST_SUITE_P(Firmware, Shortcut,
                         ::testing::Values(ShortcutCase{"AnotherFirmware", kReleaseId, "FD", true},
                                           ShortcutCase{"SameFirmware", kInstalledId, "FD", false},
                                           ShortcutCase{"ForcedByVehicleChange", kReleaseId, "GM",
                                                        false}),
                         [](const auto& test) { return std::string(test.param.name); });

// The module decision and the app messages at the end.
struct ModuleCase {
    const char* name;
    const char* boot;
    int moduleVersion;  // -1: the tool does not answer
    const char* published;
    IdentityValues firmware;
    bool enterBootloaderAnswered;
    bool updated;
    const char* appMessageStart;  // null: no app message
};

class ModuleAndApp : public UpdateBench, public ::testing::WithParamInterface<ModuleCase> {
  protected:
    void TestBody() override {}
};

TEST_P(ModuleAndApp, DecidesAndTells) {
    const ModuleCase& c = GetParam();
    state.bootSlotVersions = {c.boot, c.boot};
    state.optionCode = 1;
    state.bluetoothVersion = c.moduleVersion < 0 ? 0 : c.moduleVersion;
    releaseIdentity = c.firmware;
    installed = makeRelease(c.boot, c.boot, nullptr);
    addRelease(kReleaseId, makeRelease(c.boot, c.boot, &releaseIdentity));
    setBluetoothFiles(c.published, 9);
    toolRecord["firmwareList"] =
        catalogue::versionText(releaseIdentity) + ":900:CURRENT:Bench release#";
    ASSERT_TRUE(startBench());
    ASSERT_TRUE(identify());
    if (c.moduleVersion < 0) rig.tool.silenceCommand(18);
    if (!c.enterBootloaderAnswered) rig.tool.silenceCommand(22);
    programRelease();
    ASSERT_TRUE(succeeded()) << ui.text(Line::Msg);
    EXPECT_EQ(rig.tool.bluetoothVersion() == 9, c.updated);
    std::string appMessage;
    for (const auto& box : ui.boxes()) {
        if (box.title == "App Update") appMessage = box.message;
    }
    if (c.appMessageStart == nullptr) {
        EXPECT_EQ(appMessage, "");
    } else {
        EXPECT_NE(appMessage.find(c.appMessageStart), std::string::npos) << appMessage;
    }
}

constexpr const char* kSix = "\n\n1- Ensure your mobile device is connected to Internet";
constexpr const char* kEight = "\n\n1- Disconnect KTX2 from USB port";

INSTANTIATE_TEST_SUITE_P(
    Versions, ModuleAndApp,
    ::testing::Values(
        ModuleCase{"ModuleAt255", "1.23", 255, "200", identityOf(3, 1, 2), true, true, kSix},
        ModuleCase{"ModuleSilent", "1.23", -1, "0", identityOf(3, 1, 2), true, true, kSix},
        ModuleCase{"ModuleCurrent", "1.23", 7, "7", identityOf(3, 1, 2), true, false, kSix},
        ModuleCase{"ModuleOlder", "1.23", 6, "7", identityOf(2, 30, 1), true, true, nullptr},
        ModuleCase{"ModuleNewer", "1.23", 8, "7", identityOf(3, 1, 2), true, false, kSix},
        ModuleCase{"Boot122NoModuleStep", "1.22", 3, "7", identityOf(3, 1, 2), true, false, kSix},
        ModuleCase{"BootloaderNotEntered", "1.23", 7, "7", identityOf(3, 1, 2), false, false,
                   kEight},
        ModuleCase{"Boot121", "1.21", 3, "7", identityOf(3, 1, 2), true, false, kEight}),
    [](const auto& test) { return std::string(test.param.name); });

}  // namespace
