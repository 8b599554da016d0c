#include "link_fixture.h"

#include <dirent.h>
#include <stdlib.h>

#include <cstdio>

std::string hexText(const Bytes& bytes) {
    std::string out;
    char two[4];
    for (uint8_t b : bytes) {
        std::snprintf(two, sizeof two, "%02X", b);
        if (!out.empty()) out += ' ';
        out += two;
    }
    return out;
}

Bytes bytesOf(const ByteString* s) {
    return Bytes(s->data, s->data + s->length);
}

ByteStringPtr byteString(const Bytes& bytes) {
    ByteStringPtr s(ByteString_create(static_cast<int32_t>(bytes.size())));
    ByteString_appendBytes(s.get(), bytes.data(), static_cast<int32_t>(bytes.size()));
    return s;
}

int openDescriptorCount() {
    int count = 0;
    DIR* d = opendir("/proc/self/fd");
    if (d == nullptr) return -1;
    while (readdir(d) != nullptr) ++count;
    closedir(d);
    return count;
}

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "zarvik-link-XXXXXX").string();
    char* made = mkdtemp(pattern.data());
    path_ = made != nullptr ? made : "";
}

TempDir::~TempDir() {
    std::error_code ec;
    if (!path_.empty()) std::filesystem::remove_all(path_, ec);
}

Timing testTiming() {
    Timing t;
    t.preWritePause = std::chrono::microseconds(100);
    t.writeRetryPause = std::chrono::microseconds(100);
    t.exchangeUnit = std::chrono::milliseconds(4);  // T 500: 2 s
    t.imageSettle = std::chrono::milliseconds(100);
    t.rebootWait = std::chrono::milliseconds(50);
    t.reconnectWait = std::chrono::milliseconds(50);
    return t;
}

ToolSimOptions testToolOptions() {
    ToolSimOptions o;
    o.rebootDelay = std::chrono::milliseconds(30);
    o.frameTimeout = std::chrono::milliseconds(500);
    o.replyPiecePause = std::chrono::milliseconds(2);
    o.lateRefusalPause = std::chrono::milliseconds(25);
    o.selfRebootPause = std::chrono::milliseconds(20);
    return o;
}

void LinkTest::SetUp() {
    live_ = ByteString_liveCount();
}

void LinkTest::TearDown() {
    link_.reset();
    tool_.stop();
    EXPECT_EQ(ByteString_liveCount(), live_);
}

void LinkTest::startTool(const ToolState& state) {
    std::string error;
    ASSERT_TRUE(tool_.start(state, linkPath(), testToolOptions(), &error)) << error;
}

LinkSettings LinkTest::settings() const {
    LinkSettings s;
    s.port = linkPath();
    s.timing = testTiming();
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
