// program for several tools at once, through the real command line: one process per tool on
// four virtual tools in a fake sysfs tree, against the bench server.
#include <gtest/gtest.h>

#include <signal.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <thread>

#include "support/run_program.h"
#include "toolsim/fake_sysfs.h"
#include "support/update_bench.h"

namespace {

using nlohmann::json;

class BatchProgram : public UpdateBench {
  protected:
    void SetUp() override {
        UpdateBench::SetUp();
        state.bootSlotVersions = {"1.20", "1.20"};
        addRelease(kReleaseId, makeRelease("1.24", "1.24", &releaseIdentity));
        root = (rig.dir / "fake").string();
        rig.toolOptions.fakeSysfsRoot = root;
        rig.toolOptions.usbSerial = "KTX2-A";
    }
    // The bench's tool is KTX2-A; the others follow it under these serials.
    bool startTools(const std::vector<std::string>& others) {
        if (!startBench()) return false;
        tools.push_back(&rig.tool);
        for (const std::string& serial : others) {
            auto tool = std::make_unique<VirtualTool>();
            ToolSimOptions options = rig.toolOptions;
            options.usbSerial = serial;
            std::string error;
            if (!tool->start(state, (rig.dir / serial).string(), options, &error)) {
                ADD_FAILURE() << error;
                return false;
            }
            tools.push_back(tool.get());
            extra.push_back(std::move(tool));
        }
        return true;
    }
    ProgramRun cli(std::vector<std::string> arguments, std::atomic<int>* started = nullptr) {
        FakeSysfs tree(root);
        std::vector<std::string> all{
            "--server",     "127.0.0.1:" + std::to_string(rig.server.httpPort()),
            "--sysfs-root", tree.sysfsRoot(),
            "--dev-root",   tree.devRoot()};
        all.insert(all.end(), arguments.begin(), arguments.end());
        return runProgram(cliPath(), all, {{"XDG_STATE_HOME", (rig.dir / "state").string()}},
                          started);
    }
    // Both bootloaders of the release, and the firmware to its last record.
    bool updated(const VirtualTool& tool) {
        const auto records = tool.records();
        const bool firmwareEnded = std::ranges::any_of(records, [](const StoredRecord& r) {
            return r.target == RawTarget::Firmware && r.last;
        });
        return tool.program(RawTarget::BootSlot0) == rawProgram(catalogue::bootImage(0, "1.24")) &&
               tool.program(RawTarget::BootSlot1) == rawProgram(catalogue::bootImage(1, "1.24")) &&
               firmwareEnded;
    }
    void TearDown() override {
        for (auto& tool : extra) tool->stop();
        UpdateBench::TearDown();
    }
    std::string root;
    std::vector<VirtualTool*> tools;
    std::vector<std::unique_ptr<VirtualTool>> extra;
};

TEST_F(BatchProgram, FourToolsAtOnceEachAsALoneUpdateLeavesIt) {
    ASSERT_TRUE(startTools({"KTX2-B", "KTX2-C", "KTX2-D"}));
    const std::string trace = (rig.dir / "link.trace").string();
    const ProgramRun run = cli({"--yes", "--json", "--trace-link", trace, "program", "--all",
                                "--firmware", "900", "--stagger-ms", "50"});
    EXPECT_EQ(run.status, 0) << run.out << run.err;

    std::istringstream lines(run.out);
    std::map<std::string, std::string> ends;
    json summary;
    for (std::string line; std::getline(lines, line);) {
        const json event = json::parse(line, nullptr, false);
        ASSERT_TRUE(event.is_object()) << line;
        const std::string kind = event.value("event", "");
        if (kind == "summary") summary = event;
        if (kind == "batchStart" || kind == "summary") continue;
        // Every event of a tool names it.
        ASSERT_TRUE(event.contains("serial")) << line;
        if (kind == "toolEnd") ends[event["serial"]] = event["outcome"];
    }
    EXPECT_EQ(summary.value("updated", 0), 4) << summary;
    for (const char* serial : {"KTX2-A", "KTX2-B", "KTX2-C", "KTX2-D"}) {
        EXPECT_EQ(ends[serial], "updated") << serial;
        // A trace of its own for each tool.
        EXPECT_TRUE(std::filesystem::exists(trace + "." + serial)) << serial;
    }
    // Each tool got one whole update, as a lone run gives it: the same frames as the others,
    // and no more reboots than one run asks for.
    for (VirtualTool* tool : tools) {
        EXPECT_TRUE(updated(*tool));
        EXPECT_EQ(tool->frames().size(), tools[0]->frames().size());
        EXPECT_EQ(tool->rebootCount(), tools[0]->rebootCount());
    }
    EXPECT_EQ(tools[0]->rebootCount(), 2);
    // One history line a tool.
    std::ifstream history(rig.dir / "state" / "zarvik-updater" / "history.jsonl");
    int runs = 0;
    for (std::string line; std::getline(history, line);) ++runs;
    EXPECT_EQ(runs, 4);
}

TEST_F(BatchProgram, ACutToolAndOneThatStaysAwayFailAloneTheOthersSucceed) {
    ASSERT_TRUE(startTools({"KTX2-B", "KTX2-C", "KTX2-D"}));
    tools[1]->cutAt(*CutPoint_parse("firmware:1"));
    tools[2]->stayAwayAfterReboot(true);
    const ProgramRun run = cli(
        {"--yes", "program", "--all", "--firmware", "900", "--jobs", "4", "--stagger-ms", "50"});
    EXPECT_EQ(run.status, 1) << run.out << run.err;
    EXPECT_TRUE(updated(*tools[0]));
    EXPECT_TRUE(updated(*tools[3]));
    EXPECT_FALSE(updated(*tools[1]));
    EXPECT_FALSE(updated(*tools[2]));
    // The summary says which failed, and why.
    for (const char* row : {"KTX2-A ", "KTX2-D "}) {
        const size_t at = run.out.find(row);
        ASSERT_NE(at, std::string::npos) << run.out;
        EXPECT_NE(run.out.find("updated", at), std::string::npos) << run.out;
    }
    EXPECT_NE(run.out.find("failed: Writing Firmware"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("failed: Writing Bootloader 0 Failed"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("2 of 4 tools updated."), std::string::npos) << run.out;
    // Lines, not rows, without a terminal: each names its tool.
    EXPECT_NE(run.err.find("[KTX2-B] "), std::string::npos) << run.err;
}

// Ctrl-C twice while the tools are being written: each stops at its next safe point, the
// batch ends as stopped, and no tool hears from an updater afterwards.
TEST_F(BatchProgram, CtrlCTwiceStopsEveryToolAndLeavesNoProcessBehind) {
    ASSERT_TRUE(startTools({"KTX2-B", "KTX2-C"}));
    std::atomic<int> pid{0};
    ProgramRun run;
    std::thread batch([&] {
        run = cli({"--yes", "program", "--all", "--firmware", "900", "--stagger-ms", "0"}, &pid);
    });
    auto allWriting = [&] {
        return std::ranges::all_of(tools, [](VirtualTool* t) { return !t->records().empty(); });
    };
    for (int i = 0; i < 3000 && !allWriting(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ASSERT_TRUE(allWriting());
    kill(pid, SIGINT);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    kill(pid, SIGINT);
    batch.join();

    EXPECT_EQ(run.status, 130) << run.out << run.err;
    EXPECT_NE(run.err.find("An update is running"), std::string::npos) << run.err;
    EXPECT_NE(run.out.find("0 of 3 tools updated."), std::string::npos) << run.out;
    for (VirtualTool* tool : tools) EXPECT_FALSE(updated(*tool));
    std::vector<size_t> frames;
    for (VirtualTool* tool : tools) frames.push_back(tool->frames().size());
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    for (size_t i = 0; i < tools.size(); ++i) EXPECT_EQ(tools[i]->frames().size(), frames[i]);
}

// A tool's own process answers Yes to its update, but a reinstall (or a change of vehicle
// type) only with the user's --yes: the batch's one question did not cover it.
TEST_F(BatchProgram, AToolsProcessDeclinesAReinstallUnlessTheUserSaidYes) {
    state.firmwareId = kReleaseId;  // the tool runs the release already
    ASSERT_TRUE(startTools({}));
    for (const bool yes : {false, true}) {
        std::vector<std::string> arguments{"--port", rig.link.port, "--batch-tool"};
        if (yes) arguments.push_back("--yes");
        arguments.insert(arguments.end(), {"program", "--firmware", "900"});
        const ProgramRun run = cli(arguments);
        EXPECT_NE(run.err.find("Would you like to reinstall the firmware?"), std::string::npos)
            << run.err;
        EXPECT_EQ(run.status, yes ? 0 : 1) << run.err;
        EXPECT_EQ(updated(rig.tool), yes);
    }
}

// The process that watches a tool's process is gone mid-run (killed, its terminal closed):
// the tool's process finishes the update instead of dying on its next line.
TEST_F(BatchProgram, AToolsProcessFinishesItsUpdateWhenItsWatcherIsGone) {
    ASSERT_TRUE(startTools({}));
    const ProgramRun run =
        runProgram("/bin/sh",
                   {"-c", "\"$0\" \"$@\" | head -n 1 >/dev/null", cliPath(), "--server",
                    "127.0.0.1:" + std::to_string(rig.server.httpPort()), "--port", rig.link.port,
                    "--batch-tool", "--json", "program", "--firmware", "900"},
                   {{"XDG_STATE_HOME", (rig.dir / "state").string()}});
    EXPECT_TRUE(updated(rig.tool)) << run.err;
}

struct Refusal {
    const char* name;
    std::vector<std::string> serials;  // of the tools attached
    std::vector<std::string> arguments;
    const char* says;
};

class BatchRefusal : public BatchProgram, public ::testing::WithParamInterface<Refusal> {};

TEST_P(BatchRefusal, IsAUsageErrorAndWritesNothing) {
    const Refusal& c = GetParam();
    rig.toolOptions.usbSerial = c.serials[0];
    ASSERT_TRUE(startTools({c.serials.begin() + 1, c.serials.end()}));
    std::vector<std::string> arguments = {"--yes"};
    arguments.insert(arguments.end(), c.arguments.begin(), c.arguments.end());
    const ProgramRun run = cli(arguments);
    EXPECT_EQ(run.status, 2) << run.err;
    EXPECT_NE(run.err.find(c.says), std::string::npos) << run.err;
    for (VirtualTool* tool : tools) EXPECT_TRUE(tool->frames().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Options, BatchRefusal,
    ::testing::Values(Refusal{"SameUsbSerial",
                              {"KTX2-A", "KTX2-A", "KTX2-B"},
                              {"program", "--all"},
                              "Several attached tools show the USB serial KTX2-A"},
                      Refusal{"AllWithPort",
                              {"KTX2-A", "KTX2-B"},
                              {"--port", "/dev/null", "program", "--all"},
                              "--all and --port"},
                      Refusal{"ToolTwice",
                              {"KTX2-A", "KTX2-B"},
                              {"--tool", "KTX2-A", "--tool", "KTX2-A", "program"},
                              "--tool KTX2-A is given twice"},
                      Refusal{"SeveralToolsForFind",
                              {"KTX2-A", "KTX2-B"},
                              {"--tool", "KTX2-A", "--tool", "KTX2-B", "find"},
                              "Only program takes --tool"}),
    [](const auto& test) { return std::string(test.param.name); });

}  // namespace
