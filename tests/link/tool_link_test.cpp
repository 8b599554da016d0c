#include "link/tool_link.h"

#include <asm/termbits.h>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <thread>

#include "link/port_holder.h"
#include "link/tool_commands.h"
#include "link_fixture.h"
#include "toolsim/holding_process.h"

namespace {

class ToolLinkTest : public LinkTest {
  protected:
    ToolLinkPtr linkTo(const std::string& port) {
        LinkSettings s = settings();
        s.port = port;
        return makeToolLink(s);
    }
};

TEST_F(ToolLinkTest, FailedOpensGiveTheirCodeAndLeaveNothingOpen) {
    // A by-id link whose tool is unplugged leads nowhere.
    const std::string dangling = dir_ + "/usb-Zarvik_KTX2_0001-if00";
    std::filesystem::create_symlink(dir_ + "/gone", dangling);
    struct {
        std::string port;
        int32_t lastError;
        const char* hint;
    } cases[] = {{"/dev/null", kLinkErrorSpeed, "driver is missing"},
                 {"/nonexistent/ttyACM9", kLinkErrorOpen, "is not there"},
                 {dangling, kLinkErrorOpen, "is not there"}};
    for (const auto& c : cases) {
        // A port that is no USB tool, or is not there, is stored as it is.
        ToolLinkPtr link = linkTo(c.port);
        link->settings.sysfsRoot = "/no/such/sysfs";
        ASSERT_EQ(ToolLink_findPort(link.get()), 1);
        EXPECT_EQ(link->devicePath + std::string("/") + std::to_string(link->serialState),
                  c.port + std::string("/2"));
        const int before = openDescriptorCount();
        EXPECT_EQ(ToolLink_open(link.get()), 0) << c.port;
        EXPECT_EQ(link->lastError, c.lastError) << c.port;
        EXPECT_EQ(link->open + link->descriptor, -1);
        EXPECT_EQ(openDescriptorCount(), before) << c.port;
        EXPECT_NE(ToolLink_openFailureText(link.get()).find(c.hint), std::string::npos)
            << ToolLink_openFailureText(link.get());
        EXPECT_EQ(Tool_readRunMode(link.get()), 3);
        EXPECT_EQ(ToolLink_close(link.get()), 1);
    }
    // A path that does not fit the record's buffer is not cut short, and never opened.
    ToolLinkPtr longer = linkTo("/" + std::string(kDevicePathSize, 'a'));
    EXPECT_EQ(ToolLink_findPort(longer.get()), 0);
    EXPECT_EQ(ToolLink_open(longer.get()), 0);
    EXPECT_EQ(longer->lastError, kLinkErrorOpen);
    // Root opens everything, so a refusal is given to the text directly.
    ToolLinkPtr denied = linkTo("/dev/ttyACM0");
    ASSERT_EQ(ToolLink_findPort(denied.get()), 1);
    for (int error : {EACCES, EPERM}) {
        denied->lastError = kLinkErrorOpen;
        denied->openErrno = error;
        const std::string text = ToolLink_openFailureText(denied.get());
        for (const char* part : {"/dev/ttyACM0", "70-zarvik-ktx2.rules", "dialout"}) {
            EXPECT_NE(text.find(part), std::string::npos) << text;
        }
    }
}

TEST_F(ToolLinkTest, OpensAtExactly256000BitsOnATransparentLine) {
    startTool();
    {
        // The line as another program left it: a cooked terminal at 9600 bit/s each way.
        const int fd = ::open(tool_.devicePath().c_str(), O_RDWR | O_NOCTTY);
        ASSERT_GE(fd, 0);
        struct termios2 cooked {};
        ASSERT_EQ(ioctl(fd, TCGETS2, &cooked), 0);
        cooked.c_cflag = B9600 | (B9600 << IBSHIFT) | CS7 | PARENB | CREAD;
        cooked.c_lflag = ICANON | ECHO | ISIG;
        cooked.c_iflag = ICRNL | IXON | ISTRIP;
        cooked.c_oflag = OPOST | ONLCR;
        ASSERT_EQ(ioctl(fd, TCSETS2, &cooked), 0);
        ::close(fd);
    }
    ToolLink* link = connect();
    struct termios2 line {};
    ASSERT_EQ(ioctl(link->descriptor, TCGETS2, &line), 0);
    EXPECT_EQ(line.c_ospeed, 256000u);
    // The input speed follows the output speed (no bits) or c_ispeed (BOTHER), never 9600.
    const tcflag_t input = (line.c_cflag >> IBSHIFT) & CBAUD;
    EXPECT_TRUE(input == B0 || (input == BOTHER && line.c_ispeed == 256000u)) << input;
    EXPECT_EQ(line.c_cflag & (CBAUD | CSIZE | PARENB | CSTOPB | CRTSCTS | CREAD | CLOCAL),
              static_cast<tcflag_t>(BOTHER | CS8 | CREAD | CLOCAL));
    EXPECT_EQ(line.c_lflag & (ICANON | ECHO | ISIG), 0u);
    EXPECT_EQ(line.c_iflag & (ICRNL | INLCR | IXON | ISTRIP), 0u);
    EXPECT_EQ(line.c_oflag & OPOST, 0u);

    // Every byte value crosses the line unchanged.
    Bytes all(512);
    for (size_t i = 0; i < all.size(); ++i) all[i] = static_cast<uint8_t>(i);
    ByteStringPtr image = byteString(all);
    ASSERT_EQ(Tool_writeImage(link, image.get(), 512, 0, 7, 0, 1, 0, 0), 1);
    EXPECT_EQ(tool_.dataMemory(7 * 512, 512), all);
}

TEST_F(ToolLinkTest, PortLinksLeadToTheNodeAndTheToolIsFollowedToItsNextOne) {
    startTool(ToolState_default(), "KTX2-0001");
    // Named by a link to a link, as /dev/serial/by-id names a node.
    const std::string byId = dir_ + "/by-id";
    std::filesystem::create_symlink(tool_.sysfsNode(), byId);
    LinkSettings s = settings();
    s.port = byId;
    s.sysfsRoot = dir_ + "/fake/sys";
    s.devRoot = dir_ + "/fake/dev";
    link_ = makeToolLink(s);
    ToolLink* link = link_.get();
    ASSERT_EQ(ToolLink_findPort(link), 1);
    EXPECT_EQ(link->devicePath, tool_.devicePath());
    ASSERT_EQ(ToolLink_open(link), 1);
    const int fd = link->descriptor;
    const int opened = openDescriptorCount();
    EXPECT_EQ(ToolLink_open(link), 1);  // opening twice keeps the connection
    EXPECT_EQ(link->descriptor, fd);
    EXPECT_EQ(ToolLink_close(link), 1);
    EXPECT_EQ(ToolLink_close(link), 1);
    EXPECT_EQ(openDescriptorCount(), opened - 1);
    ASSERT_EQ(ToolLink_open(link), 1);

    const std::string before = tool_.sysfsNode();
    ASSERT_EQ(Tool_reboot(link), 1);
    ToolLink_markNotOpen(link);
    ASSERT_TRUE(tool_.waitForGeneration(2, std::chrono::seconds(10)));
    EXPECT_FALSE(std::filesystem::exists(before));
    ASSERT_EQ(ToolLink_findPort(link), 1);
    EXPECT_EQ(link->devicePath, tool_.sysfsNode());
    EXPECT_NE(link->devicePath, before);
    ASSERT_EQ(ToolLink_open(link), 1);
    // The dead connection went as the new one came.
    EXPECT_EQ(openDescriptorCount(), opened);
    EXPECT_EQ(Tool_readRunMode(link), 1);
    // Marked not open once more, the record still lets go of its descriptor when freed.
    ToolLink_markNotOpen(link);
    link_.reset();
    EXPECT_EQ(openDescriptorCount(), opened - 1);
}

// Another process holds the port as ModemManager does; the open fails at once, sends
// nothing and names the holder, found under the real /proc.
TEST_F(ToolLinkTest, APortHeldElsewhereFailsAtOnceNamingItsHolder) {
    startTool();
    struct {
        const char* holder;
        const char* advice;
    } cases[] = {{"ModemManager", "To keep ModemManager away from the tool, its udev rule"},
                 {"minicom", "Close that program and try again."}};
    for (const auto& c : cases) {
        HoldingProcess other;
        std::string error;
        ASSERT_TRUE(other.hold(tool_.devicePath(), c.holder, &error)) << error;
        ToolLinkPtr link = linkTo(linkPath());
        ASSERT_EQ(ToolLink_findPort(link.get()), 1);
        const int before = openDescriptorCount();
        EXPECT_EQ(ToolLink_open(link.get()), 0);
        EXPECT_EQ(link->lastError, kLinkErrorBusy);
        EXPECT_EQ(openDescriptorCount(), before);
        EXPECT_EQ(ToolLink_openFailureText(link.get())
                      .rfind("The port " + tool_.devicePath() + " is in use by " + c.holder +
                                 " (pid " + std::to_string(other.pid()) + "). " + c.advice,
                             0),
                  0u)
            << ToolLink_openFailureText(link.get());
        other.release();
        EXPECT_EQ(ToolLink_open(link.get()), 1) << ToolLink_openFailureText(link.get());
    }
    EXPECT_TRUE(tool_.frames().empty());
}

// The port is ours alone while open, and free again once closed.
TEST_F(ToolLinkTest, AnOpenLinkKeepsOthersOutUntilClosed) {
    startTool();
    ToolLink* first = connect();
    ToolLinkPtr second = linkTo(linkPath());
    ASSERT_EQ(ToolLink_findPort(second.get()), 1);
    EXPECT_EQ(ToolLink_open(second.get()), 0);
    // The only other user of the node is this process's own virtual tool: no one to name.
    EXPECT_EQ(ToolLink_openFailureText(second.get()),
              "The port " + tool_.devicePath() +
                  " is in use by another program. Close that program "
                  "and try again.");
    HoldingProcess other;
    EXPECT_FALSE(other.hold(tool_.devicePath()));
    EXPECT_EQ(Tool_readRunMode(first), 1);
    ToolLink_close(first);
    EXPECT_EQ(ToolLink_open(second.get()), 1);
}

// What a user's own /proc shows of a holder: another user's lock only through /proc/locks,
// a non-locking program only through its descriptors.
TEST_F(ToolLinkTest, TheHolderIsFoundByItsLockOrByItsDescriptor) {
    startTool();
    namespace fs = std::filesystem;
    struct stat node {};
    ASSERT_EQ(::stat(tool_.devicePath().c_str(), &node), 0);
    char lockLine[128];
    std::snprintf(lockLine, sizeof lockLine, "1: FLOCK  ADVISORY  WRITE 88 %02x:%02x:%llu 0 EOF\n",
                  major(node.st_dev), minor(node.st_dev),
                  static_cast<unsigned long long>(node.st_ino));
    struct {
        const char* locks;  // null: no lock anywhere
        int pid;
    } cases[] = {
        {lockLine, 88}, {nullptr, 77}, {"1: FLOCK  ADVISORY  WRITE 99 00:01:2 0 EOF\n", 77}};
    for (const auto& c : cases) {
        const fs::path proc = fs::path(dir_) / "proc";
        fs::remove_all(proc);
        fs::create_directories(proc / "77" / "fd");
        fs::create_directories(proc / "88" / "fd");
        std::ofstream(proc / "77" / "comm") << "picocom\n";
        std::ofstream(proc / "88" / "comm") << "zarvik-cli\n";
        fs::create_symlink(linkPath(), proc / "77" / "fd" / "3");
        fs::create_symlink("/dev/null", proc / "88" / "fd" / "0");
        if (c.locks) std::ofstream(proc / "locks") << c.locks;
        std::optional<PortHolder> holder = PortHolder_find(linkPath(), proc.string());
        ASSERT_TRUE(holder.has_value());
        EXPECT_EQ(holder->pid, c.pid);
        EXPECT_EQ(holder->name, c.pid == 77 ? "picocom" : "zarvik-cli");
    }
    EXPECT_FALSE(PortHolder_find("/dev/zero", (fs::path(dir_) / "proc").string()));
}

// A holder no user can see (ModemManager runs as root and sets the line exclusive): a running
// ModemManager, found under the real /proc, is named unless the device's udev record tells it
// to leave the device alone; a pseudo-terminal, which it never probes, names no one.
TEST_F(ToolLinkTest, AnUnseenHolderIsTakenForARunningModemManager) {
    startTool();
    namespace fs = std::filesystem;
    HoldingProcess modemManager;
    std::string error;
    ASSERT_TRUE(modemManager.hold("/dev/null", "ModemManager", &error)) << error;
    const fs::path udev = fs::path(dir_) / "udev";
    fs::create_directories(udev);
    struct {
        const char* record;  // the udev record of /dev/zero (1:5); null: none
        bool named;
    } cases[] = {{nullptr, true},
                 {"E:ID_VENDOR_ID=04d8\nE:ID_MM_CANDIDATE=1\n", true},
                 {"E:ID_VENDOR_ID=04d8\nE:ID_MM_DEVICE_IGNORE=1\n", false}};
    for (const auto& c : cases) {
        fs::remove(udev / "c1:5");
        if (c.record) std::ofstream(udev / "c1:5") << c.record;
        std::optional<PortHolder> prober = PortHolder_likelyProber("/dev/zero", "/proc", udev);
        ASSERT_EQ(prober.has_value(), c.named) << (c.record ? c.record : "no record");
        if (!prober) continue;
        EXPECT_EQ(prober->name, "ModemManager");
        std::string comm;
        std::getline(std::ifstream("/proc/" + std::to_string(prober->pid) + "/comm"), comm);
        EXPECT_EQ(comm, "ModemManager");
    }
    fs::remove(udev / "c1:5");
    EXPECT_FALSE(PortHolder_likelyProber(tool_.devicePath(), "/proc", udev));
    modemManager.release();
    fs::create_directories(fs::path(dir_) / "proc" / "77");
    std::ofstream(fs::path(dir_) / "proc" / "77" / "comm") << "picocom\n";
    EXPECT_FALSE(PortHolder_likelyProber("/dev/zero", (fs::path(dir_) / "proc").string(), udev));
}

}  // namespace
