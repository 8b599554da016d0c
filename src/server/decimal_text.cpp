#include "server/decimal_text.h"

#include <cstdint>

#include "core/byte_string.h"

int32_t decimalValue(const ByteString* text) {
    if (text == nullptr) return 0;
    int32_t i = 0;
    auto isSpace = [](uint8_t c) { return c == ' ' || (c >= '\t' && c <= '\r'); };
    while (i < text->length && isSpace(text->data[i])) ++i;
    bool negative = false;
    if (i < text->length && (text->data[i] == '+' || text->data[i] == '-')) {
        negative = text->data[i] == '-';
        ++i;
    }
    int64_t value = 0;
    constexpr int64_t kLimit = int64_t{INT32_MAX} + 1;
    for (; i < text->length && text->data[i] >= '0' && text->data[i] <= '9'; ++i) {
        value = value * 10 + (text->data[i] - '0');
        if (value > kLimit) value = kLimit;
    }
    if (negative) return static_cast<int32_t>(-value);
    return static_cast<int32_t>(value > INT32_MAX ? INT32_MAX : value);
}
