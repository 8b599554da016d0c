#include <zlib.h>

#include <algorithm>

#include "core/byte_string.h"
#include "package/package_section.h"

namespace {

constexpr int64_t kDeflateMaxRatio = 1032;

}  // namespace

int64_t PackageSection_announcedLength(const ByteString* block) {
    if (block == nullptr || block->length < kInflatePrefixLength) return 0;
    const uint8_t* prefix = block->data;
    int32_t i = 0;
    while (i < kInflatePrefixLength && prefix[i] == '0') ++i;
    int64_t value = 0;
    // Saturates, so that a long run of nines cannot wrap around.
    for (; i < kInflatePrefixLength && prefix[i] >= '0' && prefix[i] <= '9'; ++i) {
        value = value * 10 + (prefix[i] - '0');
        if (value > kPackageDataLimit) return kPackageDataLimit + 1;
    }
    return value;
}

ByteString* PackageSection_inflate(const ByteString* block) {
    if (block == nullptr || block->length < kInflatePrefixLength) return ByteString_create(0);
    int64_t length = PackageSection_announcedLength(block);
    if (length > kPackageDataLimit) return ByteString_create(0);

    // Deflate expands at most 1032 to 1: a longer announcement cannot be filled, and only
    // asks for memory (a kilobyte block announcing 32 MiB).
    const int64_t compressed = block->length - kInflatePrefixLength;
    length = std::min<int64_t>(length, compressed * kDeflateMaxRatio + kDeflateMaxRatio);

    ByteStringPtr result(ByteString_create(static_cast<int32_t>(length)));
    uLongf produced = static_cast<uLongf>(length);
    int rc = uncompress(result->data, &produced, block->data + kInflatePrefixLength,
                        static_cast<uLong>(compressed));
    // A failed block keeps nothing of the buffer its announced length asked for.
    if (rc != Z_OK) return ByteString_create(0);
    result->length = static_cast<int32_t>(produced);
    result->data[result->length] = 0;
    return result.release();
}
