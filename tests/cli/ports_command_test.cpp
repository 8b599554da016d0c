#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <string>

#include "support/run_program.h"
#include "sysfs_tree_test.h"

namespace {

class PortsCommandTest : public SysfsTreeTest {
  protected:
    ProgramRun ports(std::vector<std::string> global = {}) const {
        global.insert(global.end(),
                      {"ports", "--sysfs-root", tree.sysfsRoot(), "--dev-root", tree.devRoot()});
        return runProgram(cliPath(), global);
    }
};

TEST_F(PortsCommandTest, ListsUsbSerialDevicesAndMarksTheTool) {
    tree.addBoardSerial("ttyS0");
    tree.addUsbSerial("ttyUSB0", 0x0403, 0x6001, true, "FT232R USB UART");
    FakeUsbDevice tool;
    tool.serial = "KTX2-0001";
    tree.addUsbSerial("ttyACM0", tool);
    const std::string out = ports({"--tool", "KTX2-0002"}).out;
    EXPECT_NE(out.find(tree.devRoot() + "/ttyACM0"), std::string::npos) << out;
    EXPECT_NE(out.find("04d8:f32b  KTX2-0001        * KTX2 tool"), std::string::npos) << out;
    EXPECT_NE(out.find("0403:6001  -                FT232R USB UART"), std::string::npos) << out;
    EXPECT_NE(out.find("USB serial KTX2-0002 (given by --tool or ZARVIK_TOOL), which is not "
                       "attached."),
              std::string::npos)
        << out;
    EXPECT_EQ(out.find("ttyS0"), std::string::npos) << out;
    EXPECT_LT(out.find("ttyACM0"), out.find("ttyUSB0"));  // name order

    ProgramRun json = ports({"--json", "--port", "/dev/ttyKTX", "--tool", "KTX2-0001"});
    EXPECT_EQ(json.status, 0);
    EXPECT_NE(json.out.find(
                  R"("tool":true,"usbId":"04d8:f32b","usbPortPath":"1-2","usbSerial":"KTX2-0001")"),
              std::string::npos)
        << json.out;
    EXPECT_NE(json.out.find(R"({"attached":true,"event":"namedTool","usbSerial":"KTX2-0001"})"),
              std::string::npos);
    EXPECT_NE(json.out.find(R"({"event":"explicitPort","path":"/dev/ttyKTX"})"), std::string::npos);
}

TEST_F(PortsCommandTest, NothingAttached) {
    tree.addVirtualTerminal("tty0");
    ProgramRun run = ports();
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "No USB serial devices found.\n");
    EXPECT_NE(run.err.find("No KTX2 tool is attached"), std::string::npos) << run.err;
    // The tool there and open to this user: nothing to tell.
    tree.addUsbSerial("ttyACM0", FakeUsbDevice{});
    EXPECT_EQ(ports().err, "");
}

}  // namespace
