#include "link/tool_commands.h"

#include "link/tool_protocol.h"
#include "link_fixture.h"
#include "package/firmware_package.h"

namespace {

std::string text(const ByteString* s) {
    return s != nullptr ? ByteString_str(s) : "(null)";
}

class ToolCommandsTest : public LinkTest {
  protected:
    // The tool holds firmware 218 (2.18), build 0x0102, variant 9, firmware id 0x0A0B and
    // option code 1.
    void startIdentifiedTool(std::array<int, 3> detail = {2, 18, 4}, const char* family = "KTX") {
        ToolState state = ToolState_default();
        state.identity = IdentityBlock_build({218, family, detail, 0x0102, 9});
        state.firmwareId = 0x0A0B;
        state.optionCode = 1;
        state.configuration = ConfigurationBlock_build(0xBEEF, 0xC0FFEE42u);
        startTool(state);
        connect();
    }
    // Frames of the commands sent since connect(), by command code.
    std::string commandsSent() const {
        std::string codes;
        for (const Bytes& f : tool_.frames())
            codes += " " + std::to_string(f.size() > 2 ? f[2] : 0);
        return codes;
    }
};

// The record starts with firmware id 77 and option code 5; the tool answers by address and
// length, so the commands sent stand for the frames.
struct IdentityCase {
    const char* name;
    std::array<int, 3> detail;
    const char* family;
    int bootVersionNumber;
    const char* read;  // version, short version, detail, build, family, variant, id, option code
    const char* commands;
};

class IdentityTest : public ToolCommandsTest, public ::testing::WithParamInterface<IdentityCase> {};

TEST_P(IdentityTest, FillsTheToolRecord) {
    const IdentityCase& c = GetParam();
    startIdentifiedTool(c.detail, c.family);
    FirmwarePackagePtr info(FirmwarePackage_new());
    info->bootVersionNumber = c.bootVersionNumber;
    info->firmwareId = 77;
    info->optionCode = 5;
    ASSERT_EQ(Tool_readIdentity(link_.get(), info.get()), 1);
    EXPECT_EQ(std::to_string(info->firmwareVersionNumber) + " " + text(info->firmwareVersionShort) +
                  " " + text(info->firmwareVersion) + " " +
                  std::to_string(info->firmwareDetailNumber) + " " +
                  std::to_string(info->firmwareBuild) + " " + text(info->deviceFamily) + " " +
                  std::to_string(info->variantCode) + " " + std::to_string(info->firmwareId) + " " +
                  std::to_string(info->optionCode),
              c.read);
    EXPECT_EQ(commandsSent(), c.commands);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Blocks, IdentityTest, ::testing::Values(
    // 21804 is not above 21804: the id is read only for the family "KTX".
    IdentityCase{"DetailReadsIdForKtx", {2, 18, 4}, "KTX", 114, "218 2.18 2.18.04 21804 258 KTX 9 2571 1", " 3 11 13"},
    IdentityCase{"DetailOtherFamilyNoId", {2, 18, 4}, "ABC", 114, "218 2.18 2.18.04 21804 258 ABC 9 0 1", " 3 13"},
    IdentityCase{"DetailAboveThresholdReadsId", {2, 18, 5}, "ABC", 114, "218 2.18 2.18.05 21805 258 ABC 9 2571 1", " 3 11 13"},
    // 2.19.00 does not belong to 2.18: no detail, build 1, the id left alone.
    IdentityCase{"NoDetail", {2, 19, 0}, "KTX", 114, "218 2.18 2.18.01 0 1 KTX 9 77 1", " 3 13"},
    IdentityCase{"Bootloader113SkipsOptionCode", {2, 18, 4}, "KTX", 113, "218 2.18 2.18.04 21804 258 KTX 9 2571 5", " 3 11"}),
    [](const auto& p) { return std::string(p.param.name); });
// clang-format on

TEST_F(ToolCommandsTest, SimpleCommandsAndTheirFrames) {
    ToolState state = ToolState_default();
    state.bootSlotVersions = {"1.07", "1.14"};
    state.runMode = 0;
    state.bluetoothVersion = 255;
    state.configuration = ConfigurationBlock_build(0xBEEF, 0xC0FFEE42u);
    startTool(state);
    ToolLink* link = connect();
    FirmwarePackagePtr info(FirmwarePackage_new());
    ASSERT_EQ(Tool_readConfiguration(link, info.get()), 1);
    EXPECT_EQ(info->hardwareId, 0xBEEF);
    EXPECT_EQ(info->serialNumber, 0xC0FFEE42u);
    EXPECT_EQ(Tool_readRunMode(link), 0);
    EXPECT_EQ(Tool_readBluetoothVersion(link), 255);
    EXPECT_EQ(Tool_prepareBluetoothModule(link), 1);
    EXPECT_EQ(Tool_enterBootloader(link), 1);
    EXPECT_TRUE(tool_.inBootloader());
    // Answered whatever their address: only the frames tell.
    EXPECT_EQ(hexText(frame(3)), "3B 00 15 00 00 00 15 00");
    EXPECT_EQ(hexText(frame(4)), "3B 00 16 00 00 00 16 00");
    ASSERT_EQ(Tool_readBootloaderVersion(link, info.get()), 1);  // of the running slot
    EXPECT_EQ(text(info->bootVersion), "1.07");
    EXPECT_EQ(info->bootVersionNumber, 107);
}

TEST_F(ToolCommandsTest, UnansweredCommandsFail) {
    startTool();
    ToolLink* link = connect();
    shortTimeouts();
    for (int command : {2, 11, 13, 21, 22, 18, 9}) tool_.silenceCommand(command, 1);
    tool_.silenceCommand(3, 1, 1);  // the second identity block
    // After the identity block the steps fail silently, leaving their fields alone.
    FirmwarePackagePtr info(FirmwarePackage_new()), none(FirmwarePackage_new());
    info->bootVersionNumber = 123;
    info->optionCode = 4;
    std::string results;
    for (int r : {Tool_readBootloaderVersion(link, info.get()), Tool_readIdentity(link, info.get()),
                  info->firmwareId, info->optionCode, Tool_readIdentity(link, none.get()),
                  Tool_prepareBluetoothModule(link), Tool_enterBootloader(link),
                  Tool_readBluetoothVersion(link), Tool_readRunMode(link)}) {
        results += std::to_string(r) + " ";
    }
    EXPECT_EQ(results, "0 1 0 4 0 0 0 -1 3 ");
    EXPECT_EQ(info->bootVersion, nullptr);
    EXPECT_EQ(none->firmwareVersion, nullptr);
}

TEST_F(ToolCommandsTest, EraseSendsThePackedRange) {
    startTool();
    ToolLink* link = connect();
    ASSERT_EQ(Tool_eraseBlocks(link, 3, 5), 1);
    EXPECT_EQ(hexText(frame(0)), "3B 00 05 03 08 35 45 00");
    EXPECT_EQ(Tool_eraseBlocks(link, 2, 0), 1);   // nothing to erase, still acknowledged
    EXPECT_EQ(Tool_eraseBlocks(link, 6, -2), 0);  // a range ending before it starts: "E"
    tool_.answerHi(5, 1);
    EXPECT_EQ(Tool_eraseBlocks(link, 1, 1), 1);
}

// A busy tool answers one command after its exchange gave up, then the next ones in order.
struct LateCase {
    const char* name;
    int command;
    int after;  // answers given on time first
};

class LateAnswerTest : public ToolCommandsTest, public ::testing::WithParamInterface<LateCase> {};

TEST_P(LateAnswerTest, IsNeverReadAsALaterReply) {
    const LateCase& c = GetParam();
    startIdentifiedTool();
    ToolLink* link = link_.get();
    shortTimeouts();  // T 500: half a second
    tool_.answerLate(c.command, std::chrono::milliseconds(700), 1, c.after);

    // Every read either fails or reads the tool's own values; the last round reads them all.
    for (int round = 0; round < 3; ++round) {
        FirmwarePackagePtr info(FirmwarePackage_new());
        info->bootVersionNumber = 123;
        const int boot = Tool_readBootloaderVersion(link, info.get());
        const int identity = Tool_readIdentity(link, info.get());
        const int configuration = Tool_readConfiguration(link, info.get());
        if (round == 2) {
            EXPECT_EQ(boot + identity + configuration, 3);
        }
        EXPECT_EQ(text(info->bootVersion), boot ? "1.23" : "(null)");
        EXPECT_EQ(info->bootVersionNumber, 123);
        if (identity) {
            EXPECT_EQ(text(info->firmwareVersion), "2.18.04");
            EXPECT_EQ(info->variantCode, 9);
        }
        // Steps after the identity block may fail, leaving their field as it was.
        EXPECT_TRUE(info->firmwareId == 0x0A0B || (round < 2 && info->firmwareId == 0));
        EXPECT_TRUE(info->optionCode == 1 || (round < 2 && info->optionCode == 0));
        EXPECT_EQ(info->hardwareId, configuration ? 0xBEEF : 0);
        EXPECT_EQ(info->serialNumber, configuration ? 0xC0FFEE42u : 0u);
    }
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Commands, LateAnswerTest, ::testing::Values(
    LateCase{"BootloaderVersion", 2, 0},
    LateCase{"IdentityBlock", 3, 0},
    LateCase{"ConfigurationBlock", 3, 1},
    // The option code's reply has no length to check: only the bytes after it tell.
    LateCase{"FirmwareId", 11, 0}),
    [](const auto& p) { return std::string(p.param.name); });
// clang-format on

}  // namespace
