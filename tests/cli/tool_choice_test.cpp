// Several tools attached and none named: the commands that write never take one at random,
// the others say which they took; a named tool or port settles it.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <string>

#include "support/run_program.h"
#include "sysfs_tree_test.h"

namespace {

struct ChoiceCase {
    const char* name;
    std::vector<std::string> tools;  // USB serials of the tools attached
    std::vector<std::string> arguments;
    int status;         // 1: the command went on, to fail at the tool (its node is a file)
    const char* lists;  // a text of the tool list on standard error; null: no list
};

class ToolChoice : public SysfsTreeTest, public ::testing::WithParamInterface<ChoiceCase> {};

TEST_P(ToolChoice, WritingCommandsNeedTheToolNamed) {
    const ChoiceCase& c = GetParam();
    int n = 0;
    for (const std::string& serial : c.tools) {
        FakeUsbDevice tool;
        tool.serial = serial;
        tree.addUsbSerial("ttyACM" + std::to_string(n++), tool);
    }
    std::vector<std::string> arguments = {"--server",       "127.0.0.1:9", "--sysfs-root",
                                          tree.sysfsRoot(), "--dev-root",  tree.devRoot()};
    for (std::string argument : c.arguments) {
        if (argument == "NODE1") argument = tree.devRoot() + "/ttyACM1";
        arguments.push_back(argument);
    }
    const ProgramRun run = runProgram(cliPath(), arguments);
    EXPECT_EQ(run.status, c.status) << run.err;
    if (c.lists == nullptr) {
        EXPECT_EQ(run.err.find("tools are attached"), std::string::npos) << run.err;
        return;
    }
    EXPECT_NE(run.err.find(c.lists), std::string::npos) << run.err;
    for (size_t i = 0; i < c.tools.size(); ++i) {
        const std::string node = tree.devRoot() + "/ttyACM" + std::to_string(i);
        EXPECT_NE(run.err.find(node), std::string::npos) << run.err;
    }
}

const char* const kName = "name the one to use with --tool SERIAL or --port DEVICE";

INSTANTIATE_TEST_SUITE_P(
    Commands, ToolChoice,
    ::testing::Values(
        ChoiceCase{"Program", {"KTX2-A", "KTX2-B"}, {"program"}, 2, kName},
        ChoiceCase{"ProgramYes", {"KTX2-A", "KTX2-B"}, {"--yes", "program"}, 2, kName},
        ChoiceCase{"ProgramMemories",
                   {"KTX2-A", "KTX2-B", "KTX2-C"},
                   {"program-memories"},
                   2,
                   "3 KTX2 tools are attached"},
        ChoiceCase{
            "UploadBackups", {"KTX2-A", "KTX2-B"}, {"upload-backups"}, 2, "USB serial KTX2-B, "},
        // Only a node tells apart tools that show one serial.
        ChoiceCase{"SharedSerial", {"KTX2-A", "KTX2-A"}, {"program"}, 2, "(--port "},
        ChoiceCase{"ToolNamed", {"KTX2-A", "KTX2-B"}, {"--tool", "KTX2-B", "program"}, 1, nullptr},
        ChoiceCase{"PortNamed", {"KTX2-A", "KTX2-B"}, {"--port", "NODE1", "program"}, 1, nullptr},
        ChoiceCase{"OneTool", {"KTX2-A"}, {"program"}, 1, nullptr},
        ChoiceCase{"FindSaysWhichItTook",
                   {"KTX2-A", "KTX2-B"},
                   {"find"},
                   1,
                   "2 KTX2 tools are attached; the first is used"}),
    [](const auto& test) { return std::string(test.param.name); });

TEST(ToolChoicePorts, SaysTheWritingCommandsNeedOneNamed) {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "zarvik-choice-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    FakeSysfs tree(pattern);
    int n = 0;
    for (const char* serial : {"KTX2-A", "KTX2-B"}) {
        FakeUsbDevice tool;
        tool.serial = serial;
        tree.addUsbSerial("ttyACM" + std::to_string(n++), tool);
    }
    const std::string root[] = {"--sysfs-root", tree.sysfsRoot(), "--dev-root", tree.devRoot()};
    auto ports = [&](std::vector<std::string> arguments) {
        arguments.push_back("ports");
        arguments.insert(arguments.end(), std::begin(root), std::end(root));
        return runProgram(cliPath(), arguments).out;
    };
    const char* const note = "2 KTX2 tools are attached: the commands that write to one need it";
    EXPECT_NE(ports({}).find(note), std::string::npos) << ports({});
    EXPECT_EQ(ports({"--tool", "KTX2-A"}).find(note), std::string::npos);
    std::filesystem::remove_all(pattern);
}

}  // namespace
