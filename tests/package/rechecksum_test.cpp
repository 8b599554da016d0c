#include "package/rechecksum.h"

#include <optional>
#include <string>
#include <vector>

#include "package_test_support.h"

namespace {

using namespace packagetest;

// `data` in blocks of `block` bytes, each followed by the sum of its bytes, low byte first.
Bytes withSums(const Bytes& data, size_t block) {
    Bytes out;
    for (size_t at = 0; at < data.size(); at += block) {
        uint32_t sum = 0;
        for (size_t i = at; i < std::min(data.size(), at + block); ++i) {
            out.push_back(data[i]);
            sum += data[i];
        }
        out.push_back(static_cast<uint8_t>(sum));
        out.push_back(static_cast<uint8_t>(sum >> 8));
    }
    return out;
}

Bytes pattern(size_t n) {
    Bytes out(n);
    for (size_t i = 0; i < n; ++i) out[i] = static_cast<uint8_t>(i * 131 + (i >> 8));
    return out;
}

Bytes changed(Bytes b, size_t at) {
    b[at] ^= 0x01;
    return b;
}

struct RechecksumCase {
    std::string what;
    Bytes input;
    std::optional<Bytes> data;  // the data carried into 256-byte blocks; none for null
};

class Rechecksum : public ::testing::TestWithParam<RechecksumCase> {};

TEST_P(Rechecksum, CarriesTheDataInto256ByteBlocks) {
    ByteStringPtr in = toByteString(GetParam().input);
    ByteStringPtr out(RechecksumTo256(in.get()));
    EXPECT_EQ(toBytes(in.get()), GetParam().input);
    if (!GetParam().data) {
        EXPECT_EQ(out, nullptr);
        return;
    }
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(toBytes(out.get()), withSums(*GetParam().data, 256));
}

std::vector<RechecksumCase> cases() {
    std::vector<RechecksumCase> out;
    for (size_t n : {2, 255, 256, 257, 2047, 2048, 2049, 4096, 4097, 10000}) {
        out.push_back({"size_" + std::to_string(n), withSums(pattern(n), 2048), pattern(n)});
    }
    Bytes two = withSums(pattern(4096), 2048);
    Bytes withPartial = withSums(pattern(4096 + 100), 2048);
    out.push_back({"two_zero_blocks", Bytes(2 * 2050, 0), Bytes(4096, 0)});
    for (size_t n : {0, 1, 2, 3})
        out.push_back({"input_of_" + std::to_string(n), Bytes(n, 7), Bytes{}});
    // One or two bytes after the last whole block cannot hold data and its sum.
    for (size_t n : {1, 2}) {
        Bytes stray = two;
        stray.insert(stray.end(), n, 0x5A);
        out.push_back({"stray_bytes_" + std::to_string(n), stray, pattern(4096)});
    }
    // The sum of a partial last block is not compared.
    out.push_back({"partial_block_sum_wrong", changed(withPartial, withPartial.size() - 1),
                   pattern(4096 + 100)});
    out.push_back({"partial_block_data_changed", changed(withPartial, 2 * 2050 + 50),
                   changed(pattern(4096 + 100), 4096 + 50)});
    for (size_t at : {0, 2047, 2048, 2050, 2050 + 2047, 2 * 2050 - 1}) {
        out.push_back({"whole_block_byte_" + std::to_string(at), changed(withPartial, at), {}});
    }
    return out;
}

INSTANTIATE_TEST_SUITE_P(Table, Rechecksum, ::testing::ValuesIn(cases()),
                         [](const auto& test) { return test.param.what; });

}  // namespace
