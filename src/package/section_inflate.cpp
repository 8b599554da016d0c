#include <zlib.h>

#include "core/byte_string.h"
#include "package/package_section.h"

namespace {

// The announced length, or more than kInflateMaxLength when it is absurd. Digits stop at the
// first byte that is not one; the value saturates so a long run of nines cannot wrap around.
uint64_t announcedLength(const uint8_t* prefix) {
    int32_t i = 0;
    while (i < kInflatePrefixLength && prefix[i] == '0') ++i;
    uint64_t value = 0;
    for (; i < kInflatePrefixLength && prefix[i] >= '0' && prefix[i] <= '9'; ++i) {
        value = value * 10 + static_cast<uint64_t>(prefix[i] - '0');
        if (value > kInflateMaxLength) return kInflateMaxLength + 1;
    }
    return value;
}

}  // namespace

ByteString* PackageSection_inflate(const ByteString* block) {
    if (block == nullptr || block->length < kInflatePrefixLength) return ByteString_create(0);
    uint64_t length = announcedLength(block->data);
    if (length > kInflateMaxLength) return ByteString_create(0);

    ByteString* result = ByteString_create(static_cast<int32_t>(length));
    uLongf produced = static_cast<uLongf>(length);
    int rc = uncompress(result->data, &produced, block->data + kInflatePrefixLength,
                        static_cast<uLong>(block->length - kInflatePrefixLength));
    if (rc != Z_OK) produced = 0;
    result->length = static_cast<int32_t>(produced);
    result->data[result->length] = 0;
    return result;
}
