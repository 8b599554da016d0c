// The full update against the virtual tool and the bench server: what lands in the tool.
#include <gtest/gtest.h>

#include <regex>

#include "core/byte_string.h"
#include "support/update_bench.h"
#include "workflows/bootloader_resources.h"
#include "workflows/programming_run.h"

namespace {

// Every part of a release lands where it belongs, byte for byte, for a user whose number
// is negative; over plain HTTP and over TLS, where the browser addresses follow the scheme.
class WholeRelease : public UpdateBench, public ::testing::WithParamInterface<bool> {
  protected:
    void TestBody() override {}
};

TEST_P(WholeRelease, LandsInTheTool) {
    rig.tls = GetParam();
    state.bootSlotVersions = {"1.20", "1.20"};
    state.optionCode = 1;
    state.bluetoothVersion = 3;
    toolRecord["userNumber"] = -5;
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
    // The worked example of the extra-file area: 5000, 100 and 2050 bytes handed over.
    const std::vector<Bytes> extras = {patternBytes(4994, 4), patternBytes(98, 5),
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
    EXPECT_EQ(tool.dataMemory(40 * 65536, 16),
              (Bytes{3, 0, 0, 0, 0x04, 0x14, 0, 0, 0x10, 0x14, 0, 0, 0x14, 0x14, 0, 0}));
    const uint32_t starts[] = {5124, 5136, 5140};
    for (size_t i = 0; i < extras.size(); ++i) {
        const Bytes expected = writtenBlocks(extras[i], 2048);
        EXPECT_EQ(tool.dataMemory(uint64_t{starts[i]} * 512, expected.size()), expected) << i;
    }
    EXPECT_EQ(tool.program(RawTarget::BluetoothModule), rawProgram(catalogue::bluetoothImage(7)));

    EXPECT_EQ(tags(), "(no tag)");
    const auto runs = history();
    ASSERT_EQ(runs.size(), 1u);
    nlohmann::json run = runs[0];
    EXPECT_TRUE(std::regex_match(run["time"].get<std::string>(),
                                 std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ)")))
        << run;
    EXPECT_GE(run["durationSeconds"].get<double>(), 0.0);
    run.erase("time");
    run.erase("durationSeconds");
    EXPECT_EQ(run, (nlohmann::json{
                       {"workflow", "program"},
                       {"serialNumber", 100001},
                       {"hardwareId", 0x1234},
                       {"firmwareBefore", "2.18.04"},
                       {"firmwareAfter", "3.01.02"},
                       {"firmwareId", kReleaseId},
                       {"outcome", ui.boxes().back().title + ": " + ui.boxes().back().message},
                       {"reportTag", ""}}));
    for (Control c : {Control::Find, Control::Program, Control::ProgramMemories}) {
        EXPECT_TRUE(ui.enabled(c)) << controlName(c);
    }
    EXPECT_EQ(ui.text(Line::Firm), "Firmware : V3.01.02 (Release)");
    EXPECT_EQ(delegate->toolRecord()->bootVersionNumber, 124);
    EXPECT_EQ(ui.boxes().back().title, "Operation Completed");
    EXPECT_EQ(ui.progress().back(), 100);
    const std::string scheme = rig.tls ? "https://" : "http://";
    for (const std::string& address : {delegate->manualAddress(), delegate->downloadAddress()}) {
        EXPECT_EQ(address.substr(0, scheme.size() + 10), scheme + "127.0.0.1:") << address;
    }
}

INSTANTIATE_TEST_SUITE_P(Transports, WholeRelease, ::testing::Values(false, true),
                         [](const auto& test) { return test.param ? "Tls" : "PlainHttp"; });

enum class BootFault {
    none,
    away,             // the tool never comes back from its first reboot
    refusedTransfer,  // the raw transfer does not open, four times
    runModeUnknown,   // the run mode after the first write goes unanswered
    emptySlot0,       // the package's slot 0 holds an empty image
    unanswered,       // a self-restarting bootloader leaves before acknowledging its last record
    leavesLate,       // after a reboot the tool stays on the bus past the first look for it
};

// The bootloader phase by tool and package versions.
struct BootCase {
    const char* name;
    const char* tool;   // both slots
    const char* boot0;  // the package's slots; "" for none
    const char* boot1;
    BootFault fault;
    const char* sources;  // what each slot holds: '-' nothing, 'P' the package's, 'R' resource
    const char* writing;  // slot digits of the "Writing Bootloader %d" texts in order
    int imagesSent;       // raw transfers opened, the firmware's included
    int rebootCommands;
    const char* failure;  // report tag, or null for success
};

class BootPhase : public UpdateBench, public ::testing::WithParamInterface<BootCase> {
  protected:
    void TestBody() override {}
};

TEST_P(BootPhase, WritesWhatTheVersionsAsk) {
    const BootCase& c = GetParam();
    state.bootSlotVersions = {c.tool, c.tool};
    packwriter::Image release = makeRelease(c.boot0, c.boot1, &releaseIdentity);
    if (c.fault == BootFault::emptySlot0) {
        std::get<packwriter::Boot>(release.records[0]).section.data.clear();
    }
    addRelease(kReleaseId, release);
    ASSERT_TRUE(startBench());
    ASSERT_TRUE(identify());
    rig.tool.stayAwayAfterReboot(c.fault == BootFault::away);
    if (c.fault == BootFault::refusedTransfer) rig.tool.silenceCommand(23, 4);
    if (c.fault == BootFault::runModeUnknown) rig.tool.silenceCommand(9, 1, 1);
    rig.tool.selfRestartUnanswered(c.fault == BootFault::unanswered);
    // Gone only after the first look (250 ms), back well before the last (500 ms).
    if (c.fault == BootFault::leavesLate)
        rig.tool.leaveLateOnReboot(std::chrono::milliseconds(300));
    programRelease();

    std::string writing;
    for (const auto& call : ui.calls()) {
        if (call.starts_with("txtMsg=Writing Bootloader ") && !call.ends_with("Failed")) {
            writing += call.back();
        }
    }
    EXPECT_EQ(writing, c.writing);
    for (int slot : {0, 1}) {
        Bytes expected;
        if (c.sources[slot] == 'R') {
            ByteStringPtr image(BootloaderResource_load(slot == 0 ? "Enc_QNv3HIDBootloader_0"
                                                                  : "Enc_QNv3HIDBootloader_1"));
            expected = rawProgram(Bytes(image->data, image->data + image->length));
        }
        if (c.sources[slot] == 'P') {
            expected = rawProgram(catalogue::bootImage(slot, slot == 0 ? c.boot0 : c.boot1));
        }
        EXPECT_EQ(rig.tool.program(slot == 0 ? RawTarget::BootSlot0 : RawTarget::BootSlot1),
                  expected)
            << slot;
    }
    EXPECT_EQ(framesOf(23), c.imagesSent);
    EXPECT_EQ(framesOf(8), c.rebootCommands);
    if (c.failure == nullptr) {
        EXPECT_TRUE(succeeded()) << ui.text(Line::Msg);
        return;
    }
    const std::string tag = c.failure;
    EXPECT_EQ(tags(), tag);
    EXPECT_EQ(ui.text(Line::Msg), "Writing Bootloader " + tag.substr(tag.size() - 1) + " Failed");
    EXPECT_FALSE(ui.enabled(Control::Program));
    // A bootloader failure leaves the record's firmware as it was.
    EXPECT_EQ(delegate->toolRecord()->firmwareId, static_cast<int32_t>(kInstalledId));
}

using enum BootFault;
INSTANTIATE_TEST_SUITE_P(
    Versions, BootPhase,
    ::testing::Values(
        BootCase{"AlreadyThere", "1.23", "1.23", "1.23", none, "--", "", 1, 0, nullptr},
        BootCase{"BothSlotsNewer", "1.20", "1.24", "1.24", none, "PP", "01", 3, 1, nullptr},
        BootCase{"OlderPackageGetsResourceOne", "1.23", "1.16", "1.16", none, "-R", "1", 2, 0,
                 nullptr},
        BootCase{"NewerPackageGetsResourceZeroThenSlotOne", "1.16", "1.24", "1.24", none, "RP",
                 "01", 3, 1, nullptr},
        BootCase{"NoBootSlots", "1.23", "", "", none, "--", "", 0, 0, "_Failed_BL1"},
        BootCase{"ToolNeverBack", "1.20", "1.24", "1.24", away, "P-", "0", 1, 1, "_Failed_BL0"},
        // After the first reboot the record holds 1.24: no more reboot commands.
        BootCase{"RefusedSlotTriedFourTimes", "1.20", "1.24", "", refusedTransfer, "--", "0000", 5,
                 1, nullptr},
        BootCase{"RetryKeepsResourceZero", "1.16", "1.23", "1.23", runModeUnknown, "RP", "001", 4,
                 1, nullptr},
        BootCase{"RetryKeepsResourceOneThenReboots", "1.23", "1.16", "1.16", runModeUnknown, "-R",
                 "11", 3, 1, nullptr},
        BootCase{"EmptyImageIsNeverSent", "1.20", "1.24", "1.24", emptySlot0, "--", "0000", 1, 1,
                 nullptr},
        // Each rule at its boundary, by the tool's number and by the package's: 1.18 splits
        // the sides that need a resource image, a bootloader above 1.21 restarts by itself.
        BootCase{"Tool117Package116", "1.17", "1.16", "1.16", none, "--", "", 1, 0, nullptr},
        BootCase{"Tool118Package116", "1.18", "1.16", "1.16", none, "-R", "1", 2, 1, nullptr},
        BootCase{"Tool119Package116", "1.19", "1.16", "1.16", none, "-R", "1", 2, 1, nullptr},
        BootCase{"Tool118Package117", "1.18", "1.17", "1.17", none, "-R", "1", 2, 1, nullptr},
        BootCase{"Tool118Package118", "1.18", "1.18", "1.18", none, "--", "", 1, 0, nullptr},
        BootCase{"Tool118Package119", "1.18", "1.19", "1.19", none, "PP", "01", 3, 2, nullptr},
        BootCase{"Tool121Package124", "1.21", "1.24", "1.24", none, "PP", "01", 3, 1, nullptr},
        BootCase{"Tool122Package124", "1.22", "1.24", "1.24", none, "PP", "01", 3, 0, nullptr},
        BootCase{"Tool119Package120", "1.19", "1.20", "1.20", none, "PP", "01", 3, 2, nullptr},
        BootCase{"Tool119Package121", "1.19", "1.21", "1.21", none, "PP", "01", 3, 2, nullptr},
        BootCase{"Tool119Package122", "1.19", "1.22", "1.22", none, "PP", "01", 3, 1, nullptr},
        // The tool leaving is the image taking effect: the bridge is written once, not four
        // times over a tool already running it.
        BootCase{"SelfRestartBeforeLastAcknowledgement", "1.23", "1.16", "1.16", unanswered, "-R",
                 "1", 2, 0, nullptr},
        // Not found under its old node while it is still leaving: each slot written once.
        BootCase{"LeavesAfterTheFirstLook", "1.20", "1.24", "1.24", leavesLate, "PP", "01", 3, 1,
                 nullptr}),
    [](const auto& test) { return std::string(test.param.name); });

TEST(ExtraAreaLayout, DirectoryAndFileSectors) {
    EXPECT_EQ(extraDirectorySectors(511), 4);
    EXPECT_EQ(extraDirectorySectors(512), 8);
    EXPECT_EQ(extraFileSectors(0), 4);
    EXPECT_EQ(extraFileSectors(2048), 4);
    EXPECT_EQ(extraFileSectors(2049), 8);
}

}  // namespace
