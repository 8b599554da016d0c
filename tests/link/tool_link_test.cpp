#include "link/tool_link.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "link/tool_commands.h"
#include "link_fixture.h"

namespace {

class ToolLinkTest : public LinkTest {};

ToolLinkPtr linkTo(const std::string& port) {
    LinkSettings s;
    s.port = port;
    s.timing = testTiming();
    return makeToolLink(s);
}

TEST_F(ToolLinkTest, NewRecordIsClosedAndEmpty) {
    ToolLinkPtr link(ToolLink_create());
    EXPECT_EQ(link->open, 0);
    EXPECT_EQ(link->transportKind, 0);
    EXPECT_EQ(link->serialState, 0);
    EXPECT_EQ(link->lastError, 0);
    EXPECT_EQ(link->vendorArgument, nullptr);
    EXPECT_EQ(link->settings.sysfsRoot, "/sys");
    EXPECT_EQ(ToolLink_close(link.get()), 1);
}

TEST_F(ToolLinkTest, ExplicitPortIsStoredWithoutLookingAtUsb) {
    ToolLinkPtr link = linkTo("/no/such/device");
    link->settings.sysfsRoot = "/no/such/sysfs";
    link->transportKind = 1;
    EXPECT_EQ(ToolLink_findPort(link.get()), 1);
    EXPECT_STREQ(link->devicePath, "/no/such/device");
    EXPECT_EQ(link->serialState, 2);
    EXPECT_EQ(link->transportKind, 0);

    // A path that does not fit the record's buffer is not cut short.
    ToolLinkPtr longer = linkTo("/" + std::string(kDevicePathSize, 'a'));
    EXPECT_EQ(ToolLink_findPort(longer.get()), 0);
    EXPECT_EQ(longer->serialState, 0);
}

struct OpenFailureCase {
    const char* name;
    const char* port;
    int32_t lastError;
    const char* hint;
};

class OpenFailureTest : public ::testing::TestWithParam<OpenFailureCase> {};

TEST_P(OpenFailureTest, FailsWithItsCodeAndLeavesNothingOpen) {
    const OpenFailureCase& c = GetParam();
    ToolLinkPtr link = linkTo(c.port);
    ASSERT_EQ(ToolLink_findPort(link.get()), 1);
    const int before = openDescriptorCount();
    EXPECT_EQ(ToolLink_open(link.get()), 0);
    EXPECT_EQ(link->lastError, c.lastError);
    EXPECT_EQ(link->open, 0);
    EXPECT_EQ(link->descriptor, -1);
    EXPECT_EQ(openDescriptorCount(), before);
    EXPECT_NE(ToolLink_openFailureText(link.get()).find(c.hint), std::string::npos)
        << ToolLink_openFailureText(link.get());
    // Nothing to exchange with, and closing is harmless.
    EXPECT_EQ(Tool_readRunMode(link.get()), 3);
    EXPECT_EQ(ToolLink_close(link.get()), 1);
}

INSTANTIATE_TEST_SUITE_P(Ports, OpenFailureTest,
                         ::testing::Values(OpenFailureCase{"DevNullRefusesTheSpeed", "/dev/null",
                                                           kLinkErrorSpeed, "driver is missing"},
                                           OpenFailureCase{"MissingPath", "/nonexistent/ttyACM9",
                                                           kLinkErrorOpen, "is not there"}),
                         [](const ::testing::TestParamInfo<OpenFailureCase>& testInfo) {
                             return testInfo.param.name;
                         });

TEST_F(ToolLinkTest, PermissionDeniedSaysHowToGetAccess) {
    if (geteuid() == 0) GTEST_SKIP() << "root opens everything";
    std::string path = dir_.path() + "/locked";
    FILE* f = std::fopen(path.c_str(), "w");
    ASSERT_NE(f, nullptr);
    std::fclose(f);
    chmod(path.c_str(), 0);
    ToolLinkPtr link = linkTo(path);
    ASSERT_EQ(ToolLink_findPort(link.get()), 1);
    EXPECT_EQ(ToolLink_open(link.get()), 0);
    EXPECT_EQ(link->lastError, kLinkErrorOpen);
    EXPECT_EQ(link->openErrno, EACCES);
    EXPECT_NE(ToolLink_openFailureText(link.get()).find("dialout"), std::string::npos);
}

TEST_F(ToolLinkTest, OpenWithoutFindingFails) {
    ToolLinkPtr link(ToolLink_create());
    EXPECT_EQ(ToolLink_open(link.get()), 0);
    EXPECT_EQ(link->lastError, kLinkErrorOpen);
    EXPECT_EQ(link->open, 0);
}

TEST_F(ToolLinkTest, OpensAtExactly256000BitsOnATransparentLine) {
    startTool();
    ToolLink* link = connect();
    EXPECT_EQ(link->serialState, 1);
    EXPECT_EQ(link->open, 1);
    EXPECT_EQ(link->lastError, 0);
    struct termios2 line {};
    ASSERT_EQ(ioctl(link->descriptor, TCGETS2, &line), 0);
    EXPECT_EQ(line.c_ospeed, 256000u);
    EXPECT_EQ(line.c_ispeed, 256000u);
    EXPECT_EQ(line.c_cflag & CBAUD, static_cast<tcflag_t>(BOTHER));
    EXPECT_EQ(line.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(line.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
    EXPECT_NE(line.c_cflag & CREAD, 0u);
    EXPECT_NE(line.c_cflag & CLOCAL, 0u);
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

TEST_F(ToolLinkTest, OpeningTwiceKeepsTheConnectionAndClosingTwiceIsHarmless) {
    startTool();
    ToolLink* link = connect();
    const int fd = link->descriptor;
    const int before = openDescriptorCount();
    EXPECT_EQ(ToolLink_open(link), 1);
    EXPECT_EQ(link->descriptor, fd);
    EXPECT_EQ(openDescriptorCount(), before);

    EXPECT_EQ(ToolLink_close(link), 1);
    EXPECT_EQ(link->open, 0);
    EXPECT_EQ(link->descriptor, -1);
    EXPECT_EQ(link->serialState, 1);
    EXPECT_STREQ(link->devicePath, linkPath().c_str());
    EXPECT_EQ(openDescriptorCount(), before - 1);
    EXPECT_EQ(ToolLink_close(link), 1);
    EXPECT_EQ(openDescriptorCount(), before - 1);

    // A closed record opens again.
    EXPECT_EQ(ToolLink_findPort(link), 1);
    EXPECT_EQ(ToolLink_open(link), 1);
    EXPECT_EQ(Tool_readRunMode(link), 1);
}

TEST_F(ToolLinkTest, ReopeningAfterARebootReleasesTheDeadConnection) {
    startTool();
    ToolLink* link = connect();
    ASSERT_EQ(Tool_reboot(link), 1);
    ToolLink_markNotOpen(link);
    EXPECT_EQ(link->open, 0);
    ASSERT_TRUE(tool_.waitForGeneration(2, std::chrono::seconds(10)));

    const int before = openDescriptorCount();
    ASSERT_EQ(ToolLink_findPort(link), 1);
    ASSERT_EQ(ToolLink_open(link), 1);
    EXPECT_EQ(openDescriptorCount(), before);  // the old descriptor went as the new one came
    EXPECT_EQ(Tool_readRunMode(link), 1);

    // Marked not open once more, the record still lets go of its descriptor when freed.
    ToolLink_markNotOpen(link);
    const int held = openDescriptorCount();
    link_.reset();
    EXPECT_EQ(openDescriptorCount(), held - 1);
}

TEST_F(ToolLinkTest, ExplicitPortComesFromTheOptionThenTheEnvironment) {
    ::setenv("ZARVIK_PORT", "/dev/from-env", 1);
    EXPECT_EQ(LinkSettings_explicitPort("/dev/from-option"), "/dev/from-option");
    EXPECT_EQ(LinkSettings_explicitPort(""), "/dev/from-env");
    ::unsetenv("ZARVIK_PORT");
    EXPECT_EQ(LinkSettings_explicitPort(""), "");
}

}  // namespace
