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

class PortDiscoveryTest : public LinkTest, public ::testing::WithParamInterface<DiscoveryCase> {};

TEST_P(PortDiscoveryTest, FindsTheFirstToolInNameOrder) {
    const DiscoveryCase& c = GetParam();
    FakeSysfs tree(dir_);
    c.build(tree);

    ToolLinkPtr link(ToolLink_create());
    link->settings.sysfsRoot = tree.sysfsRoot();
    link->settings.devRoot = tree.devRoot();
    std::strcpy(link->devicePath, "unchanged");
    const bool found = c.found != nullptr;
    EXPECT_EQ(ToolLink_findPort(link.get()), found ? 1 : 0);
    EXPECT_EQ(link->devicePath, found ? tree.devRoot() + "/" + c.found : "unchanged");
    EXPECT_EQ(link->serialState, found ? 2 : 0);
}

constexpr uint16_t kVendor = 0x04D8, kProduct = 0xF32B;

// clang-format off
INSTANTIATE_TEST_SUITE_P(Trees, PortDiscoveryTest, ::testing::Values(
    DiscoveryCase{"EmptyTree", [](FakeSysfs&) {}, nullptr},
    DiscoveryCase{"OnlyTheTool", [](FakeSysfs& tree) { tree.addUsbSerial("ttyACM0", kVendor, kProduct); }, "ttyACM0"},
    DiscoveryCase{"AmongOtherDevices", [](FakeSysfs& tree) {
        tree.addVirtualTerminal("tty0");
        tree.addBoardSerial("ttyS0");
        tree.addUsbSerial("ttyUSB0", 0x0403, 0x6001, true, "FT232R USB UART");
        tree.addUsbSerial("ttyACM3", kVendor, kProduct);
    }, "ttyACM3"},
    DiscoveryCase{"SortedNameOrderDecides", [](FakeSysfs& tree) {
        tree.addUsbSerial("ttyACM1", kVendor, kProduct);
        tree.addUsbSerial("ttyACM0", kVendor, kProduct);
    }, "ttyACM0"},
    DiscoveryCase{"FirstMatchWithoutNodeEndsTheSearch", [](FakeSysfs& tree) {
        tree.addUsbSerial("ttyACM0", kVendor, kProduct, false);
        tree.addUsbSerial("ttyACM1", kVendor, kProduct, true);
    }, nullptr},
    DiscoveryCase{"SameVendorOtherProduct", [](FakeSysfs& tree) { tree.addUsbSerial("ttyACM0", kVendor, 0x000A); }, nullptr},
    DiscoveryCase{"OtherVendorSameProduct", [](FakeSysfs& tree) { tree.addUsbSerial("ttyACM0", 0x1234, kProduct); }, nullptr}),
    [](const auto& p) { return std::string(p.param.name); });
// clang-format on

}  // namespace
