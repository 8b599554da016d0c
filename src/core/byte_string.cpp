#include "core/byte_string.h"

#include <atomic>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace {

std::atomic<uint32_t> gLiveCount{0};
std::atomic<uint32_t> gSerialCounter{0};

void* checkedRealloc(void* p, size_t size) {
    void* q = std::realloc(p, size == 0 ? 1 : size);
    // Running on after a failed allocation would corrupt a user's data; stop instead.
    if (q == nullptr) std::abort();
    return q;
}

ByteString* newRecord(int32_t capacity) {
    if (capacity < 0) capacity = 0;
    auto* s = static_cast<ByteString*>(checkedRealloc(nullptr, sizeof(ByteString)));
    s->data = static_cast<uint8_t*>(checkedRealloc(nullptr, static_cast<size_t>(capacity) + 1));
    s->data[0] = 0;
    s->length = 0;
    s->capacity = capacity;
    s->serial = ++gSerialCounter;
    ++gLiveCount;
    return s;
}

// Grows until `fits` holds. Sizes beyond the 32-bit range are an exhausted memory case.
template <typename Fits>
void growUntil(ByteString* s, Fits fits) {
    while (!fits()) {
        if (s->capacity > INT32_MAX / 2) std::abort();
        ByteString_grow(s);
    }
}

}  // namespace

ByteString* ByteString_create(int32_t capacity) {
    return newRecord(capacity);
}

ByteString* ByteString_fromText(const char* text) {
    size_t n = std::strlen(text);
    if (n >= INT32_MAX) std::abort();
    ByteString* s = newRecord(static_cast<int32_t>(n) + 1);
    std::memcpy(s->data, text, n);
    s->length = static_cast<int32_t>(n);
    s->data[n] = 0;
    return s;
}

ByteString* ByteString_fromUnsigned(uint32_t value) {
    if (value == 0) return ByteString_fromText("0");
    int32_t digits;
    uint32_t power = 1;
    if (value >= 1000000000u) {
        digits = 10;
        power = 1000000000u;
    } else {
        digits = 0;
        uint32_t p = 1;
        while (p <= value) {
            p *= 10;
            ++digits;
        }
        for (int32_t i = 1; i < digits; ++i) power *= 10;
    }
    ByteString* s = newRecord(digits);
    for (; power > 0; power /= 10) {
        ByteString_appendByte(s, static_cast<uint8_t>('0' + (value / power) % 10));
    }
    return s;
}

ByteString* ByteString_fromHex(int32_t value, int32_t minDigits) {
    auto v = static_cast<uint32_t>(value);
    if (v == 0) return ByteString_fromText("0x00");
    int32_t k = 8;
    while (k > 1 && ((v >> ((k - 1) * 4)) & 0xF) == 0) --k;
    int32_t digits = k > minDigits ? k : minDigits;
    if (digits > 64) digits = 64;
    ByteString* s = newRecord(2 + digits);
    ByteString_appendByte(s, '0');
    ByteString_appendByte(s, 'x');
    static const char kHex[] = "0123456789ABCDEF";
    for (int32_t i = digits - 1; i >= 0; --i) {
        uint32_t nibble = i < 8 ? (v >> (i * 4)) & 0xF : 0;
        ByteString_appendByte(s, static_cast<uint8_t>(kHex[nibble]));
    }
    return s;
}

ByteString* ByteString_copy(const ByteString* s) {
    if (s == nullptr) return nullptr;
    ByteString* c = newRecord(s->length);
    std::memcpy(c->data, s->data, static_cast<size_t>(s->length));
    c->length = s->length;
    c->data[c->length] = 0;
    return c;
}

ByteString* ByteString_substring(const ByteString* s, int32_t offset, int32_t length) {
    if (s == nullptr || offset < 0 || length < 0 || offset > s->length ||
        static_cast<int64_t>(offset) + length > s->length) {
        return nullptr;
    }
    ByteString* r = newRecord(length);
    std::memcpy(r->data, s->data + offset, static_cast<size_t>(length));
    r->length = length;
    r->data[length] = 0;
    return r;
}

ByteString* ByteString_field(const ByteString* s, const ByteString* delimiter,
                             const ByteString* terminator, int32_t n) {
    ByteString* empty = newRecord(1);
    if (s == nullptr || s->length == 0 || n <= 0 || delimiter == nullptr || terminator == nullptr ||
        delimiter->length == 0 || terminator->length == 0) {
        return empty;
    }
    int32_t match = 0;
    int32_t seen = 0;
    int32_t fieldStart = -1;
    for (int32_t i = 0; i < s->length; ++i) {
        uint8_t b = s->data[i];
        if (fieldStart < 0) {
            if (b == delimiter->data[match]) {
                if (++match == delimiter->length) {
                    match = 0;
                    if (++seen == n) fieldStart = i + 1;
                }
            } else {
                match = 0;
            }
        } else {
            if (b == terminator->data[match]) {
                if (++match == terminator->length) {
                    int32_t end = i + 1 - terminator->length;
                    ByteString_free(empty);
                    return ByteString_substring(s, fieldStart, end - fieldStart);
                }
            } else {
                match = 0;
            }
        }
    }
    return empty;
}

ByteString* ByteString_trim(const ByteString* s, int32_t flags) {
    ByteString* mid;
    if (flags & 1) {
        int32_t lead = 0;
        while (lead < s->length && s->data[lead] == ' ') ++lead;
        mid = ByteString_substring(s, lead, s->length - lead);
    } else {
        mid = ByteString_copy(s);
    }
    if (!(flags & 2)) return mid;
    int32_t keep = mid->length;
    while (keep > 1 && mid->data[keep - 1] == ' ') --keep;
    ByteString* r = ByteString_substring(mid, 0, keep);
    ByteString_free(mid);
    return r;
}

char* ByteString_toText(const ByteString* s) {
    if (s == nullptr) return nullptr;
    auto* text = static_cast<char*>(checkedRealloc(nullptr, static_cast<size_t>(s->length) + 1));
    std::memcpy(text, s->data, static_cast<size_t>(s->length));
    text[s->length] = 0;
    return text;
}

void ByteString_free(ByteString* s) {
    if (s == nullptr) return;
    --gLiveCount;
    std::free(s->data);
    std::free(s);
}

uint32_t ByteString_liveCount() {
    return gLiveCount.load();
}

void ByteString_grow(ByteString* s) {
    int32_t capacity = s->capacity == 0 ? 1 : s->capacity;
    capacity *= 2;
    s->data = static_cast<uint8_t*>(checkedRealloc(s->data, static_cast<size_t>(capacity)));
    s->capacity = capacity;
}

void ByteString_appendBytes(ByteString* s, const void* bytes, int32_t count) {
    if (count < 0) count = 0;
    growUntil(s, [&] { return static_cast<int64_t>(s->length) + count < s->capacity; });
    if (count > 0) std::memcpy(s->data + s->length, bytes, static_cast<size_t>(count));
    s->length += count;
    s->data[s->length] = 0;
}

void ByteString_appendByte(ByteString* s, uint8_t byte) {
    growUntil(s, [&] { return static_cast<int64_t>(s->length) + 2 <= s->capacity; });
    s->data[s->length++] = byte;
    s->data[s->length] = 0;
}

void ByteString_append(ByteString* s, const ByteString* other) {
    ByteString_appendBytes(s, other->data, other->length);
}

void ByteString_assignBytes(ByteString* s, const void* bytes, int32_t count) {
    if (count < 0) count = 0;
    growUntil(s, [&] { return static_cast<int64_t>(count) + 1 < s->capacity; });
    if (count > 0) std::memmove(s->data, bytes, static_cast<size_t>(count));
    s->length = count;
    s->data[count] = 0;
}

int ByteString_equals(const ByteString* a, const ByteString* b) {
    if (a->length != b->length) return 0;
    return std::memcmp(a->data, b->data, static_cast<size_t>(a->length)) == 0 ? 1 : 0;
}

int ByteString_prefixEquals(const ByteString* a, const ByteString* b) {
    int32_t n = a->length < b->length ? a->length : b->length;
    return std::memcmp(a->data, b->data, static_cast<size_t>(n)) == 0 ? 1 : 0;
}

int ByteString_equalsText(const ByteString* s, const char* text) {
    size_t n = std::strlen(text);
    if (static_cast<size_t>(s->length) != n) return 0;
    return std::memcmp(s->data, text, n) == 0 ? 1 : 0;
}

int32_t ByteString_countOccurrences(const ByteString* pattern, const ByteString* text) {
    if (pattern->length == 0) return 0;
    int32_t count = 0;
    int32_t match = 0;
    for (int32_t i = 0; i < text->length; ++i) {
        // After a full match the position stays at the pattern's length, so the next byte
        // never starts a new occurrence.
        if (match < pattern->length && text->data[i] == pattern->data[match]) {
            if (++match == pattern->length) ++count;
        } else {
            match = 0;
        }
    }
    return count;
}

uint32_t ByteString_parseHex(const ByteString* s) {
    int32_t i = (s->length >= 3 && s->data[1] == 'x') ? 2 : 0;
    uint32_t value = 0;
    for (; i < s->length; ++i) {
        uint8_t c = s->data[i];
        uint32_t digit;
        if (c >= '0' && c <= '9') {
            digit = c - '0';
        } else if (c >= 'A' && c <= 'F') {
            digit = c - 'A' + 10;
        } else if (c >= 'a' && c <= 'f') {
            digit = c - 'a' + 10;
        } else {
            return 0;
        }
        value = value * 16 + digit;
    }
    return value;
}
