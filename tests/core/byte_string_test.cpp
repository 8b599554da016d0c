#include "core/byte_string.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

namespace {

TEST(ByteStringTest, GrowthKeepsContentsAndTheTerminatingZero) {
    ByteStringPtr s(ByteString_create(0)), t(ByteString_create(3));
    ByteString_appendBytes(t.get(), "xyz", 3);
    ByteString_assignBytes(t.get(), "hi", 2);
    EXPECT_EQ(ByteString_str(t.get()), "hi");
    EXPECT_EQ(t->data[2], 0);
    // Byte by byte through many doublings, zero bytes included.
    std::string expected;
    for (int i = 0; i < 5000; ++i) {
        ByteString_appendByte(s.get(), static_cast<uint8_t>(i));
        expected.push_back(static_cast<char>(i));
    }
    EXPECT_EQ(ByteString_str(s.get()), expected);
    EXPECT_EQ(s->data[s->length], 0);
}

TEST(ByteStringTest, CopiesAreIndependentAndNullIsSafe) {
    ByteStringPtr a = makeByteString("abc");
    ByteStringPtr b(ByteString_copy(a.get()));
    EXPECT_GT(b->serial, a->serial);
    ByteString_appendBytes(b.get(), "\0x", 2);
    EXPECT_EQ(ByteString_str(a.get()), "abc");
    char* text = ByteString_toText(b.get());  // a plain copy, zero bytes included
    EXPECT_EQ(std::string(text, 6), std::string("abc\0x\0", 6));
    std::free(text);
    EXPECT_EQ(ByteString_copy(nullptr), nullptr);
    EXPECT_EQ(ByteString_toText(nullptr), nullptr);
    ByteString_free(nullptr);
}

TEST(ByteStringTest, LiveCountStaysExactAcrossThreads) {
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([] {
            for (int i = 0; i < 2000; ++i) ByteString_free(ByteString_fromUnsigned(i));
        });
    }
    for (auto& t : threads) t.join();
}

TEST(ByteStringTest, SubstringsAndFields) {
    // clang-format off
    struct { int32_t offset, length; const char* expected; } substrings[] = {
        {3, 0, ""}, {0, 3, "abc"}, {1, 1, "b"}, {2, 2, nullptr}, {-1, 1, nullptr}, {4, 0, nullptr},
        {0, -1, nullptr}, {1, 0x7FFFFFFF, nullptr}};
    // clang-format on
    for (auto [offset, length, expected] : substrings) {
        ByteStringPtr r(ByteString_substring(makeByteString("abc").get(), offset, length));
        EXPECT_EQ(r ? ByteString_str(r.get()) : "(null)", expected ? expected : "(null)")
            << offset << "+" << length;
    }
    // clang-format off
    struct { const char *text, *delimiter, *terminator; int32_t n; const char* expected; } fields[] = {
        {"|SUCCESS|12|abc|", "|", "|", 1, "SUCCESS"}, {"|SUCCESS|12|abc|", "|", "|", 2, "12"},
        {"|SUCCESS|12|abc|", "|", "|", 3, "abc"}, {"|SUCCESS|12|abc|", "|", "|", 4, ""},
        {"|SUCCESS|12|", "|", "|", 3, ""}, {"|SUCCESS|12|", "|", "|", 0, ""},
        {"a;;b;", ";", ";", 2, "b"}, {"a;;b;", ";", ";", 1, ""},
        {"", "|", "|", 1, ""}, {"|a|b", "|", "|", 2, ""}, {"|a|b", "", "|", 1, ""},
        // Multi-byte delimiter and terminator; a failed match does not re-test the byte that broke it.
        {"x<>ab</>y", "<>", "</>", 1, "ab"}, {"<<>ab</>", "<>", "</>", 1, ""}};
    // clang-format on
    for (auto& c : fields) {
        ByteStringPtr r(ByteString_field(makeByteString(c.text).get(),
                                         makeByteString(c.delimiter).get(),
                                         makeByteString(c.terminator).get(), c.n));
        ASSERT_NE(r, nullptr);
        EXPECT_EQ(ByteString_str(r.get()), c.expected) << c.text << " " << c.n;
    }
}

TEST(ByteStringTest, CountsOccurrencesWithoutOverlap) {
    using namespace std::string_literals;
    // clang-format off
    struct {
        std::string pattern, text;
        int32_t expected;
    } cases[] = {{"|", "a||b", 1}, {"|", "a|b|c", 2}, {"|", "|a|b|", 3}, {"ab", "aab", 0},
                 {"|", "", 0}, {"", "abc", 0}, {";B;", ";B;B;", 1},
                 // A zero byte after a match is no match of the pattern's terminating zero.
                 {"|", "|\0|"s, 2}, {"ab", "ab\0ab"s, 2}, {"|", "|\0\0|"s, 2}};
    // clang-format on
    for (auto& c : cases) {
        EXPECT_EQ(ByteString_countOccurrences(makeByteString(c.pattern).get(),
                                              makeByteString(c.text).get()),
                  c.expected)
            << c.pattern << " in " << c.text;
    }
}

TEST(ByteStringTest, TrimOnlyTouchesSpaces) {
    struct {
        const char* text;
        int flags;
        const char* expected;
    } cases[] = {{"  ab  ", 3, "ab"},   {"   ", 3, ""},        {" ", 2, " "},
                 {"  ab  ", 1, "ab  "}, {"  ab  ", 2, "  ab"}, {"\tab ", 3, "\tab"}};
    for (auto& c : cases) {
        ByteStringPtr r(ByteString_trim(makeByteString(c.text).get(), c.flags));
        EXPECT_EQ(ByteString_str(r.get()), c.expected) << "'" << c.text << "' " << c.flags;
    }
}

TEST(ByteStringTest, NumbersToAndFromText) {
    for (uint32_t v : {0u, 9u, 10u, 999999999u, 1000000000u, 4294967295u}) {
        EXPECT_EQ(ByteString_str(ByteStringPtr(ByteString_fromUnsigned(v)).get()),
                  std::to_string(v));
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
    // clang-format off
    struct {
        const char* text;
        uint32_t expected;
    } parsed[] = {{"0x1f", 31}, {"0x1g", 0}, {"zx10", 16}, {"x1", 0}, {"", 0}, {"0x", 0},
                  {"FF", 255}, {"0x100000000", 0}, {"0xFFFFFFFF", 0xFFFFFFFFu}};
    // clang-format on
    for (auto& c : parsed) {
        EXPECT_EQ(ByteString_parseHex(makeByteString(c.text).get()), c.expected) << c.text;
    }
}

TEST(ByteStringTest, Comparisons) {
    auto empty = makeByteString(""), abc = makeByteString("abc"), ab = makeByteString("ab");
    EXPECT_EQ(ByteString_equalsText(empty.get(), ""), 1);
    EXPECT_EQ(ByteString_equalsText(abc.get(), "ab"), 0);
    EXPECT_EQ(ByteString_prefixEquals(abc.get(), ab.get()), 1);
    EXPECT_EQ(ByteString_prefixEquals(empty.get(), abc.get()), 1);
    EXPECT_EQ(ByteString_prefixEquals(makeByteString("abd").get(), abc.get()), 0);
    EXPECT_EQ(ByteString_equals(abc.get(), ab.get()), 0);
    EXPECT_EQ(ByteString_equals(empty.get(), empty.get()), 1);
}

}  // namespace
