#include "link/frame_builder.h"

#include <gtest/gtest.h>

#include "link_fixture.h"

namespace {

struct FrameCase {
    const char* name;
    uint32_t command;
    uint32_t address;
    int32_t length;
    Bytes payload;  // empty: no payload
    uint8_t raw;
    int32_t seed;
    const char* expected;  // hex
};

Bytes filled(size_t n, uint8_t value) {
    return Bytes(n, value);
}

Bytes rawRecord(size_t data) {
    Bytes b(6 + data, 0x11);
    return b;
}

class FrameBuilderTest : public ::testing::TestWithParam<FrameCase> {};

TEST_P(FrameBuilderTest, BuildsTheFrameByteForByte) {
    const FrameCase& c = GetParam();
    uint32_t live = ByteString_liveCount();
    {
        ByteStringPtr payload = c.payload.empty() ? nullptr : byteString(c.payload);
        ByteStringPtr frame(
            ToolFrame_build(c.command, c.address, c.length, payload.get(), c.raw, c.seed));
        EXPECT_EQ(hexText(bytesOf(frame.get())), c.expected);
    }
    EXPECT_EQ(ByteString_liveCount(), live);
}

INSTANTIATE_TEST_SUITE_P(
    Frames, FrameBuilderTest,
    ::testing::Values(
        FrameCase{"BootloaderVersion", 2, 0, 5, {}, 0, -1, "3B 01 02 00 00 00 05 00 58 58 B7 00"},
        FrameCase{"OpenRawTransferSeedZero", 23, 0, 0, {}, 0, 0, "3B 00 17 00 00 00 17 00"},
        FrameCase{"NoBodyNoPadding", 9, 0x1F441C, 0, {}, 0, -1, "3B 00 09 1C 44 1F 88 00"},
        FrameCase{"AddressKeepsLow24Bits",
                  3,
                  0xAB7FC000,
                  46,
                  {},
                  0,
                  -1,
                  "3B 01 03 00 C0 7F 2E 00 58 58 20 02"},
        FrameCase{"LengthAndOneBytePayload",
                  3,
                  0,
                  3,
                  {0xAA},
                  0,
                  -1,
                  "3B 01 03 00 00 00 03 00 AA 58 08 01"},
        FrameCase{"EraseRange", 5, 0x350803, 0, {}, 0, -1, "3B 00 05 03 08 35 45 00"},
        FrameCase{"SeedStandsForTheBody",
                  16,
                  0x000102,
                  0,
                  {1, 2, 3, 4},
                  0,
                  0x1234,
                  "3B 01 10 02 01 00 01 02 03 04 47 12"},
        FrameCase{"RawStartsWithColon",
                  4,
                  0x123456,
                  0,
                  {2, 0, 0, 0, 4, 0, 9, 8, 7, 6},
                  1,
                  -1,
                  "3A 01 02 00 00 00 04 00 09 08 07 06"},
        FrameCase{"RawBluetoothStartsWithSemicolon",
                  19,
                  0,
                  0,
                  {3, 0, 0, 0, 2, 0, 5, 6},
                  1,
                  -1,
                  "3B 01 03 00 00 00 02 00 05 06"},
        FrameCase{"RawWordCountRoundsUp",
                  4,
                  0,
                  0,
                  {2, 0, 0, 0, 5, 0, 1, 2, 3, 4, 5},
                  1,
                  -1,
                  "3A 02 02 00 00 00 05 00 01 02 03 04 05"},
        FrameCase{"RawCarriesTheLengthField",
                  23,
                  0,
                  0x0102,
                  {1, 2, 3, 4, 5, 6},
                  1,
                  -1,
                  "3A 01 02 01 01 02 03 04 05 06"}),
    [](const ::testing::TestParamInfo<FrameCase>& testInfo) {
        return std::string(testInfo.param.name);
    });

TEST(FrameBuilderLimits, WordCountStopsAt255) {
    uint32_t live = ByteString_liveCount();
    {
        ByteStringPtr payload = byteString(filled(1024, 0));
        ByteStringPtr frame(ToolFrame_build(4, 0, 0, payload.get(), 0, -1));
        EXPECT_EQ(frame->data[1], 255);
        EXPECT_EQ(frame->length, 2 + 4 + 1024 + 2);

        // 1020 bytes still fit the count exactly.
        ByteStringPtr fits = byteString(filled(1020, 0));
        ByteStringPtr exact(ToolFrame_build(4, 0, 0, fits.get(), 0, -1));
        EXPECT_EQ(exact->data[1], 255);
    }
    EXPECT_EQ(ByteString_liveCount(), live);
}

TEST(FrameBuilderLimits, RawWordCountKeepsItsLowEightBits) {
    uint32_t live = ByteString_liveCount();
    {
        ByteStringPtr record = byteString(rawRecord(384));
        ByteStringPtr frame(ToolFrame_build(4, 0, 0, record.get(), 1, -1));
        EXPECT_EQ(frame->data[1], 96);
        EXPECT_EQ(frame->length, 2 + 390);

        ByteStringPtr big = byteString(rawRecord(1200));
        ByteStringPtr wrapped(ToolFrame_build(4, 0, 0, big.get(), 1, -1));
        EXPECT_EQ(wrapped->data[1], 300 & 0xFF);
    }
    EXPECT_EQ(ByteString_liveCount(), live);
}

TEST(FrameBuilderLimits, SeededChecksumIgnoresThePayload) {
    uint32_t live = ByteString_liveCount();
    {
        ByteStringPtr a = byteString(filled(384, 0x00));
        ByteStringPtr b = byteString(filled(384, 0xFF));
        ByteStringPtr fa(ToolFrame_build(16, 0x000102, 0, a.get(), 0, 0x1234));
        ByteStringPtr fb(ToolFrame_build(16, 0x000102, 0, b.get(), 0, 0x1234));
        for (const ByteString* f : {fa.get(), fb.get()}) {
            EXPECT_EQ(f->data[f->length - 2], 0x47);
            EXPECT_EQ(f->data[f->length - 1], 0x12);
        }
    }
    EXPECT_EQ(ByteString_liveCount(), live);
}

}  // namespace
