#include "link_fixture.h"

#include <dirent.h>
#include <stdlib.h>

#include <cstdio>
#include <filesystem>

std::string hexText(const Bytes& bytes) {
    std::string out;
    char two[4];
    for (uint8_t b : bytes) {
        std::snprintf(two, sizeof two, out.empty() ? "%02X" : " %02X", b);
        out += two;
    }
    return out;
}

Bytes bytesOf(const ByteString* s) {
    return Bytes(s->data, s->data + s->length);
}

ByteStringPtr byteString(const Bytes& bytes) {
    return makeByteString({reinterpret_cast<const char*>(bytes.data()), bytes.size()});
}

Bytes pattern(size_t n, uint8_t seed) {
    Bytes b(n);
    for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(i * 7 + seed);
    return b;
}

int openDescriptorCount() {
    int count = 0;
    DIR* d = opendir("/proc/self/fd");
    while (d != nullptr && readdir(d) != nullptr) ++count;
    if (d != nullptr) closedir(d);
    return count;
}

uint32_t frameAddress(const Bytes& frame) {
    return frame[3] | (frame[4] << 8) | (frame[5] << 16);
}

void LinkTest::SetUp() {
    std::string pattern = (std::filesystem::temp_directory_path() / "zarvik-link-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
}

void LinkTest::TearDown() {
    link_.reset();
    tool_.stop();
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
}

void LinkTest::startTool(const ToolState& state, const std::string& usbSerial) {
    ToolSimOptions o;
    if (!usbSerial.empty()) {
        o.fakeSysfsRoot = dir_ + "/fake";
        o.usbSerial = usbSerial;
        o.reenumerate = true;
    }
    o.rebootDelay = std::chrono::milliseconds(30);
    o.frameTimeout = std::chrono::milliseconds(500);
    o.replyPiecePause = std::chrono::milliseconds(2);
    o.lateRefusalPause = std::chrono::milliseconds(25);
    o.selfRebootPause = std::chrono::milliseconds(20);
    std::string error;
    ASSERT_TRUE(tool_.start(state, linkPath(), o, &error)) << error;
}

LinkSettings LinkTest::settings() const {
    LinkSettings s;
    s.port = linkPath();
    s.timing.preWritePause = std::chrono::microseconds(100);
    s.timing.writeRetryPause = std::chrono::microseconds(100);
    s.timing.exchangeUnit = std::chrono::milliseconds(4);  // T 500: 2 s
    s.timing.imageSettle = std::chrono::milliseconds(100);
    s.timing.rebootWait = std::chrono::milliseconds(50);
    s.timing.reconnectWait = std::chrono::milliseconds(50);
    return s;
}

ToolLink* LinkTest::connect() {
    link_ = makeToolLink(settings());
    EXPECT_EQ(ToolLink_findPort(link_.get()), 1);
    EXPECT_EQ(ToolLink_open(link_.get()), 1) << ToolLink_openFailureText(link_.get());
    tool_.clearFrames();
    return link_.get();
}

Bytes LinkTest::frame(size_t index) const {
    auto frames = tool_.frames();
    return index < frames.size() ? frames[index] : Bytes{};
}
