#include "core/byte_string.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

namespace {

ByteStringPtr bytes(std::string_view text) {
    return makeByteString(text);
}

class ByteStringTest : public ::testing::Test {
  protected:
    void SetUp() override { live_ = ByteString_liveCount(); }
    void TearDown() override { EXPECT_EQ(ByteString_liveCount(), live_); }
    uint32_t live_ = 0;
};

TEST_F(ByteStringTest, GrowthKeepsTheTerminatingZeroInsideTheBuffer) {
    ByteStringPtr s(ByteString_create(0));
    ByteString_appendByte(s.get(), 'a');
    EXPECT_EQ(s->capacity, 2);
    EXPECT_EQ(s->length, 1);
    EXPECT_EQ(s->data[1], 0);

    ByteStringPtr t(ByteString_create(3));
    ByteString_appendBytes(t.get(), "xyz", 3);
    EXPECT_EQ(t->capacity, 6);
    EXPECT_STREQ(reinterpret_cast<char*>(t->data), "xyz");

    ByteStringPtr e(ByteString_fromText(""));
    EXPECT_EQ(e->length, 0);
    EXPECT_EQ(e->capacity, 1);

    ByteStringPtr a(ByteString_create(1));
    ByteString_assignBytes(a.get(), "hello", 5);
    ByteString_assignBytes(a.get(), "hi", 2);
    EXPECT_EQ(ByteString_str(a.get()), "hi");
    EXPECT_EQ(a->data[2], 0);
}

TEST_F(ByteStringTest, BinaryContentsSurviveGrowthByteByByte) {
    ByteStringPtr s(ByteString_create(0));
    std::string expected;
    for (int i = 0; i < 5000; ++i) {
        ByteString_appendByte(s.get(), static_cast<uint8_t>(i));
        expected.push_back(static_cast<char>(i));
    }
    EXPECT_EQ(ByteString_str(s.get()), expected);
    EXPECT_EQ(s->data[s->length], 0);
}

TEST_F(ByteStringTest, SerialsRiseAndCopiesAreIndependent) {
    ByteStringPtr a(ByteString_fromText("abc"));
    ByteStringPtr b(ByteString_copy(a.get()));
    EXPECT_GT(b->serial, a->serial);
    ByteString_appendByte(b.get(), 'd');
    EXPECT_EQ(ByteString_str(a.get()), "abc");
    EXPECT_EQ(ByteString_copy(nullptr), nullptr);
    ByteString_free(nullptr);
}

TEST_F(ByteStringTest, LiveCountStaysExactAcrossThreads) {
    uint32_t before = ByteString_liveCount();
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([] {
            for (int i = 0; i < 2000; ++i) ByteString_free(ByteString_fromUnsigned(i));
        });
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(ByteString_liveCount(), before);
}

struct SubstringCase {
    int32_t offset, length;
    const char* expected;  // null: no string
};
class SubstringTest : public ByteStringTest, public ::testing::WithParamInterface<SubstringCase> {};
TEST_P(SubstringTest, BoundsAreChecked) {
    auto c = GetParam();
    auto s = bytes("abc");
    ByteStringPtr r(ByteString_substring(s.get(), c.offset, c.length));
    if (c.expected == nullptr) {
        EXPECT_EQ(r, nullptr);
    } else {
        ASSERT_NE(r, nullptr);
        EXPECT_EQ(ByteString_str(r.get()), c.expected);
    }
}
INSTANTIATE_TEST_SUITE_P(Cases, SubstringTest,
                         ::testing::Values(SubstringCase{3, 0, ""}, SubstringCase{2, 2, nullptr},
                                           SubstringCase{-1, 1, nullptr},
                                           SubstringCase{0, 3, "abc"}, SubstringCase{1, 1, "b"},
                                           SubstringCase{4, 0, nullptr},
                                           SubstringCase{0, -1, nullptr},
                                           SubstringCase{1, 0x7FFFFFFF, nullptr}));

struct FieldCase {
    std::string text, delimiter, terminator;
    int32_t n;
    std::string expected;
};
class FieldTest : public ByteStringTest, public ::testing::WithParamInterface<FieldCase> {};
TEST_P(FieldTest, ExtractsTheNthField) {
    auto c = GetParam();
    auto s = bytes(c.text);
    auto d = bytes(c.delimiter);
    auto t = bytes(c.terminator);
    ByteStringPtr r(ByteString_field(s.get(), d.get(), t.get(), c.n));
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(ByteString_str(r.get()), c.expected);
}
INSTANTIATE_TEST_SUITE_P(Cases, FieldTest,
                         ::testing::Values(FieldCase{"|SUCCESS|12|abc|", "|", "|", 1, "SUCCESS"},
                                           FieldCase{"|SUCCESS|12|abc|", "|", "|", 2, "12"},
                                           FieldCase{"|SUCCESS|12|abc|", "|", "|", 3, "abc"},
                                           FieldCase{"|SUCCESS|12|abc|", "|", "|", 4, ""},
                                           FieldCase{"|SUCCESS|12|", "|", "|", 3, ""},
                                           FieldCase{"|SUCCESS|12|", "|", "|", 0, ""},
                                           FieldCase{"a;;b;", ";", ";", 2, "b"},
                                           FieldCase{"a;;b;", ";", ";", 1, ""},
                                           FieldCase{"", "|", "|", 1, ""},
                                           // Multi-byte delimiter and terminator; a failed match
                                           // does not re-test the byte that broke it.
                                           FieldCase{"x<>ab</>y", "<>", "</>", 1, "ab"},
                                           FieldCase{"<<>ab</>", "<>", "</>", 1, ""},
                                           FieldCase{"|a|b", "|", "|", 2, ""},
                                           FieldCase{"|a|b", "", "|", 1, ""}));

struct CountCase {
    std::string pattern, text;
    int32_t expected;
};
class CountTest : public ByteStringTest, public ::testing::WithParamInterface<CountCase> {};
TEST_P(CountTest, CountsOccurrences) {
    auto c = GetParam();
    auto p = bytes(c.pattern);
    auto t = bytes(c.text);
    EXPECT_EQ(ByteString_countOccurrences(p.get(), t.get()), c.expected);
}
INSTANTIATE_TEST_SUITE_P(Cases, CountTest,
                         ::testing::Values(CountCase{"|", "a||b", 1}, CountCase{"|", "a|b|c", 2},
                                           CountCase{"|", "|a|b|", 3}, CountCase{"ab", "aab", 0},
                                           CountCase{"|", "", 0}, CountCase{"", "abc", 0},
                                           CountCase{";B;", ";B;B;", 1}));

TEST_F(ByteStringTest, TrimOnlyTouchesSpaces) {
    struct {
        std::string text;
        int flags;
        std::string expected;
    } cases[] = {{"  ab  ", 3, "ab"},   {"   ", 3, ""},        {" ", 2, " "},
                 {"  ab  ", 1, "ab  "}, {"  ab  ", 2, "  ab"}, {"\tab ", 3, "\tab"}};
    for (auto& c : cases) {
        auto s = bytes(c.text);
        ByteStringPtr r(ByteString_trim(s.get(), c.flags));
        EXPECT_EQ(ByteString_str(r.get()), c.expected) << "'" << c.text << "' " << c.flags;
    }
}

TEST_F(ByteStringTest, NumbersToText) {
    struct {
        uint32_t value;
        const char* expected;
    } decimals[] = {{0, "0"},
                    {10, "10"},
                    {9, "9"},
                    {999999999, "999999999"},
                    {1000000000, "1000000000"},
                    {4294967295u, "4294967295"}};
    for (auto& c : decimals) {
        ByteStringPtr s(ByteString_fromUnsigned(c.value));
        EXPECT_EQ(ByteString_str(s.get()), c.expected);
    }
    struct {
        int32_t value, minDigits;
        const char* expected;
    } hexes[] = {{0, 8, "0x00"},  {0x1A2, 0, "0x1A2"}, {5, 4, "0x0005"},
                 {10, 2, "0x0A"}, {255, 2, "0xFF"},    {-1, 2, "0xFFFFFFFF"}};
    for (auto& c : hexes) {
        ByteStringPtr s(ByteString_fromHex(c.value, c.minDigits));
        EXPECT_EQ(ByteString_str(s.get()), c.expected);
        EXPECT_EQ(s->data[s->length], 0);
    }
}

TEST_F(ByteStringTest, ParseHex) {
    struct {
        const char* text;
        uint32_t expected;
    } cases[] = {{"0x1f", 31},
                 {"0x1g", 0},
                 {"zx10", 16},
                 {"x1", 0},
                 {"", 0},
                 {"0x", 0},
                 {"FF", 255},
                 {"0x100000000", 0},
                 {"0xFFFFFFFF", 0xFFFFFFFFu}};
    for (auto& c : cases) {
        auto s = bytes(c.text);
        EXPECT_EQ(ByteString_parseHex(s.get()), c.expected) << c.text;
    }
}

TEST_F(ByteStringTest, Comparisons) {
    auto empty = bytes("");
    auto abc = bytes("abc");
    auto ab = bytes("ab");
    auto abd = bytes("abd");
    EXPECT_EQ(ByteString_equalsText(empty.get(), ""), 1);
    EXPECT_EQ(ByteString_equalsText(abc.get(), "ab"), 0);
    EXPECT_EQ(ByteString_prefixEquals(abc.get(), ab.get()), 1);
    EXPECT_EQ(ByteString_prefixEquals(empty.get(), abc.get()), 1);
    EXPECT_EQ(ByteString_prefixEquals(abd.get(), abc.get()), 0);
    EXPECT_EQ(ByteString_equals(abc.get(), ab.get()), 0);
    EXPECT_EQ(ByteString_equals(empty.get(), empty.get()), 1);
    auto high = bytes("\xFF");
    auto low = bytes("\x01");
    EXPECT_EQ(ByteString_equals(high.get(), low.get()), 0);
}

TEST_F(ByteStringTest, ToTextIsAPlainCopy) {
    ByteStringPtr s(ByteString_create(4));
    ByteString_appendBytes(s.get(), "a\0b", 3);
    char* text = ByteString_toText(s.get());
    EXPECT_EQ(std::string(text, 4), std::string("a\0b\0", 4));
    std::free(text);
    EXPECT_EQ(ByteString_toText(nullptr), nullptr);
}

}  // namespace
