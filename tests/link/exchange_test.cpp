#include "link/frame_exchange.h"

#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>

#include "link/link_trace.h"
#include "link/tool_commands.h"
#include "link/tool_protocol.h"
#include "link_fixture.h"

namespace {

using Clock = std::chrono::steady_clock;

class ExchangeTest : public LinkTest {
  protected:
    void SetUp() override {
        LinkTest::SetUp();
        startTool();
        connect();
    }
    int exchange(ByteString* reply, uint32_t command, uint32_t address, int32_t length) {
        return ToolLink_exchange(link_.get(), reply, command, address, length, nullptr, 0,
                                 tool::kTimeoutShort, -1);
    }
    Clock::duration deadline() const {
        return link_->settings.timing.exchangeUnit * tool::kTimeoutShort;
    }
};

TEST_F(ExchangeTest, AppendsTheWholeReplyEvenWhenItArrivesInPieces) {
    ByteStringPtr reply = makeByteString("xy");
    ASSERT_EQ(exchange(reply.get(), 2, 0, 5), 1);
    EXPECT_EQ(ByteString_str(reply.get()), "xyB1.23O");
    EXPECT_EQ(hexText(frame(0)), "3B 01 02 00 00 00 05 00 58 58 B7 00");

    tool_.splitReplies(1);
    ByteStringPtr pieces(ByteString_create(0));
    ASSERT_EQ(exchange(pieces.get(), 3, tool::kConfigurationAddress, 46), 1);
    EXPECT_EQ(pieces->length, 47);
}

// The trace keeps a long frame's head and tail, and names a reply that was given up on. It
// is appended to an earlier one, which others could read: from now on only the user can.
TEST_F(ExchangeTest, TraceShortensLongFramesAndNamesGivenUpReplies) {
    std::ofstream(dir_ + "/link.trace") << "# an earlier run\n";
    std::filesystem::permissions(dir_ + "/link.trace", std::filesystem::perms(0644));
    std::string error;
    LinkTracePtr trace(LinkTrace_open(dir_ + "/link.trace", &error));
    ASSERT_TRUE(trace) << error;
    link_->settings.trace = trace.get();
    ByteStringPtr payload = byteString(pattern(600));
    ByteStringPtr reply(ByteString_create(0));
    ASSERT_EQ(ToolLink_exchange(link_.get(), reply.get(), 4, 0x10000, 0, payload.get(), 0,
                                tool::kTimeoutShort, -1),
              1);
    shortTimeouts();
    tool_.silenceCommand(2, 1);
    EXPECT_EQ(exchange(reply.get(), 2, 0, 5), 0);
    link_->settings.trace = nullptr;
    trace.reset();

    std::vector<std::string> lines;
    std::ifstream in(dir_ + "/link.trace");
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    EXPECT_EQ(std::filesystem::status(dir_ + "/link.trace").permissions(),
              std::filesystem::perms(0600));
    ASSERT_EQ(lines.size(), 6u);
    EXPECT_EQ(lines[0], "# an earlier run");
    lines.erase(lines.begin());
    const Bytes sent = frame(0);
    ASSERT_EQ(sent.size(), 608u);
    const std::string shortened =
        " > WriteBlock(4) 608 bytes: " + hexText(Bytes(sent.begin(), sent.begin() + 32)) +
        " ... (560 bytes) ... " + hexText(Bytes(sent.end() - 16, sent.end()));
    EXPECT_TRUE(lines[1].ends_with(shortened)) << lines[1];
    EXPECT_TRUE(lines[2].ends_with(" < WriteBlock(4) 1 byte: 4F")) << lines[2];
    EXPECT_TRUE(lines[3].ends_with(" > ReadBootloaderVersion(2) 12 bytes: " + hexText(frame(1))));
    EXPECT_TRUE(
        lines[4].ends_with(" < ReadBootloaderVersion(2) 0 bytes, given up, no complete reply"))
        << lines[4];
}

TEST_F(ExchangeTest, SendOnlyLeavesTheAnswerForTheNextExchange) {
    EXPECT_EQ(exchange(nullptr, 9, tool::kRunModeAddress, 0), 1);
    // The run mode's "1O" is still on the line: nothing is drained before a send.
    ByteStringPtr reply(ByteString_create(0));
    ASSERT_EQ(exchange(reply.get(), 13, 0, 0), 1);
    EXPECT_EQ(reply->data[0], '1');
}

// "HI" succeeds without data, whatever was asked for: the reads of identification and of the
// backup directory and the commands built on them must not take it for data.
struct HiCase {
    uint32_t command, address;
    int32_t length;
};

class HiTest : public ExchangeTest, public ::testing::WithParamInterface<HiCase> {};

TEST_P(HiTest, SucceedsAndLeavesTheReplyAsItWas) {
    const HiCase& c = GetParam();
    tool_.answerHi(static_cast<int>(c.command));
    ByteStringPtr reply = makeByteString("keep");
    EXPECT_EQ(exchange(reply.get(), c.command, c.address, c.length), 1);
    EXPECT_EQ(ByteString_str(reply.get()), "keep");
    EXPECT_EQ(Tool_readRunMode(link_.get()), c.command == 9 ? 3 : 1);
    EXPECT_EQ(Tool_readBluetoothVersion(link_.get()), c.command == 18 ? -1 : 0);
}

INSTANTIATE_TEST_SUITE_P(Reads, HiTest,
                         ::testing::Values(HiCase{2, 0, 5}, HiCase{9, tool::kRunModeAddress, 0},
                                           HiCase{18, tool::kBluetoothVersionAddress, 1},
                                           HiCase{17, tool::kStoredDirectoryBlock, 8},
                                           HiCase{17, tool::kStoredDirectoryBlock + 1, 512},
                                           HiCase{11, tool::kStoredFileAddress, 43}));

struct TimeoutCase {
    const char* name;
    std::function<void(VirtualTool&)> fault;
    uint32_t command;
    int32_t length;
};

class ExchangeTimeoutTest : public ExchangeTest,
                            public ::testing::WithParamInterface<TimeoutCase> {};

TEST_P(ExchangeTimeoutTest, WaitsItsWholeTimeThenFails) {
    const TimeoutCase& c = GetParam();
    shortTimeouts();
    c.fault(tool_);
    ByteStringPtr reply = makeByteString("same");
    const auto started = Clock::now();
    EXPECT_EQ(exchange(reply.get(), c.command, 0, c.length), 0);
    const auto waited = Clock::now() - started;
    EXPECT_GE(waited, deadline());
    EXPECT_LT(waited, deadline() + std::chrono::seconds(10));  // and no hang
    EXPECT_EQ(ByteString_str(reply.get()), "same");
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Replies, ExchangeTimeoutTest, ::testing::Values(
    TimeoutCase{"NoAnswer", [](VirtualTool& sim) { sim.silenceCommand(2); }, 2, 5},
    // "B1.23O" is shorter than the 10 data bytes asked for.
    TimeoutCase{"ShorterThanAskedFor", [](VirtualTool&) {}, 2, 10},
    // 1200 data bytes overflow the 1000-byte receive buffer before the final "O".
    TimeoutCase{"LongerThanTheBuffer", [](VirtualTool&) {}, 11, 1200}),
    [](const auto& p) { return std::string(p.param.name); });
// clang-format on

TEST_F(ExchangeTest, ADeviceThatGoesAwayEndsTheExchangeAtOnce) {
    tool_.vanishAtBlock(0);
    ByteStringPtr block = byteString(Bytes(384, 0x5A));
    ByteStringPtr reply(ByteString_create(0));
    const auto started = Clock::now();
    EXPECT_EQ(ToolLink_exchange(link_.get(), reply.get(), 4, 0, 0, block.get(), 0, 500, -1), 0);
    // Writing to the dead line gives up instead of repeating the write for ever.
    EXPECT_EQ(exchange(nullptr, 2, 0, 5), 0);
    EXPECT_EQ(exchange(reply.get(), 2, 0, 5), 0);
    EXPECT_LT(Clock::now() - started, deadline());
    EXPECT_EQ(reply->length, 0);
    EXPECT_EQ(link_->open, 1);  // the caller decides what to do with the link

    ToolLink_close(link_.get());  // and nothing goes out on a closed link
    EXPECT_EQ(exchange(nullptr, 2, 0, 5), 0);
}

// The late answer to an exchange given up by one record waits on the line while nobody has
// it open; the next record (the next Find Device) must not take it for its own reply.
TEST_F(ExchangeTest, ANewRecordNeverTakesTheLateAnswerOfAnEarlierOne) {
    shortTimeouts();
    tool_.answerLate(9, std::chrono::milliseconds(700));
    ByteStringPtr runMode(ByteString_create(0));
    EXPECT_EQ(exchange(runMode.get(), 9, tool::kRunModeAddress, 0), 0);
    ToolLink_close(link_.get());
    std::this_thread::sleep_for(std::chrono::milliseconds(400));  // the late "1O" comes
    link_ = makeToolLink(settings());
    ASSERT_EQ(ToolLink_findPort(link_.get()), 1);
    ASSERT_EQ(ToolLink_open(link_.get()), 1);
    ByteStringPtr option(ByteString_create(0));
    ASSERT_EQ(exchange(option.get(), 13, 0, 0), 1);
    EXPECT_EQ(bytesOf(option.get()), (Bytes{0, 'O'}));  // the option code, not the stale "1"
}

}  // namespace
