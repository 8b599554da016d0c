#include "workflows/stored_directory.h"

#include "core/byte_string.h"

int32_t StoredDirectory::fileCount() const {
    if (bytes_.size() < 6) return 0;
    return bytes_[4] | (bytes_[5] << 8);
}

bool StoredDirectory::readThrough(int32_t g) {
    if (g < 0 || g >= fileCount()) return false;
    while (8 + 4 * static_cast<size_t>(g) + 4 > bytes_.size()) {
        if (!readNextBlock()) return false;
    }
    return true;
}

// Entry g lies at bytes 8 + 4g to 11 + 4g; its byte 0 is not used.
int32_t StoredDirectory::firstBlock(int32_t g) const {
    const size_t at = 8 + 4 * static_cast<size_t>(g);
    if (g < 0 || at + 4 > bytes_.size()) return -1;
    const uint32_t v = bytes_[at + 1] | (bytes_[at + 2] << 8) | (bytes_[at + 3] << 16);
    return static_cast<int32_t>(v >> 1);
}

// A reply without a whole block ("HI" carries none) is no block.
bool StoredDirectory::readNextBlock() {
    ByteStringPtr reply(ByteString_create(kStoredDirectoryBlockSize + 1));
    if (!read_(blocks_, reply.get()) || reply->length < kStoredDirectoryBlockSize) return false;
    bytes_.insert(bytes_.end(), reply->data, reply->data + kStoredDirectoryBlockSize);
    ++blocks_;
    return true;
}
