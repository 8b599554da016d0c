#include <functional>

#include "link/tool_commands.h"
#include "link_fixture.h"
#include "toolsim/raw_record.h"

namespace {

class ImageWriteTest : public LinkTest {
  protected:
    void SetUp() override {
        LinkTest::SetUp();
        startTool();
        connect();
    }
    int write(const Bytes& image, int32_t block, int raw, int32_t start, int firstBlock, int sector,
              int checksum, uint32_t command = 0) {
        ByteStringPtr s = byteString(image);
        return Tool_writeImage(link_.get(), s.get(), block, raw, start, firstBlock, sector,
                               checksum, command, [this](int p) { progress_.push_back(p); });
    }
    std::vector<int> progress_;
};

// The words, command and address of every frame sent, and the image as the memory holds it.
struct WriteCase {
    const char* name;
    size_t size;
    int32_t block, start;
    int firstBlock, sector;
    uint32_t command;
    const char* frames;
    uint32_t memoryAt;
    std::vector<int> progress;
};

class ImageWriteCase : public ImageWriteTest, public ::testing::WithParamInterface<WriteCase> {};

TEST_P(ImageWriteCase, SendsPaddedBlocksWhereTheyBelong) {
    const WriteCase& c = GetParam();
    const Bytes image = pattern(c.size);
    ASSERT_EQ(write(image, c.block, 0, c.start, c.firstBlock, c.sector, 0, c.command), 1);
    std::string frames;
    for (size_t k = 0; k < frameCount(); ++k) {
        const Bytes f = frame(k);
        char one[32];
        std::snprintf(one, sizeof one, "%s%02X:%02X@%X", k ? " " : "", f[1], f[2], frameAddress(f));
        frames += one;
        // The sum runs from the command byte to the end of the body.
        uint32_t sum = 0;
        for (size_t i = 2; i + 2 < f.size(); ++i) sum += f[i];
        EXPECT_EQ(f[f.size() - 2] | (f[f.size() - 1] << 8), sum & 0xFFFF) << k;
    }
    EXPECT_EQ(frames, c.frames);
    EXPECT_EQ(progress_, c.progress);
    Bytes expected = image;
    expected.resize(frameCount() * static_cast<size_t>(c.block), 0);
    if (c.firstBlock) std::fill_n(expected.begin(), c.block, 0), expected[0] = '1';
    EXPECT_EQ(tool_.dataMemory(c.memoryAt, expected.size()), expected);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Images, ImageWriteCase, ::testing::Values(
    WriteCase{"ByteAddressedBlocks", 1000, 384, 2, 0, 0, 0, "60:04@20000 60:04@20180 60:04@20300", 0x20000, {38, 76, 100}},
    WriteCase{"ConsecutiveSectors", 1500, 512, 2, 0, 1, 0, "80:10@2 80:10@3 80:10@4", 2 * 512, {34, 68, 100}},
    // An explicit byte-addressed command takes the sectors as byte addresses.
    WriteCase{"SectorsAsByteAddresses", 1500, 256, 1028, 0, 1, 4, "40:04@80800 40:04@80900 40:04@80A00 40:04@80B00 40:04@80C00 40:04@80D00", 1028 * 512, {17, 34, 51, 68, 85, 100}},
    WriteCase{"FirstBlockSentAsAOne", 3 * 384, 384, 1, 1, 0, 0, "60:04@10000 60:04@10180 60:04@10300", 65536, {33, 66, 100}}),
    [](const auto& p) { return std::string(p.param.name); });
// clang-format on

struct FailureCase {
    const char* name;
    std::function<void(VirtualTool&)> fault;
    size_t blocks;  // of 384 bytes
    int result;
    size_t framesSent;
    // A host slower than the tool's pause reads "O" and the late "E" as one reply, which fails
    // that block's exchange a frame sooner: also a refusal heard, so this many may do.
    size_t fewestFrames = framesSent;
};

class ImageFailureTest : public ImageWriteTest,
                         public ::testing::WithParamInterface<FailureCase> {};

TEST_P(ImageFailureTest, StopsWhereTheToolFails) {
    const FailureCase& c = GetParam();
    shortTimeouts();
    c.fault(tool_);
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(write(pattern(c.blocks * 384), 384, 0, 0, 0, 0, 0), c.result);
    EXPECT_LE(frameCount(), c.framesSent);
    EXPECT_GE(frameCount(), c.fewestFrames);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10));  // no hang
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Faults, ImageFailureTest, ::testing::Values(
    FailureCase{"RefusedBlock", [](VirtualTool& sim) { sim.refuseBlock(1); }, 5, 0, 2},
    // The late "E" of the last block is caught after the image.
    FailureCase{"LateRefusalOfTheLast", [](VirtualTool& sim) { sim.refuseBlock(2, RefusalStyle::Late); }, 3, 0, 3},
    // The late "E" of an earlier block starts the next reply.
    FailureCase{"LateRefusalOfAnEarlier", [](VirtualTool& sim) { sim.refuseBlock(0, RefusalStyle::Late); }, 3, 0, 2, 1},
    FailureCase{"UnansweredBlock", [](VirtualTool& sim) { sim.silenceCommand(4, 1); }, 2, 0, 1},
    FailureCase{"LastBlockNeedsNoAnswer", [](VirtualTool& sim) { sim.silenceCommand(4, 1); }, 1, 1, 1},
    FailureCase{"ToolVanishes", [](VirtualTool& sim) { sim.vanishAtBlock(2); }, 6, 0, 3},
    // Gone without a word at the last block: the image may be incomplete.
    FailureCase{"ToolVanishesAtTheLast", [](VirtualTool& sim) { sim.vanishAtBlock(2); }, 3, 0, 3}),
    [](const auto& p) { return std::string(p.param.name); });
// clang-format on

// A tool gone without acknowledging the last record: a failed write, unless the caller said
// the tool may leave once the image is in.
class ImageEndTest : public ImageWriteTest,
                     public ::testing::WithParamInterface<std::pair<ImageEnd, int>> {};

TEST_P(ImageEndTest, LeavingAtTheLastRecord) {
    shortTimeouts();
    tool_.vanishAtBlock(2);
    ByteStringPtr image = byteString(pattern(3 * 384));
    EXPECT_EQ(
        Tool_writeImage(link_.get(), image.get(), 384, 0, 0, 0, 0, 0, 0, {}, GetParam().first),
        GetParam().second);
    EXPECT_EQ(frameCount(), 3u);
}

INSTANTIATE_TEST_SUITE_P(Ends, ImageEndTest,
                         ::testing::Values(std::pair{ImageEnd::Acknowledged, 0},
                                           std::pair{ImageEnd::ToolMayLeave, 1}));

TEST_F(ImageWriteTest, DegenerateImages) {
    shortTimeouts();
    EXPECT_EQ(write(pattern(100), 0, 0, 0, 0, 0, 0), 0);  // no block size, no endless loop
    EXPECT_EQ(write(Bytes{}, 384, 0, 0, 0, 0, 0), 1);     // nothing to send
    EXPECT_EQ(frameCount(), 0u);
    EXPECT_EQ(Tool_writeImage(link_.get(), nullptr, 384, 1, 0, 0, 0, 0, 0), 1);
    EXPECT_EQ(frameCount(), 1u);  // only the raw transfer's opening
    tool_.silenceCommand(23, 1);  // not opened: no record follows
    EXPECT_EQ(write(RawImage_build(RawTarget::Firmware, pattern(400), 384), 384, 1, 0, 0, 0, 0), 0);
    EXPECT_EQ(frameCount(), 2u);
    EXPECT_TRUE(progress_.empty());
}

}  // namespace
