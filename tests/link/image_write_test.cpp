#include <functional>

#include "link/tool_commands.h"
#include "link_fixture.h"
#include "toolsim/raw_record.h"

namespace {

Bytes pattern(size_t n) {
    Bytes b(n);
    for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(i * 7 + 1);
    return b;
}

uint16_t sum16(const Bytes& b, size_t from = 0, size_t to = SIZE_MAX) {
    uint32_t s = 0;
    for (size_t i = from; i < std::min(to, b.size()); ++i) s += b[i];
    return static_cast<uint16_t>(s);
}

uint32_t address24(const Bytes& frame) {
    return frame[3] | (frame[4] << 8) | (frame[5] << 16);
}

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

TEST_F(ImageWriteTest, ThousandBytesGoAsThreePaddedBlocks) {
    const Bytes image = pattern(1000);
    ASSERT_EQ(write(image, 384, 0, 2, 0, 0, 0), 1);
    EXPECT_EQ(progress_, (std::vector<int>{38, 76, 100}));
    ASSERT_EQ(frameCount(), 3u);
    Bytes padded = image;
    padded.resize(3 * 384, 0);
    for (size_t k = 0; k < 3; ++k) {
        // 96 words of command 4 to the byte address, the sum from the command byte on.
        const Bytes f = frame(k);
        EXPECT_EQ(hexText(Bytes(f.begin(), f.begin() + 3)), "3B 60 04");
        EXPECT_EQ(address24(f), 0x20000 + k * 384);
        EXPECT_EQ(f[f.size() - 2] | (f[f.size() - 1] << 8), sum16(f, 2, f.size() - 2));
    }
    EXPECT_EQ(tool_.dataMemory(0x20000, padded.size()), padded);
}

TEST_F(ImageWriteTest, SectorImagesGoToConsecutiveSectors) {
    const Bytes image = pattern(1500);
    ASSERT_EQ(write(image, 512, 0, 2, 0, 1, 0), 1);
    ASSERT_EQ(frameCount(), 3u);
    for (size_t k = 0; k < 3; ++k) EXPECT_EQ(address24(frame(k)), 2 + k);
    EXPECT_EQ(frame(0)[2], 16);
    EXPECT_EQ(tool_.dataMemory(2 * 512, 1500), image);

    // An explicit byte-addressed command takes the sectors as byte addresses.
    ASSERT_EQ(write(image, 256, 0, 1028, 0, 1, 0, 4), 1);
    EXPECT_EQ(frame(3)[2], 4);
    EXPECT_EQ(address24(frame(3)), 1028u * 512);
    EXPECT_EQ(tool_.dataMemory(1028 * 512, 1500), image);
}

TEST_F(ImageWriteTest, FirstBlockFlagSendsAOneInPlaceOfTheFirstChunk) {
    const Bytes image = pattern(3 * 384);
    ASSERT_EQ(write(image, 384, 0, 1, 1, 0, 0), 1);
    Bytes first(384, 0);
    first[0] = '1';
    EXPECT_EQ(tool_.dataMemory(65536, 384), first);
    EXPECT_EQ(tool_.dataMemory(65536 + 384, 768), Bytes(image.begin() + 384, image.end()));
    EXPECT_EQ(progress_, (std::vector<int>{33, 66, 100}));
}

struct FailureCase {
    const char* name;
    std::function<void(VirtualTool&)> fault;
    size_t blocks;  // of 384 bytes
    int result;
    size_t framesSent;
};

class ImageFailureTest : public ImageWriteTest,
                         public ::testing::WithParamInterface<FailureCase> {};

TEST_P(ImageFailureTest, StopsWhereTheToolFails) {
    const FailureCase& c = GetParam();
    shortTimeouts();
    c.fault(tool_);
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(write(pattern(c.blocks * 384), 384, 0, 0, 0, 0, 0), c.result);
    EXPECT_EQ(frameCount(), c.framesSent);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10));  // no hang
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Faults, ImageFailureTest, ::testing::Values(
    FailureCase{"RefusedBlock", [](VirtualTool& sim) { sim.refuseBlock(1); }, 5, 0, 2},
    // The late "E" of the last block is caught after the image.
    FailureCase{"LateRefusalOfTheLast", [](VirtualTool& sim) { sim.refuseBlock(2, RefusalStyle::Late); }, 3, 0, 3},
    // The late "E" of an earlier block starts the next reply.
    FailureCase{"LateRefusalOfAnEarlier", [](VirtualTool& sim) { sim.refuseBlock(0, RefusalStyle::Late); }, 3, 0, 2},
    FailureCase{"UnansweredBlock", [](VirtualTool& sim) { sim.silenceCommand(4, 1); }, 2, 0, 1},
    FailureCase{"LastBlockNeedsNoAnswer", [](VirtualTool& sim) { sim.silenceCommand(4, 1); }, 1, 1, 1},
    FailureCase{"ToolVanishes", [](VirtualTool& sim) { sim.vanishAtBlock(2); }, 6, 0, 3}),
    [](const auto& p) { return std::string(p.param.name); });
// clang-format on

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
