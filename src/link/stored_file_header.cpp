#include "link/stored_file_header.h"

#include "link/tool_protocol.h"

namespace {

constexpr int32_t kHeaderBytes = 43;  // through the last byte of the second text

int32_t readLittle32(const uint8_t* b) {
    return static_cast<int32_t>(static_cast<uint32_t>(b[0]) | (static_cast<uint32_t>(b[1]) << 8) |
                                (static_cast<uint32_t>(b[2]) << 16) |
                                (static_cast<uint32_t>(b[3]) << 24));
}

}  // namespace

int StoredFileHeader_read(const ByteString* block, StoredFileHeader* header) {
    if (block == nullptr || header == nullptr || block->length < kHeaderBytes) return 0;
    const uint8_t* b = block->data;
    const int32_t size = readLittle32(b + 2);
    if (size <= 0 || size > tool::kMaxStoredFileSize) return 0;
    int32_t length = 0;
    while (length < 18 && b[25 + length] != 0) ++length;
    header->size = size;
    header->number = b[6] | (b[7] << 8);
    header->text1.reset(ByteString_substring(block, 8, 17));
    header->text2.reset(ByteString_substring(block, 25, length));
    return 1;
}
