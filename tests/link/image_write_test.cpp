#include <numeric>

#include "link/frame_exchange.h"
#include "link/tool_commands.h"
#include "link/tool_protocol.h"
#include "link_fixture.h"
#include "package/firmware_package.h"
#include "toolsim/raw_record.h"

namespace {

using Clock = std::chrono::steady_clock;

Bytes pattern(size_t n, int seed = 1) {
    Bytes b(n);
    for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(i * 7 + seed);
    return b;
}

uint16_t sum16(const Bytes& b, size_t from = 0, size_t to = SIZE_MAX) {
    uint32_t s = 0;
    for (size_t i = from; i < std::min(to, b.size()); ++i) s += b[i];
    return static_cast<uint16_t>(s);
}

// A normal write frame built the long way, for comparison.
Bytes writeFrame(uint8_t command, uint32_t address, const Bytes& data) {
    Bytes f{0x3B,
            static_cast<uint8_t>(std::min<size_t>((data.size() + 3) / 4, 255)),
            command,
            static_cast<uint8_t>(address),
            static_cast<uint8_t>(address >> 8),
            static_cast<uint8_t>(address >> 16)};
    f.insert(f.end(), data.begin(), data.end());
    uint16_t s = sum16(f, 2);
    f.push_back(static_cast<uint8_t>(s));
    f.push_back(static_cast<uint8_t>(s >> 8));
    return f;
}

// Chunks of `block` data bytes, each followed by its 16-bit sum.
Bytes withChecksums(const Bytes& data, size_t block) {
    Bytes out;
    for (size_t at = 0; at < data.size(); at += block) {
        Bytes chunk(data.begin() + static_cast<ptrdiff_t>(at),
                    data.begin() + static_cast<ptrdiff_t>(std::min(at + block, data.size())));
        uint16_t s = sum16(chunk);
        out.insert(out.end(), chunk.begin(), chunk.end());
        out.push_back(static_cast<uint8_t>(s));
        out.push_back(static_cast<uint8_t>(s >> 8));
    }
    return out;
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
        Bytes block(padded.begin() + static_cast<ptrdiff_t>(k * 384),
                    padded.begin() + static_cast<ptrdiff_t>((k + 1) * 384));
        EXPECT_EQ(frame(k), writeFrame(4, 0x20000 + static_cast<uint32_t>(k * 384), block))
            << "block " << k;
    }
    EXPECT_EQ(tool_.dataMemory(0x20000, padded.size()), padded);
}

TEST_F(ImageWriteTest, SectorImagesGoToConsecutiveSectors) {
    const Bytes image = pattern(1500);
    ASSERT_EQ(write(image, 512, 0, 2, 0, 1, 0), 1);
    ASSERT_EQ(frameCount(), 3u);
    for (size_t k = 0; k < 3; ++k) {
        const Bytes f = frame(k);
        EXPECT_EQ(f[2], 16);
        EXPECT_EQ(hexText(Bytes(f.begin() + 3, f.begin() + 6)),
                  hexText(Bytes{static_cast<uint8_t>(2 + k), 0, 0}));
    }
    EXPECT_EQ(tool_.dataMemory(2 * 512, 1500), image);
}

TEST_F(ImageWriteTest, AnExplicitByteAddressedCommandTakesSectorsAsBytes) {
    const Bytes image = pattern(600);
    ASSERT_EQ(write(image, 256, 0, 1028, 0, 1, 0, 4), 1);
    EXPECT_EQ(frame(0)[2], 4);
    const uint32_t address = 1028 * 512;
    EXPECT_EQ(frame(0)[3] | (frame(0)[4] << 8) | (frame(0)[5] << 16), static_cast<int>(address));
    EXPECT_EQ(tool_.dataMemory(address, 600), image);
}

TEST_F(ImageWriteTest, StoredChecksumsTravelAsTheFrameSeed) {
    const Bytes data = pattern(2 * 256 + 100);
    ASSERT_EQ(write(withChecksums(data, 256), 256, 0, 40, 0, 1, 1), 1);
    ASSERT_EQ(frameCount(), 3u);
    // Two 256-byte blocks share a sector number: 40, 40, 41.
    EXPECT_EQ(frame(0)[3], 40);
    EXPECT_EQ(frame(1)[3], 40);
    EXPECT_EQ(frame(2)[3], 41);
    // Checksum = command + seed + address bytes; the seed is the chunk's stored sum.
    Bytes last = frame(2);
    const uint32_t seed = sum16(data, 512);
    const uint32_t expected = (16 + seed + 41) & 0xFFFF;
    EXPECT_EQ(last[last.size() - 2] | (last[last.size() - 1] << 8), static_cast<int>(expected));
    EXPECT_EQ(tool_.dataMemory(40 * 512, data.size()), data);
    EXPECT_EQ(tool_.refusedFrames(), 0);
}

TEST_F(ImageWriteTest, BlocksOf2048WithChecksums) {
    const Bytes data = pattern(2048 + 700);
    ASSERT_EQ(write(withChecksums(data, 2048), 2048, 0, 1028, 0, 1, 1, 16), 1);
    ASSERT_EQ(frameCount(), 2u);
    EXPECT_EQ(frame(0)[1], 255);
    EXPECT_EQ(frame(0).size(), 2u + 4 + 2048 + 2);
    EXPECT_EQ(tool_.dataMemory(1028 * 512, data.size()), data);
}

TEST_F(ImageWriteTest, AChunkWhoseStoredChecksumIsWrongIsRefused) {
    Bytes image = withChecksums(pattern(3 * 256), 256);
    image[258 + 10] ^= 0x01;  // second chunk's data no longer matches its sum
    ASSERT_EQ(write(image, 256, 0, 0, 0, 1, 1), 0);
    EXPECT_EQ(frameCount(), 2u);
    EXPECT_EQ(tool_.refusedFrames(), 1);
}

TEST_F(ImageWriteTest, FirstBlockFlagSendsAOneInPlaceOfTheFirstChunk) {
    const Bytes image = pattern(3 * 384);
    ASSERT_EQ(write(image, 384, 0, 1, 1, 0, 0), 1);
    ASSERT_EQ(frameCount(), 3u);
    Bytes first(384, 0);
    first[0] = '1';
    EXPECT_EQ(tool_.dataMemory(65536, 384), first);
    EXPECT_EQ(tool_.dataMemory(65536 + 384, 768), Bytes(image.begin() + 384, image.end()));
    EXPECT_EQ(progress_, (std::vector<int>{33, 66, 100}));
}

TEST_F(ImageWriteTest, RawImagesPassTheirRecordsThroughUnchanged) {
    IdentityValues v;
    v.firmwareVersion = 301;
    v.detail = {3, 1, 2};
    v.build = 44;
    std::array<uint8_t, 30> identity = IdentityBlock_build(v);
    Bytes program(identity.begin(), identity.end());
    Bytes rest = pattern(970);
    program.insert(program.end(), rest.begin(), rest.end());
    const Bytes image = RawImage_build(RawTarget::Firmware, program, 384);
    ASSERT_EQ(image.size(), 3u * 390);

    ASSERT_EQ(write(image, 384, 1, 0, 0, 0, 0), 1);
    ASSERT_EQ(frameCount(), 4u);
    EXPECT_EQ(hexText(frame(0)), "3B 00 17 00 00 00 17 00");
    for (size_t k = 0; k < 3; ++k) {
        Bytes expected{0x3A, 96};
        expected.insert(expected.end(), image.begin() + static_cast<ptrdiff_t>(k * 390),
                        image.begin() + static_cast<ptrdiff_t>((k + 1) * 390));
        EXPECT_EQ(frame(k + 1), expected) << "record " << k;
    }
    Bytes stored = tool_.program(RawTarget::Firmware);
    ASSERT_EQ(stored.size(), 3u * 384);
    EXPECT_EQ(Bytes(stored.begin(), stored.begin() + 1000), program);

    // The firmware brought its identity with it.
    FirmwarePackagePtr info(FirmwarePackage_new());
    ASSERT_EQ(Tool_readIdentity(link_.get(), info.get()), 1);
    EXPECT_EQ(ByteString_str(info->firmwareVersion), "3.01.02");
    EXPECT_EQ(info->firmwareBuild, 44);
}

TEST_F(ImageWriteTest, BluetoothRecordsStartWithASemicolon) {
    Bytes program = pattern(600);
    program[0] = 7;  // the module's version
    const Bytes image = RawImage_build(RawTarget::BluetoothModule, program, 256);
    ByteStringPtr reply(ByteString_create(0));
    ASSERT_EQ(ToolLink_exchange(link_.get(), reply.get(), 20, 0, 0, nullptr, 0, 500, 0), 1);
    ASSERT_EQ(write(image, 256, 1, 0, 0, 1, 0, 19), 1);
    auto frames = tool_.frames();
    ASSERT_EQ(frames.size(), 5u);  // 20, 23, three records
    EXPECT_EQ(hexText(frames[0]), "3B 00 14 00 00 00 14 00");
    for (size_t k = 2; k < 5; ++k) {
        EXPECT_EQ(frames[k][0], 0x3B);
        EXPECT_EQ(frames[k][1], 64);
    }
    EXPECT_EQ(tool_.bluetoothVersion(), 7);
    EXPECT_EQ(Tool_readBluetoothVersion(link_.get()), 7);
}

TEST_F(ImageWriteTest, ARefusedBlockStopsTheImage) {
    tool_.refuseBlock(1);
    EXPECT_EQ(write(pattern(5 * 384), 384, 0, 0, 0, 0, 0), 0);
    EXPECT_EQ(frameCount(), 2u);
    EXPECT_EQ(progress_, (std::vector<int>{20}));
}

TEST_F(ImageWriteTest, ALateRefusalOfTheLastBlockIsCaughtAfterTheImage) {
    tool_.refuseBlock(2, RefusalStyle::Late);
    EXPECT_EQ(write(pattern(3 * 384), 384, 0, 0, 0, 0, 0), 0);
    EXPECT_EQ(frameCount(), 3u);
    EXPECT_EQ(progress_.back(), 100);
}

TEST_F(ImageWriteTest, ALateRefusalOfAnEarlierBlockStartsTheNextReply) {
    tool_.refuseBlock(0, RefusalStyle::Late);
    EXPECT_EQ(write(pattern(3 * 384), 384, 0, 0, 0, 0, 0), 0);
    EXPECT_EQ(frameCount(), 2u);
}

TEST_F(ImageWriteTest, TheLastBlockNeedsNoAcknowledgement) {
    shortTimeouts();
    tool_.silenceCommand(4, 1);
    EXPECT_EQ(write(pattern(384), 384, 0, 0, 0, 0, 0), 1);
}

TEST_F(ImageWriteTest, AnUnansweredBlockBeforeTheEndFailsTheImage) {
    shortTimeouts();
    tool_.silenceCommand(4, 1);
    EXPECT_EQ(write(pattern(2 * 384), 384, 0, 0, 0, 0, 0), 0);
    EXPECT_EQ(frameCount(), 1u);
}

TEST_F(ImageWriteTest, AToolThatVanishesMidTransferFailsTheImageWithoutHanging) {
    tool_.vanishAtBlock(2);
    auto started = Clock::now();
    EXPECT_EQ(write(pattern(6 * 384), 384, 0, 0, 0, 0, 0), 0);
    EXPECT_LT(Clock::now() - started, testTiming().exchangeUnit * 500);
    EXPECT_EQ(frameCount(), 3u);
    EXPECT_EQ(progress_, (std::vector<int>{16, 33, 50}));
    EXPECT_FALSE(tool_.online());
}

TEST_F(ImageWriteTest, RawTransferThatIsNotOpenedSendsNoRecord) {
    shortTimeouts();
    tool_.silenceCommand(23, 1);
    const Bytes image = RawImage_build(RawTarget::Firmware, pattern(400), 384);
    EXPECT_EQ(write(image, 384, 1, 0, 0, 0, 0), 0);
    EXPECT_EQ(frameCount(), 1u);
}

TEST_F(ImageWriteTest, DegenerateImages) {
    EXPECT_EQ(write(pattern(100), 0, 0, 0, 0, 0, 0), 0);  // no block size, no endless loop
    EXPECT_EQ(write(Bytes{}, 384, 0, 0, 0, 0, 0), 1);     // nothing to send
    EXPECT_EQ(frameCount(), 0u);
    EXPECT_EQ(Tool_writeImage(link_.get(), nullptr, 384, 1, 0, 0, 0, 0, 0), 1);
    EXPECT_EQ(frameCount(), 1u);  // only the raw transfer's opening
    EXPECT_TRUE(progress_.empty());
}

}  // namespace
