#include "link/frame_builder.h"

#include "link_fixture.h"

namespace {

struct FrameCase {
    const char* name;
    uint32_t command;
    uint32_t address;
    int32_t length;
    Bytes payload;  // empty: none
    uint8_t raw;
    int32_t seed;
    const char* expected;
};

class FrameBuilderTest : public ::testing::TestWithParam<FrameCase> {};

std::string build(uint32_t command, uint32_t address, int32_t length, const Bytes& payload,
                  uint8_t raw, int32_t seed) {
    ByteStringPtr p = payload.empty() ? nullptr : byteString(payload);
    ByteStringPtr frame(ToolFrame_build(command, address, length, p.get(), raw, seed));
    return hexText(bytesOf(frame.get()));
}

TEST_P(FrameBuilderTest, BuildsTheFrameByteForByte) {
    const FrameCase& c = GetParam();
    std::string frame = build(c.command, c.address, c.length, c.payload, c.raw, c.seed);
    if (c.payload.size() > 64) frame.resize(5);  // long bodies: the start byte and word count
    EXPECT_EQ(frame, c.expected);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Frames, FrameBuilderTest, ::testing::Values(
    FrameCase{"BootloaderVersion", 2, 0, 5, {}, 0, -1, "3B 01 02 00 00 00 05 00 58 58 B7 00"},
    FrameCase{"OpenRawTransferSeedZero", 23, 0, 0, {}, 0, 0, "3B 00 17 00 00 00 17 00"},
    FrameCase{"NoBodyNoPadding", 9, 0x1F441C, 0, {}, 0, -1, "3B 00 09 1C 44 1F 88 00"},
    FrameCase{"AddressKeepsLow24Bits", 3, 0xAB7FC000, 46, {}, 0, -1, "3B 01 03 00 C0 7F 2E 00 58 58 20 02"},
    FrameCase{"LengthAndOneBytePayload", 3, 0, 3, {0xAA}, 0, -1, "3B 01 03 00 00 00 03 00 AA 58 08 01"},
    FrameCase{"SeedStandsForTheBody", 16, 0x102, 0, {1, 2, 3, 4}, 0, 0x1234, "3B 01 10 02 01 00 01 02 03 04 47 12"},
    FrameCase{"RawStartsWithColon", 4, 0x123456, 0, {2, 0, 0, 0, 4, 0, 9, 8, 7, 6}, 1, -1, "3A 01 02 00 00 00 04 00 09 08 07 06"},
    FrameCase{"RawBluetoothStartsWithSemicolon", 19, 0, 0, {3, 0, 0, 0, 2, 0, 5, 6}, 1, -1, "3B 01 03 00 00 00 02 00 05 06"},
    FrameCase{"RawWordCountRoundsUp", 4, 0, 0, {2, 0, 0, 0, 5, 0, 1, 2, 3, 4, 5}, 1, -1, "3A 02 02 00 00 00 05 00 01 02 03 04 05"},
    FrameCase{"RawCarriesTheLengthField", 23, 0, 0x0102, {1, 2, 3, 4, 5, 6}, 1, -1, "3A 01 02 01 01 02 03 04 05 06"},
    // 1024 bytes still say 255 words, not 256; a raw body of 1206 bytes sends the low 8 bits
    // of its 300 words.
    FrameCase{"WordCountStopsAt255", 4, 0, 0, Bytes(1024, 0), 0, -1, "3B FF"},
    FrameCase{"RawWordCountKeepsItsLowByte", 4, 0, 0, Bytes(1206, 0), 1, -1, "3A 2C"}),
    [](const auto& p) { return std::string(p.param.name); });
// clang-format on

}  // namespace
