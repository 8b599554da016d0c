#include "core/crc32.h"

#include <zlib.h>

#include "core/byte_string.h"

uint32_t checksumCrc32(const ByteString* bytes) {
    uLong crc = crc32(0L, Z_NULL, 0);
    if (bytes != nullptr && bytes->length > 0) {
        crc = crc32(crc, bytes->data, static_cast<uInt>(bytes->length));
    }
    return static_cast<uint32_t>(crc);
}
