#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>

#include "link/access_guidance.h"
#include "link/port_discovery.h"
#include "link/tool_link.h"
#include "link/usb_identity.h"
#include "link_fixture.h"
#include "toolsim/fake_sysfs.h"

namespace {

struct DiscoveryCase {
    const char* name;
    std::function<void(FakeSysfs&)> build;
    const char* found;          // tty name whose node is stored, or null for none
    const char* tool = "";      // the USB serial asked for
    const char* guidance = "";  // part of what the user is told when nothing is found
    bool amongOthers = false;   // other tools were attached when it was found
};

class PortDiscoveryTest : public LinkTest, public ::testing::WithParamInterface<DiscoveryCase> {};

TEST_P(PortDiscoveryTest, FindsTheFirstToolInNameOrder) {
    const DiscoveryCase& c = GetParam();
    FakeSysfs tree(dir_);
    c.build(tree);

    ToolLinkPtr link(ToolLink_create());
    link->settings.sysfsRoot = tree.sysfsRoot();
    link->settings.devRoot = tree.devRoot();
    link->settings.tool = c.tool;
    std::strcpy(link->devicePath, "unchanged");
    const bool found = c.found != nullptr;
    EXPECT_EQ(ToolLink_findPort(link.get()), found ? 1 : 0);
    EXPECT_EQ(link->devicePath, found ? tree.devRoot() + "/" + c.found : "unchanged");
    EXPECT_EQ(link->serialState, found ? 2 : 0);
    if (found) {
        EXPECT_EQ(link->foundAmongOthers, c.amongOthers ? 1 : 0);
    }
    const std::string guidance = ToolLink_notFoundText(link.get());
    if (found) {
        EXPECT_EQ(guidance, "");
    } else {
        EXPECT_NE(guidance.find(c.guidance), std::string::npos) << guidance;
        EXPECT_NE(guidance.find("plug"), std::string::npos) << guidance;
    }
}

constexpr uint16_t kVendor = 0x04D8, kProduct = 0xF32B;

FakeUsbDevice toolWithSerial(const char* serial) {
    FakeUsbDevice device;
    if (serial != nullptr) device.serial = serial;
    return device;
}

void twoTools(FakeSysfs& tree) {
    tree.addUsbSerial("ttyACM0", toolWithSerial("KTX2-A"));
    tree.addUsbSerial("ttyACM1", toolWithSerial("KTX2-B"));
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Trees, PortDiscoveryTest, ::testing::Values(
    DiscoveryCase{"EmptyTree", [](FakeSysfs&) {}, nullptr, "", "No KTX2 tool is attached: no USB device 04d8:f32b is listed. Check that the USB cable"},
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
    }, "ttyACM0", "", "", true},
    DiscoveryCase{"FirstMatchWithoutNodeEndsTheSearch", [](FakeSysfs& tree) {
        tree.addUsbSerial("ttyACM0", kVendor, kProduct, false);
        tree.addUsbSerial("ttyACM1", kVendor, kProduct, true);
    }, nullptr, "", "attached but its serial device"},
    DiscoveryCase{"SameVendorOtherProduct", [](FakeSysfs& tree) { tree.addUsbSerial("ttyACM0", kVendor, 0x000A); }, nullptr, "", "No KTX2 tool is attached: no USB device 04d8:f32b is listed. Check that the USB cable"},
    DiscoveryCase{"OtherVendorSameProduct", [](FakeSysfs& tree) { tree.addUsbSerial("ttyACM0", 0x1234, kProduct); }, nullptr, "", "04d8:f32b is listed"},
    DiscoveryCase{"UsbSerialPicksTheSecond", twoTools, "ttyACM1", "KTX2-B", "", true},
    DiscoveryCase{"NumbersComparedAsNumbers", [](FakeSysfs& tree) {
        tree.addUsbSerial("ttyACM10", toolWithSerial("KTX2-A"));
        tree.addUsbSerial("ttyACM2", toolWithSerial("KTX2-B"));
    }, "ttyACM2", "", "", true},
    // A composite tool is one tool, reached through its first interface.
    DiscoveryCase{"CompositeToolFirstInterface", [](FakeSysfs& tree) {
        tree.addSecondInterface(tree.addUsbSerial("ttyACM1", toolWithSerial("KTX2-A")), "ttyACM0");
    }, "ttyACM1"},
    DiscoveryCase{"ToolWithoutSerialDriver", [](FakeSysfs& tree) {
        tree.addUsbSerial("ttyUSB0", 0x0403, 0x6001);
        tree.addUnservedUsbDevice(toolWithSerial("KTX2-A"));
    }, nullptr, "", "The KTX2 tool is attached (USB device 04d8:f32b), but no serial driver took it"},
    DiscoveryCase{"UsbSerialOfNoAttachedTool", twoTools, nullptr, "KTX2-C",
        "No KTX2 tool with USB serial KTX2-C is attached (zarvik-cli ports lists those that are). Check"},
    DiscoveryCase{"UsbSerialOfAnotherDevice", [](FakeSysfs& tree) {
        tree.addUsbSerial("ttyUSB0", FakeUsbDevice{0x0403, 0x6001, "", "KTX2-B"});
        tree.addUsbSerial("ttyACM0", toolWithSerial("KTX2-A"));
    }, nullptr, "KTX2-B", "USB serial KTX2-B is attached"},
    DiscoveryCase{"UsbSerialOfAToolWithoutNode", [](FakeSysfs& tree) {
        tree.addUsbSerial("ttyACM0", toolWithSerial("KTX2-B"), false);
        tree.addUsbSerial("ttyACM1", toolWithSerial("KTX2-B"));
    }, nullptr, "KTX2-B", "ttyACM0 is missing"}),
    [](const auto& p) { return std::string(p.param.name); });
// clang-format on

// A tool the user may not open: the rule to install, or, once it is, plugging in again.
using AccessGuidanceTest = LinkTest;

TEST_F(AccessGuidanceTest, ToolClosedToTheUser) {
    const std::string rules = dir_;
    SerialPortInfo tool{"ttyACM0", "/dev/ttyACM0", true, false, kVendor, kProduct};
    const std::vector<std::string> dirs = {rules + "/missing", rules};
    const std::string before = AccessGuidance_forPorts({tool}, "", dirs);
    EXPECT_EQ(before,
              "The KTX2 tool is attached as /dev/ttyACM0, but you may not open it. Install the "
              "updater's udev rule (sudo cp 70-zarvik-ktx2.rules /etc/udev/rules.d/ && sudo "
              "udevadm control --reload) or add your user to the dialout group (sudo usermod "
              "-aG dialout $USER, then log out and in again), then unplug the tool and plug it "
              "in again.");
    std::ofstream(rules + "/70-zarvik-ktx2.rules") << "\n";
    const std::string after = AccessGuidance_forPorts({tool}, "", dirs);
    EXPECT_NE(after.find("rule (" + rules +
                         "/70-zarvik-ktx2.rules) is installed: unplug the "
                         "tool and plug it in again."),
              std::string::npos)
        << after;
    EXPECT_NE(after.find("dialout"), std::string::npos);
    tool.accessible = true;
    EXPECT_EQ(AccessGuidance_forPorts({tool}, "", dirs), "");
}

// A followed tool that is away (rebooting) is waited for; what appears meanwhile is taken
// only when it is that tool: alone in its USB socket, perhaps under its bootloader's serial.
TEST(PortDiscoveryFollow, AnAwayToolIsNotReplacedByAnother) {
    const struct {
        const char* name;
        bool otherBeside;     // a second tool attached from the start
        const char* appears;  // while away: "other" tool in another socket, "bootloader" serial
        bool taken;
        bool named = false;  // the user named the tool's USB serial
    } cases[] = {
        {"the tool beside", true, "", false},
        {"a tool attached meanwhile", false, "other", false},
        {"its bootloader, alone", false, "bootloader", true},
        {"its bootloader, alone, the tool named", false, "bootloader", true, true},
        {"a tool attached meanwhile, the tool named", false, "other", false, true},
        {"its bootloader beside another", true, "bootloader", false},
        {"its bootloader beside another, the tool named", true, "bootloader", false, true}};
    char pattern[] = "/tmp/zarvik-follow-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    int index = 0;
    for (const auto& c : cases) {
        FakeSysfs tree(std::string(pattern) + "/" + std::to_string(index++));
        const std::string first = tree.addUsbSerial("ttyACM0", toolWithSerial("KTX2-A"));
        if (c.otherBeside) tree.addUsbSerial("ttyACM1", toolWithSerial("KTX2-B"));
        ToolLinkPtr link(ToolLink_create());
        link->settings.sysfsRoot = tree.sysfsRoot();
        link->settings.devRoot = tree.devRoot();
        if (c.named) link->settings.tool = "KTX2-A";
        ASSERT_EQ(ToolLink_findPort(link.get()), 1) << c.name;
        link->serialState = 1;  // as a successful ToolLink_open leaves it (the nodes are files)

        tree.detachTty(first, "ttyACM0");
        std::string appeared;
        if (std::string(c.appears) == "other") {
            tree.addUsbSerial("ttyACM0", toolWithSerial("KTX2-C"));  // the node it had
            appeared = "ttyACM0";
        }
        if (std::string(c.appears) == "bootloader") {
            tree.removeUsbDevice(first);
            ASSERT_EQ(tree.addUsbDevice(toolWithSerial("KTX2-BOOT")), first) << c.name;
            appeared = tree.attachTty(first, "/dev/null", "ttyACM0");
        }
        EXPECT_EQ(ToolLink_findPort(link.get()), c.taken ? 1 : 0) << c.name;
        if (c.taken) {
            EXPECT_EQ(link->devicePath, tree.devRoot() + "/" + appeared) << c.name;
            continue;
        }
        // Nothing is left that an open could take for the tool.
        for (const SerialPortInfo& port : PortDiscovery_list(tree.sysfsRoot(), tree.devRoot())) {
            EXPECT_NE(link->devicePath, port.devicePath) << c.name;
        }
        if (!appeared.empty()) continue;
        const std::string back = tree.attachTty(first, "/dev/null", "ttyACM0");
        EXPECT_EQ(ToolLink_findPort(link.get()), 1) << c.name;
        EXPECT_EQ(link->devicePath, tree.devRoot() + "/" + back) << c.name;
    }
    std::filesystem::remove_all(pattern);
}

// What a device writes into its serial attribute reaches terminals and JSON as printable
// ASCII, and only when a real device could have written it.
TEST(PortDiscoverySerial, OddSerialAttributes) {
    const std::string page(4096, 'x');
    const std::string longest(126 * 3, 'y');
    const struct {
        std::optional<std::string> raw;  // none: no serial file
        std::string listed;
    } cases[] = {{std::nullopt, ""},
                 {"KTX2-0001", "KTX2-0001"},
                 {"  KTX2-0001  \r", "KTX2-0001"},
                 {"", ""},
                 {"   ", ""},
                 {"AB\nCD", "AB"},
                 {std::string("A\0B\x01\x7F\xFF", 6), "A\\x00B\\x01\\x7F\\xFF"},
                 {"\xC3\xA9t\xC3", "\\xC3\\xA9t\\xC3"},  // UTF-8 and a cut-off rest
                 {"a\\x41", "a\\x5Cx41"},                // a backslash cannot fake an escape
                 {"\x1B[31mred", "\\x1B[31mred"},
                 {longest, longest},
                 {longest + "y", ""},
                 {page + page, ""}};
    char pattern[] = "/tmp/zarvik-serial-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    int index = 0;
    for (const auto& c : cases) {
        const std::string root = std::string(pattern) + "/" + std::to_string(index++);
        FakeSysfs tree(root);
        FakeUsbDevice device;
        device.serial = c.raw;
        device.product = c.raw.value_or("KTX2");
        tree.addUsbSerial("ttyACM0", device);
        const std::vector<SerialPortInfo> ports =
            PortDiscovery_list(tree.sysfsRoot(), tree.devRoot());
        ASSERT_EQ(ports.size(), 1u) << index;
        EXPECT_EQ(ports[0].usbSerial, c.listed) << index;
        EXPECT_EQ(ports[0].product, c.raw ? c.listed : "KTX2") << index;
        EXPECT_EQ(ports[0].usbPortPath, "1-1");
        // Without a usable serial the tool is still found, and followed by its socket.
        const UsbIdentity identity = UsbIdentity_of(ports[0]);
        EXPECT_EQ(identity.usbSerial + "|" + identity.usbPortPath, c.listed + "|1-1") << index;
    }
    std::filesystem::remove_all(pattern);
}

}  // namespace
