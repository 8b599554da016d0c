#include <zlib.h>

#include <string>

#include "package/package_section.h"
#include "package_test_support.h"

namespace {

using namespace packagetest;
using namespace packwriter;

Bytes zlibStream(const std::string& text) {
    Bytes block = compressBlock(bytesOf(text));
    return Bytes(block.begin() + 15, block.end());
}

Bytes withPrefix(const std::string& prefix, const Bytes& stream) {
    Bytes out = bytesOf(prefix);
    out.insert(out.end(), stream.begin(), stream.end());
    return out;
}

std::string inflate(const Bytes& block) {
    ByteStringPtr in = toByteString(block);
    ByteStringPtr out(PackageSection_inflate(in.get()));
    EXPECT_NE(out, nullptr);
    EXPECT_EQ(out->data[out->length], 0);
    EXPECT_EQ(toBytes(in.get()), block);
    return ByteString_str(out.get());
}

struct InflateCase {
    const char* what;
    Bytes block;
    std::string expected;
};

class Inflate : public LeakCheckedWithParam<InflateCase> {};

TEST_P(Inflate, RestoresOrGivesEmpty) {
    EXPECT_EQ(inflate(GetParam().block), GetParam().expected);
}

Bytes cutShort() {
    Bytes b = withPrefix("000000000000005", zlibStream("hello"));
    b.resize(b.size() - 3);
    return b;
}

INSTANTIATE_TEST_SUITE_P(
    Table, Inflate,
    ::testing::Values(
        InflateCase{"exact_length", withPrefix("000000000000005", zlibStream("hello")), "hello"},
        InflateCase{"length_too_small", withPrefix("000000000000004", zlibStream("hello")), ""},
        InflateCase{"length_larger", withPrefix("000000000000010", zlibStream("hello")), "hello"},
        InflateCase{"all_zero_prefix_empty_stream", withPrefix("000000000000000", zlibStream("")),
                    ""},
        InflateCase{"all_zero_prefix_with_data", withPrefix("000000000000000", zlibStream("hello")),
                    ""},
        InflateCase{"no_leading_zeros", withPrefix("5              ", zlibStream("hello")),
                    "hello"},
        InflateCase{"digits_stop_at_a_non_digit",
                    withPrefix("00000000000x005", zlibStream("hello")), ""},
        InflateCase{"stream_cut_short", cutShort(), ""},
        InflateCase{"not_zlib", bytesOf("000000000000005hello"), ""},
        InflateCase{"prefix_only", bytesOf("000000000000005"), ""},
        InflateCase{"shorter_than_prefix", bytesOf("00000000000005"), ""},
        InflateCase{"empty_block", Bytes{}, ""},
        // Sizes nobody ships are refused before anything is allocated for them.
        InflateCase{"absurd_length", withPrefix("999999999999999", zlibStream("hello")), ""},
        InflateCase{"just_over_the_cap", withPrefix("000000268435457", zlibStream("hello")), ""}),
    [](const auto& test) { return std::string(test.param.what); });

class SectionRead : public LeakChecked {};

TEST_F(SectionRead, AdvancesPastTheSectionOrLeavesTheCursor) {
    // Format 8 layout: compression, external, name, length, data.
    Bytes bytes = {'x', 1, 0, 2, 'f', 'w'};
    Bytes block = compressBlock(bytesOf("payload"));
    for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<uint8_t>(block.size() >> (8 * i)));
    bytes.insert(bytes.end(), block.begin(), block.end());
    bytes.push_back('B');
    ByteStringPtr in = toByteString(bytes);

    int32_t cursor = 1;
    PackageSectionPtr s(PackageSection_read(in.get(), &cursor, 8));
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(cursor, static_cast<int32_t>(bytes.size()) - 1);
    EXPECT_EQ(ByteString_str(s->data), "payload");
    EXPECT_EQ(ByteString_str(s->name), "fw");

    // Read as format 6 there is no external byte: the name length is 0 and the length
    // field runs into the data, far past the end.
    cursor = 1;
    EXPECT_EQ(PackageSection_read(in.get(), &cursor, 6), nullptr);
    EXPECT_EQ(cursor, 1);
    cursor = -5;
    EXPECT_EQ(PackageSection_read(in.get(), &cursor, 8), nullptr);
    cursor = static_cast<int32_t>(bytes.size());
    EXPECT_EQ(PackageSection_read(in.get(), &cursor, 8), nullptr);
}

}  // namespace
