// The virtual tool's own behaviour that later workflows rely on: reboots, boot slots and the
// zarvik-toolsim program.
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

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
        EXPECT_EQ(ByteString_str(info->firmwareVersion), "3.05.17");
        EXPECT_EQ(info->firmwareId, 1029);
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
