// The first 512-byte block of a file stored in the tool: its size, a number and two texts
// that go to the server unchanged.
#pragma once

#include <cstdint>

#include "core/byte_string.h"

struct StoredFileHeader {
    int32_t size = 0;  // bytes, counted from the start of the header block
    int32_t number = 0;
    ByteStringPtr text1;  // 17 bytes as stored
    ByteStringPtr text2;  // up to 18 bytes, ended by the first zero byte
};

// 1 when `block` holds a header whose size lies within 1 and the largest stored file, else 0
// (`header` is then left as it was).
int StoredFileHeader_read(const ByteString* block, StoredFileHeader* header);
