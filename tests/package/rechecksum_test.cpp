#include "package/rechecksum.h"

#include <string>
#include <vector>

#include "package_test_support.h"

namespace {

using namespace packagetest;

// Lays `data` out as the server stores extra files: 2048-byte blocks (the last one may be
// shorter), each followed by the sum of its bytes, low byte first.
Bytes serverLayout(const Bytes& data) {
    Bytes out;
    for (size_t at = 0; at < data.size(); at += 2048) {
        size_t end = std::min(data.size(), at + 2048);
        uint32_t sum = 0;
        for (size_t i = at; i < end; ++i) {
            out.push_back(data[i]);
            sum += data[i];
        }
        out.push_back(static_cast<uint8_t>(sum));
        out.push_back(static_cast<uint8_t>(sum >> 8));
    }
    return out;
}

ByteStringPtr rechecksum(const Bytes& input) {
    ByteStringPtr in = toByteString(input);
    ByteStringPtr out(RechecksumTo256(in.get()));
    EXPECT_EQ(toBytes(in.get()), input);
    return out;
}

Bytes pattern(size_t n) {
    Bytes out(n);
    uint32_t x = 0x12345678;
    for (uint8_t& b : out) {
        x = x * 1103515245u + 12345u;
        b = static_cast<uint8_t>(x >> 16);
    }
    return out;
}

class Rechecksum : public LeakCheckedWithParam<size_t> {};

// Every data byte arrives, in 256-byte chunks each followed by its own sum.
TEST_P(Rechecksum, KeepsEveryDataByte) {
    Bytes data = pattern(GetParam());
    ByteStringPtr out = rechecksum(serverLayout(data));
    ASSERT_NE(out, nullptr);
    Bytes got = toBytes(out.get());
    Bytes back;
    size_t at = 0;
    while (at < got.size()) {
        size_t n = std::min<size_t>(256, got.size() - at - 2);
        uint32_t sum = 0;
        for (size_t i = 0; i < n; ++i) sum += got[at + i];
        back.insert(back.end(), got.begin() + static_cast<long>(at),
                    got.begin() + static_cast<long>(at + n));
        EXPECT_EQ(got[at + n], sum & 0xFF) << "chunk at " << at;
        EXPECT_EQ(got[at + n + 1], (sum >> 8) & 0xFF) << "chunk at " << at;
        ASSERT_TRUE(n == 256 || at + n + 2 == got.size()) << "short chunk inside";
        at += n + 2;
    }
    EXPECT_EQ(back, data);
}

INSTANTIATE_TEST_SUITE_P(Sizes, Rechecksum,
                         ::testing::Values(1, 2, 255, 256, 257, 2047, 2048, 2049, 2050, 4096, 4097,
                                           10000));

class RechecksumCases : public LeakChecked {};

TEST_F(RechecksumCases, WorkedValues) {
    ByteStringPtr zeros = rechecksum(Bytes(2 * 2050, 0));
    ASSERT_NE(zeros, nullptr);
    EXPECT_EQ(toBytes(zeros.get()), Bytes(16 * 258, 0));
    ByteStringPtr high = rechecksum(serverLayout(Bytes(2048, 0xFF)));  // sums low byte first
    ASSERT_NE(high, nullptr);
    EXPECT_EQ(high->data[256], 0x00);
    EXPECT_EQ(high->data[257], 0xFF);
    for (size_t n : {0, 1, 2}) {  // too short for a block: empty
        ByteStringPtr out = rechecksum(Bytes(n, 0));
        ASSERT_NE(out, nullptr) << n;
        EXPECT_EQ(out->length, 0);
    }
}

TEST_F(RechecksumCases, AChangedByteOrAStrayTailGivesNull) {
    Bytes good = serverLayout(pattern(2 * 2048 + 100));
    for (size_t at : {0, 2047, 2050, 2050 + 2047, 2 * 2050 + 50}) {
        Bytes bad = good;
        bad[at] ^= 0x01;
        EXPECT_EQ(rechecksum(bad), nullptr) << "byte " << at;
    }
    good.back() ^= 0x80;  // the partial block's own checksum
    EXPECT_EQ(rechecksum(good), nullptr);
    // One or two bytes after the last whole block cannot hold data and a checksum.
    for (size_t stray : {1, 2}) {
        Bytes input = serverLayout(pattern(2048));
        input.insert(input.end(), stray, 0);
        EXPECT_EQ(rechecksum(input), nullptr) << stray;
    }
}

}  // namespace
