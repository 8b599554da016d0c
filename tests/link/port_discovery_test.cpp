#include <cstring>
#include <functional>

#include "link/tool_link.h"
#include "link_fixture.h"
#include "toolsim/fake_sysfs.h"

namespace {

struct DiscoveryCase {
    const char* name;
    std::function<void(FakeSysfs&)> build;
    const char* found;  // tty name whose node is stored, or null for none
};

class PortDiscoveryTest : public ::testing::TestWithParam<DiscoveryCase> {};

TEST_P(PortDiscoveryTest, FindsTheFirstToolInNameOrder) {
    const DiscoveryCase& c = GetParam();
    TempDir dir;
    FakeSysfs tree(dir.path());
    c.build(tree);

    ToolLinkPtr link(ToolLink_create());
    link->settings.sysfsRoot = tree.sysfsRoot();
    link->settings.devRoot = tree.devRoot();
    std::strcpy(link->devicePath, "unchanged");
    const int result = ToolLink_findPort(link.get());
    if (c.found == nullptr) {
        EXPECT_EQ(result, 0);
        EXPECT_STREQ(link->devicePath, "unchanged");
        EXPECT_EQ(link->serialState, 0);
    } else {
        EXPECT_EQ(result, 1);
        EXPECT_EQ(std::string(link->devicePath), tree.devRoot() + "/" + c.found);
        EXPECT_EQ(link->serialState, 2);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Trees, PortDiscoveryTest,
    ::testing::Values(
        DiscoveryCase{"EmptyTree", [](FakeSysfs&) {}, nullptr},
        DiscoveryCase{"OnlyTheTool",
                      [](FakeSysfs& tree) { tree.addUsbSerial("ttyACM0", 0x04D8, 0xF32B); },
                      "ttyACM0"},
        DiscoveryCase{"AmongOtherDevices",
                      [](FakeSysfs& tree) {
                          tree.addVirtualTerminal("tty0");
                          tree.addBoardSerial("ttyS0");
                          tree.addUsbSerial("ttyUSB0", 0x0403, 0x6001, true, "FT232R USB UART");
                          tree.addUsbSerial("ttyACM3", 0x04D8, 0xF32B);
                      },
                      "ttyACM3"},
        DiscoveryCase{"SortedNameOrderDecides",
                      [](FakeSysfs& tree) {
                          tree.addUsbSerial("ttyACM1", 0x04D8, 0xF32B);
                          tree.addUsbSerial("ttyACM0", 0x04D8, 0xF32B);
                      },
                      "ttyACM0"},
        DiscoveryCase{"FirstMatchWithoutNodeEndsTheSearch",
                      [](FakeSysfs& tree) {
                          tree.addUsbSerial("ttyACM0", 0x04D8, 0xF32B, false);
                          tree.addUsbSerial("ttyACM1", 0x04D8, 0xF32B, true);
                      },
                      nullptr},
        DiscoveryCase{"SameVendorOtherProduct",
                      [](FakeSysfs& tree) { tree.addUsbSerial("ttyACM0", 0x04D8, 0x000A); },
                      nullptr},
        DiscoveryCase{"OtherVendorSameProduct",
                      [](FakeSysfs& tree) { tree.addUsbSerial("ttyACM0", 0x1234, 0xF32B); },
                      nullptr}),
    [](const ::testing::TestParamInfo<DiscoveryCase>& testInfo) { return testInfo.param.name; });

}  // namespace
