#include <string>

#include "package/package_section.h"
#include "package_test_support.h"

namespace {

using namespace packagetest;
using namespace packwriter;

struct InflateCase {
    const char* what;
    std::string prefix;
    const char* text;  // its zlib stream follows the prefix; none when null
    std::string expected;
    size_t cut = 0;  // bytes cut off the end
};

class Inflate : public ::testing::TestWithParam<InflateCase> {};

TEST_P(Inflate, RestoresOrGivesEmpty) {
    const InflateCase& c = GetParam();
    Bytes block = bytesOf(c.prefix);
    if (c.text != nullptr) {
        Bytes stream = compressBlock(bytesOf(c.text));
        block.insert(block.end(), stream.begin() + 15, stream.end() - static_cast<long>(c.cut));
    }
    ByteStringPtr in = toByteString(block);
    ByteStringPtr out(PackageSection_inflate(in.get()));
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(str(out.get()), c.expected);
    EXPECT_EQ(out->data[out->length], 0);
    EXPECT_EQ(toBytes(in.get()), block);
    // An empty result keeps nothing of the buffer the block announced.
    EXPECT_TRUE(out->length > 0 || out->capacity == 0);
    // Nor does a few bytes' block take more than it could ever fill, whatever it announces.
    EXPECT_LT(out->capacity, 1 << 20);
}

INSTANTIATE_TEST_SUITE_P(
    Table, Inflate,
    ::testing::Values(InflateCase{"exact_length", "000000000000005", "hello", "hello"},
                      InflateCase{"length_too_small", "000000000000004", "hello", ""},
                      InflateCase{"length_larger", "000000000000010", "hello", "hello"},
                      InflateCase{"length_at_the_limit", "000000033554432", "hello", "hello"},
                      InflateCase{"all_zero_prefix_empty_stream", "000000000000000", "", ""},
                      InflateCase{"all_zero_prefix_with_data", "000000000000000", "hello", ""},
                      InflateCase{"no_leading_zeros", "5              ", "hello", "hello"},
                      InflateCase{"digits_stop_at_a_non_digit", "00000000000x005", "hello", ""},
                      InflateCase{"stream_cut_short", "000000000000005", "hello", "", 3},
                      InflateCase{"not_zlib", "000000000000005hello", nullptr, ""},
                      InflateCase{"large_length_not_zlib", "000000016777216junk", nullptr, ""},
                      InflateCase{"prefix_only", "000000000000005", nullptr, ""},
                      InflateCase{"shorter_than_prefix", "00000000000005", nullptr, ""},
                      InflateCase{"empty_block", "", nullptr, ""},
                      // Refused before anything is allocated for them.
                      InflateCase{"absurd_length", "999999999999999", "hello", ""},
                      InflateCase{"just_over_the_limit", "000000033554433", "hello", ""}),
    [](const auto& test) { return std::string(test.param.what); });

}  // namespace
