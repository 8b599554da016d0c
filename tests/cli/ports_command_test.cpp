#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>

#include "toolsim/fake_sysfs.h"

namespace {

struct CliRun {
    int status = -1;
    std::string out;
};

CliRun runCli(const std::string& arguments) {
    CliRun run;
    std::string command = std::string(ZARVIK_CLI) + " " + arguments + " 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return run;
    char buffer[512];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) run.out.append(buffer, n);
    int raw = pclose(pipe);
    run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    return run;
}

class PortsCommandTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "zarvik-ports-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        root_ = pattern;
        ::unsetenv("ZARVIK_PORT");
    }
    void TearDown() override { std::filesystem::remove_all(root_); }
    std::string roots(const FakeSysfs& tree) const {
        return "--sysfs-root " + tree.sysfsRoot() + " --dev-root " + tree.devRoot();
    }
    std::string root_;
};

TEST_F(PortsCommandTest, ListsUsbSerialDevicesAndMarksTheTool) {
    FakeSysfs tree(root_);
    tree.addBoardSerial("ttyS0");
    tree.addUsbSerial("ttyUSB0", 0x0403, 0x6001, true, "FT232R USB UART");
    tree.addUsbSerial("ttyACM0", 0x04D8, 0xF32B);
    CliRun run = runCli("ports " + roots(tree));
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_NE(run.out.find(tree.devRoot() + "/ttyACM0"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("04d8:f32b  * KTX2 tool"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("0403:6001  FT232R USB UART"), std::string::npos) << run.out;
    EXPECT_EQ(run.out.find("ttyS0"), std::string::npos) << run.out;
    // The tool comes first: name order.
    EXPECT_LT(run.out.find("ttyACM0"), run.out.find("ttyUSB0"));
}

TEST_F(PortsCommandTest, JsonGivesOneObjectPerDevice) {
    FakeSysfs tree(root_);
    tree.addUsbSerial("ttyACM0", 0x04D8, 0xF32B, false);
    CliRun run = runCli("--json --port /dev/ttyKTX ports " + roots(tree));
    ASSERT_EQ(run.status, 0) << run.out;
    std::vector<nlohmann::json> lines;
    size_t at = 0;
    while (at < run.out.size()) {
        size_t end = run.out.find('\n', at);
        lines.push_back(nlohmann::json::parse(run.out.substr(at, end - at)));
        at = end + 1;
    }
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0]["usbId"], "04d8:f32b");
    EXPECT_EQ(lines[0]["tool"], true);
    EXPECT_EQ(lines[0]["nodeExists"], false);
    EXPECT_EQ(lines[1]["event"], "explicitPort");
    EXPECT_EQ(lines[1]["path"], "/dev/ttyKTX");
}

TEST_F(PortsCommandTest, NothingAttached) {
    FakeSysfs tree(root_);
    tree.addVirtualTerminal("tty0");
    CliRun run = runCli("ports " + roots(tree));
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "No USB serial devices found.\n");
}

}  // namespace
