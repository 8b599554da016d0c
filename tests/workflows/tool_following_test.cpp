// A tool that comes back from every reboot under another device node is followed by its USB
// serial, through a whole update, among other tools and past one attached while it is away.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <thread>

#include "support/update_bench.h"
#include "toolsim/fake_sysfs.h"

namespace {

// The rebooting tool's node leaving, which is when a neighbour can take its place.
void waitUntilGone(const std::filesystem::path& node) {
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::filesystem::exists(std::filesystem::symlink_status(node)) &&
           std::chrono::steady_clock::now() < limit) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

class ToolFollowing : public UpdateBench {
  protected:
    void SetUp() override {
        UpdateBench::SetUp();
        // Both bootloaders are written: the tool reboots at least twice.
        state.bootSlotVersions = {"1.20", "1.20"};
        addRelease(kReleaseId, makeRelease("1.24", "1.24", &releaseIdentity));
        sysfsRoot = (rig.dir / "fake").string();
        rig.toolOptions.fakeSysfsRoot = sysfsRoot;
        rig.toolOptions.usbSerial = "KTX2-A";
        rig.toolOptions.reenumerate = true;
    }
    // The controller on link settings that look at the fake sysfs tree.
    void lookInFakeSysfs(const std::string& port, const std::string& tool) {
        FakeSysfs tree(sysfsRoot);
        rig.link.sysfsRoot = tree.sysfsRoot();
        rig.link.devRoot = tree.devRoot();
        rig.link.port = port;
        rig.link.tool = tool;
        makeDelegate();
    }
    void expectUpdated(VirtualTool& tool) {
        EXPECT_EQ(tool.program(RawTarget::BootSlot0), rawProgram(catalogue::bootImage(0, "1.24")));
        EXPECT_EQ(tool.program(RawTarget::BootSlot1), rawProgram(catalogue::bootImage(1, "1.24")));
        EXPECT_GE(tool.rebootCount(), 2);
    }
    std::string sysfsRoot;
};

TEST_F(ToolFollowing, PortNamingTheFirstNodeFollowsTheToolToEachNewNode) {
    ASSERT_TRUE(startBench());
    const std::string firstNode = rig.tool.sysfsNode();
    ASSERT_FALSE(firstNode.empty());
    lookInFakeSysfs(firstNode, "");
    ASSERT_TRUE(identify()) << ui.text(Line::Msg);
    programRelease();

    EXPECT_TRUE(succeeded()) << ui.text(Line::Msg);
    // The first node was gone after the first reboot: only the serial led to the tool.
    expectUpdated(rig.tool);
}

TEST_F(ToolFollowing, UsbSerialPicksTheSecondToolAndLeavesTheFirstAlone) {
    ASSERT_TRUE(startBench());
    VirtualTool second;
    ToolSimOptions options = rig.toolOptions;
    options.usbSerial = "KTX2-B";
    std::string error;
    ASSERT_TRUE(second.start(state, (rig.dir / "second").string(), options, &error)) << error;
    lookInFakeSysfs("", "KTX2-B");
    ASSERT_TRUE(identify()) << ui.text(Line::Msg);
    programRelease();

    EXPECT_TRUE(succeeded()) << ui.text(Line::Msg);
    expectUpdated(second);
    EXPECT_EQ(rig.tool.frames().size(), 0u);
    EXPECT_EQ(rig.tool.rebootCount(), 0);
    second.stop();
}

// The tool is alone when the update starts; another one is attached while it reboots, in
// another socket and under the node the first had. It is never taken in its stead.
TEST_F(ToolFollowing, AnotherToolAttachedWhileAwayReceivesNoFrame) {
    // Away past the first look after each reboot, back before the last.
    rig.toolOptions.rebootDelay = std::chrono::milliseconds(600);
    rig.link.timing.rebootWait = std::chrono::milliseconds(300);
    rig.link.timing.rebootRetryWait = std::chrono::milliseconds(1000);
    ASSERT_TRUE(startBench());
    lookInFakeSysfs("", "");
    ASSERT_TRUE(identify()) << ui.text(Line::Msg);

    VirtualTool other;
    ToolSimOptions options = rig.toolOptions;
    options.usbSerial = "KTX2-B";
    const std::filesystem::path firstNode = rig.tool.sysfsNode();
    std::atomic<bool> attachedWhileAway = false;
    std::thread attach([&] {
        // Once the first node is gone, the other tool is given it.
        waitUntilGone(firstNode);
        std::string error;
        attachedWhileAway = other.start(state, (rig.dir / "other").string(), options, &error) &&
                            !rig.tool.online() && other.sysfsNode() == firstNode;
    });
    programRelease();
    attach.join();

    ASSERT_TRUE(attachedWhileAway);
    EXPECT_TRUE(succeeded()) << ui.text(Line::Msg);
    expectUpdated(rig.tool);
    EXPECT_EQ(other.frames().size(), 0u);
    other.stop();
}

// A tool named by its USB serial whose bootloaders show another one is still followed while
// it is alone in its socket, as an unnamed one is.
TEST_F(ToolFollowing, NamedToolWhoseBootloaderShowsAnotherSerialIsFollowed) {
    rig.toolOptions.serialAfterReboot = "KTX2-BOOT";
    ASSERT_TRUE(startBench());
    lookInFakeSysfs("", "KTX2-A");
    ASSERT_TRUE(identify()) << ui.text(Line::Msg);
    programRelease();

    EXPECT_TRUE(succeeded()) << ui.text(Line::Msg);
    expectUpdated(rig.tool);
}

// The tool stays away after its first reboot and a neighbour comes up under its USB serial
// (a batch of tools made with one): the check after the reconnect finds another serial
// number, and the neighbour gets no image, only the reads that tell who it is.
TEST_F(ToolFollowing, NeighbourUnderTheFollowedSerialGetsNoImage) {
    rig.link.timing.rebootRetryWait = std::chrono::milliseconds(3000);
    ASSERT_TRUE(startBench());
    lookInFakeSysfs("", "");
    delegate->setHistory(historyFile().string(), nullptr);
    ASSERT_TRUE(identify()) << ui.text(Line::Msg);
    rig.tool.stayAwayAfterReboot(true);

    VirtualTool neighbour;
    ToolState twin = state;
    twin.configuration = ConfigurationBlock_build(0x1234, 100002);  // same hardware
    const std::filesystem::path firstNode = rig.tool.sysfsNode();
    std::atomic<bool> cameInItsStead = false;
    std::thread attach([&] {
        waitUntilGone(firstNode);
        std::string error;
        cameInItsStead =
            neighbour.start(twin, (rig.dir / "neighbour").string(), rig.toolOptions, &error) &&
            !rig.tool.online();
    });
    programRelease();
    attach.join();

    ASSERT_TRUE(cameInItsStead);
    EXPECT_EQ(ui.text(Line::Msg), "Tool Disconnected, Program Aborted");
    EXPECT_EQ(ui.text(Line::Status),
              "Serial number 100002 answered in place of 100001: nothing is written to 100002");
    EXPECT_EQ(tags(), "_Switch_From _Switch_To");
    EXPECT_FALSE(neighbour.frames().empty());  // it was asked who it is
    EXPECT_TRUE(neighbour.records().empty());
    EXPECT_EQ(neighbour.rebootCount(), 0);
    // The followed tool got its first bootloader: the history keeps its update unfinished.
    const auto runs = history();
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0].value("step", ""), "bootloader 0") << runs[0];
    neighbour.stop();
}

}  // namespace
