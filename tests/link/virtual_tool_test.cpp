// The virtual tool's own behaviour that later workflows rely on: reboots, boot slots, state
// files and the zarvik-toolsim program.
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <thread>

#include "bench_paths.h"
#include "link/tool_commands.h"
#include "link_fixture.h"
#include "package/firmware_package.h"
#include "toolsim/raw_record.h"

namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;

Bytes bootProgram(const std::string& version, size_t size) {
    Bytes p(version.begin(), version.end());
    while (p.size() < size) p.push_back(static_cast<uint8_t>(p.size()));
    return p;
}

class VirtualToolTest : public LinkTest {
  protected:
    // What a workflow does after a reboot: forget the old connection, find and open again.
    bool reconnect(int generation) {
        ToolLink_markNotOpen(link_.get());
        if (!tool_.waitForGeneration(generation, seconds(10))) return false;
        return ToolLink_findPort(link_.get()) == 1 && ToolLink_open(link_.get()) == 1;
    }
    int writeBoot(RawTarget slot, const std::string& version) {
        Bytes image = RawImage_build(slot, bootProgram(version, 1000), kBootRecordData);
        ByteStringPtr s = byteString(image);
        return Tool_writeImage(link_.get(), s.get(), kBootRecordData, 1, 0, 0, 0, 0, 0);
    }
    std::string bootVersion() {
        FirmwarePackagePtr info(FirmwarePackage_new());
        if (!Tool_readBootloaderVersion(link_.get(), info.get())) return "(none)";
        return ByteString_str(info->bootVersion);
    }
};

TEST_F(VirtualToolTest, AfterABootSlotIsWrittenAndTheToolRebootsItRunsThatSlot) {
    ToolState state = ToolState_default();
    state.bootSlotVersions = {"1.10", "1.18"};
    state.runMode = 1;
    startTool(state);
    ToolLink* link = connect();

    ASSERT_EQ(writeBoot(RawTarget::BootSlot0, "1.19"), 1);
    EXPECT_EQ(tool_.rebootCount(), 0);  // a 1.18 bootloader waits for the reboot command
    EXPECT_EQ(Tool_readRunMode(link), 1);
    ASSERT_EQ(Tool_reboot(link), 1);
    ASSERT_TRUE(reconnect(2));
    EXPECT_EQ(Tool_readRunMode(link), 0);
    EXPECT_EQ(bootVersion(), "1.19");

    Bytes expected = bootProgram("1.19", 1000);
    expected.resize(3 * kBootRecordData, 0xFF);
    EXPECT_EQ(tool_.program(RawTarget::BootSlot0), expected);
    auto records = tool_.records();
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[2].offset, 2u * kBootRecordData);
    EXPECT_TRUE(records[2].last);

    // A reboot without a new slot keeps running what ran.
    ASSERT_EQ(Tool_reboot(link), 1);
    ASSERT_TRUE(reconnect(3));
    EXPECT_EQ(Tool_readRunMode(link), 0);
}

TEST_F(VirtualToolTest, ABootloaderAbove121RestartsByItselfAfterASlotImage) {
    ToolState state = ToolState_default();
    state.bootSlotVersions = {"1.22", "1.22"};
    state.runMode = 0;
    startTool(state);
    ToolLink* link = connect();

    // The tool leaves the bus after its last record: the write still counts as done.
    ASSERT_EQ(writeBoot(RawTarget::BootSlot1, "1.24"), 1);
    ASSERT_TRUE(reconnect(2));
    EXPECT_EQ(tool_.rebootCount(), 1);
    EXPECT_EQ(Tool_readRunMode(link), 1);
    EXPECT_EQ(bootVersion(), "1.24");
}

TEST_F(VirtualToolTest, AToolThatNeverComesBack) {
    startTool();
    ToolLink* link = connect();
    tool_.stayAwayAfterReboot(true);
    ASSERT_EQ(Tool_reboot(link), 1);
    ToolLink_markNotOpen(link);
    EXPECT_FALSE(tool_.waitForGeneration(2, milliseconds(300)));
    EXPECT_EQ(ToolLink_findPort(link), 1);  // an explicit port is always "found"
    EXPECT_EQ(ToolLink_open(link), 0);
    EXPECT_EQ(link->lastError, kLinkErrorOpen);
    EXPECT_EQ(link->descriptor, -1);
}

TEST_F(VirtualToolTest, AnotherHardwareIdentifierAfterAReboot) {
    startTool();
    ToolLink* link = connect();
    FirmwarePackagePtr before(FirmwarePackage_new());
    ASSERT_EQ(Tool_readConfiguration(link, before.get()), 1);
    tool_.changeHardwareIdAfterReboot(0x7777);
    ASSERT_EQ(Tool_reboot(link), 1);
    ASSERT_TRUE(reconnect(2));
    FirmwarePackagePtr after(FirmwarePackage_new());
    ASSERT_EQ(Tool_readConfiguration(link, after.get()), 1);
    EXPECT_EQ(before->hardwareId, 0x1234);
    EXPECT_EQ(after->hardwareId, 0x7777);
    EXPECT_EQ(after->serialNumber, before->serialNumber);
}

TEST_F(VirtualToolTest, RecordsThatDoNotFitAreRefused) {
    startTool();
    ToolLink* link = connect();
    // A record whose word count disagrees with its header.
    Bytes record(6 + 384, 0);
    RawRecordHeader header;
    header.target = RawTarget::Firmware;
    header.length = 380;
    RawRecord_encodeHeader(header, record.data());
    ByteStringPtr image = byteString(record);
    EXPECT_EQ(Tool_writeImage(link, image.get(), 384, 1, 0, 0, 0, 0, 0), 0);
    // A Bluetooth record on a ":" frame.
    Bytes bt = RawImage_build(RawTarget::BluetoothModule, Bytes(384, 1), 384);
    ByteStringPtr btImage = byteString(bt);
    EXPECT_EQ(Tool_writeImage(link, btImage.get(), 384, 1, 0, 0, 0, 0, 0), 0);
    EXPECT_EQ(tool_.refusedFrames(), 2);
    EXPECT_TRUE(tool_.records().empty());
    // The line is still in step afterwards.
    EXPECT_EQ(Tool_readRunMode(link), 1);
}

TEST_F(VirtualToolTest, BrokenStateFilesAreRejectedWithAReason) {
    const std::vector<std::string> broken = {
        "[1, 2]",
        R"({"bootSlots": ["1.00"]})",
        R"({"identityHex": "0102"})",
        R"({"storedFiles": {"layout": "ring"}})",
        R"({"memory": [{"address": 0, "hex": "ABC"}]})",
        "{ not json",
    };
    for (const std::string& text : broken) {
        const std::string path = dir_.path() + "/broken.json";
        std::ofstream(path) << text;
        std::string error;
        EXPECT_FALSE(ToolState_load(path, &error)) << text;
        EXPECT_FALSE(error.empty()) << text;
    }
    std::string error;
    EXPECT_FALSE(ToolState_load(dir_.path() + "/missing.json", &error));
}

TEST_F(VirtualToolTest, TheProgramPlaysTheToolOfAStateFileUntilStopped) {
    const std::string program = benchBinary("zarvik-toolsim");
    const std::string link = linkPath();
    std::vector<std::string> args = {
        program, "--link", link, "--state",
        std::string(ZARVIK_SOURCE_DIR) + "/bench/toolsim/states/ktx2.json"};
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    ASSERT_EQ(posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv.data(), environ), 0);
    for (int i = 0; i < 400 && !std::filesystem::is_symlink(link); ++i) {
        std::this_thread::sleep_for(milliseconds(25));
    }
    link_ = makeToolLink(settings());
    if (ToolLink_findPort(link_.get()) && ToolLink_open(link_.get())) {
        FirmwarePackagePtr info(FirmwarePackage_new());
        EXPECT_EQ(Tool_readBootloaderVersion(link_.get(), info.get()), 1);
        EXPECT_EQ(Tool_readIdentity(link_.get(), info.get()), 1);
        EXPECT_EQ(Tool_readConfiguration(link_.get(), info.get()), 1);
        EXPECT_EQ(ByteString_str(info->bootVersion), "1.23");
        EXPECT_EQ(ByteString_str(info->firmwareVersion), "3.05.17");
        EXPECT_EQ(info->firmwareBuild, 812);
        EXPECT_EQ(info->firmwareId, 1029);
        EXPECT_EQ(info->optionCode, 1);
        EXPECT_EQ(info->hardwareId, 4660);
        EXPECT_EQ(info->serialNumber, 99001u);
        EXPECT_EQ(Tool_readBluetoothVersion(link_.get()), 12);
        ByteString *data = nullptr, *first = nullptr, *second = nullptr;
        int32_t number = 0;
        EXPECT_EQ(Tool_readFile(link_.get(), 0x6C0000, 1, &data, &first, &second, &number), 1);
        EXPECT_EQ(data != nullptr ? data->length : 0, 2048);  // 512 + 1500 bytes
        EXPECT_EQ(ByteString_str(second), "Golf 1.4 TSI");
        for (ByteString* s : {data, first, second}) ByteString_free(s);
    } else {
        ADD_FAILURE() << ToolLink_openFailureText(link_.get());
    }
    link_.reset();
    kill(pid, SIGTERM);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_FALSE(std::filesystem::exists(link));
}

}  // namespace
