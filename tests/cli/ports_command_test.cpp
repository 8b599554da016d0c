#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "toolsim/fake_sysfs.h"

namespace {

// Runs zarvik-cli; its exit status and everything it printed.
std::pair<int, std::string> runCli(const std::string& arguments) {
    std::string out;
    FILE* pipe = popen((std::string(ZARVIK_CLI) + " " + arguments + " 2>&1").c_str(), "r");
    if (pipe == nullptr) return {-1, out};
    char buffer[512];
    for (size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, n);
    const int raw = pclose(pipe);
    return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, out};
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
    std::string ports(const FakeSysfs& tree, const std::string& global = "") const {
        return global + " ports --sysfs-root " + tree.sysfsRoot() + " --dev-root " + tree.devRoot();
    }
    std::string root_;
};

TEST_F(PortsCommandTest, ListsUsbSerialDevicesAndMarksTheTool) {
    FakeSysfs tree(root_);
    tree.addBoardSerial("ttyS0");
    tree.addUsbSerial("ttyUSB0", 0x0403, 0x6001, true, "FT232R USB UART");
    tree.addUsbSerial("ttyACM0", 0x04D8, 0xF32B);
    auto [status, out] = runCli(ports(tree));
    EXPECT_EQ(status, 0) << out;
    EXPECT_NE(out.find(tree.devRoot() + "/ttyACM0"), std::string::npos) << out;
    EXPECT_NE(out.find("04d8:f32b  * KTX2 tool"), std::string::npos) << out;
    EXPECT_NE(out.find("0403:6001  FT232R USB UART"), std::string::npos) << out;
    EXPECT_EQ(out.find("ttyS0"), std::string::npos) << out;
    EXPECT_LT(out.find("ttyACM0"), out.find("ttyUSB0"));  // name order

    auto [jsonStatus, json] = runCli(ports(tree, "--json --port /dev/ttyKTX"));
    EXPECT_EQ(jsonStatus, 0);
    EXPECT_NE(json.find(R"("tool":true,"usbId":"04d8:f32b")"), std::string::npos) << json;
    EXPECT_NE(json.find(R"({"event":"explicitPort","path":"/dev/ttyKTX"})"), std::string::npos);
}

TEST_F(PortsCommandTest, NothingAttached) {
    FakeSysfs tree(root_);
    tree.addVirtualTerminal("tty0");
    auto [status, out] = runCli(ports(tree));
    EXPECT_EQ(status, 0);
    EXPECT_EQ(out, "No USB serial devices found.\n");
}

}  // namespace
