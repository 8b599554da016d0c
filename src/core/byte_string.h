// Growable byte buffer shared by every layer: frames, requests, replies, files and texts.
// The contents may hold zero bytes; a zero byte always follows them so the data can be
// handed to code that wants a zero-terminated text.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

struct ByteString {
    int32_t length;
    uint8_t* data;
    int32_t capacity;
    uint32_t serial;
};

ByteString* ByteString_create(int32_t capacity);
ByteString* ByteString_fromText(const char* text);
ByteString* ByteString_fromUnsigned(uint32_t value);
ByteString* ByteString_fromHex(int32_t value, int32_t minDigits);
ByteString* ByteString_copy(const ByteString* s);
ByteString* ByteString_substring(const ByteString* s, int32_t offset, int32_t length);
ByteString* ByteString_field(const ByteString* s, const ByteString* delimiter,
                             const ByteString* terminator, int32_t n);
ByteString* ByteString_trim(const ByteString* s, int32_t flags);
char* ByteString_toText(const ByteString* s);
void ByteString_free(ByteString* s);
uint32_t ByteString_liveCount();

void ByteString_grow(ByteString* s);
void ByteString_appendBytes(ByteString* s, const void* bytes, int32_t count);
void ByteString_appendByte(ByteString* s, uint8_t byte);
void ByteString_append(ByteString* s, const ByteString* other);
void ByteString_assignBytes(ByteString* s, const void* bytes, int32_t count);

int ByteString_equals(const ByteString* a, const ByteString* b);
int ByteString_prefixEquals(const ByteString* a, const ByteString* b);
int ByteString_equalsText(const ByteString* s, const char* text);
int32_t ByteString_countOccurrences(const ByteString* pattern, const ByteString* text);
uint32_t ByteString_parseHex(const ByteString* s);

// Owning handle for C++ callers so that no early return leaks a string.
struct ByteStringDeleter {
    void operator()(ByteString* s) const { ByteString_free(s); }
};
using ByteStringPtr = std::unique_ptr<ByteString, ByteStringDeleter>;

inline ByteStringPtr makeByteString(std::string_view text) {
    ByteStringPtr s(ByteString_create(static_cast<int32_t>(text.size())));
    ByteString_appendBytes(s.get(), text.data(), static_cast<int32_t>(text.size()));
    return s;
}

inline std::string_view ByteString_view(const ByteString* s) {
    if (s == nullptr) return {};
    return {reinterpret_cast<const char*>(s->data), static_cast<size_t>(s->length)};
}

inline std::string ByteString_str(const ByteString* s) {
    return std::string(ByteString_view(s));
}
